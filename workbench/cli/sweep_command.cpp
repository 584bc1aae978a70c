// urea-reactor sweep --vary NAME=FROM:TO:N [--vary ...]: the reactor over a
// grid of one or two case quantities; a study of the default results, with
// the table, CSV and JSON `sweep` has always written (with --estimate, the
// study's, each result with its band).

#include "cli/common.h"
#include "cli/study_output.h"

namespace workbench::cli {

int sweep_command(const invocation& in) {
    sweep_request r;
    r.case_ = case_of(in);
    r.plugin = in.text("--plugin");
    r.vary = values_of(in, "--vary");
    r.estimate = estimate_of(in);
    r.band = text_of(in, "--band");
    r.workers = workers_of(in);
    const checked_outputs files = check_outputs(outputs_of(in), inputs_of(r));
    const sweep_job job = check_sweep(r, on_stderr());
    study_output out(files, job.plan.study, in.flag("--table"), in.flag("--verbose"), !job.plan.study.bands);
    session s(job.plugin);
    set_workers(s, job.workers, in);
    const study_summary summary = study(s, job.plan.study, [&](const study_point& p) { out.add(p); });
    return out.finish(s, summary, "sweep");
}

}  // namespace workbench::cli
