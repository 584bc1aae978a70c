// The results a worker sends back, read here: each format's reader, apart
// from what computes it (and with nothing but wire_in beneath it), so that
// the fuzz target reads them as the workbench does. Every read is bounded,
// and each reader ends where its bytes end (worker_answer_error otherwise);
// what a result must hold to fit its work is checked by its taker (e.g.
// check_study_point). A study's point: read_study_point (analysis/study.h).
#ifndef UREA_WORKBENCH_ANALYSIS_ANSWERS_H
#define UREA_WORKBENCH_ANALYSIS_ANSWERS_H

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "model/observation.h"
#include "model/result.h"
#include "session/workers.h"

namespace workbench {

// A monitor's window fit (monitor.cpp): the solves it took, and its fit, or
// why not. The first pass sends a2, chi_square and dof; the second (profile)
// the interval, the standard error and the conversions besides.
struct window_answer {
    long solves = 0;
    bool fitted = false;
    std::string failure;
    double a2 = NAN;
    std::optional<double> lower, upper;
    double se_ln = NAN, chi_square = NAN;
    int dof = 0;
    bool conversions = false;
    double predicted = NAN, equilibrium = NAN;
};
window_answer read_window_answer(const std::string& bytes, bool profile);

// A design's candidate (design.cpp).
struct candidate_answer {
    bool ok = false;
    std::string failure;
    predicted values{};
    std::array<predicted, 2> slope{};
    long solves = 0;
};
candidate_answer read_candidate_answer(const std::string& bytes);

// A piece of an estimate (least_squares.h run_pieces): its own result, and
// its model copy's predictions.
struct piece_answer {
    std::string result;
    long predictions = 0;
};
piece_answer read_piece_answer(const std::string& bytes);

// An evaluator's counts, the last thing of a piece's result.
struct piece_counts {
    long evaluations = 0, failures = 0;
    std::string first_failure;
};
piece_counts read_piece_counts(wire_in& r);

// A refit with weights (a bootstrap's resample, a run left out): its
// point (u1, u2), or none when no start gave a usable fit.
std::optional<std::array<double, 2>> read_refit_answer(const std::string& bytes);

// A profile's pieces (profile.cpp): a row of the coarse map (n values);
// a scan from the best fit (its points: uk, uj, delta; and the better fit
// it found, if any); a crossing of the threshold.
std::vector<double> read_map_row(const std::string& bytes, std::size_t n, piece_counts& counts);
struct scan_answer {
    std::vector<std::array<double, 3>> points;
    std::optional<std::array<double, 2>> better;
    piece_counts counts;
};
scan_answer read_scan_answer(const std::string& bytes);
double read_crossing_answer(const std::string& bytes, piece_counts& counts);

// A runs model as sent (runs_model.h): each run's case as a case file's
// text, and each run's warm-start profile.
struct runs_model_parts {
    std::vector<std::string> cases;
    std::vector<std::vector<station>> warm;
};
runs_model_parts read_runs_model(const std::string& bytes);

}  // namespace workbench

#endif
