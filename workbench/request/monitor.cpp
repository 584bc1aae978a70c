#include "request/monitor.h"

#include <algorithm>

#include "base/text.h"
#include "base/timestamps.h"

namespace workbench {

monitor_options check_monitor_options(const monitor_request& r) {
    monitor_options o;
    if (r.window) o.window_ms = duration_given("window", *r.window);
    o.step_ms = r.step ? duration_given("step", *r.step) : o.window_ms;
    if (r.frozen) o.frozen_ms = duration_given("frozen", *r.frozen);
    for (std::size_t k = 0; k < r.fix.size(); ++k) {
        const field_ref source = entry("fix", k, r.fix[k].text, r.fix[k].key);
        estimate_options held;
        hold_parameter(held, source, r.fix[k].number());
        if (held.fixed[1]) {
            throw input_error(source, "a2 is what the monitor follows, window by window; only a1 can be held");
        }
        o.a1 = held.fixed[0];
    }
    for (std::size_t k = 0; k < r.meter_sigma.size(); ++k) {
        set_meter_sigma(o, entry("meter_sigma", k, r.meter_sigma[k].text, r.meter_sigma[k].key), r.meter_sigma[k].number());
    }
    return o;
}

monitor_job check_monitor(const monitor_request& r, const notices& n) {
    const monitor_options o = check_monitor_options(r);
    monitor_job j;
    checked_case base = check_case(r.case_);
    if (r.case_.file) j.inputs.push_back(input_read("case file", *r.case_.file, base.text));
    n.warn(base.warnings);
    warn_without_effect(r.case_, base.c, false, n);
    warn_held(r.case_, {o.a1, std::nullopt}, n);
    j.case_file = r.case_.file.value_or("");
    j.case_text = std::move(base.text);
    history h;
    if (r.history.table) {
        // A table in memory, read as the CSV file it would be written as, its
        // columns of numbers as the numbers (its rows spooled unless sorted,
        // as a file's).
        const table_given& t = *r.history.table;
        table_source records(t.header, t.columns);
        h = history_of(records, t.name, r.sort, true);
    } else {
        h = read_history(r.history.file, r.sort);
        j.inputs.push_back({"history file", r.history.file, h.sha256});
    }
    // A meter's uncertainty for a meter the history has no column of.
    for (std::size_t k = 0; k < r.meter_sigma.size(); ++k) {
        const std::string& text = r.meter_sigma[k].text;
        const std::optional<setting> s = setting_named(text.substr(0, text.find('=')));
        if (s && h.of_setting(*s) == nullptr) {
            n.warning(cite(entry("meter_sigma", k, text, r.meter_sigma[k].key)) + ": not used: " + printable(h.file) +
                      " has no column " + setting_column(*s));
        }
    }
    j.problem = monitor_problem_of(std::move(h), base.c, o);
    n.warn(j.problem.warnings);
    j.plugin = plugin_or_default(r.plugin);
    j.workers = check_workers(r.workers);
    return j;
}

input_list inputs_of(const monitor_request& r) {
    input_list more;
    if (!r.history.file.empty()) more.emplace_back("the history file", r.history.file);
    return inputs_of(r.case_, r.plugin, std::move(more));
}

}  // namespace workbench
