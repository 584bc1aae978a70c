#include "analysis/monitor.h"

#include <algorithm>
#include <cmath>

#include <boost/math/distributions/chi_squared.hpp>

#include "analysis/runs_model.h"
#include "base/text.h"
#include "io/runs_file.h"
#include "model/properties.h"
#include "solver/reactor.h"

namespace workbench {

void set_meter_sigma(monitor_options& o, const std::string& text) {
    const std::size_t eq = text.find('=');
    const std::optional<setting> s = eq == std::string::npos ? std::nullopt : setting_named(text.substr(0, eq));
    const bool feed = s && *s >= setting::feed_NH3;
    if (!feed) {
        throw input_error("--meter-sigma " + text +
                          ": write NAME=PERCENT, NAME a feed flow or ratio column (feed_kmol_h.CO2, nh3_co2, ...)");
    }
    std::string pct = text.substr(eq + 1);
    if (!pct.empty() && pct.back() == '%') pct.pop_back();
    const double v = parse_number("--meter-sigma " + text.substr(0, eq), pct, number_rule::positive);
    if (v > 100.0) throw input_error("--meter-sigma " + text + ": a percentage of the reading, at most 100");
    o.meter_sigma[static_cast<std::size_t>(*s)] = v / 100.0;
}

monitor_problem monitor_problem_of(history h, const reactor_case& base, monitor_options o) {
    monitor_problem p;
    p.warnings = validate(base);
    p.warnings.insert(p.warnings.end(), h.warnings.begin(), h.warnings.end());
    if (o.step_ms == 0) o.step_ms = o.window_ms;
    if (o.window_ms <= 0 || o.step_ms <= 0) throw input_error("--window and --step must be positive durations");
    if (o.step_ms > o.window_ms) {
        throw input_error("--step " + duration_text(o.step_ms) + " is longer than --window " + duration_text(o.window_ms) +
                          ": the rows between the windows would be left out; give a step at most the window");
    }
    if (o.a1 && !(*o.a1 >= factor_lower && *o.a1 <= factor_upper)) {
        throw input_error("--fix a1=" + sig(*o.a1) + ": must lie within " + sig(factor_lower) + " .. " + sig(factor_upper));
    }
    // The rows' spacing: the median of the positive steps between them.
    std::vector<std::int64_t> steps;
    for (std::size_t k = 1; k < h.rows(); ++k) {
        if (h.time[k] > h.time[k - 1]) steps.push_back(h.time[k] - h.time[k - 1]);
    }
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
        p.spacing_ms = steps[steps.size() / 2];
    }
    if (o.window_ms < p.spacing_ms) {
        throw input_error("--window " + duration_text(o.window_ms) + " is shorter than the rows' spacing (" +
                          duration_text(p.spacing_ms) + ", the median in " + h.file +
                          "): a window would hold one row at most; give at least " + duration_text(p.spacing_ms));
    }
    bool lab = false;
    for (const history_column& c : h.columns) {
        if (c.kind != column_kind::measured) continue;
        lab = lab || std::any_of(c.values.begin(), c.values.end(), [](double v) { return std::isfinite(v); });
    }
    if (!lab) {
        throw runs_error(h.file, 0, 0, "no lab sample: no row gives a usable value of " + quantity_columns() +
                                           ", so there is nothing to fit a2 to");
    }
    p.h = std::move(h);
    p.base = base;
    p.options = o;
    return p;
}

