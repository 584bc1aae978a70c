#include "model/settings.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "base/text.h"
#include "model/schema.h"

namespace workbench {
namespace {

// The settings' column names: the case's first fields as declared
// (model/schema.h), in the order of `setting`, a family by component.
const std::array<std::string, setting_count>& setting_columns() {
    static const std::array<std::string, setting_count> columns = [] {
        std::array<std::string, setting_count> a;
        std::size_t n = 0;
        for (const schema_field& f : type_of("case").fields) {
            if (std::string_view(f.name).find("<C>") == std::string_view::npos) {
                if (n == setting_count) break;
                a[n++] = f.name;
                continue;
            }
            for (const char* c : component_names) {
                if (n == setting_count) throw std::logic_error("the case declares more settings than there are");
                a[n++] = filled(f.name, c);
            }
        }
        return a;
    }();
    return columns;
}

// The command line's names for the same settings.
const std::map<std::string, setting>& aliases() {
    static const std::map<std::string, setting> a = {
        {"volume", setting::volume_m3},        {"pressure", setting::pressure_bar},
        {"t_in", setting::inlet_temperature_C}, {"t_out", setting::outlet_temperature_C},
        {"co2", setting::feed_CO2},
    };
    return a;
}

template <auto member>
double get_member(const reactor_case& c) {
    return static_cast<double>(c.*member);
}

template <auto member>
void set_member(reactor_case& c, double v) {
    c.*member = static_cast<std::remove_cvref_t<decltype(c.*member)>>(v);
}

template <auto member>
case_number number_named(const char* name) {
    return {&field_of("case", name), &get_member<member>, &set_member<member>};
}

}  // namespace

std::span<const case_number> case_numbers() {
    static const std::array<case_number, 7> numbers = {
        number_named<&reactor_case::trays>(setting_column(setting::trays)),
        number_named<&reactor_case::volume_m3>(setting_column(setting::volume_m3)),
        number_named<&reactor_case::pressure_bar>(setting_column(setting::pressure_bar)),
        number_named<&reactor_case::inlet_temperature_C>(setting_column(setting::inlet_temperature_C)),
        number_named<&reactor_case::outlet_temperature_C>(setting_column(setting::outlet_temperature_C)),
        number_named<&reactor_case::a1>("a1"),
        number_named<&reactor_case::a2>("a2"),
    };
    return numbers;
}

const char* setting_column(setting s) { return setting_columns()[static_cast<std::size_t>(s)].c_str(); }

std::string normalised_name(const std::string& name) {
    const std::size_t a = name.find_first_not_of(" \t");
    const std::size_t b = name.find_last_not_of(" \t");
    std::string s = a == std::string::npos ? "" : name.substr(a, b - a + 1);
    for (char& ch : s) {
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        if (ch == '-') ch = '_';
    }
    if (s.rfind("reactor.", 0) == 0) s.erase(0, 8);
    return s;
}

std::optional<setting> setting_named(const std::string& name) {
    const std::string key = normalised_name(name);
    for (std::size_t i = 0; i < setting_count; ++i) {
        if (key == normalised_name(setting_columns()[i])) return static_cast<setting>(i);
    }
    const auto it = aliases().find(key);
    if (it != aliases().end()) return it->second;
    return std::nullopt;
}

reactor_case with_settings(const reactor_case& base, const settings_given& settings) {
    reactor_case c = base;
    const auto given = [&](setting s) { return settings[static_cast<std::size_t>(s)]; };
    if (const auto v = given(setting::trays)) c.trays = static_cast<int>(*v);
    if (const auto v = given(setting::volume_m3)) c.volume_m3 = *v;
    if (const auto v = given(setting::pressure_bar)) c.pressure_bar = *v;
    if (const auto v = given(setting::inlet_temperature_C)) c.inlet_temperature_C = *v;
    if (const auto v = given(setting::outlet_temperature_C)) c.outlet_temperature_C = *v;
    const auto flow = [](std::size_t component) {
        return static_cast<setting>(static_cast<std::size_t>(setting::feed_NH3) + component);
    };
    for (std::size_t i = 0; i < component_count; ++i) {
        if (const auto v = given(flow(i))) c.feed_kmol_h[i] = *v;
    }
    const bool co2_fed = c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB] > 0.0;
    const bool base_co2_fed = base.feed_kmol_h[CO2] + base.feed_kmol_h[CARB] > 0.0;
    const bool co2_changed = given(setting::feed_CO2) || given(setting::feed_CARB);
    // As --co2 does: NH3 and H2O follow the CO2 fed at the base case's ratios,
    // unless the row sets them.
    if (co2_changed && co2_fed && base_co2_fed) {
        if (!given(setting::feed_NH3) && !given(setting::nh3_co2)) set_nh3_co2_ratio(c, nh3_co2_ratio(base));
        if (!given(setting::feed_H2O) && !given(setting::h2o_co2)) set_h2o_co2_ratio(c, h2o_co2_ratio(base));
    }
    if (co2_fed) {
        if (const auto v = given(setting::nh3_co2)) set_nh3_co2_ratio(c, *v);
        if (const auto v = given(setting::h2o_co2)) set_h2o_co2_ratio(c, *v);
    }
    return c;
}

