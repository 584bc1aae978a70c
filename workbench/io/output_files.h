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

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace workbench {

// A plot that could not be drawn (gnuplot missing, failing or too slow).
class plot_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class output_kind { text, plot };

// An output as checked: standard output, or the regular file to write.
struct output_target {
    std::string option;      // "--csv", for messages
    std::string given;       // as the user wrote it
    bool to_stdout = false;  // "-"
    std::string path;        // the file written: the target of a symlink
};

// Throws input_error, naming the option and the path, when the file cannot
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

    // The script drawn by gnuplot as SVG text, at `size` ("900,720"), with
    // a temporary file beside `beside`'s target (removed at once); nullopt
    // when it cannot be drawn, listed in failures() as `what` ("the
    // report's parity plot").
    std::optional<std::string> svg_of(const output_target& beside, const std::string& script, const std::string& what,
                                      const std::string& size = "900,720");

    // Renames every temporary file into place and syncs the folders;
    // writes what goes to standard output.
    void commit();

    // The plots that could not be drawn, one line each.
    const std::vector<std::string>& failures() const { return failures_; }

private:
    struct staged {
        std::string temporary;  // empty: standard output
        output_target target;
        std::string content;    // standard output's
    };
    std::vector<staged> staged_;
    std::vector<std::string> failures_;
};

// Removes every temporary file of every staged_outputs now: only
// async-signal-safe calls, for a signal handler.
void remove_temporaries();

// The gnuplot child being waited for (0: none), for a signal handler to end.
int gnuplot_child();

}  // namespace workbench

#endif
