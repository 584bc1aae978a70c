#include "model/results.h"

#include <array>
#include <cmath>
#include <string_view>

#include "base/text.h"
#include "model/limits.h"
#include "model/observation.h"
#include "model/properties.h"
#include "model/settings.h"

namespace workbench {
namespace {

constexpr std::size_t none = component_count;

double total(const flows& n) {
    double s = 0.0;
    for (const double f : n) s += f;
    return s;
}

// The station N (1-based) of the profile, or null past its end.
const station* at_tray(const result& r, std::size_t tray) {
    return tray >= 1 && tray <= r.profile.size() ? &r.profile[tray - 1] : nullptr;
}

double conversion(const result& r, const reactor_case&, std::size_t, std::size_t) {
    return r.co2_conversion_defined ? r.co2_conversion : NAN;
}
double equilibrium_conversion(const result& r, const reactor_case&, std::size_t, std::size_t) {
    return r.co2_conversion_defined ? r.equilibrium_co2_conversion : NAN;
}
double approach(const result& r, const reactor_case&, std::size_t, std::size_t) {
    return r.co2_conversion_defined && r.equilibrium_co2_conversion > 0.0
               ? r.co2_conversion / r.equilibrium_co2_conversion
               : NAN;
}
// The lab analysis's basis: see set_nc_mass_fractions, the one definition.
double mass_fraction(const result& r, const reactor_case&, std::size_t component, std::size_t) {
    predicted p{};
    set_nc_mass_fractions(r.nc_flow_kg_s, p);
    switch (component) {
        case NH3: return p[static_cast<std::size_t>(quantity::w_nh3)];
        case CO2: return p[static_cast<std::size_t>(quantity::w_co2)];
        case UREA: return p[static_cast<std::size_t>(quantity::w_urea)];
        case H2O: return p[static_cast<std::size_t>(quantity::w_h2o)];
        default: return NAN;
    }
}
double outlet_kmol_h(const result& r, const reactor_case&, std::size_t i, std::size_t) {
    return r.outlet[i] * seconds_per_hour;
}
double outlet_kg_h(const result& r, const reactor_case&, std::size_t i, std::size_t) {
    return r.outlet[i] * seconds_per_hour * molecular_weight[i];
}
double equilibrium_kmol_h(const result& r, const reactor_case&, std::size_t i, std::size_t) {
    return r.equilibrium[i] * seconds_per_hour;
}
double equilibrium_kg_h(const result& r, const reactor_case&, std::size_t i, std::size_t) {
    return r.equilibrium[i] * seconds_per_hour * molecular_weight[i];
}
double nc_flow_kg_h(const result& r, const reactor_case&, std::size_t i, std::size_t) {
    return r.nc_flow_kg_s[i] * seconds_per_hour;
}
double outlet_mole_fraction(const result& r, const reactor_case&, std::size_t i, std::size_t) {
    const double n = total(r.outlet);
    return n > 0.0 ? r.outlet[i] / n : NAN;
}
double tray_mole_fraction(const result& r, const reactor_case&, std::size_t i, std::size_t tray) {
    const station* s = at_tray(r, tray);
    if (s == nullptr) return NAN;
    const double n = total(s->n);
    return n > 0.0 ? s->n[i] / n : NAN;
}
double tray_temperature(const result& r, const reactor_case&, std::size_t, std::size_t tray) {
    const station* s = at_tray(r, tray);
    return s == nullptr ? NAN : s->temperature_K - kelvin;
}

// The liquid's residence time, min: each tray's volume over the volumetric
// flow leaving it (a stirred tray holds what leaves it),
//     tau = sum_k V_k / Q_k,   Q = sum_i n_i v_i(T)   (m3/s; n kmol/s, v m3/kmol),
// the molar volumes those the reactor's rates are taken with (ideal mixing);
// in plug flow tau = integral dV / Q(V), by the trapezoid rule from the inlet
// (the feed at the inlet temperature) over the 20 stations.
double residence_time(const result& r, const reactor_case& c, std::size_t, std::size_t) {
    const property_set props(c.tables);
    const auto q = [&](const flows& n, double t) {
        double v = 0.0;
        for (std::size_t i = 0; i < component_count; ++i) v += n[i] * props.molar_volume_of(i, t);
        return v;
    };
    double tau = 0.0, v_before = 0.0;
    double inverse_before = 1.0 / q(r.feed, c.inlet_temperature_C + kelvin);
    for (const station& s : r.profile) {
        const double dv = s.volume_m3 - v_before;
        const double inverse = 1.0 / q(s.n, s.temperature_K);
        tau += c.model == reactor_model::trays ? dv * inverse : 0.5 * dv * (inverse + inverse_before);
        v_before = s.volume_m3;
        inverse_before = inverse;
    }
    return std::isfinite(tau) ? tau / 60.0 : NAN;
}

// The outlet's ratios on the basis the feed's are set on (nh3_co2,
// h2o_co2): carbamate counted as 2 NH3 + CO2, urea not counted.
double outlet_nh3_co2(const result& r, const reactor_case&, std::size_t, std::size_t) {
    const double co2 = r.outlet[CO2] + r.outlet[CARB];
    return co2 > 0.0 ? (r.outlet[NH3] + 2.0 * r.outlet[CARB]) / co2 : NAN;
}
double outlet_h2o_co2(const result& r, const reactor_case&, std::size_t, std::size_t) {
    const double co2 = r.outlet[CO2] + r.outlet[CARB];
    return co2 > 0.0 ? r.outlet[H2O] / co2 : NAN;
}
double balance_residual(const result& r, const reactor_case&, std::size_t, std::size_t) {
    return r.max_balance_residual;
}
double rate_calls(const result& r, const reactor_case&, std::size_t, std::size_t) {
    return static_cast<double>(r.rate_calls);
}

// The list. Measured quantities (a runs file's columns) come in the order
// of `quantity`, checked below. Default standard deviations, absolute:
// 0.005 (half a percentage point) for the conversion, which a plant derives
// from flows and the same analysis, and 0.005 (0.5 wt%) for each mass
// fraction, the repeatability of a plant laboratory's titrations for NH3
// and CO2 and a fair figure for urea and water.
constexpr const char* conversion_axis = "CO_2 conversion (%)";
constexpr const char* mass_fraction_axis = "outlet mass fraction (kg/kg, NC-FLOW basis)";
#define UREA_ANALYSIS_BASIS                                                                              \
    " mass fraction of the outlet liquid as a lab analysis gives it (UPROPU's NC-FLOW basis: carbamate as " \
    "its NH3 and CO2, no air)"

constexpr std::array<result_kind, 20> kinds = {{
    {"co2_conversion", "fraction", "outlet CO2 conversion to urea: urea formed / CO2 fed (free and as carbamate)",
     "CO2 conversion", "CO_2 conversion", conversion_axis, 100.0, none, conversion, true, 0.005, false},
    {"equilibrium_co2_conversion", "fraction",
     "the CO2 conversion at chemical equilibrium at the outlet temperature and pressure", "equilibrium",
     "equilibrium", conversion_axis, 100.0, none, equilibrium_conversion},
    {"approach_to_equilibrium", "fraction", "co2_conversion / equilibrium_co2_conversion", "approach",
     "approach to equilibrium", "approach to equilibrium (%)", 100.0, none, approach},
    {"w_NH3", "kg/kg", "NH3" UREA_ANALYSIS_BASIS, "w NH3", "w NH_3", mass_fraction_axis, 1.0, NH3, mass_fraction,
     true, 0.005, true},
    {"w_CO2", "kg/kg", "CO2" UREA_ANALYSIS_BASIS, "w CO2", "w CO_2", mass_fraction_axis, 1.0, CO2, mass_fraction,
     true, 0.005, true},
    {"w_UREA", "kg/kg", "urea" UREA_ANALYSIS_BASIS, "w UREA", "w urea", mass_fraction_axis, 1.0, UREA,
     mass_fraction, true, 0.005, true},
    {"w_H2O", "kg/kg", "water" UREA_ANALYSIS_BASIS, "w H2O", "w H_2O", mass_fraction_axis, 1.0, H2O,
     mass_fraction, true, 0.005, true},
    {"outlet_kmol_h.<C>", "kmol/h", "outlet molar flow of <C>", "<C> out", "<C> out", "molar flow (kmol/h)", 1.0,
     none, outlet_kmol_h},
    {"outlet_kg_h.<C>", "kg/h", "outlet mass flow of <C>", "<C> out", "<C> out", "mass flow (kg/h)", 1.0, none,
     outlet_kg_h},
    {"equilibrium_kmol_h.<C>", "kmol/h",
     "molar flow of <C> at chemical equilibrium at the outlet temperature and pressure", "<C> eq.",
     "<C> at equilibrium", "molar flow (kmol/h)", 1.0, none, equilibrium_kmol_h},
    {"equilibrium_kg_h.<C>", "kg/h",
     "mass flow of <C> at chemical equilibrium at the outlet temperature and pressure", "<C> eq.",
     "<C> at equilibrium", "mass flow (kg/h)", 1.0, none, equilibrium_kg_h},
    {"nc_flow_kg_h.<C>", "kg/h",
     "the outlet's NC-FLOW of <C> from UPROPU: its mass flow with carbamate counted as the NH3 and CO2 that "
     "form it (CARB is 0)",
     "<C> NC-FLOW", "<C> NC-FLOW", "mass flow (kg/h)", 1.0, none, nc_flow_kg_h},
    {"x_<C>", "mol/mol", "mole fraction of <C> in the outlet liquid", "x <C>", "x <C>", "liquid mole fraction (mol/mol)", 1.0,
     none, outlet_mole_fraction},
    {"x_<C>@N", "mol/mol", "mole fraction of <C> in the liquid leaving tray (or station) N", "x <C>@N",
     "x <C> (N)", "liquid mole fraction (mol/mol)", 1.0, none, tray_mole_fraction},
    {"temperature_C@N", "C", "temperature of tray (or station) N", "T@N", "temperature (N)", "temperature (°C)", 1.0,
     none, tray_temperature},
    {"residence_time_min", "min",
     "the liquid's residence time: each tray's volume over the volumetric flow leaving it, summed (plug flow: "
     "the integral of dV/Q)",
     "residence", "residence time", "liquid residence time (min)", 1.0, none, residence_time},
    {"nh3_co2_out", "mol/mol",
     "the outlet's N/C: (NH3 + 2 CARB) / (CO2 + CARB), urea not counted, as nh3_co2 is for the feed",
     "NH3/CO2 out", "NH_3/CO_2 out", "outlet molar ratio (mol/mol)", 1.0, none, outlet_nh3_co2},
    {"h2o_co2_out", "mol/mol",
     "the outlet's H2O/C: H2O / (CO2 + CARB), urea not counted, as h2o_co2 is for the feed", "H2O/CO2 out",
     "H_2O/CO_2 out", "outlet molar ratio (mol/mol)", 1.0, none, outlet_h2o_co2},
    {"max_balance_residual", "-",
     "the largest tray balance residual, relative to the flows and rate terms it is computed from (plug flow: "
     "0); at most 1e-12",
     "balance resid.", "largest balance residual", "balance residual", 1.0, none, balance_residual},
    {"rate_calls", "calls", "calls of the plug-in's rate routine USURA for the run (warm-started)", "rate calls",
     "rate calls", "rate routine calls", 1.0, none, rate_calls},
}};
#undef UREA_ANALYSIS_BASIS

// The measured quantities are the entries flagged measurable, in the order
// of the enum `quantity`.
constexpr bool same_text(const char* a, const char* b) {
    return std::string_view(a) == std::string_view(b);
}
constexpr std::array<const char*, quantity_count> measured_names = {"co2_conversion", "w_NH3", "w_CO2", "w_UREA",
                                                                   "w_H2O"};
static_assert([] {
    std::size_t q = 0;
    for (const result_kind& k : kinds) {
        if (!k.measurable) continue;
        if (q == quantity_count || !same_text(k.name, measured_names[q])) return false;
        ++q;
    }
    return q == quantity_count;
}(), "the measurable results must be the measured quantities, in the order of `quantity`");

constexpr std::array<quantity_info, quantity_count> measured() {
    std::array<quantity_info, quantity_count> out{};
    std::size_t q = 0;
    for (const result_kind& k : kinds) {
        if (k.measurable) out[q++] = {k.name, k.label, k.default_sigma, k.in_analysis, k.title};
    }
    return out;
}

constexpr std::string_view component_marker = "<C>";
constexpr std::string_view tray_marker = "@N";

bool has_component(const result_kind& k) { return std::string_view(k.name).find(component_marker) != std::string_view::npos; }
bool has_tray(const result_kind& k) {
    const std::string_view n = k.name;
    return n.size() > 2 && n.substr(n.size() - 2) == tray_marker;
}

std::string replaced(std::string s, std::string_view what, const std::string& by) {
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + by.size())) {
        s.replace(at, what.size(), by);
    }
    return s;
}

