// Following a reactor through its plant history: the history screened
// (missing cells, frozen sensors, values out of bounds, spikes), cut into
// windows, each window tested for steadiness and for the atom balance of
// the feed meters against the lab's analysis of the outlet (a lying meter
// named, its window reconciled), each steady window fitted as one run for
// a2 with its 95 % profile-likelihood interval (a1 held, or estimated once
// from the whole history), the equilibrium and the approach to it per
// window, and where a2 changed (a likelihood-ratio scan with a permutation
// test over ln a2). docs/monitor.md says how, and why.
#ifndef UREA_WORKBENCH_ANALYSIS_MONITOR_H
#define UREA_WORKBENCH_ANALYSIS_MONITOR_H

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/estimate.h"
#include "base/timestamps.h"
#include "io/history_file.h"
#include "model/case.h"
#include "session/session.h"

namespace workbench {

struct monitor_options {
    std::int64_t window_ms = ms_per_day;  // --window
    std::int64_t step_ms = 0;             // --step; 0: the window
    // a1 held at this value (--fix a1=V); none: estimated once from the
    // steady windows, and held at the case's a1 when they cannot determine it.
    std::optional<double> a1;
    // A sensor is frozen when it repeats one value for longer than this.
    std::int64_t frozen_ms = 6 * ms_per_hour;
    // A spike lies farther than this many robust standard deviations from
    // the median of its neighbours.
    double spike_sigmas = 6.0;
    // Relative standard uncertainty of each feed meter's reading (a bias
    // that does not average out over a window), by setting; default 1 %.
    std::array<double, setting_count> meter_sigma = default_meter_sigmas();
    // The balance test fails below this p-value; the drift test's level.
    double balance_alpha = 0.01;
    double drift_alpha = 0.01;
    int min_segment = 3;                   // fitted windows on each side of a change
    int permutations = 999;                // of the drift test
    std::uint64_t seed = 1;                // of its permutations

