// A solved run as plain data: the profile (trays or plug-flow stations),
// the outlet, the equilibrium and the NC-FLOW, and what defines them (the
// feed in kmol/s, the temperature along the reactor, the CO2 conversion).
// The solvers that make one: solver/reactor.h.
#ifndef UREA_WORKBENCH_MODEL_RESULT_H
#define UREA_WORKBENCH_MODEL_RESULT_H

#include <array>
#include <string>
#include <vector>

#include "model/case.h"

namespace workbench {

// The largest balance residual a solution may have (see balance_residual):
// what the rounding of the flows and of the plug-in's rate terms explains.
// A tray whose residual is above it is not a solution.
inline constexpr double balance_residual_bound = 1e-12;

// Below this share of the carbon fed, the CO2 fed (free and as carbamate)
// is too little for a conversion per CO2 fed to mean anything: it is
// reported as undefined.
inline constexpr double min_co2_share_for_conversion = 1e-3;

// The plug-flow reactor's profile: this many stations, evenly along its volume.
inline constexpr int pfr_stations = 20;

// Flows are kmol/s inside, kmol/h in cases and results.
inline constexpr double seconds_per_hour = 3600.0;

// One point of the profile: a tray's outlet, or a station along the plug-flow reactor.
struct station {
    double volume_m3;       // reacting volume from the inlet up to here
    double temperature_K;
    flows n;                // molar flows, kmol/s
    double co2_conversion;  // urea formed so far / CO2 fed (free and as carbamate); NaN if undefined
    // Trays: the largest over all components of |F_out - F_in - rates(x_out)|
    // relative to the size of the numbers it is computed from (see
    // balance_residual in solver/reactor.h); at most balance_residual_bound.
    double balance_residual = 0.0;
    int iterations = 0;     // trays: Newton iterations
};

struct result {
    std::vector<station> profile;
    flows feed{};           // kmol/s
    flows outlet{};         // kmol/s
    bool co2_conversion_defined = true;  // false: every conversion below is NaN
    double co2_conversion = 0.0;
    double pressure_Pa = 0.0;
    double outlet_temperature_K = 0.0;
    // Chemical equilibrium at the outlet temperature and pressure.
    flows equilibrium{};    // kmol/s
    double equilibrium_co2_conversion = 0.0;
    flows nc_flow_kg_s{};   // UPROPU "NC-FLOW" of the outlet
    std::array<double, 4> atom_closure{};  // C, H, N, O: (out - in) / in
    double max_balance_residual = 0.0;     // trays: the largest of the trays'; plug flow: 0
    long rate_calls = 0;
    std::vector<std::string> warnings;     // what validate warned of (run)
};

// Temperature (K) at a fraction s in [0, 1] of the reactor volume.
double temperature_at(const reactor_case& c, double s);

flows feed_kmol_s(const reactor_case& c);

// Whether a conversion per CO2 fed means anything for this feed, and its value.
bool co2_conversion_defined(const flows& feed);
double co2_conversion(const flows& feed, const flows& n);

}  // namespace workbench

#endif
