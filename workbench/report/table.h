// A result's table as every client gives it: named columns, each with its
// unit and meaning and one kind of cell (a number, a whole number, yes or
// no, text, a time). The command line writes its CSV files from these tables and
// Python's tables are exactly these columns, so that what pandas reads from
// the CSV is what Python gives. A missing cell is NaN (a number of any
// kind) or empty text.
#ifndef UREA_WORKBENCH_REPORT_TABLE_H
#define UREA_WORKBENCH_REPORT_TABLE_H

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "model/results.h"
#include "model/schema.h"

namespace workbench {

// A time is text as a history writes it (base/timestamps.h: ISO 8601, with
// Z when the history gave UTC offsets), which Python reads as a datetime.
enum class cell_kind { number, whole, boolean, text, time };

inline bool holds_text(cell_kind k) { return k == cell_kind::text || k == cell_kind::time; }

struct column {
    std::string name;
    cell_kind kind = cell_kind::number;
    std::string unit;                  // "fraction", "kmol/h", "C", ...; empty: none
    std::string meaning;               // one line
    std::vector<double> numbers;       // number, whole, boolean (0 or 1); NaN: missing
    std::vector<std::string> texts;    // text, time; empty: missing
    std::size_t size() const { return holds_text(kind) ? texts.size() : numbers.size(); }
    void push(double v) { numbers.push_back(v); }
    void push(bool v) { numbers.push_back(v ? 1.0 : 0.0); }
    void push(const std::string& s) { texts.push_back(s); }
};

// The cell a field's kind holds (a table or nested field has no column).
cell_kind cell_of(field_kind k);

// A table's columns are declared fields (model/schema.h): its name, unit,
// meaning and kind are the declaration's.
class table {
public:
    // A column, empty; its cells pushed row by row afterwards.
    column& add(const schema_field& f);
    // A family's member: each placeholder of the field's name and meaning
    // filled in with `member` ("x_<C>", "NH3": x_NH3). A <quantity> takes
    // its unit and kind from the case's field of that name.
    column& add(const schema_field& f, std::string_view member);
    // A result, as the results' list declares it.
    column& add(const result_quantity& q);
    const std::vector<column>& columns() const { return columns_; }
    std::vector<column>& columns() { return columns_; }
    column& operator[](std::size_t k) { return columns_[k]; }
    std::size_t rows() const { return columns_.empty() ? 0 : columns_.front().size(); }
    // The column of that name, or nullptr.
    const column* find(const std::string& name) const;
    // Every cell removed, the columns kept: a table reused a row at a time.
    void clear_rows();

private:
    std::vector<column> columns_;
};

// A cell as a CSV file holds it: a number to ten significant digits, a
// whole number as one, yes or no as true or false, text quoted where it
// must be; missing: empty.
std::string csv_cell(const column& c, std::size_t row);

// The header (the names, comma-separated), and the rows.
void write_csv_head(std::ostream& out, const table& t);
void write_csv_rows(std::ostream& out, const table& t);
std::string csv_text(const table& t);

}  // namespace workbench

#endif
