// urea-reactor estimate RUNS.csv [CASE]: a1 and a2 tuned against plant test
// runs, with their uncertainty and a verdict in plain words.
#include <iostream>

#include "cli/common.h"
#include "report/estimate_report.h"
#include "report/run_report.h"

namespace workbench::cli {

int estimate_command(const invocation& in) {
    estimate_options opt;
    for (const std::string& f : in.texts("--fix")) hold_parameter(opt, f);
    opt.loss = loss_named(in.text("--loss", "none"));
    const reactor_case base = case_of(in);
    warn(validate(base));
    opt.initial = {base.a1, base.a2};
    check_start(opt);
    runs_file runs = read_runs(in.text("runs"));
    warn(runs.warnings);
    const estimate_problem problem = estimate_problem_of(std::move(runs), base, opt);
    warn(problem.warnings);
    const output_request out(in, inputs_of(in));

    session s(plugin_path_of(in));
    const estimate_outcome e = estimate(s, problem);
    const estimate_report report{&e.problem.runs, &e.problem.options, &e.result, e.reactor_solves};
    staged_outputs files;
    if (out.csv) files.add_text(*out.csv, estimate_csv(report));
    if (out.plot) files.add_plot(*out.plot, parity_plot_script(report));
    files.commit();
    if (out.json) {
        auto j = estimate_json(report);
        j["base_case"] = case_json(base);
        j["build"] = build_json(s.plugin_path());
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        print_estimate(std::cout, report);
    }
    return finish(files, exit_ok);
}

}  // namespace workbench::cli
