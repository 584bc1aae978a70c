// urea-reactor design RUNS.csv [CASE] (--vary NAME=... [--vary ...] |
// --cases FILE.csv) [--estimate EST.json]: the candidate next test runs
// ranked by how much each would shrink the uncertainty of a1 and a2.
#include <iostream>

#include "cli/common.h"
#include "cli/study_output.h"
#include "base/input_files.h"
#include "base/text.h"
#include "report/design_report.h"
#include "report/run_report.h"

namespace workbench::cli {

int design_command(const invocation& in) {
    if (in.has("--cases") && in.has("--vary")) {
        throw input_error("--cases " + in.text("--cases") + " and --vary: give one of them (a case table, or a grid)");
    }
    if (!in.has("--cases") && !in.has("--vary")) {
        throw input_error("design: give the settings the operator may change: --vary NAME=FROM:TO:N or "
                          "NAME=V1,V2,... (any number of times), or --cases FILE.csv");
    }
    std::optional<factor_uncertainty> estimate;
    estimate_options opt;
    for (const std::string& f : in.texts("--fix")) hold_parameter(opt, f);
    if (in.has("--estimate")) {
        if (in.has("--fix")) {
            throw input_error("--fix and --estimate " + in.text("--estimate") +
                              ": the estimate says which factors it held");
        }
        estimate = read_estimate_file(in.text("--estimate"));
    }
    std::optional<std::array<bool, quantity_count>> measure;
    if (in.has("--measure")) measure = measured_named(in.text("--measure"));
    std::optional<std::size_t> for_factor;
    if (in.has("--for")) {
        const std::string k = in.text("--for");
        if (k != "a1" && k != "a2") throw input_error("--for: must be a1 or a2 (got " + k + ")");
        for_factor = k == "a1" ? 0 : 1;
    }
    std::size_t top = 10;
    if (in.has("--top")) {
        const double n = parse_number("--top", in.text("--top"), number_rule::positive);
        if (n != std::floor(n) || n > static_cast<double>(max_study_points)) {
            throw input_error("--top: must be a whole number from 1 to " + std::to_string(max_study_points) +
                              " (got " + in.text("--top") + ")");
        }
        top = static_cast<std::size_t>(n);
    }
    std::vector<std::string> warnings;
    const reactor_case base = case_of(in, &warnings);
    warn(warnings);
    opt.initial = {base.a1, base.a2};
    check_start(opt);
    runs_file runs = parse_runs(read_input_file(in.text("runs"), "runs file"), in.text("runs"));
    warn(runs.warnings);
    estimate_problem problem = estimate_problem_of(std::move(runs), base, opt);
    warn(problem.warnings);
    study_plan plan;
    if (in.has("--cases")) {
        plan = plan_study(base, read_case_table(in.text("--cases"), max_study_points), {});
    } else {
        std::vector<study_variable> vars;
        for (const std::string& v : in.texts("--vary")) vars.push_back(parse_vary(v));
        check_vary_against_options(in, vars);
        plan = plan_study(base, std::move(vars), {});
    }
    warn(plan.warnings);
    note(plan.notes);
    const design_problem p = design_problem_of(std::move(problem), std::move(estimate), std::move(plan), measure, for_factor);

    // The outputs, checked before anything runs.
    std::vector<std::pair<std::string, std::string>> inputs = inputs_of(in);
    if (in.has("--cases")) inputs.emplace_back("the case table", in.text("--cases"));
    const output_request out(in, inputs);
    std::optional<output_target> map;
    if (in.has("--map")) {
        map = map_target("--map", in.text("--map"));
        std::vector<output_target> all = {*map};
        if (out.csv) all.push_back(*out.csv);
        check_distinct(all, inputs);
        require_gnuplot("--map");
        // Its axes: a grid of two varied settings (the same checks as drawing it).
        study_map(p.candidates, 0, "", "", "--map");
    }

    worker_options workers = workers_of(in);
    session s(plugin_path_of(in));
    s.set_workers(std::move(workers));
    const design_result r = design(s, p);
    if (r.ranking.empty()) {
        std::cerr << "urea-reactor: solver failure: no candidate could be solved at the estimate; nothing written\n";
        return exit_solver;
    }
    staged_outputs files;
    if (out.csv) files.add_text(*out.csv, design_csv(p, r));
    if (map) files.add_plot(*map, design_map_script(p, r));
    files.commit();
    if (out.json) {
        auto j = design_json(p, r);
        j["base_case"] = case_json(p.runs.base);
        j["build"] = build_json(s.plugin_path());
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        print_design(std::cout, p, r, top);
    }
    return finish(files, exit_ok);
}

}  // namespace workbench::cli
