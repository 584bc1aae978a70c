#include "io/history_file.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "base/digest.h"
#include "base/input_files.h"
#include "base/text.h"
#include "base/timestamps.h"
#include "io/runs_file.h"
#include "model/limits.h"

namespace workbench {

const history_column* history::of_setting(setting s) const {
    for (const history_column& c : columns) {
        if (c.kind == column_kind::setting && c.index == static_cast<std::size_t>(s)) return &c;
    }
    return nullptr;
}

const history_column* history::of_quantity(quantity q) const {
    for (const history_column& c : columns) {
        if (c.kind == column_kind::measured && c.index == static_cast<std::size_t>(q)) return &c;
    }
    return nullptr;
}

const history_column* history::sigma_of(quantity q) const {
    for (const history_column& c : columns) {
        if (c.kind == column_kind::sigma && c.index == static_cast<std::size_t>(q)) return &c;
    }
    return nullptr;
}

std::optional<std::string> history_out_of_bounds(const history_column& c, double v) {
    if (c.kind == column_kind::measured) return fraction_out_of_bounds(v, sig(v));
    if (c.kind != column_kind::setting) return std::nullopt;
    const auto s = static_cast<setting>(c.index);
    if (auto why = setting_out_of_bounds(s, v)) return why;
    switch (s) {
        case setting::volume_m3:
            if (v < min_volume_m3 || v > max_volume_m3) return "outside " + sig(min_volume_m3) + " .. " + sig(max_volume_m3) + " m3";
            break;
        case setting::pressure_bar:
            if (v < min_pressure_bar || v > max_pressure_bar) {
                return "outside " + sig(min_pressure_bar) + " .. " + sig(max_pressure_bar) + " bar";
            }
            break;
        case setting::inlet_temperature_C:
        case setting::outlet_temperature_C:
            if (v < min_temperature_C || v > max_temperature_C) {
                return "outside " + sig(min_temperature_C) + " .. " + sig(max_temperature_C) + " C";
            }
            break;
        case setting::trays:
        case setting::nh3_co2:
        case setting::h2o_co2:
            break;
        default:
            if (v > max_flow_kmol_h) return "above " + sig(max_flow_kmol_h) + " kmol/h";
            break;
    }
    return std::nullopt;
}

namespace {

// Puts the rows in time order, the same times in the file's order.
void sort_rows(history& h) {
    std::vector<std::size_t> order(h.rows());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return h.time[a] < h.time[b]; });
    const auto apply = [&](auto& v) {
        std::remove_reference_t<decltype(v)> out(v.size());
        for (std::size_t k = 0; k < order.size(); ++k) out[k] = v[order[k]];
        v = std::move(out);
    };
    apply(h.time);
    apply(h.line);
    for (history_column& c : h.columns) apply(c.values);
    h.sorted = true;
}

}  // namespace

