// `monitor`: a plant's history followed window by window: a2, the approach to
// equilibrium, the meters against the lab, and where a2 changed.
#ifndef UREA_WORKBENCH_REQUEST_MONITOR_H
#define UREA_WORKBENCH_REQUEST_MONITOR_H

#include "analysis/monitor.h"
#include "io/history_file.h"
#include "request/estimate.h"

namespace workbench {

struct monitor_request {
    runs_given history;                      // a history file's path, or a table in memory
    bool sort = false;                       // times out of order sorted, not refused
    case_request case_;
    std::string plugin;
    std::optional<given_number> window, step, frozen;  // durations: "24h", "8h", "7d"
    std::vector<given_value> fix;            // "a1=VALUE"
    std::vector<given_value> meter_sigma;    // "NAME=PERCENT"
    workers_request workers;
};

struct monitor_job {
    monitor_problem problem;
    std::string case_file, case_text;
    std::string plugin;
    std::vector<input_file> inputs;
    worker_options workers;
};

// Checks everything in the command line's order: the durations, the held
// a1, the meters' uncertainties, the case, then the history (read once,
// streamed), the problem and the workers. Throws input_error.
monitor_job check_monitor(const monitor_request& r, const notices& n);
input_list inputs_of(const monitor_request& r);

// The monitor's options alone (durations, the held a1, the meters'
// uncertainties), as check_monitor checks them. Throws input_error.
monitor_options check_monitor_options(const monitor_request& r);

}  // namespace workbench

#endif
