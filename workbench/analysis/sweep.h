// Sweeps: a study (analysis/study.h) of one or two case quantities with the
// results `sweep` has always given: per point the outlet CO2 conversion, the
// equilibrium conversion at the outlet and the outlet's NC-FLOW mass
// fractions (from the plug-in's UPROPU). A point that fails is recorded
// with the solver's message and the sweep goes on.
#ifndef UREA_WORKBENCH_ANALYSIS_SWEEP_H
#define UREA_WORKBENCH_ANALYSIS_SWEEP_H

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "analysis/study.h"

namespace workbench {

// At most this many points in a sweep, all variables together.
inline constexpr std::size_t max_sweep_points = max_study_points;

// A sweep's variable is a study's (parse_vary, quantity_of_option: see
// analysis/study.h).
using sweep_variable = study_variable;

struct sweep_point {
    std::vector<double> x;  // the variables' values
    bool ok = false;
    std::string failure;    // the solver's one-line message when not ok
    std::string details;    // what each start of the solver ended with
    bool conversion_defined = true;
    double co2_conversion = 0.0;
    double equilibrium_co2_conversion = 0.0;
    std::array<double, 4> w{};  // outlet NC-FLOW mass fractions of NH3, CO2, UREA, H2O
    double max_balance_residual = 0.0;
};

struct sweep_result {
    std::vector<sweep_variable> vars;
    std::vector<sweep_point> points;  // variable 1 fastest
    std::size_t failed = 0;
    long rate_calls = 0;
    std::vector<std::string> warnings;  // the plan's
    std::vector<message> notes;         // the plan's
};

// A sweep checked and laid out before anything runs: a study of the
// variables with the default results (default_results()).
struct sweep_plan {
    reactor_case base;
    std::vector<sweep_variable> vars;
    std::vector<std::string> warnings;
    // A varied quantity that changes no result for this case (pressure
    // with the built-in fugacities, trays in plug flow), said once each.
    std::vector<message> notes;
    study_plan study;
};
// Throws input_error for a base case or a point that fails validate, for
// variables that cannot go together, and for other than one or two.
sweep_plan plan_sweep(const reactor_case& base, std::vector<sweep_variable> vars);

// A point of a sweep's study as the sweep reports it.
sweep_point sweep_point_of(const study_point& p);

// Runs every point (see run_study), keeping them all.
sweep_result run_sweep(const sweep_plan& plan, workbench_host& h);

// "a2 = 0.1, nh3_co2 = 3": a point's values, for messages.
std::string point_text(const sweep_result& r, std::size_t point);

}  // namespace workbench

#endif
