#include "request/common.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <tuple>

#include "base/digest.h"
#include "base/input_files.h"
#include "base/text.h"
#include "io/case_file.h"
#include "model/settings.h"
#include "report/estimate_file.h"
#include "session/check.h"
#include "session/session.h"

namespace workbench {
namespace {

// A flow a setting sets must be a flow: named after the setting.
void check_derived_flow(const field_ref& setting, const reactor_case& c, component i) {
    const double f = c.feed_kmol_h[i];
    std::ostringstream m;
    m << "the " << component_names[i] << " feed would be " << f << " kmol/h";
    if (!(f >= 0.0)) {
        m << "; with the carbamate fed, which holds 2 NH3 per CO2, NH3/CO2 cannot be below "
          << 2.0 * c.feed_kmol_h[CARB] / (c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB]);
        throw input_error(setting, m.str());
    }
    if (f > max_flow_kmol_h) {
        m << ", above " << max_flow_kmol_h << " kmol/h, more than any reactor takes";
        throw input_error(setting, m.str());
    }
}

// The settings of a case request, each with its field's name and the key of
// the case it sets.
struct setting_field {
    const char* name;
    const char* key;
    std::optional<std::string> (*text)(const case_request&);  // the value as given, to quote
};
template <std::optional<given_number> case_request::*value>
std::optional<std::string> as_given(const case_request& r) {
    return r.*value ? std::optional<std::string>((r.*value)->text) : std::nullopt;
}
constexpr setting_field setting_fields[] = {
    {"model", "", [](const case_request& r) { return r.model; }},
    {"trays", "reactor.trays", as_given<&case_request::trays>},
    {"volume", "reactor.volume_m3", as_given<&case_request::volume>},
    {"pressure", "reactor.pressure_bar", as_given<&case_request::pressure>},
    {"t_in", "reactor.inlet_temperature_C", as_given<&case_request::t_in>},
    {"t_out", "reactor.outlet_temperature_C", as_given<&case_request::t_out>},
    {"a1", "kinetics.a1", as_given<&case_request::a1>},
    {"a2", "kinetics.a2", as_given<&case_request::a2>},
    {"co2", "feed_kmol_h.CO2", as_given<&case_request::co2>},
    {"nh3_co2", "", as_given<&case_request::nh3_co2>},
    {"h2o_co2", "", as_given<&case_request::h2o_co2>},
};

reactor_case changed_case(const case_request& r, std::string& text) {
    reactor_case c = default_case();
    if (r.given) {
        c = *r.given;
    } else if (r.file) {
        text = read_input_file(*r.file, "case file");
        c = parse_case(text, *r.file);
    }
    const auto number = [&](const char* name, const std::optional<given_number>& v, number_rule rule) {
        return number_given(field(name), *v, rule);
    };
    if (r.model) c.model = model_given(field("model"), *r.model);
    if (r.trays) c.trays = trays_given(field("trays"), *r.trays);
    if (r.volume) c.volume_m3 = number("volume", r.volume, number_rule::positive);
    if (r.pressure) c.pressure_bar = number("pressure", r.pressure, number_rule::positive);
    if (r.t_in) c.inlet_temperature_C = number("t_in", r.t_in, number_rule::any);
    if (r.t_out) c.outlet_temperature_C = number("t_out", r.t_out, number_rule::any);
    if (r.a1) c.a1 = number("a1", r.a1, number_rule::positive);
    if (r.a2) c.a2 = number("a2", r.a2, number_rule::positive);
    if (r.co2) {
        const double co2 = number("co2", r.co2, number_rule::non_negative);
        if (co2 > max_flow_kmol_h) {
            throw input_error(given("co2", r.co2->text), "above " + std::to_string(static_cast<long>(max_flow_kmol_h)) +
                                                        " kmol/h, more than any reactor takes");
        }
        const double nh3 = nh3_co2_ratio(c), h2o = h2o_co2_ratio(c);
        c.feed_kmol_h[CO2] = co2;
        if (co2 + c.feed_kmol_h[CARB] > 0.0 && std::isfinite(nh3)) {
            set_nh3_co2_ratio(c, nh3);
            set_h2o_co2_ratio(c, h2o);
            check_derived_flow(given("co2", r.co2->text), c, NH3);
            check_derived_flow(given("co2", r.co2->text), c, H2O);
        }
    }
    // Ratios refer to all CO2 fed; without CO2 the check of the case says so.
    const bool has_co2 = c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB] > 0.0;
    if (r.nh3_co2) {
        const double v = number("nh3_co2", r.nh3_co2, number_rule::non_negative);
        if (has_co2) {
            set_nh3_co2_ratio(c, v);
            check_derived_flow(given("nh3_co2", r.nh3_co2->text), c, NH3);
        }
    }
    if (r.h2o_co2) {
        const double v = number("h2o_co2", r.h2o_co2, number_rule::non_negative);
        if (has_co2) {
            set_h2o_co2_ratio(c, v);
            check_derived_flow(given("h2o_co2", r.h2o_co2->text), c, H2O);
        }
    }
    return c;
}

}  // namespace

