// The estimate's results as an engineer reads them: a table of runs
// (measured, predicted, standardised residual, outlier flag), the rate
// factors with their 95 % intervals, the fit's quality and a verdict in plain
// words; as JSON, as CSV (one row per run and measurement) and as a parity
// plot's gnuplot commands.
#ifndef UREA_WORKBENCH_REPORT_ESTIMATE_REPORT_H
#define UREA_WORKBENCH_REPORT_ESTIMATE_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/estimate.h"
#include "io/runs_file.h"

namespace workbench {

struct estimate_report {
    const runs_file* runs = nullptr;       // the runs, in the order estimated
    const estimate_options* options = nullptr;
    const estimate_result* result = nullptr;
    long reactor_solves = 0;               // every solve of a run, the first check's included
    // By run: the highest conversion the model can reach (NaN: not known);
    // may be null.
    const std::vector<double>* reachable = nullptr;
};

// Whether a measured conversion lies above what the model can reach at its
// run's conditions, by more than 3 stated standard deviations: impossible
// for the model, whatever the rate factors, rather than an outlier.
bool impossible_for_model(const estimate_report& r, const residual_row& row);

// The verdict in plain words, one sentence a line: what is determined and
// how well, what is not and what to do about it (--fix), whether the scatter
// matches the stated standard deviations, the possible outliers.
std::vector<std::string> verdict_lines(const estimate_report& r);

void print_estimate(std::ostream& out, const estimate_report& r);
nlohmann::ordered_json estimate_json(const estimate_report& r);

// run,line,measurement,measured,sigma,sigma_given,predicted,residual,outlier
std::string estimate_csv(const estimate_report& r);

// Measured against predicted for every measurement, each kind with its own
// marker, the line y = x and the possible outliers ringed. Numbers and our
// own labels only: no run name or other text from the runs file.
std::string parity_plot_script(const estimate_report& r);

}  // namespace workbench

#endif
