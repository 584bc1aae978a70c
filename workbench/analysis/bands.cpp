#include "analysis/bands.h"

#include <algorithm>

#include "base/text.h"
#include "io/case_file.h"

namespace workbench {
namespace {

// A factor's value for texts.
std::string factor_text(double v) { return sig(v, 4); }

// Whether a factor lies on the search box's edge: within 1e-6 in ln a.
bool on_edge(double a, const factor_uncertainty& u) {
    return std::abs(std::log(a) - std::log(u.lower)) < 1e-6 || std::abs(std::log(a) - std::log(u.upper)) < 1e-6;
}

// A free factor's profile interval in words: "0.1558 .. 0.1634", "at least
// 2.8e-06, no upper bound within the search".
std::string interval_text(const factor_uncertainty& u, std::size_t k) {
    const auto& lo = u.profile_lower[k];
    const auto& hi = u.profile_upper[k];
    if (lo && hi) return factor_text(*lo) + " .. " + factor_text(*hi);
    if (lo) return "at least " + factor_text(*lo) + ", no upper bound within the search";
    if (hi) return "at most " + factor_text(*hi) + ", no lower bound within the search";
    return "any value within the search";
}

bool profile_open(const factor_uncertainty& u, std::size_t k) {
    return u.has_profile[k] && (!u.profile_lower[k] || !u.profile_upper[k]);
}

}  // namespace

const char* band_method_name(band_method m) { return m == band_method::profile ? "profile" : "linearised"; }

band_method band_method_named(const std::string& name) {
    if (name == "profile") return band_method::profile;
    if (name == "linearised" || name == "linearized") return band_method::linearised;
    throw input_error(field("band"), "must be profile (the range over the 95 % likelihood region) or linearised (the "
                                     "delta method with the covariance) (got " + name + ")");
}

factor_uncertainty uncertainty_of(const estimate_outcome& e) {
    const estimate_result& r = e.result;
    factor_uncertainty u;
    u.source = "the estimate";
    u.lower = e.problem.options.lower;
    u.upper = e.problem.options.upper;
    u.scale_factor = r.scale_factor;
    u.t_quantile = r.t_quantile;
    u.degrees_of_freedom = r.degrees_of_freedom;
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = r.parameters[k];
        u.value[k] = p.value;
        u.free[k] = p.free;
        u.has_profile[k] = p.profile.computed;
        u.profile_lower[k] = p.profile.lower;
        u.profile_upper[k] = p.profile.upper;
    }
    if (r.covariance.size() == 2) {
        u.has_covariance = true;
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t j = 0; j < 2; ++j) u.covariance[i][j] = r.covariance[i][j];
        }
    } else if (r.free_parameters == 1) {
        const std::size_t k = u.free[0] ? 0 : 1;
        const double se = r.parameters[k].se_ln_unscaled;
        u.has_covariance = std::isfinite(se);
        u.covariance[k][k] = se * se;
    }
    u.region = e.region;
    for (const plant_run& run : e.problem.runs.runs) u.runs.push_back(run.name);
    u.runs_file = e.problem.runs.file;
    u.base = e.problem.base;
    u.base_whole = true;
    return u;
}

namespace {

bool same_number(double a, double b) { return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b)); }

bool same_table(const property_table& a, const property_table& b) {
    return a.temperature_K == b.temperature_K && a.gibbs == b.gibbs && a.fugacity == b.fugacity &&
           a.molar_volume == b.molar_volume;
}

std::string table_words(const reactor_case& c, std::size_t i) {
    const auto t = c.tables.find(i);
    if (t == c.tables.end()) return "the built-in properties";
    return "a table of " + std::to_string(t->second.temperature_K.size()) + " temperatures";
}

// A feed flow per kmol/h of CO2 fed, free and as carbamate.
double per_co2(const reactor_case& c, std::size_t i) {
    const double co2 = c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB];
    return co2 > 0.0 ? c.feed_kmol_h[i] / co2 : c.feed_kmol_h[i];
}

}  // namespace