void notices::warn(const std::vector<std::string>& lines) const {
    for (const std::string& l : lines) warning(message(l));
}

void notices::tell(const std::vector<std::string>& lines) const {
    for (const std::string& l : lines) note(message(l));
}

void notices::tell(const std::vector<message>& lines) const {
    for (const message& l : lines) note(l);
}

checked_case check_case(const case_request& r) {
    checked_case out;
    out.c = changed_case(r, out.text);
    try {
        out.warnings = validate(out.c);
    } catch (const input_error& e) {
        // A value a setting set is named by its field.
        for (const setting_field& s : setting_fields) {
            const std::optional<std::string> v = s.text(r);
            if (v && *s.key != '\0' && e.place().key == s.key) throw input_error(given(s.name, *v), e.reason());
        }
        throw;
    }
    return out;
}

reactor_model model_given(const field_ref& f, const std::string& text) {
    const std::optional<reactor_model> model = model_named(text);
    if (!model) throw input_error(f, "must be 'trays' or 'pfr' (got " + text + ")");
    return *model;
}

int trays_given(const field_ref& f, const given_number& g) {
    const double t = number_given(f, g, number_rule::any);
    if (t != std::floor(t) || t < min_trays || t > max_trays) {
        throw input_error(f, "must be a whole number from " + std::to_string(min_trays) + " to " +
                                 std::to_string(max_trays) + " (got " + g.text + ")");
    }
    return static_cast<int>(t);
}

std::size_t component_given(const std::string& name) {
    const std::size_t i = component_index(name);
    if (i == component_count) {
        throw input_error::at_key("feed_kmol_h." + name, "no component of the case (NH3, CO2, H2O, CARB, UREA, O2, N2)");
    }
    return i;
}

reactor_case with_named_given(const reactor_case& base, const std::vector<std::pair<std::string, given_number>>& values) {
    reactor_case c = base;
    std::vector<std::pair<std::string, double>> numbers;
    for (const auto& [name, value] : values) {
        if (normalised_name(name) == "model") {
            c.model = model_given(field(name), value.text);
            continue;
        }
        numbers.emplace_back(name, number_given(field(name), value, number_rule::any));
    }
    return with_named(c, numbers);
}

void check_vary_against_case(const case_request& r, const std::vector<study_variable>& vars) {
    // In the order of the settings' names on the command line (--a1, --a2,
    // --co2, ...), as it has always reported the first.
    static constexpr const char* order[] = {"a1",      "a2",       "co2",   "h2o_co2", "model", "nh3_co2",
                                            "pressure", "t_in",    "t_out", "trays",   "volume"};
    for (const char* name : order) {
        for (const setting_field& s : setting_fields) {
            const std::optional<std::string> v = s.text(r);
            if (std::string(s.name) != name || !v) continue;
            const std::string q = quantity_of_option(name);
            for (const study_variable& var : vars) {
                if (!q.empty() && q == var.name) {
                    throw input_error(cite(var.source) + " and " + mention(name, "", *v) + " both set " + q +
                                      ": give one of them");
                }
            }
        }
    }
}

