// The results of a solved run by name: the one list of what a run gives
// that the workbench tabulates, plots, measures and fits. A study's
// --result picks from it; the quantities a runs file may measure (and the
// estimate fits) are its entries flagged measurable (see observation.h).
//
//   const auto q = workbench::result_named("outlet_kg_h.UREA");   // case and '-'/'_' as you like
//   double v = q->value(r, c);                                     // r: a solved run of case c
//
// Some names stand for a family: "<C>" for a component (NH3, CO2, H2O,
// CARB, UREA, O2, N2), "@N" for a tray (or a station of the plug-flow
// profile, N of 20 along the volume), counted from the inlet.
#ifndef UREA_WORKBENCH_MODEL_RESULTS_H
#define UREA_WORKBENCH_MODEL_RESULTS_H

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/case.h"
#include "model/result.h"

namespace workbench {

// One entry of the list: a result, or a family of them.
struct result_kind {
    const char* name;     // "co2_conversion", "outlet_kmol_h.<C>", "x_<C>@N"
    const char* unit;     // "fraction", "kg/kg", "kmol/h", "C", "min", ...
    const char* meaning;  // one line; "<C>" and "N" as in the name
    const char* label;    // short, plain text, for tables: "CO2 conversion", "<C> out"
    const char* title;    // a plot's name of the curve, gnuplot enhanced text ("<C>": e.g. NH_3)
    const char* axis;     // a plot's axis, gnuplot enhanced text; results on one axis share a panel
    double axis_scale;    // the axis shows value * axis_scale (100: a fraction in %)
    std::size_t species;  // the component it is about (component_count: none; "<C>": each)
    // The value from a solved run of the case: NaN where it is undefined
    // (a conversion for a feed without CO2, a tray the reactor does not
    // have). component and tray (1-based): the family member, else unused.
    double (*value)(const result& r, const reactor_case& c, std::size_t component, std::size_t tray);
    // A quantity a plant test run measures (a runs file's column), with its
    // default standard deviation, absolute, and whether it is one of the
    // lab analysis's mass fractions (which add up to 1).
    bool measurable = false;
    double default_sigma = 0.0;
    bool in_analysis = false;
};

// Every entry, in the order --list-results shows them.
std::span<const result_kind> result_kinds();

// A result by its full name ("w_UREA", "outlet_kmol_h.NH3", "x_UREA@3").
struct result_quantity {
    std::string name;     // canonical spelling
    std::string unit;
    std::string meaning;
    std::string label;
    std::string title;
    bool measurable = false;
    const result_kind* kind = nullptr;
    std::size_t component = component_count;  // the component it is about, if any
    std::size_t tray = 0;                     // @N; 0: none

    double value(const result& r, const reactor_case& c) const {
        return kind->value(r, c, component, tray);
    }
};

// Empty when the name is none of them (see result_name_problem).
std::optional<result_quantity> result_named(const std::string& name);

// Why a name is no result, in a sentence that suggests what is near it.
message result_name_problem(const std::string& name);

// Every result without a tray (each component of a family), in list order.
const std::vector<result_quantity>& result_quantities();

// The results a study tabulates by default, as `sweep` always did: the
// outlet CO2 conversion, the equilibrium conversion at the outlet and the
// outlet's NC-FLOW mass fractions.
std::vector<result_quantity> default_results();

// The component's name in a plot's enhanced text (NH_3, urea, ...).
const char* component_title(std::size_t component);

}  // namespace workbench

#endif
