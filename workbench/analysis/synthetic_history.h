// Synthetic plant histories for the monitor's tests and benchmark, NOT plant
// data: the reactor's own lab analysis (the workbench's reactor with the
// plug-in) at known rate factors, with noisy meters and what a historian's
// export holds: a step in a2 on a known day, a meter that reads high over a
// known span, a frozen sensor, load ramps, a gap, spikes. Seeded: the same
// recipe writes the same bytes.
#ifndef UREA_WORKBENCH_ANALYSIS_SYNTHETIC_HISTORY_H
#define UREA_WORKBENCH_ANALYSIS_SYNTHETIC_HISTORY_H

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/timestamps.h"
#include "model/case.h"
#include "session/session.h"

namespace workbench {

struct synthetic_history {
    struct span {
        double from_day = 0.0, to_day = 0.0;  // days since the start
    };
    std::int64_t start_ms = 20454 * ms_per_day;  // 2026-01-01T00:00:00
    double days = 60.0;
    std::int64_t row_ms = ms_per_hour;
    std::int64_t lab_every_ms = 4 * ms_per_hour;  // a lab sample (w_NH3, w_CO2, w_UREA, w_H2O) this often
    double a1 = 1.0, a2 = 0.16;
    // a2 becomes a2 * step_ratio at this time (days since the start).
    std::optional<double> step_day;
    double step_ratio = 0.8;
    // The CO2 feed meter reads (1 + bias) times the true flow over the span.
    std::optional<span> co2_bias;
    double bias = 0.05;
    // The outlet temperature sensor repeats its last reading over the span.
    std::optional<span> frozen_t_out;
    // The CO2 feed (NH3 and H2O at their ratios) ramps linearly by `ramp`
    // (a fraction) over the day that starts at each of these days, then stays.
    std::vector<double> ramp_days;
    double ramp = -0.1;
    // No rows over the span.
    std::optional<span> gap;
    // On this share of the rows one meter reads 1.3 times its value.
    double spike_rate = 0.0;
    double meter_noise = 0.002;      // relative, each row
    double temperature_noise = 0.1;  // C
    double pressure_noise = 0.2;     // bar
    double lab_sigma = 0.005;        // of each mass fraction (the default a runs file states)
    // Times written as a clock this many minutes ahead of UTC, with the
    // offset ("+01:00"); none: UTC without an offset.
    std::optional<int> utc_offset_minutes;
    std::uint64_t seed = 1;

    // The true a2 at a time (ms since the start).
    double a2_at(std::int64_t t) const {
        return step_day && static_cast<double>(t) >= *step_day * static_cast<double>(ms_per_day) ? a2 * step_ratio : a2;
    }
};

// What was written: rows, rows with a lab sample, spikes made.
struct synthetic_counts {
    std::size_t rows = 0, lab_rows = 0, spikes = 0;
};

// Writes the history as CSV (time, the feed meters of NH3, CO2, H2O and the
// passivation air's O2 and N2, the temperatures, the pressure, the lab's
// four mass fractions on its rows; numbers to 12 significant digits, as a
// historian exports them) for the base
// case's reactor; the lab values are the reactor's outlet at the true
// settings and rate factors, with normal noise of lab_sigma. Throws
// solver_error when the reactor has no solution at some row.
synthetic_counts write_synthetic_history(std::ostream& out, workbench_host& h, const reactor_case& base, const synthetic_history& recipe);

// The same for the default case, solved with the plug-in at `plugin` and
// the built-in properties, to the file `path`.
synthetic_counts write_synthetic_history(const std::string& path, const std::string& plugin, const synthetic_history& recipe);

}  // namespace workbench

#endif
