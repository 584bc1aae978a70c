// urea-reactor estimate RUNS.csv [CASE]: a1 and a2 tuned against plant test
// runs, with their uncertainty and a verdict in plain words.
#include <cctype>
#include <iostream>

#include "cli/common.h"
#include "io/input_files.h"
#include "report/estimate_report.h"
#include "report/run_report.h"

namespace workbench::cli {

namespace {

// Whether a file reads as JSON (a case file): its first character, past
// blanks and // comments, is '{'. False for a file that cannot be read.
bool looks_like_json(const std::string& path) {
    std::string text;
    try {
        text = read_input_file(path, "file");
    } catch (const input_error&) {
        return false;
    }
    std::size_t i = 0;
    while (i < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        } else if (text.compare(i, 2, "//") == 0) {
            i = text.find('\n', i);
        } else {
            return text[i] == '{';
        }
    }
    return false;
}

}  // namespace

int estimate_command(const invocation& in) {
    // The runs file comes first: the other way round, each file would be
    // read as what it is not.
    if (in.has("case") && looks_like_json(in.text("runs")) && !looks_like_json(in.text("case"))) {
        throw input_error(in.text("runs") + " looks like a case file (JSON) and " + in.text("case") +
                          " like a runs file (CSV): the runs file comes first, then the case file: "
                          "urea-reactor estimate " + in.text("case") + " " + in.text("runs"));
    }
    if (looks_like_json(in.text("runs"))) {
        throw input_error(in.text("runs") + ": looks like a case file (JSON), not a runs file (CSV): "
                          "urea-reactor estimate RUNS.csv [CASE.json]");
    }
    estimate_options opt;
    for (const std::string& f : in.texts("--fix")) hold_parameter(opt, f);
    opt.loss = loss_named(in.text("--loss", "none"));
    std::vector<std::string> warnings;
    const reactor_case base = case_of(in, &warnings);
    warn(warnings);
    opt.initial = {base.a1, base.a2};
    check_start(opt);
    runs_file runs = read_runs(in.text("runs"));
    warn(runs.warnings);
    const estimate_problem problem = estimate_problem_of(std::move(runs), base, opt);
    warn(problem.warnings);
    const output_request out(in, inputs_of(in));

    session s(plugin_path_of(in));
    const estimate_outcome e = estimate(s, problem);
    const estimate_report report{&e.problem.runs, &e.problem.options, &e.result, e.reactor_solves, &e.reachable};
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