std::vector<tuned_difference> tuned_differences(const factor_uncertainty& u, const reactor_case& c) {
    std::vector<tuned_difference> d;
    if (!u.base) return d;
    const reactor_case& b = *u.base;
    if (b.model != c.model) {
        d.push_back({"reactor.model", model_name(b.model), model_name(c.model)});
        return d;
    }
    if (c.model == reactor_model::trays && b.trays != c.trays) {
        d.push_back({"reactor.trays", std::to_string(b.trays), std::to_string(c.trays)});
    }
    if (!same_number(b.volume_m3, c.volume_m3)) {
        d.push_back({"reactor.volume_m3", sig(b.volume_m3) + " m3", sig(c.volume_m3) + " m3"});
    }
    if (!u.base_whole) return d;
    for (std::size_t i = 0; i < component_count; ++i) {
        const auto x = b.tables.find(i), y = c.tables.find(i);
        const bool same = (x == b.tables.end() && y == c.tables.end()) ||
                          (x != b.tables.end() && y != c.tables.end() && same_table(x->second, y->second));
        if (!same) {
            std::string tuned = table_words(b, i), here = table_words(c, i);
            if (tuned == here) tuned += " (other values)";
            d.push_back({std::string("properties.") + component_names[i], tuned, here});
        }
    }
    for (const std::size_t i : {CARB, UREA, O2, N2}) {
        if (!same_number(per_co2(b, i), per_co2(c, i))) {
            d.push_back({std::string("feed_kmol_h.") + component_names[i],
                         sig(per_co2(b, i), 4) + " kmol per kmol of CO2 fed",
                         sig(per_co2(c, i), 4)});
        }
    }
    return d;
}

std::vector<std::string> check_carry_over(const factor_uncertainty& u, const reactor_case& c, bool carry) {
    std::vector<std::string> warnings;
    if (u.base && !u.base_whole) {
        warnings.push_back(estimate_named(u) + " was written by an earlier version, which does not record the feed "
                           "and property tables the factors were tuned on: only its reactor is compared with this case's");
    }
    const std::vector<tuned_difference> d = tuned_differences(u, c);
    if (d.empty()) return warnings;
    std::string what;
    for (std::size_t k = 0; k < d.size(); ++k) {
        what += (k == 0 ? "" : k + 1 == d.size() ? " and " : ", ") + d[k].key + " (tuned on " + d[k].tuned +
                "; this case: " + d[k].here + ")";
    }
    const std::string sentence = "the factors of " + estimate_named(u) + " were tuned on another case than this one: " +
                                 what + "; they may not carry over, nor their bands";
    if (!carry) {
        throw input_error(sentence + " (" + mention("carry_factors") + " uses them all the same)");
    }
    warnings.push_back(sentence);
    return warnings;
}

std::string estimate_named(const factor_uncertainty& u) {
    return u.source == "the estimate" ? u.source : "the estimate in " + u.source;
}

