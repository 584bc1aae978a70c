#include "analysis/runs_model.h"

#include "io/text.h"

#include <cmath>
#include <string>
#include <utility>

namespace workbench {

model::outcome predict_run(const reactor_case& c, workbench_host& h, std::vector<station>* warm) {
    model::outcome out;
    std::vector<station> profile;
    try {
        profile = run_profile(c, h, warm != nullptr && !warm->empty() ? warm : nullptr);
    } catch (const solver_error& e) {
        out.failure = e.what();
        out.details = e.details();
        return out;
    }
    const station& last = profile.back();
    for (const double f : last.n) {
        if (!std::isfinite(f)) {
            out.failure = "the run produced a non-finite flow";
            return out;
        }
    }
    const double conversion = last.co2_conversion;
    out.values[static_cast<std::size_t>(quantity::co2_conversion)] = std::isfinite(conversion) ? conversion : 0.0;
    set_nc_mass_fractions(h.nc_flow(last.n, last.temperature_K, c.pressure_bar * 1e5), out.values);
    for (const double v : out.values) {
        if (!std::isfinite(v)) {
            out.failure = "the outlet's NC-FLOW from UPROPU gives no mass fractions (not finite, or "
                          "no NH3, CO2, urea or water)";
            return out;
        }
    }
    out.ok = true;
    if (warm != nullptr) *warm = std::move(profile);
    return out;
}

runs_model::runs_model(workbench_host& h, std::vector<reactor_case> cases)
    : h_(h), cases_(std::move(cases)), warm_(cases_.size()) {}

model::outcome runs_model::predict(std::size_t run, double ln_a1, double ln_a2) {
    reactor_case& c = cases_[run];
    c.a1 = std::exp(ln_a1);
    c.a2 = std::exp(ln_a2);
    ++solves_;
    return predict_run(c, h_, &warm_[run]);
}

estimate_problem estimate_problem_of(runs_file runs, const reactor_case& base, estimate_options options) {
    check_start(options);
    const int free = (options.fixed[0] ? 0 : 1) + (options.fixed[1] ? 0 : 1);
    check_measurement_count(runs, free);
    estimate_problem p;
    for (const plant_run& r : runs.runs) {
        reactor_case c = case_of(base, r, runs.file, &p.warnings);
        const std::size_t conv = static_cast<std::size_t>(quantity::co2_conversion);
        if (r.measured[conv] && !co2_conversion_defined(feed_kmol_s(c))) {
            throw runs_error(runs.file, r.line, r.measured_column[conv],
                             "column \"co2_conversion\" (" + std::to_string(r.measured_column[conv]) +
                                 "): run \"" + r.name +
                                 "\": the run feeds too little CO2 (free and as carbamate) for a conversion "
                                 "per CO2 fed to mean anything");
        }
        p.cases.push_back(std::move(c));
        p.observed.push_back({r.name, r.measured});
    }
    p.runs = std::move(runs);
    p.base = base;
    p.options = options;
    return p;
}

estimate_outcome estimate_runs(workbench_host& h, const estimate_problem& problem) {
    const estimate_options& opt = problem.options;
    runs_model m(h, problem.cases);
    const double a1 = opt.fixed[0].value_or(opt.initial[0]), a2 = opt.fixed[1].value_or(opt.initial[1]);
    for (std::size_t i = 0; i < problem.cases.size(); ++i) {
        const model::outcome o = m.predict(i, std::log(a1), std::log(a2));
        h.check_stop();
        if (!o.ok) {
            const plant_run& r = problem.runs.runs[i];
            throw solver_error(problem.runs.file + ":" + std::to_string(r.line) + ": run \"" + r.name +
                               "\": the reactor has no solution at the starting a1 = " + sig(a1) +
                               ", a2 = " + sig(a2) + ": " + o.failure,
                               o.details);
        }
    }
    estimate_outcome out{problem, {}, 0, {}};
    out.result = estimate(m, problem.observed, opt);
    h.check_stop();
    out.reactor_solves = m.solves();
    // What each run could convert at most, for measured conversions the
    // model cannot reach.
    const std::size_t conv = static_cast<std::size_t>(quantity::co2_conversion);
    for (std::size_t i = 0; i < problem.cases.size(); ++i) {
        out.reachable.push_back(problem.observed[i].measured[conv] ? highest_equilibrium_conversion(problem.cases[i], h)
                                                                    : NAN);
        h.check_stop();
    }
    return out;
}

}  // namespace workbench