std::optional<case_quantity> case_quantity_named(const std::string& name) {
    const std::string key = normalised_name(name);
    if (key == "a1" || key == "a2") return case_quantity{key, std::nullopt};
    if (const auto s = setting_named(name)) return case_quantity{setting_column(*s), s};
    return std::nullopt;
}

const char* quantity_unit(const std::string& name) { return case_unit(name); }

std::string quantity_lookalike(const std::string& name, bool model, const std::vector<std::string>& more) {
    const std::string key = normalised_name(name);
    std::vector<std::string> names = {"a1", "a2"};
    if (model) names.emplace_back("model");
    for (const char* alias : {"volume", "pressure", "t_in", "t_out", "co2"}) names.emplace_back(alias);
    for (const std::string& column : setting_columns()) names.push_back(column);
    names.insert(names.end(), more.begin(), more.end());
    std::string best;
    std::size_t best_distance = 99;
    for (const std::string& n : names) {
        const std::string candidate = normalised_name(n);
        // One edit in a short name, two in a longer one; a short name
        // (id, tag) is far from every setting. (No more edits than the
        // lengths differ by: a long name is not compared at all.)
        const std::size_t allowed = std::min(key.size(), candidate.size()) <= 4 ? 1 : 2;
        if (std::max(key.size(), candidate.size()) - std::min(key.size(), candidate.size()) > allowed) continue;
        const std::size_t d = edit_distance(key, candidate);
        if (d <= allowed && d < best_distance) {
            best_distance = d;
            best = n;
        }
    }
    return best;
}

std::string quantity_name_problem(const std::string& name, bool with_model) {
    const std::string like = quantity_lookalike(name, with_model);
    return "\"" + name + "\" is no quantity of a case" + (like.empty() ? "" : "; did you mean " + like + "?") + " (" +
           case_quantity_names + (with_model ? "; or model=trays,pfr)" : ")");
}

reactor_case with_named(const reactor_case& base, const std::vector<std::pair<std::string, double>>& values) {
    reactor_case c = base;
    settings_given settings{};
    std::map<std::string, bool> seen;
    for (const auto& [name, value] : values) {
        const auto q = case_quantity_named(name);
        if (!q) throw input_error(quantity_name_problem(name, false));
        if (seen[q->name]) throw input_error(q->name + " is set twice");
        seen[q->name] = true;
        if (!q->which) {
            (q->name == "a1" ? c.a1 : c.a2) = value;
            continue;
        }
        if (*q->which == setting::trays && value != std::floor(value)) {
            throw input_error::at_key("reactor.trays", "must be a whole number (got " + std::to_string(value) + ")");
        }
        settings[static_cast<std::size_t>(*q->which)] = value;
    }
    return with_settings(c, settings);
}

std::string quantity_of_option(const std::string& option) {
    std::string name = option;
    while (!name.empty() && name.front() == '-') name.erase(name.begin());
    if (normalised_name(name) == "model") return "model";
    const auto q = case_quantity_named(name);
    return q ? q->name : "";
}

}  // namespace workbench
