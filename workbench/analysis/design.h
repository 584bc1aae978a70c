// The design of the next test run: of the runs the operator could make (a
// grid of settings, or a case table, as a study takes them), which would
// shrink the uncertainty of the rate factors most if it were made and
// measured next. Linearised at the current estimate:
//
//   F = sum over measurements of g g' / sigma^2,  g = d(predicted)/d(ln a1, ln a2)
//
// the Fisher information of (ln a1, ln a2) (forward differences, each
// candidate warm-started from its neighbour and each difference from the
// candidate), F_now from the current runs and F_run from a candidate with
// the quantities it would measure; with a run added the covariance is
// s^2 (F_now + F_run)^-1 (s the estimate's scale factor) and each factor's
// expected 95 % interval a exp(-+ t se). Candidates are ranked by
// det(F_now + F_run) (D-optimal: the linearised joint region's area shrinks
// as 1/sqrt(det)), or by one factor's expected interval; a factor that no
// candidate can determine is said so in words, and left out of the ranking.
#ifndef UREA_WORKBENCH_ANALYSIS_DESIGN_H
#define UREA_WORKBENCH_ANALYSIS_DESIGN_H

#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "analysis/bands.h"
#include "analysis/runs_model.h"
#include "analysis/study.h"

namespace workbench {

using information = std::array<std::array<double, 2>, 2>;  // of (ln a1, ln a2); a held factor's row and column 0

struct design_problem {
    estimate_problem runs;                      // the current runs and base case (its options hold factors)
    std::optional<factor_uncertainty> estimate; // the current estimate; none: estimated here (the fit alone)
    study_plan candidates;                      // the runs the operator could make, at the estimate's a1 and a2
    std::array<bool, quantity_count> measure{}; // what the next run would measure
    bool measure_chosen = false;                // given (--measure), not the runs' majority
    std::array<double, quantity_count> sigma{}; // its standard deviation, by quantity
    std::optional<std::size_t> for_factor;      // rank by this factor's expected interval (0: a1, 1: a2)
    double step = 1e-3;                         // of ln a, for the differences
};

// Checks and lays out a design: the estimate (when given) made from these
// runs, no candidate varying a1 or a2 (the estimate sets them), a factor
// asked for free. measure: what the next run measures (default: each
// quantity that more than half of the current runs measure, or those the
// most runs measure); its sigma: the median of the current runs' for that
// quantity (stated or default), or the default. Throws input_error.
design_problem design_problem_of(estimate_problem runs, std::optional<factor_uncertainty> estimate,
                                 study_plan candidates,
                                 std::optional<std::array<bool, quantity_count>> measure = std::nullopt,
                                 std::optional<std::size_t> for_factor = std::nullopt);

// The quantities by name, as the field "measure" gives them
// ("co2_conversion,w_UREA", or "all"); throws input_error about the field.
std::array<bool, quantity_count> measured_named(const std::string& names);

enum class design_criterion {
    d_optimal,      // det(F_now + F_run) over both free factors
    one_factor,     // one factor's expected interval (marginal)
    conditional,    // one factor's, the other held: it changes nothing any run measures
};

struct design_candidate {
    std::size_t index = 0;
    std::vector<double> settings;              // by plan.settings
    const std::vector<std::string>* carried = nullptr;  // a case table's other cells
    bool ok = false;
    std::string failure;
    predicted values{};                        // what it would measure, at the estimate
    std::array<predicted, 2> slope{};          // d value / d ln a_k (0 for a held factor)
    information info{};                        // F_run
    double criterion = NAN;                    // ranked: larger is better
    // The ranked measure relative to now: the joint region's area (D), or
    // the factor's interval width; NaN where there is no "now" to compare with.
    double relative = NAN;
    std::array<double, 2> lower{NAN, NAN}, upper{NAN, NAN};  // expected 95 % intervals (NaN: held, or none)
    std::size_t rank = 0;                      // 1 the best; 0 not solved
};

struct design_result {
    factor_uncertainty estimate;               // what the design is linearised at
    bool estimated_here = false;
    information now{};                         // F_now
    std::array<double, 2> now_lower{NAN, NAN}, now_upper{NAN, NAN};  // linearised, from F_now
    std::array<bool, quantity_count> measure{};
    bool measure_chosen = false;
    std::array<double, quantity_count> sigma{};
    design_criterion criterion = design_criterion::d_optimal;
    std::size_t ranked_factor = 1;             // one_factor, conditional: which
    std::vector<design_candidate> candidates;  // in the plan's order
    std::vector<std::size_t> ranking;          // indices of the solved ones, best first
    // By factor: whether some candidate brings its expected 95 % interval
    // within a decade; the most any candidate's measurements change, in
    // standard deviations, when the factor changes tenfold.
    std::array<bool, 2> determinable{false, false};
    std::array<double, 2> largest_effect{0.0, 0.0};
    // A free factor that changes nothing any run measures, now or with any
    // candidate (a tenfold change moves the measurements by less than 0.1
    // standard deviations): held at its value for the intervals and the
    // ranking (design_criterion::conditional).
    std::array<bool, 2> no_effect{false, false};
    std::size_t failed = 0;
    long reactor_solves = 0;
    std::vector<message> verdict;              // in plain words, one sentence a line
};

// Solves the current runs and every candidate at the estimate (estimating
// first when the problem has none). Throws solver_error when a current run
// has no solution at the estimate; a candidate the reactor cannot solve is
// recorded and left out of the ranking.
design_result run_design(workbench_host& h, const design_problem& p);

// For candidates computed elsewhere (session/workers.h): the candidates of
// one chunk of the plan (study_chunks), each solved at u, warm-started from
// the one before (emit: each as bytes); all they are computed from as
// bytes, and chunk `chunk` computed from those bytes on the session.
void run_design_chunk(const study_plan& candidates, const factor_uncertainty& u, double step, point_range range,
                      workbench_host& h, const std::function<void(const std::string&)>& emit);
std::string design_state_bytes(const study_plan& candidates, const factor_uncertainty& u, double step);
void run_sent_design_chunk(session& s, const std::string& state, std::size_t chunk,
                           const std::function<void(const std::string&)>& emit);

// The expected 95 % intervals with an information matrix: a exp(-+ t se),
// se from s^2 F^-1 (both free) or s^2 / F_kk; NaN where F is singular.
void expected_intervals(const factor_uncertainty& u, const information& f, double t, std::array<double, 2>& lower,
                        std::array<double, 2>& upper);

}  // namespace workbench

#endif
