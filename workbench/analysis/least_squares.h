// The weighted least-squares problem behind an estimate, shared by the fit,
// the profile likelihood, the region and the resampling (analysis/ only):
// the model's values memoised by point, one Ceres residual block per
// measurement, and a local minimisation over the factors not held.
//
// Points are u = ln a + offset for a1 and a2 (see offset below).
#ifndef UREA_WORKBENCH_ANALYSIS_LEAST_SQUARES_H
#define UREA_WORKBENCH_ANALYSIS_LEAST_SQUARES_H

#include <array>
#include <cmath>
#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <ceres/ceres.h>

#include "analysis/answers.h"
#include "analysis/estimate.h"

namespace workbench::detail {

// Ceres holds u = ln a + offset for each rate factor. Its central differences
// step by relative_step * |u|; with the offset |u| is 86..114 over the whole
// box (a = 1e-6 .. 1e6), so the step in ln a, which is the relative step in
// a, is 0.86e-3 .. 1.14e-3 everywhere (without it, a = 1 would give ln a = 0
// and no scale at all). Why about 1e-3: the reactor's solution carries
// relative errors of about 1e-10, which a central difference divides by the
// step, while its truncation error grows as the step squared times the third
// derivative (of the order of the first for a response saturating in ln a);
// the sum is smallest near (3e-10)^(1/3) = 7e-4. Both parts are then below
// 1e-6 of the derivative, far below what Levenberg-Marquardt or the
// covariance can notice.
inline constexpr double offset = 100.0;
inline constexpr double relative_step = 1e-5;

using point = std::array<double, 2>;  // u1, u2

inline double factor_at(double u) { return std::exp(u - offset); }

// Ceres logs through glog to stderr: a start that ends at a point the model
// cannot solve, a singular covariance. Both are reported in the result, in
// the caller's words; glog stays quiet meanwhile.
class quiet_ceres {
public:
    quiet_ceres();
    ~quiet_ceres();
    quiet_ceres(const quiet_ceres&) = delete;
    quiet_ceres& operator=(const quiet_ceres&) = delete;

private:
    int saved_;
};

// The model's values at each point asked for, remembered for the last few
// points of each run: Ceres evaluates one measurement at a time, and every
// measurement of a run needs the same points (the point itself and the
// central differences around it).
class evaluator {
public:
    evaluator(model& m, const std::vector<observed_run>& runs) : m_(m), runs_(runs), memo_(runs.size()) {}

    const model::outcome& at(std::size_t run, double u1, double u2);
    model& subject() const { return m_; }

    // Called once Ceres has handed back: throws what a residual caught
    // (nothing may be thrown through Ceres), or the model's stop.
    void after_ceres();
    bool stopped() const { return error_ != nullptr || m_.stopped(); }
    // What a residual caught, kept for after_ceres().
    void keep(std::exception_ptr e) {
        if (!error_) error_ = std::move(e);
    }

    long evaluations = 0;
    long failures = 0;
    std::string first_failure;

private:
    struct slot {
        bool filled = false;
        double u1 = 0.0, u2 = 0.0;
        model::outcome out;
    };
    struct memo {
        std::array<slot, 8> slots;
        std::size_t next = 0;
    };
    model& m_;
    const std::vector<observed_run>& runs_;
    std::vector<memo> memo_;
    std::exception_ptr error_;
};

// A local minimisation's outcome.
struct local_fit {
    bool usable = false;     // Ceres ended with a solution the model can be solved at
    bool converged = false;
    point u{};
    double objective = NAN;  // 2 x Ceres' cost: the sum of squared (or robust) standardised residuals
    int iterations = 0;
    std::string message;
};

// The problem of an estimate: one residual block per measurement of each run
// with a weight > 0 (weights: by run, how many times it counts; none: once
// each), the box and the loss of the options.
class fit_problem {
public:
    fit_problem(model& m, const std::vector<observed_run>& runs, const estimate_options& options,
                double loss_scale, const std::vector<double>* weights = nullptr);

    // Minimises from u0 over the factors neither held by the options nor by
    // `hold`, at most max_iterations steps.
    local_fit minimise(point u0, std::array<bool, 2> hold, int max_iterations);
    local_fit minimise(point u0) { return minimise(u0, {false, false}, options_.max_iterations); }

    // What is minimised at u (robust loss and weights included); NaN where
    // the model cannot be solved.
    double objective(point u);

    // The covariance of the free blocks (in ln a) at u; false when singular.
    // hold: blocks treated as constant for it.
    bool covariance(point u, std::array<bool, 2> hold, std::vector<std::vector<double>>& cov);
    // Whether the Jacobian can be taken at u (the model solvable around it).
    bool jacobian_solvable(point u);

    // The same problem on another model (a copy of this one's).
    std::unique_ptr<fit_problem> on(model& other) const {
        return std::make_unique<fit_problem>(other, runs_, options_, loss_scale_, weights_ ? &*weights_ : nullptr);
    }

    double u_lo() const { return u_lo_; }
    double u_hi() const { return u_hi_; }
    bool free(std::size_t k) const { return !options_.fixed[k].has_value(); }
    const estimate_options& options() const { return options_; }
    evaluator& values() { return ev_; }

private:
    void set_constant(std::array<bool, 2> hold);
    // Whether the Jacobian of the blocks not constant can be taken at u.
    bool jacobian_evaluates(point u);

    // Ends a minimisation at once when the work is to stop.
    class stop_callback : public ceres::IterationCallback {
    public:
        explicit stop_callback(const evaluator& ev) : ev_(ev) {}
        ceres::CallbackReturnType operator()(const ceres::IterationSummary&) override {
            return ev_.stopped() ? ceres::SOLVER_ABORT : ceres::SOLVER_CONTINUE;
        }

    private:
        const evaluator& ev_;
    };

    const std::vector<observed_run>& runs_;
    estimate_options options_;
    double loss_scale_;
    std::optional<std::vector<double>> weights_;
    evaluator ev_;
    stop_callback stop_{ev_};
    point u_{};
    ceres::Problem problem_;
    double u_lo_, u_hi_;
    ceres::Solver::Options solver_;
};

// An evaluator's counts (evaluations, failures, the first failure) sent
// with a piece of work's result, and added to another's.
piece_counts counts_of(const evaluator& ev);
void add_counts(const piece_counts& c, evaluator& ev);

// Runs n independent pieces of an estimate on the split's workers, each
// on a copy of m as it is now (m itself when the model keeps no state):
// piece(i, model) returns its result as bytes, which take(i, bytes) gets
// here, in order; the copies' predictions are counted with m's. A piece
// lost with its worker ends the estimate (solver_error, naming why).
// progress: what is counted, for the split's progress callback (none: not
// reported).
// kind, state: for pieces that may go to other machines (chunk_work).
void run_pieces(model& m, const estimate_split& split, std::size_t n,
                const std::function<std::string(std::size_t, model&)>& piece,
                const std::function<void(std::size_t, const std::string&)>& take, const char* progress = nullptr,
                const char* kind = nullptr, const std::function<std::string()>& state = {});
// What a piece sends back: its result and its model copy's predictions.
std::string piece_bytes(const std::string& result, long predictions);

// Sum of squared standardised residuals of every measurement at u (each run
// once): NaN where the model cannot be solved.
double chi_square_at(evaluator& ev, const std::vector<observed_run>& runs, double u1, double u2);

}  // namespace workbench::detail

#endif
