// urea-reactor study (--vary NAME=... [--vary ...] | --cases FILE.csv)
// [--result NAME...]: the reactor over a grid of any number of case
// quantities or the rows of a case table, the results asked for by name,
// every output written as the points come.
#include <iostream>

#include "cli/common.h"
#include "cli/study_output.h"
#include "report/study_report.h"

namespace workbench::cli {

int study_command(const invocation& in) {
    if (in.flag("--list-results")) {
        warn_unused(in, {"--list-results", "--time-limit", "--quiet"}, "--list-results lists the results and nothing else");
        print_result_list(std::cout, words());
        return exit_ok;
    }
    study_request r;
    r.case_ = case_of(in);
    r.plugin = in.text("--plugin");
    r.vary = values_of(in, "--vary");
    r.cases = text_of(in, "--cases");
    r.results = values_of(in, "--result");
    r.estimate = estimate_of(in);
    r.band = text_of(in, "--band");
    r.workers = workers_of(in);
    const checked_outputs files = check_outputs(outputs_of(in), inputs_of(r));
    for (const auto& [result, target] : files.maps) r.maps.push_back(result);
    const study_job job = check_study(r, on_stderr());
    study_output out(files, job.plan, in.flag("--table"), in.flag("--verbose"));
    session s(job.plugin);
    set_workers(s, job.workers, in);
    const study_summary summary = study(s, job.plan, [&](const study_point& p) { out.add(p); });
    return out.finish(s, summary, "study");
}

}  // namespace workbench::cli
