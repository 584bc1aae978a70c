#include "report/table.h"

#include <cmath>
#include <sstream>
#include <utility>

#include "base/text.h"

namespace workbench {

column& table::add(std::string name, cell_kind kind, std::string unit, std::string meaning) {
    column c;
    c.name = std::move(name);
    c.kind = kind;
    c.unit = std::move(unit);
    c.meaning = std::move(meaning);
    columns_.push_back(std::move(c));
    return columns_.back();
}

const column* table::find(const std::string& name) const {
    for (const column& c : columns_) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

void table::clear_rows() {
    for (column& c : columns_) {
        c.numbers.clear();
        c.texts.clear();
    }
}

std::string csv_cell(const column& c, std::size_t row) {
    if (holds_text(c.kind)) return csv_cell(c.texts[row]);
    const double v = c.numbers[row];
    if (!std::isfinite(v)) return "";
    switch (c.kind) {
        case cell_kind::boolean: return v != 0.0 ? "true" : "false";
        case cell_kind::whole: return std::to_string(static_cast<long long>(v));
        default: return csv_number(v);
    }
}

void write_csv_head(std::ostream& out, const table& t) {
    bool first = true;
    for (const column& c : t.columns()) {
        out << (first ? "" : ",") << csv_cell(c.name);
        first = false;
    }
    out << "\n";
}

void write_csv_rows(std::ostream& out, const table& t) {
    const std::size_t n = t.rows();
    for (std::size_t r = 0; r < n; ++r) {
        bool first = true;
        for (const column& c : t.columns()) {
            out << (first ? "" : ",") << csv_cell(c, r);
            first = false;
        }
        out << "\n";
    }
}

std::string csv_text(const table& t) {
    std::ostringstream out;
    write_csv_head(out, t);
    write_csv_rows(out, t);
    return out.str();
}

}  // namespace workbench
