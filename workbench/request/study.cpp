#include "request/study.h"

#include "report/study_report.h"

namespace workbench {
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

input_list study_inputs(const case_request& c, const std::string& plugin, const estimate_given& e,
                        const std::optional<std::string>& cases) {
    input_list more;
    if (e.file) more.emplace_back("the estimate file", *e.file);
    if (cases) more.emplace_back("the case table", *cases);
    return inputs_of(c, plugin, std::move(more));
}

}  // namespace

std::vector<result_quantity> results_of(const std::vector<given_value>& names, const std::vector<std::string>& maps) {
    std::vector<result_quantity> results;
    const auto add = [&](const field_ref& f, const std::string& name, bool again_is_fine) {
        const auto q = result_named(name);
        if (!q) throw input_error(f, result_name_problem(name));
        for (const result_quantity& r : results) {
            if (r.name != q->name) continue;
            if (again_is_fine) return;
            throw input_error(f, q->name + " is asked for twice");
        }
        results.push_back(*q);
    };
    for (std::size_t k = 0; k < names.size(); ++k) {
        for (const std::string& name : split_names(names[k].text)) {
            add(entry("results", k, name, names[k].key), name, false);
        }
    }
    if (results.empty()) results = default_results();
    for (const std::string& name : maps) add(given("map", name), name, true);
    return results;
}

study_job check_study(const study_request& r, const notices& n) {
    std::vector<result_quantity> results = results_of(r.results, r.maps);
    const bool has_cases = r.cases || r.cases_table;
    if (has_cases && !r.vary.empty()) {
        throw input_error(mention("cases", "", r.cases.value_or(r.cases_table ? r.cases_table->name : "")) + " and " +
                          mention("vary") + ": give one of them (a case table, or a grid)");
    }
    if (!has_cases && r.vary.empty()) {
        throw input_error("study: give " + mention("vary", "", "NAME=FROM:TO:N") +
                          " or NAME=V1,V2,... (any number of times), or " + mention("cases", "", "FILE.csv"));
    }
    study_job j;
    std::optional<band_plan> bands = check_bands(r.estimate, r.band, r.case_, j.inputs);
    const checked_case base = check_case(r.case_);
    if (r.case_.file) j.inputs.insert(j.inputs.begin(), input_read("case file", *r.case_.file, base.text));
    j.plan = plan_of(r.vary, r.cases, r.cases_table, r.case_, base.c, std::move(results), j.inputs);
    if (bands) {
        check_carry_over(bands->u, base.c, r.estimate.carry_factors);
        add_bands(j.plan, std::move(*bands));
    }
    n.warn(j.plan.warnings);
    warn_without_effect(r.case_, base.c, model_varies(j.plan), n);
    n.tell(j.plan.notes);
    for (const std::string& result : r.maps) study_map(j.plan, result);
    j.plugin = plugin_or_default(r.plugin);
    j.workers = check_workers(r.workers);
    return j;
}

sweep_job check_sweep(const sweep_request& r, const notices& n) {
    std::vector<sweep_variable> vars;
    for (std::size_t k = 0; k < r.vary.size(); ++k) vars.push_back(parse_vary(entry("vary", k, r.vary[k].text, r.vary[k].key), r.vary[k].numbers));
    check_vary_against_case(r.case_, vars);
    sweep_job j;
    std::optional<band_plan> bands = check_bands(r.estimate, r.band, r.case_, j.inputs);
    const checked_case base = check_case(r.case_);
    if (r.case_.file) j.inputs.insert(j.inputs.begin(), input_read("case file", *r.case_.file, base.text));
    j.plan = plan_sweep(base.c, std::move(vars));
    // With bands, the study's table, CSV and JSON, which have room for them.
    if (bands) {
        check_carry_over(bands->u, base.c, r.estimate.carry_factors);
        add_bands(j.plan.study, std::move(*bands));
        j.plan.warnings = j.plan.study.warnings;
    }
    n.warn(j.plan.warnings);
    warn_without_effect(r.case_, base.c, false, n);
    n.tell(j.plan.notes);
    j.plugin = plugin_or_default(r.plugin);
    j.workers = check_workers(r.workers);
    return j;
}

input_list inputs_of(const study_request& r) { return study_inputs(r.case_, r.plugin, r.estimate, r.cases); }

input_list inputs_of(const sweep_request& r) { return study_inputs(r.case_, r.plugin, r.estimate, std::nullopt); }

}  // namespace workbench