band_plan plan_bands(const factor_uncertainty& u, std::optional<band_method> method) {
    const int free = (u.free[0] ? 1 : 0) + (u.free[1] ? 1 : 0);
    if (free == 0) {
        throw input_error(u.source + ": both rate factors are held (" + mention("fix") +
                          ") in this estimate: there is no uncertainty to give a band");
    }
    const std::size_t only = u.free[0] ? 0 : 1;  // the free factor, when one is
    const bool region = free == 2 && u.region.computed && !u.region.pieces.empty();
    const bool interval = free == 1 && u.has_profile[only];
    const bool profile_possible = region || interval;
    if (method == band_method::profile && !profile_possible) {
        throw input_error(given("band", "profile"),
                          u.source + " holds no " +
                              (free == 2 ? std::string("joint region of a1 and a2")
                                         : "profile interval of " + std::string(factor_names[only])) +
                              "; " + mention("band", "", "linearised") + " uses the covariance");
    }
    if (method == band_method::linearised && !u.has_covariance) {
        throw input_error(given("band", "linearised"),
                          u.source + " holds no covariance of the rate factors (it is singular: the runs do not tell "
                                     "a1 and a2 apart)" +
                              (profile_possible
                                   ? "; " + mention("band", "", "profile") + " takes the range over the likelihood region"
                                   : ""));
    }
    if (!method && !profile_possible && !u.has_covariance) {
        throw input_error(u.source + ": the estimate holds neither a likelihood region nor a covariance of the rate "
                          "factors, from which a band is made");
    }
    band_plan p;
    p.u = u;
    p.method = method ? *method : profile_possible ? band_method::profile : band_method::linearised;
    for (std::size_t k = 0; k < 2; ++k) {
        if (!u.free[k]) {
            p.notes.push_back(std::string(factor_names[k]) + " is held at " + factor_text(u.value[k]) +
                              " in this estimate (" + mention("fix") + "): its uncertainty is not in the bands");
        }
    }
    const auto add = [&](double a1, double a2) {
        if (!(a1 > 0.0) || !(a2 > 0.0) || !std::isfinite(a1) || !std::isfinite(a2)) return;
        p.points.push_back({a1, a2});
        p.at_edge.push_back((u.free[0] && on_edge(a1, u)) || (u.free[1] && on_edge(a2, u)));
    };
    if (p.method == band_method::linearised) {
        for (std::size_t k = 0; k < 2; ++k) {
            if (!u.free[k]) continue;
            for (const double d : {-p.step, p.step}) {
                std::array<double, 2> a = u.value;
                a[k] *= std::exp(d);
                p.points.push_back(a);
                p.at_edge.push_back(false);
            }
        }
        p.description = "linearised: value -+ t s sqrt(g' C g), g the result's derivatives in ln a1 and ln a2 at the "
                        "best fit, C their covariance (the delta method; t = " + sig(u.t_quantile, 4) +
                        ", s = " + sig(u.scale_factor, 4) + ")";
        if (free == 2 && (profile_open(u, 0) || profile_open(u, 1))) {
            p.notes.push_back("the profile-likelihood intervals are open where the linearised ones are not: the "
                              "linearised bands can be far too narrow here (" + mention("band", "", "profile") +
                              " takes the range over the likelihood region)");
        }
        return p;
    }
    if (free == 1) {
        // The interval's ends (the box's edge on an open side) and two
        // points between the best fit and each end, evenly in ln a.
        const double best = u.value[only];
        const double lo = u.profile_lower[only].value_or(u.lower), hi = u.profile_upper[only].value_or(u.upper);
        for (const double end : {lo, hi}) {
            for (const double s : {1.0 / 3.0, 2.0 / 3.0, 1.0}) {
                std::array<double, 2> a = u.value;
                a[only] = std::exp(std::log(best) + s * (std::log(end) - std::log(best)));
                add(a[0], a[1]);
            }
        }
        p.description = std::string("profile: each result's range as ") + factor_names[only] +
                        " runs over its 95 % profile-likelihood interval, " + interval_text(u, only);
        if (profile_open(u, only)) {
            p.notes.push_back(std::string("the runs do not bound ") + factor_names[only] + " (" +
                              interval_text(u, only) + ", " + sig(u.lower, 3) + " .. " + sig(u.upper, 3) +
                              "): the bands are taken within the search box, and a side marked open could reach "
                              "further");
        }
        return p;
    }
    // Both free: the joint region's boundary, slice by slice.
    for (const auto& piece : u.region.pieces) {
        for (const region_slice& s : piece) {
            add(s.a1, s.a2_low);
            add(s.a1, s.a2_high);
        }
    }
    p.description = "profile region: each result's range over the joint 95 % likelihood region of a1 and a2 (" +
                    std::to_string(p.points.size()) + " points on its boundary, and the best fit)";
    if (u.region.open_a1_low || u.region.open_a1_high || u.region.open_a2) {
        std::vector<std::string> open;
        if (u.region.open_a1_low) open.push_back("no lower bound on a1");
        if (u.region.open_a1_high) open.push_back("no upper bound on a1");
        if (u.region.open_a2) open.push_back("a2 reaching the edge");
        std::string what;
        for (std::size_t k = 0; k < open.size(); ++k) what += (k ? ", " : "") + open[k];
        p.notes.push_back("the region reaches the search box's edge (" + what + ", within " + sig(u.lower, 3) +
                          " .. " + sig(u.upper, 3) + "): the bands are taken over its part within the box, and a "
                          "side marked open could reach further");
    }
    return p;
}

