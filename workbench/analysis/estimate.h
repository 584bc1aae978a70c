// Estimating the plug-in's two rate factors a1 and a2 from several test runs:
// weighted nonlinear least squares in ln a1 and ln a2 with Ceres Solver
// (Levenberg-Marquardt, central-difference derivatives, bounds, an optional
// robust loss, several starts), then the covariance at the optimum, 95 %
// intervals, a verdict per parameter and standardised residuals.
//
// Independent of the reactor: a `model` predicts each run's measurements.
#ifndef UREA_WORKBENCH_ANALYSIS_ESTIMATE_H
#define UREA_WORKBENCH_ANALYSIS_ESTIMATE_H

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/words.h"

#include "model/case.h"
#include "base/errors.h"
#include "model/observation.h"
#include "session/workers.h"

namespace workbench {

// The rate factors by name, in the order of every pair of them here.
inline constexpr std::array<const char*, 2> factor_names = {"a1", "a2"};

// The box every search for a1 and a2 stays in.
inline constexpr double factor_lower = 1e-6;
inline constexpr double factor_upper = 1e6;

// The 97.5 % quantile of Student's t on dof degrees of freedom (at least 1).
double t_975(int dof);

// What the estimator asks of a reactor: the predicted quantities of one run
// at the rate factors exp(ln_a1), exp(ln_a2). It is called many times at
// nearby points for each run (a model may warm-start from its last solution
// of the same run). A point where the model cannot be solved is a failure,
// not an exception: the estimator then steps back.
class model {
public:
    struct outcome {
        bool ok = false;
        predicted values{};
        std::string failure;  // why, when not ok
        std::string details;  // what each start of the solver ended with, when known
    };
    virtual ~model() = default;
    virtual outcome predict(std::size_t run, double ln_a1, double ln_a2) = 0;
    // Whether the work is to stop (the session's stop check said so: every
    // prediction then fails). The estimator then ends its searches at once,
    // Ceres' by its iteration callback, and throws check_stop()'s exception
    // once back in its own code: nothing is thrown through Ceres or Eigen.
    virtual bool stopped() const { return false; }
    virtual void check_stop() {}

