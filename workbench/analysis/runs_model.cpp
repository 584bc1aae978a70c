#include "analysis/runs_model.h"
#include "analysis/answers.h"

#include "base/text.h"
#include "io/case_file.h"
#include "session/workers.h"

#include <cmath>
#include <functional>
#include <string>
#include <utility>

namespace workbench {

namespace {

model::outcome predict_here(const reactor_case& c, workbench_host& h, std::vector<station>* warm) {
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

}  // namespace

// With workers, no call into the plug-in runs in this process, where nothing
// would end one that hangs or outlive one that crashes: a solve outside the
// chunks of a piece of work (an estimate's covariance, a design's runs)
// runs in a watched worker of its own, its outcome and next warm start back
// as bytes, which keep every bit.
model::outcome predict_run(const reactor_case& c, workbench_host& h, std::vector<station>* warm) {
    const worker_options& workers = h.owner().workers();
    if (workers.jobs <= 1 || in_worker()) return predict_here(c, h, warm);
    const std::string bytes = run_watched(
        workers,
        [&] {
            const model::outcome o = predict_here(c, h, warm);
            prediction_answer a{o, std::nullopt};
            if (o.ok && warm != nullptr) a.warm = *warm;
            return prediction_answer_bytes(a);
        },
        [&h] { h.check_stop(); });
    prediction_answer a = read_prediction_answer(bytes);
    if (a.outcome.ok && warm != nullptr) {
        if (!a.warm) throw worker_answer_error("a run's prediction without its warm start");
        *warm = std::move(*a.warm);
    }
    return a.outcome;
}

runs_model::runs_model(workbench_host& h, std::vector<reactor_case> cases)
    : h_(h), cases_(std::move(cases)), warm_(cases_.size()) {}

std::unique_ptr<model> runs_model::copy() const {
    auto c = std::make_unique<runs_model>(*this);
    c->solves_ = 0;
    return c;
}

std::string runs_model::bytes() const {
    runs_model_parts parts;
    for (const reactor_case& c : cases_) parts.cases.push_back(case_file_text(c));
    parts.warm = warm_;
    return runs_model_parts_bytes(parts);
}

runs_model runs_model::of_bytes(workbench_host& h, const std::string& bytes) {
    runs_model_parts parts = read_runs_model(bytes);
    if (parts.warm.size() != parts.cases.size()) {
        throw worker_answer_error("a runs model of " + std::to_string(parts.cases.size()) + " runs and " +
                                  std::to_string(parts.warm.size()) + " warm starts");
    }
    std::vector<reactor_case> cases;
    for (const std::string& c : parts.cases) cases.push_back(parse_case(c, "a run's case"));
    runs_model m(h, std::move(cases));
    m.warm_ = std::move(parts.warm);
    return m;
}

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

namespace {

// A number the plug-in is called for, computed as predict_run's solves are.
template <class T>
T watched_value(workbench_host& h, const std::function<T()>& compute) {
    const std::string bytes = run_watched(
        h.owner().workers(), [&] { return number_answer_bytes(compute()); }, [&h] { h.check_stop(); });
    return read_number_answer(bytes);
}

tuned_case tune_case(runs_model& m, workbench_host& h, const estimate_problem& problem, const estimate_result& res,
                     const estimate_split& split) {
    tuned_case t;
    t.c = problem.base;
    const std::array<double, 2> base{problem.base.a1, problem.base.a2};
    const auto determined = [&](std::size_t k) { return res.parameters[k].verdict == verdict_kind::determined; };
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = res.parameters[k];
        tuned_factor& f = t.factors[k];
        if (!p.free) {
            f.source = tuned_factor::how::held;
            f.value = p.value;
        } else if (determined(k)) {
            f.source = tuned_factor::how::estimated;
            f.value = p.value;
        } else {
            f.source = tuned_factor::how::kept;
            f.value = base[k];
            const profile_interval& pr = p.profile;
            f.ruled_out = pr.computed && ((pr.lower && base[k] < *pr.lower) || (pr.upper && base[k] > *pr.upper));
        }
    }
    // A determined factor beside a kept one: its best value with the kept
    // one at the base case's.
    for (std::size_t k = 0; k < 2; ++k) {
        const std::size_t j = 1 - k;
        if (t.factors[k].source != tuned_factor::how::estimated || t.factors[j].source != tuned_factor::how::kept) {
            continue;
        }
        estimate_options o = problem.options;
        o.fixed[j] = base[j];
        o.initial[k] = res.parameters[k].value;
        o.start_decades = {0.0};
        o.profile = false;
        const estimate_result r = estimate(m, problem.observed, o, split);
        t.factors[k].value = r.parameters[k].value;
        t.factors[k].with_other_kept = true;
    }
    t.c.a1 = t.factors[0].value;
    t.c.a2 = t.factors[1].value;
    for (std::size_t k = 0; k < 2; ++k) t.factors[k].changed = t.factors[k].value != base[k];
    // A tuned case the reactor cannot solve is no reason to lose the
    // estimate: its conversion is then unknown.
    t.co2_conversion = watched_value<double>(h, [&] {
        const run_outcome r = run_case(t.c, h);
        return r.ok() ? r.value->co2_conversion : t.co2_conversion;
    });
    return t;
}

}  // namespace

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
    estimate_outcome out{problem, {}, 0, {}, {}, {}, {}, {}};
    const estimate_split split{h.owner().workers(), [&h] { h.check_stop(); }};
    out.result = estimate(m, problem.observed, opt, split);
    h.check_stop();
    if (opt.region) out.region = region_of(m, problem.observed, opt, out.result, split);
    h.check_stop();
    if (opt.leave_one_out) out.leave_one_out = leave_one_out(m, problem.observed, opt, out.result, split);
    if (opt.bootstrap > 0) {
        out.bootstrap = bootstrap(m, problem.observed, opt, out.result, opt.bootstrap, opt.seed, split);
    }
    out.tuned = tune_case(m, h, problem, out.result, split);
    h.check_stop();
    out.reactor_solves = m.solves();
    // What each run could convert at most, for measured conversions the
    // model cannot reach.
    const std::size_t conv = static_cast<std::size_t>(quantity::co2_conversion);
    for (std::size_t i = 0; i < problem.cases.size(); ++i) {
        out.reachable.push_back(problem.observed[i].measured[conv] ? watched_value<double>(h, [&] {
            return highest_equilibrium_conversion(problem.cases[i], h);
        })
                                                                    : NAN);
        h.check_stop();
    }
    return out;
}

}  // namespace workbench
