#include "analysis/estimate.h"

#include "io/text.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>

#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <ceres/ceres.h>
#include <glog/logging.h>

namespace workbench {
namespace {

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
constexpr double offset = 100.0;
constexpr double relative_step = 1e-5;

constexpr std::array<const char*, 2> parameter_names = {"a1", "a2"};

std::string sig3(double v) { return sig(v, 3); }

// Ceres logs through glog to stderr: a start that ends at a point the model
// cannot solve, a singular covariance. Both are reported in the result, in
// the caller's words; glog stays quiet meanwhile.
class quiet_ceres {
public:
    quiet_ceres() : saved_(FLAGS_minloglevel) { FLAGS_minloglevel = google::GLOG_FATAL; }
    ~quiet_ceres() { FLAGS_minloglevel = saved_; }
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

    const model::outcome& at(std::size_t run, double u1, double u2) {
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
                first_failure = "run \"" + runs_[run].name + "\" at a1 = " + sig3(std::exp(u1 - offset)) +
                                ", a2 = " + sig3(std::exp(u2 - offset)) + ": " + s.out.failure;
            }
        }
        return s.out;
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
};

// One standardised residual. Returning false tells Ceres the point cannot
// be evaluated: a trial step there is rejected and the trust region shrinks.
struct residual_functor {
    evaluator* ev;
    std::size_t run;
    std::size_t q;
    double value;
    double sigma;
    bool operator()(const double* u1, const double* u2, double* r) const {
        const model::outcome& o = ev->at(run, u1[0], u2[0]);
        if (!o.ok) return false;
        r[0] = (o.values[q] - value) / sigma;
        return true;
    }
};

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

// Covariance of the free blocks (in ln a) at the current point; false when
// Ceres finds it singular.
bool covariance_of(ceres::Problem& problem, const std::vector<double*>& blocks,
                   std::vector<std::vector<double>>& cov) {
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
    if (!c.Compute(pairs, &problem)) return false;
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

}  // namespace

const char* loss_name(loss_kind k) {
    switch (k) {
        case loss_kind::huber: return "huber";
        case loss_kind::cauchy: return "cauchy";
        default: return "none";
    }
}

const char* verdict_name(verdict_kind k) {
    switch (k) {
        case verdict_kind::fixed: return "fixed";
        case verdict_kind::determined: return "determined";
        case verdict_kind::at_bound: return "at bound";
        case verdict_kind::singular: return "singular";
        case verdict_kind::wide: return "wide";
        default: return "combination";
    }
}

estimate_result estimate(model& m, const std::vector<observed_run>& runs, const estimate_options& opt) {
    // ---- Input ----
    if (!(opt.lower > 0.0) || !(opt.upper > opt.lower) || !std::isfinite(opt.upper)) {
        throw input_error("estimate: the search box must satisfy 0 < lower < upper");
    }
    const double u_lo = std::log(opt.lower) + offset, u_hi = std::log(opt.upper) + offset;
    estimate_result res;
    res.loss = opt.loss;
    res.loss_scale = opt.loss == loss_kind::none ? 0.0
                     : opt.loss_scale > 0.0       ? opt.loss_scale
                     : opt.loss == loss_kind::huber ? default_huber_scale
                                                    : default_cauchy_scale;
    for (std::size_t k = 0; k < 2; ++k) {
        res.parameters[k].name = parameter_names[k];
        res.parameters[k].free = !opt.fixed[k].has_value();
        const double v = opt.fixed[k] ? *opt.fixed[k] : opt.initial[k];
        if (!(v >= opt.lower && v <= opt.upper)) {
            throw input_error(std::string("estimate: ") + parameter_names[k] + " = " + sig3(v) +
                                        " lies outside the search box " + sig3(opt.lower) + " .. " +
                                        sig3(opt.upper));
        }
        res.free_parameters += res.parameters[k].free ? 1 : 0;
    }
    for (const observed_run& r : runs) {
        for (const auto& meas : r.measured) {
            if (!meas) continue;
            if (!(meas->sigma > 0.0) || !std::isfinite(meas->sigma) || !std::isfinite(meas->value)) {
                throw input_error("estimate: run \"" + r.name +
                                            "\": a measurement needs a finite value and a sigma > 0");
            }
            ++res.measurements;
        }
    }
    if (res.measurements < res.free_parameters || res.measurements == 0) {
        throw input_error("estimate: " + std::to_string(res.measurements) + " measurements for " +
                                    std::to_string(res.free_parameters) + " free parameters");
    }
    res.degrees_of_freedom = res.measurements - res.free_parameters;

    // ---- The problem: one residual block per measurement ----
    const quiet_ceres quiet;
    evaluator ev(m, runs);
    std::array<double, 2> u{};
    ceres::Problem problem;
    for (std::size_t k = 0; k < 2; ++k) {
        problem.AddParameterBlock(&u[k], 1);
        problem.SetParameterLowerBound(&u[k], 0, u_lo);
        problem.SetParameterUpperBound(&u[k], 0, u_hi);
        if (!res.parameters[k].free) problem.SetParameterBlockConstant(&u[k]);
    }
    ceres::LossFunction* loss = nullptr;
    if (opt.loss == loss_kind::huber) loss = new ceres::HuberLoss(res.loss_scale);
    if (opt.loss == loss_kind::cauchy) loss = new ceres::CauchyLoss(res.loss_scale);
    ceres::NumericDiffOptions nd;
    nd.relative_step_size = relative_step;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        for (std::size_t q = 0; q < quantity_count; ++q) {
            if (const auto& meas = runs[i].measured[q]) {
                auto* f = new residual_functor{&ev, i, q, meas->value, meas->sigma};
                auto* cost = new ceres::NumericDiffCostFunction<residual_functor, ceres::CENTRAL, 1, 1, 1>(
                    f, ceres::TAKE_OWNERSHIP, 1, nd);
                problem.AddResidualBlock(cost, loss, &u[0], &u[1]);
            }
        }
    }

