// A runs file: plant test runs as a CSV table (one row per run), each row
// changing some case quantities of a base case and giving some measurements.
// The columns are described in docs/runs-files.md.
#ifndef UREA_WORKBENCH_RUNS_CSV_H
#define UREA_WORKBENCH_RUNS_CSV_H

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/case.h"
#include "model/observation.h"

namespace workbench {

// Bad input in a runs file: the message starts "FILE:LINE: column "NAME" (N): "
// (or "FILE:LINE: " / "FILE: " when no column or line is concerned). An
// input_error, so the command line exits with status 2.
class runs_error : public input_error {
public:
    using input_error::input_error;
};

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

// The setting a name stands for: a runs-file column name or its command-line
// spelling (`--t-in` as "t-in"), letters of any case, '-' and '_' alike.
// Empty when the name is no setting.
std::optional<setting> setting_named(const std::string& name);

// A value for each setting, or none (the base case's).
using settings_given = std::array<std::optional<double>, setting_count>;

struct run {
    std::string name;          // the "run" column, or "line N"
    std::size_t line = 0;      // line of the file where the row starts
    std::string note;          // the "note" column
    settings_given settings;
    std::array<std::size_t, setting_count> setting_column{};      // 1-based; 0 = not given
    observations measured;
    std::array<std::size_t, quantity_count> measured_column{};    // 1-based; 0 = not given
};

struct runs_file {
    std::string file;   // as given, for messages
    std::vector<run> runs;
    std::vector<std::string> warnings;  // each "FILE:LINE: ..."
};

// Reads a runs file; throws runs_error. `file` names the text in messages.
runs_file parse_runs(const std::string& text, const std::string& file);
runs_file read_runs(const std::string& path);

// The base case with these settings, as a run's row changes it (below),
// not yet checked (see validate).
reactor_case with_settings(const reactor_case& base, const settings_given& settings);

// The run's case: the base case with the run's settings. A changed CO2 (or
// CARB) feed keeps the base case's NH3/CO2 and H2O/CO2 ratios unless the
// row gives that flow or ratio itself; ratios are applied last. Throws
// runs_error naming the run's line (and column) when the case is invalid.
// Warnings (temperatures the plug-in clamps) are appended to `warnings`.
reactor_case case_of(const reactor_case& base, const run& r, const std::string& file,
                     std::vector<std::string>* warnings = nullptr);

// Throws runs_error when the file has fewer measurements in all than there
// are free parameters (0, 1 or 2).
void check_measurement_count(const runs_file& f, int free_parameters);

}  // namespace workbench

#endif
