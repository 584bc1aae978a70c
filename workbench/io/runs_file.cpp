#include "io/runs_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "base/input_files.h"
#include "io/runs_columns.h"
#include "base/text.h"
#include "model/limits.h"

namespace workbench {
namespace {

using record = csv_record;

using kind = column_kind;

[[noreturn]] void fail_at(const std::string& file, std::size_t line, const std::string& what) {
    throw runs_error(file, line, 0, what);
}

std::string trimmed(const std::string& s) { return trimmed_cell(s); }

csv_table split(const std::string& text, const std::string& file) { return csv_records(text, file); }

// A record's cell as a file would hold it, trimmed: a table's number as its
// shortest text (NaN: empty), to test for a value and quote in a message.
std::string cell_text(const record& rec, std::size_t j) {
    return rec.is_number(j) ? number_cell(rec.numbers[j]) : trimmed(rec.cells[j]);
}

// A cell's number: a table's number as it is, a file's text read.
double cell_value(const record& rec, std::size_t j, const std::string& cell, const std::string& file,
                  const runs_column& c, char separator) {
    return rec.is_number(j) ? table_number(rec.numbers[j], file, rec.line, c)
                            : cell_number(cell, file, rec.line, c, separator);
}

double setting_value(setting s, const record& rec, std::size_t j, const std::string& cell, const std::string& file,
                     const runs_column& c, char separator) {
    const double v = cell_value(rec, j, cell, file, c, separator);
    if (const auto why = setting_out_of_bounds(s, v)) column_error(file, rec.line, c, *why + " (got " + cell + ")");
    return v;
}

}  // namespace

static const record& header_of(const std::vector<record>& records, const std::string& file) {
    return table_header(records, file);
}

// The runs of a table's records, the header first: every check of a runs
// file but those of the text itself (quotes, line ends).
static runs_file runs_of(const csv_table& table, const std::string& file) {
    const std::vector<record>& records = table.records;
    const char sep = table.separator;
    const record& head = header_of(records, file);
    std::vector<runs_column> cols = runs_header(head, file);

    runs_file out{file, {}, {}};
    if (auto note = separator_note(sep, file)) out.warnings.push_back(std::move(*note));
    if (auto note = carried_note(cols, file, head.line)) out.warnings.push_back(std::move(*note));
    const std::size_t first = records.size() > 1 && units_row(records[1], cols, file, out.warnings) ? 2 : 1;
    std::unordered_map<std::string, std::size_t> line_of_name;
    for (std::size_t k = first; k < records.size(); ++k) {
        const record& rec = records[k];
        check_row_width(rec, cols.size(), file);
        plant_run r;
        r.line = rec.line;
        std::array<double, quantity_count> sigma{};
        std::array<std::size_t, quantity_count> sigma_column{};
        for (std::size_t j = 0; j < cols.size(); ++j) {
            const runs_column& c = cols[j];
            const std::string cell = cell_text(rec, j);
            if (cell.empty()) continue;
            switch (c.kind) {
                case kind::carried:
                    break;
                case kind::unnamed:
                case kind::extra:
                    throw runs_error(file, rec.line, c.number, "column " + std::to_string(c.number) +
                                     ": a value in a column without a name in the header");
                case kind::run_name:
                    r.name = cell;
                    break;
                case kind::note:
                    r.note = cell;
                    break;
                case kind::setting:
                    r.settings[c.index] =
                        setting_value(static_cast<setting>(c.index), rec, j, cell, file, c, sep);
                    r.setting_column[c.index] = c.number;
                    break;
                case kind::measured: {
                    const double v = cell_value(rec, j, cell, file, c, sep);
                    if (const auto why = measured_out_of_bounds(c, v, cell)) column_error(file, rec.line, c, *why);
                    r.measured[c.index] = measurement{v, info(static_cast<quantity>(c.index)).default_sigma, false};
                    r.measured_column[c.index] = c.number;
                    break;
                }
                case kind::sigma: {
                    const double v = cell_value(rec, j, cell, file, c, sep);
                    if (const auto why = measured_out_of_bounds(c, v, cell)) column_error(file, rec.line, c, *why);
                    sigma[c.index] = v;
                    sigma_column[c.index] = c.number;
                    break;
                }
            }
        }
        if (r.name.empty()) r.name = "line " + std::to_string(rec.line);
        // A standard deviation counts only with its measurement.
        for (std::size_t q = 0; q < quantity_count; ++q) {
            if (r.measured[q] && sigma_column[q] != 0) {
                r.measured[q]->sigma = sigma[q];
                r.measured[q]->sigma_given = true;
            }
        }
        check_ratios(r.setting_column, r.line, cols, file);
        if (std::none_of(r.measured.begin(), r.measured.end(),
                         [](const auto& m) { return m.has_value(); })) {
            fail_at(file, r.line, "run \"" + r.name + "\" has no measurement: give at least one of " +
                                      quantity_columns());
        }
        // A complete analysis should add up to about 1.
        double sum = 0.0;
        bool all = true;
        for (std::size_t q = 0; q < quantity_count; ++q) {
            if (!quantities[q].in_analysis) continue;
            all = all && r.measured[q].has_value();
            if (r.measured[q]) sum += r.measured[q]->value;
        }
        if (all && std::abs(sum - 1.0) > 0.03) {
            out.warnings.push_back(file + ":" + std::to_string(r.line) + ": run \"" + printable(r.name) +
                                   "\": the mass fractions add up to " + sig(sum) +
                                   ", not about 1 (on this basis NH3, CO2, UREA and H2O make up the "
                                   "liquid, carbamate counted as the NH3 and CO2 that form it)");
        }
        if (const auto [it, fresh] = line_of_name.emplace(r.name, r.line); !fresh) {
            out.warnings.push_back(file + ":" + std::to_string(r.line) + ": run \"" + printable(r.name) +
                                   "\" has the name of the run on line " + std::to_string(it->second));
        }
        if (out.runs.size() == max_runs) {
            fail_at(file, r.line, "more than " + std::to_string(max_runs) + " runs; a runs file holds at most " +
                                      std::to_string(max_runs));
        }
        out.runs.push_back(std::move(r));
    }
    if (out.runs.empty()) {
        throw runs_error(file, 0, 0, "no runs: the header must be followed by at least one row");
    }
    return out;
}

runs_file parse_runs(const std::string& text, const std::string& file) { return runs_of(split(text, file), file); }

namespace {

// A table in memory as the records of the CSV file it would be written as,
// its columns of numbers as the numbers; a row of empty cells left out, as a
// blank line is.
csv_table table_records(const std::vector<std::string>& header, const std::vector<table_column>& columns,
                        const std::string& name) {
    const std::size_t rows = columns.empty() ? 0 : columns.front().size();
    if (header.size() * (rows + 1) > max_table_cells) {
        fail_at(name, 0, std::to_string(rows) + " rows of " + std::to_string(header.size()) +
                             " columns: a table holds at most " + std::to_string(max_table_cells) + " cells");
    }
    std::vector<record> records;
    table_source source(header, columns);
    record r;
    while (source.next(r)) {
        bool empty = true;
        for (std::size_t j = 0; j < r.cells.size(); ++j) {
            if (r.cells[j].size() > max_cell_chars) {
                fail_at(name, r.line, "cell " + std::to_string(j + 1) + ": more than " +
                                          std::to_string(max_cell_chars) + " characters; a cell holds at most " +
                                          std::to_string(max_cell_chars));
            }
            empty = empty && (r.is_number(j) ? std::isnan(r.numbers[j]) : trimmed(r.cells[j]).empty());
        }
        if (r.line == 1 || !empty) records.push_back(r);
    }
    return {std::move(records), ','};
}

}  // namespace

runs_file runs_from_table(const std::vector<std::string>& header, const std::vector<table_column>& columns,
                          const std::string& name) {
    return runs_of(table_records(header, columns, name), name);
}

runs_file read_runs(const std::string& path) {
    return parse_runs(read_input_file(path, "runs file"), path);
}


namespace {

// The case a row makes, checked: a bad value is named by the row's column
// that set it (validate names the case file's key). who: "run \"NAME\": "
// or empty.
reactor_case checked_row(const reactor_case& c, const std::array<std::size_t, setting_count>& setting_columns,
                         std::size_t a1_column, std::size_t a2_column, const std::string& file, std::size_t line,
                         const std::string& who, std::vector<std::string>* warnings) {
    const std::string at = file + ":" + std::to_string(line) + ": " + who;
    try {
        const std::vector<std::string> w = validate(c);
        if (warnings) {
            for (const std::string& s : w) warnings->push_back(printable(at + s));
        }
    } catch (const input_error& e) {
        const std::string& key = e.place().key;
        std::string col;
        std::size_t column = 0;
        const auto name_column = [&](const std::string& name, std::size_t n) {
            col = "column \"" + name + "\" (" + std::to_string(n) + "): ";
            column = n;
        };
        for (std::size_t i = 0; i < setting_count; ++i) {
            const std::string name = setting_column(static_cast<setting>(i));
            const bool same = key == name || key == "reactor." + name;
            if (same && setting_columns[i] != 0) name_column(name, setting_columns[i]);
        }
        const auto ratio_column = [&](setting ratio, component comp) {
            const std::size_t n = setting_columns[static_cast<std::size_t>(ratio)];
            if (col.empty() && n != 0 && key == std::string("feed_kmol_h.") + component_names[comp]) {
                name_column(setting_column(ratio), n);
            }
        };
        ratio_column(setting::nh3_co2, NH3);
        ratio_column(setting::h2o_co2, H2O);
        if (key == "kinetics.a1" && a1_column != 0) name_column("a1", a1_column);
        if (key == "kinetics.a2" && a2_column != 0) name_column("a2", a2_column);
        throw runs_error(file, line, column, col + who + e.what());
    }
    return c;
}

}  // namespace

reactor_case case_of(const reactor_case& base, const plant_run& r, const std::string& file,
                     std::vector<std::string>* warnings) {
    return checked_row(with_settings(base, r.settings), r.setting_column, 0, 0, file, r.line,
                       "run \"" + r.name + "\": ", warnings);
}

reactor_case case_of(const reactor_case& base, const case_row& r, const case_table& t,
                     std::vector<std::string>* warnings) {
    reactor_case c = base;
    if (r.a1) c.a1 = *r.a1;
    if (r.a2) c.a2 = *r.a2;
    if (r.model) c.model = *r.model;
    c = with_settings(c, r.settings);
    return checked_row(c, r.setting_column, r.a1 ? t.a1_column : 0, r.a2 ? t.a2_column : 0, t.file, r.line, "",
                       warnings);
}

namespace {

case_table case_table_of(const csv_table& table, const std::string& file, std::size_t max_rows) {
    const std::vector<record>& records = table.records;
    const char sep = table.separator;
    const record& head = header_of(records, file);
    enum class role { setting, a1, a2, model, carried, unnamed };
    struct case_column {
        runs_column c;
        role r;
        std::size_t carried_index;
    };
    case_table out;
    out.file = file;
    std::vector<case_column> cols;
    std::map<std::string, std::size_t> seen;  // what a column sets (or its name) -> column number
    for (std::size_t k = 0; k < head.cells.size(); ++k) {
        case_column cc{{trimmed(head.cells[k]), k + 1, kind::unnamed, 0}, role::unnamed, 0};
        const std::string key = normalised_name(head.cells[k]);
        std::string target;
        if (key.empty()) {
            cols.push_back(cc);
            continue;
        }
        if (const auto st = setting_named(head.cells[k])) {
            cc.r = role::setting;
            cc.c.kind = kind::setting;
            cc.c.index = static_cast<std::size_t>(*st);
            target = setting_column(*st);
        } else if (key == "a1" || key == "a2" || key == "model") {
            cc.r = key == "a1" ? role::a1 : key == "a2" ? role::a2 : role::model;
            target = key;
        } else {
            const std::string like = column_lookalike(head.cells[k], false);
            if (!like.empty()) {
                column_error(file, head.line, cc.c,
                             "no setting of a case; did you mean " + like +
                                 "? (a column that is not a setting is carried through as text; the settings: " +
                                 "a1, a2, model, and a runs file's setting columns)");
            }
            cc.r = role::carried;
            cc.carried_index = out.carried.size();
            out.carried.push_back(cc.c.name);
            target = "carried:" + key;
        }
        const auto [it, fresh] = seen.emplace(target, cc.c.number);
        if (!fresh) {
            const case_column& first = cols[it->second - 1];
            column_error(file, head.line, cc.c,
                         "the same as column \"" + first.c.name + "\" (" + std::to_string(first.c.number) + ")");
        }
        if (cc.r != role::carried) {
            out.settings.push_back(cc.r == role::setting ? target : key);
            out.setting_numbers.push_back(cc.c.number);
        }
        if (cc.r == role::a1) out.a1_column = cc.c.number;
        if (cc.r == role::a2) out.a2_column = cc.c.number;
        if (cc.r == role::model) out.model_column = cc.c.number;
        cols.push_back(cc);
    }
    // The columns as the row checks name them.
    std::vector<runs_column> plain;
    for (const case_column& cc : cols) plain.push_back(cc.c);
    if (auto note = separator_note(sep, file)) out.warnings.push_back(std::move(*note));
    const std::size_t first = records.size() > 1 && units_row(records[1], plain, file, out.warnings) ? 2 : 1;
    for (std::size_t k = first; k < records.size(); ++k) {
        const record& rec = records[k];
        check_row_width(rec, cols.size(), file);
        if (out.rows.size() == max_rows) {
            fail_at(file, rec.line, "more than " + std::to_string(max_rows) + " cases: at most " +
                                        std::to_string(max_rows) + " in one study");
        }
        case_row r;
        r.line = rec.line;
        r.carried.resize(out.carried.size());
        for (std::size_t j = 0; j < cols.size(); ++j) {
            const case_column& cc = cols[j];
            const std::string cell = cell_text(rec, j);
            if (cc.r == role::carried) {
                r.carried[cc.carried_index] = cell;
                continue;
            }
            if (cell.empty()) continue;
            switch (cc.r) {
                case role::unnamed:
                    throw runs_error(file, rec.line, cc.c.number, "column " + std::to_string(cc.c.number) +
                                     ": a value in a column without a name in the header");
                case role::setting:
                    r.settings[cc.c.index] = setting_value(static_cast<setting>(cc.c.index), rec, j, cell, file, cc.c, sep);
                    r.setting_column[cc.c.index] = cc.c.number;
                    break;
                case role::a1:
                case role::a2: {
                    const double v = cell_value(rec, j, cell, file, cc.c, sep);
                    if (!(v > 0.0)) column_error(file, rec.line, cc.c, "a rate factor must be > 0 (got " + cell + ")");
                    (cc.r == role::a1 ? r.a1 : r.a2) = v;
                    break;
                }
                case role::model: {
                    const std::string m = normalised_name(cell);
                    if (m != "trays" && m != "pfr") {
                        column_error(file, rec.line, cc.c, "the reactor model is trays or pfr (got \"" + cell + "\")");
                    }
                    r.model = m == "pfr" ? reactor_model::pfr : reactor_model::trays;
                    break;
                }
                case role::carried: break;
            }
        }
        check_ratios(r.setting_column, r.line, plain, file);
        out.rows.push_back(std::move(r));
    }
    if (out.rows.empty()) {
        throw runs_error(file, 0, 0, "no cases: the header must be followed by at least one row");
    }
    return out;
}

}  // namespace

case_table parse_case_table(const std::string& text, const std::string& file, std::size_t max_rows) {
    return case_table_of(split(text, file), file, max_rows);
}

case_table case_table_from_table(const std::vector<std::string>& header, const std::vector<table_column>& columns,
                                 const std::string& name, std::size_t max_rows) {
    return case_table_of(table_records(header, columns, name), name, max_rows);
}

case_table read_case_table(const std::string& path, std::size_t max_rows) {
    return parse_case_table(read_input_file(path, "case table"), path, max_rows);
}

void check_measurement_count(const runs_file& f, int free_parameters) {
    std::size_t n = 0;
    for (const plant_run& r : f.runs) {
        for (const auto& m : r.measured) n += m.has_value() ? 1 : 0;
    }
    if (n < static_cast<std::size_t>(std::max(free_parameters, 0))) {
        throw runs_error(f.file, 0, 0, std::to_string(n) + " measurement" + (n == 1 ? "" : "s") +
                         " in all for " + std::to_string(free_parameters) +
                         " free parameters: at least as many measurements as free parameters are "
                         "needed; add runs or measurements, or hold a parameter with " + mention("fix", "a1", "VALUE"));
    }
}

}  // namespace workbench
