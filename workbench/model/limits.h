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

// The plug-in evaluates everything at temperatures clamped to this range.
inline constexpr double plugin_t_min_K = 423.0;
inline constexpr double plugin_t_max_K = 473.0;
inline constexpr double kelvin = 273.15;

}  // namespace workbench

#endif
