// A monitor's results as an engineer reads them: the table of windows
// (rows, lab samples, steadiness, the balance test and its suspect, a2 with
// its 95 % profile interval, the conversions and the approach to
// equilibrium), the drifts of a2 and the screening; as JSON, as CSV (one row
// per window), as gnuplot commands (a2 with its band and the drifts, the
// conversions, the balance test over time) and as one self-contained HTML
// page.
#ifndef UREA_WORKBENCH_REPORT_MONITOR_REPORT_H
#define UREA_WORKBENCH_REPORT_MONITOR_REPORT_H

#include <optional>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/monitor.h"
#include "io/output_files.h"
#include "report/figure.h"
#include "report/table.h"
#include "session/version.h"

namespace workbench {

// A monitor's problem and result, and the words its messages are said in
// (the client's, base/words.h; a store's own: the neutral ones).
struct monitor_report {
    const monitor_problem* problem = nullptr;
    const monitor_result* result = nullptr;
    const vocabulary& words;
};

void print_monitor(std::ostream& out, const monitor_report& r);

// The whole monitor: history, options, a1, screening, windows, drifts,
// summary, the base case and the build.
nlohmann::ordered_json monitor_json(const monitor_report& r, const build_info& build);

// The windows, a row each: start,end (times),rows,lab_samples,steady,
// fitted,flags (separated by ';'),reason,balance_p_value,balance_chi_square,
// balance_suspect,balance_suspect_error,a2,a2_profile95_lower,
// a2_profile95_upper,co2_conversion_measured,co2_conversion_predicted,
// co2_conversion_equilibrium,approach; the CSV is written from it.
table monitor_table(const monitor_report& r);
std::string monitor_csv(const monitor_report& r);

// Three panels over time: a2 per window with its 95 % profile interval and
// each drift marked with its ratio; the conversion measured, predicted and
// at equilibrium; the balance test's p-value with its threshold, the
// windows that failed it marked.
// The same as a figure, which the script and Python's plot() draw; a window
// not fitted or not steady breaks the conversion's lines.
figure monitor_figure(const monitor_report& r);
std::string monitor_plot_script(const monitor_report& r);

struct monitor_html_context {
    std::string workbench, plugin, plugin_file;
    std::string case_file, case_sha256;  // case_file empty: the built-in case
    std::string options;                 // as given
    std::optional<std::string> plot_svg;
};

std::string monitor_html(const monitor_report& r, const monitor_html_context& c);

// The page staged as `target`, its plot drawn first (one that cannot be drawn
// is left out, and the page says so).
void add_monitor_html(staged_outputs& files, const output_target& target, const monitor_report& r,
                      monitor_html_context c);

}  // namespace workbench

#endif
