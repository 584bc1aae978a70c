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

// A plant history (urea-reactor monitor). At most this many windows in one
// run: ten years of hourly windows; each fitted window costs some 55 reactor
// solves, and a window takes some kilobytes before it is fitted.
inline constexpr long long max_monitor_windows = 100000;
// At most this many rows read over all windows (a row in n overlapping
// windows counted n times): what cutting the history into windows costs.
inline constexpr long long max_monitor_window_rows = 100000000;
// At most this many values (rows times columns read) in one history: 800 MB
// of numbers, held by column. A year of one-minute rows of a dozen columns
// holds 6.3 million; a year of one-second rows, 380 million, is refused (one
// row a minute serves daily windows).
inline constexpr long long max_history_values = 100000000;
// Successive rows of a history at most this many days apart (ten years): a
// longer gap is a wrong date (a spreadsheet's zero date, 1900; a mistyped
// year), not a shutdown.
inline constexpr long long max_history_gap_days = 3653;

}  // namespace workbench

#endif
