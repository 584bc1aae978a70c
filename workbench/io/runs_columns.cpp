#include "io/runs_columns.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <string_view>

#include "base/text.h"
#include "base/timestamps.h"
#include "io/runs_file.h"
#include "model/limits.h"
#include "model/observation.h"

namespace workbench {
namespace {

[[noreturn]] void fail_at(const std::string& file, std::size_t line, const std::string& what) {
    throw runs_error(file, line, 0, what);
}

std::string known_columns(const std::vector<std::string>& extra) {
    std::string s;
    for (const std::string& e : extra) s += e + ", ";
    s += "run, note";
    for (std::size_t i = 0; i < setting_count; ++i) s += std::string(", ") + setting_column(static_cast<setting>(i));
    for (const quantity_info& q : quantities) s += std::string(", ") + q.column;
    s += ", and each measurement's <name>_sigma";
    return s;
}

runs_column classify(const std::string& written, std::size_t number, const std::string& file, std::size_t line,
                     const std::vector<std::string>& extra) {
    runs_column c{trimmed_cell(written), number, column_kind::unnamed, 0};
    const std::string key = normalised_name(written);
    if (key.empty()) return c;
    for (std::size_t e = 0; e < extra.size(); ++e) {
        if (key == normalised_name(extra[e])) {
            c.kind = column_kind::extra;
            c.index = e;
            return c;
        }
    }
    if (key == "run") {
        c.kind = column_kind::run_name;
        return c;
    }
    if (key == "note") {
        c.kind = column_kind::note;
        return c;
    }
    if (const auto s = setting_named(written)) {
        c.kind = column_kind::setting;
        c.index = static_cast<std::size_t>(*s);
        return c;
    }
    for (std::size_t q = 0; q < quantity_count; ++q) {
        const std::string name = normalised_name(quantities[q].column);
        if (key == name || key == name + "_sigma") {
            c.kind = key == name ? column_kind::measured : column_kind::sigma;
            c.index = q;
            return c;
        }
    }
    if (key == "a1" || key == "a2") {
        column_error(file, line, c, key +
                         " is what the estimate finds, not a run's setting: to hold it, use " +
                         mention("fix", key, "VALUE"));
    }
    if (key == "model") {
        column_error(file, line, c, "the reactor model is the base case's (" + mention("model") +
                         " or the case file), the same for every run");
    }
    const std::string like = column_lookalike(written, true, extra);
    if (!like.empty()) {
        column_error(file, line, c, "unknown column: did you mean " + like +
                                        "? (a name this near a known one is taken for a misspelling; other "
                                        "columns are carried through unused; known: " +
                                        known_columns(extra) + ")");
    }
    c.kind = column_kind::carried;
    return c;
}

// ---- Units ------------------------------------------------------------------

enum class unit_kind { none, flow, temperature, pressure, volume, ratio, mass_fraction, conversion };

struct unit_spelling {
    unit_kind kind;
    const char* text;  // lower case
    bool percent;
};

constexpr unit_spelling unit_spellings[] = {
    {unit_kind::flow, "kmol/h", false},          {unit_kind::flow, "kmol/hr", false},
    {unit_kind::temperature, "\xC2\xB0" "c", false}, {unit_kind::temperature, "c", false},
    {unit_kind::temperature, "degc", false},     {unit_kind::temperature, "deg c", false},
    {unit_kind::pressure, "bar", false},         {unit_kind::volume, "m3", false},
    {unit_kind::volume, "m\xC2\xB3", false},       {unit_kind::volume, "m^3", false},
    {unit_kind::ratio, "mol/mol", false},        {unit_kind::ratio, "-", false},
    {unit_kind::mass_fraction, "fraction", false}, {unit_kind::mass_fraction, "-", false},
    {unit_kind::mass_fraction, "kg/kg", false},  {unit_kind::mass_fraction, "%", true},
    {unit_kind::mass_fraction, "wt%", true},     {unit_kind::mass_fraction, "wt %", true},
    {unit_kind::conversion, "fraction", false},  {unit_kind::conversion, "-", false},
    {unit_kind::conversion, "mol/mol", false},   {unit_kind::conversion, "%", true},
};

const char* expected_unit(unit_kind k) {
    switch (k) {
        case unit_kind::flow: return "kmol/h";
        case unit_kind::temperature: return "\xC2\xB0" "C (or C, degC)";
        case unit_kind::pressure: return "bar";
        case unit_kind::volume: return "m3 (or m\xC2\xB3)";
        case unit_kind::ratio: return "mol/mol (or -)";
        case unit_kind::mass_fraction: return "fraction (or -, kg/kg), or % (wt%)";
        case unit_kind::conversion: return "fraction (or -, mol/mol), or %";
        case unit_kind::none: break;
    }
    return "";
}

unit_kind unit_of(const runs_column& c) {
    if (c.kind == column_kind::measured || c.kind == column_kind::sigma) {
        return c.index == static_cast<std::size_t>(quantity::co2_conversion) ? unit_kind::conversion
                                                                              : unit_kind::mass_fraction;
    }
    if (c.kind != column_kind::setting) return unit_kind::none;
    switch (static_cast<setting>(c.index)) {
        case setting::trays: return unit_kind::none;
        case setting::volume_m3: return unit_kind::volume;
        case setting::pressure_bar: return unit_kind::pressure;
        case setting::inlet_temperature_C:
        case setting::outlet_temperature_C: return unit_kind::temperature;
        case setting::nh3_co2:
        case setting::h2o_co2: return unit_kind::ratio;
        default: return unit_kind::flow;
    }
}

// A unit as written, without blanks and one pair of brackets around it ("[bar]",
// "(kmol/h)"), in lower case.
std::string unit_text(const std::string& cell) {
    std::string u = trimmed_cell(cell);
    if (u.size() >= 2 && ((u.front() == '[' && u.back() == ']') || (u.front() == '(' && u.back() == ')'))) {
        u = trimmed_cell(u.substr(1, u.size() - 2));
    }
    for (char& ch : u) {
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    return u;
}

// The spelling of a unit of kind k, or null.
const unit_spelling* spelling_of(const std::string& unit, unit_kind k) {
    for (const unit_spelling& s : unit_spellings) {
        if (unit == s.text && k == s.kind) return &s;
    }
    return nullptr;
}

}  // namespace

// ---- CSV records (RFC 4180) ----------------------------------------------

csv_reader::csv_reader(source read, std::string file)
    : read_(std::move(read)), file_(std::move(file)), buf_(std::size_t{1} << 16) {}

bool csv_reader::refill() {
    if (at_end_) return false;
    // Keep what is left (the start's look-ahead), then read after it.
    const std::size_t left = end_ - pos_;
    std::memmove(buf_.data(), buf_.data() + pos_, left);
    pos_ = 0;
    end_ = left;
    const std::size_t n = read_(buf_.data() + end_, buf_.size() - end_);
    if (n == 0) at_end_ = true;
    end_ += n;
    return pos_ < end_;
}

bool csv_reader::have(std::size_t ahead) {
    while (pos_ + ahead >= end_) {
        if (at_end_) return false;
        if (end_ - pos_ == buf_.size()) buf_.resize(buf_.size() * 2);
        refill();
    }
    return true;
}

void csv_reader::find_separator() {
    // The header's separators outside quotes, up to its end (a header longer
    // than this is refused as it is read anyway).
    constexpr std::size_t most = std::size_t{1} << 22;
    std::size_t commas = 0, semicolons = 0, tabs = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < most && have(i); ++i) {
        const char ch = buf_[pos_ + i];
        if (ch == '"') {
            quoted = !quoted;
        } else if (!quoted) {
            if (ch == '\n' || ch == '\r') break;
            commas += ch == ',';
            semicolons += ch == ';';
            tabs += ch == '\t';
        }
    }
    if (commas > 0 && semicolons > 0) {
        fail_at(file_, line_,
                "the header has both commas and semicolons between its names: which of them separates the "
                "columns is unclear; save the table with one separator (commas, or semicolons with a decimal "
                "point), and quote a name that holds the other");
    }
    // Tabs beside commas or semicolons are blanks around a cell.
    sep_ = commas > 0 ? ',' : semicolons > 0 ? ';' : tabs > 0 ? '\t' : ',';
}

void csv_reader::skip_line_end() {
    if (peek() == '\r') {
        bump();
        if (peek() == '\n') bump();
    } else {
        bump();
    }
    ++line_;
}

bool csv_reader::next(csv_record& r) {
    r.numbered.clear();
    r.numbers.clear();
    if (!started_) {
        started_ = true;
        while (end_ - pos_ < 4 && !at_end_) refill();
        const std::string_view t(buf_.data() + pos_, end_ - pos_);
        using namespace std::string_view_literals;
        if (t.starts_with("\xFF\xFE\0\0"sv) || t.starts_with("\0\0\xFE\xFF"sv)) {
            throw runs_error(file_, 0, 0, "UTF-32 text: save the table as \"CSV UTF-8\" or plain CSV");
        }
        if (t.starts_with("\xFF\xFE"sv) || t.starts_with("\xFE\xFF"sv)) {
            throw runs_error(file_, 0, 0, "UTF-16 text: save the table as \"CSV UTF-8\" or plain CSV");
        }
        const std::size_t n = t.size();
        if (n >= 3 && t.starts_with("\xEF\xBB\xBF"sv)) pos_ += 3;
    }
    const auto line_end = [](int ch) { return ch == '\n' || ch == '\r'; };
    // The cells are read into the record's strings of the row before, whose
    // memory they reuse; `used` of them hold this row's.
    std::size_t used = 0;
    // A cell too long or a row too wide is refused as it is met, before it
    // takes the memory.
    const auto too_long = [&](const csv_record& rec) {
        fail_at(file_, rec.line, "cell " + std::to_string(used + 1) + ": more than " +
                                     std::to_string(max_cell_chars) + " characters; a cell holds at most " +
                                     std::to_string(max_cell_chars));
    };
    for (;;) {
        int ch = peek();
        if (ch < 0) return false;
        if (ch == '#') {  // a comment line
            while ((ch = peek()) >= 0 && !line_end(ch)) bump();
            if (ch >= 0) skip_line_end();
            continue;
        }
        if (!header_) find_separator();  // until the header, the first record with text
        const char sep = sep_;
        r.line = line_;
        used = 0;
        for (;;) {
            if (used == max_columns) {
                fail_at(file_, r.line, "more than " + std::to_string(max_columns) +
                                           " cells in the row; a table has at most " + std::to_string(max_columns) +
                                           " columns");
            }
            if (used == r.cells.size()) r.cells.emplace_back();
            std::string& cell = r.cells[used];
            cell.clear();
            if (peek() == '"') {
                const std::size_t opened = line_;
                bump();
                for (;;) {
                    ch = peek();
                    if (ch < 0) {
                        fail_at(file_, opened, "cell " + std::to_string(used + 1) +
                                                   ": a quote opened here is never closed");
                    }
                    if (ch == '"') {
                        bump();
                        if (peek() == '"') {
                            cell += '"';
                            bump();
                            continue;
                        }
                        break;
                    }
                    cell += static_cast<char>(ch);
                    bump();
                    if (cell.size() > max_cell_chars) too_long(r);
                    if (line_end(ch)) {
                        if (ch == '\r' && peek() == '\n') {
                            cell += '\n';
                            bump();
                        }
                        ++line_;
                    }
                }
                ch = peek();
                if (ch >= 0 && ch != sep && !line_end(ch)) {
                    fail_at(file_, line_, "cell " + std::to_string(used + 1) +
                                              ": text after the closing quote");
                }
            } else {
                // The bytes up to the cell's end, as they stand in the buffer.
                for (;;) {
                    const char* from = buf_.data() + pos_;
                    const char* to = buf_.data() + end_;
                    const char* at = from;
                    while (at < to && *at != sep && *at != '\n' && *at != '\r' && *at != '"' && *at != '\0') ++at;
                    cell.append(from, static_cast<std::size_t>(at - from));
                    pos_ += static_cast<std::size_t>(at - from);
                    if (cell.size() > max_cell_chars) too_long(r);
                    if (at < to || !refill()) break;
                }
                ch = peek();
                if (ch == '"') {
                    fail_at(file_, line_, "cell " + std::to_string(used + 1) +
                                              ": a quote inside a cell that does not start with "
                                              "one (quote the whole cell and double the quote)");
                }
                if (ch == '\0') fail_at(file_, line_, "a NUL byte: this is not a text file");
            }
            ++used;
            ch = peek();
            if (ch == sep) {
                bump();
                continue;
            }
            if (ch >= 0) skip_line_end();
            break;
        }
        r.cells.resize(used);
        if (!blank_cells(r.cells)) {
            header_ = true;
            return true;
        }
    }
}

csv_reader::source text_source(const std::string& text) {
    return [&text, at = std::size_t{0}](char* to, std::size_t capacity) mutable {
        const std::size_t n = std::min(capacity, text.size() - at);
        std::memcpy(to, text.data() + at, n);
        at += n;
        return n;
    };
}

std::string number_cell(double v) {
    if (std::isnan(v)) return "";
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

table_source::table_source(const std::vector<std::string>& header, const std::vector<table_column>& columns)
    : header_(header), columns_(columns) {}

bool table_source::next(csv_record& r) {
    const std::size_t rows = columns_.empty() ? 0 : columns_.front().size();
    if (next_ > rows) return false;
    r.line = next_ + 1;
    r.cells.resize(header_.size());
    r.numbered.assign(header_.size(), 0);
    r.numbers.resize(header_.size());
    if (next_ == 0) {
        for (std::size_t k = 0; k < header_.size(); ++k) r.cells[k] = header_[k];
    } else {
        for (std::size_t k = 0; k < header_.size(); ++k) {
            const table_column& c = columns_[k];
            if (c.numeric) {
                r.cells[k].clear();
                r.numbered[k] = 1;
                r.numbers[k] = c.numbers[next_ - 1];
            } else {
                r.cells[k] = c.text[next_ - 1];
            }
        }
    }
    ++next_;
    return true;
}

csv_table csv_records(const std::string& text, const std::string& file) {
    csv_reader reader(text_source(text), file);
    csv_table out;
    csv_record r;
    std::size_t cells = 0;
    while (reader.next(r)) {
        // A table in memory is bounded in all; a history is streamed instead.
        if ((cells += r.cells.size()) > max_table_cells) {
            fail_at(file, r.line, "more than " + std::to_string(max_table_cells) +
                                      " cells in all; a table holds at most " + std::to_string(max_table_cells));
        }
        out.records.push_back(r);
    }
    out.separator = reader.separator();
    return out;
}

std::optional<std::string> separator_note(char separator, const std::string& file) {
    if (separator == ',') return std::nullopt;
    return file + ": cells separated by " + (separator == ';' ? "semicolons" : "tabs") +
           " (the header has no comma), read as such; numbers need a decimal point";
}

bool blank_cells(const std::vector<std::string>& cells) {
    return std::all_of(cells.begin(), cells.end(), [](const std::string& c) {
        return c.find_first_not_of(" \t") == std::string::npos;
    });
}

std::string trimmed_cell(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    const std::size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// ---- Columns --------------------------------------------------------------

void column_error(const std::string& file, std::size_t line, const runs_column& c, const message& what) {
    throw runs_error(file, line, c.number, "column \"" + c.name + "\" (" + std::to_string(c.number) + "): " + what);
}

namespace {

void check_separators(const csv_record& head, const std::string& file) {
    if (head.cells.size() == 1 && head.cells[0].find_first_of(";\t") != std::string::npos) {
        fail_at(file, head.line,
                "the header has one column whose name holds semicolons or tabs: the columns were not split "
                "(a table read with the wrong separator? pandas: read_csv(..., sep=\";\"))");
    }
}

}  // namespace

const csv_record& table_header(const std::vector<csv_record>& records, const std::string& file) {
    if (records.empty()) {
        throw runs_error(file, 0, 0, "no header row: the first line that is not a comment must name "
                                "the columns");
    }
    check_separators(records.front(), file);
    return records.front();
}

std::vector<runs_column> runs_header(const csv_record& head, const std::string& file,
                                     const std::vector<std::string>& extra) {
    check_separators(head, file);
    std::vector<runs_column> cols;
    std::map<std::pair<column_kind, std::size_t>, std::size_t> seen;  // target -> column number
    for (std::size_t k = 0; k < head.cells.size(); ++k) {
        runs_column c = classify(head.cells[k], k + 1, file, head.line, extra);
        if (c.kind != column_kind::unnamed && c.kind != column_kind::carried) {
            const auto [it, fresh] = seen.emplace(std::pair{c.kind, c.index}, c.number);
            if (!fresh) {
                const runs_column& first = cols[it->second - 1];
                column_error(file, head.line, c, "the same as column \"" + first.name +
                                 "\" (" + std::to_string(first.number) + ")");
            }
        }
        cols.push_back(std::move(c));
    }
    for (const runs_column& c : cols) {
        if (c.kind == column_kind::sigma && seen.count({column_kind::measured, c.index}) == 0) {
            column_error(file, head.line, c,
                         std::string("a standard deviation without its measurement column \"") +
                             quantities[c.index].column + "\"");
        }
    }
    return cols;
}

std::string column_lookalike(const std::string& written, bool measurements, const std::vector<std::string>& extra) {
    std::vector<std::string> more = extra;
    if (measurements) {
        for (const quantity_info& q : quantities) {
            more.emplace_back(q.column);
            more.push_back(std::string(q.column) + "_sigma");
        }
    }
    std::string best = quantity_lookalike(written, true, more);
    const std::string key = normalised_name(written);
    std::string lower = trimmed_cell(written);
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (best.empty() && key.rfind("feed_kmol_h.", 0) == 0) best = "feed_kmol_h.<component> (NH3, CO2, H2O, CARB, UREA, O2, N2)";
    if (best.empty() && lower.rfind("reactor.", 0) == 0) best = "a setting of the reactor (trays, volume_m3, ...)";
    if (best.empty() && lower.rfind("kinetics.", 0) == 0) best = "a1 or a2";
    return best;
}

std::optional<std::string> carried_note(const std::vector<runs_column>& cols, const std::string& file,
                                        std::size_t line) {
    std::string names;
    for (const runs_column& c : cols) {
        if (c.kind != column_kind::carried) continue;
        names += (names.empty() ? "" : ", ") + c.name + " (" + std::to_string(c.number) + ")";
    }
    if (names.empty()) return std::nullopt;
    return printable(file + ":" + std::to_string(line) + ": columns carried through and not used: " + names);
}

bool units_row(const csv_record& rec, std::vector<runs_column>& cols, const std::string& file,
               std::vector<std::string>& notes) {
    // Text in a column with a unit, and no number (nor a time) anywhere.
    bool unit = false;
    for (std::size_t k = 0; k < rec.numbered.size(); ++k) {
        if (rec.is_number(k) && !std::isnan(rec.numbers[k])) return false;
    }
    for (std::size_t k = 0; k < rec.cells.size(); ++k) {
        const std::string cell = trimmed_cell(rec.cells[k]);
        if (cell.empty()) continue;
        if (read_decimal(cell).error == std::errc() || read_timestamp(cell).error.empty()) return false;
        unit = unit || (k < cols.size() && unit_of(cols[k]) != unit_kind::none);
    }
    if (!unit) return false;
    check_row_width(rec, cols.size(), file);
    std::string percent;
    for (runs_column& c : cols) {
        const unit_kind k = unit_of(c);
        const std::string written = trimmed_cell(rec.cells[c.number - 1]);
        if (k == unit_kind::none || written.empty()) continue;
        const unit_spelling* s = spelling_of(unit_text(written), k);
        if (s == nullptr) {
            column_error(file, rec.line, c, "unit \"" + written + "\" in the units row; expected " + expected_unit(k));
        }
        if (s->percent) {
            c.scale = 0.01;
            percent += (percent.empty() ? "" : ", ") + c.name + " (" + std::to_string(c.number) + ")";
        }
    }
    if (!percent.empty()) {
        notes.push_back(printable(file + ":" + std::to_string(rec.line) + ": in % (the units row): " + percent +
                                  "; read as fractions, divided by 100"));
    }
    return true;
}

void check_row_width(const csv_record& rec, std::size_t columns, const std::string& file) {
    if (rec.cells.size() == columns) return;
    std::string hint;
    const auto digits = [](const std::string& c, bool sign) {
        const std::string t = trimmed_cell(c);
        const std::size_t from = sign && !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
        return t.size() > from && t.find_first_not_of("0123456789", from) == std::string::npos;
    };
    for (std::size_t k = 0; rec.cells.size() > columns && k + 1 < rec.cells.size(); ++k) {
        if (digits(rec.cells[k], true) && digits(rec.cells[k + 1], false)) {
            hint = "; cells " + std::to_string(k + 1) + " and " + std::to_string(k + 2) + ", " +
                   trimmed_cell(rec.cells[k]) + " and " + trimmed_cell(rec.cells[k + 1]) +
                   ", look like one number written with a decimal comma: write " + trimmed_cell(rec.cells[k]) +
                   "." + trimmed_cell(rec.cells[k + 1]) + ", or quote the cell";
            break;
        }
    }
    fail_at(file, rec.line, "the row has " + std::to_string(rec.cells.size()) + " cells, the header " +
                                std::to_string(columns) + hint);
}

double cell_number(const std::string& cell, const std::string& file, std::size_t line, const runs_column& c,
                   char separator) {
    const decimal_read r = read_decimal(cell);
    if (r.error != std::errc()) {
        std::string hint;
        if (separator != ',' && cell.find(',') != std::string::npos) {
            // Semicolons or tabs between the cells are what a spreadsheet set
            // to a decimal comma writes: the comma is one.
            std::string point = cell;
            std::replace(point.begin(), point.end(), ',', '.');
            hint = std::string("; a decimal comma: the file is separated by ") +
                   (separator == ';' ? "semicolons" : "tabs") + ", and its numbers must be written with a " +
                   "decimal point (" + point + "): export it with a decimal point, or as CSV with commas";
        } else if (cell.find(',') != std::string::npos) {
            // 2,400 is two thousand four hundred with a thousands separator,
            // or 2.4 with a decimal comma: say both, guess neither.
            std::string digits = cell, point = cell;
            digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
            std::replace(point.begin(), point.end(), ',', '.');
            hint = "; write numbers without a thousands separator and with a decimal point: " + digits +
                   " if the comma separates thousands, " + point + " if it is a decimal comma";
        }
        if (r.error == std::errc::result_out_of_range) {
            column_error(file, line, c,
                         r.too_small ? "a number too small for a double, which would read it as 0 (got \"" + cell +
                                           "\"; write 0 if 0 is meant)"
                                     : "a number too large for a double (got \"" + cell + "\")");
        }
        column_error(file, line, c, "not a number (got \"" + cell + "\"" + hint + ")");
    }
    if (!std::isfinite(r.value)) {
        column_error(file, line, c, "must be a finite number (got \"" + cell + "\")");
    }
    return r.value * c.scale;
}

double table_number(double v, const std::string& file, std::size_t line, const runs_column& c) {
    if (!std::isfinite(v)) column_error(file, line, c, "must be a finite number (got \"" + number_cell(v) + "\")");
    return v * c.scale;
}

std::optional<std::string> setting_out_of_bounds(setting s, double v) {
    switch (s) {
        case setting::trays:
            if (v != std::floor(v)) return "must be a whole number of trays";
            if (v < min_trays || v > max_trays) {
                return "must be " + std::to_string(min_trays) + " to " + std::to_string(max_trays) + " trays";
            }
            break;
        case setting::volume_m3:
        case setting::pressure_bar:
            if (!(v > 0.0)) return "must be > 0";
            break;
        case setting::inlet_temperature_C:
        case setting::outlet_temperature_C:
            if (!(v + kelvin > 0.0)) return "not a temperature in C";
            break;
        case setting::nh3_co2:
        case setting::h2o_co2:
            if (v < 0.0) return "must not be negative";
            break;
        default:  // flows
            if (v < 0.0) return "must not be negative";
            if (v > max_flow_kmol_h) return "must be at most " + sig(max_flow_kmol_h) + " kmol/h";
            break;
    }
    return std::nullopt;
}

std::optional<std::string> fraction_out_of_bounds(double v, const std::string& written) {
    if (v >= 0.0 && v <= 1.0) return std::nullopt;
    return "must be a fraction between 0 and 1 (got " + written + percentage_hint(v) + ")";
}

std::optional<std::string> measured_out_of_bounds(const runs_column& c, double v, const std::string& written) {
    if (c.scale == 1.0) {
        return c.kind == column_kind::sigma ? sigma_out_of_bounds(v, written) : fraction_out_of_bounds(v, written);
    }
    if (c.kind == column_kind::sigma) {
        if (!(v > 0.0)) return "a standard deviation must be > 0 (got " + written + ")";
        if (v > 1.0) return "a standard deviation in % must be at most 100 (got " + written + ")";
    } else if (!(v >= 0.0 && v <= 1.0)) {
        return "must be a percentage between 0 and 100, the column being in % (got " + written + ")";
    }
    return std::nullopt;
}

std::optional<std::string> sigma_out_of_bounds(double v, const std::string& written) {
    if (!(v > 0.0)) return "a standard deviation must be > 0 (got " + written + ")";
    if (v > 1.0) {
        return "a standard deviation of a fraction must be at most 1 (got " + written + percentage_hint(v) + ")";
    }
    return std::nullopt;
}

std::optional<std::string> unit_mistake(const runs_column& c, double v) {
    if (c.kind == column_kind::measured || c.kind == column_kind::sigma) {
        if (c.scale != 1.0 || !(v > 1.0 && v <= 100.0)) return std::nullopt;
        return "looks like a percentage (" + sig(v / 100.0) + "): give the column as a fraction, or mark it % in a units row";
    }
    if (c.kind != column_kind::setting) return std::nullopt;
    struct unit { const char* name; double scale, offset; };
    const auto s = static_cast<setting>(c.index);
    std::vector<unit> units;
    double lo = 0.0, hi = 0.0;
    const char* expected = "";
    if (s == setting::pressure_bar) {
        units = {{"psi", 0.0689475729, 0.0}, {"kPa", 0.01, 0.0}, {"Pa", 1e-5, 0.0}};
        lo = min_pressure_bar;
        hi = max_pressure_bar;
        expected = "bar";
    } else if (s == setting::inlet_temperature_C || s == setting::outlet_temperature_C) {
        units = {{"K", 1.0, -kelvin}, {"F", 1.0 / 1.8, -32.0 / 1.8}};
        lo = min_temperature_C;
        hi = max_temperature_C;
        expected = "C";
    } else {
        return std::nullopt;
    }
    std::string likely;
    for (const unit& u : units) {
        const double x = v * u.scale + u.offset;
        if (x >= lo && x <= hi) likely += (likely.empty() ? "" : " or ") + std::string(u.name) + " (" + sig(x, 4) + " " + expected + ")";
    }
    if (likely.empty()) return std::nullopt;
    return "looks like " + likely + ": give the column in " + expected;
}

void check_ratios(const std::array<std::size_t, setting_count>& column_of, std::size_t line,
                  const std::vector<runs_column>& cols, const std::string& file) {
    for (const auto& [ratio, flow] : {std::pair{setting::nh3_co2, setting::feed_NH3},
                                      std::pair{setting::h2o_co2, setting::feed_H2O}}) {
        const std::size_t rc = column_of[static_cast<std::size_t>(ratio)];
        const std::size_t fc = column_of[static_cast<std::size_t>(flow)];
        if (rc != 0 && fc != 0) {
            column_error(file, line, cols[rc - 1], "given together with column \"" + cols[fc - 1].name + "\" (" +
                                                       std::to_string(fc) +
                                                       ") in the same row: give either the flow or the ratio");
        }
    }
}

}  // namespace workbench
