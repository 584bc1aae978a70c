// A plant history: a historian's export as CSV, one row per time, with a
// runs file's columns (the same names and checks, docs/runs-files.md) plus a
// `time` column; measurements (a lab analysis, a conversion) only on some
// rows. Read in pieces and held by column, up to max_history_values (a year
// of one-minute rows of a dozen columns takes some 80 MB). The history is
// described in docs/monitor.md.
#ifndef UREA_WORKBENCH_IO_HISTORY_FILE_H
#define UREA_WORKBENCH_IO_HISTORY_FILE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io/runs_columns.h"
#include "model/observation.h"
#include "model/settings.h"

namespace workbench {

// One column of measured values (a meter, a setting, a lab quantity or its
// standard deviation).
struct history_column {
    std::string name;        // as written in the header
    std::size_t number = 0;  // 1-based
    column_kind kind = column_kind::setting;  // setting, measured or sigma
    std::size_t index = 0;   // the setting or the quantity
    std::vector<double> values;  // by row; NaN: empty, or outside the bounds (counted below)
    std::size_t missing = 0;     // empty cells
    // Values outside the documented bounds (history_out_of_bounds), left
    // out; the earliest and the latest time of one.
    std::size_t out_of_range = 0;
    std::int64_t out_of_range_first = 0, out_of_range_last = 0;
};

struct history {
    std::string file;                  // as given, for messages
    std::string sha256;                // of the file's bytes
    std::vector<std::int64_t> time;    // by row, ms since 1970 UTC (see base/timestamps.h)
    std::vector<std::size_t> line;     // by row: where it starts in the file
    bool zoned = false;                // the times carry a UTC offset (else read as UTC)
    bool sorted = false;               // the rows were put in time order (--sort)
    std::vector<history_column> columns;  // in the file's order, the time column left out
    std::vector<std::string> carried;     // the columns read and not used, "NAME (N)" (a tag; a name misspelt past a guess)
    std::vector<std::string> warnings;

    std::size_t rows() const { return time.size(); }
    // The column of a setting, a measurement or its standard deviation; null when the file has none.
    const history_column* of_setting(setting s) const;
    const history_column* of_quantity(quantity q) const;
    const history_column* sigma_of(quantity q) const;
};

// Reads a history. Throws runs_error (file, line and column) for what a runs
// file refuses (an unknown column, a cell that is not a number, a ratio
// beside its flow), for a missing `time` column, a time that cannot be read,
// a file that mixes times with and without a UTC offset, unless `sort` a
// time that is not after the row before's, successive rows (in time order)
// more than max_history_gap_days apart (naming the line on the side with
// fewer rows), more than max_history_values values, and a column more than
// half of whose values lie out of bounds the way a unit mistake puts them
// (unit_mistake: the likely unit named). With `sort` the rows are put in
// time order (rows of the same time kept in the file's order).
history read_history(const std::string& path, bool sort);
history parse_history(const std::string& text, const std::string& name, bool sort);
// From a reader of the file's bytes (read(buffer, capacity), 0 at the end);
// `bytes`, the file's size when known, lets the columns be sized once from
// the first rows' length rather than grow by doubling.
history history_of(const csv_reader::source& read, const std::string& name, bool sort, std::size_t bytes = 0);

// Why a value lies outside the documented bounds of its column, or nothing:
// a runs file's bounds, those of a case (docs/case-files.md) and, for a
// measurement, a fraction between 0 and 1.
std::optional<std::string> history_out_of_bounds(const history_column& c, double v);

}  // namespace workbench

#endif
