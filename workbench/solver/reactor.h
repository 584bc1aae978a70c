// The reactor models: N equal stirred trays in series (each solved with
// KINSOL) or the plug-flow limit (integrated with CVODE), and the chemical
// equilibrium at the outlet conditions, each calling the loaded plug-in
// through a session's host (what they return: model/result.h).
//
// Everything here runs in-process and reports a solver that fails by
// solver_error (or, through run_case, by a status), never by ending the
// process: a caller may run many cases, e.g. while tuning a1 and a2.
#ifndef UREA_WORKBENCH_SOLVER_REACTOR_H
#define UREA_WORKBENCH_SOLVER_REACTOR_H

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/case.h"
#include "model/result.h"
#include "base/errors.h"
#include "session/session.h"

namespace workbench {

// The rate calls (calls of the plug-in's rate routine) each solver start may
// make: a start that has spent its budget ends as one that fails, so that
// every run ends, with its solution or a solver_error, after a bounded
// number of calls whatever a solver does.
//  - One KINSOL start of a tray: 3 calls a Newton iteration (the residual
//    and a two-column difference Jacobian) and those of its line search,
//    which nothing else bounds. Starts that converge take 10-40, rarely up
//    to 230; the next start is tried after one that spent its budget. A
//    tray no start solves has up to four refinements, each such a start.
//  - The plug-flow integration, all of it: up to some 1700 in the test grid;
//    a second integration after one that fails.
//  - A search by two nested bracketed roots: the equilibrium's (up to some
//    220 in the test grid; a second, finer, after one that is not close
//    enough), and a tray's when no start solves it.
inline constexpr long rate_calls_per_start = 600;
inline constexpr long rate_calls_per_pfr = 20000;
inline constexpr long rate_calls_per_bracketing = 5000;

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

}  // namespace workbench

#endif
