#include "analysis/least_squares.h"

#include "base/text.h"

#include <exception>
#include <utility>

#include <glog/logging.h>

namespace workbench::detail {
namespace {

// One standardised residual, times the square root of its run's weight.
// Returning false tells Ceres the point cannot be evaluated: a trial step
// there is rejected and the trust region shrinks.
struct residual_functor {
    evaluator* ev;
    std::size_t run;
    std::size_t q;
    double value;
    double scale;  // sqrt(weight) / sigma
    bool operator()(const double* u1, const double* u2, double* r) const {
        // Once the work is to stop, no point can be evaluated; and nothing
        // is thrown through Ceres: what is caught is thrown once it returns.
        if (ev->stopped()) return false;
        try {
            const model::outcome& o = ev->at(run, u1[0], u2[0]);
            if (!o.ok) return false;
            r[0] = (o.values[q] - value) * scale;
            return true;
        } catch (...) {
            ev->keep(std::current_exception());
            return false;
        }
    }
};

}  // namespace

quiet_ceres::quiet_ceres() : saved_(FLAGS_minloglevel) { FLAGS_minloglevel = google::GLOG_FATAL; }
quiet_ceres::~quiet_ceres() { FLAGS_minloglevel = saved_; }

const model::outcome& evaluator::at(std::size_t run, double u1, double u2) {
    memo& c = memo_[run];
    for (const slot& s : c.slots) {
        if (s.filled && s.u1 == u1 && s.u2 == u2) return s.out;
    }
    slot& s = c.slots[c.next];
    c.next = (c.next + 1) % c.slots.size();
    s.filled = true;
    s.u1 = u1;
    s.u2 = u2;
    s.out = m_.predict(run, u1 - offset, u2 - offset);
    for (const double v : s.out.values) {
        if (s.out.ok && !std::isfinite(v)) {
            s.out.ok = false;
            s.out.failure = "a predicted value is not finite";
        }
    }
    ++evaluations;
    if (!s.out.ok) {
        ++failures;
        if (first_failure.empty()) {
            first_failure = "run \"" + runs_[run].name + "\" at a1 = " + sig(factor_at(u1), 3) +
                            ", a2 = " + sig(factor_at(u2), 3) + ": " + s.out.failure;
        }
    }
    return s.out;
}

void evaluator::after_ceres() {
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    if (m_.stopped()) m_.check_stop();
}

fit_problem::fit_problem(model& m, const std::vector<observed_run>& runs, const estimate_options& options,
                         double loss_scale, const std::vector<double>* weights)
    : runs_(runs),
      options_(options),
      loss_scale_(loss_scale),
      weights_(weights != nullptr ? std::optional<std::vector<double>>(*weights) : std::nullopt),
      ev_(m, runs),
      u_lo_(std::log(options.lower) + offset),
      u_hi_(std::log(options.upper) + offset) {
    for (std::size_t k = 0; k < 2; ++k) {
        problem_.AddParameterBlock(&u_[k], 1);
        problem_.SetParameterLowerBound(&u_[k], 0, u_lo_);
        problem_.SetParameterUpperBound(&u_[k], 0, u_hi_);
    }
    ceres::LossFunction* loss = nullptr;
    if (options.loss == loss_kind::huber) loss = new ceres::HuberLoss(loss_scale);
    if (options.loss == loss_kind::cauchy) loss = new ceres::CauchyLoss(loss_scale);
    // The problem owns the loss once a block uses it; one the blocks never
    // take is ours to delete.
    std::unique_ptr<ceres::LossFunction> unused(loss);
    ceres::NumericDiffOptions nd;
    nd.relative_step_size = relative_step;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const double w = weights != nullptr ? (*weights)[i] : 1.0;
        if (!(w > 0.0)) continue;
        for (std::size_t q = 0; q < quantity_count; ++q) {
            if (const auto& meas = runs[i].measured[q]) {
                auto* f = new residual_functor{&ev_, i, q, meas->value, std::sqrt(w) / meas->sigma};
                auto* cost = new ceres::NumericDiffCostFunction<residual_functor, ceres::CENTRAL, 1, 1, 1>(
                    f, ceres::TAKE_OWNERSHIP, 1, nd);
                problem_.AddResidualBlock(cost, loss, &u_[0], &u_[1]);
                unused.release();
            }
        }
    }
    solver_.minimizer_type = ceres::TRUST_REGION;
    solver_.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
    solver_.linear_solver_type = ceres::DENSE_QR;
    // Stop when a step changes the objective by less than 1e-10 of itself
    // (the reactor's own precision shows at about that level) or moves ln a
    // by less than 1e-6 (parameter_tolerance is relative to |u| ~ 100): far
    // below any standard error.
    solver_.function_tolerance = 1e-10;
    solver_.gradient_tolerance = 1e-10;
    solver_.parameter_tolerance = 1e-8;
    solver_.max_num_consecutive_invalid_steps = 20;  // failed points: keep shrinking the step
    // No projected line search after each step: with bounds, Ceres would
    // otherwise take the gradient (a central-difference Jacobian, i.e. four
    // reactor solves a run) at its trial points too, about three Jacobians
    // a step in all, for the same optimum. A step beyond a bound is still
    // projected back onto the box.
    solver_.max_num_line_search_step_size_iterations = 0;
    solver_.num_threads = 1;
    solver_.logging_type = ceres::SILENT;
    solver_.callbacks.push_back(&stop_);
}

