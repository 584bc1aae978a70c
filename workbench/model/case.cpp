#include "model/case.h"

#include "model/properties.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace workbench {
namespace {

double co2_fed(const reactor_case& c) { return c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB]; }

}  // namespace

std::size_t component_index(const std::string& name) {
    for (std::size_t i = 0; i < component_count; ++i) {
        if (name == component_names[i]) return i;
    }
    return component_count;
}

reactor_case default_case() {
    reactor_case c;
    c.a2 = default_a2;
    c.feed_kmol_h[CO2] = 2400.0;
    set_nh3_co2_ratio(c, 3.07);
    set_h2o_co2_ratio(c, 0.41);
    // Passivation air, about 0.6 vol% of the CO2 feed's gas.
    c.feed_kmol_h[O2] = 3.0;
    c.feed_kmol_h[N2] = 11.3;
    return c;
}

void set_nh3_co2_ratio(reactor_case& c, double ratio) {
    c.feed_kmol_h[NH3] = ratio * co2_fed(c) - 2.0 * c.feed_kmol_h[CARB];
}
void set_h2o_co2_ratio(reactor_case& c, double ratio) {
    c.feed_kmol_h[H2O] = ratio * co2_fed(c);
}
double nh3_co2_ratio(const reactor_case& c) {
    return (c.feed_kmol_h[NH3] + 2.0 * c.feed_kmol_h[CARB]) / co2_fed(c);
}
double h2o_co2_ratio(const reactor_case& c) { return c.feed_kmol_h[H2O] / co2_fed(c); }

const char* model_name(reactor_model m) { return m == reactor_model::pfr ? "pfr" : "trays"; }

std::optional<reactor_model> model_named(std::string_view name) {
    for (const reactor_model m : {reactor_model::trays, reactor_model::pfr}) {
        if (name == model_name(m)) return m;
    }
    return std::nullopt;
}

std::vector<std::string> validate(const reactor_case& c) {
    const auto fail = [](const std::string& key, const std::string& reason) {
        throw input_error::at_key(key, reason);
    };
    if (c.trays < min_trays) {
        fail("reactor.trays", "must be at least " + std::to_string(min_trays) + " (got " + std::to_string(c.trays) + ")");
    }
    if (c.trays > max_trays) {
        fail("reactor.trays", "at most " + std::to_string(max_trays) + " trays (got " + std::to_string(c.trays) + ")");
    }
    // > 0, and within the physical bounds.
    const auto bounded = [&](const char* key, double v, double lo, double hi, const char* unit) {
        std::ostringstream m;
        if (!(v > 0.0) || !std::isfinite(v)) {
            m << "must be > 0 " << unit << " (got " << v << ")";
            fail(key, m.str());
        }
        if (v < lo || v > hi) {
            m << "must be from " << lo << " to " << hi << (*unit ? " " : "") << unit << " (got " << v << ")";
            fail(key, m.str());
        }
    };
    bounded("reactor.volume_m3", c.volume_m3, min_volume_m3, max_volume_m3, "m3");
    bounded("reactor.pressure_bar", c.pressure_bar, min_pressure_bar, max_pressure_bar, "bar");
    bounded("kinetics.a1", c.a1, min_rate_factor, max_rate_factor, "");
    bounded("kinetics.a2", c.a2, min_rate_factor, max_rate_factor, "");
    // The CO2 fed first: the NH3 and water follow it when set by ratios.
    for (const std::size_t i : {CO2, CARB, NH3, H2O, UREA, O2, N2}) {
        const std::string key = std::string("feed_kmol_h.") + component_names[i];
        if (std::isnan(c.feed_kmol_h[i])) fail(key, "a flow must be a number (got nan)");
        if (c.feed_kmol_h[i] < 0.0) {
            std::ostringstream m;
            m << "a flow must not be negative (got " << c.feed_kmol_h[i] << " kmol/h)";
            fail(key, m.str());
        }
        if (c.feed_kmol_h[i] > max_flow_kmol_h) {
            std::ostringstream m;
            m << c.feed_kmol_h[i] << " kmol/h is above " << max_flow_kmol_h << " kmol/h, more than any reactor takes";
            fail(key, m.str());
        }
    }
    if (!(co2_fed(c) > 0.0)) {
        fail("feed_kmol_h.CO2", "no CO2 in the feed (neither free nor as CARB): nothing to convert");
    }
    double reacting = 0.0, total = 0.0;
    for (std::size_t i = 0; i < component_count; ++i) {
        total += c.feed_kmol_h[i];
        if (i != O2 && i != N2) reacting += c.feed_kmol_h[i];
    }
    if (reacting < min_reacting_share * total) {
        std::ostringstream m;
        m << "the reacting components (NH3, CO2, H2O, CARB, UREA) are " << reacting / total
          << " of the feed in moles, the rest O2 and N2: at least " << min_reacting_share
          << ", as a liquid more dilute is beyond what the solvers resolve";
        fail("feed_kmol_h", m.str());
    }
    std::vector<std::string> warnings;
    const auto temperature = [&](const char* key, double t_C) {
        if (!std::isfinite(t_C) || t_C + kelvin <= 0.0) fail(key, "not a temperature");
        if (t_C < min_temperature_C || t_C > max_temperature_C) {
            std::ostringstream m;
            m << "must be from " << min_temperature_C << " to " << max_temperature_C << " C (got " << t_C << ")";
            fail(key, m.str());
        }
        const double t = t_C + kelvin;
        if (t < plugin_t_min_K || t > plugin_t_max_K) {
            std::ostringstream m;
            m << key << " = " << t_C << " C is outside 149.85-199.85 C (423-473 K): the plug-in "
              << "clamps temperatures to that range, so rates and properties there are taken at "
              << (t < plugin_t_min_K ? "149.85 C" : "199.85 C");
            warnings.push_back(m.str());
        }
    };
    temperature("reactor.inlet_temperature_C", c.inlet_temperature_C);
    temperature("reactor.outlet_temperature_C", c.outlet_temperature_C);
    // Tables must cover the temperatures the plug-in asks for.
    for (const auto& [i, t] : c.tables) {
        const double lo = std::clamp(std::min(c.inlet_temperature_C, c.outlet_temperature_C) + kelvin,
                                     plugin_t_min_K, plugin_t_max_K);
        const double hi = std::clamp(std::max(c.inlet_temperature_C, c.outlet_temperature_C) + kelvin,
                                     plugin_t_min_K, plugin_t_max_K);
        if (t.temperature_K.front() > lo + 1e-9 || t.temperature_K.back() < hi - 1e-9) {
            std::ostringstream m;
            m << "the grid " << t.temperature_K.front() - kelvin << " .. " << t.temperature_K.back() - kelvin
              << " C does not cover the reactor's " << lo - kelvin << " .. " << hi - kelvin << " C";
            fail(std::string("properties.") + component_names[i] + ".temperature_C", m.str());
        }
    }
    for (std::string& w : table_unit_warnings(c)) warnings.push_back(std::move(w));
    return warnings;
}

}  // namespace workbench