// The member of a family: every "<C>" and "N" of its texts filled in.
result_quantity member(const result_kind& k, std::size_t component, std::size_t tray) {
    const auto fill = [&](const char* text, bool title) {
        std::string s = text;
        if (component != none) {
            s = replaced(s, component_marker, title ? component_title(component) : component_names[component]);
        }
        if (tray > 0) {
            s = replaced(s, tray_marker, "@" + std::to_string(tray));
            s = replaced(s, "(N)", "(" + std::to_string(tray) + ")");
            s = replaced(s, "station N", "station " + std::to_string(tray));
        }
        return s;
    };
    result_quantity q;
    q.name = fill(k.name, false);
    q.unit = k.unit;
    q.meaning = fill(k.meaning, false);
    q.label = fill(k.label, false);
    q.title = fill(k.title, true);
    q.measurable = k.measurable;
    q.kind = &k;
    q.component = component != none ? component : k.species;
    q.tray = tray;
    return q;
}

}  // namespace

constinit const std::array<quantity_info, quantity_count> quantities = measured();

std::span<const result_kind> result_kinds() { return kinds; }

const char* component_title(std::size_t component) {
    static constexpr std::array<const char*, component_count> titles = {"NH_3", "CO_2", "H_2O", "carbamate",
                                                                        "urea", "O_2", "N_2"};
    return component < component_count ? titles[component] : "";
}

