// urea-reactor sweep --vary NAME=FROM:TO:N [--vary ...]: the reactor over a
// grid of one or two case quantities.
#include <iostream>

#include "cli/common.h"
#include "report/run_report.h"
#include "report/sweep_report.h"

namespace workbench::cli {

int sweep_command(const invocation& in) {
    std::vector<sweep_variable> vars;
    for (const std::string& v : in.texts("--vary")) vars.push_back(parse_vary(v));
    // A quantity is set either by an option or by a --vary.
    for (const auto& [option, texts] : in.given()) {
        const std::string q = quantity_of_option(option);
        for (const sweep_variable& v : vars) {
            if (!q.empty() && q == v.name) {
                throw input_error("--vary " + v.given + " and " + option + " " + texts.back() + " both set " + q +
                                  ": give one of them");
            }
        }
    }
    const sweep_plan plan = plan_sweep(case_of(in), std::move(vars));
    warn(plan.warnings);
    for (const std::string& n : plan.notes) std::cerr << "urea-reactor: note: " << n << "\n";
    const output_request out(in, inputs_of(in));

    session s(plugin_path_of(in));
    const sweep_result r = sweep(s, plan);
    // Each failed point in one line (the first few), then the table.
    constexpr std::size_t listed = 20;
    std::size_t shown = 0;
    for (std::size_t p = 0; p < r.points.size(); ++p) {
        if (r.points[p].ok) continue;
        if (shown++ == listed) {
            std::cerr << "urea-reactor: solver failure at " << r.failed - listed
                      << " more points (each named in the table)\n";
            break;
        }
        std::cerr << "urea-reactor: solver failure at point " << p + 1 << " of " << r.points.size() << " ("
                  << point_text(r, p) << "): " << r.points[p].failure << "\n";
        if (in.flag("--verbose") && !r.points[p].details.empty()) std::cerr << r.points[p].details << "\n";
    }
    if (r.failed == r.points.size()) {
        std::cerr << "urea-reactor: solver failure: no point of the sweep was solved; nothing written\n";
        return exit_solver;
    }
    staged_outputs files;
    if (out.csv) files.add_text(*out.csv, sweep_csv(r));
    if (out.plot) files.add_plot(*out.plot, sweep_plot_script(r));
    files.commit();
    if (out.json) {
        auto j = sweep_json(r);
        j["base_case"] = case_json(plan.base);
        j["build"] = build_json(s.plugin_path());
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        print_sweep(std::cout, plan.base, r);
    }
    return finish(files, r.failed == 0 ? exit_ok : exit_solver);
}

}  // namespace workbench::cli
