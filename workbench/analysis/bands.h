// Predictions with 95 % bands: a result of any case at the estimate's rate
// factors, and how far it moves as a1 and a2 run over what the test runs
// allow. Two ways, each said by name wherever a band is shown:
//
//  - profile: the result's range over the joint 95 % likelihood region of
//    a1 and a2 (its boundary, slice by slice, and the best fit); with one
//    factor free, over its 95 % profile-likelihood interval. Exact for a
//    result that moves one way with each factor, whatever the model's
//    curvature; over the joint region a band covers at least 95 % (it holds
//    for every result at once).
//  - linearised: value -+ t s sqrt(g' C g), g the result's derivatives in
//    ln a1 and ln a2 at the best fit (central differences), C their
//    covariance, s the scale factor, t the 97.5 % quantile of Student's t
//    (the delta method): cheap, and as good as the linearised intervals of
//    the factors are.
//
// Where the region reaches the edge of the search box (a factor the runs do
// not bound), the profile band is taken over its part within the box, and a
// side that the edge pushes out is marked open: it could reach further.
#ifndef UREA_WORKBENCH_ANALYSIS_BANDS_H
#define UREA_WORKBENCH_ANALYSIS_BANDS_H

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "analysis/runs_model.h"
#include "analysis/uncertainty.h"
#include "model/case.h"
#include "solver/reactor.h"
#include "model/results.h"
#include "session/session.h"

