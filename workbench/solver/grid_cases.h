// A fixed grid of reactor cases across the ranges an engineer may try:
// 1..100 trays and plug flow, 150..200 C rising, flat and falling,
// NH3/CO2 1.5..6, H2O/CO2 0..2, 1..5000 m3, a1 1e-3..1e6, a2 1e-6..1e6,
// 50..300 bar, and feeds with carbamate, with urea, without NH3, without
// water. The same cases on every run: the corners of the ranges, the cases
// that once failed, a Halton sequence through the rest, another through
// the corner of small feeds in large, fast reactors of few trays, and one
// through dilute feeds and feeds without water.
#ifndef UREA_WORKBENCH_SOLVER_GRID_CASES_H
#define UREA_WORKBENCH_SOLVER_GRID_CASES_H

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "model/case.h"
#include "model/limits.h"

namespace grid {

// Element i of the Halton sequence in the given prime base, in (0, 1).
inline double halton(int i, int base) {
    double f = 1.0, r = 0.0;
    for (int k = i; k > 0; k /= base) {
        f /= base;
        r += f * (k % base);
    }
    return r;
}

inline double log_between(double lo, double hi, double u) {
    return std::exp(std::log(lo) + u * (std::log(hi) - std::log(lo)));
}

struct named_case {
    std::string name;
    workbench::reactor_case c;
};

// The feed of 2400 kmol/h of CO2 (free and as carbamate), of which a share
// is carbamate, urea recycled at a share of the CO2, and the two ratios.
inline void set_feed(workbench::reactor_case& c, double carb_share, double urea_share,
                     double nh3_co2, double h2o_co2) {
    using namespace workbench;
    c.feed_kmol_h.fill(0.0);
    c.feed_kmol_h[CARB] = 2400.0 * carb_share;
    c.feed_kmol_h[CO2] = 2400.0 - c.feed_kmol_h[CARB];
    c.feed_kmol_h[UREA] = 2400.0 * urea_share;
    c.feed_kmol_h[O2] = 3.0;
    c.feed_kmol_h[N2] = 11.3;
    // NH3 fed besides what the carbamate holds; never negative.
    c.feed_kmol_h[NH3] = std::max(0.0, nh3_co2 * 2400.0 - 2.0 * c.feed_kmol_h[CARB]);
    c.feed_kmol_h[H2O] = h2o_co2 * 2400.0;
}

// A small feed (CO2 kmol/h, NH3 and H2O by their ratios to it) in a large,
// fast reactor of few trays.
inline workbench::reactor_case small_feed(int trays, double t_in, double t_out, double nh3_co2,
                                          double h2o_co2, double v, double a1, double a2,
                                          double co2) {
    using namespace workbench;
    reactor_case c = default_case();
    c.trays = trays;
    c.inlet_temperature_C = t_in;
    c.outlet_temperature_C = t_out;
    c.volume_m3 = v;
    c.a1 = a1;
    c.a2 = a2;
    c.feed_kmol_h[CO2] = co2;
    set_nh3_co2_ratio(c, nh3_co2);
    set_h2o_co2_ratio(c, h2o_co2);
    return c;
}

inline std::vector<named_case> cases() {
    using namespace workbench;
    std::vector<named_case> out;
    const auto add = [&](const std::string& name, const reactor_case& c) {
        out.push_back({name, c});
    };

    // The corners: a1, a2, volume, trays, temperature direction, model.
    for (double a1 : {1e-3, 1e6}) {
        for (double a2 : {1e-6, 1e6}) {
            for (double v : {1.0, 5000.0}) {
                for (int trays : {1, 100}) {
                    for (int rising : {1, 0}) {
                        for (auto model : {reactor_model::trays, reactor_model::pfr}) {
                            if (model == reactor_model::pfr && trays != 1) continue;
                            reactor_case c = default_case();
                            c.model = model;
                            c.a1 = a1;
                            c.a2 = a2;
                            c.volume_m3 = v;
                            c.trays = trays;
                            c.inlet_temperature_C = rising ? 150.0 : 200.0;
                            c.outlet_temperature_C = rising ? 200.0 : 150.0;
                            add("corner a1 " + std::to_string(a1) + " a2 " + std::to_string(a2) +
                                    " V " + std::to_string(v) + " trays " + std::to_string(trays) +
                                    (rising ? " rising" : " falling") +
                                    (model == reactor_model::pfr ? " pfr" : ""),
                                c);
                        }
                    }
                }
            }
        }
    }

    // Cases that once failed.
    {
        reactor_case c = default_case();
        c.a1 = 292.864;
        c.a2 = 5.29429;
        add("a1 292.864, a2 5.29429", c);
        c = default_case();
        c.a1 = 3000.0;
        add("a1 3000", c);
        for (double v : {150.0, 190.0, 250.0, 400.0, 1000.0}) {
            c = default_case();
            c.trays = 1;
            c.volume_m3 = v;
            c.feed_kmol_h.fill(0.0);
            c.feed_kmol_h[CARB] = 2400.0;
            add("carbamate only, 1 tray, " + std::to_string(v) + " m3", c);
        }
        c = default_case();
        c.feed_kmol_h.fill(0.0);
        c.feed_kmol_h[UREA] = 1000.0;
        c.feed_kmol_h[H2O] = 1500.0;
        c.feed_kmol_h[CO2] = 1e-6;
        add("urea and water, a trace of CO2", c);
        c = default_case();
        c.inlet_temperature_C = 199.0;
        c.outlet_temperature_C = 170.0;
        c.a2 = 0.5;
        add("falling 199 -> 170, a2 0.5", c);
        // Small feeds in large, fast reactors whose last tray's KINSOL line
        // search once evaluated one point for ever (besides the one
        // reactor_test.cpp runs on its own).
        const std::array<std::array<double, 9>, 9> hung = {{
            {2, 180.017, 196.398, 3.1818, 0.8741, 4967.2, 172.42, 139070, 60.426},
            {2, 155.334, 199.926, 3.1717, 0.1503, 3899.0, 411.88, 56553, 74.353},
            {2, 159.506, 184.662, 2.8883, 0.7160, 3236.3, 210.65, 48990, 57.71},
            {2, 175.273, 190.401, 4.2957, 0.2171, 3293.1, 263.02, 183580, 83.936},
            {2, 157.311, 179.606, 3.4633, 0.7223, 3654.9, 329.51, 74719, 77.744},
            {2, 165.905, 190.885, 3.8208, 0.1401, 4148.5, 605.65, 249670, 84.49},
            {3, 151.883, 180.022, 3.1794, 0.6736, 4504.7, 266.5, 162390, 50.272},
            {3, 157.267, 195.977, 2.3059, 0.1581, 3571.4, 182.73, 53364, 153.83},
            {3, 159.111, 192.560, 3.0591, 0.9723, 4101.3, 80.031, 32796, 51.539},
        }};
        for (std::size_t k = 0; k < hung.size(); ++k) {
            const auto& h = hung[k];
            add("small feed, large fast reactor " + std::to_string(k + 1),
                small_feed(static_cast<int>(h[0]), h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8]));
        }
    }

