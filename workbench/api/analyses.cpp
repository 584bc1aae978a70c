// Estimates, designs, bootstraps, monitors, watch passes, sweeps and
// studies, and a chunk sent from elsewhere.
#include "api/workbench.h"

#include <cmath>

#include "api/work.h"
#include "base/digest.h"
#include "base/input_files.h"

namespace workbench {

using detail::work;

estimate_outcome estimate(session& s, const estimate_problem& problem) {
    return work(s, problem.base, [&](workbench_host& h) { return estimate_runs(h, problem); });
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
