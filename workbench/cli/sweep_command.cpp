// urea-reactor sweep --vary NAME=FROM:TO:N [--vary ...]: the reactor over a
// grid of one or two case quantities; a study of the default results, with
// the table, CSV and JSON `sweep` has always written (with --estimate, the
// study's, each result with its band).

#include "cli/common.h"
#include "cli/study_output.h"

namespace workbench::cli {

int sweep_command(const invocation& in) {
    std::vector<sweep_variable> vars;
    for (const std::string& v : in.texts("--vary")) vars.push_back(parse_vary(v));
    check_vary_against_options(in, vars);
    std::optional<band_plan> bands = bands_of(in);
    sweep_plan plan = plan_sweep(case_of(in), std::move(vars));
    // With bands, the study's table, CSV and JSON, which have room for them.
    if (bands) {
        add_bands(plan.study, std::move(*bands));
        plan.warnings = plan.study.warnings;
    }
    warn(plan.warnings);
    note(plan.notes);
    study_output out(in, plan.study, !plan.study.bands);
    worker_options workers = workers_of(in);
    session s(plugin_path_of(in));
    s.set_workers(std::move(workers));
    const study_summary summary = study(s, plan.study, [&](const study_point& p) { out.add(p); });
    return out.finish(s, summary, "sweep");
}

}  // namespace workbench::cli
