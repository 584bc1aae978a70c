#include "request/estimate.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "base/digest.h"
#include "base/input_files.h"
#include "base/text.h"
#include "report/estimate_file.h"
#include "report/study_report.h"

namespace workbench {

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

void hold(estimate_options& opt, const std::vector<given_value>& fix) {
    for (std::size_t k = 0; k < fix.size(); ++k) {
        hold_parameter(opt, entry("fix", k, fix[k].text, fix[k].key), fix[k].number());
    }
}

// The runs, read when their turn comes; a file's bytes hashed.
runs_file read_runs_given(const runs_given& r, std::vector<input_file>& read) {
    if (r.table) return runs_from_table(r.table->header, r.table->columns, r.table->name);
    const std::string text = read_input_file(r.file, "runs file");
    read.push_back(input_read("runs file", r.file, text));
    return parse_runs(text, r.file);
}

// The base case, the start, the runs and their cases, in this order.
estimate_problem problem_of(const runs_given& runs, const reactor_case& base, estimate_options opt,
                            std::vector<input_file>& inputs, const notices& n) {
    opt.initial = {base.a1, base.a2};
    check_start(opt);
    runs_file read = read_runs_given(runs, inputs);
    n.warn(read.warnings);
    estimate_problem problem = estimate_problem_of(std::move(read), base, std::move(opt));
    n.warn(problem.warnings);
    return problem;
}

input_list runs_inputs(const runs_given& runs) {
    input_list more;
    if (!runs.file.empty()) more.emplace_back("the runs file", runs.file);
    return more;
}

}  // namespace

estimate_job check_estimate(const estimate_request& r, const notices& n) {
    // The runs file comes first: the other way round, each file would be
    // read as what it is not.
    if (!r.runs.file.empty()) {
        if (r.case_.file && looks_like_json(r.runs.file) && !looks_like_json(*r.case_.file)) {
            throw input_error(r.runs.file + " looks like a case file (JSON) and " + *r.case_.file +
                              " like a runs file (CSV): the runs file comes first, then the case file: " +
                              mention("estimate_call", *r.case_.file, r.runs.file));
        }
        if (looks_like_json(r.runs.file)) {
            throw input_error(r.runs.file + ": looks like a case file (JSON), not a runs file (CSV): " +
                              mention("estimate_usage"));
        }
    }
    estimate_options opt;
    hold(opt, r.fix);
    opt.loss = loss_named(r.loss.value_or("none"));
    if (r.bootstrap) {
        const double v = number_given(field("bootstrap"), *r.bootstrap, number_rule::positive);
        if (v != std::floor(v) || v > 100000) {
            throw input_error(field("bootstrap"), "must be a whole number of resamples from 1 to 100000 (got " +
                                                      r.bootstrap->text + ")");
        }
        opt.bootstrap = static_cast<int>(v);
    }
    if (r.seed) {
        // Read from its digits, which hold every seed to 2^64 - 1 exactly (a
        // number given: an int's own digits; a float's text is refused).
        const std::string& t = r.seed->text;
        std::uint64_t seed = 0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), seed);
        if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
            throw input_error(field("seed"), "must be a whole number from 0 to 18446744073709551615 (got " + t + ")");
        }
        opt.seed = seed;
        if (!r.bootstrap) n.warning(cite(given("seed", t)) + ": without " + mention("bootstrap") + " nothing is drawn");
    }
    estimate_job j;
    checked_case base = check_case(r.case_);
    n.warn(base.warnings);
    warn_without_effect(r.case_, base.c, false, n);
    warn_held(r.case_, opt.fixed, n);
    j.case_file = r.case_.file.value_or("");
    if (r.case_.file) j.inputs.push_back(input_read("case file", *r.case_.file, base.text));
    j.case_text = std::move(base.text);
    j.problem = problem_of(r.runs, base.c, std::move(opt), j.inputs, n);
    if (!r.runs.table) j.runs_sha256 = j.inputs.back().sha256;
    if (r.bootstrap && j.problem.options.fixed[0] && j.problem.options.fixed[1]) {
        throw input_error(given("bootstrap", r.bootstrap->text),
                          "both factors are held (" + mention("fix") + "): there is nothing to refit");
    }
    j.plugin = plugin_or_default(r.plugin);
    j.workers = check_workers(r.workers);
    return j;
}

html_context html_context_of(const estimate_job& j, const build_info& build) {
    html_context c;
    c.workbench = build.workbench;
    c.plugin = build.plugin;
    c.plugin_file = build.plugin_file;
    c.runs_sha256 = j.runs_sha256.empty() ? "(a table, no file)" : j.runs_sha256;
    if (!j.case_file.empty()) {
        c.case_file = j.case_file;
        c.case_sha256 = sha256_hex(j.case_text);
    }
    return c;
}