void fit_problem::set_constant(std::array<bool, 2> hold) {
    for (std::size_t k = 0; k < 2; ++k) {
        if (hold[k] || !free(k)) {
            problem_.SetParameterBlockConstant(&u_[k]);
        } else {
            problem_.SetParameterBlockVariable(&u_[k]);
        }
    }
}

local_fit fit_problem::minimise(point u0, std::array<bool, 2> hold, int max_iterations) {
    local_fit out;
    set_constant(hold);
    u_ = u0;
    const bool any_free = (free(0) && !hold[0]) || (free(1) && !hold[1]);
    if (any_free && problem_.NumResidualBlocks() > 0) {
        ceres::Solver::Options so = solver_;
        so.max_num_iterations = max_iterations;
        ceres::Solver::Summary summary;
        ceres::Solve(so, &problem_, &summary);
        ev_.after_ceres();
        out.usable = summary.IsSolutionUsable();
        out.converged = summary.termination_type == ceres::CONVERGENCE;
        out.iterations = summary.num_successful_steps + summary.num_unsuccessful_steps;
        out.message = summary.message;
    } else {
        out.usable = out.converged = true;
        out.message = "both parameters held: residuals only";
    }
    out.u = u_;
    if (out.usable) {
        out.objective = objective(out.u);
        out.usable = std::isfinite(out.objective);  // not where the model fails
        out.converged = out.converged && out.usable;
    }
    return out;
}

double fit_problem::objective(point u) {
    u_ = u;
    double cost = 0.0;
    const bool evaluated = problem_.Evaluate(ceres::Problem::EvaluateOptions(), &cost, nullptr, nullptr, nullptr);
    ev_.after_ceres();
    return evaluated ? 2.0 * cost : NAN;
}

