// The limits of a case, in one place: every reader (case file, command line,
// runs file, sweep) checks against these.
#ifndef UREA_WORKBENCH_MODEL_LIMITS_H
#define UREA_WORKBENCH_MODEL_LIMITS_H

namespace workbench {

// Stirred trays in series.
inline constexpr int min_trays = 1;
inline constexpr int max_trays = 10000;

// No feed flow may be larger: a thousand times what the largest urea
// reactors take, and far below where sums of flows would overflow.
inline constexpr double max_flow_kmol_h = 1e7;

// The reacting components (all but O2 and N2) make at least this share of
// the feed, in moles. The rates go with the cube of their mole fractions:
// in a liquid more dilute than this they lie some 36 decades below the
// flows, and the solvers are tested down to this share, not below it.
inline constexpr double min_reacting_share = 1e-12;

// Physical bounds of a case's other values: beyond them a case is bad input,
// not a problem for the solvers. Wide: from a laboratory autoclave to ten
// times the largest reactor, from near vacuum to far past any synthesis,
// rate factors over 24 decades (the fit scans 1e-12 .. 1e12), liquid water
// to well past where urea decomposes.
inline constexpr double min_volume_m3 = 1e-3, max_volume_m3 = 1e4;
inline constexpr double min_pressure_bar = 1.0, max_pressure_bar = 1000.0;
inline constexpr double min_rate_factor = 1e-12, max_rate_factor = 1e12;
inline constexpr double min_temperature_C = 0.0, max_temperature_C = 400.0;

// The plug-in evaluates everything at temperatures clamped to this range.
inline constexpr double plugin_t_min_K = 423.0;
inline constexpr double plugin_t_max_K = 473.0;
inline constexpr double kelvin = 273.15;

}  // namespace workbench

#endif
