#include "api/workbench.h"

#include <cmath>
#include <mutex>

#include "base/digest.h"
#include "base/input_files.h"

namespace workbench {
namespace {

// A piece of work: the process's one user of the plug-in for as long as it
// lasts. A solver that gives up because the work was asked to stop is
// reported as the stop, not as a failure.
template <class Work>
auto work(session& s, const reactor_case& c, Work&& body) {
    const std::lock_guard<std::recursive_mutex> lock(session::work_lock());
    const property_set props(c.tables);
    workbench_host h(s, props);
    try {
        h.check_stop();
        auto out = body(h);
        h.check_stop();
        return out;
    } catch (const solver_error&) {
        h.check_stop();
        throw;
    }
}

}  // namespace

result run(session& s, const reactor_case& c) {
    std::vector<std::string> warnings = validate(c);
    return work(s, c, [&](workbench_host& h) {
        result r = simulate(c, h);
        r.warnings = std::move(warnings);
        return r;
    });
}

fit_result fit(session& s, const reactor_case& c, double target) {
    std::vector<std::string> warnings = validate(c);
    return work(s, c, [&](workbench_host& h) {
        fit_result f = fit_a2(c, h, target);
        f.run.warnings = std::move(warnings);
        return f;
    });
}

estimate_outcome estimate(session& s, const estimate_problem& problem) {
    return work(s, problem.base, [&](workbench_host& h) { return estimate_runs(h, problem); });
}

prediction predict(session& s, const reactor_case& c, const band_plan& bands,
                   const std::vector<result_quantity>& results) {
    const reactor_case at = at_estimate(c, bands.u);
    std::vector<std::string> warnings = validate(at);
    const std::string mismatch = reactor_mismatch(bands.u, c);
    if (!mismatch.empty()) warnings.push_back(mismatch);
    return work(s, at, [&](workbench_host& h) {
        prediction p = predict_case(at, bands, results, h);
        p.run.warnings = std::move(warnings);
        return p;
    });
}

design_result design(session& s, const design_problem& p) {
    return work(s, p.runs.base, [&](workbench_host& h) { return run_design(h, p); });
}

bootstrap_result bootstrap(session& s, const estimate_outcome& outcome, int resamples, std::uint64_t seed) {
    if (resamples < 1) throw input_error("bootstrap: at least 1 resample (got " + std::to_string(resamples) + ")");
    const estimate_problem& p = outcome.problem;
    return work(s, p.base, [&](workbench_host& h) {
        runs_model m(h, p.cases);
        return bootstrap(m, p.observed, p.options, outcome.result, resamples, seed,
                         estimate_split{s.workers(), [&h] { h.check_stop(); }});
    });
}

sweep_result sweep(session& s, const sweep_plan& plan) {
    return work(s, plan.base, [&](workbench_host& h) { return run_sweep(plan, h); });
}

study_summary study(session& s, const study_plan& plan, const study_sink& sink) {
    return work(s, plan.base, [&](workbench_host& h) { return run_study(plan, h, sink); });
}

study_columns study(session& s, const study_plan& plan) {
    study_columns t;
    t.setting_names = plan.settings;
    t.settings.resize(plan.settings.size());
    if (plan.table) t.carried_names = plan.table->carried;
    t.carried.resize(t.carried_names.size());
    t.results = plan.results;
    t.values.resize(plan.results.size());
    if (plan.bands) {
        for (auto* v : {&t.low, &t.high}) v->resize(plan.results.size());
        for (auto* v : {&t.open_low, &t.open_high}) v->resize(plan.results.size());
    }
    t.summary = study(s, plan, [&](const study_point& p) {
        for (std::size_t k = 0; k < p.settings.size(); ++k) t.settings[k].push_back(p.settings[k]);
        for (std::size_t k = 0; k < t.carried.size(); ++k) t.carried[k].push_back((*p.carried)[k]);
        for (std::size_t k = 0; k < t.values.size(); ++k) t.values[k].push_back(p.ok ? p.values[k] : NAN);
        for (std::size_t k = 0; k < t.low.size(); ++k) {
            const result_band b = p.ok ? p.bands[k] : result_band{};
            t.low[k].push_back(b.low);
            t.high[k].push_back(b.high);
            t.open_low[k].push_back(b.open_low);
            t.open_high[k].push_back(b.open_high);
        }
        t.ok.push_back(p.ok);
        t.failure.push_back(p.failure);
    });
    t.warnings = plan.warnings;
    t.notes = plan.notes;
    return t;
}

void run_sent_chunk(session& s, const std::string& kind, const std::string& state, std::size_t chunk,
                    const std::function<void(const std::string&)>& emit) {
    const std::lock_guard<std::recursive_mutex> lock(session::work_lock());
    if (kind == "study") return run_sent_study_chunk(s, state, chunk, emit);
    if (kind == "design") return run_sent_design_chunk(s, state, chunk, emit);
    if (kind == "bootstrap") return run_sent_bootstrap_chunk(s, state, chunk, emit);
    throw input_error("no work of the kind \"" + kind + "\" (a study, a design or a bootstrap)");
}

estimate_input estimate_input_of(const std::function<runs_file()>& read, const reactor_case& base,
                                 estimate_options options) {
    std::vector<std::string> warnings = validate(base);
    options.initial = {base.a1, base.a2};
    check_start(options);
    runs_file runs = read();
    warnings.insert(warnings.end(), runs.warnings.begin(), runs.warnings.end());
    estimate_problem problem = estimate_problem_of(std::move(runs), base, std::move(options));
    warnings.insert(warnings.end(), problem.warnings.begin(), problem.warnings.end());
    return {std::move(problem), "", std::move(warnings)};
}

estimate_input estimate_input_of(const std::string& runs_path, const reactor_case& base, estimate_options options) {
    std::string sha256;
    estimate_input in = estimate_input_of(
        [&] {
            const std::string text = read_input_file(runs_path, "runs file");
            sha256 = sha256_hex(text);
            return parse_runs(text, runs_path);
        },
        base, std::move(options));
    in.runs_sha256 = std::move(sha256);
    return in;
}

}  // namespace workbench
