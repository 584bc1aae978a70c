// The built-in property set. Every number here is listed with its source in
// docs/properties.md; keep the two in step.
#include "model/properties.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace workbench {
namespace {

constexpr double t_ref = 298.15;  // K, of the formation data

// Ideal-gas formation enthalpy and Gibbs energy at 298.15 K, J/kmol.
struct formation {
    double h;
    double g;
};
constexpr std::array<formation, component_count> formation_data = {{
    {-45.898e6, -16.367e6},    // NH3   NIST-JANAF
    {-393.522e6, -394.389e6},  // CO2   NIST-JANAF
    {-241.826e6, -228.582e6},  // H2O   NIST-JANAF
    {0.0, 0.0},                // CARB  pseudo: see carbamate_gibbs
    {-235.5e6, -152.8e6},      // UREA  gas: NIST WebBook enthalpy; Gibbs energy derived
    {0.0, 0.0},                // O2    reference state
    {0.0, 0.0},                // N2    reference state
}};

// Reference fugacity of each component in the liquid, ln(p / Pa) = A - B / T,
// so that phi = p / P in an ideal liquid solution (NH3 and water get an
// activity coefficient on top, see property_set::fugacity).
struct reference_fugacity {
    double a;
    double b;
};
constexpr std::array<reference_fugacity, component_count> fugacity_data = {{
    {23.073, 2769.0},  // NH3   Clausius-Clapeyron through the normal boiling and critical points
    {22.383, 1997.8},  // CO2   Clausius-Clapeyron through the triple and critical points
    {24.224, 4716.0},  // H2O   through the saturation pressures at 170 and 190 C
    {11.526, 0.0},     // CARB  pseudo: 1 atm
    {14.000, 5000.0},  // UREA  calibrated: equilibrium conversion (docs/properties.md)
    {22.669, 0.0},     // O2    about a Henry constant in water, 7e9 Pa (enters no rate)
    {22.669, 0.0},     // N2    likewise
}};

// Liquid molar volumes, m3/kmol, taken constant over 150-200 C.
constexpr flows molar_volume_data = {
    0.0250,  // NH3   liquid ammonia at its normal boiling point (682 kg/m3)
    0.0350,  // CO2   partial molar volume in water
    0.0203,  // H2O   saturated water at 180 C (887 kg/m3)
    0.0550,  // CARB  78.07 kg/kmol at about 1420 kg/m3
    0.0490,  // UREA  molten urea, about 1225 kg/m3
    0.0350,  // O2
    0.0350,  // N2
};

// Carbamate has no ideal-gas data. Its pseudo Gibbs energy makes the
// carbamate-formation equilibrium in the liquid, 2 NH3 + CO2 <=> CARB,
//   x_CARB / (x_NH3^2 x_CO2) = K1x(T),  ln K1x = ln K1x_ref + beta (1/T - 1/T_ref),
// hold with the ideal-solution fugacities above (the rate routine's
// equilibrium; the NH3-water term then shifts it with composition).
constexpr double k1x_ref = 800.0;    // at 183 C: 1-2 % of unconverted CO2 stays free
constexpr double k1x_t_ref = 456.15; // K
constexpr double k1x_beta = 6000.0;  // K: formation enthalpy about -50 MJ/kmol

// Two-suffix Margules constant of the NH3-water pair in the liquid.
constexpr double nh3_h2o_margules = -1.5;

double ideal_gas_gibbs(std::size_t i, double t) {
    // Gibbs-Helmholtz with constant formation enthalpy and entropy.
    const formation f = formation_data[i];
    return f.h + (t / t_ref) * (f.g - f.h);
}

double carbamate_gibbs(double t) {
    const double rt = gas_constant * t;
    const double ln_k1x = std::log(k1x_ref) + k1x_beta * (1.0 / t - 1.0 / k1x_t_ref);
    const double ln_f = 2.0 * std::log(builtin_reference_fugacity(NH3, t) / p_standard) +
                        std::log(builtin_reference_fugacity(CO2, t) / p_standard) -
                        std::log(builtin_reference_fugacity(CARB, t) / p_standard);
    return 2.0 * ideal_gas_gibbs(NH3, t) + ideal_gas_gibbs(CO2, t) + rt * ln_f - rt * ln_k1x;
}

}  // namespace

const flows molecular_weight = {17.031, 44.009, 18.015, 78.071, 60.056, 31.998, 28.014};

const std::array<std::array<int, 4>, component_count> atoms = {{
    {0, 3, 1, 0},  // NH3
    {1, 0, 0, 2},  // CO2
    {0, 2, 0, 1},  // H2O
    {1, 6, 2, 2},  // CARB  NH2COONH4
    {1, 4, 2, 1},  // UREA  CO(NH2)2
    {0, 0, 0, 2},  // O2
    {0, 0, 2, 0},  // N2
}};

double builtin_gibbs(std::size_t i, double t) {
    return i == CARB ? carbamate_gibbs(t) : ideal_gas_gibbs(i, t);
}

double builtin_reference_fugacity(std::size_t i, double t) {
    return std::exp(fugacity_data[i].a - fugacity_data[i].b / t);
}

double builtin_molar_volume(std::size_t i, double) { return molar_volume_data[i]; }

