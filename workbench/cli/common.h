// What the subcommands share: exit statuses, warnings and notes on stderr,
// and the options translated into a request's parts (request/common.h): the
// library checks them; the command line only translates and writes.
#ifndef UREA_WORKBENCH_CLI_COMMON_H
#define UREA_WORKBENCH_CLI_COMMON_H

#include <optional>
#include <string>
#include <vector>

#include "api/workbench.h"
#include "cli/options.h"
#include "cli/outputs.h"
#include "cli/words.h"
#include "io/output_files.h"
#include "report/monitor_report.h"

namespace workbench::cli {

inline constexpr int exit_ok = 0;
inline constexpr int exit_solver = 1;  // no solution (or an output that could not be drawn)
inline constexpr int exit_input = 2;   // bad input
inline constexpr int exit_bug = 3;     // an internal error: a bug of the workbench
inline constexpr int exit_busy = 4;    // watch: the store held by another watcher

// --quiet: no warnings, notes or summaries on stderr (errors still).
void set_quiet(bool quiet);
bool quiet();

// A warning on stderr, a line, in the command line's words; and each of
// several.
void warn(const message& warning);
void warn(const std::vector<std::string>& warnings);

// A note on stderr, a line: what the user may want to know, nothing amiss;
// and each of several.
void note(const message& note);
void note(const std::vector<std::string>& notes);
void note(const std::vector<message>& notes);

// Warnings and notes on stderr as the library finds them.
notices on_stderr();

// The options as a request's parts.
std::optional<std::string> text_of(const invocation& in, const std::string& option);
std::vector<given_value> values_of(const invocation& in, const std::string& option);
case_request case_of(const invocation& in);
estimate_given estimate_of(const invocation& in);
workers_request workers_of(const invocation& in);

// A session of the plug-in with the workers checked, the progress line on
// the terminal unless --quiet.
void set_workers(session& s, worker_options workers, const invocation& in);

// A warning that the options given, but those in `used`, take no effect,
// after `unused` (what else takes none): `what` says why ("--version
// prints the versions only"). None when every option given is used.
void warn_unused(const invocation& in, const std::vector<std::string>& used, const std::string& what,
                 std::string unused = "");

// Reports each plot that could not be drawn in one line (after the
// results); the exit status: `status`, or exit_solver when a plot failed.
int finish(const staged_outputs& files, int status);

// A monitor's --csv, --plot and --report staged (monitor's and watch's):
// the page told the build it was made with.
void stage_monitor_files(staged_outputs& files, const checked_outputs& out, const monitor_report& report,
                         const build_info& build, monitor_html_context page);

// The subcommands: each returns the exit status.
int run_command(const invocation& in);
int fit_command(const invocation& in);
int check_command(const invocation& in);
int estimate_command(const invocation& in);
int sweep_command(const invocation& in);
int study_command(const invocation& in);
int design_command(const invocation& in);
int monitor_command(const invocation& in);
int quantities_command(const invocation& in);
int watch_command(const invocation& in);
int serve_command(const invocation& in);

}  // namespace workbench::cli

#endif