    // A Halton sequence through the whole box.
    constexpr int halton_cases = 330;
    constexpr std::array<int, 12> bases = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
    for (int i = 1; i <= halton_cases; ++i) {
        std::array<double, bases.size()> u{};
        for (std::size_t d = 0; d < bases.size(); ++d) u[d] = halton(i + 20, bases[d]);
        reactor_case c = default_case();
        c.model = u[0] < 0.3 ? reactor_model::pfr : reactor_model::trays;
        c.trays = static_cast<int>(std::lround(log_between(1.0, 100.0, u[1])));
        c.inlet_temperature_C = 150.0 + 50.0 * u[2];
        // A third each rising, falling and flat.
        c.outlet_temperature_C = u[3] < 1.0 / 3.0   ? c.inlet_temperature_C
                                 : u[3] < 2.0 / 3.0 ? 150.0 + 50.0 * u[4]
                                                    : 200.0 - 50.0 * u[4];
        c.volume_m3 = log_between(1.0, 5000.0, u[5]);
        c.a1 = log_between(1e-3, 1e6, u[6]);
        c.a2 = log_between(1e-6, 1e6, u[7]);
        c.pressure_bar = 50.0 + 250.0 * u[8];
        const double nh3_co2 = 1.5 + 4.5 * u[9];
        const double h2o_co2 = 2.0 * u[10];
        // The feed's kind: plain, with carbamate, with urea, no NH3, no water.
        const int kind = static_cast<int>(u[11] * 5.0);
        std::string what;
        switch (kind) {
            case 0: set_feed(c, 0.0, 0.0, nh3_co2, h2o_co2); what = "plain"; break;
            case 1: set_feed(c, 0.6, 0.0, nh3_co2, h2o_co2); what = "carbamate"; break;
            case 2: set_feed(c, 0.2, 0.1, nh3_co2, h2o_co2); what = "urea"; break;
            case 3: set_feed(c, 0.0, 0.0, 0.0, h2o_co2); what = "no NH3"; break;
            default: set_feed(c, 0.3, 0.0, nh3_co2, 0.0); what = "no water"; break;
        }
        add("halton " + std::to_string(i) + " (" + what + ")", c);
    }

