#include "analysis/estimate.h"

#include "analysis/least_squares.h"
#include "analysis/profile.h"
#include "base/text.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>

namespace workbench {
namespace {

using detail::factor_at;
using detail::offset;
using detail::point;

std::string sig3(double v) { return sig(v, 3); }

}  // namespace

double t_975(int dof) {
    return boost::math::quantile(boost::math::complement(boost::math::students_t(std::max(1, dof)), 0.025));
}

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
        case verdict_kind::open: return "open";
        default: return "combination";
    }
}

namespace {

// Where the search box ends, for texts: "1e-06" and "1e+06".
std::string box_text(const estimate_options& opt) { return sig(opt.lower, 3) + " .. " + sig(opt.upper, 3); }

// The residuals, the fit's quality, the thresholds and the linearised
// (Wald) intervals at the best fit u.
void settle(estimate_result& res, detail::fit_problem& fp, const std::vector<observed_run>& runs,
            const estimate_options& opt, point u) {
    detail::evaluator& ev = fp.values();
    res.best_objective = res.starts[res.best_start].objective;
    res.starts_agreeing = 0;
    for (const start_outcome& s : res.starts) {
        if (s.usable && s.objective - res.best_objective <= 0.01) ++res.starts_agreeing;
    }
    // ---- Residuals at the best fit ----
    res.chi_square = 0.0;
    res.outliers = 0;
    res.residuals.clear();
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
    const double z = boost::math::quantile(boost::math::complement(boost::math::normal(), 0.025));
    // A robust loss: the scatter of the robust residuals (Huber's estimate
    // of an M-estimator's scale), so that an outlier the loss downweights
    // does not widen every interval as though it counted in full.
    res.robust_reduced_chi_square = NAN;
    if (res.loss != loss_kind::none && res.degrees_of_freedom > 0 && !res.residuals.empty()) {
        const double c = res.loss_scale;
        double psi2 = 0.0, dpsi = 0.0;
        for (const residual_row& row : res.residuals) {
            const double r = row.residual;
            if (res.loss == loss_kind::huber) {
                const bool inside = std::abs(r) <= c;
                psi2 += inside ? r * r : c * c;
                dpsi += inside ? 1.0 : 0.0;
            } else {
                const double t = r * r / (c * c);
                psi2 += r * r / ((1.0 + t) * (1.0 + t));
                dpsi += (1.0 - t) / ((1.0 + t) * (1.0 + t));
            }
        }
        const double mean_dpsi = dpsi / static_cast<double>(res.residuals.size());
        if (mean_dpsi > 0.0) res.robust_reduced_chi_square = psi2 / res.degrees_of_freedom / (mean_dpsi * mean_dpsi);
    }
    if (res.degrees_of_freedom > 0) {
        res.reduced_chi_square = res.chi_square / res.degrees_of_freedom;
        res.scale_factor = std::max(1.0, std::sqrt(std::isfinite(res.robust_reduced_chi_square)
                                                       ? res.robust_reduced_chi_square
                                                       : res.reduced_chi_square));
        res.t_quantile = t_975(res.degrees_of_freedom);
    } else {
        res.reduced_chi_square = NAN;
        res.scale_factor = 1.0;
        res.t_quantile = z;
    }
    if (opt.scatter) {
        res.scale_factor = opt.scatter->scale;
        res.t_quantile = t_975(opt.scatter->dof);
    }
    // Likelihood-ratio thresholds (see estimate_result): with the scatter
    // of the data taken into account as the linearised intervals take it.
    const double s2 = res.scale_factor * res.scale_factor;
    res.profile_threshold = s2 * res.t_quantile * res.t_quantile;
    res.region_threshold =
        s2 * 2.0 *
        (res.degrees_of_freedom > 0
             ? boost::math::quantile(boost::math::complement(
                   boost::math::fisher_f(2.0, static_cast<double>(res.degrees_of_freedom)), 0.05))
             : boost::math::quantile(boost::math::complement(boost::math::chi_squared(2.0), 0.05)) / 2.0);

    // ---- Covariance and linearised intervals ----
    std::vector<std::size_t> free_index;
    for (std::size_t k = 0; k < 2; ++k) {
        parameter_estimate& p = res.parameters[k];
        p.value = p.free ? factor_at(u[k]) : *opt.fixed[k];
        p.conditional = false;
        p.se_ln_unscaled = p.se_ln = p.lower95 = p.upper95 = NAN;
        if (p.free) free_index.push_back(k);
    }
    res.correlation = NAN;
    res.covariance.clear();
    res.covariance_singular = res.covariance_unsolvable = false;
    res.covariance_note.clear();
    std::vector<std::vector<double>> cov;
    std::array<double, 2> var{NAN, NAN};
    if (!free_index.empty()) {
        if (fp.covariance(u, {false, false}, cov)) {
            for (std::size_t i = 0; i < free_index.size(); ++i) var[free_index[i]] = cov[i][i];
            if (free_index.size() == 2) {
                res.covariance = cov;
                if (cov[0][0] > 0.0 && cov[1][1] > 0.0) res.correlation = cov[0][1] / std::sqrt(cov[0][0] * cov[1][1]);
            }
        } else {
            res.covariance_singular = true;
            // Singular, or the derivatives could not be taken there.
            res.covariance_unsolvable = !fp.jacobian_solvable(u);
            res.covariance_note = res.covariance_unsolvable
                                      ? "the model could not be solved next to the best fit, where the "
                                        "derivatives need it"
                                      : "the covariance is singular";
            if (free_index.size() == 2) {
                // Each parameter alone, the other held at its value: one that
                // is then determined (interval within a decade) gets that
                // conditional interval.
                for (std::size_t k = 0; k < 2; ++k) {
                    std::array<bool, 2> hold{false, false};
                    hold[1 - k] = true;
                    std::vector<std::vector<double>> c1;
                    if (fp.covariance(u, hold, c1) &&
                        2.0 * res.t_quantile * std::sqrt(c1[0][0]) * res.scale_factor <= std::log(10.0)) {
                        var[k] = c1[0][0];
                        res.parameters[k].conditional = true;
                    }
                }
            }
        }
    }
    for (std::size_t k = 0; k < 2; ++k) {
        parameter_estimate& p = res.parameters[k];
        if (!p.free || !std::isfinite(var[k])) continue;
        p.se_ln_unscaled = std::sqrt(var[k]);
        p.se_ln = p.se_ln_unscaled * res.scale_factor;
        const double ln_a = u[k] - offset;
        p.lower95 = std::exp(ln_a - res.t_quantile * p.se_ln);
        p.upper95 = std::exp(ln_a + res.t_quantile * p.se_ln);
    }
}

// The decimal place of a factor (see parameter_estimate::place).
void set_place(parameter_estimate& p) {
    p.relative = true;
    p.place = 0;
    double lo = NAN, hi = NAN;
    if (p.profile.computed) {
        if (p.profile.lower && p.profile.upper && !p.profile.disjoint) {
            lo = *p.profile.lower;
            hi = *p.profile.upper;
        }
    } else {
        lo = p.lower95;
        hi = p.upper95;
    }
    if (!p.free || !(lo > 0.0) || !(hi / lo <= 10.0)) return;
    const double half = std::min(p.value - lo, hi - p.value);
    if (!(half > 0.0)) return;
    p.relative = false;
    p.place = static_cast<int>(std::floor(std::log10(half))) - 1;
}

// The verdict on each factor: from its profile interval when there is one
// (the linearised interval of a nonlinear model can be confidently wrong),
// with the linearised diagnosis as the reason where it has one.
void set_verdicts(estimate_result& res, const estimate_options& opt, point u, double u_lo, double u_hi) {
    const bool both_conditional = res.parameters[0].conditional && res.parameters[1].conditional;
    for (std::size_t k = 0; k < 2; ++k) {
        parameter_estimate& p = res.parameters[k];
        set_place(p);
        const message fix = "fix it with " + mention("fix", p.name, sig(opt.initial[k], 6)) +
                            " (the case's value) or a value you trust";
        if (!p.free) {
            p.verdict = verdict_kind::fixed;
            p.verdict_text = "held at " + sig(p.value, 6) + " (" + mention("fix") + ")";
            continue;
        }
        const profile_interval& pr = p.profile;
        const bool at_edge = std::min(u[k] - u_lo, u_hi - u[k]) < 1e-4;
        const bool wald_narrow = std::isfinite(p.se_ln) && p.upper95 / p.lower95 <= 10.0;
        // Determined: the profile interval closed, in one piece and within a
        // decade; without a profile, the linearised interval within a decade.
        const bool determined =
            pr.computed ? pr.lower && pr.upper && !pr.disjoint && *pr.upper / *pr.lower <= 10.0 && !at_edge
                        : wald_narrow && !both_conditional && !at_edge;
        const std::string other = factor_names[1 - k];
        if (determined) {
            p.verdict = verdict_kind::determined;
            p.verdict_text = p.conditional && !pr.computed ? "determined with " + other + " held at its value"
                                                            : "determined";
            continue;
        }
        const std::string interval = pr.computed ? "; 95 % profile interval: " + profile_text(p, opt) : "";
        if (at_edge) {
            p.verdict = verdict_kind::at_bound;
            p.verdict_text = "not determined by these data (the best fit lies at the edge of the search, " +
                             p.name + " = " + factor_text(p, p.value) + interval + "): " + fix;
        } else if (both_conditional) {
            p.verdict = verdict_kind::combination;
            p.verdict_text = "not determined by these data (only a combination of a1 and a2 is; the "
                             "covariance is singular" + interval + "): " + fix;
        } else if (!std::isfinite(p.se_ln)) {
            p.verdict = verdict_kind::singular;
            p.verdict_text = "not determined by these data (" + res.covariance_note + interval + "): " + fix;
        } else if (pr.computed && (!pr.lower || !pr.upper)) {
            p.verdict = verdict_kind::open;
            p.verdict_text = "not determined by these data (95 % profile interval: " + profile_text(p, opt) + "): " + fix;
        } else {
            p.verdict = verdict_kind::wide;
            p.verdict_text = pr.computed ? "not determined by these data (95 % profile interval " + profile_text(p, opt) +
                                               (pr.disjoint ? ": values far from the best fit fit nearly as well"
                                                            : ": more than a decade") +
                                               "): " + fix
                                         : "not determined by these data (the 95 % interval " + factor_text(p, p.lower95) +
                                               " .. " + factor_text(p, p.upper95) + " spans more than a decade): " + fix;
        }
    }
}

// One start of the search, as the result lists it.
start_outcome start_of(detail::fit_problem& fp, const std::vector<observed_run>& runs, point from) {
    start_outcome out;
    const long failures_before = fp.values().failures;
    out.from = {factor_at(from[0]), factor_at(from[1])};
    const detail::local_fit f = fp.minimise(from);
    out.usable = f.usable;
    out.converged = f.converged;
    out.objective = f.objective;
    out.iterations = f.iterations;
    out.message = f.message;
    out.to = {factor_at(f.u[0]), factor_at(f.u[1])};
    if (out.usable) out.chi_square = detail::chi_square_at(fp.values(), runs, f.u[0], f.u[1]);
    out.model_failures = fp.values().failures - failures_before;
    return out;
}

}  // namespace

