// A reactor case: the reactor, its feed, the two rate factors and any
// property tables that replace the built-in properties.
#ifndef UREA_WORKBENCH_MODEL_CASE_H
#define UREA_WORKBENCH_MODEL_CASE_H

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "model/limits.h"

namespace workbench {

// The components of the workbench's simulation, in their host positions
// (position = index + 1).
enum component : std::size_t { NH3, CO2, H2O, CARB, UREA, O2, N2, component_count };
inline constexpr std::array<const char*, component_count> component_names = {
    "NH3", "CO2", "H2O", "CARB", "UREA", "O2", "N2"};
using flows = std::array<double, component_count>;

// Index of a component name, or component_count when there is none.
std::size_t component_index(const std::string& name);

enum class reactor_model { trays, pfr };

// A component's properties as a table on a temperature grid, exported from
// the user's own simulator. Each column is optional; an empty one keeps the
// built-in model for that property.
struct property_table {
    std::vector<double> temperature_K;   // strictly increasing
    std::vector<double> gibbs;           // ideal-gas molar Gibbs energy, J/kmol
    std::vector<double> fugacity;        // liquid fugacity coefficient, at the case's pressure
    std::vector<double> molar_volume;    // liquid molar volume, m3/kmol
};

struct reactor_case {
    std::string name = "default: CO2-stripping urea reactor, 10 sieve trays";
    reactor_model model = reactor_model::trays;
    int trays = 10;
    double volume_m3 = 190.0;
    double pressure_bar = 145.0;
    double inlet_temperature_C = 170.0;
    double outlet_temperature_C = 183.0;
    flows feed_kmol_h{};            // every component, kmol/h
    double a1 = 1.0;                // carbamate-formation rate factor
    double a2 = 0.0;                // dehydration pre-exponential factor
    std::map<std::size_t, property_table> tables;  // by component
};

// The rate factor a2 of the default case: chosen (with `urea-reactor fit`)
// so that the default case converts about 58 % of its CO2 to urea with the
// built-in properties.
inline constexpr double default_a2 = 0.124;

// The default case: 145 bar, 170 -> 183 C, 190 m3 in 10 trays, 2400 kmol/h
// CO2 with NH3/CO2 = 3.07 and H2O/CO2 = 0.41, passivation air.
reactor_case default_case();

// Sets the NH3 (or H2O) feed so that the molar ratio to all CO2 fed, free
// and as carbamate, is ratio; NH3 counts the two that each carbamate holds.
void set_nh3_co2_ratio(reactor_case& c, double ratio);
void set_h2o_co2_ratio(reactor_case& c, double ratio);
double nh3_co2_ratio(const reactor_case& c);
double h2o_co2_ratio(const reactor_case& c);

// Checks every value of a case (whatever its source); throws input_error
// naming the case file's key (input_error::at_key). Returns warnings
// (temperatures the plug-in clamps).
std::vector<std::string> validate(const reactor_case& c);

// The model's name as case files and the command line write it.
const char* model_name(reactor_model m);

// The model a name means ("trays" or "pfr", as written); nullopt for any
// other text.
std::optional<reactor_model> model_named(std::string_view name);

}  // namespace workbench

#endif