    ceres::Solver::Options so;
    so.minimizer_type = ceres::TRUST_REGION;
    so.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
    so.linear_solver_type = ceres::DENSE_QR;
    so.max_num_iterations = opt.max_iterations;
    // Stop when a step changes the objective by less than 1e-10 of itself
    // (the reactor's own precision shows at about that level) or moves ln a
    // by less than 1e-6 (parameter_tolerance is relative to |u| ~ 100): far
    // below any standard error.
    so.function_tolerance = 1e-10;
    so.gradient_tolerance = 1e-10;
    so.parameter_tolerance = 1e-8;
    so.max_num_consecutive_invalid_steps = 20;  // failed points: keep shrinking the step
    // No projected line search after each step: with bounds, Ceres would
    // otherwise take the gradient (a central-difference Jacobian, i.e. four
    // reactor solves a run) at its trial points too, about three Jacobians
    // a step in all, for the same optimum. A step beyond a bound is still
    // projected back onto the box.
    so.max_num_line_search_step_size_iterations = 0;
    so.num_threads = 1;
    so.logging_type = ceres::SILENT;

    // ---- Starts: decades around the initial values ----
    std::array<std::vector<double>, 2> grid;
    for (std::size_t k = 0; k < 2; ++k) {
        if (opt.fixed[k]) {
            grid[k] = {std::log(*opt.fixed[k]) + offset};
            continue;
        }
        for (const double d : opt.start_decades) {
            const double s = std::clamp(std::log(opt.initial[k]) + d * std::log(10.0) + offset, u_lo, u_hi);
            if (std::find(grid[k].begin(), grid[k].end(), s) == grid[k].end()) grid[k].push_back(s);
        }
        if (grid[k].empty()) grid[k] = {std::log(opt.initial[k]) + offset};
    }
    bool any = false;
    std::vector<std::array<double, 2>> ends;  // where each start ended, as Ceres left u
    for (const double s1 : grid[0]) {
        for (const double s2 : grid[1]) {
            start_outcome so_out;
            const long failures_before = ev.failures;
            so_out.from = {std::exp(s1 - offset), std::exp(s2 - offset)};
            u = {s1, s2};
            if (res.free_parameters > 0) {
                ceres::Solver::Summary summary;
                ceres::Solve(so, &problem, &summary);
                so_out.usable = summary.IsSolutionUsable();
                so_out.converged = summary.termination_type == ceres::CONVERGENCE;
                if (so_out.usable) so_out.objective = 2.0 * summary.final_cost;
                so_out.iterations = summary.num_successful_steps + summary.num_unsuccessful_steps;
                so_out.message = summary.message;
            } else {
                so_out.usable = so_out.converged = true;
                so_out.message = "both parameters held: residuals only";
            }
            so_out.to = {std::exp(u[0] - offset), std::exp(u[1] - offset)};
            so_out.model_failures = ev.failures - failures_before;
            if (so_out.usable) {
                so_out.chi_square = chi_square_at(ev, runs, u[0], u[1]);
                so_out.usable = std::isfinite(so_out.chi_square);  // not where the model fails
                so_out.converged = so_out.converged && so_out.usable;
                if (res.free_parameters == 0) so_out.objective = so_out.chi_square;
            }
            if (so_out.usable && (!any || so_out.objective < res.starts[res.best_start].objective)) {
                res.best_start = res.starts.size();
                any = true;
            }
            res.starts.push_back(std::move(so_out));
            ends.push_back(u);
        }
    }
    if (!any) {
        throw solver_error("estimate: no start gave a usable fit (" + std::to_string(res.starts.size()) +
                             " tried): " + (ev.first_failure.empty() ? res.starts.front().message : ev.first_failure));
    }
    const start_outcome& best = res.starts[res.best_start];
    for (const start_outcome& s : res.starts) {
        if (s.usable && s.objective - best.objective <= 0.01) ++res.starts_agreeing;
    }
    u = ends[res.best_start];

