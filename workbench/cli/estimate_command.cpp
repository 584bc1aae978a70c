// urea-reactor estimate RUNS.csv [CASE]: a1 and a2 tuned against plant test
// runs, with their uncertainty and a verdict in plain words.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>

#include "cli/common.h"
#include "io/case_file.h"
#include "base/digest.h"
#include "base/input_files.h"
#include "base/text.h"
#include "report/estimate_report.h"
#include "report/html_report.h"
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
    if (in.has("--bootstrap")) {
        const double n = parse_number("--bootstrap", in.text("--bootstrap"), number_rule::positive);
        if (n != std::floor(n) || n > 100000) {
            throw input_error("--bootstrap: must be a whole number of resamples from 1 to 100000 (got " +
                              in.text("--bootstrap") + ")");
        }
        opt.bootstrap = static_cast<int>(n);
    }
    if (in.has("--seed")) {
        const std::string t = in.text("--seed");
        std::uint64_t seed = 0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), seed);
        if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
            throw input_error("--seed: must be a whole number from 0 to 18446744073709551615 (got " + t + ")");
        }
        opt.seed = seed;
        if (!in.has("--bootstrap")) warn({"--seed " + t + ": without --bootstrap nothing is drawn"});
    }
    std::vector<std::string> warnings;
    std::string case_text;  // hashed for the report as it was read
    const reactor_case base = case_of(in, &warnings, &case_text);
    warn(warnings);
    opt.initial = {base.a1, base.a2};
    check_start(opt);
    // The runs are read once: the bytes estimated from are the bytes hashed.
    const std::string runs_text = read_input_file(in.text("runs"), "runs file");
    runs_file runs = parse_runs(runs_text, in.text("runs"));
    warn(runs.warnings);
    const estimate_problem problem = estimate_problem_of(std::move(runs), base, opt);
    warn(problem.warnings);
    const output_request out(in, inputs_of(in));
    if (out.region_plot && opt.fixed[0] && opt.fixed[1]) {
        throw input_error("--region-plot: both factors are held (--fix): there is no region or profile to draw");
    }

    worker_options workers = workers_of(in);
    session s(plugin_path_of(in));
    s.set_workers(std::move(workers));
    const estimate_outcome e = estimate(s, problem);
    const estimate_report report = report_of(e);
    const build_info build = build_of(s.plugin_path());
    const std::string runs_sha256 = sha256_hex(runs_text);
    staged_outputs files;
    if (out.csv) files.add_text(*out.csv, estimate_csv(report));
    if (out.plot) files.add_plot(*out.plot, parity_plot_script(report));
    const std::string region_script = region_plot_script(report);
    if (out.region_plot) files.add_plot(*out.region_plot, region_script);
    if (out.written_case) {
        files.add_text(*out.written_case,
                       case_file_text(e.tuned.c, tuned_case_comments(report, runs_sha256,
                                                                     build.workbench + " (urea-reactor estimate)")));
    }
    if (out.report) {
        html_context c;
        c.workbench = build.workbench;
        c.plugin = build.plugin;
        c.plugin_file = build.plugin_file;
        c.runs_sha256 = runs_sha256;
        if (in.has("case")) {
            c.case_file = in.text("case");
            c.case_sha256 = sha256_hex(case_text);
        }
        c.options = options_text(in);
        if (out.written_case) c.tuned_case_file = out.written_case->given;
        add_estimate_html(files, *out.report, report, c);
    }
    files.commit();
    if (out.json) {
        std::cout << estimate_file_json(report, base, build).dump(2) << "\n";
    } else if (out.print()) {
        print_estimate(std::cout, report);
        if (out.written_case) std::cout << "\nThe tuned case is written to " << printable(out.written_case->given) << ".\n";
    }
    return finish(files, exit_ok);
}

}  // namespace workbench::cli
