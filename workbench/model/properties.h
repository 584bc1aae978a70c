// The host's thermodynamics for the workbench: the built-in property set
// (documented with its sources in docs/properties.md), with any component's
// properties replaced by tables from the case.
#ifndef UREA_WORKBENCH_MODEL_PROPERTIES_H
#define UREA_WORKBENCH_MODEL_PROPERTIES_H

#include <array>
#include <cmath>
#include <map>
#include <span>

#include "model/case.h"
#include "standin/standin_host.h"

namespace workbench {

inline constexpr double gas_constant = 8314.0;  // J/(kmol K), as the plug-in uses it
inline constexpr double p_standard = 101325.0;  // Pa: the plug-in's pressure basis

// Molecular weights, kg/kmol, by component.
extern const flows molecular_weight;
// Atoms C, H, N, O of each component.
extern const std::array<std::array<int, 4>, component_count> atoms;

// The built-in models, by component (no tables).
double builtin_gibbs(std::size_t i, double t);                  // J/kmol
double builtin_reference_fugacity(std::size_t i, double t);     // Pa
double builtin_molar_volume(std::size_t i, double t);           // m3/kmol

// The property model the stand-in host's routines answer from. Host
// positions are component index + 1.
class property_set final : public standin::property_model {
public:
    explicit property_set(const std::map<std::size_t, property_table>& tables = {})
        : tables_(tables) {}

    double gibbs_of(std::size_t i, double t) const;
    double fugacity_of(std::size_t i, double t, double p) const;
    double molar_volume_of(std::size_t i, double t) const;

    double gibbs(host_int pos, double t) override;
    double liquid_volume(double t, double p, std::span<const double> x,
                         std::span<const host_int> pos) override;
    double fugacity(std::size_t k, double t, double p, std::span<const double> x,
                    std::span<const host_int> pos) override;

private:
    const property_table* table(std::size_t i) const;
    std::map<std::size_t, property_table> tables_;
    // The host's routines are asked again and again at one temperature (a
    // tray's, while its compositions are solved): what depends on the
    // temperature (and pressure) alone is kept from the last call, the same
    // value the call would compute.
    struct kept {
        double t = NAN, p = NAN, value = 0.0;
    };
    std::array<kept, component_count> gibbs_kept_{}, fugacity_kept_{};
};

// Warnings for tables that look like another unit: a column whose typical
// size is about a hundred times or more off the built-in set's (J/mol for
// J/kmol, cm3/mol for m3/kmol). Fugacity coefficients are not judged: they
// range over decades by nature.
std::vector<std::string> table_unit_warnings(const reactor_case& c);

// Linear interpolation in a table column; the ends hold outside the grid.
double interpolate(const std::vector<double>& t_grid, const std::vector<double>& values, double t);

}  // namespace workbench

#endif