namespace {

// The reactor as the estimator's model for one window at a time, warm-
// started from the last solution (of this window or of the one before).
class window_model final : public model {
public:
    window_model(workbench_host& h, reactor_case c) : h_(h), c_(std::move(c)) {}
    void set_case(reactor_case c) { c_ = std::move(c); }
    const reactor_case& current() const { return c_; }
    outcome predict(std::size_t, double ln_a1, double ln_a2) override {
        c_.a1 = std::exp(ln_a1);
        c_.a2 = std::exp(ln_a2);
        ++solves;
        return predict_run(c_, h_, &warm_);
    }
    long solves = 0;

private:
    workbench_host& h_;
    reactor_case c_;
    std::vector<station> warm_;
};

// The conversion the lab's analysis gives: urea over all carbon, when the
// feed holds no urea.
double lab_conversion(const observations& m, const reactor_case& c) {
    const auto& co2 = m[static_cast<std::size_t>(quantity::w_co2)];
    const auto& urea = m[static_cast<std::size_t>(quantity::w_urea)];
    if (!co2 || !urea || c.feed_kmol_h[UREA] > 0.0) return NAN;
    const double nc = co2->value / molecular_weight[CO2], nu = urea->value / molecular_weight[UREA];
    return nc + nu > 0.0 ? nu / (nc + nu) : NAN;
}

// a1's profile over some windows, a2 free in each: the sum of the windows'
// best chi-square at each a1, scanned a decade at a time over the search
// box, its minimum refined by golden section, and where it rises by the
// 95 % threshold on each side (the chi-square quantile on one degree of
// freedom, times the windows' scatter about their fits when above 1); open
// where it does not within the box. fit(window, a1, a2, measurements): the
// window's best chi-square at a1, from a2 (replaced by the best a2), NaN
// where it has no solution.
struct a1_profile {
    std::size_t windows = 0;
    double best = NAN;
    std::optional<double> lower, upper;
    bool determined = false;  // closed on both sides, within a decade
};

a1_profile profile_a1(const std::vector<std::size_t>& fittable,
                      const std::function<double(std::size_t, double, double&, int&)>& fit) {
    a1_profile out;
    const std::size_t n = std::min<std::size_t>(16, fittable.size());
    std::vector<std::size_t> some;
    for (std::size_t k = 0; k < n; ++k) some.push_back(fittable[k * fittable.size() / n]);
    out.windows = n;
    std::vector<double> a2(n, default_a2);
    int measurements = 0;
    const auto objective = [&](double u) {
        double sum = 0.0;
        measurements = 0;
        for (std::size_t k = 0; k < n; ++k) {
            int m = 0;
            const double c = fit(some[k], std::clamp(std::exp(u), factor_lower, factor_upper), a2[k], m);
            if (!std::isfinite(c)) return static_cast<double>(NAN);
            sum += c;
            measurements += m;
        }
        return sum;
    };
    const double lo = std::log(factor_lower), hi = std::log(factor_upper), decade = std::log(10.0);
    std::vector<double> us, fs;
    for (double u = lo; u <= hi + 1e-9; u += decade) {
        us.push_back(u);
        fs.push_back(objective(u));
    }
    std::size_t m = us.size();
    for (std::size_t k = 0; k < us.size(); ++k) {
        if (std::isfinite(fs[k]) && (m == us.size() || fs[k] < fs[m])) m = k;
    }
    if (m == us.size()) return out;
    // Golden section over the decades beside the best grid point.
    double a = us[m > 0 ? m - 1 : m], b = us[std::min(m + 1, us.size() - 1)];
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double c = b - g * (b - a), d = a + g * (b - a), fc = objective(c), fd = objective(d);
    while (b - a > 1e-3) {
        if (!(fd < fc)) {
            b = d;
            d = c;
            fd = fc;
            c = b - g * (b - a);
            fc = objective(c);
        } else {
            a = c;
            c = d;
            fc = fd;
            d = a + g * (b - a);
            fd = objective(d);
        }
    }
    double ubest = us[m], fbest = fs[m];
    for (const auto& [u, f] : {std::pair{c, fc}, std::pair{d, fd}}) {
        if (f < fbest) {
            ubest = u;
            fbest = f;
        }
    }
    out.best = std::exp(ubest);
    objective(ubest);
    const int dof = measurements - static_cast<int>(n) - 1;
    const double threshold = 3.841458820694124 * std::max(1.0, dof > 0 ? fbest / dof : 1.0);
    // Each side: the first grid point beyond the threshold, then bisection.
    for (const int side : {-1, 1}) {
        double inside = ubest, outside = NAN;
        for (std::size_t k = 0; k < us.size(); ++k) {
            const std::size_t j = side < 0 ? us.size() - 1 - k : k;
            if ((us[j] - ubest) * side <= 0.0) continue;
            if (std::isfinite(fs[j]) && fs[j] - fbest > threshold) {
                outside = us[j];
                break;
            }
            inside = us[j];
        }
        if (!std::isfinite(outside)) continue;
        for (int it = 0; it < 20 && std::abs(outside - inside) > 1e-3; ++it) {
            const double mid = 0.5 * (inside + outside), fm = objective(mid);
            (std::isfinite(fm) && fm - fbest > threshold ? outside : inside) = mid;
        }
        (side < 0 ? out.lower : out.upper) = std::exp(outside);
    }
    out.determined = out.lower && out.upper && *out.upper / *out.lower <= 10.0;
    return out;
}

}  // namespace

