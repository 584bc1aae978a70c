// urea-reactor estimate RUNS.csv [CASE]: a1 and a2 tuned against plant test
// runs, with their uncertainty and a verdict in plain words.
#include <iostream>

#include "base/digest.h"
#include "base/text.h"
#include "cli/common.h"
#include "io/case_file.h"
#include "report/estimate_report.h"
#include "report/html_report.h"
#include "report/run_report.h"

namespace workbench::cli {

namespace {

// The options as given, for a report: every one but the outputs and those
// that change no result (the workers, the time limit), in the order of
// their names.
std::string options_text(const invocation& in) {
    std::string out;
    for (const auto& [name, texts] : in.given()) {
        if (name.rfind("--", 0) != 0) continue;
        if (name == "--json" || name == "--csv" || name == "--plot" || name == "--region-plot" ||
            name == "--write-case" || name == "--report" || name == "--time-limit" || name == "--jobs" ||
            name == "--worker-timeout" || name == "--quiet") {
            continue;
        }
        for (const std::string& t : texts) out += (out.empty() ? "" : " ") + name + (t.empty() ? "" : " " + t);
    }
    return out;
}

}  // namespace

int estimate_command(const invocation& in) {
    estimate_request r;
    r.runs.file = in.text("runs");
    r.case_ = case_of(in);
    r.plugin = in.text("--plugin");
    r.fix = values_of(in, "--fix");
    r.loss = text_of(in, "--loss");
    r.bootstrap = text_of(in, "--bootstrap");
    r.seed = text_of(in, "--seed");
    r.workers = workers_of(in);
    const checked_outputs out = check_outputs(outputs_of(in), inputs_of(r));
    const estimate_job job = check_estimate(r, on_stderr());
    if (out.region_plot && job.problem.options.fixed[0] && job.problem.options.fixed[1]) {
        throw input_error(field("region_plot"),
                          "both factors are held (" + mention("fix") + "): there is no region or profile to draw");
    }

    session s(job.plugin);
    set_workers(s, job.workers, in);
    const estimate_outcome e = estimate(s, job.problem);
    const estimate_report report = report_of(e);
    const build_info build = build_of(s.plugin_path());
    staged_outputs files;
    if (out.csv) files.add_text(*out.csv, estimate_csv(report));
    if (out.plot) files.add_plot(*out.plot, parity_plot_script(report));
    const std::string region_script = region_plot_script(report);
    if (out.region_plot) files.add_plot(*out.region_plot, region_script);
    if (out.written_case) {
        files.add_text(*out.written_case,
                       case_file_text(e.tuned.c, tuned_case_comments(report, job.runs_sha256,
                                                                     build.workbench + " (urea-reactor estimate)", words())));
    }
    if (out.report) {
        html_context c = html_context_of(job, build);
        c.options = options_text(in);
        if (out.written_case) c.tuned_case_file = out.written_case->given;
        c.words = &words();
        add_estimate_html(files, *out.report, report, c);
    }
    files.commit();
    if (out.json) {
        auto j = estimate_file_json(report, job.problem.base, build, words());
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        print_estimate(std::cout, report, words());
        if (out.written_case) std::cout << "\nThe tuned case is written to " << printable(out.written_case->given) << ".\n";
    }
    return finish(files, exit_ok);
}

}  // namespace workbench::cli