    static std::array<double, setting_count> default_meter_sigmas() {
        std::array<double, setting_count> s{};
        s.fill(0.01);
        return s;
    }
};

// Sets a meter's relative uncertainty as --meter-sigma does: "NAME=PERCENT"
// with NAME a feed flow or a ratio column (feed_kmol_h.CO2, nh3_co2) and the
// percentage > 0 ("2" or "2%"). Throws input_error naming --meter-sigma.
// source.text: NAME=PERCENT; number: PERCENT where the caller gave it as a number.
void set_meter_sigma(monitor_options& o, const field_ref& source, std::optional<double> number = std::nullopt);

// Window fits kept from an earlier run (watch's store keeps them), each
// fit's answer by a digest of everything that made it: the pass, a1, the
// case's a2, and the case, lab samples, start and scatter of the window and
// of each window before it in its chunk of warm starts. An answer found
// here is the bytes the fit would give, so a run that takes it gives the
// same result to the last bit. A fit's answers depend on the plug-in and
// the build too: a cache kept across builds is the keeper's to clear.
class monitor_fit_cache {
public:
    virtual ~monitor_fit_cache() = default;
    virtual std::optional<std::string> find(const std::string& key) = 0;
    virtual void keep(const std::string& key, const std::string& answer) = 0;
};

// A monitor's input, checked before anything is solved.
struct monitor_problem {
    history h;
    reactor_case base;
    monitor_options options;
    std::int64_t spacing_ms = 0;        // the rows' median spacing
    std::vector<std::string> warnings;  // the history's and the base case's
    monitor_fit_cache* fits = nullptr;  // none: every window fitted
};

// Throws input_error for a base case that fails validate, a window shorter
// than the rows' spacing, a step longer than the window (or not positive),
// an a1 outside the search box, a history without lab samples (no
// measurement on any row), and a history without a feed or setting column
// that is given nowhere (a runs file's checks of the row's case come per
// window).
monitor_problem monitor_problem_of(history h, const reactor_case& base, monitor_options options);

// ---- Screening ----

struct time_span {
    std::int64_t start = 0, end = 0;  // the first and the last row's times
    std::size_t rows = 0;
};

struct column_screening {
    std::string column;            // as written in the header
    bool lab = false;              // a measurement's column (not a meter's or a setting's)
    std::size_t values = 0;        // cells with a number, before screening
    std::size_t missing = 0;       // empty cells
    std::size_t out_of_range = 0;  // outside the documented bounds
    std::optional<time_span> out_of_range_span;
    std::vector<time_span> stagnant;  // frozen at one value longer than the threshold
    std::size_t stagnant_rows = 0;
    std::size_t spikes = 0;
    std::optional<time_span> spike_span;  // the first and the last spike
    double noise = NAN;            // short-term standard deviation (from successive differences)
    // The rows (0-based) it leaves out, in order, for the windows: each
    // frozen run's first and last, and each spike.
    std::vector<std::pair<std::size_t, std::size_t>> frozen_rows;
    std::vector<std::size_t> spike_rows;
};

// Screens every column of the history: frozen runs and spikes found (the
// values out of range already are NaN), each finding counted. In passes
// over the rows, holding no column: a few look at each value's neighbours,
// the noise is an exact median over the column (monitor_select.h).
std::vector<column_screening> screen_history(const history& h, const monitor_options& o);

// ---- Windows ----

// The atom balance of a window: feed meters against the lab.
struct balance_test {
    bool tested = false;
    std::string why_not;               // when not tested
    int dof = 0;                       // the balances tested: N/C, H2O/C and (a complete analysis) the sum
    double chi_square = NAN;
    double p_value = NAN;
    bool failed = false;               // p < balance_alpha
    std::string suspect;               // the column the measurement test names when failed; empty otherwise
    double suspect_statistic = NAN;    // its measurement test (a standard normal without a gross error)
    double suspect_error = NAN;        // its error, relative to its reconciled value (+0.05: reads 5 % high)
    // The reconciled values (every tested window's), by the balance's measurements.
    std::vector<std::string> names;
    std::vector<double> measured, reconciled, sigma;
    // Each measurement's error were it the only one in error (the measurement
    // test's estimate), relative to its reading (+0.05: reads 5 % high), and
    // that estimate's standard uncertainty; by names.
    std::vector<double> bias, bias_sigma;
};

struct monitor_window {
    std::int64_t start = 0, end = 0;   // [start, end)
    std::size_t rows = 0;              // rows in it
    std::size_t lab_samples = 0;       // rows with a measurement (after screening)
    std::size_t first_line = 0;        // the file's line of its first row
    bool steady = false;
    std::vector<std::string> flags;    // "not steady", "no lab sample", "reconciled", ...
    message reason;                    // why it is not fitted, in words; empty when fitted
    std::vector<std::string> moved;    // the settings that moved (not steady), each with how much
    settings_given settings{};         // averaged (reconciled where the balance failed)
    observations measured{};           // the lab samples averaged, with their standard errors
    balance_test balance;
    bool fitted = false;
    double a2 = NAN;
    std::optional<double> a2_lower, a2_upper;  // 95 % profile likelihood; empty: open on that side
    double se_ln_a2 = NAN;             // linearised, scaled
    double chi_square = NAN;
    int dof = 0;
    double conversion_measured = NAN;  // the conversion column's mean, or the lab analysis's
    double conversion_predicted = NAN; // at the window's a2
    double conversion_equilibrium = NAN;  // at the outlet's temperature and pressure
    double approach = NAN;             // measured / equilibrium
};

struct drift {
    std::string factor = "a2";
    std::int64_t time = 0;             // the start of the first window after the change
    std::size_t window = 0;            // its index in the windows
    double ratio = NAN;                // a2 after / before
    double lower = NAN, upper = NAN;   // its 95 % interval
    double p_value = NAN;              // of the permutation test that found it
};

// A meter (or a lab quantity) that read wrong over a span of windows: the
// evidence of the windows' balances accumulated (analysis/evidence.h), its
// bias the weighted mean of the windows' estimates over the span.
struct bias_span {
    std::string column;                 // the balance's name of it: "feed_kmol_h.CO2", "w_UREA"
    std::int64_t start = 0, end = 0;    // the first window's start, the last one's end
    std::int64_t found = 0;             // the end of the window at which the evidence named it
    std::size_t windows = 0;            // tested windows in the span
    double bias = NAN, lower = NAN, upper = NAN;  // relative (+0.05: reads 5 % high), with its 95 % interval
};

// a2 moving steadily: a ramp through the windows' ln a2 (analysis/evidence.h).
struct a2_trend {
    std::int64_t start = 0, end = 0;    // the first window's start, the last one's end
    std::size_t windows = 0;
    double from = NAN, to = NAN;        // a2 at the start and at the end, on the ramp
    double rate = NAN, lower = NAN, upper = NAN;  // a2's relative change a day, with its 95 % interval
};

// a2 stepping to another level, as the evidence over windows names it (a
// CUSUM of ln a2): sooner than a drift's permutation test can confirm it.
// Steps that are part of a trend are the trend's.
struct a2_step {
    std::int64_t start = 0;             // the first window's start at the new level
    std::int64_t found = 0;             // the end of the window at which the evidence named it
    double ratio = NAN, lower = NAN, upper = NAN;  // a2 after / before, with its 95 % interval
};

struct monitor_result {
    std::vector<column_screening> screening;
    std::vector<monitor_window> windows;
    std::vector<drift> drifts;
    std::vector<a2_trend> trends;      // a2 declining or rising steadily
    std::vector<bias_span> meters;     // meters (and lab quantities) that read wrong, by start
    std::vector<a2_step> steps;        // a2's levels as the evidence over windows names them (not printed: watch's alerts)
    double a1 = NAN;
    enum class a1_source { held, estimated, kept } a1_how = a1_source::held;
    message a1_note;                   // how a1 was set, in words
    std::optional<double> a1_lower, a1_upper;  // its 95 % profile interval when estimated (empty: open)
    // The windows by why they were not fitted (each window in one of the
    // first seven, which add up to the windows); reconciled: of the fitted.
    std::size_t fitted = 0, not_steady = 0, without_lab = 0, unsolved = 0, reconciled = 0;
    std::size_t without_rows = 0;    // a gap in the history
    std::size_t without_values = 0;  // a setting without a usable value (missing, or screened out)
    std::size_t invalid_case = 0;    // the window's case fails a case's checks
    std::size_t drift_windows = 0;     // the fitted windows the drift test used (those that do not overlap)
    double dispersion = NAN;           // of ln a2 about its segments, relative to the stated se (at least 1)
    // The lab's scatter about the fits, pooled over the windows: sqrt(chi-square
    // / degrees of freedom) against the stated standard deviations. Each
    // window's interval is scaled by max(1, it) (a window far beyond it, by
    // its own), on the pooled degrees of freedom.
    double lab_scatter = NAN;
    long reactor_solves = 0;
    std::vector<message> notes;        // what the user should know (e.g. no window fitted, and why)
};

// The evidence accumulated over the fitted windows (those that do not
// overlap): a2's trends, and the spans over which a meter or a lab quantity
// read wrong. Where several measurements' spans overlap (one error shows in
// every measurement of its balances), the one with the strongest evidence
// is named. The tests' limits are set for one false alarm in 3 years of
// windows of this length, on average, each.
void accumulate_evidence(monitor_result& m, std::int64_t window_ms);

// The windows not fitted, by why: "2 not steady, 0 without a lab sample, 0
// without a solution" and, when there are any, those without rows, without
// usable measurements and with an invalid case.
std::string window_counts(const monitor_result& m);

// The windows of a screened history: rows, lab samples, steadiness,
// averaged settings and lab, the balance test and reconciliation (no solve).
// One pass over the rows, each folded into the windows it lies in as it is
// read (those open at once held, each window's sums and no row).
std::vector<monitor_window> window_history(const monitor_problem& p, const std::vector<column_screening>& screening);

// The change points of a series of ln a2 with their standard errors:
// binary segmentation by the likelihood ratio of two means, each split kept
// when a permutation test gives p < alpha, the parts then tested without
// the value on each side of the split (one may straddle the change).
// Returns the indices where a new segment starts, in order, with their
// p-values; `dispersion`: the scatter about the segments' means (the values
// beside a change left out) relative to the stated errors (at least 1).
struct change_point {
    std::size_t at = 0;
    double p_value = NAN;
};
std::vector<change_point> change_points(const std::vector<double>& x, const std::vector<double>& se,
                                        const monitor_options& o, double& dispersion);

// The drifts of such a series: at each change point the ratio after/before
// of the weighted means of the segments beside it (without the value on
// each side of the change, which may straddle it) with its 95 % interval
// (Student's t on the series' degrees of freedom, the errors scaled by the
// dispersion). drift::window: the index in the series; drift::time unset.
std::vector<drift> find_drifts(const std::vector<double>& x, const std::vector<double>& se, const monitor_options& o,
                               double& dispersion);

// Everything: screening, windows, a1, the fits with their intervals
// (warm-started window to window within fixed chunks of windows, on the
// session's workers: the same answer for any number), the equilibria, the
// drifts. `progress` (may be empty) is called after each window's interval
// with (done, of); the workers' progress counts the fits of both passes.
monitor_result run_monitor(workbench_host& h, monitor_problem& p,
                           const std::function<void(std::size_t, std::size_t)>& progress = {});

// A chunk of a monitor's window fits sent from another machine
// (chunk_work::kind "monitor"): its results, as run_monitor's workers send
// them, from the bytes it was sent.
void run_sent_monitor_chunk(session& s, const std::string& state, std::size_t chunk,
                            const std::function<void(const std::string&)>& emit);

}  // namespace workbench

#endif