monitor_result run_monitor(workbench_host& h, monitor_problem& p,
                           const std::function<void(std::size_t, std::size_t)>& progress) {
    const monitor_options& o = p.options;
    monitor_result out;
    out.screening = screen_history(p.h, o);
    out.windows = window_history(p, out.screening);

    // Each fittable window's case and lab samples, checked as a runs file's row.
    std::vector<std::size_t> fittable;
    std::vector<reactor_case> cases(out.windows.size());
    for (std::size_t i = 0; i < out.windows.size(); ++i) {
        monitor_window& w = out.windows[i];
        if (!w.reason.empty()) continue;
        plant_run r;
        r.name = "window " + timestamp_text(w.start, p.h.zoned);
        r.line = w.first_line;
        r.settings = w.settings;
        for (const history_column& c : p.h.columns) {
            if (c.kind == column_kind::setting) r.setting_column[c.index] = c.number;
        }
        try {
            cases[i] = case_of(p.base, r, p.h.file);
        } catch (const input_error& e) {
            w.reason = "its case: " + e.reason();
            w.flags.push_back("invalid case");
            continue;
        }
        auto& conv = w.measured[static_cast<std::size_t>(quantity::co2_conversion)];
        if (conv && !co2_conversion_defined(feed_kmol_s(cases[i]))) conv.reset();
        w.conversion_measured = conv ? conv->value : lab_conversion(w.measured, cases[i]);
        fittable.push_back(i);
    }
    const auto observed_of = [&](std::size_t i) { return observed_run{"window " + timestamp_text(out.windows[i].start, p.h.zoned), out.windows[i].measured}; };

    // The fit of one window at a1, from `start` (the window before's a2):
    // a2 alone; with a profile interval and a known scatter when asked.
    window_model wm(h, p.base);
    const auto fit = [&](std::size_t i, double a1, double start, bool profile,
                         const std::optional<estimate_options::known_scatter>& scatter, std::string& failure) {
        wm.set_case(cases[i]);
        const std::vector<observed_run> seen{observed_of(i)};
        estimate_options eo;
        eo.fixed[0] = a1;
        eo.initial = {a1, start};
        eo.start_decades = {0.0};
        eo.profile = profile;
        eo.region = eo.leave_one_out = false;
        eo.scatter = scatter;
        for (const bool wide : {false, true}) {
            if (wide) {
                eo.initial[1] = p.base.a2;
                eo.start_decades = {-2.0, 0.0, 2.0};
            }
            try {
                return std::optional<estimate_result>(estimate(wm, seen, eo));
            } catch (const solver_error& x) {
                failure = x.what();
            }
            h.check_stop();
        }
        return std::optional<estimate_result>();
    };

    // a1: held, or estimated once from (at most 16 of) the steady windows:
    // a1 common to them, a2 free in each (a2 may drift), by its profile.
    out.a1 = p.base.a1;
    if (o.a1) {
        out.a1 = *o.a1;
        out.a1_how = monitor_result::a1_source::held;
        out.a1_note = "a1 = " + sig(out.a1) + ", held (--fix)";
    } else if (fittable.empty()) {
        out.a1_how = monitor_result::a1_source::kept;
        out.a1_note = "a1 = " + sig(out.a1) + ", the case's: no steady window to estimate it from";
    } else {
        const a1_profile pr = profile_a1(fittable, [&](std::size_t i, double a1, double& a2, int& dof) {
            std::string failure;
            const std::optional<estimate_result> e = fit(i, a1, a2, false, std::nullopt, failure);
            if (!e) return static_cast<double>(NAN);
            a2 = e->parameters[1].value;
            dof = e->measurements;
            return e->chi_square;
        });
        h.check_stop();
        out.a1_how = monitor_result::a1_source::kept;
        const std::string from = " from " + std::to_string(pr.windows) + " steady windows, a2 free in each";
        if (pr.determined) {
            out.a1 = pr.best;
            out.a1_how = monitor_result::a1_source::estimated;
            out.a1_note = "a1 = " + sig(pr.best, 3) + ", estimated once" + from + " (95 % profile " + sig(*pr.lower, 3) +
                          " .. " + sig(*pr.upper, 3) + "), then held";
        } else {
            out.a1_note = "a1 = " + sig(out.a1) + ", the case's: the history does not determine a1 (95 % profile" + from +
                          ": " + (pr.lower ? "at least " + sig(*pr.lower, 3) : std::string("no lower bound")) + ", " +
                          (pr.upper ? "at most " + sig(*pr.upper, 3) : std::string("no upper bound")) + " within " +
                          sig(factor_lower) + " .. " + sig(factor_upper) + "); --fix a1=VALUE holds another";
        }
    }

    // a2 window by window, each warm-started from the one before: first the
    // fits alone, whose scatter pooled over the windows is the lab's (a
    // property of the lab, known far better from all windows than from the
    // few samples of one); then each window's profile interval with it.
    std::vector<double> first_a2(out.windows.size(), NAN);
    std::vector<double> chi(out.windows.size(), NAN);
    std::vector<int> dof(out.windows.size(), 0);
    double a2 = p.base.a2;
    for (const std::size_t i : fittable) {
        std::string failure;
        const std::optional<estimate_result> e = fit(i, out.a1, a2, false, std::nullopt, failure);
        if (!e) {
            out.windows[i].reason = "no solution: " + failure;
            out.windows[i].flags.push_back("unsolved");
            ++out.unsolved;
            continue;
        }
        a2 = first_a2[i] = e->parameters[1].value;
        chi[i] = e->chi_square;
        dof[i] = e->degrees_of_freedom;
        h.check_stop();
    }
    // The pooled scatter, without the windows whose own scatter is far
    // beyond it (p < 0.001): those keep their own.
    const auto beyond = [&](std::size_t i) {
        return dof[i] > 0 &&
               boost::math::cdf(boost::math::complement(boost::math::chi_squared(static_cast<double>(dof[i])), chi[i])) < 0.001;
    };
    double chi_sum = 0.0;
    int dof_sum = 0;
    for (const std::size_t i : fittable) {
        if (std::isfinite(chi[i]) && !beyond(i)) {
            chi_sum += chi[i];
            dof_sum += dof[i];
        }
    }
    if (dof_sum > 0) out.lab_scatter = std::sqrt(chi_sum / dof_sum);
    std::size_t done = 0;
    for (const std::size_t i : fittable) {
        monitor_window& w = out.windows[i];
        if (!std::isfinite(first_a2[i])) continue;
        std::optional<estimate_options::known_scatter> scatter;
        if (dof_sum > 0 && !beyond(i)) scatter = estimate_options::known_scatter{std::max(1.0, out.lab_scatter), dof_sum};
        if (beyond(i)) w.flags.push_back("lab scatter");
        std::string failure;
        const std::optional<estimate_result> e = fit(i, out.a1, first_a2[i], true, scatter, failure);
        if (!e) {
            w.reason = "no solution: " + failure;
            w.flags.push_back("unsolved");
            ++out.unsolved;
        } else {
            const parameter_estimate& pa = e->parameters[1];
            w.fitted = true;
            w.a2 = pa.value;
            w.a2_lower = pa.profile.lower;
            w.a2_upper = pa.profile.upper;
            w.se_ln_a2 = pa.se_ln;
            w.chi_square = e->chi_square;
            w.dof = e->degrees_of_freedom;
            reactor_case c = cases[i];
            c.a1 = out.a1;
            c.a2 = w.a2;
            const run_outcome r = run_case(c, h);
            ++wm.solves;
            if (r.ok()) {
                w.conversion_predicted = r.value->co2_conversion;
                w.conversion_equilibrium = r.value->equilibrium_co2_conversion;
                w.approach = w.conversion_measured / w.conversion_equilibrium;
            }
        }
        h.check_stop();
        if (progress) progress(++done, fittable.size());
    }
    out.reactor_solves += wm.solves;

    // Drifts of a2.
    std::vector<std::size_t> series;
    std::vector<double> x, se;
    for (std::size_t i = 0; i < out.windows.size(); ++i) {
        const monitor_window& w = out.windows[i];
        if (w.fitted && std::isfinite(w.se_ln_a2) && w.se_ln_a2 > 0.0) {
            series.push_back(i);
            x.push_back(std::log(w.a2));
            se.push_back(w.se_ln_a2);
        }
    }
    for (drift d : find_drifts(x, se, o, out.dispersion)) {
        d.window = series[d.window];
        d.time = out.windows[d.window].start;
        out.drifts.push_back(d);
    }

    for (const monitor_window& w : out.windows) {
        out.fitted += w.fitted ? 1 : 0;
        out.reconciled += w.balance.failed ? 1 : 0;
        if (std::find(w.flags.begin(), w.flags.end(), "not steady") != w.flags.end()) ++out.not_steady;
        if (std::find(w.flags.begin(), w.flags.end(), "no lab sample") != w.flags.end()) ++out.without_lab;
    }
    if (out.fitted == 0) {
        out.notes.push_back("no window was fitted: " + std::to_string(out.windows.size()) + " windows, of which " +
                            std::to_string(out.not_steady) + " not steady, " + std::to_string(out.without_lab) +
                            " without a lab sample, " + std::to_string(out.unsolved) +
                            " without a solution (each window says why)");
    }
    return out;
}

}  // namespace workbench
