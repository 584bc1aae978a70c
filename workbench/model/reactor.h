// The reactor models: N equal stirred trays in series (each solved with
// KINSOL) or the plug-flow limit (integrated with CVODE), and the chemical
// equilibrium at the outlet conditions.
//
// Everything here runs in-process and reports a solver that fails by
// solver_error (or, through run_case, by a status), never by ending the
// process: a caller may run many cases, e.g. while tuning a1 and a2.
#ifndef UREA_WORKBENCH_MODEL_REACTOR_H
#define UREA_WORKBENCH_MODEL_REACTOR_H

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/case.h"
#include "model/errors.h"
#include "session/session.h"

namespace workbench {

// The largest balance residual a solution may have (see balance_residual):
// what the rounding of the flows and of the plug-in's rate terms explains.
// A tray whose residual is above it is not a solution.
inline constexpr double balance_residual_bound = 1e-12;

// The rate calls (calls of the plug-in's rate routine) each solver start may
// make: a start that has spent its budget ends as one that fails, so that
// every run ends, with its solution or a solver_error, after a bounded
// number of calls whatever a solver does.
//  - One KINSOL start of a tray: 3 calls a Newton iteration (the residual
//    and a two-column difference Jacobian) and those of its line search,
//    which nothing else bounds. Starts that converge take 10-40, rarely up
//    to 230; the next start is tried after one that spent its budget.
//  - The plug-flow integration, all of it: up to some 1700 in the test grid.
//  - The equilibrium's two nested bracketed roots together: up to some 220.
inline constexpr long rate_calls_per_start = 600;
inline constexpr long rate_calls_per_pfr = 20000;
inline constexpr long rate_calls_per_equilibrium = 5000;

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
    // balance_residual below); at most balance_residual_bound.
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

// Runs the case; throws solver_error when no solution is found. warm_start:
// a result of the same reactor (same trays), e.g. with other rate factors,
// whose tray outlets are tried first.
result simulate(const reactor_case& c, workbench_host& h, const result* warm_start = nullptr);

// The same, as a status: the result, or the solver's one-line failure and
// its details.
struct run_outcome {
    std::optional<result> value;
    std::string failure;
    std::string details;
    bool ok() const { return value.has_value(); }
};
run_outcome run_case(const reactor_case& c, workbench_host& h, const result* warm_start = nullptr);

// Only the profile (no equilibrium, no NC-FLOW): what a fit needs.
std::vector<station> run_profile(const reactor_case& c, workbench_host& h,
                                 const std::vector<station>* warm_start = nullptr);

// Only the outlet CO2 conversion.
double outlet_conversion(const reactor_case& c, workbench_host& h);

// The composition at which both net rates vanish, with the atoms of the
// feed, at t and p. It depends on the atoms only, not on how the feed
// groups them (NH3 + CO2 or carbamate), nor on anything run before.
flows equilibrium(const reactor_case& c, workbench_host& h, const flows& feed_kmol_s, double t,
                  double p);

// The balance residual of a stream n leaving a tray of volume v fed with
// n_in (tray = true), or of the equilibrium (tray = false: rates alone):
// the largest over the components i of
//     |F_out,i - F_in,i - R_i(x_out)| / S_i,
//     S_i = sum over j of |dR_i/dF_j| (|F_in,j| + |F_out,j|) + |R_i| + |F_in,i| + |F_out,i|,
// i.e. relative to how much the rates and flows move when each flow moves by
// its own size: the relative change of the flows that would explain the
// residual. Rounding explains a few 1e-16.
double balance_residual(workbench_host& h, const flows& n_in, const flows& n, double t, double p,
                        double v, double a1, double a2, bool tray = true);

// The highest CO2 conversion any rate factors can give the case: its
// equilibrium conversion (which a1 and a2 do not change), the highest over
// the reactor's temperatures (inlet, outlet and three between). NaN when
// the conversion is undefined for the feed or an equilibrium is not found.
double highest_equilibrium_conversion(const reactor_case& c, workbench_host& h);

// Whether a conversion per CO2 fed means anything for this feed, and its value.
bool co2_conversion_defined(const flows& feed);
double co2_conversion(const flows& feed, const flows& n);

flows feed_kmol_s(const reactor_case& c);

}  // namespace workbench

#endif
