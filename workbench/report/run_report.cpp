#include "report/run_report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "base/text.h"
#include "io/case_file.h"
#include "report/gnuplot.h"
#include "report/palette.h"

namespace workbench {
namespace {

constexpr double per_hour = 3600.0;
constexpr std::array<const char*, 4> elements = {"C", "H", "N", "O"};

double total(const flows& n) {
    double s = 0.0;
    for (double f : n) s += f;
    return s;
}

}  // namespace

void print_report(std::ostream& out, const reactor_case& c, const result& r) {
    const bool trays = c.model == reactor_model::trays;
    out << "Urea reactor: " << c.name << "\n";
    out << "  " << (trays ? std::to_string(c.trays) + " stirred trays in series"
                          : std::string("plug flow"))
        << ", " << c.volume_m3 << " m3, " << c.pressure_bar << " bar, " << c.inlet_temperature_C
        << " -> " << c.outlet_temperature_C << " C; NH3/CO2 = " << std::setprecision(3)
        << nh3_co2_ratio(c) << ", H2O/CO2 = " << h2o_co2_ratio(c) << "; a1 = " << c.a1
        << ", a2 = " << std::setprecision(6) << c.a2 << "\n\n";
    out << (trays ? "  tray" : "  V m3") << "   T C    x NH3   x CO2   x H2O   x CARB  x UREA  "
                                           "x O2+N2  CO2 conv %\n";
    for (std::size_t k = 0; k < r.profile.size(); ++k) {
        const station& s = r.profile[k];
        const double n = total(s.n);
        out << (trays ? fixed(static_cast<double>(k + 1), 6, 0) : fixed(s.volume_m3, 6, 1))
            << fixed(s.temperature_K - kelvin, 8, 1);
        for (std::size_t i : {NH3, CO2, H2O, CARB, UREA}) out << fixed(s.n[i] / n, 8, 4);
        out << fixed((s.n[O2] + s.n[N2]) / n, 9, 4)
            << (r.co2_conversion_defined ? fixed(100.0 * s.co2_conversion, 12, 2) : "           -")
            << "\n";
    }
    out << "\nOutlet (" << fixed(r.outlet_temperature_K - kelvin, 0, 1) << " C)\n";
    out << "  component   feed kmol/h  outlet kmol/h  equilibrium kmol/h  NC-FLOW kg/h\n";
    for (std::size_t i = 0; i < component_count; ++i) {
        out << "  " << std::left << std::setw(8) << component_names[i] << std::right
            << fixed(r.feed[i] * per_hour, 14, 1) << fixed(r.outlet[i] * per_hour, 15, 1)
            << fixed(r.equilibrium[i] * per_hour, 20, 1)
            << fixed(r.nc_flow_kg_s[i] * per_hour, 14, 0) << "\n";
    }
    if (r.co2_conversion_defined) {
        out << "  CO2 conversion to urea:        " << fixed(100.0 * r.co2_conversion, 6, 2) << " %\n";
        out << "  equilibrium at outlet T and P: "
            << fixed(100.0 * r.equilibrium_co2_conversion, 6, 2) << " %\n";
    } else {
        out << "  CO2 conversion to urea:        undefined: the CO2 fed (free and as carbamate) is "
               "less than "
            << 100.0 * min_co2_share_for_conversion << " % of the carbon fed\n";
    }
    out << "  atom balance (out - in) / in: ";
    out << std::scientific << std::setprecision(1);
    for (std::size_t e = 0; e < 4; ++e) {
        out << " " << elements[e] << " " << r.atom_closure[e];
    }
    out << std::defaultfloat << "\n";
    if (trays) {
        out << "  largest tray balance residual:  " << std::scientific << std::setprecision(1)
            << r.max_balance_residual << " of the flows and rate terms (bound "
            << balance_residual_bound << ")" << std::defaultfloat << "\n";
    }
    out << "  rate routine calls: " << r.rate_calls << "\n";
}

nlohmann::ordered_json case_json(const reactor_case& c) { return case_file_json(c); }

nlohmann::ordered_json result_json(const reactor_case& c, const result& r,
                           const std::vector<std::string>& warnings) {
    using json = nlohmann::ordered_json;
    const auto by_component = [](const flows& f, double factor) {
        json j = json::object();
        for (std::size_t i = 0; i < component_count; ++i) j[component_names[i]] = f[i] * factor;
        return j;
    };
    // An undefined conversion is null.
    const auto conversion = [&](double v) { return r.co2_conversion_defined ? json(v) : json(nullptr); };
    json profile = json::array();
    for (const station& s : r.profile) {
        json x = json::object();
        const double n = total(s.n);
        for (std::size_t i = 0; i < component_count; ++i) x[component_names[i]] = s.n[i] / n;
        json p = {{"volume_m3", s.volume_m3},
                  {"temperature_C", s.temperature_K - kelvin},
                  {"mole_fractions", x},
                  {"flows_kmol_h", by_component(s.n, per_hour)},
                  {"co2_conversion", conversion(s.co2_conversion)}};
        if (c.model == reactor_model::trays) {
            p["balance_residual"] = s.balance_residual;
            p["newton_iterations"] = s.iterations;
        }
        profile.push_back(p);
    }
    json closure = json::object();
    for (std::size_t e = 0; e < 4; ++e) closure[elements[e]] = r.atom_closure[e];
    return {
        {"case", case_json(c)},
        {"profile", profile},
        {"co2_conversion", conversion(r.co2_conversion)},
        {"equilibrium_co2_conversion", conversion(r.equilibrium_co2_conversion)},
        {"feed_kmol_h", by_component(r.feed, per_hour)},
        {"outlet_kmol_h", by_component(r.outlet, per_hour)},
        {"equilibrium_kmol_h", by_component(r.equilibrium, per_hour)},
        {"nc_flow_kg_h", by_component(r.nc_flow_kg_s, per_hour)},
        {"atom_closure", closure},
        {"max_balance_residual", r.max_balance_residual},
        {"balance_residual_bound", balance_residual_bound},
        {"rate_calls", r.rate_calls},
        {"warnings", warnings},
    };
}

table profile_table(const reactor_case& c, const result& r, const std::vector<result_band>* band) {
    table t;
    const bool trays = c.model == reactor_model::trays;
    const auto declared_as = [](const char* name) -> const schema_field& { return field_of("profile", name); };
    t.add(declared_as(trays ? "tray" : "station"));
    t.add(declared_as("volume_m3"));
    t.add(declared_as("temperature_C"));
    for (const char* name : component_names) t.add(declared_as("x_<C>"), name);
    for (const char* name : component_names) t.add(declared_as("flow_<C>_kmol_h"), name);
    t.add(declared_as("co2_conversion"));
    if (band != nullptr) {
        t.add(declared_as("co2_conversion_low"));
        t.add(declared_as("co2_conversion_high"));
    }
    for (std::size_t k = 0; k < r.profile.size(); ++k) {
        const station& s = r.profile[k];
        const double n = total(s.n);
        std::size_t i = 0;
        t[i++].push(static_cast<double>(k + 1));
        t[i++].push(s.volume_m3);
        t[i++].push(s.temperature_K - kelvin);
        for (double f : s.n) t[i++].push(f / n);
        for (double f : s.n) t[i++].push(f * per_hour);
        t[i++].push(r.co2_conversion_defined ? s.co2_conversion : NAN);
        if (band != nullptr) {
            t[i++].push((*band)[k].low);
            t[i++].push((*band)[k].high);
        }
    }
    return t;
}

std::string profile_csv(const reactor_case& c, const result& r, const std::vector<result_band>* band) {
    return csv_text(profile_table(c, r, band));
}

figure run_figure(const reactor_case& c, const result& r, const std::vector<result_band>* band, band_method method) {
    const bool trays = c.model == reactor_model::trays;
    figure f;
    f.title = "Urea reactor: " + (trays ? std::to_string(c.trays) + " stirred trays" : std::string("plug flow")) + ", " +
              sig(c.pressure_bar, 6) + " bar, " +
              (band != nullptr ? "at the estimate a1 = " + sig(c.a1, 4) + ", a2 = " + sig(c.a2, 4) : "a2 = " + sig(c.a2, 10));
    // The inlet first (volume 0, the feed), then each tray or station.
    std::vector<double> volume = {0.0}, temperature = {c.inlet_temperature_C};
    std::vector<double> conversion = {r.co2_conversion_defined ? 0.0 : NAN}, low = {0.0}, high = {0.0};
    std::array<std::vector<double>, component_count> x;
    for (std::size_t i = 0; i < component_count; ++i) x[i].push_back(r.feed[i] / total(r.feed));
    for (std::size_t k = 0; k < r.profile.size(); ++k) {
        const station& st = r.profile[k];
        volume.push_back(st.volume_m3);
        temperature.push_back(st.temperature_K - kelvin);
        conversion.push_back(r.co2_conversion_defined ? 100.0 * st.co2_conversion : NAN);
        for (std::size_t i = 0; i < component_count; ++i) x[i].push_back(st.n[i] / total(st.n));
        if (band != nullptr) {
            low.push_back(100.0 * (*band)[k].low);
            high.push_back(100.0 * (*band)[k].high);
        }
    }
    const axis along{"reacting volume from the inlet", "m^3", axis_scale::linear, 0.0, c.volume_m3, {}};
    // Trays: each tray a point, in its curve's point type; plug flow: lines.
    const auto curve = [&](std::string title, const curve_style& st, std::vector<double> y) {
        series s;
        s.title = std::move(title);
        s.colour = st.colour;
        s.marker = st.marker;
        s.marks = trays;
        s.size = 0.7;
        s.width = 2;
        s.x = volume;
        s.y = std::move(y);
        return s;
    };
    panel top;
    top.x = along;
    top.y = {"CO_2 conversion to urea", "%", axis_scale::linear, 0.0, 100.0, {}};
    top.y2 = axis{"temperature", "°C", axis_scale::linear, std::min(c.inlet_temperature_C, c.outlet_temperature_C) - 5.0,
                  std::max(c.inlet_temperature_C, c.outlet_temperature_C) + 5.0, {}};
    top.key = key_place::bottom_right;
    if (band != nullptr) {
        series b = curve("95 % band (" + std::string(band_method_name(method)) + ")", conversion_style, conversion);
        b.how = mark::band;
        b.low = low;
        b.high = high;
        top.drawn.push_back(b);
    }
    top.drawn.push_back(curve("CO_2 conversion", conversion_style, conversion));
    if (r.co2_conversion_defined) {
        series eq;
        eq.title = "equilibrium at outlet, " + fixed(100.0 * r.equilibrium_co2_conversion, 0, 1) + " %";
        eq.how = mark::hline;
        eq.role = series_role::equilibrium;
        eq.dash = 2;
        eq.width = 2;
        eq.y = {100.0 * r.equilibrium_co2_conversion};
        top.drawn.push_back(eq);
    }
    series t = curve("temperature", temperature_style, temperature);
    t.marks = false;
    t.width = 1;
    t.right = true;
    top.drawn.push_back(t);
    panel bottom;
    bottom.x = along;
    bottom.y = {"liquid mole fraction", "mol/mol", axis_scale::linear, 0.0, std::nullopt, {}};
    for (const component i : {NH3, CO2, H2O, CARB, UREA}) {
        bottom.drawn.push_back(curve(component_title(i), species_styles[i], x[i]));
    }
    f.panels = {top, bottom};
    return f;
}

std::string plot_script(const reactor_case& c, const result& r, const std::vector<result_band>* band,
                        band_method method) {
    return gnuplot_script(run_figure(c, r, band, method));
}

}  // namespace workbench
