// What every table of runs shares (a runs file, a plant history): CSV
// records read one at a time, so that a file of any size is read in bounded
// memory, and the runs file's columns, classified and checked as the runs
// file checks them. The runs-file reader and the history reader use these;
// see docs/runs-files.md.
#ifndef UREA_WORKBENCH_IO_RUNS_COLUMNS_H
#define UREA_WORKBENCH_IO_RUNS_COLUMNS_H

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/settings.h"

namespace workbench {

struct csv_record {
    std::size_t line = 0;            // where the record starts
    std::vector<std::string> cells;  // as written, quotes removed
    // A table in memory gives a column of numbers as the numbers: where
    // numbered[k], the cell is numbers[k] (NaN: empty) and cells[k] is empty.
    // Both empty for a file's record.
    std::vector<char> numbered;
    std::vector<double> numbers;
    bool is_number(std::size_t k) const { return k < numbered.size() && numbered[k] != 0; }
};

// The records of a table, one at a time: a CSV text's, or a table's in memory.
class record_source {
public:
    virtual ~record_source() = default;
    // The next record (the header first); false at the end.
    virtual bool next(csv_record& r) = 0;
    // What separates the cells: ',', ';' or '\t'.
    virtual char separator() const = 0;
};

// CSV records as RFC 4180 writes them: cells separated by commas, a cell in
// double quotes may hold the separator, line breaks and doubled quotes;
// lines end in LF, CRLF or CR. The header (the first record) says the
// separator: commas, or semicolons or tabs when it has those and no comma
// (outside quotes); a header with both commas and semicolons is refused as
// ambiguous. A UTF-8 byte-order mark is skipped (UTF-16 and UTF-32 text are
// refused); a cell or a row longer than a table allows is refused; lines
// whose first character is '#' and records without any text are left out.
// Throws runs_error naming the file and line.
class csv_reader : public record_source {
public:
    // read(buffer, capacity): the next bytes, 0 at the end.
    using source = std::function<std::size_t(char*, std::size_t)>;
    csv_reader(source read, std::string file);

    // The next record; false at the end of the text.
    bool next(csv_record& r) override;
    // What separates the cells: ',', ';' or '\t' (',' until the header is read).
    char separator() const override { return sep_; }

private:
    int peek() { return pos_ < end_ || refill() ? static_cast<unsigned char>(buf_[pos_]) : -1; }
    void bump() { ++pos_; }
    bool refill();
    bool have(std::size_t ahead);
    void skip_line_end();
    void find_separator();

