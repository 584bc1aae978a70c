#include "io/history_file.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
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

namespace {

// A spool's rows are read back in pieces of about this many bytes.
constexpr std::size_t spool_piece_bytes = std::size_t{1} << 18;

}  // namespace

history_rows::history_rows(const history& h) : h_(h) {
    if (h.spool) {
        buffer_.resize(std::max<std::size_t>(1, spool_piece_bytes / (8 * h.spool->width)) * h.spool->width);
        std::rewind(h.spool->file);
    }
}

bool history_rows::next() {
    if (++row_ >= h_.rows()) {
        row_ = h_.rows();
        return false;
    }
    if (h_.spool && ++at_ >= held_) {
        const std::size_t width = h_.spool->width;
        held_ = std::fread(buffer_.data(), 8 * width, buffer_.size() / width, h_.spool->file);
        at_ = 0;
        if (held_ == 0) {
            throw runs_error(h_.file, 0, 0, "its rows could not be read back from their temporary file (" +
                                                std::to_string(row_) + " of " + std::to_string(h_.rows()) + " read)");
        }
    }
    return true;
}

std::int64_t history_rows::time() const {
    return h_.spool ? std::bit_cast<std::int64_t>(buffer_[at_ * h_.spool->width]) : h_.time[row_];
}

std::size_t history_rows::line() const {
    return h_.spool ? static_cast<std::size_t>(buffer_[at_ * h_.spool->width + 1]) : h_.line[row_];
}

