// Case quantities by name: what a runs file's row, a sweep's --vary, the
// command line and the Python module may set on a base case.
#ifndef UREA_WORKBENCH_MODEL_SETTINGS_H
#define UREA_WORKBENCH_MODEL_SETTINGS_H

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "model/case.h"

namespace workbench {

struct schema_field;

// Case quantities a run may change.
enum class setting : std::size_t {
    trays,
    volume_m3,
    pressure_bar,
    inlet_temperature_C,
    outlet_temperature_C,
    feed_NH3, feed_CO2, feed_H2O, feed_CARB, feed_UREA, feed_O2, feed_N2,  // kmol/h, in component order
    nh3_co2,
    h2o_co2,
};
inline constexpr std::size_t setting_count = 14;

// The column name of a setting (the case file's key), e.g. "pressure_bar",
// "feed_kmol_h.NH3", "nh3_co2".
const char* setting_column(setting s);

// A name as matched: trimmed, lower case, '-' as '_', without a "reactor."
// prefix.
std::string normalised_name(const std::string& name);

// The setting a name stands for: a runs-file column name or its command-line
// spelling (`--t-in` as "t-in"), letters of any case, '-' and '_' alike.
// Empty when the name is no setting.
std::optional<setting> setting_named(const std::string& name);

// A value for each setting, or none (the base case's).
using settings_given = std::array<std::optional<double>, setting_count>;

// The base case with these settings, as a runs file's row changes it: a
// changed CO2 (or CARB) feed keeps the base case's NH3/CO2 and H2O/CO2
// ratios unless the settings give that flow or ratio themselves; ratios are
// applied last. Not checked (see validate).
reactor_case with_settings(const reactor_case& base, const settings_given& settings);

// A quantity of a case by name: a setting, or the rate factor a1 or a2.
struct case_quantity {
    std::string name;               // canonical: "a1", "a2" or the setting's column name
    std::optional<setting> which;   // empty for a1 and a2
};
// Empty when the name is none of them.
std::optional<case_quantity> case_quantity_named(const std::string& name);

// The unit of a quantity a study or a sweep varies (the case's, as
// model/schema.h declares it), by the name it reports
// it under ("pressure_bar": "bar", "nh3_co2": "mol/mol"); empty for
// the trays, a1, a2 and the model.
const char* quantity_unit(const std::string& name);

// The canonical name of a case option (--a2 -> "a2", --t-out ->
// "outlet_temperature_C", --model -> "model"); empty when it names no
// quantity a study varies.
std::string quantity_of_option(const std::string& option);

// The names case_quantity_named knows, for messages.
inline constexpr const char* case_quantity_names =
    "a1, a2, trays, volume, pressure, t-in, t-out, co2, nh3_co2, h2o_co2, feed_kmol_h.<component>, "
    "or a runs file's column name";

// The quantity a name that is none was likely meant as: one edit away
// from a short name (a1, co2), two from a longer one, letters of any case,
// '-' and '_' alike ("a_2": "a2", "presure_bar": "pressure_bar", "t-ot":
// "t_out"); "model" among them when `model` is true, and the names in
// `more` (a table's measurement columns, say). Empty when none is that near.
std::string quantity_lookalike(const std::string& name, bool model = true,
                               const std::vector<std::string>& more = {});

// Why a name is no quantity of a case: "\"a_2\" is no quantity of a case;
// did you mean a2? (a1, a2, ...)"; with_model: model=trays,pfr is one too.
std::string quantity_name_problem(const std::string& name, bool with_model);

// A number of a case that a case file holds under its name (the reactor's
// settings and the rate factors): its declared field (model/schema.h: name,
// unit, meaning, kind, bounds, and its place in a case file, e.g.
// "reactor.trays") and where a reactor_case keeps it. The case file and
// Python's Case read and write a case's numbers through these.
struct case_number {
    const schema_field* field;
    double (*get)(const reactor_case&);
    void (*set)(reactor_case&, double);  // a count (the trays): a whole number, as checked before
};

// trays, volume_m3, pressure_bar, inlet_temperature_C, outlet_temperature_C,
// a1 and a2, in the order a case file writes them.
std::span<const case_number> case_numbers();

// The base case with quantities set by name, in one go (as with_settings);
// throws input_error for an unknown name, a setting given twice, or a trays
// value that is no whole number. Not otherwise checked (see validate).
reactor_case with_named(const reactor_case& base, const std::vector<std::pair<std::string, double>>& values);

}  // namespace workbench

#endif