std::string factor_text(const parameter_estimate& p, double v) {
    if (!std::isfinite(v)) return "-";
    if (!p.free) return sig(v, 6);
    if (p.relative) return sig(v, 2);
    return at_place(v, p.place);
}

std::string profile_text(const parameter_estimate& p, const estimate_options& opt) {
    const profile_interval& pr = p.profile;
    if (!pr.computed) return "none";
    std::string s;
    if (pr.lower && pr.upper) {
        s = factor_text(p, *pr.lower) + " .. " + factor_text(p, *pr.upper);
    } else if (pr.lower) {
        s = "at least " + factor_text(p, *pr.lower) + ", no upper bound up to the search's " + sig(opt.upper, 3);
    } else if (pr.upper) {
        s = "at most " + factor_text(p, *pr.upper) + ", no lower bound down to the search's " + sig(opt.lower, 3);
    } else {
        s = "any value in the search, " + box_text(opt);
    }
    if (pr.disjoint) s += ", in pieces";
    return s;
}

std::string linearised_text(const parameter_estimate& p) {
    if (!p.free || !std::isfinite(p.lower95) || !std::isfinite(p.upper95) || !(p.lower95 > 0.0)) return "none";
    return factor_text(p, p.lower95) + " .. " + factor_text(p, p.upper95);
}

