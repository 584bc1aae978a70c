// `study`: the reactor over a grid of case quantities or a case table, any
// results by name. `sweep`: a study of one or two quantities with the
// results `sweep` has always given.
#ifndef UREA_WORKBENCH_REQUEST_STUDY_H
#define UREA_WORKBENCH_REQUEST_STUDY_H

#include "analysis/sweep.h"
#include "request/estimate.h"

namespace workbench {

struct study_request {
    case_request case_;
    std::string plugin;
    std::vector<given_value> vary;           // a grid: "NAME=FROM:TO:N", "NAME=V1,V2,..."
    std::optional<std::string> cases;        // or a case table's path,
    std::optional<table_given> cases_table;  // or a table in memory
    std::vector<given_value> results;        // names; a text may list several, comma-separated (none: the default ones)
    estimate_given estimate;                 // bands from it
    std::optional<std::string> band;
    std::vector<std::string> maps;           // results drawn as maps (added to the results when not among them)
    workers_request workers;
};

struct study_job {
    study_plan plan;
    std::string plugin;
    worker_options workers;
    std::vector<input_file> inputs;          // as read
};

// Checks everything in the command line's order: the results, the choice of
// grid or table, the bands, the case, the plan (every point's case), each
// map's axes; warnings and notes to `n`. Throws input_error.
study_job check_study(const study_request& r, const notices& n);
input_list inputs_of(const study_request& r);

struct sweep_request {
    case_request case_;
    std::string plugin;
    std::vector<given_value> vary;           // one or two
    estimate_given estimate;
    std::optional<std::string> band;
    workers_request workers;
};

struct sweep_job {
    sweep_plan plan;                         // with bands: plan.study has them
    std::string plugin;
    worker_options workers;
    std::vector<input_file> inputs;
};

sweep_job check_sweep(const sweep_request& r, const notices& n);
input_list inputs_of(const sweep_request& r);

// The results asked for by name (each text may list several,
// comma-separated), each once; the default ones for none; then each map's
// result, added when not among them. Throws input_error.
std::vector<result_quantity> results_of(const std::vector<given_value>& names, const std::vector<std::string>& maps);

}  // namespace workbench

#endif
