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

void set_meter_sigma(monitor_options& o, const field_ref& source) {
    const std::string& text = source.text;
    const std::size_t eq = text.find('=');
    const std::optional<setting> s = eq == std::string::npos ? std::nullopt : setting_named(text.substr(0, eq));
    const bool feed = s && *s >= setting::feed_NH3;
    if (!feed) {
        throw input_error(source, "write NAME=PERCENT, NAME a feed flow or ratio column (feed_kmol_h.CO2, nh3_co2, ...)");
    }
    std::string pct = text.substr(eq + 1);
    if (!pct.empty() && pct.back() == '%') pct.pop_back();
    field_ref meter = source;
    meter.text = text.substr(0, eq);
    const double v = parse_number(meter, pct, number_rule::positive);
    if (v > 100.0) throw input_error(source, "a percentage of the reading, at most 100");
    o.meter_sigma[static_cast<std::size_t>(*s)] = v / 100.0;
}

monitor_problem monitor_problem_of(history h, const reactor_case& base, monitor_options o) {
    monitor_problem p;
    p.warnings = validate(base);
    p.warnings.insert(p.warnings.end(), h.warnings.begin(), h.warnings.end());
    if (o.step_ms == 0) o.step_ms = o.window_ms;
    if (o.window_ms <= 0 || o.step_ms <= 0) {
        throw input_error(mention("window") + " and " + mention("step") + " must be positive durations");
    }
    if (o.step_ms > o.window_ms) {
        throw input_error(mention("step", "", duration_text(o.step_ms)) + " is longer than " +
                          mention("window", "", duration_text(o.window_ms)) +
                          ": the rows between the windows would be left out; give a step at most the window");
    }
    if (o.a1 && !(*o.a1 >= factor_lower && *o.a1 <= factor_upper)) {
        throw input_error(mention("fix", "a1", sig(*o.a1)) + ": must lie within " + sig(factor_lower) + " .. " +
                          sig(factor_upper));
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
        throw input_error(mention("window", "", duration_text(o.window_ms)) + " is shorter than the rows' spacing (" +
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

    // Every window's a2 at a1, and the drifts.
    const auto fit_windows = [&](double a1_held) {
        out.drifts.clear();
        // a2 window by window, each warm-started from the one before: first the
        // fits alone, whose scatter pooled over the windows is the lab's (a
        // property of the lab, known far better from all windows than from the
        // few samples of one); then each window's profile interval with it.
        std::vector<double> first_a2(out.windows.size(), NAN);
        std::vector<double> chi(out.windows.size(), NAN);
        std::vector<int> dof(out.windows.size(), 0);
        double a2 = p.base.a2;
        out.unsolved = 0;
        for (const std::size_t i : fittable) {
            std::string failure;
            const std::optional<estimate_result> e = fit(i, a1_held, a2, false, std::nullopt, failure);
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
            const std::optional<estimate_result> e = fit(i, a1_held, first_a2[i], true, scatter, failure);
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
                c.a1 = a1_held;
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
    };

    // a1: held; or estimated once, from the steady windows of the longest
    // stretch without a drift (a2 the same in them: a single operating
    // point cannot tell a1 from a2, several can), after the windows were
    // fitted at the case's a1; when it is determined there, the windows are
    // fitted again with it.
    out.a1 = o.a1.value_or(p.base.a1);
    const std::vector<monitor_window> unfitted = out.windows;
    fit_windows(out.a1);
    if (o.a1) {
        out.a1_how = monitor_result::a1_source::held;
        out.a1_note = "a1 = " + sig(out.a1) + ", held (" + mention("fix") + ")";
    } else {
        out.a1_how = monitor_result::a1_source::kept;
        // The stretches between drifts, in windows.
        std::size_t from = 0, to = out.windows.size(), best_from = 0, best_to = 0;
        for (std::size_t d = 0; d <= out.drifts.size(); ++d) {
            to = d < out.drifts.size() ? out.drifts[d].window : out.windows.size();
            if (to - from > best_to - best_from) {
                best_from = from;
                best_to = to;
            }
            from = to;
        }
        std::vector<std::size_t> stretch;
        for (const std::size_t i : fittable) {
            if (i >= best_from && i < best_to && out.windows[i].fitted) stretch.push_back(i);
        }
        const std::size_t n = std::min<std::size_t>(16, stretch.size());
        if (n < 2) {
            out.a1_note = "a1 = " + sig(out.a1) + ", the case's: too few steady windows to estimate it from";
        } else {
            std::vector<reactor_case> some;
            std::vector<observed_run> seen;
            std::vector<double> a2s;
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t i = stretch[k * stretch.size() / n];
                some.push_back(cases[i]);
                seen.push_back(observed_of(i));
                a2s.push_back(out.windows[i].a2);
            }
            std::nth_element(a2s.begin(), a2s.begin() + static_cast<std::ptrdiff_t>(n / 2), a2s.end());
            runs_model m(h, some);
            estimate_options eo;
            eo.initial = {p.base.a1, a2s[n / 2]};
            eo.region = eo.leave_one_out = false;
            const std::string where = " from " + std::to_string(n) + " steady windows of " +
                                      timestamp_text(out.windows[stretch.front()].start, p.h.zoned) + " .. " +
                                      timestamp_text(out.windows[stretch.back()].end, p.h.zoned) + ", a2 common to them";
            try {
                const estimate_result e = estimate(m, seen, eo);
                const parameter_estimate& a1 = e.parameters[0];
                out.a1_lower = a1.profile.lower;
                out.a1_upper = a1.profile.upper;
                if (a1.verdict == verdict_kind::determined) {
                    out.a1 = a1.value;
                    out.a1_how = monitor_result::a1_source::estimated;
                    out.a1_note = "a1 = " + factor_text(a1, a1.value) + ", estimated once" + where + " (95 % profile " +
                                  profile_text(a1, eo) + "), then held";
                    out.windows = unfitted;
                    fit_windows(out.a1);
                } else {
                    out.a1_note = "a1 = " + sig(out.a1) + ", the case's: the history does not determine a1 (95 % profile" +
                                  where + ": " + profile_text(a1, eo) + "); " + mention("fix", "a1", "VALUE") + " holds another";
                }
            } catch (const solver_error& x) {
                out.a1_note = "a1 = " + sig(out.a1) + ", the case's: no fit of a1" + where + " (" + x.what() + ")";
            }
            out.reactor_solves += m.solves();
            h.check_stop();
        }
    }
    out.reactor_solves += wm.solves;

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
