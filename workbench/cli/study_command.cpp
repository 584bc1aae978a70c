// urea-reactor study (--vary NAME=... [--vary ...] | --cases FILE.csv)
// [--result NAME...]: the reactor over a grid of any number of case
// quantities or the rows of a case table, the results asked for by name,
// every output written as the points come.
#include <iostream>
#include <memory>

#include "cli/common.h"
#include "cli/study_output.h"
#include "report/run_report.h"
#include "report/study_report.h"

namespace workbench::cli {
namespace {

std::vector<std::string> split_names(const std::string& text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(',', start);
        names.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return names;
        start = at + 1;
    }
}

// The results asked for (--result, then --map's), each once.
std::vector<result_quantity> results_of(const invocation& in) {
    std::vector<result_quantity> results;
    const auto add = [&](const std::string& option, const std::string& name, bool again_is_fine) {
        const auto q = result_named(name);
        if (!q) throw input_error(option + " " + name + ": " + result_name_problem(name));
        for (const result_quantity& r : results) {
            if (r.name != q->name) continue;
            if (again_is_fine) return;
            throw input_error(option + " " + name + ": " + q->name + " is asked for twice");
        }
        results.push_back(*q);
    };
    for (const std::string& text : in.texts("--result")) {
        for (const std::string& name : split_names(text)) add("--result", name, false);
    }
    if (results.empty()) results = default_results();
    const std::vector<std::string> maps = in.texts("--map");
    for (std::size_t k = 0; k + 1 < maps.size(); k += 2) add("--map", maps[k], true);
    return results;
}

}  // namespace

int study_command(const invocation& in) {
    if (in.flag("--list-results")) {
        print_result_list(std::cout);
        return exit_ok;
    }
    std::vector<result_quantity> results = results_of(in);
    if (in.has("--cases") && in.has("--vary")) {
        throw input_error("--cases " + in.text("--cases") + " and --vary: give one of them (a case table, or a grid)");
    }
    if (!in.has("--cases") && !in.has("--vary")) {
        throw input_error("study: give --vary NAME=FROM:TO:N or NAME=V1,V2,... (any number of times), or --cases "
                          "FILE.csv");
    }
    std::optional<band_plan> bands = bands_of(in);
    const reactor_case base = case_of(in);
    study_plan plan;
    if (in.has("--cases")) {
        case_table table = read_case_table(in.text("--cases"), max_study_points);
        plan = plan_study(base, std::move(table), std::move(results));
    } else {
        std::vector<study_variable> vars;
        for (const std::string& v : in.texts("--vary")) vars.push_back(parse_vary(v));
        check_vary_against_options(in, vars);
        plan = plan_study(base, std::move(vars), std::move(results));
    }
    if (bands) add_bands(plan, std::move(*bands));
    warn(plan.warnings);
    note(plan.notes);

    study_output out(in, plan);
    worker_options workers = workers_of(in);
    session s(plugin_path_of(in));
    s.set_workers(std::move(workers));
    const study_summary summary = study(s, plan, [&](const study_point& p) { out.add(p); });
    return out.finish(s, summary, "study");
}

}  // namespace workbench::cli
