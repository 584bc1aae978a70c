#include "analysis/synthetic_history.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <random>

#include "analysis/runs_model.h"

namespace workbench {

synthetic_counts write_synthetic_history(std::ostream& out, workbench_host& h, const reactor_case& base, const synthetic_history& recipe) {
    std::mt19937_64 rng(recipe.seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto day_of = [](std::int64_t t) { return static_cast<double>(t) / static_cast<double>(ms_per_day); };
    const auto within = [&](const std::optional<synthetic_history::span>& s, double day) {
        return s && day >= s->from_day && day < s->to_day;
    };
    out << "# SYNTHETIC plant history, NOT plant data: made by the workbench's reactor at a1 = " << recipe.a1
        << ", a2 = " << recipe.a2 << " (seed " << recipe.seed << ")\n";
    out << "time,feed_kmol_h.CO2,feed_kmol_h.NH3,feed_kmol_h.H2O,feed_kmol_h.O2,feed_kmol_h.N2,inlet_temperature_C,"
           "outlet_temperature_C,pressure_bar,w_NH3,w_CO2,w_UREA,w_H2O\n";
    out << std::setprecision(12);
    std::string offset;
    if (recipe.utc_offset_minutes) {
        const int m = std::abs(*recipe.utc_offset_minutes);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%c%02d:%02d", *recipe.utc_offset_minutes < 0 ? '-' : '+', m / 60, m % 60);
        offset = buf;
    }
    const std::int64_t clock = recipe.utc_offset_minutes ? *recipe.utc_offset_minutes * ms_per_minute : 0;
    const double nh3 = nh3_co2_ratio(base), h2o = h2o_co2_ratio(base);
    const double co2 = base.feed_kmol_h[CO2];
    synthetic_counts n;
    std::vector<station> warm;
    double frozen = NAN;
    const auto rows = static_cast<std::int64_t>(recipe.days * static_cast<double>(ms_per_day)) / recipe.row_ms;
    for (std::int64_t k = 0; k < rows; ++k) {
        const std::int64_t t = k * recipe.row_ms;
        const double day = day_of(t);
        // The noise is drawn for every row, kept or not, so that a gap
        // changes no other row.
        std::array<double, 8> e{};
        for (double& x : e) x = normal(rng);
        const double spike = uniform(rng);
        const auto spiked = static_cast<std::size_t>(uniform(rng) * 3.0);
        std::array<double, 4> lab_noise{};
        for (double& x : lab_noise) x = normal(rng);
        if (within(recipe.gap, day)) continue;
        // The true state.
        double load = 1.0;
        for (const double r : recipe.ramp_days) load *= 1.0 + recipe.ramp * std::clamp(day - r, 0.0, 1.0);
        reactor_case c = base;
        c.a1 = recipe.a1;
        c.a2 = recipe.a2_at(t);
        c.feed_kmol_h[CO2] = co2 * load;
        set_nh3_co2_ratio(c, nh3);
        set_h2o_co2_ratio(c, h2o);
        // The meters.
        std::array<double, 3> meter = {c.feed_kmol_h[CO2], c.feed_kmol_h[NH3], c.feed_kmol_h[H2O]};
        if (within(recipe.co2_bias, day)) meter[0] *= 1.0 + recipe.bias;
        for (std::size_t m = 0; m < 3; ++m) meter[m] *= 1.0 + recipe.meter_noise * e[m];
        if (spike < recipe.spike_rate) {
            meter[spiked] *= 1.3;
            ++n.spikes;
        }
        double t_out = c.outlet_temperature_C + recipe.temperature_noise * e[4];
        if (within(recipe.frozen_t_out, day)) {
            if (std::isnan(frozen)) frozen = t_out;
            t_out = frozen;
        } else {
            frozen = NAN;
        }
        out << timestamp_text(recipe.start_ms + t + clock, false) << offset << "," << meter[0] << "," << meter[1] << ","
            << meter[2] << "," << c.feed_kmol_h[O2] * (1.0 + recipe.meter_noise * e[6]) << ","
            << c.feed_kmol_h[N2] * (1.0 + recipe.meter_noise * e[7]) << ","
            << c.inlet_temperature_C + recipe.temperature_noise * e[3] << "," << t_out << ","
            << c.pressure_bar + recipe.pressure_noise * e[5];
        ++n.rows;
        if (t % recipe.lab_every_ms == 0) {
            ++n.lab_rows;
            const model::outcome o = predict_run(c, h, &warm);
            if (!o.ok) throw solver_error("synthetic history: no solution at " + timestamp_text(recipe.start_ms + t, false) + ": " + o.failure);
            for (std::size_t q = 0; q < 4; ++q) {
                out << "," << o.values[q + 1] + recipe.lab_sigma * lab_noise[q];
            }
        } else {
            out << ",,,,";
        }
        out << "\n";
    }
    return n;
}

synthetic_counts write_synthetic_history(const std::string& path, const std::string& plugin, const synthetic_history& recipe) {
    session lib(plugin);
    property_set props;
    workbench_host h(lib, props);
    std::ofstream out(path);
    return write_synthetic_history(out, h, default_case(), recipe);
}

}  // namespace workbench
