// urea-reactor design RUNS.csv [CASE] (--vary NAME=... [--vary ...] |
// --cases FILE.csv) [--estimate EST.json]: the candidate next test runs
// ranked by how much each would shrink the uncertainty of a1 and a2.
#include <iostream>

#include "cli/common.h"
#include "report/design_report.h"
#include "report/run_report.h"

namespace workbench::cli {

int design_command(const invocation& in) {
    design_request r;
    r.runs.file = in.text("runs");
    r.case_ = case_of(in);
    r.plugin = in.text("--plugin");
    r.vary = values_of(in, "--vary");
    r.cases = text_of(in, "--cases");
    r.estimate = estimate_of(in);
    r.fix = values_of(in, "--fix");
    r.measure = values_of(in, "--measure");
    r.for_factor = text_of(in, "--for");
    r.top = text_of(in, "--top");
    r.workers = workers_of(in);
    const checked_outputs out = check_outputs(outputs_of(in), inputs_of(r));
    r.map = out.map.has_value();
    const design_job job = check_design(r, on_stderr());
    const design_problem& p = job.problem;
    if (r.top && (out.json || !out.print())) {
        warn(cite(given("top", r.top->text)) + ": not used: only the table printed has a top; " +
             (out.json ? mention("json") : mention("csv", "", "-")) + " gives every candidate");
    }

    session s(job.plugin);
    set_workers(s, job.workers, in);
    const design_result res = design(s, p);
    if (res.ranking.empty()) {
        std::cerr << "urea-reactor: solver failure: no candidate could be solved at the estimate; nothing written\n";
        return exit_solver;
    }
    staged_outputs files;
    if (out.csv) files.add_text(*out.csv, design_csv(p, res));
    if (out.map) files.add_plot(*out.map, design_map_script(p, res));
    files.commit();
    if (out.json) {
        auto j = design_json(p, res, words());
        j["base_case"] = case_json(p.runs.base);
        j["build"] = build_json(s.plugin_path());
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        print_design(std::cout, p, res, job.top, words());
    }
    return finish(files, exit_ok);
}

}  // namespace workbench::cli