study_plan plan_of(const std::vector<given_value>& vary, const std::optional<std::string>& cases,
                   const std::optional<table_given>& cases_table, const case_request& case_, const reactor_case& base,
                   std::vector<result_quantity> results, std::vector<input_file>& read) {
    if (cases_table) return plan_study(base, case_table_from_table(cases_table->header, cases_table->columns,
                                                                   cases_table->name, max_study_points),
                                       std::move(results));
    if (cases) {
        const std::string text = read_input_file(*cases, "case table");
        read.push_back(input_read("case table", *cases, text));
        return plan_study(base, parse_case_table(text, *cases, max_study_points), std::move(results));
    }
    std::vector<study_variable> vars;
    for (std::size_t k = 0; k < vary.size(); ++k) vars.push_back(parse_vary(entry("vary", k, vary[k].text, vary[k].key), vary[k].numbers));
    check_vary_against_case(case_, vars);
    return plan_study(base, std::move(vars), std::move(results));
}

design_job check_design(const design_request& r, const notices& n) {
    const bool has_cases = r.cases || r.cases_table;
    if (has_cases && !r.vary.empty()) {
        throw input_error(mention("cases", "", r.cases.value_or(r.cases_table ? r.cases_table->name : "")) + " and " +
                          mention("vary") + ": give one of them (a case table, or a grid)");
    }
    if (!has_cases && r.vary.empty()) {
        throw input_error("design: give the settings the operator may change: " +
                          mention("vary", "", "NAME=FROM:TO:N") + " or NAME=V1,V2,... (any number of times), or " +
                          mention("cases", "", "FILE.csv"));
    }
    design_job j;
    std::optional<factor_uncertainty> estimate;
    estimate_options opt;
    hold(opt, r.fix);
    if (r.estimate.any()) {
        if (!r.fix.empty()) {
            throw input_error(mention("fix") + " and " + mention("estimate", "", r.estimate.file.value_or("")) +
                              ": the estimate says which factors it held");
        }
        check_factors_with_estimate(r.estimate, r.case_);
        if (r.estimate.given) {
            estimate = *r.estimate.given;
        } else {
            const std::string text = read_input_file(*r.estimate.file, "estimate file");
            j.inputs.push_back(input_read("estimate file", *r.estimate.file, text));
            estimate = parse_estimate(text, *r.estimate.file);
        }
    }
    std::optional<std::array<bool, quantity_count>> measure;
    if (!r.measure.empty()) {
        std::string names;
        for (const given_value& m : r.measure) names += (names.empty() ? "" : ",") + m.text;
        measure = measured_named(names);
    }
    std::optional<std::size_t> for_factor;
    if (r.for_factor) {
        const std::string& k = *r.for_factor;
        if (k != "a1" && k != "a2") throw input_error(field("for_factor"), "must be a1 or a2 (got " + k + ")");
        for_factor = k == "a1" ? 0 : 1;
    }
    if (r.top) {
        const double v = number_given(field("top"), *r.top, number_rule::positive);
        if (v != std::floor(v) || v > static_cast<double>(max_study_points)) {
            throw input_error(field("top"), "must be a whole number from 1 to " + std::to_string(max_study_points) +
                                                " (got " + r.top->text + ")");
        }
        j.top = static_cast<std::size_t>(v);
    }
    checked_case base = check_case(r.case_);
    if (r.case_.file) j.inputs.insert(j.inputs.begin(), input_read("case file", *r.case_.file, base.text));
    n.warn(base.warnings);
    warn_held(r.case_, opt.fixed, n);
    estimate_problem problem = problem_of(r.runs, base.c, std::move(opt), j.inputs, n);
    study_plan plan = plan_of(r.vary, r.cases, r.cases_table, r.case_, base.c, {}, j.inputs);
    n.warn(plan.warnings);
    warn_without_effect(r.case_, base.c, model_varies(plan), n);
    n.tell(plan.notes);
    j.problem = design_problem_of(std::move(problem), std::move(estimate), std::move(plan), measure, for_factor);
    // The map's axes: a grid of two varied settings (the same checks as drawing it).
    if (r.map) study_map(j.problem.candidates, 0, "", "", field("map"));

    j.plugin = plugin_or_default(r.plugin);
    j.workers = check_workers(r.workers);
    return j;
}

input_list inputs_of(const estimate_request& r) { return inputs_of(r.case_, r.plugin, runs_inputs(r.runs)); }

input_list inputs_of(const design_request& r) {
    input_list more = runs_inputs(r.runs);
    if (r.estimate.file) more.emplace_back("the estimate file", *r.estimate.file);
    if (r.cases) more.emplace_back("the case table", *r.cases);
    return inputs_of(r.case_, r.plugin, std::move(more));
}

}  // namespace workbench
