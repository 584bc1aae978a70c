#include "report/table.h"

#include <cmath>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "base/text.h"
#include "model/settings.h"

namespace workbench {

cell_kind cell_of(field_kind k) {
    switch (k) {
        case field_kind::count: return cell_kind::whole;
        case field_kind::text: return cell_kind::text;
        case field_kind::time: return cell_kind::time;
        case field_kind::flag: return cell_kind::boolean;
        case field_kind::number: return cell_kind::number;
        case field_kind::table:
        case field_kind::nested:
        case field_kind::numbers:
        case field_kind::texts: break;
    }
    throw std::logic_error("a table, a nested field or a list is no column");
}

column& table::add(const schema_field& f) {
    column c;
    c.name = f.name;
    c.kind = cell_of(f.kind);
    c.unit = f.unit;
    c.meaning = f.meaning;
    columns_.push_back(std::move(c));
    return columns_.back();
}

column& table::add(const schema_field& f, std::string_view member) {
    column& c = add(f);
    c.name = filled(f.name, member);
    c.meaning = filled(f.meaning, member);
    if (std::string_view(f.name).find("<quantity>") != std::string_view::npos) {
        // The model is text, the trays a count, every other quantity a number in the case's unit.
        const std::optional<setting> s = setting_named(std::string(member));
        const schema_field* q = s ? declared("case", setting_column(*s)) : declared("case", member);
        c.unit = q == nullptr ? "" : q->unit;
        if (q != nullptr) c.kind = cell_of(q->kind);
    }
    return c;
}

column& table::add(const result_quantity& q) {
    column c;
    c.name = q.name;
    const schema_field* f = declared("result", q.name);
    c.kind = f == nullptr ? cell_kind::number : cell_of(f->kind);
    c.unit = q.unit;
    c.meaning = q.meaning;
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