namespace workbench {

enum class band_method { profile, linearised };

// "profile" or "linearised".
const char* band_method_name(band_method m);
// The method by its name; throws input_error naming --band.
band_method band_method_named(const std::string& name);

// What a prediction's band needs of an estimate, as plain data: from the
// estimate itself (uncertainty_of) or from the JSON `estimate --json` wrote
// (read_estimate_file, report/estimate_file.h).
struct factor_uncertainty {
    std::string source;                     // the estimate's file, or "the estimate", for texts
    std::array<double, 2> value{NAN, NAN};  // the best fit's a1 and a2 (a held factor: its value)
    std::array<bool, 2> free{false, false};
    double lower = factor_lower, upper = factor_upper;  // the search box
    double scale_factor = 1.0;              // max(1, sqrt(reduced chi-square))
    double t_quantile = NAN;
    int degrees_of_freedom = 0;
    // Covariance of (ln a1, ln a2) before the scale factor; a held factor's
    // row and column 0. has_covariance false: none (singular).
    bool has_covariance = false;
    std::array<std::array<double, 2>, 2> covariance{};
    // Each free factor's 95 % profile-likelihood interval, an empty side
    // open; has_profile false: none.
    std::array<bool, 2> has_profile{false, false};
    std::array<std::optional<double>, 2> profile_lower{}, profile_upper{};
    likelihood_region region;               // both free: the joint 95 % region
    std::vector<std::string> runs;          // the runs' names, in order
    std::string runs_file;
    // The base case the runs were estimated on: the whole case (reactor,
    // feed, rate factors, property tables), or, from an estimate file of an
    // earlier version, what it said of it (its reactor, temperatures and
    // feed ratios on the default case's feed; base_whole false).
    std::optional<reactor_case> base;
    bool base_whole = true;
};

// What a case differs in from the base case an estimate's factors were
// tuned on, where that changes the model's answer whatever the runs set:
// the reactor (model, trays, volume), the property tables, and the feed's
// make-up beyond its NH3/CO2 and H2O/CO2 ratios (CARB, UREA, O2 and N2 per
// CO2 fed). Pressure, temperatures, throughput and the two ratios are the
// conditions a prediction is made at: not compared. Empty when the case
// differs in none of them, or when the estimate does not say its base.
struct tuned_difference {
    std::string key;    // the case file's key: "reactor.volume_m3", "properties.NH3", "feed_kmol_h.N2"
    std::string tuned;  // what the factors were tuned on, and what this case has, in words
    std::string here;
};
std::vector<tuned_difference> tuned_differences(const factor_uncertainty& u, const reactor_case& c);

// Where case c differs from what the estimate was tuned on (above): an
// input_error naming the first difference and what the factors were tuned
// on, unless `carry` (the user asks to carry the factors over), when the
// same is returned as a warning. Also a warning when the estimate is of an
// earlier version that does not say its feed and property tables. Empty
// otherwise.
std::vector<std::string> check_carry_over(const factor_uncertainty& u, const reactor_case& c, bool carry);

factor_uncertainty uncertainty_of(const estimate_outcome& e);

// "the estimate in EST.json", or "the estimate" (one made in-process).
std::string estimate_named(const factor_uncertainty& u);

// The band's way and the rate factors each result is taken at.
struct band_plan {
    band_method method = band_method::profile;
    factor_uncertainty u;
    // (a1, a2) besides the best fit: profile, the joint region's boundary
    // (one free factor: its interval's ends and two points on each side
    // between); linearised, the best fit with each free factor's ln a
    // stepped by -step and +step, in turn.
    std::vector<std::array<double, 2>> points;
    std::vector<bool> at_edge;  // the point lies on the search box's edge
    double step = 1e-3;
    std::string description;    // the band's way, in a sentence (no full stop)
    std::vector<message> notes;  // a held factor, an open region: one sentence each
};

// The plan of the bands of an estimate: the method asked for, or the
// profile's where the estimate has it, else the linearised one. Throws
// input_error (naming --band, or the estimate's source) when both factors
// are held, or when the method asked for is not to be had (linearised
// without a covariance; profile without the region or interval).
band_plan plan_bands(const factor_uncertainty& u, std::optional<band_method> method = std::nullopt);

// A case with the estimate's rate factors: what a banded prediction runs.
reactor_case at_estimate(const reactor_case& c, const factor_uncertainty& u);

struct result_band {
    double low = NAN, high = NAN;  // NaN: no band (the value undefined, a derivative not to be had)
    bool open_low = false, open_high = false;
};

// The band of one quantity from its value at the best fit and at each of
// the plan's points (NaN where the reactor could not be solved there, or
// the quantity is undefined; those points are left out of a profile band).
result_band band_of(const band_plan& plan, double best, const std::vector<double>& at_points);

// The case (at_estimate's) solved at each of the plan's points, each
// warm-started from its solution at the best fit; empty where the reactor
// has no solution. The equilibrium at the outlet, which a1 and a2 do not
// change, is the best fit's.
std::vector<std::optional<result>> solve_band_points(const band_plan& plan, const reactor_case& c,
                                                     const result& best, workbench_host& h);

// Each result's band from the case's solutions at the plan's points
// (solve_band_points) and its value at the best fit (`values`, in the order
// of `results`); no band (NaN) for a result has_band refuses.
std::vector<result_band> bands_of_results(const band_plan& plan, const std::vector<result_quantity>& results,
                                          const reactor_case& c, const std::vector<double>& values,
                                          const std::vector<std::optional<result>>& at);

// A case run at an estimate's rate factors, each result with its band.
struct prediction {
    reactor_case c;                        // the case as run: the given one with the estimate's a1 and a2
    result run;                            // its solution at the best fit
    std::vector<result_quantity> results;  // the results banded
    std::vector<double> values;            // by result, at the best fit
    std::vector<result_band> bands;        // by result
    std::vector<result_band> conversion_profile;  // the CO2 conversion of each tray (or station)
    std::size_t points = 0;                // the band's points solved for
    std::size_t unsolved = 0;              // of which the reactor could not solve (left out of the bands)
};

// Throws solver_error when the case has no solution at the best fit.
prediction predict_case(const reactor_case& c, const band_plan& plan, const std::vector<result_quantity>& results,
                        workbench_host& h);

// Whether a result has a band: every prediction, not the solver's own
// counts (rate calls, the balance residual).
bool has_band(const result_quantity& q);

// The results a banded run reports: the CO2 conversion and the approach to
// equilibrium, the lab analysis (NC-FLOW mass fractions), urea made, kg/h,
// and the outlet's flows, kmol/h.
std::vector<result_quantity> run_band_results();

}  // namespace workbench

#endif
