// `estimate`: a1 and a2 tuned against plant test runs. `design`: the next
// test run, ranked by how much it would shrink their uncertainty.
#ifndef UREA_WORKBENCH_REQUEST_ESTIMATE_H
#define UREA_WORKBENCH_REQUEST_ESTIMATE_H

#include <array>
#include <cstddef>

#include "analysis/design.h"
#include "analysis/runs_model.h"
#include "io/runs_columns.h"
#include "report/html_report.h"
#include "session/version.h"
#include "request/common.h"

namespace workbench {

// A table given in memory (a data frame, a list of records): its header and
// its columns, each its cells as the text a CSV file would hold or (a column
// of numbers) the numbers themselves; `name` stands for the file in messages.
struct table_given {
    std::vector<std::string> header;
    std::vector<table_column> columns;
    std::string name = "<table>";
};

// Runs: a runs file's path, or a table.
struct runs_given {
    std::string file;
    std::optional<table_given> table;
};

struct estimate_request {
    runs_given runs;
    case_request case_;
    std::string plugin;
    std::vector<given_value> fix;         // "a1=VALUE", "a2=VALUE"
    std::optional<std::string> loss;      // none, huber, cauchy
    std::optional<given_number> bootstrap;  // resamples
    std::optional<given_number> seed;
    workers_request workers;
};

struct estimate_job {
    estimate_problem problem;
    std::string runs_sha256;              // of the runs file's bytes; empty for a table
    std::string case_file;                // empty: no case file
    std::string case_text;                // the case file as read
    std::string plugin;
    worker_options workers;
    std::vector<input_file> inputs;       // as read
};

// Checks everything in the command line's order: which file is which, the
// held factors, the loss, the bootstrap and its seed, the base case, the
// start (its a1 and a2), the runs (read once: the bytes estimated from are
// the bytes hashed), the runs' cases. Warnings to `n` as they arise. Throws
// input_error.
estimate_job check_estimate(const estimate_request& r, const notices& n);
input_list inputs_of(const estimate_request& r);

// The HTML report's context for an estimate: the builds, and the inputs
// with their SHA-256 as they were read (options, the tuned case's file and
// the words are the caller's to add).
html_context html_context_of(const estimate_job& j, const build_info& build);

struct design_request {
    runs_given runs;
    case_request case_;
    std::string plugin;
    std::vector<given_value> vary;        // the candidates: a grid,
    std::optional<std::string> cases;     // or a case table's path,
    std::optional<table_given> cases_table;  // or a table in memory
    estimate_given estimate;              // none: estimated here
    std::vector<given_value> fix;
    std::vector<given_value> measure;     // names (or "all"), each text may list several, comma-separated
    std::optional<std::string> for_factor;
    std::optional<given_number> top;
    bool map = false;                     // the candidates drawn as a map (a grid of two varied settings)
    workers_request workers;
};

struct design_job {
    design_problem problem;
    std::size_t top = 10;
    std::string plugin;
    worker_options workers;
    std::vector<input_file> inputs;
};

design_job check_design(const design_request& r, const notices& n);
input_list inputs_of(const design_request& r);

// A study's (or a design's) candidates: a grid of the variables as given, or
// a case table. Checks the choice (one of them), the variables against the
// case's settings, the plan; warnings and notes to `n`.
study_plan plan_of(const std::vector<given_value>& vary, const std::optional<std::string>& cases,
                   const std::optional<table_given>& cases_table, const case_request& case_, const reactor_case& base,
                   std::vector<result_quantity> results, std::vector<input_file>& read);

}  // namespace workbench

#endif
