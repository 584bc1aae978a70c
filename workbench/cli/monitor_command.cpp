// urea-reactor monitor HISTORY.csv [CASE]: a2, the approach to equilibrium
// and the meters' consistency over a plant history.
#include <iostream>
#include <new>

#include "base/digest.h"
#include "cli/common.h"
#include "report/monitor_report.h"

namespace workbench::cli {

namespace {

int run_monitor_command(const invocation& in, std::string& held);

}  // namespace

void stage_monitor_files(staged_outputs& files, const checked_outputs& out, const monitor_report& report,
                         const build_info& build, monitor_html_context page) {
    if (out.csv) files.add_text(*out.csv, monitor_csv(report));
    if (out.plot) files.add_plot(*out.plot, monitor_plot_script(report));
    if (out.report) {
        page.workbench = build.workbench;
        page.plugin = build.plugin;
        page.plugin_file = build.plugin_file;
        add_monitor_html(files, *out.report, report, page);
    }
}

// Out of memory is the input's doing (a history too large for the machine,
// windows too many): said as bad input with what was being held, not as a bug.
int monitor_command(const invocation& in) {
    std::string held = "reading the history " + in.text("history");
    try {
        return run_monitor_command(in, held);
    } catch (const std::bad_alloc&) {
        throw input_error("out of memory " + held + ": follow a part of the history, or with a longer --step");
    }
}

namespace {

int run_monitor_command(const invocation& in, std::string& held) {
    monitor_request r;
    r.history.file = in.text("history");
    r.sort = in.flag("--sort");
    r.case_ = case_of(in);
    r.plugin = in.text("--plugin");
    r.window = text_of(in, "--window");
    r.step = text_of(in, "--step");
    r.frozen = text_of(in, "--frozen");
    r.fix = values_of(in, "--fix");
    r.meter_sigma = values_of(in, "--meter-sigma");
    r.workers = workers_of(in);
    const checked_outputs out = check_outputs(outputs_of(in), inputs_of(r));
    monitor_job job = check_monitor(r, on_stderr());
    held = "following the history " + job.problem.h.file + " (" + std::to_string(job.problem.h.rows()) + " rows of " +
           std::to_string(job.problem.h.columns.size()) + " columns)";

    session s(job.plugin);
    set_workers(s, job.workers, in);
    const monitor_result res = monitor(s, job.problem);
    const monitor_report report{&job.problem, &res, words()};
    const build_info build = build_of(s.plugin_path());
    staged_outputs files;
    monitor_html_context c;
    if (out.report) {
        if (!job.case_file.empty()) {
            c.case_file = job.case_file;
            c.case_sha256 = sha256_hex(job.case_text);
        }
        for (const auto& [name, texts] : in.given()) {
            if (name.rfind("--", 0) != 0 || name == "--json" || name == "--csv" || name == "--plot" ||
                name == "--report" || name == "--time-limit" || name == "--jobs" || name == "--worker-timeout" ||
                name == "--quiet") {
                continue;
            }
            for (const std::string& t : texts) c.options += (c.options.empty() ? "" : " ") + name + (t.empty() ? "" : " " + t);
        }
    }
    stage_monitor_files(files, out, report, build, std::move(c));
    files.commit();
    if (out.json) {
        auto j = monitor_json(report, build);
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        print_monitor(std::cout, report);
    }
    if (out.json || !out.print()) note(res.notes);
    return finish(files, res.unsolved > 0 && res.fitted == 0 ? exit_solver : exit_ok);
}

}  // namespace

}  // namespace workbench::cli
