// Evidence accumulated over windows. A quantity estimated window by window
// with its standard uncertainty (a meter's bias from the balance, ln a2 from
// the fit) is tested sequentially, so that a change too small to name in any
// one window is named once enough windows agree, and dated.
//
// The test is a two-sided CUSUM of the standardised estimates. Within a span
// of constant level L (the weighted mean of the span's windows so far, or the
// reference the caller knows, e.g. 0 for a meter's bias),
//
//     z_k  = (x_k - L) / sqrt(s_k^2 + se(L)^2)
//     S+_k = max(0, S+_{k-1} + z_k - r),   S-_k = max(0, S-_{k-1} - z_k - r)
//
// and a change is declared when S+ or S- passes h. r is half the shift (in
// standard uncertainties) the test is tuned to find quickest; h is set from
// the in-control average run length asked for (how many windows pass, on
// average, between false alarms when nothing changes), computed for a normal
// z by the Markov chain of Brook and Evans (1972). At a change, its start is
// dated at the window after the last one at which that sum was 0, the span
// before ends there, and the test starts again on the new span, whose level
// is estimated from its windows. A history becomes spans of constant level,
// each with its weighted mean and 95 % interval. With a reference, a span
// after a change is judged against it as the first span was: where the
// CUSUM against the reference raises no alarm over the span's windows, the
// span is at the reference (level_span::reference), whatever its mean.
//
// A steady drift is cut by this test into a staircase of spans. Where two
// or more steps go the same way, their windows are fitted with a ramp: one
// level, then a straight line in time, then the level it reached (weighted
// least squares, the ramp's ends sought among the windows of the run's
// first two and last two spans). The run is one trend where the ramp
// describes it better than the staircase by the Bayesian information
// criterion (chi-square plus parameters times ln n: 4 for the ramp, 2k - 1
// for k spans), fits better than a single step between two levels (by the
// chi-square of one degree of freedom at 1 %; the window at the step left
// out, as one may straddle it), and its rate is not zero (at 5 %). A trend
// gives its start, end, rate per day and the rate's 95 % interval.
#ifndef UREA_WORKBENCH_ANALYSIS_EVIDENCE_H
#define UREA_WORKBENCH_ANALYSIS_EVIDENCE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace workbench {

// One window's estimate: its time (ms since 1970, e.g. the window's middle),
// the value and its standard uncertainty. A window without an estimate is
// left out by the caller.
struct window_estimate {
    std::int64_t time = 0;
    double value = 0.0;
    double sigma = 0.0;  // > 0
};

struct evidence_options {
    double shift = 1.0;                   // the shift, in standard uncertainties, found quickest (r = shift / 2)
    double in_control_run = 3.0 * 365.0;  // windows between false alarms, on average, with no change
    std::optional<double> reference;      // the first span's level when known (a meter's bias: 0)
};

// The CUSUM's limit h for a one-sided average run length `run` at reference
// r, for standard normal increments (Brook and Evans' Markov chain).
double cusum_limit(double r, double run);

// The average run length of a one-sided CUSUM with reference r and limit h
// for normal increments of mean `mean` and unit variance.
double cusum_run_length(double r, double h, double mean = 0.0);

struct level_span {
    std::size_t first = 0, last = 0;      // the windows (indices into the estimates), inclusive
    std::int64_t start = 0, end = 0;      // their times
    std::size_t detected = 0;             // the window at which the change into this span was declared (0 for the first)
    double level = 0.0;                   // weighted mean
    double lower = 0.0, upper = 0.0;      // its 95 % interval
    bool reference = false;               // at the reference given: the first span, or one the test against the
                                          // reference does not tell from it (level: the span's mean all the same)
};

struct trend {
    std::size_t first = 0, last = 0;      // the windows
    std::int64_t start = 0, end = 0;
    double rate_per_day = 0.0;            // of the value
    double lower = 0.0, upper = 0.0;      // the rate's 95 % interval
    double from = 0.0, to = 0.0;          // the line's values at start and end
};

struct evidence {
    std::vector<level_span> spans;
    std::vector<trend> trends;
    double limit = 0.0;                   // h
};

// The spans of constant level and the trends of a series of estimates in
// time order.
evidence accumulate(const std::vector<window_estimate>& x, const evidence_options& o = {});

}  // namespace workbench

#endif
