// The colours and point types of every plot of the workbench, in one place:
// a species has one colour and one point type in the profile plot, in the
// sweep and study plots and in the parity plot.
#ifndef UREA_WORKBENCH_REPORT_PALETTE_H
#define UREA_WORKBENCH_REPORT_PALETTE_H

#include <array>
#include <cstddef>
#include <string>

#include "model/case.h"
#include "model/observation.h"
#include "model/results.h"

namespace workbench {

struct curve_style {
    const char* colour;  // '#rrggbb'
    int marker;          // gnuplot point type
};

// By component: NH3, CO2, H2O, CARB, UREA, O2, N2.
inline constexpr std::array<curve_style, component_count> species_styles = {{
    {"#2ca02c", 5},   // NH3: green, filled square
    {"#ff7f0e", 9},   // CO2: orange, filled triangle
    {"#8c564b", 13},  // H2O: brown, filled diamond
    {"#e377c2", 15},  // CARB: pink, filled pentagon
    {"#9467bd", 11},  // UREA: purple, filled triangle down
    {"#17becf", 4},   // O2: cyan, open square
    {"#7f7f7f", 6},   // N2: grey, open circle
}};

inline constexpr curve_style conversion_style = {"#1f77b4", 7};   // blue, filled circle
inline constexpr curve_style equilibrium_style = {"#6a3d9a", 6};  // purple, drawn dashed
inline constexpr curve_style temperature_style = {"#d62728", 3};
inline constexpr curve_style failed_style = {"#d62728", 2};       // red cross
inline constexpr curve_style other_style = {"#444444", 8};        // a result of no species

// Curves of a family (one per value of the other quantities): colours along
// an ordered scale (dark blue to yellow-green) and a point type and dash
// each, so that they are told apart without colour.
inline constexpr std::array<const char*, 8> member_colours = {"#440154", "#46327e", "#365c8d", "#277f8e",
                                                              "#1fa187", "#4ac16d", "#a0da39", "#d8b600"};
inline constexpr std::array<int, 8> member_markers = {7, 5, 9, 11, 13, 15, 4, 6};

// A map's colour scale, low to high (dark purple to yellow).
inline constexpr std::array<const char*, 5> map_colours = {"#440154", "#3b528b", "#21918c", "#5ec962", "#fde725"};

// The one key entry for a study's bands, each shaded in its curve's colour.
inline constexpr const char* band_key_colour = "#888888";

// The estimate's plots: the estimate itself (its profile, its region and
// valley), what it is judged by (the 95 % threshold, the linearised
// ellipse, the ringed outliers), the guides (y = x, the linearised profile,
// the bootstrap's resamples) and the best fit's point.
inline constexpr const char* estimate_colour = "#1f77b4";
inline constexpr const char* judged_by_colour = "#d62728";
inline constexpr const char* guide_colour = "#555555";
inline constexpr const char* best_fit_colour = "#000000";

// A quantity measured, the model's prediction of it and its value at
// equilibrium, drawn together: three colours, never one.
inline constexpr const char* measured_colour = "#1f77b4";
inline constexpr const char* predicted_colour = "#e6550d";
inline constexpr const char* equilibrium_colour = "#6a3d9a";

// The style of member k of n (n at most 8): colours spread over the scale.
inline curve_style member_style(std::size_t k, std::size_t n) {
    const std::size_t at = n <= 1 ? 0 : k * (member_colours.size() - 1) / (n - 1);
    return {member_colours[at], member_markers[k % member_markers.size()]};
}

// A measured quantity's style (the parity plot): the conversion's, or its
// species'.
inline curve_style measured_style(quantity q) {
    switch (q) {
        case quantity::co2_conversion: return conversion_style;
        case quantity::w_nh3: return species_styles[NH3];
        case quantity::w_co2: return species_styles[CO2];
        case quantity::w_urea: return species_styles[UREA];
        case quantity::w_h2o: return species_styles[H2O];
    }
    return other_style;
}

// A result's style in a plot: its species', or the conversion's, the
// equilibrium's, the temperature's.
inline curve_style result_style(const result_quantity& q) {
    if (q.component < component_count) return species_styles[q.component];
    const std::string kind = q.kind != nullptr ? q.kind->name : "";
    if (kind == "co2_conversion" || kind == "approach_to_equilibrium") return conversion_style;
    if (kind == "equilibrium_co2_conversion") return equilibrium_style;
    if (kind == "temperature_C@N") return temperature_style;
    return other_style;
}

}  // namespace workbench

#endif