double history_rows::value(std::size_t column) const {
    return h_.spool ? std::bit_cast<double>(buffer_[at_ * h_.spool->width + 2 + column]) : h_.columns[column].values[row_];
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

// A temperature within a case's bounds but above the plug-in's range, that
// read as degrees Fahrenheit lies within it: a urea reactor's 150-200 C is
// 302-392 F.
bool looks_fahrenheit(const runs_column& c, double v) {
    if (c.kind != column_kind::setting) return false;
    const auto s = static_cast<setting>(c.index);
    if (s != setting::inlet_temperature_C && s != setting::outlet_temperature_C) return false;
    const double lo = plugin_t_min_K - kelvin, hi = plugin_t_max_K - kelvin, as_c = (v - 32.0) / 1.8;
    return v > hi && v <= max_temperature_C && as_c >= lo && as_c <= hi;
}

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
// windows. The gap before row k (0-based) of `rows`: throws runs_error
// naming the line on the side with fewer rows.
struct history_gap {
    std::size_t k = 0;                // the row after it; 0: none
    std::int64_t before = 0, after = 0;  // the times on each side
    std::size_t line_before = 0, line_after = 0;
};

[[noreturn]] void gap_error(const std::string& file, const runs_column& time_column, const history_gap& g,
                            std::size_t rows, bool zoned) {
    const bool before = g.k <= rows - g.k;  // the rows before the gap are the fewer
    const std::int64_t odd_time = before ? g.before : g.after, other_time = before ? g.after : g.before;
    const std::size_t odd_line = before ? g.line_before : g.line_after, other_line = before ? g.line_after : g.line_before;
    const double years = static_cast<double>(g.after - g.before) / (365.2425 * static_cast<double>(ms_per_day));
    column_error(file, odd_line, time_column,
                 timestamp_text(odd_time, zoned) + " lies " + std::to_string(std::llround(years)) + " years " +
                     (before ? "before the next time" : "after the time before") + " (line " +
                     std::to_string(other_line) + ", " + timestamp_text(other_time, zoned) +
                     "): a wrong date (a spreadsheet's zero date, a mistyped year)? successive rows may be at most " +
                     std::to_string(max_history_gap_days / 365) + " years apart");
}

constexpr std::int64_t most_gap_ms = max_history_gap_days * ms_per_day;

void check_gaps(const history& h, const runs_column& time_column) {
    for (std::size_t k = 1; k < h.rows(); ++k) {
        if (h.time[k] - h.time[k - 1] <= most_gap_ms) continue;
        gap_error(h.file, time_column, {k, h.time[k - 1], h.time[k], h.line[k - 1], h.line[k]}, h.rows(), h.zoned);
    }
}

// A history from its records (a file's, or a table's in memory); `bytes`
// as history_of's.
history history_from(record_source& reader, const std::string& name, bool sort, std::size_t bytes, bool spooled) {
    history h;
    h.file = name;
    spooled = spooled && !sort;
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
    // Spooled: each row its time, its line and its values, 8 bytes each.
    std::shared_ptr<history_spool> spool;
    std::vector<std::uint64_t> record;
    if (spooled) {
        spool = std::make_shared<history_spool>();
        spool->file = std::tmpfile();
        if (spool->file == nullptr) {  // held in memory, as a sorted history is
            h.warnings.push_back(name + ": no temporary file for its rows (" + std::strerror(errno) + "): held in memory");
            spooled = false;
            spool.reset();
        } else {
            spool->width = 2 + h.columns.size();
            record.resize(spool->width);
        }
    }
    // Each column's first value out of bounds: where, and as written.
    struct first_out { std::size_t line = 0; std::string cell; double value = 0.0; };
    std::vector<first_out> first_out_of_range(h.columns.size());
    // A temperature column's values within the bounds but above the
    // plug-in's range where degrees Fahrenheit put a urea reactor's (from
    // 301.7 F): counted, and the first of them, for the refusal below.
    std::vector<std::size_t> fahrenheit_like(h.columns.size());
    std::vector<first_out> first_fahrenheit(h.columns.size());
    bool any_offset = false, any_local = false;
    bool first = true;
    std::size_t rows = 0;
    std::int64_t first_time = 0, last_time = 0;
    std::size_t last_line = 0;
    history_gap gap;  // the first, in the file's order
    // Held, the columns sized from the first rows' length and the file's (a
    // margin over), not grown by doubling: twice the memory at worst.
    constexpr std::size_t sample_rows = 64;
    std::size_t sample_bytes = 0, room = 0;
    // Out of memory, held: refused as too large an input, saying how large.
    const auto out_of_memory = [&](std::size_t line) {
        throw runs_error(name, line, 0,
                         "out of memory holding " + std::to_string(rows) + " rows of " + std::to_string(h.columns.size()) +
                             " columns" + (room > rows ? " (making room for " + std::to_string(room) + ")" : "") +
                             ": give a part of the history" + (sort ? ", or its rows in time order without --sort" : ""));
    };
    try {
        while (reader.next(rec)) {
            if (std::exchange(first, false) && units_row(rec, cols, name, h.warnings)) continue;
            check_row_width(rec, cols.size(), name);
            if (!spooled && bytes > 0 && rows < sample_rows) {
                for (const std::string& cell : rec.cells) sample_bytes += cell.size() + 1;
                if (rows + 1 == sample_rows) {
                    const std::size_t reserve = std::min<std::size_t>(
                        bytes / std::max<std::size_t>(1, sample_bytes / sample_rows) / 16 * 17 + sample_rows,
                        static_cast<std::size_t>(max_history_values) / std::max<std::size_t>(1, h.columns.size()) + 1);
                    room = reserve;
                    h.time.reserve(reserve);
                    h.line.reserve(reserve);
                    for (history_column& c : h.columns) c.values.reserve(reserve);
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
            if (!sort && rows > 0 && t.ms <= last_time) {
                column_error(name, rec.line, tc,
                             (t.ms == last_time ? "the same time as" : "earlier than") + std::string(" the row before (line ") +
                                 std::to_string(last_line) + ", " + timestamp_text(last_time, t.zoned) +
                                 "): the rows must be in time order, each time once (--sort sorts them)");
            }
            if (static_cast<long long>((rows + 1) * std::max<std::size_t>(1, h.columns.size())) > max_history_values) {
                throw runs_error(name, rec.line, 0,
                                 "more than " + sig(static_cast<double>(max_history_values)) + " values (" +
                                     std::to_string(rows) + " rows of " + std::to_string(h.columns.size()) +
                                     " columns so far), more than a history holds: give rows at a longer interval (one "
                                     "a minute serves daily windows), or a part of the history");
            }
            if (!sort && rows > 0 && gap.k == 0 && t.ms - last_time > most_gap_ms) {
                gap = {rows, last_time, t.ms, last_line, rec.line};
            }
            if (rows == 0) first_time = t.ms;
            last_time = t.ms;
            last_line = rec.line;
            ++rows;
            if (spooled) {
                record[0] = std::bit_cast<std::uint64_t>(t.ms);
                record[1] = rec.line;
            } else {
                h.time.push_back(t.ms);
                h.line.push_back(rec.line);
            }
            const auto put = [&](std::size_t k, double v) {
                if (spooled) {
                    record[2 + k] = std::bit_cast<std::uint64_t>(v);
                } else {
                    h.columns[k].values.push_back(v);
                }
            };
            for (std::size_t j = 0; j < cols.size(); ++j) {
                const runs_column& c = cols[j];
                if (slot[j] == SIZE_MAX) {
                    if (c.kind == column_kind::unnamed &&
                        (rec.is_number(j) ? !std::isnan(rec.numbers[j]) : !trimmed_cell(rec.cells[j]).empty())) {
                        throw runs_error(name, rec.line, c.number, "column " + std::to_string(c.number) +
                                         ": a value in a column without a name in the header");
                    }
                    continue;
                }
                history_column& hc = h.columns[slot[j]];
                const bool number = rec.is_number(j);
                const std::string cell = number ? std::string() : trimmed_cell(rec.cells[j]);
                if (number ? std::isnan(rec.numbers[j]) : cell.empty()) {
                    put(slot[j], NAN);
                    ++hc.missing;
                    continue;
                }
                double v = number ? table_number(rec.numbers[j], name, rec.line, c) : cell_number(cell, name, rec.line, c, sep);
                if (c.kind == column_kind::sigma) {
                    if (const auto why = measured_out_of_bounds(c, v, number ? number_cell(v) : cell)) {
                        column_error(name, rec.line, c, *why);
                    }
                }
                if (c.kind == column_kind::setting) given[c.index] = c.number;
                if (looks_fahrenheit(c, v) && fahrenheit_like[slot[j]]++ == 0) {
                    first_fahrenheit[slot[j]] = {rec.line, number ? number_cell(rec.numbers[j]) : cell, v};
                }
                if (history_out_of_bounds(hc, v)) {
                    if (hc.out_of_range == 0) first_out_of_range[slot[j]] = {rec.line, number ? number_cell(rec.numbers[j]) : cell, v};
                    hc.out_of_range_first = hc.out_of_range++ == 0 ? t.ms : std::min(hc.out_of_range_first, t.ms);
                    hc.out_of_range_last = std::max(hc.out_of_range_last, t.ms);
                    v = NAN;
                }
                put(slot[j], v);
            }
            check_ratios(given, rec.line, cols, name);
            if (spooled && std::fwrite(record.data(), 8 * record.size(), 1, spool->file) != 1) {
                throw runs_error(name, rec.line, 0, std::string("its rows could not be written to a temporary file: ") +
                                                        std::strerror(errno));
            }
        }
    } catch (const std::bad_alloc&) {
        out_of_memory(rec.line);
    }
    if (rows == 0) throw runs_error(name, header_line, 0, "no rows: the header must be followed by at least one row");
    if (spooled) {
        if (std::fflush(spool->file) != 0) {
            throw runs_error(name, 0, 0, std::string("its rows could not be written to a temporary file: ") + std::strerror(errno));
        }
        spool->rows = rows;
        spool->first = first_time;
        spool->last = last_time;
        h.spool = std::move(spool);
    } else if (h.time.capacity() > h.time.size() + h.time.size() / 8) {  // an estimate far over: give the rest back
        h.time.shrink_to_fit();
        h.line.shrink_to_fit();
        for (history_column& c : h.columns) c.values.shrink_to_fit();
    }
    h.zoned = any_offset;
    if (sort) {
        try {
            sort_rows(h);
        } catch (const std::bad_alloc&) {
            out_of_memory(0);
        }
        for (std::size_t k = 1; k < h.rows(); ++k) {
            if (h.time[k] == h.time[k - 1]) {
                h.warnings.push_back(name + ":" + std::to_string(h.line[k]) + ": the same time as line " +
                                     std::to_string(h.line[k - 1]) + " (" + timestamp_text(h.time[k], h.zoned) +
                                     "): both rows are kept");
                break;
            }
        }
        check_gaps(h, cols[time_column - 1]);
    } else if (gap.k > 0) {
        gap_error(name, cols[time_column - 1], gap, rows, h.zoned);
    }
    // A column most of whose values lie out of bounds where a unit mistake
    // puts them (a fraction in percent, a pressure in psi) is refused: the
    // screening would leave all of it out, and the windows be fitted without it.
    for (std::size_t k = 0; k < h.columns.size(); ++k) {
        const history_column& c = h.columns[k];
        const std::size_t numbers = rows - c.missing;
        if (2 * fahrenheit_like[k] > numbers) {
            const first_out& f = first_fahrenheit[k];
            column_error(name, f.line, cols[c.number - 1],
                         std::to_string(fahrenheit_like[k]) + " of its " + std::to_string(numbers) +
                             " values lie above the plug-in's " + sig(plugin_t_min_K - kelvin) + "-" +
                             sig(plugin_t_max_K - kelvin) + " C where degrees Fahrenheit put a reactor's temperatures: " +
                             "this one, " + f.cell + ", looks like F (" + sig((f.value - 32.0) / 1.8, 4) +
                             " C): give the column in C");
        }
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

}  // namespace

history history_of(const csv_reader::source& read, const std::string& name, bool sort, std::size_t bytes,
                   bool spooled) {
    sha256_stream digest;
    csv_reader reader(
        [&](char* to, std::size_t capacity) {
            const std::size_t n = read(to, capacity);
            digest.add(to, n);
            return n;
        },
        name);
    history h = history_from(reader, name, sort, bytes, spooled);
    h.sha256 = digest.hex();
    return h;
}

history history_of(record_source& records, const std::string& name, bool sort, bool spooled) {
    history h = history_from(records, name, sort, 0, spooled);
    h.sha256 = "(a table, no file)";
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
                      error || size > SIZE_MAX ? 0 : static_cast<std::size_t>(size), true);
}

}  // namespace workbench