    source read_;
    std::string file_;
    std::vector<char> buf_;
    std::size_t pos_ = 0, end_ = 0;
    bool at_end_ = false, started_ = false, header_ = false;
    std::size_t line_ = 1;
    char sep_ = ',';
};

// A text in memory as a reader's source (the text must outlive the reader).
csv_reader::source text_source(const std::string& text);

// A table in memory, by column: its cells as the text a CSV file holds, or
// (a column of numbers) the numbers themselves, NaN where a cell is empty.
struct table_column {
    std::vector<std::string> text;
    std::vector<double> numbers;
    bool numeric = false;
    std::size_t size() const { return numeric ? numbers.size() : text.size(); }
};

// A number as a cell's text: the shortest that reads back as the same
// double; empty for NaN.
std::string number_cell(double v);

// A table's records as a CSV file of it would give them: the header (line
// 1), then a row a line; numbers as numbers. The columns must be as many as
// the header's names and equally long; they must outlive the source.
class table_source : public record_source {
public:
    table_source(const std::vector<std::string>& header, const std::vector<table_column>& columns);
    bool next(csv_record& r) override;
    char separator() const override { return ','; }

private:
    const std::vector<std::string>& header_;
    const std::vector<table_column>& columns_;
    std::size_t next_ = 0;  // 0: the header
};

// Every record of a text, and the separator its header uses.
struct csv_table {
    std::vector<csv_record> records;
    char separator = ',';
};
csv_table csv_records(const std::string& text, const std::string& file);

// "FILE: cells separated by semicolons ..." for a table not separated by
// commas (a note for the reader's warnings); nothing for commas.
std::optional<std::string> separator_note(char separator, const std::string& file);

// Whether every cell is blank (spaces and tabs at most).
bool blank_cells(const std::vector<std::string>& cells);

// A cell without the spaces and tabs around it.
std::string trimmed_cell(const std::string& s);

// extra: one of the caller's own columns (a history's time); carried: any
// other column (a tag, a timestamp, an operator's note), read and not used.
enum class column_kind { run_name, note, setting, measured, sigma, unnamed, extra, carried };

struct runs_column {
    std::string name;    // as written, trimmed
    std::size_t number;  // 1-based
    column_kind kind;
    std::size_t index;   // the setting, the quantity, or the extra column's place in `extra`
    double scale = 1.0;  // what a cell's number is multiplied by: 0.01 in a column in % (the units row)
};

// The setting or measurement a column's name that is none was likely meant
// as (quantity_lookalike, with the measurements and their _sigma when
// `measurements`, and `extra`), or a feed, reactor or kinetics key of no
// setting; empty when the name is near none of them.
std::string column_lookalike(const std::string& written, bool measurements,
                             const std::vector<std::string>& extra = {});

// The header's columns, each checked as a runs file checks it: a name that
// looks like a misspelt setting or measurement (column_lookalike; the message
// says "did you mean"), a column given twice (also under two of its names), a
// standard deviation without its measurement, a header in one cell that holds
// semicolons or tabs. Any other column is carried (column_kind::carried).
// `extra`: the caller's own columns (e.g. "time"), matched as setting names are.
std::vector<runs_column> runs_header(const csv_record& head, const std::string& file,
                                     const std::vector<std::string>& extra = {});

// "FILE:LINE: columns carried through and not used: tag (2), ..." for the
// carried columns, or nothing.
std::optional<std::string> carried_note(const std::vector<runs_column>& cols, const std::string& file,
                                        std::size_t line);

// The units row under the header: a record none of whose cells is a number
// or a time, with text in a column that has a unit. When `rec`
// is one, each unit is checked against its column's (throws runs_error naming
// the column, the unit given and the one expected; a column without a fixed
// unit, the run's name, a note, a time, a carried one, takes any text), the
// scale of a column in % set to 0.01 with a note appended to `notes`, and
// true returned; otherwise false.
bool units_row(const csv_record& rec, std::vector<runs_column>& cols, const std::string& file,
               std::vector<std::string>& notes);

// The header of a table's records: there, and with its cells separated by
// commas; throws runs_error otherwise.
const csv_record& table_header(const std::vector<csv_record>& records, const std::string& file);

// Bad input in a cell of column c on this line: throws runs_error
// 'FILE:LINE: column "NAME" (N): WHAT'.
[[noreturn]] void column_error(const std::string& file, std::size_t line, const runs_column& c,
                               const message& what);

// A row has the header's number of cells; throws runs_error otherwise. One
// more, even blank, is refused too: a number written with a decimal comma
// (3,3) is two cells, and every cell after it would move one column on (the
// message says so when two cells look like one such number). A
// spreadsheet's empty columns at the right are in its header as well.
void check_row_width(const csv_record& rec, std::size_t columns, const std::string& file);

// A cell's number: decimal, finite, times the column's scale; throws
// runs_error with a hint for a thousands separator or a decimal comma (in a
// file separated by semicolons or tabs, `separator`, a comma is taken for a
// decimal comma).
double cell_number(const std::string& cell, const std::string& file, std::size_t line, const runs_column& c,
                   char separator = ',');
// A cell a table in memory gave as a number: finite, scaled as its column's
// unit says. Throws runs_error as cell_number does.
double table_number(double v, const std::string& file, std::size_t line, const runs_column& c);

// Why a setting's value lies outside what a runs file allows (e.g. "must not
// be negative"), or nothing.
std::optional<std::string> setting_out_of_bounds(setting s, double v);

// Why a measurement's value is no fraction between 0 and 1 (with the hint
// that it looks like a percentage), or nothing; `written`: the cell's text.
std::optional<std::string> fraction_out_of_bounds(double v, const std::string& written);

// Why a measurement's or a standard deviation's value `v` (scaled) in column
// c is out of bounds (fraction_out_of_bounds, sigma_out_of_bounds; for a
// column in %, in percent), or nothing; `written`: the cell's text.
std::optional<std::string> measured_out_of_bounds(const runs_column& c, double v, const std::string& written);

// Why a measurement's standard deviation is none (not > 0, or above 1,
// the most a fraction's can be, with the hint that it looks like a
// percentage), or nothing; `written`: the cell's text.
std::optional<std::string> sigma_out_of_bounds(double v, const std::string& written);

// What a value out of its column's bounds would be in the unit it was
// likely written in, when a unit mistake puts it there: a fraction in
// percent, a pressure in psi, kPa or Pa, a temperature in K or F
// ("looks like psi (145 bar) or kPa (21 bar): give the column in bar");
// nothing when no such unit brings it within the bounds.
std::optional<std::string> unit_mistake(const runs_column& c, double v);

// A row that gives both a ratio and the flow it sets: throws runs_error
// naming both columns. column_of: by setting, 1-based; 0 = not given.
void check_ratios(const std::array<std::size_t, setting_count>& column_of, std::size_t line,
                  const std::vector<runs_column>& cols, const std::string& file);

}  // namespace workbench

#endif