    // ---- Residuals at the best fit ----
    res.chi_square = 0.0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const model::outcome& o = ev.at(i, u[0], u[1]);
        for (std::size_t q = 0; q < quantity_count; ++q) {
            const auto& meas = runs[i].measured[q];
            if (!meas) continue;
            residual_row row{i, static_cast<quantity>(q), meas->value, meas->sigma, o.values[q],
                             (meas->value - o.values[q]) / meas->sigma, false};
            row.outlier = std::abs(row.residual) > 3.0;
            res.outliers += row.outlier ? 1 : 0;
            res.chi_square += row.residual * row.residual;
            res.residuals.push_back(row);
        }
    }
    if (res.degrees_of_freedom > 0) {
        res.reduced_chi_square = res.chi_square / res.degrees_of_freedom;
        res.scale_factor = std::max(1.0, std::sqrt(res.reduced_chi_square));
        res.t_quantile = boost::math::quantile(
            boost::math::complement(boost::math::students_t(res.degrees_of_freedom), 0.025));
    } else {
        res.t_quantile = boost::math::quantile(boost::math::complement(boost::math::normal(), 0.025));
    }

    // ---- Covariance, intervals, verdicts ----
    std::vector<double*> free_blocks;
    std::vector<std::size_t> free_index;
    for (std::size_t k = 0; k < 2; ++k) {
        parameter_estimate& p = res.parameters[k];
        p.value = std::exp(u[k] - offset);
        if (p.free) {
            free_blocks.push_back(&u[k]);
            free_index.push_back(k);
        }
    }
    std::vector<std::vector<double>> cov;
    std::array<double, 2> var{NAN, NAN};
    if (!free_blocks.empty()) {
        if (covariance_of(problem, free_blocks, cov)) {
            for (std::size_t i = 0; i < free_blocks.size(); ++i) var[free_index[i]] = cov[i][i];
            if (free_blocks.size() == 2 && cov[0][0] > 0.0 && cov[1][1] > 0.0) {
                res.correlation = cov[0][1] / std::sqrt(cov[0][0] * cov[1][1]);
            }
        } else {
            res.covariance_singular = true;
            // Singular, or the derivatives could not be taken there.
            double cost = 0.0;
            ceres::CRSMatrix jacobian;
            res.covariance_unsolvable =
                !problem.Evaluate(ceres::Problem::EvaluateOptions(), &cost, nullptr, nullptr, &jacobian);
            res.covariance_note = res.covariance_unsolvable
                                      ? "the model could not be solved next to the best fit, where the "
                                        "derivatives need it"
                                      : "the covariance is singular";
            if (free_blocks.size() == 2) {
                // Each parameter alone, the other held at its value: one that
                // is then determined (interval within a decade) gets that
                // conditional interval.
                for (std::size_t k = 0; k < 2; ++k) {
                    problem.SetParameterBlockConstant(&u[1 - k]);
                    std::vector<std::vector<double>> c1;
                    if (covariance_of(problem, {&u[k]}, c1) &&
                        2.0 * res.t_quantile * std::sqrt(c1[0][0]) * res.scale_factor <= std::log(10.0)) {
                        var[k] = c1[0][0];
                        res.parameters[k].conditional = true;
                    }
                    problem.SetParameterBlockVariable(&u[1 - k]);
                }
            }
        }
    }
    res.model_evaluations = ev.evaluations;
    res.model_failures = ev.failures;
    const bool both_conditional = res.parameters[0].conditional && res.parameters[1].conditional;
    for (std::size_t k = 0; k < 2; ++k) {
        parameter_estimate& p = res.parameters[k];
        const std::string fix = "fix it with --fix " + p.name + "=" + sig3(opt.initial[k]) +
                                " (the case's value) or a value you trust";
        if (!p.free) {
            p.value = *opt.fixed[k];
            p.verdict = verdict_kind::fixed;
            p.verdict_text = "held at " + sig3(p.value) + " (--fix)";
            continue;
        }
        if (std::isfinite(var[k])) {
            p.se_ln_unscaled = std::sqrt(var[k]);
            p.se_ln = p.se_ln_unscaled * res.scale_factor;
            const double ln_a = u[k] - offset;
            p.lower95 = std::exp(ln_a - res.t_quantile * p.se_ln);
            p.upper95 = std::exp(ln_a + res.t_quantile * p.se_ln);
        }
        const std::string other = parameter_names[1 - k];
        if (both_conditional) {
            p.verdict = verdict_kind::combination;
            p.verdict_text = "not determined by these data (only a combination of a1 and a2 is; the "
                             "covariance is singular): " + fix;
        } else if (!std::isfinite(var[k])) {
            p.verdict = verdict_kind::singular;
            p.verdict_text = "not determined by these data (" + res.covariance_note + "): " + fix;
        } else if (std::min(u[k] - u_lo, u_hi - u[k]) < 1e-4) {
            p.verdict = verdict_kind::at_bound;
            p.verdict_text = "not determined by these data (the best fit lies at the edge of the search, " +
                             p.name + " = " + sig3(p.value) + "): " + fix;
        } else if (p.upper95 / p.lower95 > 10.0) {
            p.verdict = verdict_kind::wide;
            p.verdict_text = "not determined by these data (the 95 % interval " + sig3(p.lower95) + " .. " +
                             sig3(p.upper95) + " spans more than a decade): " + fix;
        } else {
            p.verdict = verdict_kind::determined;
            p.verdict_text = p.conditional ? "determined with " + other + " held at its value" : "determined";
        }
    }
    return res;
}