    // For a piece of work done apart (on a worker, or here, without what
    // other pieces did): a copy of the model as it is now, its count of
    // predictions at 0; null for a model that keeps no state between
    // predictions, which is then used itself.
    virtual std::unique_ptr<model> copy() const { return nullptr; }
    // Predictions made, and those of a copy counted in.
    virtual long predictions() const { return 0; }
    virtual void add_predictions(long) {}
    // The model as it is now as bytes, for work sent to another machine
    // (session/workers.h); empty: it cannot go, and the work stays here.
    virtual std::string bytes() const { return {}; }
};

// Where the independent pieces of an estimate run (the starts, the profile's
// scans and the crossings of its threshold, the region's slices, each run
// left out, each resample; session/workers.h), each from the model as it is
// when they start, so that the result is the same on any number of workers;
// stop is called between pieces (it throws to end the work).
struct estimate_split {
    worker_options workers;
    std::function<void()> stop;
};

struct observed_run {
    std::string name;
    observations measured;
};

enum class loss_kind { none, huber, cauchy };

// Default scales of the robust losses, in standard deviations: the usual
// tuning constants that keep 95 % of the efficiency of plain least squares
// on normally distributed errors. Huber counts a residual quadratically up to
// the scale and linearly beyond; Cauchy grows only logarithmically.
inline constexpr double default_huber_scale = 1.345;
inline constexpr double default_cauchy_scale = 2.385;

struct estimate_options {
    // The starting values (the base case's a1 and a2), also the value
    // suggested for --fix when a parameter is not determined.
    std::array<double, 2> initial{1.0, default_a2};
    // A parameter held at this value (--fix); the other is estimated.
    std::array<std::optional<double>, 2> fixed{};
    loss_kind loss = loss_kind::none;
    double loss_scale = 0.0;  // in standard deviations; 0: the default of the loss
    // Starts: every combination of initial * 10^d over these decades d for
    // each free parameter (9 starts for both, 3 for one).
    std::vector<double> start_decades{-2.0, 0.0, 2.0};
    // The search box for a1 and a2.
    double lower = factor_lower;
    double upper = factor_upper;
    int max_iterations = 100;
    // Profile-likelihood intervals of the free factors, from which the
    // verdicts are drawn. Off: the verdicts rest on the linearised
    // intervals alone (for a caller that only wants the fit).
    bool profile = true;
    // What estimate_runs adds (analysis/uncertainty.h): the joint 95 %
    // region (both factors free), each run left out in turn, and this many
    // bootstrap resamples of the runs drawn with this seed (0: none).
    bool region = true;
    bool leave_one_out = true;
    // The scatter known from more data than this fit's (a monitor's windows
    // pooled): its scale factor and degrees of freedom replace this fit's
    // own max(1, sqrt(reduced chi-square)) and degrees of freedom in the
    // standard errors, the intervals and the thresholds.
    struct known_scatter {
        double scale = 1.0;
        int dof = 1;
    };
    std::optional<known_scatter> scatter;
    int bootstrap = 0;
    std::uint64_t seed = 1;
};

enum class verdict_kind {
    fixed,           // held with --fix
    determined,
    at_bound,        // the best fit lies at the edge of the search box
    singular,        // the covariance is singular: the data carry no information on it
    wide,            // the 95 % interval spans more than a decade
    combination,     // only a combination of a1 and a2 is determined
    open,            // the 95 % profile interval has no bound on one side, or on either, within the search box
};

// One point of a profile: the factor held at `value`, the other re-optimised
// (or held, when the options hold it) to `other`, and how much worse the
// best fit there is than the best fit overall.
struct profile_point {
    double value = NAN;
    double other = NAN;
    double delta = NAN;  // objective - best objective; NaN where the reactor could not be solved
};

// The 95 % profile-likelihood interval of one factor: the values at which
// the best fit, the other factor re-optimised, is worse than the best fit
// overall by at most `threshold` (see estimate_result::profile_threshold).
// A side that reaches the edge of the search box is open: no bound.
struct profile_interval {
    bool computed = false;               // false: the factor is held, or no profile was asked for
    std::optional<double> lower, upper;  // empty: open on that side
    // The values within the threshold lie in pieces (another basin, far from
    // the best fit, fits nearly as well): lower .. upper is their hull.
    bool disjoint = false;
    // A side where the reactor could not be solved next to the bound, so that
    // the interval was left open there.
    bool unsolved_lower = false, unsolved_upper = false;
    std::vector<profile_point> points;  // the scan, by value
};

struct parameter_estimate {
    std::string name;          // "a1" or "a2"
    double value = 0.0;        // a
    bool free = true;
    // Standard error of ln a: from the covariance at the stated standard
    // deviations, then times the scale factor below. NaN when unknown.
    double se_ln_unscaled = NAN;
    double se_ln = NAN;
    // 95 % confidence interval for a: exp(ln a -+ q * se_ln), so asymmetric.
    double lower95 = NAN;
    double upper95 = NAN;
    // The interval assumes the other parameter held at its value (given when
    // the joint covariance is singular but this parameter alone is not).
    bool conditional = false;
    profile_interval profile;  // the 95 % profile-likelihood interval
    verdict_kind verdict = verdict_kind::determined;
    message verdict_text;  // plain words, with the --fix suggestion when not determined
    // The decimal place (a power of ten) to which this factor and its
    // intervals are written everywhere: the second significant digit of the
    // interval's nearer half-width when the factor is determined; 0 and
    // relative = true: two significant digits for each number.
    int place = 0;
    bool relative = true;
};

// A factor, or a bound of its interval, written as the factor's place says
// (see parameter_estimate::place): the same digits throughout a report. A
// held factor: as given.
std::string factor_text(const parameter_estimate& p, double v);

struct residual_row {
    std::size_t run;
    quantity what;
    double measured;
    double sigma;
    double predicted;
    double residual;   // (measured - predicted) / sigma
    bool outlier;      // |residual| > 3
};

struct start_outcome {
    std::array<double, 2> from{};  // a1, a2
    std::array<double, 2> to{};
    bool usable = false;           // Ceres ended with a solution (converged or out of iterations)
    bool converged = false;
    double chi_square = NAN;       // sum of squared standardised residuals at `to`
    double objective = NAN;        // what was minimised: with a robust loss, the sum of the losses
    int iterations = 0;
    long model_failures = 0;       // points of this start where the model failed
    std::string message;           // Ceres' termination message
};

struct estimate_result {
    std::array<parameter_estimate, 2> parameters;
    double correlation = NAN;        // of ln a1 and ln a2; NaN unless both free and non-singular
    bool covariance_singular = false;
    // Why there is no covariance, when there is none: singular, or the model
    // could not be solved next to the best fit, where the derivatives need it.
    bool covariance_unsolvable = false;
    std::string covariance_note;     // the same in words
    int measurements = 0;
    int free_parameters = 0;
    int degrees_of_freedom = 0;      // measurements - free parameters
    double chi_square = 0.0;         // sum of squared standardised residuals
    double reduced_chi_square = NAN; // chi_square / degrees of freedom
    // With a robust loss, the scatter of the robust residuals, as a reduced
    // chi-square: sum psi(r)^2 / dof over the square of the mean of psi'(r)
    // (psi the loss's influence function, r the standardised residuals), in
    // which a residual the loss downweights counts as little as it pulls.
    // NaN without a robust loss (or where the mean of psi' is not positive).
    double robust_reduced_chi_square = NAN;
    // max(1, sqrt(s2)), applied to the standard errors and the thresholds,
    // s2 the robust residuals' reduced chi-square with a robust loss, the
    // plain one without.
    double scale_factor = 1.0;
    double t_quantile = NAN;         // the 97.5 % quantile used for the intervals
    loss_kind loss = loss_kind::none;
    double loss_scale = 0.0;
    std::vector<start_outcome> starts;
    std::size_t best_start = 0;
    int starts_agreeing = 0;         // usable starts that reached the best objective (within 0.01)
    long model_evaluations = 0;      // all, the covariance's included
    long model_failures = 0;         // evaluations where the model could not be solved
    std::vector<residual_row> residuals;
    int outliers = 0;
    // The likelihood-ratio thresholds on objective - best objective: for one
    // factor's 95 % profile interval, s^2 t^2 (t: the 97.5 % quantile of
    // Student's t on the degrees of freedom, s: the scale factor above),
    // which makes the profile interval the linearised one for a linear
    // model; for the joint 95 % region of both, s^2 2 F(2, dof) at 95 %.
    double profile_threshold = NAN;
    double region_threshold = NAN;
    // Covariance of (ln a1, ln a2) before the scale factor, for the
    // linearised ellipse; empty unless both are free and it is not singular.
    std::vector<std::vector<double>> covariance;
    double best_objective = NAN;  // the objective at the best fit
};

// Throws input_error for inconsistent input (fewer measurements than free
// parameters, a sigma <= 0, a fixed or initial value outside the box) and
// solver_error when no start gives a usable fit.
estimate_result estimate(model& m, const std::vector<observed_run>& runs,
                         const estimate_options& options, const estimate_split& split = {});

const char* loss_name(loss_kind k);

// A factor's 95 % profile interval in words: "0.1557 .. 0.1634", "at least
// 3.1e-05, no upper bound up to the search's 1e+06", "at most ...", "any
// value in the search, 1e-06 .. 1e+06" (", in pieces" when disjoint);
// "none" without a profile.
std::string profile_text(const parameter_estimate& p, const estimate_options& options);
// Its linearised 95 % interval, "0.1557 .. 0.1634", or "none".
std::string linearised_text(const parameter_estimate& p);
// Whether that interval means something, for a free factor: empty when it
// does (it exists, spans at most a decade, and, with a profile, agrees with
// it: both closed and in one piece, each end of the linearised one within a
// quarter of the profile's reach on that side, in ln a); else why not:
// "none", "spans 141 decades", "unlike the profile".
std::string linearised_caveat(const parameter_estimate& p);

// Holds a parameter as --fix does: text "a1=VALUE" or "a2=VALUE", within
// the search box, each at most once. Throws input_error about the field.
// source.text: "a1=VALUE"; number: VALUE where the caller gave it as a number.
void hold_parameter(estimate_options& o, const field_ref& source, std::optional<double> number = std::nullopt);
void hold_parameter(estimate_options& o, const std::string& text);

// The loss by its name: none, huber or cauchy; throws input_error about the field "loss".
loss_kind loss_named(const std::string& name);

// Throws input_error when a free parameter's start (the base case's a1 or
// a2) lies outside the search box, naming the field a1 or a2.
void check_start(const estimate_options& o);
const char* verdict_name(verdict_kind k);

}  // namespace workbench

#endif
