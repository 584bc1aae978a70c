// What a plant test run measures, and what a reactor model predicts for it:
// the outlet CO2 conversion and the lab analysis of the outlet liquid as mass
// fractions on the NC-FLOW basis (each carbamate counted as the two NH3 and
// one CO2 that form it).
#ifndef UREA_WORKBENCH_MODEL_OBSERVATION_H
#define UREA_WORKBENCH_MODEL_OBSERVATION_H

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "model/case.h"

namespace workbench {

enum class quantity : std::size_t { co2_conversion, w_nh3, w_co2, w_urea, w_h2o };
inline constexpr std::size_t quantity_count = 5;

// A measured quantity as the runs file, the estimate and their reports use
// it: the entries of the results' list (model/results.h) flagged
// measurable, in the order of the enum.
struct quantity_info {
    const char* column;       // column name in a runs file, as written in docs
    const char* label;        // for tables
    double default_sigma;     // absolute, used when the runs file gives none
    bool in_analysis;         // one of the lab analysis's mass fractions, which add up to 1
    const char* plot_title;   // gnuplot's enhanced text
};

// Taken from the results' list (see its default standard deviations there).
extern const std::array<quantity_info, quantity_count> quantities;

// "co2_conversion, w_NH3, w_CO2, w_UREA, w_H2O": every column, for messages.
std::string quantity_columns();

inline const quantity_info& info(quantity q) { return quantities[static_cast<std::size_t>(q)]; }

struct measurement {
    double value = 0.0;
    double sigma = 0.0;        // > 0
    bool sigma_given = false;  // false: the default above
};

// Measured values of one run, by quantity; empty = not measured.
using observations = std::array<std::optional<measurement>, quantity_count>;

// A model's values of every quantity for one run.
using predicted = std::array<double, quantity_count>;

// The four mass fractions from the outlet's NC-FLOW mass flows (UPROPU's
// result, kg/s or kg/h by component; CARB already folded into NH3 and CO2):
// each of NH3, CO2, UREA and H2O over their sum. O2 and N2 are left out, as a
// lab analysis of the depressurised liquid leaves out the dissolved air.
// Fills w_nh3 .. w_h2o of p; NaN when the sum is not positive.
void set_nc_mass_fractions(const flows& nc_flow_mass, predicted& p);

}  // namespace workbench

#endif