input_file input_read(std::string what, std::string path, const std::string& bytes) {
    return {std::move(what), std::move(path), sha256_hex(bytes)};
}

std::optional<band_plan> check_bands(const estimate_given& e, const std::optional<std::string>& band,
                                     const case_request& c, std::vector<input_file>& read) {
    if (!e.any()) {
        if (band) {
            throw input_error(given("band", *band), "bands need an estimate (" + mention("estimate", "", "EST.json") + ")");
        }
        return std::nullopt;
    }
    check_factors_with_estimate(e, c);
    std::optional<band_method> method;
    if (band) method = band_method_named(*band);
    if (e.given) return plan_bands(*e.given, method);
    const std::string text = read_input_file(*e.file, "estimate file");
    read.push_back(input_read("estimate file", *e.file, text));
    return plan_bands(parse_estimate(text, *e.file), method);
}

void check_factors_with_estimate(const estimate_given& e, const case_request& c) {
    if (!e.any()) return;
    for (const auto& [name, value] : {std::pair{"a1", &c.a1}, std::pair{"a2", &c.a2}}) {
        if (*value) {
            throw input_error(mention(name, "", (*value)->text) + " and " + mention("estimate", "", e.file.value_or("")) +
                              ": the estimate sets a1 and a2: give one of them");
        }
    }
}

bool model_varies(const study_plan& plan) {
    return std::find(plan.settings.begin(), plan.settings.end(), "model") != plan.settings.end();
}

void warn_without_effect(const case_request& r, const reactor_case& c, bool model_varies, const notices& n) {
    if (r.trays && c.model == reactor_model::pfr && !model_varies) {
        n.warning(cite(given("trays", r.trays->text)) + ": not used: the case is plug flow, which has no trays");
    }
}

void warn_held(const case_request& r, const std::array<std::optional<double>, 2>& held, const notices& n) {
    for (const auto& [k, name, value] : {std::tuple{0, "a1", &r.a1}, std::tuple{1, "a2", &r.a2}}) {
        const std::optional<double>& h = held[static_cast<std::size_t>(k)];
        if (*value && h) {
            n.warning(cite(given(name, (*value)->text)) + ": not used: " + name + " is held at " + sig(*h) + " (" +
                      mention("fix", name, sig(*h)) + ")");
        }
    }
}

input_list inputs_of(const case_request& c, const std::string& plugin, input_list more) {
    input_list inputs;
    if (c.file) inputs.emplace_back("the case file", *c.file);
    for (auto& i : more) inputs.push_back(std::move(i));
    inputs.emplace_back("the plug-in", plugin_or_default(plugin));
    inputs.emplace_back("this program", "/proc/self/exe");
    return inputs;
}

worker_options check_workers(const workers_request& r) {
    worker_options o;
    o.jobs = available_cores();
    if (r.jobs) {
        // A count, written as one: not 1e3, not 2.0, not -1 (a number given:
        // an int); one message for whatever is not one.
        const std::string& text = r.jobs->text;
        const bool digits = !text.empty() && text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos;
        const double n = digits ? number_given(field("jobs"), *r.jobs, number_rule::any) : 0.0;
        if (!digits || n < 1.0 || n > max_jobs) {
            throw input_error(field("jobs"), "must be a whole number of worker processes from 1 to " +
                                                 std::to_string(max_jobs) + " (got " + text + ")");
        }
        o.jobs = static_cast<unsigned>(n);
    }
    if (r.worker_timeout) {
        o.stall_s = number_given(field("worker_timeout"), *r.worker_timeout, number_rule::positive);
        // Longer would be no hang detection at all, as check's own timeout.
        if (o.stall_s > max_check_timeout_s) {
            throw input_error(field("worker_timeout"), "must be at most " + sig(max_check_timeout_s) + " s (got " +
                                                           r.worker_timeout->text + ")");
        }
    }
    return o;
}

std::string plugin_or_default(const std::string& plugin) { return plugin.empty() ? default_plugin_path() : plugin; }

}  // namespace workbench