std::string linearised_caveat(const parameter_estimate& p) {
    if (linearised_text(p) == "none") return "none";
    const double decades = std::log10(p.upper95 / p.lower95);
    if (decades > 1.0) return "spans " + (decades < 10.0 ? sig(decades, 2) : std::to_string(std::lround(decades))) + " decades";
    const profile_interval& pr = p.profile;
    if (!pr.computed) return "";
    if (!pr.lower || !pr.upper || pr.disjoint) return "unlike the profile";
    const auto apart = [&](double linearised, double profile) {
        return std::abs(std::log(linearised / profile)) > 0.25 * std::abs(std::log(profile / p.value));
    };
    return apart(p.lower95, *pr.lower) || apart(p.upper95, *pr.upper) ? "unlike the profile" : "";
}

estimate_result estimate(model& m, const std::vector<observed_run>& runs, const estimate_options& opt,
                         const estimate_split& split) {
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
        res.parameters[k].name = factor_names[k];
        res.parameters[k].free = !opt.fixed[k].has_value();
        const double v = opt.fixed[k] ? *opt.fixed[k] : opt.initial[k];
        if (!(v >= opt.lower && v <= opt.upper)) {
            throw input_error(std::string("estimate: ") + factor_names[k] + " = " + sig3(v) +
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

    const detail::quiet_ceres quiet;
    detail::fit_problem fp(m, runs, opt, res.loss_scale);

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
    std::vector<point> ends;  // where each start ended, as Ceres left u
    const auto add_start = [&](start_outcome s) {
        if (s.usable && (!any || s.objective < res.starts[res.best_start].objective)) {
            res.best_start = res.starts.size();
            any = true;
        }
        res.starts.push_back(std::move(s));
        ends.push_back({std::log(res.starts.back().to[0]) + offset, std::log(res.starts.back().to[1]) + offset});
    };
    // The starts, each its own piece of work.
    std::vector<point> froms;
    for (const double s1 : grid[0]) {
        for (const double s2 : grid[1]) froms.push_back({s1, s2});
    }
    detail::run_pieces(
        m, split, froms.size(),
        [&](std::size_t i, model& own) {
            const std::unique_ptr<detail::fit_problem> f = fp.on(own);
            const start_outcome st = start_of(*f, runs, froms[i]);
            return start_answer_bytes({st, detail::counts_of(f->values())});
        },
        [&](std::size_t, const std::string& bytes) {
            start_answer a = read_start_answer(bytes);
            detail::add_counts(a.counts, fp.values());
            add_start(std::move(a.start));
        });
    if (!any) {
        detail::evaluator& ev = fp.values();
        throw solver_error("estimate: no start gave a usable fit (" + std::to_string(res.starts.size()) +
                             " tried): " + (ev.first_failure.empty() ? res.starts.front().message : ev.first_failure));
    }
    settle(res, fp, runs, opt, ends[res.best_start]);

    // ---- Profile likelihood ----
    // A profile that finds a better fit than every start (another basin the
    // starts missed) becomes a start of its own, and the profile is taken
    // again from there.
    if (opt.profile && res.free_parameters > 0) {
        for (int attempt = 0;; ++attempt) {
            const std::optional<point> better = detail::profile_factors(fp, res, ends[res.best_start], split);
            if (!better || attempt == 2) break;
            const std::size_t before = res.best_start;
            add_start(start_of(fp, runs, *better));
            if (res.best_start == before) break;
            settle(res, fp, runs, opt, ends[res.best_start]);
        }
    }
    res.model_evaluations = fp.values().evaluations;
    res.model_failures = fp.values().failures;
    set_verdicts(res, opt, ends[res.best_start], u_lo, u_hi);
    return res;
}

void hold_parameter(estimate_options& o, const std::string& text) { hold_parameter(o, given("fix", text)); }

void hold_parameter(estimate_options& o, const field_ref& source, std::optional<double> number) {
    const std::string& text = source.text;
    const std::size_t eq = text.find('=');
    const std::string name = text.substr(0, eq);
    if (eq == std::string::npos || (name != "a1" && name != "a2")) {
        throw input_error(source, "write " + mention("fix", "a1", "VALUE") + " or " + mention("fix", "a2", "VALUE"));
    }
    field_ref factor = source;
    factor.text = name;
    const std::string value = text.substr(eq + 1);
    const double v = number_given(factor, number ? given_number(value, *number) : given_number(value), number_rule::positive);
    const std::size_t k = name == "a1" ? 0 : 1;
    if (o.fixed[k]) throw input_error(source, name + " is held twice");
    if (v < o.lower || v > o.upper) throw input_error(source, "must lie within " + sig(o.lower) + " .. " + sig(o.upper));
    o.fixed[k] = v;
}

loss_kind loss_named(const std::string& name) {
    if (name == "none") return loss_kind::none;
    if (name == "huber") return loss_kind::huber;
    if (name == "cauchy") return loss_kind::cauchy;
    throw input_error(field("loss"), "must be none, huber or cauchy (got " + name + ")");
}

void check_start(const estimate_options& o) {
    for (std::size_t k = 0; k < 2; ++k) {
        const double v = o.initial[k];
        if (!o.fixed[k] && (v < o.lower || v > o.upper)) {
            const std::string name = factor_names[k];
            throw input_error(mention(name) + " (the start of the estimate): " + sig(v) +
                              " lies outside the search range " + sig(o.lower) + " .. " + sig(o.upper));
        }
    }
}

}  // namespace workbench
