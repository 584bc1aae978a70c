// Sweeps: the reactor run over a grid of one or two case quantities, each
// point solved in-process and warm-started from its neighbour; per point the
// outlet CO2 conversion, the equilibrium conversion at the outlet and the
// outlet's NC-FLOW mass fractions (from the plug-in's UPROPU). A point that
// fails is recorded with the solver's message and the sweep goes on.
#ifndef UREA_WORKBENCH_ANALYSIS_SWEEP_H
#define UREA_WORKBENCH_ANALYSIS_SWEEP_H

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/case.h"
#include "model/reactor.h"
#include "model/settings.h"
#include "session/session.h"

namespace workbench {

// At most this many points in a sweep, all variables together.
inline constexpr std::size_t max_sweep_points = 100000;

struct sweep_variable {
    std::string given;              // as given, "NAME=FROM:TO:N", for messages
    std::string name;               // "a1", "a2" or the setting's column name (runs files, case files)
    std::optional<setting> which;   // empty for a1 and a2
    bool log_spacing = false;       // values evenly spaced in ln (default for a1 and a2)
    std::vector<double> values;
};

// Reads one --vary: NAME=FROM:TO:N, NAME=log:FROM:TO:N or NAME=lin:FROM:TO:N.
// NAME is a1, a2 or any setting a runs file may change, by its column or
// command-line name (nh3_co2, nh3-co2, t-out, outlet_temperature_C, volume,
// trays, co2, feed_kmol_h.H2O, ...). a1 and a2 are spaced evenly in ln by
// default, anything else evenly; trays must come out as whole numbers.
// Throws input_error naming the option and what is wrong.
sweep_variable parse_vary(const std::string& text);

// The canonical name of a case option (--a2 -> "a2", --t-out ->
// "outlet_temperature_C"); empty when it names no sweepable quantity.
std::string quantity_of_option(const std::string& option);

// Every point's case, variable 1 fastest: the base case with the values
// set as a runs file's row sets them, each checked. Throws input_error
// naming the variables, the point and the problem. Warnings of the checks
// (temperatures the plug-in clamps) are appended, each once.
std::vector<reactor_case> sweep_cases(const reactor_case& base, const std::vector<sweep_variable>& vars,
                                      std::vector<std::string>* warnings);

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
    std::vector<std::string> notes;     // the plan's
};

// Runs every point (cases from sweep_cases), each tray warm-started from the
// neighbouring point along variable 1 (along variable 2 at the first of a
// row). Never throws for a solver's failure: the point records it.
sweep_result run_sweep(const std::vector<reactor_case>& cases, const std::vector<sweep_variable>& vars,
                       workbench_host& h);

// A sweep checked and laid out before anything runs: the base case, the
// variables and every point's case (see sweep_cases), with the warnings of
// the checks.
struct sweep_plan {
    reactor_case base;
    std::vector<sweep_variable> vars;
    std::vector<reactor_case> cases;
    std::vector<std::string> warnings;
    // A varied quantity that changes no result for this case (pressure
    // with the built-in fugacities, trays in plug flow), said once each.
    std::vector<std::string> notes;
};
// Throws input_error for a base case or a point that fails validate, and
// for variables that cannot go together.
sweep_plan plan_sweep(const reactor_case& base, std::vector<sweep_variable> vars);

// "a2 = 0.1, nh3_co2 = 3": a point's values, for messages.
std::string point_text(const sweep_result& r, std::size_t point);

}  // namespace workbench

#endif
