// What the subcommands share: exit statuses, messages, the case the options
// make, the output files asked for (a JSON result's build stamp: session/version.h).
#ifndef UREA_WORKBENCH_CLI_COMMON_H
#define UREA_WORKBENCH_CLI_COMMON_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/workbench.h"
#include "cli/options.h"
#include "io/output_files.h"

namespace workbench::cli {

inline constexpr int exit_ok = 0;
inline constexpr int exit_solver = 1;  // no solution (or an output that could not be drawn)
inline constexpr int exit_input = 2;   // bad input
inline constexpr int exit_bug = 3;     // an internal error: a bug of the workbench

// Each warning on stderr, one line each.
void warn(const std::vector<std::string>& warnings);

// Each note on stderr, one line each: what the user may want to know,
// nothing amiss.
void note(const std::vector<std::string>& notes);

// The case: the built-in one or the case file, then the command line's
// changes, checked (validate); its warnings appended to `warnings`, the case
// file's text as read to `case_text`. Throws input_error naming the option
// (or the case file's key).
reactor_case case_of(const invocation& in, std::vector<std::string>* warnings = nullptr,
                     std::string* case_text = nullptr);

// The plug-in the options name, or the default one.
std::string plugin_path_of(const invocation& in);

// The outputs asked for (--csv, --plot; "-" for standard output), checked
// before anything runs: each writable, none the same file as an input
// (the case file, the runs file, the plug-in) or as another, at most one
// on standard output (--json counts as one).
struct output_request {
    std::optional<output_target> csv, plot;
    // estimate's: --region-plot, --write-case, --report.
    std::optional<output_target> region_plot, written_case, report;
    bool json = false;
    output_request(const invocation& in, const std::vector<std::pair<std::string, std::string>>& inputs);
    // Whether the table (or JSON) goes to standard output: when no file does.
    bool print() const {
        for (const auto* o : {&csv, &plot, &region_plot, &written_case, &report}) {
            if (*o && (*o)->to_stdout) return false;
        }
        return true;
    }
};

// A map's file (--map): checked as a plot's, and never standard output;
// `named` is the option as given before the file ("--map", "--map
// co2_conversion"), for the message.
output_target map_target(const std::string& named, const std::string& path);

// Throws plot_error naming the option when gnuplot is not installed.
void require_gnuplot(const std::string& option);

// The inputs an output must not replace: the case file and the plug-in.
std::vector<std::pair<std::string, std::string>> inputs_of(const invocation& in);

// The bands --estimate EST.json [--band profile|linearised] ask for, or
// none. Throws input_error for --band without --estimate, --a1 or --a2 with
// it (the estimate sets them), and an estimate file that is no estimate.
std::optional<band_plan> bands_of(const invocation& in);

// The workers --jobs, --worker-timeout and --quiet ask for (default: as
// many as the cores this process may use), with the progress line on the
// terminal. Throws input_error naming the option.
worker_options workers_of(const invocation& in);

// Reports each plot that could not be drawn in one line (after the
// results); the exit status: `status`, or exit_solver when a plot failed.
int finish(const staged_outputs& files, int status);

// The subcommands: each returns the exit status.
int run_command(const invocation& in);
int fit_command(const invocation& in);
int check_command(const invocation& in);
int estimate_command(const invocation& in);
int sweep_command(const invocation& in);
int study_command(const invocation& in);
int design_command(const invocation& in);

}  // namespace workbench::cli

#endif