    // A Halton sequence through the corner of small feeds (10..300 kmol/h
    // of CO2 against 2400) in large (1000..5000 m3), fast (a1 1..1e4, a2
    // 1e3..1e6) reactors of 1..4 trays.
    constexpr int corner_cases = 40;
    for (int i = 1; i <= corner_cases; ++i) {
        std::array<double, 9> u{};
        for (std::size_t d = 0; d < u.size(); ++d) u[d] = halton(i + 20, bases[d]);
        add("small-feed corner " + std::to_string(i),
            small_feed(1 + static_cast<int>(4.0 * u[0]), 150.0 + 50.0 * u[1], 150.0 + 50.0 * u[2],
                       2.0 + 3.0 * u[3], 2.0 * u[4], log_between(1000.0, 5000.0, u[5]),
                       log_between(1.0, 1e4, u[6]), log_between(1e3, 1e6, u[7]),
                       log_between(10.0, 300.0, u[8])));
    }
    // A Halton sequence through the corner of dilute feeds (0.00001 to 1
    // kmol/h of CO2 against the default case's 14.3 kmol/h of air) and of
    // feeds without water (half of them), in reactors of 1..20 trays or plug
    // flow, with the whole box's temperatures, volumes, pressures and rate
    // factors: the carbamate, the urea or the free CO2 is a trace there.
    constexpr int dilute_cases = 60;
    for (int i = 1; i <= dilute_cases; ++i) {
        std::array<double, bases.size()> u{};
        for (std::size_t d = 0; d < bases.size(); ++d) u[d] = halton(i + 20, bases[d]);
        reactor_case c = default_case();
        c.model = u[0] < 0.3 ? reactor_model::pfr : reactor_model::trays;
        c.trays = static_cast<int>(std::lround(log_between(1.0, 20.0, u[1])));
        c.inlet_temperature_C = 150.0 + 50.0 * u[2];
        c.outlet_temperature_C = u[3] < 1.0 / 3.0   ? c.inlet_temperature_C
                                 : u[3] < 2.0 / 3.0 ? 150.0 + 50.0 * u[4]
                                                    : 200.0 - 50.0 * u[4];
        c.volume_m3 = log_between(1.0, 5000.0, u[5]);
        c.a1 = log_between(1e-3, 1e6, u[6]);
        c.a2 = log_between(1e-6, 1e6, u[7]);
        c.pressure_bar = 50.0 + 250.0 * u[8];
        c.feed_kmol_h[CO2] = log_between(1e-5, 1.0, u[9]);
        set_nh3_co2_ratio(c, 1.5 + 4.5 * u[10]);
        const bool dry = u[11] < 0.5;
        set_h2o_co2_ratio(c, dry ? 0.0 : 4.0 * (u[11] - 0.5));
        add("dilute " + std::to_string(i) + (dry ? " (no water)" : ""), c);
    }
    // The two that the command line once called unsolvable, and feeds at
    // the most dilute a case may be (1e-12 reacting, the rest air).
    {
        reactor_case c = default_case();
        c.feed_kmol_h[CO2] = 1e-5;
        set_nh3_co2_ratio(c, 3.07);
        set_h2o_co2_ratio(c, 0.41);
        add("dilute: --co2 1e-5", c);
        c.feed_kmol_h[CO2] = 1e-4;
        set_nh3_co2_ratio(c, 3.07);
        set_h2o_co2_ratio(c, 0.0);
        add("dilute: --co2 1e-4 --h2o-co2 0", c);
        // Plug flow whose integration in the two extents fails (the
        // carbamate a 1e-12 part of the urea).
        c = default_case();
        c.model = reactor_model::pfr;
        c.inlet_temperature_C = c.outlet_temperature_C = 165.39;
        c.volume_m3 = 1412.0;
        c.a1 = 5.873e5;
        c.a2 = 6.655e5;
        c.pressure_bar = 123.8;
        c.feed_kmol_h[CO2] = 1.013e-7;
        c.feed_kmol_h[NH3] = 5.994e-7;
        c.feed_kmol_h[H2O] = 4.187e-8;
        add("dilute: plug flow, fast dehydration", c);
        for (int k = 0; k < 4; ++k) {
            c = default_case();
            c.trays = 1 + 3 * k;
            c.a1 = std::pow(10.0, 2 * k - 3);
            c.a2 = std::pow(10.0, 3 * k - 4);
            c.feed_kmol_h[O2] = 0.2 * max_flow_kmol_h;
            c.feed_kmol_h[N2] = 0.8 * max_flow_kmol_h;
            c.feed_kmol_h[CO2] = 1.01e-12 * max_flow_kmol_h / (1.0 + 3.07 + (k % 2 ? 0.0 : 0.41));
            set_nh3_co2_ratio(c, 3.07);
            set_h2o_co2_ratio(c, k % 2 ? 0.0 : 0.41);
            add("dilute: at the bound " + std::to_string(k + 1), c);
        }
    }
    return out;
}

}  // namespace grid

#endif
