// urea-reactor monitor HISTORY.csv [CASE]: a2, the approach to equilibrium
// and the meters' consistency over a plant history.
#include <iostream>

#include "base/digest.h"
#include "base/input_files.h"
#include "base/text.h"
#include "cli/common.h"
#include "report/monitor_report.h"

namespace workbench::cli {

int monitor_command(const invocation& in) {
    monitor_options o;
    if (in.has("--window")) o.window_ms = parse_duration("--window", in.text("--window"));
    o.step_ms = in.has("--step") ? parse_duration("--step", in.text("--step")) : o.window_ms;
    if (in.has("--frozen")) o.frozen_ms = parse_duration("--frozen", in.text("--frozen"));
    for (const std::string& f : in.texts("--fix")) {
        estimate_options held;
        hold_parameter(held, f);
        if (held.fixed[1]) {
            throw input_error("--fix " + f + ": a2 is what the monitor follows, window by window; only a1 can be held");
        }
        o.a1 = held.fixed[0];
    }
    for (const std::string& m : in.texts("--meter-sigma")) set_meter_sigma(o, m);
    std::vector<std::string> warnings;
    std::string case_text;
    const reactor_case base = case_of(in, &warnings, &case_text);
    warn(warnings);
    const output_request out(in, inputs_of(in));
    monitor_problem problem = monitor_problem_of(read_history(in.text("history"), in.flag("--sort")), base, o);
    warn(problem.warnings);

    session s(plugin_path_of(in));
    const monitor_result r = monitor(s, problem);
    const monitor_report report{&problem, &r};
    const build_info build = build_of(s.plugin_path());
    staged_outputs files;
    if (out.csv) files.add_text(*out.csv, monitor_csv(report));
    if (out.plot) files.add_plot(*out.plot, monitor_plot_script(report));
    if (out.report) {
        monitor_html_context c;
        c.workbench = build.workbench;
        c.plugin = build.plugin;
        c.plugin_file = build.plugin_file;
        if (in.has("case")) {
            c.case_file = in.text("case");
            c.case_sha256 = sha256_hex(case_text);
        }
        for (const auto& [name, texts] : in.given()) {
            if (name.rfind("--", 0) != 0 || name == "--json" || name == "--csv" || name == "--plot" ||
                name == "--report" || name == "--time-limit") {
                continue;
            }
            for (const std::string& t : texts) c.options += (c.options.empty() ? "" : " ") + name + (t.empty() ? "" : " " + t);
        }
        add_monitor_html(files, *out.report, report, c);
    }
    files.commit();
    if (out.json) {
        std::cout << monitor_json(report, build).dump(2) << "\n";
    } else if (out.print()) {
        print_monitor(std::cout, report);
    }
    if (out.json || !out.print()) note(r.notes);
    return finish(files, r.unsolved > 0 && r.fitted == 0 ? exit_solver : exit_ok);
}

}  // namespace workbench::cli
