// The results a worker sends back, written there and read here: each
// format's writer and reader, apart from what computes it, so that the fuzz
// target reads them as the workbench does. Each is a message of its own kind
// (session/wire.h; the field lists in analysis/messages.h): a reader refuses
// a message of another format or kind, or with a field missing or wrong,
// with worker_answer_error; what a result must hold to fit its work is
// checked by its taker (e.g. check_study_point). A study's point:
// study_point_bytes, read_study_point (analysis/study.h).
#ifndef UREA_WORKBENCH_ANALYSIS_ANSWERS_H
#define UREA_WORKBENCH_ANALYSIS_ANSWERS_H

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "analysis/estimate.h"
#include "analysis/uncertainty.h"
#include "model/observation.h"
#include "model/result.h"

namespace workbench {

// A monitor's window fit (monitor.cpp): the solves it took, and its fit, or
// why not. The first pass fills a2, chi_square and dof; the second (profile)
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
std::string window_answer_bytes(const window_answer& a);
window_answer read_window_answer(const std::string& bytes);

// A design's candidate (design.cpp).
struct candidate_answer {
    bool ok = false;
    std::string failure;
    predicted values{};
    std::array<predicted, 2> slope{};
    long solves = 0;
};
std::string candidate_answer_bytes(const candidate_answer& a);
candidate_answer read_candidate_answer(const std::string& bytes);

// A piece of an estimate (least_squares.h run_pieces): its own result (a
// message of its own), and its model copy's predictions.
struct piece_answer {
    std::string result;
    long predictions = 0;
};
std::string piece_answer_bytes(const piece_answer& a);
piece_answer read_piece_answer(const std::string& bytes);

// An evaluator's counts, sent with each piece's result.
struct piece_counts {
    long evaluations = 0, failures = 0;
    std::string first_failure;
};

// A start of an estimate (estimate.cpp).
struct start_answer {
    start_outcome start;
    piece_counts counts;
};
std::string start_answer_bytes(const start_answer& a);
start_answer read_start_answer(const std::string& bytes);

// A refit with weights (a bootstrap's resample, a run left out): its
// point (u1, u2), or none when no start gave a usable fit.
std::string refit_answer_bytes(const std::optional<std::array<double, 2>>& u);
std::optional<std::array<double, 2>> read_refit_answer(const std::string& bytes);

// A profile's pieces (profile.cpp): a row of the coarse map (n values);
// a scan from the best fit (its points: uk, uj, delta; and the better fit
// it found, if any); a crossing of the threshold.
struct map_row_answer {
    std::vector<double> row;
    piece_counts counts;
};
std::string map_row_bytes(const map_row_answer& a);
std::vector<double> read_map_row(const std::string& bytes, std::size_t n, piece_counts& counts);
struct scan_answer {
    std::vector<std::array<double, 3>> points;
    std::optional<std::array<double, 2>> better;
    piece_counts counts;
};
std::string scan_answer_bytes(const scan_answer& a);
scan_answer read_scan_answer(const std::string& bytes);
struct crossing_answer {
    double at = NAN;
    piece_counts counts;
};
std::string crossing_answer_bytes(const crossing_answer& a);
double read_crossing_answer(const std::string& bytes, piece_counts& counts);

// A piece of the joint region (region.cpp): its slices, and whether one
// reached the search box's edge in a2.
struct region_answer {
    bool open_a2 = false;
    std::vector<region_slice> slices;
    piece_counts counts;
};
std::string region_answer_bytes(const region_answer& a);
region_answer read_region_answer(const std::string& bytes);

// A run's prediction by a watched process (runs_model.cpp): the outcome,
// and the warm-start profile it leaves when it was asked for and solved.
struct prediction_answer {
    model::outcome outcome;
    std::optional<std::vector<station>> warm;
};
std::string prediction_answer_bytes(const prediction_answer& a);
prediction_answer read_prediction_answer(const std::string& bytes);
// A number computed by a watched process.
std::string number_answer_bytes(double x);
double read_number_answer(const std::string& bytes);

// A runs model as sent (runs_model.h): each run's case as a case file's
// text, and each run's warm-start profile.
struct runs_model_parts {
    std::vector<std::string> cases;
    std::vector<std::vector<station>> warm;
};
std::string runs_model_parts_bytes(const runs_model_parts& m);
runs_model_parts read_runs_model(const std::string& bytes);

}  // namespace workbench

#endif