std::optional<result_quantity> result_named(const std::string& name) {
    std::string key = normalised_name(name);
    std::size_t tray = 0;
    const std::size_t at = key.rfind('@');
    if (at != std::string::npos) {
        const std::string n = key.substr(at + 1);
        if (n.empty() || n.size() > 5 || n.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        tray = static_cast<std::size_t>(std::stoul(n));
        if (tray == 0) return std::nullopt;
        key.erase(at);
    }
    for (const result_kind& k : kinds) {
        if (has_tray(k) != (tray > 0)) continue;
        std::string base = k.name;
        if (tray > 0) base.erase(base.size() - 2);
        if (!has_component(k)) {
            if (normalised_name(base) == key) return member(k, none, tray);
            continue;
        }
        for (std::size_t i = 0; i < component_count; ++i) {
            if (normalised_name(replaced(base, component_marker, component_names[i])) == key) {
                return member(k, i, tray);
            }
        }
    }
    return std::nullopt;
}

message result_name_problem(const std::string& name) {
    std::string key = normalised_name(name);
    const std::size_t at = key.rfind('@');
    if (at != std::string::npos) {
        const std::string n = key.substr(at + 1);
        // Digits only, not all 0, and no more than the most trays (however
        // many digits: read as text, not as a number that may overflow).
        const std::string most = std::to_string(max_trays);
        const std::size_t first = n.find_first_not_of('0');
        const std::string digits = first == std::string::npos ? "" : n.substr(first);
        if (n.find_first_not_of("0123456789") != std::string::npos || digits.empty() ||
            digits.size() > most.size() || (digits.size() == most.size() && digits > most)) {
            return "\"" + name + "\": after '@' comes a tray (or station) number from 1 to " + most + ", e.g. x_UREA@3";
        }
    }
    // The nearest name, with the same tray.
    std::string best;
    std::size_t best_distance = 4;
    const std::string tray_part = at == std::string::npos ? "" : key.substr(at);
    const std::string bare = at == std::string::npos ? key : key.substr(0, at);
    for (const result_kind& k : kinds) {
        if (has_tray(k) != !tray_part.empty()) continue;
        std::string base = k.name;
        if (!tray_part.empty()) base.erase(base.size() - 2);
        for (std::size_t i = 0; i < (has_component(k) ? std::size_t{component_count} : std::size_t{1}); ++i) {
            const std::string candidate = has_component(k) ? replaced(base, component_marker, component_names[i]) : base;
            const std::size_t d = edit_distance(bare, normalised_name(candidate));
            if (d < best_distance) {
                best_distance = d;
                best = candidate + (tray_part.empty() ? "" : "@" + tray_part.substr(1));
            }
        }
    }
    return "\"" + name + "\" is no result" + (best.empty() ? "" : " (did you mean " + best + "?)") +
           "; " + mention("result_list") + " lists them";
}

const std::vector<result_quantity>& result_quantities() {
    static const std::vector<result_quantity> all = [] {
        std::vector<result_quantity> v;
        for (const result_kind& k : kinds) {
            if (has_tray(k)) continue;
            if (!has_component(k)) {
                v.push_back(member(k, none, 0));
                continue;
            }
            for (std::size_t i = 0; i < component_count; ++i) v.push_back(member(k, i, 0));
        }
        return v;
    }();
    return all;
}

std::vector<result_quantity> default_results() {
    std::vector<result_quantity> v;
    for (const char* name : {"co2_conversion", "equilibrium_co2_conversion", "w_NH3", "w_CO2", "w_UREA", "w_H2O"}) {
        v.push_back(*result_named(name));
    }
    return v;
}

}  // namespace workbench
