// Output files: every path checked before anything runs, every file written
// only when the run succeeded, each to a temporary file in its own folder,
// synced to disk and renamed into place, so that a file is either whole and
// new or not touched. No text of the user's reaches gnuplot: it writes to a
// temporary name we choose, in the target folder as its working folder.
#ifndef UREA_WORKBENCH_IO_OUTPUT_FILES_H
#define UREA_WORKBENCH_IO_OUTPUT_FILES_H

#include <stdexcept>
#include <string>
#include <vector>

namespace workbench {

// A plot that could not be drawn (gnuplot missing or failing).
class plot_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class output_kind { text, plot };

// Throws input_error, naming the option and the path, when the file cannot
// be written there: no such folder, not a folder, not writable, the path is
// a folder, or (plot) the name does not end in .svg or .png.
void check_output_path(const std::string& option, const std::string& path, output_kind kind);

// Whether gnuplot can be started.
bool gnuplot_available();

class staged_outputs {
public:
    staged_outputs() = default;
    ~staged_outputs();  // removes whatever was not committed
    staged_outputs(const staged_outputs&) = delete;
    staged_outputs& operator=(const staged_outputs&) = delete;

    // Writes content to a temporary file beside path and syncs it; throws
    // input_error naming the path when it cannot.
    void add_text(const std::string& path, const std::string& content);

    // Runs gnuplot on the script (no terminal, no output: those are set
    // here) to draw into a temporary file beside path (.svg or .png);
    // throws plot_error when gnuplot fails.
    void add_plot(const std::string& path, const std::string& script);

    // Renames every temporary file into place and syncs the folders.
    void commit();

private:
    struct staged {
        std::string temporary;
        std::string path;
    };
    std::vector<staged> staged_;
};

}  // namespace workbench

#endif
