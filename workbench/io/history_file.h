// A plant history: a historian's export as CSV, one row per time, with a
// runs file's columns (the same names and checks, docs/runs-files.md) plus a
// `time` column; measurements (a lab analysis, a conversion) only on some
// rows. Read in pieces; the rows then held by column in memory, or (a file
// read for the monitor) written to a temporary file and read back row by
// row, however many passes ask (history_rows), so that the memory does not
// grow with them. Up to max_history_values values either way. The history is
// described in docs/monitor.md.
#ifndef UREA_WORKBENCH_IO_HISTORY_FILE_H
#define UREA_WORKBENCH_IO_HISTORY_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
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
    std::vector<double> values;  // by row, when held; NaN: empty, or outside the bounds (counted below)
    std::size_t missing = 0;     // empty cells
    // Values outside the documented bounds (history_out_of_bounds), left
    // out; the earliest and the latest time of one.
    std::size_t out_of_range = 0;
    std::int64_t out_of_range_first = 0, out_of_range_last = 0;
};

// The rows of a history in a temporary file (removed when closed), each
// its time, its line and its columns' values, 8 bytes each.
struct history_spool {
    std::FILE* file = nullptr;
    std::size_t rows = 0, width = 0;  // width: 8-byte words a row
    std::int64_t first = 0, last = 0;  // the first and the last row's times
    history_spool() = default;
    history_spool(const history_spool&) = delete;
    history_spool& operator=(const history_spool&) = delete;
    ~history_spool() {
        if (file != nullptr) std::fclose(file);
    }
};

struct history {
    std::string file;                  // as given, for messages
    std::string sha256;                // of the file's bytes
    // By row, when held (else empty, the rows in `spool`): ms since 1970
    // UTC (see base/timestamps.h), and where the row starts in the file.
    std::vector<std::int64_t> time;
    std::vector<std::size_t> line;
    std::shared_ptr<const history_spool> spool;  // the rows, when not held
    bool zoned = false;                // the times carry a UTC offset (else read as UTC)
    bool sorted = false;               // the rows were put in time order (--sort)
    std::vector<history_column> columns;  // in the file's order, the time column left out
    std::vector<std::string> carried;     // the columns read and not used, "NAME (N)" (a tag; a name misspelt past a guess)
    std::vector<std::string> warnings;

    std::size_t rows() const { return spool ? spool->rows : time.size(); }
    std::int64_t first_time() const { return spool ? spool->first : time.front(); }
    std::int64_t last_time() const { return spool ? spool->last : time.back(); }
    // The column of a setting, a measurement or its standard deviation; null when the file has none.
    const history_column* of_setting(setting s) const;
    const history_column* of_quantity(quantity q) const;
    const history_column* sigma_of(quantity q) const;
};

// The rows of a history one at a time, in order, from memory or from its
// spool (one reader of a spool at a time).
class history_rows {
public:
    explicit history_rows(const history& h);
    bool next();  // to the next row (the first at the first call); false past the last
    std::size_t row() const { return row_; }  // 0-based
    std::int64_t time() const;
    std::size_t line() const;
    double value(std::size_t column) const;  // by h.columns's index

private:
    const history& h_;
    std::size_t row_ = SIZE_MAX;
    std::vector<std::uint64_t> buffer_;  // rows of the spool
    std::size_t at_ = 0, held_ = 0;      // the row in the buffer, the rows in it
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
// time order (rows of the same time kept in the file's order). Out of
// memory while reading is a runs_error saying how many rows were read.
// read_history spools the rows unless `sort` (which needs them all at once,
// held); parse_history holds them.
history read_history(const std::string& path, bool sort);
history parse_history(const std::string& text, const std::string& name, bool sort);
// From a reader of the file's bytes (read(buffer, capacity), 0 at the end);
// `bytes`, the file's size when known, lets held columns be sized once from
// the first rows' length rather than grow by doubling. `spooled`: the rows
// written to a temporary file (not with `sort`; held, with a warning, when
// no temporary file can be made).
history history_of(const csv_reader::source& read, const std::string& name, bool sort, std::size_t bytes = 0,
                   bool spooled = false);
// From a table's records (a table in memory: table_source), as a file of it
// is read; its sha256 "(a table, no file)".
history history_of(record_source& records, const std::string& name, bool sort, bool spooled = false);

// Why a value lies outside the documented bounds of its column, or nothing:
// a runs file's bounds, those of a case (docs/case-files.md) and, for a
// measurement, a fraction between 0 and 1.
std::optional<std::string> history_out_of_bounds(const history_column& c, double v);

}  // namespace workbench

#endif
