// Every case of a fixed grid across the ranges an engineer may try solves,
// within its documented balance bound and a bounded number of rate calls,
// never converts beyond the equilibrium where the chemistry forbids it, and
// never prints NaN.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include "solver/grid_cases.h"
#include "model/limits.h"
#include "model/properties.h"
#include "solver/reactor.h"
#include "report/run_report.h"
#include "session/session.h"

namespace {

using namespace workbench;

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

// |F_out - F_in - rates| summed over the two reactions, for the tray's
// outlet moved by the extents d1, d2 (kmol/s).
double tray_misfit(workbench_host& h, const flows& n_in, const flows& n_out, double t, double p,
                   double v, const reactor_case& c, double d1, double d2) {
    flows n = n_out;
    n[NH3] -= 2.0 * d1;
    n[CO2] -= d1;
    n[CARB] += d1 - d2;
    n[UREA] += d2;
    n[H2O] += d2;
    const flows r = h.rates(n, t, p, v, c.a1, c.a2);
    return std::abs(n_in[CO2] - n[CO2] + r[CO2]) + std::abs(n[UREA] - n_in[UREA] - r[UREA]);
}

TEST(Grid, EveryCaseSolvesWithinItsBoundAndNeverPrintsNaN) {
    const auto cases = grid::cases();
    ASSERT_GE(cases.size(), 300u);
    // The real routines, counted: a solver that would call them for ever
    // gets NaN past 20000 calls and fails.
    session lib(PLUGIN_CAPPED);
    int trays = 0, pfr = 0, kinetic_excess = 0;
    for (const auto& g : cases) {
        SCOPED_TRACE(g.name);
        // Each case meets the plug-in as a fresh process does: nothing
        // remembered from the case before.
        lib.library().reload();
        property_set props(g.c.tables);
        workbench_host h(lib, props);
        const run_outcome o = run_case(g.c, h);
        ASSERT_TRUE(o.ok()) << o.failure << "\n" << o.details;
        const result& r = *o.value;
        (g.c.model == reactor_model::trays ? trays : pfr) += 1;
        // Some 20-40 calls a tray (up to 72 a tray in the grid, counting
        // the outlet's equilibrium as two trays), 1700 for plug flow. In a
        // dilute liquid a tray may take the nested roots (within their
        // budget) and plug flow a second integration.
        const bool dilute = g.name.rfind("dilute", 0) == 0;
        EXPECT_LE(r.rate_calls, g.c.model == reactor_model::trays ? (dilute ? 5000L : 100L) * (g.c.trays + 2)
                                                                  : (dilute ? 2 * rate_calls_per_pfr : 2500L));

        // Every tray is a root: within its bound, and the balance misfit
        // grows when the outlet moves by 1e-9 of the carbon fed either way.
        EXPECT_LE(r.max_balance_residual, balance_residual_bound);
        if (g.c.model == reactor_model::trays) {
            const double d = 1e-9 * (r.feed[CO2] + r.feed[CARB] + r.feed[UREA]);
            const double v = g.c.volume_m3 / g.c.trays;
            flows n_in = r.feed;
            for (const station& s : r.profile) {
                EXPECT_LE(s.balance_residual, balance_residual_bound);
                const double at = tray_misfit(h, n_in, s.n, s.temperature_K, r.pressure_Pa, v, g.c, 0, 0);
                for (const auto& [d1, d2] : {std::pair{d, 0.0}, {-d, 0.0}, {0.0, d}, {0.0, -d}}) {
                    EXPECT_LT(at, tray_misfit(h, n_in, s.n, s.temperature_K, r.pressure_Pa, v, g.c, d1, d2))
                        << "at " << s.volume_m3 << " m3";
                }
                n_in = s.n;
            }
        }
        for (double closure : r.atom_closure) EXPECT_LT(std::abs(closure), 1e-13);
        for (double f : r.outlet) EXPECT_GE(f, 0.0);

        // With a temperature that rises or stays, no urea beyond the
        // equilibrium at the outlet; unless carbamate is still above its own
        // equilibrium (slow carbamate formation, fast dehydration), and then
        // the excess goes once carbamate forms a thousand times faster. In a
        // dilute liquid urea made where it was cooler also turns back slowly
        // (the reverse dehydration goes with the square of the mole
        // fractions): there the excess goes once both react a million times
        // faster.
        if (r.co2_conversion_defined && g.c.outlet_temperature_C >= g.c.inlet_temperature_C &&
            r.co2_conversion > r.equilibrium_co2_conversion + 1e-9) {
            const flows rates = h.rates(r.outlet, r.outlet_temperature_K, r.pressure_Pa, 1.0, g.c.a1, g.c.a2);
            EXPECT_GT(rates[CO2], 0.0) << "carbamate forms at the outlet, yet conversion "
                                       << r.co2_conversion << " > equilibrium "
                                       << r.equilibrium_co2_conversion;
            reactor_case fast = g.c;
            fast.a1 = std::min(fast.a1 * (dilute ? 1e6 : 1e3), max_rate_factor);
            if (dilute) fast.a2 = std::min(fast.a2 * 1e6, max_rate_factor);
            lib.library().reload();
            workbench_host h_fast(lib, props);
            const result rf = simulate(fast, h_fast);
            EXPECT_LE(rf.co2_conversion, rf.equilibrium_co2_conversion + 1e-9);
            ++kinetic_excess;
        }

        // What a user sees: no NaN, no infinity, no null but an undefined conversion.
        std::ostringstream text;
        print_report(text, g.c, r);
        const std::string json = result_json(g.c, r, {}).dump();
        const std::string all = lower(text.str() + profile_csv(g.c, r) + json);
        EXPECT_EQ(all.find("nan"), std::string::npos);
        EXPECT_EQ(all.find("inf"), std::string::npos);
        if (r.co2_conversion_defined) {
            EXPECT_EQ(json.find("null"), std::string::npos);
        }
    }
    EXPECT_GE(trays, 240);
    EXPECT_GE(pfr, 95);
    // The grid has a few cases of slow carbamate formation with fast
    // dehydration; most rising cases convert below equilibrium.
    EXPECT_LT(kinetic_excess, 20);
}

}  // namespace
