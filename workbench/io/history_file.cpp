#include "io/history_file.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
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

// Successive rows (in time order) further apart than a plant stops for:
// one side of the gap holds a wrong date (a spreadsheet's zero date, 1900;
// a mistyped year, 3026), which would make tens of thousands of empty
// windows. Throws runs_error naming the line on the side with fewer rows.
void check_gaps(const history& h, const runs_column& time_column) {
    constexpr std::int64_t most = max_history_gap_days * ms_per_day;
    for (std::size_t k = 1; k < h.rows(); ++k) {
        const std::int64_t gap = h.time[k] - h.time[k - 1];
        if (gap <= most) continue;
        const bool before = k <= h.rows() - k;  // the rows before the gap are the fewer
        const std::size_t odd = before ? k - 1 : k, other = before ? k : k - 1;
        const double years = static_cast<double>(gap) / (365.2425 * static_cast<double>(ms_per_day));
        column_error(h.file, h.line[odd], time_column,
                     timestamp_text(h.time[odd], h.zoned) + " lies " + std::to_string(std::llround(years)) + " years " +
                         (before ? "before the next time" : "after the time before") + " (line " +
                         std::to_string(h.line[other]) + ", " + timestamp_text(h.time[other], h.zoned) +
                         "): a wrong date (a spreadsheet's zero date, a mistyped year)? successive rows may be at most " +
                         std::to_string(max_history_gap_days / 365) + " years apart");
    }
}

}  // namespace

history history_of(const csv_reader::source& read, const std::string& name, bool sort, std::size_t bytes) {
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
        if (c.kind == column_kind::carried) h.carried.push_back(c.name + " (" + std::to_string(c.number) + ")");
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
    // Each column's first value out of bounds: where, and as written.
    struct first_out { std::size_t line = 0; std::string cell; double value = 0.0; };
    std::vector<first_out> first_out_of_range(h.columns.size());
    bool any_offset = false, any_local = false;
    bool first = true;
    // The columns sized from the first rows' length and the file's (a
    // margin over), not grown by doubling: twice the memory at worst.
    constexpr std::size_t sample_rows = 64;
    std::size_t sample_bytes = 0;
    while (reader.next(rec)) {
        if (std::exchange(first, false) && units_row(rec, cols, name, h.warnings)) continue;
        check_row_width(rec, cols.size(), name);
        if (bytes > 0 && h.time.size() < sample_rows) {
            for (const std::string& cell : rec.cells) sample_bytes += cell.size() + 1;
            if (h.time.size() + 1 == sample_rows) {
                const std::size_t rows = std::min<std::size_t>(
                    bytes / std::max<std::size_t>(1, sample_bytes / sample_rows) / 16 * 17 + sample_rows,
                    static_cast<std::size_t>(max_history_values) / std::max<std::size_t>(1, h.columns.size()) + 1);
                h.time.reserve(rows);
                h.line.reserve(rows);
                for (history_column& c : h.columns) c.values.reserve(rows);
            }
        }
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
        if (static_cast<long long>((h.time.size() + 1) * std::max<std::size_t>(1, h.columns.size())) > max_history_values) {
            throw runs_error(name, rec.line, 0,
                             "more than " + sig(static_cast<double>(max_history_values)) + " values (" +
                                 std::to_string(h.time.size()) + " rows of " + std::to_string(h.columns.size()) +
                                 " columns so far), more than a history holds: give rows at a longer interval (one "
                                 "a minute serves daily windows), or a part of the history");
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
                if (hc.out_of_range == 0) first_out_of_range[slot[j]] = {rec.line, cell, v};
                hc.out_of_range_first = hc.out_of_range++ == 0 ? t.ms : std::min(hc.out_of_range_first, t.ms);
                hc.out_of_range_last = std::max(hc.out_of_range_last, t.ms);
                v = NAN;
            }
            hc.values.push_back(v);
        }
        check_ratios(given, rec.line, cols, name);
    }
    if (h.time.empty()) throw runs_error(name, header_line, 0, "no rows: the header must be followed by at least one row");
    if (h.time.capacity() > h.time.size() + h.time.size() / 8) {  // an estimate far over: give the rest back
        h.time.shrink_to_fit();
        h.line.shrink_to_fit();
        for (history_column& c : h.columns) c.values.shrink_to_fit();
    }
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
    check_gaps(h, cols[time_column - 1]);
    // A column most of whose values lie out of bounds where a unit mistake
    // puts them (a fraction in percent, a pressure in psi) is refused: the
    // screening would leave all of it out, and the windows be fitted without it.
    for (std::size_t k = 0; k < h.columns.size(); ++k) {
        const history_column& c = h.columns[k];
        const std::size_t numbers = h.rows() - c.missing;
        if (c.out_of_range == 0 || 2 * c.out_of_range <= numbers) continue;
        const first_out& f = first_out_of_range[k];
        if (const auto likely = unit_mistake(cols[c.number - 1], f.value)) {
            column_error(name, f.line, cols[c.number - 1],
                         std::to_string(c.out_of_range) + " of its " + std::to_string(numbers) +
                             " values out of bounds, as a column in another unit puts them: this one, " + f.cell + ", " +
                             *likely);
        }
    }
    return h;
}

history parse_history(const std::string& text, const std::string& name, bool sort) {
    return history_of(text_source(text), name, sort, text.size());
}

history read_history(const std::string& path, bool sort) {
    input_stream in(path, "history file");
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return history_of([&](char* to, std::size_t capacity) { return in.read(to, capacity); }, path, sort,
                      error || size > SIZE_MAX ? 0 : static_cast<std::size_t>(size));
}

}  // namespace workbench
