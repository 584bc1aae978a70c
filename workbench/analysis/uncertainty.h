// How sure the estimate is, beyond the profile intervals of each factor:
// the joint 95 % likelihood region of (a1, a2) beside the linearised
// ellipse, the runs resampled (bootstrap) and each run left out in turn.
// All of it plain data: values of a1 and a2 that predictions can be made at.
#ifndef UREA_WORKBENCH_ANALYSIS_UNCERTAINTY_H
#define UREA_WORKBENCH_ANALYSIS_UNCERTAINTY_H

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "analysis/estimate.h"

namespace workbench {

// The joint region at one value of a1: the a2 that fits best there, and the
// a2 within the region's threshold (NaN when the slice lies outside it).
struct region_slice {
    double a1 = NAN;
    double a2_best = NAN;
    double delta_best = NAN;  // objective at (a1, a2_best) - best objective
    double a2_low = NAN, a2_high = NAN;
    bool open_low = false, open_high = false;  // the slice reaches the edge of the search box
};

// The joint 95 % region of (a1, a2): {objective - best <= threshold}
// (estimate_result::region_threshold), as slices at values of a1 across it
// (each slice one interval of a2: every run's prediction moves one way with
// a2), from one edge of each piece of the region to the other.
struct likelihood_region {
    bool computed = false;        // both factors free and a profile of a1
    double threshold = NAN;
    std::array<double, 2> best{NAN, NAN};
    std::vector<std::vector<region_slice>> pieces;  // by a1; usually one piece
    // The region reaches the edge of the search box: below the smallest a1
    // or above the largest, or a slice reaches it in a2.
    bool open_a1_low = false, open_a1_high = false, open_a2 = false;
    // The linearised 95 % ellipse, {d' C^-1 d <= threshold} in ln a with
    // C the covariance, as (a1, a2) points around it; empty when the
    // covariance is singular.
    std::vector<std::array<double, 2>> ellipse;
};

likelihood_region region_of(model& m, const std::vector<observed_run>& runs, const estimate_options& options,
                            const estimate_result& result, const estimate_split& split = {});

// The runs resampled with replacement (whole runs: a run's measurements
// share its conditions), each resample fitted from where the full data's
// fits ended; a1 and a2 of every resample that gave a usable fit.
struct bootstrap_result {
    int resamples = 0;                           // asked for
    std::uint64_t seed = 0;
    std::vector<std::array<double, 2>> samples;  // (a1, a2) of each usable resample, in order
    int failed = 0;                              // resamples without a usable fit
    // By factor, of the usable resamples' values: 2.5 %, 50 %, 97.5 %
    // percentiles (NaN for a held factor or without samples).
    std::array<double, 2> lower95{NAN, NAN}, median{NAN, NAN}, upper95{NAN, NAN};
};

// Throws input_error for resamples < 1. Each resample is refitted from the
// model as it is at the call, whatever the others did.
bootstrap_result bootstrap(model& m, const std::vector<observed_run>& runs, const estimate_options& options,
                           const estimate_result& result, int resamples, std::uint64_t seed,
                           const estimate_split& split = {});

// The fit without one run.
struct left_out_run {
    std::size_t run = 0;
    bool ok = false;  // false: too few measurements left, or no usable fit
    std::array<double, 2> value{NAN, NAN};
    // ln(value without the run) - ln(value with all), and the same in
    // standard errors of ln a (the linearised one, or for a factor without
    // one the profile interval's half-width over t); NaN for a held factor.
    std::array<double, 2> shift_ln{NAN, NAN};
    std::array<double, 2> shift_se{NAN, NAN};
};

struct leave_one_out_result {
    bool computed = false;
    std::vector<left_out_run> runs;  // by run
    // By factor: the runs (indices) that move it most, largest move first,
    // at most three; empty for a held factor.
    std::array<std::vector<std::size_t>, 2> influential;
};

leave_one_out_result leave_one_out(model& m, const std::vector<observed_run>& runs,
                                   const estimate_options& options, const estimate_result& result,
                                   const estimate_split& split = {});

}  // namespace workbench

#endif