reactor_case at_estimate(const reactor_case& c, const factor_uncertainty& u) {
    reactor_case out = c;
    out.a1 = u.value[0];
    out.a2 = u.value[1];
    return out;
}

result_band band_of(const band_plan& plan, double best, const std::vector<double>& at) {
    result_band b;
    if (!std::isfinite(best)) return b;
    if (plan.method == band_method::linearised) {
        // g_k = (y(ln a_k + h) - y(ln a_k - h)) / 2h over the free factors, in order;
        // var = s^2 g' C g, half-width t sqrt(var).
        std::array<double, 2> g{0.0, 0.0};
        std::size_t at_point = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            if (!plan.u.free[k]) continue;
            const double minus = at[at_point], plus = at[at_point + 1];
            at_point += 2;
            if (!std::isfinite(minus) || !std::isfinite(plus)) return b;
            g[k] = (plus - minus) / (2.0 * plan.step);
        }
        const auto& c = plan.u.covariance;
        const double var = plan.u.scale_factor * plan.u.scale_factor *
                           (g[0] * g[0] * c[0][0] + 2.0 * g[0] * g[1] * c[0][1] + g[1] * g[1] * c[1][1]);
        const double half = plan.u.t_quantile * std::sqrt(std::max(0.0, var));
        b.low = best - half;
        b.high = best + half;
        return b;
    }
    // The range over the points; the extremes of those on the box's edge
    // and of the others (the best fit among them) apart, to tell an open side.
    double in_lo = best, in_hi = best;
    double edge_lo = NAN, edge_hi = NAN;
    for (std::size_t i = 0; i < at.size(); ++i) {
        const double v = at[i];
        if (!std::isfinite(v)) continue;
        if (plan.at_edge[i]) {
            edge_lo = std::isfinite(edge_lo) ? std::min(edge_lo, v) : v;
            edge_hi = std::isfinite(edge_hi) ? std::max(edge_hi, v) : v;
        } else {
            in_lo = std::min(in_lo, v);
            in_hi = std::max(in_hi, v);
        }
    }
    b.low = std::isfinite(edge_lo) ? std::min(in_lo, edge_lo) : in_lo;
    b.high = std::isfinite(edge_hi) ? std::max(in_hi, edge_hi) : in_hi;
    // A side is open when the edge pushes it out beyond what the region's
    // inside gives: on a plateau that reaches the edge (a1 large) the edge
    // changes nothing, and the side is closed.
    const double tol = 1e-4 * (b.high - b.low) + 1e-9 * std::abs(best);
    b.open_low = std::isfinite(edge_lo) && edge_lo < in_lo - tol;
    b.open_high = std::isfinite(edge_hi) && edge_hi > in_hi + tol;
    return b;
}