bool fit_problem::covariance(point u, std::array<bool, 2> hold, std::vector<std::vector<double>>& cov) {
    // Ceres takes the Jacobian for the covariance without asking whether it
    // could be evaluated, and Eigen's SVD of one that could not (the model
    // unsolvable beside u, or the work stopped) may crash: it is taken here
    // first, and the covariance only where it can be.
    set_constant(hold);
    if (!jacobian_evaluates(u)) return false;
    std::vector<double*> blocks;
    for (std::size_t k = 0; k < 2; ++k) {
        if (free(k) && !hold[k]) blocks.push_back(&u_[k]);
    }
    if (blocks.empty()) return false;
    ceres::Covariance::Options o;
    o.algorithm_type = ceres::DENSE_SVD;
    o.null_space_rank = 0;  // a rank-deficient Jacobian is reported, not pseudo-inverted
    // Singular when the Jacobian's smallest singular value is below 1e-5 of
    // its largest (Ceres compares with the square root of this number). The
    // reactor's 1e-10 relative precision, divided by the 1e-3 difference
    // step, leaves about 1e-7 of noise in each derivative: a direction the
    // data see 1e5 times less than the other is that noise, not information.
    o.min_reciprocal_condition_number = 1e-10;
    o.num_threads = 1;
    ceres::Covariance c(o);
    std::vector<std::pair<const double*, const double*>> pairs;
    for (double* a : blocks) {
        for (double* b : blocks) pairs.emplace_back(a, b);
    }
    const bool computed = c.Compute(pairs, &problem_);
    ev_.after_ceres();
    if (!computed) return false;
    cov.assign(blocks.size(), std::vector<double>(blocks.size(), 0.0));
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        for (std::size_t j = 0; j < blocks.size(); ++j) {
            if (!c.GetCovarianceBlock(blocks[i], blocks[j], &cov[i][j])) return false;
        }
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (!(cov[i][i] >= 0.0) || !std::isfinite(cov[i][i])) return false;
    }
    return true;
}

bool fit_problem::jacobian_solvable(point u) {
    set_constant({false, false});
    return jacobian_evaluates(u);
}

bool fit_problem::jacobian_evaluates(point u) {
    u_ = u;
    double cost = 0.0;
    ceres::CRSMatrix jacobian;
    const bool evaluated = problem_.Evaluate(ceres::Problem::EvaluateOptions(), &cost, nullptr, nullptr, &jacobian);
    ev_.after_ceres();
    return evaluated;
}

piece_counts counts_of(const evaluator& ev) { return {ev.evaluations, ev.failures, ev.first_failure}; }

void add_counts(const piece_counts& c, evaluator& ev) {
    ev.evaluations += c.evaluations;
    ev.failures += c.failures;
    if (ev.first_failure.empty()) ev.first_failure = c.first_failure;
}

std::string piece_bytes(const std::string& result, long predictions) {
    return piece_answer_bytes({result, predictions});
}

void run_pieces(model& m, const estimate_split& split, std::size_t n,
                const std::function<std::string(std::size_t, model&)>& piece,
                const std::function<void(std::size_t, const std::string&)>& take, const char* progress,
                const char* kind, const std::function<std::string()>& state) {
    std::size_t done = 0;
    chunk_work work;
    work.chunks = n;
    work.run = [&](std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit) {
        if (from > 0) return;  // its one result is lost
        const std::unique_ptr<model> own = m.copy();
        model& use = own ? *own : m;
        // The piece first: its copy's predictions are counted after it.
        const std::string result = piece(i, use);
        emit(piece_bytes(result, own ? own->predictions() : 0L));
    };
    work.take = [&](std::size_t i, const std::string& bytes) {
        const piece_answer a = read_piece_answer(bytes);
        m.add_predictions(a.predictions);
        take(i, a.result);
        ++done;
        if (progress != nullptr && split.workers.progress) split.workers.progress(progress, done, n);
    };
    work.results = [](std::size_t) { return std::size_t{1}; };
    if (kind != nullptr) {
        work.kind = kind;
        work.state = state;
    }
    run_chunks(split.workers, work, split.stop);
}

double chi_square_at(evaluator& ev, const std::vector<observed_run>& runs, double u1, double u2) {
    double chi2 = 0.0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const model::outcome& o = ev.at(i, u1, u2);
        if (!o.ok) return NAN;
        for (std::size_t q = 0; q < quantity_count; ++q) {
            if (const auto& m = runs[i].measured[q]) {
                const double r = (m->value - o.values[q]) / m->sigma;
                chi2 += r * r;
            }
        }
    }
    return chi2;
}

}  // namespace workbench::detail