std::vector<std::string> table_unit_warnings(const reactor_case& c) {
    std::vector<std::string> warnings;
    const auto median_abs = [](std::vector<double> v) {
        for (double& x : v) x = std::abs(x);
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    for (const auto& [i, t] : c.tables) {
        const auto judge = [&](const char* key, const std::vector<double>& column, double (*builtin)(std::size_t, double),
                               const char* unit, const char* likely) {
            if (column.empty()) return;
            std::vector<double> reference;
            for (double tk : t.temperature_K) reference.push_back(builtin(i, tk));
            const double ours = median_abs(reference), theirs = median_abs(column);
            if (!(ours > 0.0) || !(theirs > 0.0)) return;
            const double ratio = theirs / ours;
            if (ratio > 1.0 / 100.0 && ratio < 100.0) return;
            std::ostringstream m;
            m.precision(2);
            m << "properties." << component_names[i] << "." << key << ": its values are about "
              << std::llround(std::pow(10.0, std::round(std::log10(ratio < 1.0 ? 1.0 / ratio : ratio)))) << " times "
              << (ratio < 1.0 ? "smaller" : "larger") << " than the built-in set's (typically " << ours << " "
              << unit << "): is the table in " << likely << "? The results would be far off.";
            warnings.push_back(m.str());
        };
        judge("gibbs_J_kmol", t.gibbs, builtin_gibbs, "J/kmol", "J/mol rather than J/kmol");
        judge("molar_volume_m3_kmol", t.molar_volume, builtin_molar_volume, "m3/kmol",
              "cm3/mol rather than m3/kmol (or L/mol)");
    }
    return warnings;
}

double interpolate(const std::vector<double>& t_grid, const std::vector<double>& values, double t) {
    if (t <= t_grid.front()) return values.front();
    if (t >= t_grid.back()) return values.back();
    const auto hi = std::upper_bound(t_grid.begin(), t_grid.end(), t);
    const std::size_t k = static_cast<std::size_t>(hi - t_grid.begin());
    const double w = (t - t_grid[k - 1]) / (t_grid[k] - t_grid[k - 1]);
    return values[k - 1] + w * (values[k] - values[k - 1]);
}

const property_table* property_set::table(std::size_t i) const {
    const auto it = tables_.find(i);
    return it == tables_.end() ? nullptr : &it->second;
}

double property_set::gibbs_of(std::size_t i, double t) const {
    const property_table* tab = table(i);
    return tab && !tab->gibbs.empty() ? interpolate(tab->temperature_K, tab->gibbs, t)
                                      : builtin_gibbs(i, t);
}

double property_set::fugacity_of(std::size_t i, double t, double p) const {
    const property_table* tab = table(i);
    return tab && !tab->fugacity.empty() ? interpolate(tab->temperature_K, tab->fugacity, t)
                                         : builtin_reference_fugacity(i, t) / p;
}

double property_set::molar_volume_of(std::size_t i, double t) const {
    const property_table* tab = table(i);
    return tab && !tab->molar_volume.empty()
               ? interpolate(tab->temperature_K, tab->molar_volume, t)
               : builtin_molar_volume(i, t);
}

namespace {
// The same double to the bit (+0 and -0 differ; a NaN is itself).
bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// Component index of a host position; positions outside the list give none.
bool index_of(host_int pos, std::size_t& i) {
    if (pos < 1 || pos > static_cast<host_int>(component_count)) return false;
    i = static_cast<std::size_t>(pos - 1);
    return true;
}
}  // namespace

double property_set::gibbs(host_int pos, double t) {
    std::size_t i;
    if (!index_of(pos, i)) return 0.0;
    kept& k = gibbs_kept_[i];
    if (!same_bits(k.t, t)) k = {t, NAN, gibbs_of(i, t)};
    return k.value;
}

double property_set::liquid_volume(double t, double, std::span<const double> x,
                                   std::span<const host_int> pos) {
    // Ideal mixing of the components' molar volumes.
    double v = 0.0;
    double sum = 0.0;
    for (std::size_t k = 0; k < pos.size(); ++k) {
        std::size_t i;
        if (index_of(pos[k], i)) {
            v += x[k] * molar_volume_of(i, t);
            sum += x[k];
        }
    }
    return sum > 0.0 ? v / sum : 0.0;
}

double property_set::fugacity(std::size_t k, double t, double p, std::span<const double> x,
                              std::span<const host_int> pos) {
    std::size_t i;
    if (!index_of(pos[k], i)) return 0.0;
    kept& f = fugacity_kept_[i];
    if (!same_bits(f.t, t) || !same_bits(f.p, p)) f = {t, p, fugacity_of(i, t, p)};
    const double phi = f.value;
    const property_table* tab = table(i);
    if ((i != NH3 && i != H2O) || (tab && !tab->fugacity.empty())) return phi;
    // NH3 and water deviate negatively from the ideal solution: a two-suffix
    // Margules term, ln gamma_NH3 = A x_H2O^2 and ln gamma_H2O = A x_NH3^2.
    double sum = 0.0, x_nh3 = 0.0, x_h2o = 0.0;
    for (std::size_t m = 0; m < pos.size(); ++m) {
        std::size_t j;
        if (!index_of(pos[m], j)) continue;
        sum += x[m];
        if (j == NH3) x_nh3 += x[m];
        if (j == H2O) x_h2o += x[m];
    }
    if (!(sum > 0.0)) return phi;
    const double other = (i == NH3 ? x_h2o : x_nh3) / sum;
    return phi * std::exp(nh3_h2o_margules * other * other);
}

}  // namespace workbench