history history_of(const csv_reader::source& read, const std::string& name, bool sort) {
    history h;
    h.file = name;
    sha256_stream digest;
    csv_reader reader(
        [&](char* to, std::size_t capacity) {
            const std::size_t n = read(to, capacity);
            digest.add(to, n);
            return n;
        },
        name);
    csv_record rec;
    if (!reader.next(rec)) {
        throw runs_error(name, 0, 0, "no header row: the first line that is not a comment must name the columns");
    }
    std::vector<runs_column> cols = runs_header(rec, name, {"time"});
    const char sep = reader.separator();
    if (auto note = separator_note(sep, name)) h.warnings.push_back(std::move(*note));
    if (auto note = carried_note(cols, name, rec.line)) h.warnings.push_back(std::move(*note));
    std::size_t time_column = 0;
    std::vector<std::size_t> slot(cols.size(), SIZE_MAX);  // column -> h.columns
    for (const runs_column& c : cols) {
        if (c.kind == column_kind::extra) time_column = c.number;
        if (c.kind == column_kind::setting || c.kind == column_kind::measured || c.kind == column_kind::sigma) {
            slot[c.number - 1] = h.columns.size();
            h.columns.push_back({c.name, c.number, c.kind, c.index, {}, 0, 0, 0, 0});
        }
    }
    if (time_column == 0) {
        throw runs_error(name, rec.line, 0,
                         "no time column: a history is a runs file with a column \"time\" (ISO 8601, e.g. "
                         "2026-03-01T06:00:00) that says when each row was taken");
    }
    const std::size_t header_line = rec.line;
    bool any_offset = false, any_local = false;
    bool first = true;
    while (reader.next(rec)) {
        if (std::exchange(first, false) && units_row(rec, cols, name, h.warnings)) continue;
        check_row_width(rec, cols.size(), name);
        std::array<std::size_t, setting_count> given{};
        const std::string when = trimmed_cell(rec.cells[time_column - 1]);
        const runs_column& tc = cols[time_column - 1];
        if (when.empty()) column_error(name, rec.line, tc, "no time: every row needs one");
        const timestamp_read t = read_timestamp(when);
        if (!t.error.empty()) column_error(name, rec.line, tc, t.error + " (got \"" + when + "\")");
        (t.zoned ? any_offset : any_local) = true;
        if (any_offset && any_local) {
            column_error(name, rec.line, tc,
                         std::string("a time ") + (t.zoned ? "with" : "without") + " a UTC offset after times " +
                             (t.zoned ? "without" : "with") +
                             " one: give every time with an offset (or Z), or none (then all are read as UTC)");
        }
        if (!sort && !h.time.empty() && t.ms <= h.time.back()) {
            column_error(name, rec.line, tc,
                         (t.ms == h.time.back() ? "the same time as" : "earlier than") + std::string(" the row before (line ") +
                             std::to_string(h.line.back()) + ", " + timestamp_text(h.time.back(), t.zoned) +
                             "): the rows must be in time order, each time once (--sort sorts them)");
        }
        h.time.push_back(t.ms);
        h.line.push_back(rec.line);
        for (std::size_t j = 0; j < cols.size(); ++j) {
            const runs_column& c = cols[j];
            if (slot[j] == SIZE_MAX) {
                if (c.kind == column_kind::unnamed && !trimmed_cell(rec.cells[j]).empty()) {
                    throw runs_error(name, rec.line, c.number, "column " + std::to_string(c.number) +
                                     ": a value in a column without a name in the header");
                }
                continue;
            }
            history_column& hc = h.columns[slot[j]];
            const std::string cell = trimmed_cell(rec.cells[j]);
            if (cell.empty()) {
                hc.values.push_back(NAN);
                ++hc.missing;
                continue;
            }
            double v = cell_number(cell, name, rec.line, c, sep);
            if (c.kind == column_kind::sigma) {
                if (const auto why = measured_out_of_bounds(c, v, cell)) column_error(name, rec.line, c, *why);
            }
            if (c.kind == column_kind::setting) given[c.index] = c.number;
            if (history_out_of_bounds(hc, v)) {
                hc.out_of_range_first = hc.out_of_range++ == 0 ? t.ms : std::min(hc.out_of_range_first, t.ms);
                hc.out_of_range_last = std::max(hc.out_of_range_last, t.ms);
                v = NAN;
            }
            hc.values.push_back(v);
        }
        check_ratios(given, rec.line, cols, name);
    }
    if (h.time.empty()) throw runs_error(name, header_line, 0, "no rows: the header must be followed by at least one row");
    h.zoned = any_offset;
    h.sha256 = digest.hex();
    if (sort) {
        sort_rows(h);
        for (std::size_t k = 1; k < h.rows(); ++k) {
            if (h.time[k] == h.time[k - 1]) {
                h.warnings.push_back(name + ":" + std::to_string(h.line[k]) + ": the same time as line " +
                                     std::to_string(h.line[k - 1]) + " (" + timestamp_text(h.time[k], h.zoned) +
                                     "): both rows are kept");
                break;
            }
        }
    }
    return h;
}

history parse_history(const std::string& text, const std::string& name, bool sort) {
    return history_of(text_source(text), name, sort);
}

history read_history(const std::string& path, bool sort) {
    input_stream in(path, "history file");
    return history_of([&](char* to, std::size_t capacity) { return in.read(to, capacity); }, path, sort);
}

}  // namespace workbench
