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
    for (std::string& w : check_carry_over(bands.u, c, true)) warnings.push_back(std::move(w));
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

monitor_result monitor(session& s, monitor_problem& problem,
                       const std::function<void(std::size_t, std::size_t)>& progress) {
    return work(s, problem.base, [&](workbench_host& h) { return run_monitor(h, problem, progress); });
}

watch_pass_report watch_once(session& s, database& db, const watch_job& j, const build_info& build, std::int64_t now_ms) {
    watch_pass_options o;
    o.alerts = j.alerts;
    o.reread = j.reread;
    o.dry_run = j.dry_run;
    o.now_ms = now_ms;
    o.build = build;
    o.channels = j.channels;
    return watch_pass(db, j.setup, o, [&](monitor_problem& p) { return monitor(s, p); });
}

sweep_result sweep(session& s, const sweep_plan& plan) {
    return work(s, plan.base, [&](workbench_host& h) { return run_sweep(plan, h); });
}

study_summary study(session& s, const study_plan& plan, const study_sink& sink) {
    return work(s, plan.base, [&](workbench_host& h) { return run_study(plan, h, sink); });
}

study_document study(session& s, const study_plan& plan) {
    study_document d;
    d.points = study_table(plan);
    d.summary = study(s, plan, [&](const study_point& p) { add_study_point(d.points, plan, p); });
    d.warnings = plan.warnings;
    d.notes = plan.notes;
    return d;
}

void run_sent_chunk(session& s, const std::string& kind, const std::string& state, std::size_t chunk,
                    const std::function<void(const std::string&)>& emit) {
    const std::lock_guard<std::recursive_mutex> lock(session::work_lock());
    if (kind == "study") return run_sent_study_chunk(s, state, chunk, emit);
    if (kind == "design") return run_sent_design_chunk(s, state, chunk, emit);
    if (kind == "bootstrap") return run_sent_bootstrap_chunk(s, state, chunk, emit);
    if (kind == "monitor") return run_sent_monitor_chunk(s, state, chunk, emit);
    throw input_error("no work of the kind \"" + kind + "\" (a study, a design, a bootstrap or a monitor)");
}

}  // namespace workbench
