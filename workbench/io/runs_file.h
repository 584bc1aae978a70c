// A runs file: plant test runs as a CSV table (one row per run), each row
// changing some case quantities of a base case and giving some measurements.
// The columns are described in docs/runs-files.md.
#ifndef UREA_WORKBENCH_IO_RUNS_FILE_H
#define UREA_WORKBENCH_IO_RUNS_FILE_H

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/case.h"
#include "model/settings.h"
#include "model/observation.h"

namespace workbench {

struct table_column;  // io/runs_columns.h

// Bad input in a runs file: the message starts "FILE:LINE: column "NAME" (N): "
// (or "FILE:LINE: " / "FILE: " when no column or line is concerned). An
// input_error, so the command line exits with status 2.
class runs_error : public input_error {
public:
    // line and column 0: not known or not concerned.
    runs_error(const std::string& file, std::size_t line, std::size_t column, const workbench::message& reason)
        : input_error(file + (line > 0 ? ":" + std::to_string(line) : "") + ": " + reason, reason,
                      input_place{"", file, line, column}) {}
};

// The most a table (a runs file, a case table) may hold, so that reading
// it takes time and memory in proportion to its text, within bounds: a
// longer cell, a wider row or more cells in all are refused, naming the
// line. A runs file holds at most max_runs runs (each is solved thousands
// of times by an estimate).
inline constexpr std::size_t max_cell_chars = 10000;
inline constexpr std::size_t max_columns = 1000;
inline constexpr std::size_t max_table_cells = 2000000;
inline constexpr std::size_t max_runs = 1000;

struct plant_run {
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
    std::vector<plant_run> runs;
    std::vector<std::string> warnings;  // each "FILE:LINE: ..."
};

// Reads a runs file; throws runs_error. `file` names the text in messages.
runs_file parse_runs(const std::string& text, const std::string& file);
runs_file read_runs(const std::string& path);

// Runs from a table in memory (a data frame, a list of records): the
// header's column names and the columns (io/runs_columns.h), each its cells
// as the text a CSV file would hold or the numbers themselves (an empty cell
// or NaN: not given). Every check and message is the CSV reader's, with the
// header counted as line 1 and row k (from 0) as line k + 2 (the table
// written as CSV), a number quoted as its shortest text; `name` stands for
// the file. A row of empty cells is left out, as a blank line is.
runs_file runs_from_table(const std::vector<std::string>& header, const std::vector<table_column>& columns,
                          const std::string& name);

// The run's case: the base case with the run's settings. A changed CO2 (or
// CARB) feed keeps the base case's NH3/CO2 and H2O/CO2 ratios unless the
// row gives that flow or ratio itself; ratios are applied last. Throws
// runs_error naming the run's line (and column) when the case is invalid.
// Warnings (temperatures the plug-in clamps) are appended to `warnings`.
reactor_case case_of(const reactor_case& base, const plant_run& r, const std::string& file,
                     std::vector<std::string>* warnings = nullptr);

// A case table (a study's --cases): one case per row, each row changing
// the base case as a runs file's row does, with the same setting columns
// and checks, and besides them a1, a2 and model (trays or pfr). Any other
// column (a tag, a date, a measurement) is carried through as text; but a
// name close to a setting's (presure_bar, feed_kmol_h.NH4, a3) is refused
// as the misspelling it most likely is.
struct case_row {
    std::size_t line = 0;  // line of the file where the row starts
    settings_given settings{};
    std::array<std::size_t, setting_count> setting_column{};  // 1-based; 0 = not given
    std::optional<double> a1, a2;
    std::optional<reactor_model> model;
    std::vector<std::string> carried;  // by case_table::carried, trimmed
};

struct case_table {
    std::string file;  // as given, for messages
    // The columns that set the case, in the file's order: a setting's
    // column name, "a1", "a2" or "model"; with their column numbers.
    std::vector<std::string> settings;
    std::vector<std::size_t> setting_numbers;
    std::vector<std::string> carried;  // the other columns' names, as written
    std::size_t a1_column = 0, a2_column = 0, model_column = 0;  // 1-based; 0 = none
    std::vector<case_row> rows;
    std::vector<std::string> warnings;  // each "FILE: ..." or "FILE:LINE: ..."
};

// Reads a case table; throws runs_error. `file` names the text in messages.
// At most max_rows rows.
case_table parse_case_table(const std::string& text, const std::string& file, std::size_t max_rows);
case_table read_case_table(const std::string& path, std::size_t max_rows);
// The same from a table in memory, as runs_from_table reads runs.
case_table case_table_from_table(const std::vector<std::string>& header, const std::vector<table_column>& columns,
                                 const std::string& name, std::size_t max_rows);

// The row's case, checked: throws runs_error naming the row's line (and the
// column that set a bad value). Warnings appended as "FILE:LINE: ...".
reactor_case case_of(const reactor_case& base, const case_row& r, const case_table& t,
                     std::vector<std::string>* warnings = nullptr);

// Throws runs_error when the file has fewer measurements in all than there
// are free parameters (0, 1 or 2).
void check_measurement_count(const runs_file& f, int free_parameters);

}  // namespace workbench

#endif