std::vector<std::optional<result>> solve_band_points(const band_plan& plan, const reactor_case& c,
                                                     const result& best, workbench_host& h) {
    std::vector<std::optional<result>> out;
    out.reserve(plan.points.size());
    reactor_case at = c;
    for (const auto& a : plan.points) {
        at.a1 = a[0];
        at.a2 = a[1];
        std::optional<result> r;
        try {
            // The trays (or plug flow) alone, and the outlet's NC-FLOW: the
            // equilibrium at the outlet, where both net rates vanish, does
            // not depend on how fast they are.
            result x = best;
            const long calls0 = h.rate_calls();
            x.profile = run_profile(at, h, &best.profile);
            x.outlet = x.profile.back().n;
            x.co2_conversion = x.profile.back().co2_conversion;
            x.max_balance_residual = 0.0;
            for (const station& st : x.profile) x.max_balance_residual = std::max(x.max_balance_residual, st.balance_residual);
            x.nc_flow_kg_s = h.nc_flow(x.outlet, x.outlet_temperature_K, x.pressure_Pa);
            x.rate_calls = h.rate_calls() - calls0;
            bool finite = true;
            for (const double f : x.outlet) finite = finite && std::isfinite(f);
            for (const double f : x.nc_flow_kg_s) finite = finite && std::isfinite(f);
            if (finite) r = std::move(x);
        } catch (const solver_error&) {
            // No solution there: the point is left out of the band.
        }
        h.check_stop();
        out.push_back(std::move(r));
    }
    return out;
}

prediction predict_case(const reactor_case& c, const band_plan& plan, const std::vector<result_quantity>& results,
                        workbench_host& h) {
    prediction p;
    p.c = at_estimate(c, plan.u);
    p.run = simulate(p.c, h);
    p.results = results;
    const std::vector<std::optional<result>> at = solve_band_points(plan, p.c, p.run, h);
    p.points = at.size();
    p.unsolved = static_cast<std::size_t>(std::count_if(at.begin(), at.end(), [](const auto& r) { return !r; }));
    for (const result_quantity& q : results) p.values.push_back(q.value(p.run, p.c));
    p.bands = bands_of_results(plan, results, p.c, p.values, at);
    std::vector<double> v(at.size());
    for (std::size_t s = 0; s < p.run.profile.size(); ++s) {
        const auto conversion = [&](const result& r) {
            return r.co2_conversion_defined && s < r.profile.size() ? r.profile[s].co2_conversion : NAN;
        };
        for (std::size_t i = 0; i < at.size(); ++i) v[i] = at[i] ? conversion(*at[i]) : NAN;
        p.conversion_profile.push_back(band_of(plan, conversion(p.run), v));
    }
    return p;
}

std::vector<result_band> bands_of_results(const band_plan& plan, const std::vector<result_quantity>& results,
                                          const reactor_case& c, const std::vector<double>& values,
                                          const std::vector<std::optional<result>>& at) {
    std::vector<result_band> out;
    out.reserve(results.size());
    std::vector<double> v(at.size());
    for (std::size_t k = 0; k < results.size(); ++k) {
        if (!has_band(results[k])) {
            out.emplace_back();
            continue;
        }
        for (std::size_t i = 0; i < at.size(); ++i) v[i] = at[i] ? results[k].value(*at[i], c) : NAN;
        out.push_back(band_of(plan, values[k], v));
    }
    return out;
}

bool has_band(const result_quantity& q) {
    // The equilibrium at the outlet does not depend on a1 and a2, nor are
    // the solver's counts predictions.
    return q.name.rfind("equilibrium_", 0) != 0 && q.name != "rate_calls" && q.name != "max_balance_residual";
}

std::vector<result_quantity> run_band_results() {
    std::vector<result_quantity> v;
    for (const char* name : {"co2_conversion", "approach_to_equilibrium", "w_NH3", "w_CO2", "w_UREA", "w_H2O",
                             "outlet_kg_h.UREA", "outlet_kmol_h.NH3", "outlet_kmol_h.CO2", "outlet_kmol_h.H2O",
                             "outlet_kmol_h.CARB", "outlet_kmol_h.UREA"}) {
        v.push_back(*result_named(name));
    }
    return v;
}

}  // namespace workbench
