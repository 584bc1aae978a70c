// What the subcommands share: exit statuses, messages, the case the options
// make, the output files asked for, and the build stamp of a JSON result.
#ifndef UREA_WORKBENCH_CLI_COMMON_H
#define UREA_WORKBENCH_CLI_COMMON_H

#include <string>
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

// The case: the built-in one or the case file, then the command line's
// changes. Throws input_error naming the option.
reactor_case case_of(const invocation& in);

// The plug-in the options name, or the default one.
std::string plugin_path_of(const invocation& in);

// The output files asked for (--csv, --plot), checked before anything runs
// and written, all or none, when it succeeded.
struct output_request {
    std::string csv, plot;
    explicit output_request(const invocation& in) : csv(in.text("--csv")), plot(in.text("--plot")) {}
    void check() const;
};

// {"urea_reactor": ..., "plugin": ..., "plugin_file": ...}
nlohmann::ordered_json build_json(const std::string& plugin_path);

// The subcommands: each returns the exit status.
int run_command(const invocation& in);
int fit_command(const invocation& in);
int check_command(const invocation& in);
int estimate_command(const invocation& in);
int sweep_command(const invocation& in);

}  // namespace workbench::cli

#endif
