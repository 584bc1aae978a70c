// The estimate's results as an engineer reads them: a table of runs
// (measured, predicted, standardised residual, outlier flag), the rate
// factors with their 95 % intervals of every kind (profile likelihood,
// linearised, bootstrap), each run left out, the fit's quality, a verdict in
// plain words and the tuned case; as JSON, as CSV (one row per run and
// measurement) and as gnuplot commands for the parity plot and the region.
#ifndef UREA_WORKBENCH_REPORT_ESTIMATE_REPORT_H
#define UREA_WORKBENCH_REPORT_ESTIMATE_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/estimate.h"
#include "analysis/runs_model.h"
#include "analysis/uncertainty.h"
#include "io/runs_file.h"
#include "report/figure.h"
#include "report/table.h"

namespace workbench {

struct estimate_report {
    const runs_file* runs = nullptr;       // the runs, in the order estimated
    const estimate_options* options = nullptr;
    const estimate_result* result = nullptr;
    long reactor_solves = 0;               // every solve of a run, the first check's included
    // By run: the highest conversion the model can reach (NaN: not known);
    // may be null.
    const std::vector<double>* reachable = nullptr;
    // Each may be null (or not computed): then the report leaves it out.
    const likelihood_region* region = nullptr;
    const leave_one_out_result* leave_one_out = nullptr;
    const bootstrap_result* bootstrap = nullptr;
    const tuned_case* tuned = nullptr;
};

// The report of an estimate's whole outcome.
estimate_report report_of(const estimate_outcome& e);

// Whether a measured conversion lies above what the model can reach at its
// run's conditions, by more than 3 stated standard deviations: impossible
// for the model, whatever the rate factors, rather than an outlier.
bool impossible_for_model(const estimate_report& r, const residual_row& row);

// How far leaving run x out moves factor k towards its 95 % profile
// bound on the side it moves to, in ln a: 0 not at all, 1 to the bound,
// more beyond it; NaN where that side is open, or without a profile.
double share_of_interval(const parameter_estimate& p, const left_out_run& x, std::size_t k);

// A factor's profile interval for a table, short: "0.1558 .. 0.2063", "at
// least 0.5", "no bound", "(in pieces)" added; "-" when held.
std::string profile_cell(const parameter_estimate& p);

// A factor's linearised interval for a table, "0.1557 .. 0.1634" ("(other
// held)" when conditional), or where it means nothing, why not (see
// linearised_caveat).
std::string linearised_cell(const parameter_estimate& p);

// How far leaving run x out moves factor k: "+0.96 %, 3.7 % of the way to
// its 95 % bound", "+71 %, beyond the 95 % interval" (without a profile,
// in standard errors).
std::string move_text(const parameter_estimate& p, const left_out_run& x, std::size_t k);

// Why the correlation of ln a1 and ln a2 is not given ("none (the
// covariance is singular)", or not given because a factor's linearised
// interval means nothing); empty when it is.
std::string correlation_caveat(const estimate_result& res);

// The verdict in plain words, one sentence a line: what is determined and
// how well, what is not and what to do about it (--fix), whether the scatter
// matches the stated standard deviations, the possible outliers.
std::vector<message> verdict_lines(const estimate_report& r);

// The verdict's lines wrapped at 100 characters as said in `words` (the
// client's: base/words.h).
void print_estimate(std::ostream& out, const estimate_report& r, const vocabulary& words = neutral_vocabulary());
nlohmann::ordered_json estimate_json(const estimate_report& r, const vocabulary& words = neutral_vocabulary());

// A row per run and measurement: run, line, measurement, measured, sigma,
// sigma_given, predicted, residual, outlier, impossible_for_model; the CSV
// is the table's.
table residuals_table(const estimate_report& r);
std::string estimate_csv(const estimate_report& r);

// Measured against predicted, a panel per kind of measurement (each at its
// own scale): every measurement over its +- sigma bar, the line y = x and
// the possible outliers ringed and labelled with their run's name (quoted
// as gnuplot quotes, not read as enhanced text: a name is only ever a
// name). The title gives only the factors the verdict stands behind. The
// figure, which the script and Python's plot("parity") draw.
figure parity_figure(const estimate_report& r);
std::string parity_plot_script(const estimate_report& r);

// The factors as the verdict stands behind them: "a1 = 1 (held), a2 =
// 0.1595", "a1 not determined, a2 = 0.1595".
std::string estimate_factors_text(const estimate_report& r);

// Both factors free: the joint 95 % region of (a1, a2) from the likelihood
// ratio, the linearised ellipse and the bootstrap's resamples, on log axes,
// beside each factor's profile (objective above the best against the
// factor, with the 95 % threshold). One factor free: its profile alone.
// Empty when there is no profile.
// Each free factor's profile, a panel each, as Python's plot("profiles")
// draws it (the script above draws the same panels).
figure profiles_figure(const estimate_report& r);
// The joint region's panel (the script's upper one), as Python's
// plot("region") draws it; no panel without a region.
figure region_figure(const estimate_report& r);
std::string region_plot_script(const estimate_report& r);

// The tuned case in words, one sentence a line: what changed, what was kept
// and why, its CO2 conversion; `written_to`: the file, or empty.
std::vector<message> tuned_case_lines(const estimate_report& r, const std::string& written_to);

// The tuned case file's comments: who wrote it (`writer`: "urea-reactor
// 1.1.0 (commit ...) (urea-reactor estimate)"), from which runs (the runs
// file's SHA-256, or empty for runs that were no file), and what changed,
// said in `words`.
std::vector<std::string> tuned_case_comments(const estimate_report& r, const std::string& runs_sha256,
                                             const std::string& writer, const vocabulary& words);

}  // namespace workbench

#endif
