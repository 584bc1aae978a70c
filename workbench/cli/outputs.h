// The command line's output files (--csv, --plot, --region-plot,
// --write-case, --report, --map, --json): asked for by the options and
// checked before the work runs, each writable and none an input. Only the
// command line writes files this way and draws with gnuplot; the library's
// requests (request/*.h) know nothing of them.
#ifndef UREA_WORKBENCH_CLI_OUTPUTS_H
#define UREA_WORKBENCH_CLI_OUTPUTS_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"
#include "io/output_files.h"
#include "request/common.h"

namespace workbench::cli {

// The output files asked for ("-": standard output).
struct outputs_request {
    std::optional<std::string> csv, plot, region_plot, write_case, report;
    std::optional<std::string> map;                          // a design's map
    std::vector<std::pair<std::string, std::string>> maps;   // a study's: each result and its file
    bool json = false;
};

outputs_request outputs_of(const invocation& in);

struct checked_outputs {
    std::optional<output_target> csv, plot, region_plot, written_case, report, map;
    std::vector<std::pair<std::string, output_target>> maps;  // a study's: each result and its target
    bool json = false;
    // Whether the table (or the JSON) goes to standard output: when no file does.
    bool print() const;
};

// The outputs: each writable, none the same file as an input (`inputs`: the
// files the request reads, the plug-in, the program) or another output, at
// most one on standard output (the JSON counts as one), gnuplot there for a
// plot, and a study's maps (or a design's map) each a file. Throws
// input_error, or plot_error when gnuplot is missing.
checked_outputs check_outputs(const outputs_request& r, const input_list& inputs);

// Throws plot_error about the option when gnuplot is not installed.
void require_gnuplot(const std::string& field);

}  // namespace workbench::cli

#endif
