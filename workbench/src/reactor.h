// The reactor models: N equal stirred trays in series (each solved with
// KINSOL) or the plug-flow limit (integrated with CVODE), and the chemical
// equilibrium at the outlet conditions (KINSOL on rates = 0).
#ifndef UREA_WORKBENCH_REACTOR_H
#define UREA_WORKBENCH_REACTOR_H

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "case.h"
#include "workbench_host.h"

namespace workbench {

// A solver that did not converge; the message says what was tried.
class solver_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One point of the profile: a tray's outlet, or a station along the plug-flow reactor.
struct station {
    double volume_m3;       // reacting volume from the inlet up to here
    double temperature_K;
    flows n;                // molar flows, kmol/s
    double co2_conversion;  // urea formed so far / CO2 fed (free and as carbamate)
    double balance_residual = 0.0;  // trays: max |F_out - F_in - rates(x_out)| / total feed
    int iterations = 0;     // trays: Newton iterations
};

struct result {
    std::vector<station> profile;
    flows feed{};           // kmol/s
    flows outlet{};         // kmol/s
    double co2_conversion = 0.0;
    double pressure_Pa = 0.0;
    double outlet_temperature_K = 0.0;
    // Chemical equilibrium at the outlet temperature and pressure.
    flows equilibrium{};    // kmol/s
    double equilibrium_co2_conversion = 0.0;
    flows nc_flow_kg_s{};   // UPROPU "NC-FLOW" of the outlet
    std::array<double, 4> atom_closure{};  // C, H, N, O: (out - in) / in
    double max_balance_residual = 0.0;
    long rate_calls = 0;
};

// Temperature (K) at a fraction s in [0, 1] of the reactor volume.
double temperature_at(const reactor_case& c, double s);

// Runs the case; throws solver_error when a solver does not converge.
result simulate(const reactor_case& c, workbench_host& h);

// Only the outlet CO2 conversion (what the fit needs; no equilibrium, no NC-FLOW).
double outlet_conversion(const reactor_case& c, workbench_host& h);

// The composition at which both net rates vanish, from the feed, at t and p.
flows equilibrium(const reactor_case& c, workbench_host& h, const flows& feed_kmol_s, double t, double p,
                  const flows& guess);

// CO2 conversion of a stream relative to a feed.
double co2_conversion(const flows& feed, const flows& n);

flows feed_kmol_s(const reactor_case& c);

}  // namespace workbench

#endif
