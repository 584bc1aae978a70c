// A reactor case: the reactor, its feed, the two rate factors and any
// property tables that replace the built-in properties.
#ifndef UREA_WORKBENCH_CASE_H
#define UREA_WORKBENCH_CASE_H

#include <array>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

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

// Bad input: the message names the problem and, for a case file, the key
// and the line where that is known.
class input_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a case from JSON text (file name for messages). Keys not given keep
// their default-case values, except that a "feed" replaces the whole feed.
reactor_case parse_case(const std::string& text, const std::string& file);
reactor_case read_case(const std::string& path);

// Sets the NH3 (or H2O) feed so that the molar ratio to all CO2 fed, free
// and as carbamate, is ratio; NH3 counts the two that each carbamate holds.
void set_nh3_co2_ratio(reactor_case& c, double ratio);
void set_h2o_co2_ratio(reactor_case& c, double ratio);
double nh3_co2_ratio(const reactor_case& c);
double h2o_co2_ratio(const reactor_case& c);

// Checks every value of a case (whatever its source); throws input_error.
// Returns warnings (temperatures the plug-in clamps).
std::vector<std::string> validate(const reactor_case& c);

// No feed flow may be larger: a thousand times what the largest urea
// reactors take, and far below where sums of flows would overflow.
inline constexpr double max_flow_kmol_h = 1e7;

// The plug-in evaluates everything at temperatures clamped to this range.
inline constexpr double plugin_t_min_K = 423.0;
inline constexpr double plugin_t_max_K = 473.0;
inline constexpr double kelvin = 273.15;

}  // namespace workbench

#endif