void hold_parameter(estimate_options& o, const std::string& text) {
    const std::size_t eq = text.find('=');
    const std::string name = text.substr(0, eq);
    if (eq == std::string::npos || (name != "a1" && name != "a2")) {
        throw input_error("--fix " + text + ": write --fix a1=VALUE or --fix a2=VALUE");
    }
    const double v = parse_number("--fix " + name, text.substr(eq + 1), number_rule::positive);
    const std::size_t k = name == "a1" ? 0 : 1;
    if (o.fixed[k]) throw input_error("--fix " + text + ": " + name + " is held twice");
    if (v < o.lower || v > o.upper) {
        throw input_error("--fix " + text + ": must lie within " + sig(o.lower) + " .. " + sig(o.upper));
    }
    o.fixed[k] = v;
}

loss_kind loss_named(const std::string& name) {
    if (name == "none") return loss_kind::none;
    if (name == "huber") return loss_kind::huber;
    if (name == "cauchy") return loss_kind::cauchy;
    throw input_error("--loss: must be none, huber or cauchy (got " + name + ")");
}

void check_start(const estimate_options& o) {
    for (std::size_t k = 0; k < 2; ++k) {
        const double v = o.initial[k];
        if (!o.fixed[k] && (v < o.lower || v > o.upper)) {
            const std::string name = parameter_names[k];
            throw input_error("--" + name + " (the start of the estimate): " + sig(v) +
                              " lies outside the search range " + sig(o.lower) + " .. " + sig(o.upper));
        }
    }
}

}  // namespace workbench
