#include "request/run.h"

#include "base/text.h"

namespace workbench {

run_job check_run(const run_request& r, const notices& n) {
    run_job j;
    j.bands = check_bands(r.estimate, r.band, r.case_, j.inputs);
    checked_case c = check_case(r.case_);
    if (r.case_.file) j.inputs.insert(j.inputs.begin(), input_read("case file", *r.case_.file, c.text));
    if (j.bands) {
        for (std::string& w : check_carry_over(j.bands->u, c.c, r.estimate.carry_factors)) c.warnings.push_back(std::move(w));
    }
    n.warn(c.warnings);
    warn_without_effect(r.case_, c.c, false, n);
    j.c = std::move(c.c);
    j.case_text = std::move(c.text);
    j.plugin = plugin_or_default(r.plugin);
    return j;
}

fit_job check_fit(const fit_request& r, const notices& n) {
    fit_job j;
    j.target = number_given(field("co2_conversion"), r.co2_conversion, number_rule::positive);
    if (!(j.target < 1.0)) {
        throw input_error(field("co2_conversion"),
                          "the target must be a fraction between 0 and 1 (got " + r.co2_conversion.text +
                              percentage_hint(j.target) + ")");
    }
    checked_case c = check_case(r.case_);
    if (r.case_.file) j.inputs.push_back(input_read("case file", *r.case_.file, c.text));
    n.warn(c.warnings);
    warn_without_effect(r.case_, c.c, false, n);
    j.c = std::move(c.c);
    j.plugin = plugin_or_default(r.plugin);
    return j;
}

input_list inputs_of(const run_request& r) {
    input_list more;
    if (r.estimate.file) more.emplace_back("the estimate file", *r.estimate.file);
    return inputs_of(r.case_, r.plugin, std::move(more));
}

input_list inputs_of(const fit_request& r) { return inputs_of(r.case_, r.plugin); }

}  // namespace workbench
