// Output files: every path checked before anything runs, every file written
// only when the run succeeded, each to a temporary file in its target's
// folder, synced to disk and renamed into place, so that a file is either
// whole and new or not touched.
//
// Only regular files are written: through a symlink to its target (the link
// kept); a folder, device, FIFO or socket is refused, and so is an output
// that is the same file as an input or as another output, however spelt
// (./x and x, a symlink, a hard link). "-" is standard output.
//
// No text of the user's reaches gnuplot: it writes to a temporary name we
// choose, in the target folder as its working folder, within a time limit.
// The temporary files are known to remove_temporaries(), which a signal
// handler may call.
#ifndef UREA_WORKBENCH_IO_OUTPUT_FILES_H
#define UREA_WORKBENCH_IO_OUTPUT_FILES_H

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "base/words.h"

namespace workbench {

// A plot that could not be drawn (gnuplot missing, failing or too slow).
class plot_error : public std::runtime_error {
public:
    explicit plot_error(const workbench::message& m) : std::runtime_error(neutral_words(m)), message_(m) {}
    // The message, its mentions of fields for each client to say.
    const workbench::message& message() const { return message_; }

private:
    workbench::message message_;
};

enum class output_kind { text, plot };

// An output as checked: standard output, or the regular file to write.
struct output_target {
    std::string option;      // the field it was given as ("csv"), for messages
    std::string given;       // as the user wrote it
    bool to_stdout = false;  // "-"
    std::string path;        // the file written: the target of a symlink
};

// Throws input_error, naming the field and the path, when the file cannot
// be written there: an empty name, no such folder, not a folder, not
// writable, a folder, device, FIFO or socket at the path, or (plot) a name
// that does not end in .svg or .png.
output_target check_output_path(const std::string& option, const std::string& path, output_kind kind);

// Throws input_error when two outputs are the same file, or an output is the
// same file as an input (what, path: "the case file", "case.json"), or more
// than one output goes to standard output.
void check_distinct(const std::vector<output_target>& outputs,
                    const std::vector<std::pair<std::string, std::string>>& inputs);

// Whether gnuplot can be started.
bool gnuplot_available();

// The longest gnuplot may take to draw one plot, in seconds.
inline constexpr double gnuplot_time_limit_s = 120.0;

// An anonymous temporary file (tmpfile: it has no name, so nothing is left
// behind however the process ends), written as an ostream and read back
// once written: what a study writes row by row before it is known to be
// whole (a table for standard output, a plot's data).
class spool {
public:
    spool();  // throws input_error when no temporary file can be made
    ~spool();
    spool(const spool&) = delete;
    spool& operator=(const spool&) = delete;

    std::ostream& out() { return out_; }
    // Everything written, in chunks, to `write` (which returns false to
    // stop); false on a read error or when `write` stopped.
    template <class Write>
    bool each_chunk(Write&& write);
    // Copies everything written to f; false on an error.
    bool copy_to(std::FILE* f);

private:
    class buffer : public std::streambuf {
    public:
        explicit buffer(std::FILE* f) : f_(f) { setp(data_, data_ + sizeof data_); }
        bool failed() const { return failed_; }

    protected:
        int_type overflow(int_type ch) override;
        int sync() override;

    private:
        std::FILE* f_;
        bool failed_ = false;
        char data_[1 << 16];
    };
    std::FILE* f_;
    buffer buf_;
    std::ostream out_;
};

class staged_outputs {
public:
    staged_outputs() = default;
    ~staged_outputs();  // removes whatever was not committed
    staged_outputs(const staged_outputs&) = delete;
    staged_outputs& operator=(const staged_outputs&) = delete;

    // Writes content to a temporary file beside the target and syncs it
    // (standard output: keeps it for commit); throws input_error naming
    // the path when it cannot.
    void add_text(const output_target& target, const std::string& content);

    // Runs gnuplot on the script (no terminal, no output: those are set
    // here) to draw into a temporary file beside the target (.svg or
    // .png). A plot that cannot be drawn is not thrown: it is dropped and
    // listed in failures(), so that the other outputs are still written.
    void add_plot(const output_target& target, const std::string& script);

    // A text written as it is made (a study's rows): to a temporary file
    // beside the target (standard output: to a spool), put in place by
    // commit() as add_text's.
    std::ostream& open_text(const output_target& target);

    // add_plot with the script in a spool.
    void add_plot(const output_target& target, spool& script);

    // The script drawn by gnuplot as SVG text, at `size` ("900,720"), with
    // a temporary file beside `beside`'s target (removed at once); nullopt
    // when it cannot be drawn, listed in failures() as `what` ("the
    // report's parity plot").
    std::optional<std::string> svg_of(const output_target& beside, const std::string& script, const std::string& what,
                                      const std::string& size = "900,720");

    // Renames every temporary file into place and syncs the folders;
    // writes what goes to standard output. Throws input_error, with nothing
    // renamed, when a text opened with open_text could not be written.
    void commit();

    // The plots that could not be drawn, one line each.
    const std::vector<std::string>& failures() const { return failures_; }

private:
    struct staged {
        std::string temporary;  // empty: standard output
        output_target target;
        std::string content;    // standard output's
        std::unique_ptr<std::ofstream> file{};  // open_text's, to the temporary
        std::unique_ptr<spool> spooled{};       // open_text's, for standard output
    };
    // Runs gnuplot with the script that write_script writes to its pipe.
    template <class WriteScript>
    void draw(const output_target& target, WriteScript&& write_script);
    std::vector<staged> staged_;
    std::vector<std::string> failures_;
};

template <class Write>
bool spool::each_chunk(Write&& write) {
    out_.flush();
    if (buf_.failed() || std::fflush(f_) != 0) return false;
    std::rewind(f_);
    char chunk[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f_)) > 0) {
        if (!write(chunk, n)) return false;
    }
    const bool ok = !std::ferror(f_);
    std::fseek(f_, 0, SEEK_END);
    return ok;
}

// Removes every temporary file of every staged_outputs now: only
// async-signal-safe calls, for a signal handler.
void remove_temporaries();

// The gnuplot child being waited for (0: none), for a signal handler to end.
int gnuplot_child();

}  // namespace workbench

#endif
