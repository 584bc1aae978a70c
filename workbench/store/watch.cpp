#include "store/watch.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/digest.h"
#include "base/text.h"
#include "base/timestamps.h"
#include "io/case_file.h"
#include "io/runs_columns.h"
#include "io/runs_file.h"
#include "report/monitor_report.h"
#include "store/result_cbor.h"

namespace workbench {

const char* alert_state_name(alert_state s) {
    switch (s) {
        case alert_state::pending: return "pending";
        case alert_state::firing: return "firing";
        case alert_state::resolved: return "resolved";
    }
    return "?";
}

namespace {

using json = nlohmann::json;
using ojson = nlohmann::ordered_json;

// Raised with each change of the tables below; migrate() brings an older
// store up to it.
constexpr std::int64_t store_version = 2;

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

// A span of time in words: "31 h", "4.5 days".
std::string span_words(std::int64_t ms) {
    const double h = static_cast<double>(ms) / static_cast<double>(ms_per_hour);
    return h < 48.0 ? sig(h, 3) + " h" : sig(h / 24.0, 3) + " days";
}

alert_state state_named(const std::string& s) {
    if (s == "firing") return alert_state::firing;
    if (s == "resolved") return alert_state::resolved;
    return alert_state::pending;
}

// ---- The schema ----

// The windows' own columns are monitor's table's (report/monitor_report.h),
// made when the store is and added to when a newer build adds a column.
const char* const schema[] = {
    "CREATE TABLE store_info (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    // The rows, by day (UTC): each line "MS<TAB>CSV ROW", zlib-compressed.
    "CREATE TABLE history_days (day BIGINT PRIMARY KEY, rows BIGINT NOT NULL, first_time BIGINT NOT NULL, "
    "last_time BIGINT NOT NULL, text BLOB NOT NULL)",
    // Where the rows came from: each file, how far it has been read and the
    // SHA-256 of what was read; each piece read.
    "CREATE TABLE sources (name TEXT PRIMARY KEY, bytes BIGINT NOT NULL, lines BIGINT NOT NULL, "
    "sha256 TEXT NOT NULL, rows BIGINT NOT NULL, last_time BIGINT)",
    "CREATE TABLE reads (id BIGINT PRIMARY KEY, pass BIGINT NOT NULL, name TEXT NOT NULL, first_line BIGINT, "
    "last_line BIGINT, first_byte BIGINT, end_byte BIGINT, sha256 TEXT NOT NULL, rows BIGINT NOT NULL, "
    "first_time BIGINT, last_time BIGINT)",
    "CREATE TABLE passes (id BIGINT PRIMARY KEY, at BIGINT NOT NULL, rows_read BIGINT NOT NULL, followed BIGINT NOT NULL, "
    "cutoff BIGINT, windows BIGINT NOT NULL, windows_new BIGINT NOT NULL, windows_changed BIGINT NOT NULL)",
    // The monitor's whole result (CBOR) and the history it followed.
    "CREATE TABLE result (id BIGINT PRIMARY KEY, history TEXT NOT NULL, bytes BLOB NOT NULL)",
    "CREATE TABLE windows (start_ms BIGINT PRIMARY KEY, end_ms BIGINT NOT NULL, changed_pass BIGINT NOT NULL)",
    // Drifts, trends, meters (bias spans) and the screening: each as monitor's JSON writes it.
    "CREATE TABLE findings (kind TEXT NOT NULL, seq BIGINT NOT NULL, start_ms BIGINT, end_ms BIGINT, doc TEXT NOT NULL, "
    "PRIMARY KEY (kind, seq))",
    "CREATE TABLE alerts (id BIGINT PRIMARY KEY, kind TEXT NOT NULL, subject TEXT NOT NULL, state TEXT NOT NULL, "
    "since BIGINT NOT NULL, fired BIGINT, resolved BIGINT, first_window BIGINT, last_window BIGINT, "
    "summary TEXT NOT NULL, evidence TEXT NOT NULL, updated_pass BIGINT NOT NULL)",
    "CREATE TABLE alert_events (id BIGINT PRIMARY KEY, alert_id BIGINT NOT NULL REFERENCES alerts (id), "
    "pass BIGINT NOT NULL, at BIGINT NOT NULL, state TEXT NOT NULL, summary TEXT NOT NULL)",
    // The window fits of the last pass, by the digest of their inputs
    // (monitor_fit_cache), for the next pass to take those whose inputs
    // are the same; of the build in store_info's fits_build.
    "CREATE TABLE fits (key TEXT PRIMARY KEY, answer BLOB NOT NULL)",
    // Each notice to send, once per channel; delivered, retried or given up.
    "CREATE TABLE outbox (id BIGINT PRIMARY KEY, event_id BIGINT NOT NULL REFERENCES alert_events (id), "
    "channel TEXT NOT NULL, message_id TEXT NOT NULL, subject TEXT NOT NULL, text TEXT NOT NULL, "
    "body TEXT NOT NULL, attempts BIGINT NOT NULL, next_attempt BIGINT NOT NULL, delivered BIGINT, "
    "given_up BIGINT, last_error TEXT, UNIQUE (channel, message_id))",
};

std::optional<std::string> info(database& db, const std::string& key) {
    const auto rows = db.query("SELECT value FROM store_info WHERE key = ?", {key});
    if (rows.empty()) return std::nullopt;
    return rows.front().text(0);
}

void set_info(database& db, const std::string& key, const std::string& value) {
    db.execute("INSERT INTO store_info (key, value) VALUES (?, ?) ON CONFLICT (key) DO UPDATE SET value = excluded.value",
               {key, value});
}

std::int64_t next_id(database& db, const std::string& table) {
    const auto rows = db.query("SELECT MAX(id) FROM " + table);
    return rows.front().null(0) ? 1 : rows.front().integer(0) + 1;
}

bool has_table(database& db, const std::string& name) {
    const std::string sql = db.kind() == "sqlite"
                                ? "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"
                                : "SELECT 1 FROM information_schema.tables WHERE table_schema = current_schema() AND table_name = ?";
    return !db.query(sql, {name}).empty();
}

std::set<std::string> columns_of(database& db, const std::string& table) {
    std::set<std::string> names;
    if (db.kind() == "sqlite") {
        for (const database_row& r : db.query("SELECT name FROM pragma_table_info(?)", {table})) names.insert(r.text(0));
    } else {
        for (const database_row& r : db.query("SELECT column_name FROM information_schema.columns WHERE "
                                              "table_schema = current_schema() AND table_name = ?",
                                              {table})) {
            names.insert(r.text(0));
        }
    }
    return names;
}

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

// The windows table's columns for monitor's table (a column this build
// writes and the store lacks is added: a newer build's store grows).
table windows_table_shape() {
    monitor_problem p;
    monitor_result m;
    return monitor_table(monitor_report{&p, &m, neutral_vocabulary()});
}

std::string sql_type(cell_kind k) {
    switch (k) {
        case cell_kind::number: return "DOUBLE PRECISION";
        case cell_kind::whole:
        case cell_kind::boolean: return "DOUBLE PRECISION";
        case cell_kind::text:
        case cell_kind::time: return "TEXT";
    }
    return "TEXT";
}

void add_window_columns(database& db) {
    const std::set<std::string> have = columns_of(db, "windows");
    const table shape = windows_table_shape();
    for (const column& c : shape.columns()) {
        if (have.count(c.name) == 0) db.execute("ALTER TABLE windows ADD COLUMN " + quoted(c.name) + " " + sql_type(c.kind));
    }
}

// ---- Rows by day ----

std::string deflated(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
                  static_cast<uLong>(text.size()), 6) != Z_OK) {
        throw std::bad_alloc();
    }
    out.resize(size);
    // The text's length first, for inflating.
    const auto n = static_cast<std::uint64_t>(text.size());
    std::string head(8, '\0');
    for (int i = 0; i < 8; ++i) head[static_cast<std::size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xff);
    return head + out;
}

std::string inflated(const std::string& bytes) {
    if (bytes.size() < 8) throw database_error("the store's rows are damaged (a day too short)");
    std::uint64_t n = 0;
    for (int i = 0; i < 8; ++i) n |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)])) << (8 * i);
    if (n > (std::uint64_t{1} << 32)) throw database_error("the store's rows are damaged (a day too long)");
    std::string out(n, '\0');
    auto size = static_cast<uLongf>(n);
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data() + 8),
                   static_cast<uLong>(bytes.size() - 8)) != Z_OK ||
        size != n) {
        throw database_error("the store's rows are damaged (a day does not inflate)");
    }
    return out;
}

struct stored_row {
    std::int64_t time = 0;
    std::string text;  // the row as the CSV had it
};

// Each row of a day's text ("TIME\tROW\n" a row), in order: f(time, the
// row as the CSV had it, with its line break).
template <class F>
void for_each_row(const std::string& text, F f) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t tab = text.find('\t', at), end = text.find('\n', at);
        std::int64_t time = 0;
        if (tab == std::string::npos || end == std::string::npos || tab > end ||
            std::from_chars(text.data() + at, text.data() + tab, time).ptr != text.data() + tab) {
            throw database_error("the store's rows are damaged (a row without its time)");
        }
        f(time, std::string_view(text).substr(tab + 1, end - tab));
        at = end + 1;
    }
}

std::vector<stored_row> rows_of_day(const std::string& text) {
    std::vector<stored_row> rows;
    for_each_row(text, [&](std::int64_t time, std::string_view row) {
        rows.push_back({time, std::string(row.substr(0, row.size() - 1))});
    });
    return rows;
}

std::string day_text(const std::vector<stored_row>& rows) {
    std::string t;
    for (const stored_row& r : rows) t += std::to_string(r.time) + "\t" + r.text + "\n";
    return t;
}

std::vector<std::string> cells_of(const std::string& row, char sep) {
    std::vector<std::string> cells;
    std::size_t at = 0;
    for (;;) {
        const std::size_t next = row.find(sep, at);
        cells.push_back(row.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return cells;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.pop_back();
    std::size_t k = 0;
    while (k < s.size() && s[k] == ' ') ++k;
    return s.substr(k);
}

// A row read, with where it came from, for messages.
struct new_row {
    std::int64_t time = 0;
    std::string text;
    std::string file;
    std::size_t line = 0;
};

// Merges rows into the days: appended, or (a late row) put in time order;
// a row of a time the store holds fills that row's empty cells, and a cell
// that differs is refused. Returns the earliest time that changed.
std::optional<std::int64_t> merge_rows(database& db, std::vector<new_row> rows, char sep) {
    std::stable_sort(rows.begin(), rows.end(), [](const new_row& a, const new_row& b) { return a.time < b.time; });
    std::optional<std::int64_t> earliest;
    std::size_t k = 0;
    while (k < rows.size()) {
        const std::int64_t day = floor_div(rows[k].time, ms_per_day);
        std::size_t e = k;
        while (e < rows.size() && floor_div(rows[e].time, ms_per_day) == day) ++e;
        std::vector<stored_row> held;
        const auto found = db.query("SELECT text FROM history_days WHERE day = ?", {day});
        if (!found.empty()) held = rows_of_day(inflated(found.front().text(0)));
        for (std::size_t i = k; i < e; ++i) {
            const new_row& r = rows[i];
            if (held.empty() || r.time > held.back().time) {
                held.push_back({r.time, r.text});
                continue;
            }
            const auto at = std::lower_bound(held.begin(), held.end(), r.time,
                                             [](const stored_row& s, std::int64_t t) { return s.time < t; });
            if (at == held.end() || at->time != r.time) {
                held.insert(at, {r.time, r.text});
                continue;
            }
            // The same time: its cells merged.
            std::vector<std::string> mine = cells_of(at->text, sep);
            const std::vector<std::string> theirs = cells_of(r.text, sep);
            if (mine.size() != theirs.size()) throw runs_error(r.file, r.line, 0, "a row of another width than the store's");
            for (std::size_t c = 1; c < mine.size(); ++c) {
                const std::string a = trimmed(mine[c]), b = trimmed(theirs[c]);
                if (a.empty()) {
                    mine[c] = theirs[c];
                } else if (!b.empty() && a != b) {
                    throw runs_error(r.file, r.line, c + 1,
                                     "the store holds another value at this time (" + a + ", not " + b +
                                         "): a row already followed cannot change; --reread reads the source again");
                }
            }
            std::string merged;
            for (std::size_t c = 0; c < mine.size(); ++c) merged += (c ? std::string(1, sep) : "") + mine[c];
            at->text = merged;
        }
        earliest = earliest ? std::min(*earliest, rows[k].time) : rows[k].time;
        db.execute("INSERT INTO history_days (day, rows, first_time, last_time, text) VALUES (?, ?, ?, ?, ?) "
                   "ON CONFLICT (day) DO UPDATE SET rows = excluded.rows, first_time = excluded.first_time, "
                   "last_time = excluded.last_time, text = excluded.text",
                   {day, static_cast<std::int64_t>(held.size()), held.front().time, held.back().time,
                    database_blob{deflated(day_text(held))}});
        k = e;
    }
    return earliest;
}

std::optional<std::int64_t> last_stored_time(database& db) {
    const auto r = db.query("SELECT MAX(last_time) FROM history_days");
    return r.front().maybe_integer(0);
}

// ---- Reading a source ----

// Without copying the bytes (a history may be tens of megabytes).
std::string sha256_of(std::string_view bytes) {
    sha256_stream s;
    s.add(bytes.data(), bytes.size());
    return s.hex();
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw runs_error(path, 0, 0, "cannot be read");
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) throw runs_error(path, 0, 0, "cannot be read to its end");
    return s.str();
}

// The header of a history's text: its line, its text, and where the rows begin.
struct header_of_text {
    std::size_t line = 0;
    std::string text;
    std::size_t end = 0;  // the byte after its line
};

std::optional<header_of_text> find_header(const std::string& text) {
    std::size_t at = 0, line = 1;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) at = 3;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) return std::nullopt;  // not a whole line yet
        const std::string l = trimmed(text.substr(at, end - at));
        if (!l.empty() && l[0] != '#') return header_of_text{line, l, end + 1};
        at = end + 1;
        ++line;
    }
    return std::nullopt;
}

char separator_of(const std::string& header) {
    for (const char c : {'\t', ';'}) {
        if (header.find(c) != std::string::npos && header.find(',') == std::string::npos) return c;
    }
    return ',';
}

// A piece of a source, checked as `monitor` checks a history: its rows,
// numbered by the source's lines.
struct piece {
    std::string file;
    std::size_t first_line = 0, last_line = 0;
    std::vector<new_row> rows;
    std::optional<std::int64_t> last_lab;  // the last row with a lab value
    bool zoned = false;
};

// `body`: whole lines of the source from `first_line` on (the header
// before them, on `header_line`).
piece checked_piece(const std::string& file, const std::string& header, std::size_t header_line, const std::string& body,
                    std::size_t first_line) {
    // Comment lines put the rows on their own line numbers for messages.
    std::string text;
    text.reserve(body.size() + header.size() + 2 * first_line + 2);
    for (std::size_t l = 1; l < header_line; ++l) text += "#\n";
    text += header + "\n";
    for (std::size_t l = header_line + 1; l < first_line; ++l) text += "#\n";
    text += body;
    const history h = parse_history(text, file, false);
    piece p;
    p.file = file;
    p.zoned = h.zoned;
    // Each row's own text, by line.
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    const std::string_view b(body);
    while (at < b.size()) {
        const std::size_t end = b.find('\n', at);
        lines.push_back(b.substr(at, (end == std::string_view::npos ? b.size() : end) - at));
        at = end == std::string_view::npos ? b.size() : end + 1;
    }
    for (std::size_t k = 0; k < h.rows(); ++k) {
        const std::size_t index = h.line[k] - first_line;
        if (index >= lines.size()) throw runs_error(file, h.line[k], 0, "a row this reader cannot place");
        std::string row(lines[index]);
        if (!row.empty() && row.back() == '\r') row.pop_back();
        if (row.find('"') != std::string::npos || row.find('\n') != std::string::npos) {
            throw runs_error(file, h.line[k], 0, "a quoted cell: a watched history holds numbers and times only");
        }
        p.rows.push_back({h.time[k], std::move(row), file, h.line[k]});
        for (const history_column& c : h.columns) {
            if (c.kind == column_kind::measured && std::isfinite(c.values[k])) {
                p.last_lab = p.last_lab ? std::max(*p.last_lab, h.time[k]) : h.time[k];
                break;
            }
        }
    }
    p.first_line = first_line;
    p.last_line = first_line + lines.size() - 1;
    return p;
}

struct source_state {
    std::int64_t bytes = 0, lines = 0, rows = 0;
    std::string sha256;
    std::optional<std::int64_t> last_time;
};

std::optional<source_state> source_of(database& db, const std::string& name) {
    const auto r = db.query("SELECT bytes, lines, sha256, rows, last_time FROM sources WHERE name = ?", {name});
    if (r.empty()) return std::nullopt;
    return source_state{r[0].integer(0), r[0].integer(1), r[0].integer(3), r[0].text(2), r[0].maybe_integer(4)};
}

void save_source(database& db, const std::string& name, const source_state& s) {
    db.execute("INSERT INTO sources (name, bytes, lines, sha256, rows, last_time) VALUES (?, ?, ?, ?, ?, ?) "
               "ON CONFLICT (name) DO UPDATE SET bytes = excluded.bytes, lines = excluded.lines, sha256 = excluded.sha256, "
               "rows = excluded.rows, last_time = excluded.last_time",
               {name, s.bytes, s.lines, s.sha256, s.rows,
                s.last_time ? database_value(*s.last_time) : database_value(nullptr)});
}

std::size_t count_lines(std::string_view s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

// What the pass read: each piece handed on as it is read (merged into the
// store), so that a long piece is held a part at a time.
struct source_reading {
    std::function<void(piece&)> take;
    std::vector<std::string> read;  // in words
};

// A growing file's new lines are read in parts of this many lines.
constexpr std::size_t lines_per_part = 50000;

// A growing file's bytes are read in parts of at most this many: a year of
// one-minute rows is never held whole.
constexpr std::size_t bytes_per_read = std::size_t{8} << 20;

// A file read from its start, a bounded part at a time.
class file_parts {
public:
    explicit file_parts(const std::string& path) : path_(path), in_(path, std::ios::binary) {
        if (!in_) throw runs_error(path, 0, 0, "cannot be read");
    }
    // Up to n more bytes appended to `to`: how many (0 at the end).
    std::size_t more(std::string& to, std::size_t n) {
        if (ended_) return 0;
        const std::size_t at = to.size();
        to.resize(at + n);
        in_.read(to.data() + at, static_cast<std::streamsize>(n));
        const auto got = static_cast<std::size_t>(in_.gcount());
        to.resize(at + got);
        if (in_.bad()) throw runs_error(path_, 0, 0, "cannot be read to its end");
        ended_ = got < n;
        return got;
    }
    // The SHA-256 of the bytes [from, to), read in parts; empty when the file ends before `to`.
    static std::string sha256_of_range(const std::string& path, std::size_t from, std::size_t to) {
        file_parts f(path);
        f.in_.seekg(static_cast<std::streamoff>(from));
        sha256_stream h;
        std::string part;
        for (std::size_t left = to - from; left > 0;) {
            part.clear();
            const std::size_t got = f.in_ ? f.more(part, std::min(left, bytes_per_read)) : 0;
            if (got == 0) return {};
            h.add(part.data(), got);
            left -= got;
        }
        return h.hex();
    }

private:
    std::string path_;
    std::ifstream in_;
    bool ended_ = false;
};

// The new whole lines of a growing file: refused when what was read before
// changed. The file is read in bounded parts: what was read before for its
// digest, then the new lines, in parts of lines_per_part lines.
void read_growing(database& db, const std::string& path, const std::string& header, std::size_t header_line,
                  std::int64_t pass, source_reading& out, std::string& first_header) {
    file_parts file(path);
    std::error_code size_error;
    const std::uintmax_t size = std::filesystem::file_size(path, size_error);
    if (size_error) throw runs_error(path, 0, 0, "cannot be read");
    const std::optional<source_state> before = source_of(db, path);
    source_state s = before.value_or(source_state{});
    sha256_stream whole;   // of the bytes taken, from the file's start
    std::string pending;   // bytes read and not yet taken, from `from` on
    if (before) {
        const auto shorter = [&](std::uintmax_t bytes) {
            return runs_error(path, 0, 0, "is shorter (" + std::to_string(bytes) + " bytes) than what was read of it before (" +
                                              std::to_string(s.bytes) +
                                              " bytes): rows already followed cannot change; --reread reads it again from its start");
        };
        if (size < static_cast<std::uintmax_t>(s.bytes)) throw shorter(size);
        for (auto left = static_cast<std::size_t>(s.bytes); left > 0;) {
            pending.clear();
            const std::size_t got = file.more(pending, std::min(left, bytes_per_read));
            if (got == 0) throw shorter(static_cast<std::uintmax_t>(s.bytes) - left);
            whole.add(pending.data(), got);
            left -= got;
        }
        pending.clear();
        if (whole.hex_so_far() != s.sha256) {
            // The piece read that differs, named by its first line (the
            // header's when none does: it is before the rows).
            std::size_t line = 1, last_line = 0;
            const auto reads = db.query("SELECT first_line, last_line, first_byte, end_byte, sha256 FROM reads WHERE name = ? "
                                        "ORDER BY first_byte",
                                        {path});
            for (const database_row& r : reads) {
                const auto from = static_cast<std::size_t>(r.integer(2)), to = static_cast<std::size_t>(r.integer(3));
                if (file_parts::sha256_of_range(path, from, to) != r.text(4)) {
                    line = static_cast<std::size_t>(r.integer(0));
                    last_line = static_cast<std::size_t>(r.integer(1));
                    break;
                }
            }
            throw runs_error(path, line, 0,
                             (last_line > 0 ? "a row read before, on this line or after it up to line " + std::to_string(last_line) +
                                                  ", has changed since"
                                            : std::string("the header or a comment before it has changed since it was read")) +
                                 ": rows already followed cannot change; --reread reads the file again from its start");
        }
    }
    std::size_t from = static_cast<std::size_t>(s.bytes);
    std::size_t first_line = static_cast<std::size_t>(s.lines) + 1;
    std::string head = header;
    std::size_t head_line = header_line;
    if (!before || s.bytes == 0) {
        std::optional<header_of_text> hd;
        while (!(hd = find_header(pending)) && file.more(pending, bytes_per_read) > 0) {
        }
        if (!hd) return;  // no header yet
        head = hd->text;
        head_line = hd->line;
        if (!header.empty() && head != header) {
            throw runs_error(path, hd->line, 0, "its columns are not those the store follows (" + header + ")");
        }
        first_header = head;
        set_info(db, "header_line", std::to_string(hd->line));
        from = hd->end;
        first_line = hd->line + 1;
        whole.add(pending.data(), hd->end);
        pending.erase(0, hd->end);
    }
    sha256_stream body;  // of the new lines
    std::size_t end_byte = from, rows = 0, line = first_line, last_line = first_line;
    std::optional<std::int64_t> first_time, last_time = s.last_time;
    for (;;) {
        // The next part: lines_per_part whole lines, or the whole lines left.
        std::size_t cut = 0, lines = 0;
        for (;;) {
            while (lines < lines_per_part) {
                const std::size_t nl = pending.find('\n', cut);
                if (nl == std::string::npos) break;
                cut = nl + 1;
                ++lines;
            }
            if (lines == lines_per_part || file.more(pending, bytes_per_read) == 0) break;
        }
        if (lines == 0) break;
        const std::string part = pending.substr(0, cut);
        pending.erase(0, cut);
        whole.add(part.data(), part.size());
        body.add(part.data(), part.size());
        end_byte += part.size();
        piece p = checked_piece(path, head, head_line, part, line);
        if (!p.rows.empty() && last_time && p.rows.front().time <= *last_time) {
            throw runs_error(path, p.rows.front().line, 0,
                             "a time not after the row before (" + timestamp_text(*last_time, p.zoned) + ")");
        }
        rows += p.rows.size();
        last_line = p.last_line;
        if (!p.rows.empty()) {
            if (!first_time) first_time = p.rows.front().time;
            last_time = p.rows.back().time;
        }
        line = p.last_line + 1;
        out.take(p);
    }
    if (end_byte == from) {
        // Nothing whole since: the header alone, or a row still being written.
        if (!before) {
            s.bytes = static_cast<std::int64_t>(from);
            s.lines = static_cast<std::int64_t>(first_line - 1);
            s.sha256 = whole.hex();
            save_source(db, path, s);
        }
        return;
    }
    db.execute("INSERT INTO reads (id, pass, name, first_line, last_line, first_byte, end_byte, sha256, rows, first_time, "
               "last_time) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
               {next_id(db, "reads"), pass, path, static_cast<std::int64_t>(first_line), static_cast<std::int64_t>(last_line),
                static_cast<std::int64_t>(from), static_cast<std::int64_t>(end_byte), body.hex(),
                static_cast<std::int64_t>(rows), first_time ? database_value(*first_time) : database_value(nullptr),
                rows > 0 ? database_value(*last_time) : database_value(nullptr)});
    s.bytes = static_cast<std::int64_t>(end_byte);
    s.lines = static_cast<std::int64_t>(last_line);
    s.sha256 = whole.hex();
    s.rows += static_cast<std::int64_t>(rows);
    s.last_time = last_time;
    save_source(db, path, s);
    out.read.push_back(path + ": lines " + std::to_string(first_line) + ".." + std::to_string(last_line) + ", " +
                       std::to_string(rows) + " rows");
}

// The folder's *.csv files not read before, in the order of their names;
// one read before and changed since is refused.
void read_folder(database& db, const std::string& folder, const std::string& header, std::int64_t pass,
                 source_reading& out, std::string& first_header) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) throw runs_error(folder, 0, 0, "is not a folder");
    std::vector<std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
        if (e.is_regular_file() && e.path().extension() == ".csv") files.push_back(e.path().string());
    }
    if (ec) throw runs_error(folder, 0, 0, "cannot be listed: " + ec.message());
    std::sort(files.begin(), files.end());
    std::string head = header;
    for (const std::string& file : files) {
        const std::string name = fs::path(file).filename().string();
        const std::string bytes = read_file(file);
        const std::string sha = sha256_of(bytes);
        if (const std::optional<source_state> before = source_of(db, name)) {
            if (before->sha256 != sha) {
                throw runs_error(file, 0, 0, "has changed since it was read (its SHA-256 differs): an export read is not "
                                             "read again; --reread reads the folder again");
            }
            continue;
        }
        const std::optional<header_of_text> hd = find_header(bytes);
        if (!hd) throw runs_error(file, 0, 0, "no header row: the first line that is not a comment must name the columns");
        if (!head.empty() && hd->text != head) {
            throw runs_error(file, hd->line, 0, "its columns are not those the store follows (" + head + ")");
        }
        head = hd->text;
        if (first_header.empty()) first_header = head;
        std::string body = bytes.substr(hd->end);
        if (!body.empty() && body.back() != '\n') body += '\n';
        piece p = checked_piece(file, hd->text, hd->line, body, hd->line + 1);
        source_state s;
        s.bytes = static_cast<std::int64_t>(bytes.size());
        s.lines = static_cast<std::int64_t>(count_lines(bytes));
        s.sha256 = sha;
        s.rows = static_cast<std::int64_t>(p.rows.size());
        if (!p.rows.empty()) s.last_time = p.rows.back().time;
        save_source(db, name, s);
        db.execute("INSERT INTO reads (id, pass, name, first_line, last_line, first_byte, end_byte, sha256, rows, first_time, "
                   "last_time) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                   {next_id(db, "reads"), pass, name, static_cast<std::int64_t>(p.first_line),
                    static_cast<std::int64_t>(p.last_line), std::int64_t{0}, s.bytes, sha, s.rows,
                    p.rows.empty() ? database_value(nullptr) : database_value(p.rows.front().time),
                    p.rows.empty() ? database_value(nullptr) : database_value(p.rows.back().time)});
        out.read.push_back(name + ": " + std::to_string(p.rows.size()) + " rows");
        out.take(p);
    }
}

// The new readings of a historian's table, one row per time.
void read_readings(database& db, const watch_source& src, std::int64_t pass, source_reading& out, std::string& first_header) {
    const std::string& table = src.readings;
    std::vector<std::string> columns;
    std::map<std::string, std::size_t> slot;  // by tag: the column's place
    for (const tag_mapping& m : src.tags) {
        const auto at = std::find(columns.begin(), columns.end(), m.column);
        if (at == columns.end()) columns.push_back(m.column);
    }
    for (const tag_mapping& m : src.tags) {
        slot[m.tag] = static_cast<std::size_t>(std::find(columns.begin(), columns.end(), m.column) - columns.begin());
    }
    std::string header = "time";
    for (const std::string& c : columns) header += "," + c;
    first_header = header;
    const std::string name = "readings:" + table;
    source_state s = source_of(db, name).value_or(source_state{});
    std::map<std::int64_t, std::vector<double>> rows;
    std::size_t unknown = 0, readings = 0;
    std::int64_t last_id = s.bytes;
    for (const database_row& r : db.query("SELECT id, time, tag, value FROM " + table + " WHERE id > ? ORDER BY id", {s.bytes})) {
        const std::int64_t id = r.integer(0);
        last_id = std::max(last_id, id);
        const auto m = std::find_if(src.tags.begin(), src.tags.end(), [&](const tag_mapping& x) { return x.tag == r.text(2); });
        if (m == src.tags.end()) {
            ++unknown;
            continue;
        }
        const timestamp_read when = read_timestamp(r.text(1));
        if (!when.error.empty()) {
            throw runs_error(table, 0, 0, "the reading of id " + std::to_string(id) + ": its time: " + when.error + " (got \"" + r.text(1) + "\")");
        }
        const double v = r.number(3);
        std::vector<double>& row = rows[when.ms];
        if (row.empty()) row.assign(columns.size(), NAN);
        double& cell = row[slot[m->tag]];
        const double converted = v * m->scale + m->offset;
        if (!std::isnan(cell) && cell != converted) {
            throw runs_error(table, 0, 0, "the reading of id " + std::to_string(id) + " (" + m->tag + " at " + r.text(1) +
                                              ") differs from another of the same tag and time");
        }
        cell = converted;
        ++readings;
    }
    if (readings == 0 && unknown == 0) return;
    std::string body;
    char number[40];
    for (const auto& [ms, values] : rows) {
        body += timestamp_text(ms, true);
        for (const double v : values) {
            body += ",";
            if (!std::isnan(v)) {
                std::snprintf(number, sizeof number, "%.17g", v);
                body += number;
            }
        }
        body += "\n";
    }
    piece p = rows.empty() ? piece{} : checked_piece(table, header, 1, body, 2);
    p.file = table;
    db.execute("INSERT INTO reads (id, pass, name, first_line, last_line, first_byte, end_byte, sha256, rows, first_time, "
               "last_time) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
               {next_id(db, "reads"), pass, name, std::int64_t{0}, std::int64_t{0}, s.bytes, last_id, sha256_of(body),
                static_cast<std::int64_t>(p.rows.size()),
                p.rows.empty() ? database_value(nullptr) : database_value(p.rows.front().time),
                p.rows.empty() ? database_value(nullptr) : database_value(p.rows.back().time)});
    s.bytes = last_id;
    s.rows += static_cast<std::int64_t>(p.rows.size());
    s.sha256 = "";
    if (!p.rows.empty()) s.last_time = std::max(s.last_time.value_or(p.rows.back().time), p.rows.back().time);
    save_source(db, name, s);
    out.read.push_back(table + ": readings " + std::to_string(readings) + " (ids to " + std::to_string(last_id) + "), " +
                       std::to_string(p.rows.size()) + " times" +
                       (unknown > 0 ? ", " + std::to_string(unknown) + " of tags not in the tag map left out" : ""));
    out.take(p);
}

std::vector<tag_mapping> tag_map_of(const json& j) {
    std::vector<tag_mapping> tags;
    for (const json& x : j) {
        tags.push_back({x.at("tag").get<std::string>(), x.at("column").get<std::string>(), x.at("unit").get<std::string>(),
                        x.at("scale").get<double>(), x.at("offset").get<double>()});
    }
    return tags;
}

json tag_map_json(const std::vector<tag_mapping>& tags) {
    json j = json::array();
    for (const tag_mapping& m : tags) {
        j.push_back({{"tag", m.tag}, {"column", m.column}, {"unit", m.unit}, {"scale", m.scale}, {"offset", m.offset}});
    }
    return j;
}

// ---- The setup, kept as JSON ----

json options_json(const monitor_options& o) {
    json j;
    j["window_ms"] = o.window_ms;
    j["step_ms"] = o.step_ms;
    j["a1"] = o.a1 ? json(*o.a1) : json(nullptr);
    j["frozen_ms"] = o.frozen_ms;
    j["spike_sigmas"] = o.spike_sigmas;
    j["meter_sigma"] = o.meter_sigma;
    j["balance_alpha"] = o.balance_alpha;
    j["drift_alpha"] = o.drift_alpha;
    j["min_segment"] = o.min_segment;
    j["permutations"] = o.permutations;
    j["seed"] = o.seed;
    return j;
}

monitor_options options_of(const json& j) {
    monitor_options o;
    o.window_ms = j.at("window_ms").get<std::int64_t>();
    o.step_ms = j.at("step_ms").get<std::int64_t>();
    if (!j.at("a1").is_null()) o.a1 = j.at("a1").get<double>();
    o.frozen_ms = j.at("frozen_ms").get<std::int64_t>();
    o.spike_sigmas = j.at("spike_sigmas").get<double>();
    o.meter_sigma = j.at("meter_sigma").get<std::array<double, setting_count>>();
    o.balance_alpha = j.at("balance_alpha").get<double>();
    o.drift_alpha = j.at("drift_alpha").get<double>();
    o.min_segment = j.at("min_segment").get<int>();
    o.permutations = j.at("permutations").get<int>();
    o.seed = j.at("seed").get<std::uint64_t>();
    return o;
}

std::optional<watch_setup> stored_setup(database& db) {
    const std::optional<std::string> source = info(db, "source");
    if (!source) return std::nullopt;
    watch_setup s;
    const json src = json::parse(*source);
    s.source.path = src.at("path").get<std::string>();
    s.source.folder = src.at("folder").get<bool>();
    if (src.contains("readings")) {
        s.source.readings = src.at("readings").get<std::string>();
        s.source.tags = tag_map_of(src.at("tags"));
    }
    s.base = parse_case(info(db, "case").value_or("{}"), "the store's case");
    s.options = options_of(json::parse(info(db, "options").value_or("{}")));
    return s;
}

void save_setup(database& db, const watch_setup& s) {
    json src{{"path", s.source.path}, {"folder", s.source.folder}};
    if (!s.source.readings.empty()) {
        src["readings"] = s.source.readings;
        src["tags"] = tag_map_json(s.source.tags);
    }
    set_info(db, "source", src.dump());
    set_info(db, "case", case_file_json(s.base).dump());
    set_info(db, "options", options_json(s.options).dump());
}

// What differs between the setup given and the stored one, in words; empty: the same.
std::string setup_difference(const watch_setup& stored, const watch_setup& given) {
    if (stored.source.path != given.source.path || stored.source.folder != given.source.folder ||
        stored.source.readings != given.source.readings) {
        return "the source (the store follows " +
               (stored.source.readings.empty() ? stored.source.path : "the readings of " + stored.source.readings) + ")";
    }
    if (tag_map_json(stored.source.tags) != tag_map_json(given.source.tags)) return "the tag map (the store's is its first pass's)";
    if (case_file_json(stored.base) != case_file_json(given.base)) return "the case (the store's case is its first pass's)";
    const monitor_options& a = stored.options;
    const monitor_options& b = given.options;
    std::string d;
    const auto differ = [&](const std::string& what) { d += (d.empty() ? "" : ", ") + what; };
    if (a.window_ms != b.window_ms) differ("--window " + duration_text(b.window_ms) + " (the store's: " + duration_text(a.window_ms) + ")");
    if (a.step_ms != b.step_ms && a.window_ms == b.window_ms) {
        differ("--step " + duration_text(b.step_ms) + " (the store's: " + duration_text(a.step_ms) + ")");
    }
    if (a.frozen_ms != b.frozen_ms) differ("--frozen " + duration_text(b.frozen_ms) + " (the store's: " + duration_text(a.frozen_ms) + ")");
    // a1 estimated at the first pass is held since: not a difference.
    if (b.a1 && a.a1 != b.a1) differ("--fix a1=" + sig(*b.a1) + " (the store's: " + (a.a1 ? "a1=" + sig(*a.a1) : "estimated") + ")");
    if (a.meter_sigma != b.meter_sigma) differ("--meter-sigma (not the store's)");
    if (!d.empty()) return "the monitor's options: " + d;
    return {};
}

// ---- The history as stored, for the monitor ----

// Every row before `cutoff`, as the CSV text of one history: the header,
// then the rows day by day, read from the store as the parser asks. The
// next day inflates while the parser reads this one (the store itself is
// read on this thread alone).
history stored_history(database& db, const std::string& name, const std::string& header, std::int64_t cutoff) {
    std::vector<std::int64_t> days;
    for (const database_row& r : db.query("SELECT day FROM history_days WHERE first_time < ? ORDER BY day", {cutoff})) {
        days.push_back(r.integer(0));
    }
    std::size_t next_day = 0;
    std::future<std::string> next;  // the next day, inflating
    const auto fetch = [&] {
        if (next_day == days.size()) return;
        const auto r = db.query("SELECT text FROM history_days WHERE day = ?", {days[next_day++]});
        next = std::async(std::launch::async, [bytes = r.front().text(0)] { return inflated(bytes); });
    };
    fetch();
    std::string buffer = header + "\n";
    std::size_t at = 0;
    const auto read = [&](char* to, std::size_t capacity) -> std::size_t {
        std::size_t given = 0;
        while (given < capacity) {
            if (at == buffer.size()) {
                if (!next.valid()) break;
                const std::string day = next.get();
                fetch();
                buffer.clear();
                at = 0;
                for_each_row(day, [&](std::int64_t time, std::string_view row) {
                    if (time < cutoff) buffer += row;
                });
                continue;
            }
            const std::size_t part = std::min(capacity - given, buffer.size() - at);
            buffer.copy(to + given, part, at);
            at += part;
            given += part;
        }
        return given;
    };
    return history_of(read, name, false, 0, true);
}

// ---- Window fits kept ----

// The fits kept in the store (monitor_fit_cache): read whole before the
// monitor runs; afterwards those it made kept and those it did not take
// dropped, so the table holds the last pass's fits. A fit's answer depends
// on the build and the plug-in (its bytes): those of another are not taken.
class stored_fits final : public monitor_fit_cache {
public:
    stored_fits(database& db, const build_info& build)
        : db_(db), build_(build.workbench + "\n" + build.plugin + "\n" + plugin_digest(build.plugin_file)) {
        if (info(db, "fits_build").value_or("") != build_) return;
        for (const database_row& r : db.query("SELECT key, answer FROM fits")) held_[r.text(0)] = r.text(1);
    }
    std::optional<std::string> find(const std::string& key) override {
        const auto f = held_.find(key);
        if (f == held_.end()) return std::nullopt;
        used_.insert(key);
        return f->second;
    }
    void keep(const std::string& key, const std::string& answer) override { made_[key] = answer; }
    void save() {
        db_.execute("DELETE FROM fits");
        for (const std::string& key : used_) {
            if (made_.count(key) == 0) made_[key] = held_[key];
        }
        for (const auto& [key, answer] : made_) {
            db_.execute("INSERT INTO fits (key, answer) VALUES (?, ?)", {key, database_blob{answer}});
        }
        set_info(db_, "fits_build", build_);
    }

private:
    // The plug-in's bytes: one rebuilt under the same version marker is another.
    static std::string plugin_digest(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return "";
        sha256_stream h;
        std::string part(std::size_t{1} << 16, '\0');
        while (in.read(part.data(), static_cast<std::streamsize>(part.size())) || in.gcount() > 0) {
            h.add(part.data(), static_cast<std::size_t>(in.gcount()));
        }
        return h.hex();
    }

    database& db_;
    std::string build_;
    std::map<std::string, std::string> held_, made_;
    std::set<std::string> used_;
};

// ---- Results ----

json history_description(const monitor_problem& p) {
    return {{"file", p.h.file},     {"sha256", p.h.sha256},        {"rows", p.h.rows()},
            {"first", p.h.first_time()}, {"last", p.h.last_time()}, {"zoned", p.h.zoned},
            {"spacing_ms", p.spacing_ms}, {"warnings", p.warnings}};
}

database_value cell_value(const column& c, std::size_t row) {
    if (holds_text(c.kind)) return c.texts[row];
    return c.numbers[row];
}

void store_results(database& db, const monitor_problem& p, const monitor_result& m, const build_info& build, std::int64_t pass,
                   const monitor_result* before, watch_pass_report& report) {
    db.execute("INSERT INTO result (id, history, bytes) VALUES (1, ?, ?) ON CONFLICT (id) DO UPDATE SET "
               "history = excluded.history, bytes = excluded.bytes",
               {history_description(p).dump(), database_blob{monitor_result_bytes(m)}});
    // The windows: each one's row, and the pass that last changed it.
    const auto window_bytes = [](const monitor_window& w) {
        monitor_result one;
        one.windows.push_back(w);
        return monitor_result_bytes(one);
    };
    std::map<std::int64_t, std::string> old;
    if (before != nullptr) {
        for (const monitor_window& w : before->windows) old[w.start] = window_bytes(w);
    }
    std::map<std::int64_t, std::int64_t> changed_pass;
    for (const database_row& r : db.query("SELECT start_ms, changed_pass FROM windows")) changed_pass[r.integer(0)] = r.integer(1);
    db.execute("DELETE FROM windows");
    // The store's tables and documents say messages in the library's own words.
    const table t = monitor_table(monitor_report{&p, &m, neutral_vocabulary()});
    std::string names = "start_ms, end_ms, changed_pass", marks = "?, ?, ?";
    for (const column& c : t.columns()) {
        names += ", " + quoted(c.name);
        marks += ", ?";
    }
    const std::string insert = "INSERT INTO windows (" + names + ") VALUES (" + marks + ")";
    report.windows = m.windows.size();
    for (std::size_t i = 0; i < m.windows.size(); ++i) {
        const monitor_window& w = m.windows[i];
        const std::string mine = window_bytes(w);
        std::int64_t changed = pass;
        const auto o = old.find(w.start);
        if (o == old.end()) {
            ++report.windows_new;
        } else if (o->second != mine) {
            ++report.windows_changed;
        } else if (changed_pass.count(w.start)) {
            changed = changed_pass[w.start];
        }
        std::vector<database_value> v{w.start, w.end, changed};
        for (const column& c : t.columns()) v.push_back(cell_value(c, i));
        db.execute(insert, v);
    }
    // The findings, as monitor's JSON writes them.
    db.execute("DELETE FROM findings");
    const ojson j = monitor_json(monitor_report{&p, &m, neutral_vocabulary()}, build);
    const auto put = [&](const std::string& kind, const ojson& items, const auto& span) {
        std::int64_t seq = 0;
        for (auto item = items.begin(); item != items.end(); ++item) {
            const auto [from, to] = span(static_cast<std::size_t>(seq));
            // The screening is by column: each finding carries its column's name.
            ojson doc = *item;
            if (items.is_object()) {
                ojson named{{"column", item.key()}};
                named.update(doc);
                doc = named;
            }
            db.execute("INSERT INTO findings (kind, seq, start_ms, end_ms, doc) VALUES (?, ?, ?, ?, ?)",
                       {kind, seq, from, to, doc.dump()});
            ++seq;
        }
    };
    using span_t = std::pair<database_value, database_value>;
    put("drift", j.at("drifts"), [&](std::size_t k) { return span_t{m.drifts[k].time, m.drifts[k].time}; });
    put("trend", j.at("trends"), [&](std::size_t k) { return span_t{m.trends[k].start, m.trends[k].end}; });
    put("meter", j.at("meters"), [&](std::size_t k) { return span_t{m.meters[k].start, m.meters[k].end}; });
    put("screening", j.at("screening"), [&](std::size_t) { return span_t{nullptr, nullptr}; });
}

// ---- Alerts ----

struct condition {
    std::string kind, subject, summary;
    json evidence;
    std::optional<std::int64_t> first_window, last_window;
    bool wall_clock = false;  // its time is the wall clock's (no new data), not the history's
};

std::vector<condition> conditions_of(const monitor_result& m, const monitor_problem& p, const alert_settings& a,
                                     std::optional<std::int64_t> last_lab, std::int64_t last_row, std::int64_t now) {
    std::vector<condition> out;
    const bool zoned = p.h.zoned;
    const auto when = [&](std::int64_t t) { return timestamp_text(t, zoned); };
    std::optional<std::int64_t> last_end;
    std::size_t last_fitted = 0;
    for (std::size_t i = 0; i < m.windows.size(); ++i) {
        if (m.windows[i].fitted) last_fitted = i;
    }
    if (!m.windows.empty()) last_end = m.windows.back().end;
    // a2's last change, as the evidence over windows names it: its
    // threshold is set for one false alarm in 3 years of windows, where the
    // drift test, made again at every pass, would raise one at its level at
    // each. The drift test's confirmation, when it has one, is in the evidence.
    // Firing for a while after the change, then resolved (the new level
    // established).
    {
        std::optional<condition> change;
        std::int64_t at = 0;
        for (const a2_step& s : m.steps) {
            at = s.start;
            json evidence{{"time", when(s.start)}, {"ratio", s.ratio}, {"lower", s.lower}, {"upper", s.upper},
                          {"found", when(s.found)}};
            std::string confirmed;
            for (const drift& d : m.drifts) {
                if (std::llabs(d.time - s.start) <= p.options.window_ms) {
                    evidence["drift_test"] = {{"time", when(d.time)}, {"ratio", d.ratio}, {"p_value", d.p_value}};
                    confirmed = "; the drift test confirms it, p = " + sig(d.p_value, 2);
                }
            }
            change = condition{"a2 changed", "a2",
                               "a2 changed by " + sig(100.0 * (s.ratio - 1.0), 2) + " % at " + when(s.start) +
                                   " (95 % interval of the ratio " + sig(s.lower, 3) + " .. " + sig(s.upper, 3) + confirmed + ")",
                               evidence, s.start, s.found, false};
        }
        const std::int64_t hold = (a.change_hold_windows + p.options.min_segment) * p.options.window_ms;
        if (change && last_end && *last_end - at <= hold) out.push_back(*change);
    }
    // A trend or a meter's span is over when two windows have passed without it.
    const std::int64_t settle = 2 * p.options.window_ms;
    for (const a2_trend& t : m.trends) {
        if (!last_end || t.end + settle < m.windows[last_fitted].end) continue;  // over
        out.push_back({"a2 trending", "a2",
                       "a2 " + std::string(t.rate < 0 ? "declining" : "rising") + " by " + sig(100.0 * std::abs(t.rate), 2) +
                           " % a day since " + when(t.start) + " (" + sig(t.from, 3) + " to " + sig(t.to, 3) + ")",
                       json{{"start", when(t.start)}, {"end", when(t.end)}, {"rate_per_day", t.rate}, {"lower", t.lower},
                            {"upper", t.upper}, {"from", t.from}, {"to", t.to}},
                       t.start, t.end, false});
    }
    // The last tested window: a meter's span that reaches it is still open.
    std::optional<std::int64_t> last_tested;
    for (const monitor_window& w : m.windows) {
        if (w.balance.tested) last_tested = w.end;
    }
    for (const bias_span& b : m.meters) {
        if (!last_tested || b.end + settle < *last_tested) continue;
        out.push_back({"meter biased", b.column,
                       b.column + " reads " + sig(100.0 * std::abs(b.bias), 2) + " % " + (b.bias > 0 ? "high" : "low") + " since " +
                           when(b.start) + " (95 % interval " + sig(100.0 * b.lower, 2) + " .. " + sig(100.0 * b.upper, 2) + " %)",
                       json{{"start", when(b.start)}, {"found", when(b.found)}, {"bias", b.bias}, {"lower", b.lower},
                            {"upper", b.upper}, {"windows", b.windows}},
                       b.start, b.end, false});
    }
    const std::int64_t followed_last = p.h.rows() > 0 ? p.h.last_time() : 0;
    for (const column_screening& c : m.screening) {
        if (c.stagnant.empty() || c.stagnant.back().end < followed_last) continue;
        const time_span& s = c.stagnant.back();
        out.push_back({"sensor frozen", c.column,
                       c.column + " has repeated one value since " + when(s.start) + " (" + std::to_string(s.rows) + " rows)",
                       json{{"start", when(s.start)}, {"rows", s.rows}}, s.start, s.end, false});
    }
    if (last_lab && last_row - *last_lab > a.lab_gap_ms) {
        out.push_back({"no lab sample", "lab",
                       "no lab sample since " + when(*last_lab) + " (" + span_words(last_row - *last_lab) + ")",
                       json{{"last_sample", when(*last_lab)}, {"hours", static_cast<double>(last_row - *last_lab) / ms_per_hour}},
                       std::nullopt, std::nullopt, false});
    }
    const std::int64_t stale = a.stale_ms > 0 ? a.stale_ms : 2 * p.options.window_ms;
    if (now - last_row > stale) {
        out.push_back({"no new data", "history",
                       "no new row since " + when(last_row) + " (" + span_words(now - last_row) + " ago)",
                       json{{"last_row", when(last_row)}}, std::nullopt, std::nullopt, true});
    }
    if (a.approach_below && !m.windows.empty()) {
        const monitor_window& w = m.windows[last_fitted];
        if (w.fitted && std::isfinite(w.approach) && w.approach < *a.approach_below) {
            out.push_back({"approach low", "approach",
                           "the approach to equilibrium is " + sig(w.approach, 3) + " in the window of " + when(w.start) +
                               ", below " + sig(*a.approach_below, 3),
                           json{{"window", when(w.start)}, {"approach", w.approach}, {"level", *a.approach_below}}, w.start,
                           w.start, false});
        }
    }
    return out;
}

alert_record alert_of(const database_row& r) {
    alert_record a;
    a.id = r.integer(0);
    a.kind = r.text(1);
    a.subject = r.text(2);
    a.state = state_named(r.text(3));
    a.since = r.integer(4);
    a.fired = r.maybe_integer(5);
    a.resolved = r.maybe_integer(6);
    a.first_window = r.maybe_integer(7);
    a.last_window = r.maybe_integer(8);
    a.summary = r.text(9);
    a.evidence = r.text(10);
    return a;
}

const char* const alert_columns =
    "id, kind, subject, state, since, fired, resolved, first_window, last_window, summary, evidence";

database_value maybe(const std::optional<std::int64_t>& v) { return v ? database_value(*v) : database_value(nullptr); }

void update_alerts(database& db, const std::vector<condition>& now_true, std::int64_t data_time, std::int64_t now,
                   const alert_settings& a, const watch_pass_options& o, std::int64_t pass, bool zoned,
                   watch_pass_report& report) {
    std::vector<alert_record> open;
    for (const database_row& r : db.query(std::string("SELECT ") + alert_columns + " FROM alerts WHERE state <> 'resolved'")) {
        open.push_back(alert_of(r));
    }
    const auto event = [&](alert_record& rec, std::optional<alert_state> from, bool notify) {
        const std::int64_t id = next_id(db, "alert_events");
        db.execute("INSERT INTO alert_events (id, alert_id, pass, at, state, summary) VALUES (?, ?, ?, ?, ?, ?)",
                   {id, rec.id, pass, now, std::string(alert_state_name(rec.state)), rec.summary});
        if (notify) {
            const std::string subject = "[urea-reactor] " + std::string(alert_state_name(rec.state)) + ": " + rec.kind + " — " + rec.subject;
            const std::string text = rec.summary + "\n\nalert " + std::to_string(rec.id) + ", " + alert_state_name(rec.state) +
                                     " at " + timestamp_text(now, true) + "\nevidence: " + rec.evidence + "\n";
            ojson body;
            body["id"] = "alert-" + std::to_string(rec.id) + "-" + alert_state_name(rec.state) + "-" + std::to_string(id);
            body["alert"] = rec.id;
            body["kind"] = rec.kind;
            body["subject"] = rec.subject;
            body["state"] = alert_state_name(rec.state);
            body["summary"] = rec.summary;
            body["since"] = timestamp_text(rec.since, zoned);
            body["windows"] = {{"first", rec.first_window ? ojson(timestamp_text(*rec.first_window, zoned)) : ojson(nullptr)},
                               {"last", rec.last_window ? ojson(timestamp_text(*rec.last_window, zoned)) : ojson(nullptr)}};
            body["evidence"] = ojson::parse(rec.evidence);
            for (const std::string& channel : o.channels) {
                db.execute("INSERT INTO outbox (id, event_id, channel, message_id, subject, text, body, attempts, next_attempt) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, 0, ?)",
                           {next_id(db, "outbox"), id, channel, body["id"].get<std::string>(), subject, text,
                            body.dump(), now});
            }
        }
        report.changes.push_back({rec, from, notify});
    };
    std::set<std::int64_t> seen;
    for (const condition& c : now_true) {
        const std::int64_t at = c.wall_clock ? now : data_time;
        auto it = std::find_if(open.begin(), open.end(), [&](const alert_record& r) { return r.kind == c.kind && r.subject == c.subject; });
        if (it == open.end() && c.first_window) {
            // The same span, found again after it seemed over (the evidence of
            // later windows extended it): its alert reopened, not a new one.
            const auto again = db.query(std::string("SELECT ") + alert_columns +
                                            " FROM alerts WHERE kind = ? AND subject = ? AND first_window = ? AND state = 'resolved' "
                                            "ORDER BY id DESC LIMIT 1",
                                        {c.kind, c.subject, *c.first_window});
            if (!again.empty()) {
                open.push_back(alert_of(again.front()));
                it = open.end() - 1;
                it->state = alert_state::pending;
                it->since = at;
                it->resolved.reset();
                db.execute("UPDATE alerts SET state = 'pending', resolved = NULL, since = ? WHERE id = ?", {at, it->id});
            }
        }
        if (it == open.end()) {
            alert_record rec;
            rec.id = next_id(db, "alerts");
            rec.kind = c.kind;
            rec.subject = c.subject;
            rec.since = at;
            rec.first_window = c.first_window;
            rec.last_window = c.last_window;
            rec.summary = c.summary;
            rec.evidence = c.evidence.dump();
            rec.state = a.pending_ms <= 0 ? alert_state::firing : alert_state::pending;
            if (rec.state == alert_state::firing) rec.fired = now;
            db.execute("INSERT INTO alerts (id, kind, subject, state, since, fired, resolved, first_window, last_window, summary, "
                       "evidence, updated_pass) VALUES (?, ?, ?, ?, ?, ?, NULL, ?, ?, ?, ?, ?)",
                       {rec.id, rec.kind, rec.subject, std::string(alert_state_name(rec.state)), rec.since, maybe(rec.fired),
                        maybe(rec.first_window), maybe(rec.last_window), rec.summary, rec.evidence, pass});
            seen.insert(rec.id);
            event(rec, std::nullopt, rec.state == alert_state::firing);
            continue;
        }
        alert_record& rec = *it;
        seen.insert(rec.id);
        const alert_state from = rec.state;
        rec.summary = c.summary;
        rec.evidence = c.evidence.dump();
        rec.first_window = c.first_window;
        rec.last_window = c.last_window;
        if (rec.state == alert_state::pending && at - rec.since >= a.pending_ms) {
            rec.state = alert_state::firing;
            rec.fired = now;
        }
        db.execute("UPDATE alerts SET state = ?, fired = ?, first_window = ?, last_window = ?, summary = ?, evidence = ?, "
                   "updated_pass = ? WHERE id = ?",
                   {std::string(alert_state_name(rec.state)), maybe(rec.fired), maybe(rec.first_window), maybe(rec.last_window),
                    rec.summary, rec.evidence, pass, rec.id});
        if (rec.state != from) event(rec, from, true);
    }
    for (alert_record& rec : open) {
        if (seen.count(rec.id)) continue;
        const alert_state from = rec.state;
        rec.state = alert_state::resolved;
        rec.resolved = now;
        db.execute("UPDATE alerts SET state = 'resolved', resolved = ?, updated_pass = ? WHERE id = ?", {now, pass, rec.id});
        // A pending alert that never fired goes quietly.
        event(rec, from, from == alert_state::firing);
    }
}

}  // namespace

// ---- The schema, opened ----

namespace {

// The store's schema version, refused when a newer build made it or when it
// is no store of watch's.
std::int64_t checked_version(database& db) {
    const std::int64_t version = std::stoll(info(db, "schema_version").value_or("0"));
    if (version > store_version) {
        throw database_error("the store " + db.name() + " was made by a newer urea-reactor (its schema version " +
                             std::to_string(version) + "; this build knows versions up to " + std::to_string(store_version) +
                             "): use that build, or a new store");
    }
    if (version < 1) throw database_error("the store " + db.name() + " is not a store of urea-reactor watch");
    return version;
}

}  // namespace

void check_store_schema(database& db) {
    if (!has_table(db, "store_info")) throw database_error("the store " + db.name() + " is not a store of urea-reactor watch");
    checked_version(db);
}

void open_store_schema(database& db) {
    database_transaction t(db);
    if (!has_table(db, "store_info")) {
        for (const char* sql : schema) {
            std::string s = sql;
            db.execute(s);
        }
        set_info(db, "schema_version", std::to_string(store_version));
    }
    const std::int64_t version = checked_version(db);
    // Migrations from older versions go here, one step at a time.
    if (version < 2) {
        db.execute("CREATE TABLE fits (key TEXT PRIMARY KEY, answer BLOB NOT NULL)");
        set_info(db, "schema_version", "2");
    }
    add_window_columns(db);
    t.commit();
}

watch_pass_report watch_pass(database& db, const std::optional<watch_setup>& given, const watch_pass_options& o,
                             const std::function<monitor_result(monitor_problem&)>& follow) {
    watch_pass_report report;
    database_transaction t(db);
    std::optional<watch_setup> setup = stored_setup(db);
    if (!setup) {
        if (!given) throw input_error("the store " + db.name() + " is empty: its first pass needs a SOURCE to follow");
        setup = given;
        save_setup(db, *setup);
    } else if (given) {
        const std::string differs = setup_difference(*setup, *given);
        if (!differs.empty()) {
            throw input_error("the store " + db.name() + " follows another setup: " + differs +
                              "; a store keeps the setup of its first pass (a new store for another)");
        }
    }
    report.pass = next_id(db, "passes");
    if (o.reread) {
        db.execute("DELETE FROM history_days");
        db.execute("DELETE FROM sources");
        db.execute("DELETE FROM reads");
        db.execute("DELETE FROM store_info WHERE key IN ('cutoff', 'last_lab', 'header', 'zoned')");
    }
    std::string header = info(db, "header").value_or("");
    const std::size_t header_line = static_cast<std::size_t>(std::stoll(info(db, "header_line").value_or("1")));
    std::string first_header;
    std::optional<std::int64_t> last_lab, earliest;
    if (const auto l = info(db, "last_lab")) last_lab = std::stoll(*l);
    source_reading reading;
    reading.take = [&](piece& p) {
        report.rows_read += p.rows.size();
        if (p.last_lab) last_lab = last_lab ? std::max(*last_lab, *p.last_lab) : p.last_lab;
        if (p.rows.empty()) return;
        set_info(db, "zoned", p.zoned ? "1" : "0");
        const std::int64_t first = merge_rows(db, std::move(p.rows), separator_of(header.empty() ? first_header : header)).value();
        earliest = earliest ? std::min(*earliest, first) : first;
    };
    if (!setup->source.readings.empty()) {
        read_readings(db, setup->source, report.pass, reading, first_header);
    } else if (setup->source.folder) {
        read_folder(db, setup->source.path, header, report.pass, reading, first_header);
    } else {
        read_growing(db, setup->source.path, header, header_line, report.pass, reading, first_header);
    }
    if (header.empty() && !first_header.empty()) {
        header = first_header;
        set_info(db, "header", header);
    }
    report.read = reading.read;
    report.zoned = info(db, "zoned").value_or("0") == "1";
    if (last_lab) set_info(db, "last_lab", std::to_string(*last_lab));
    const std::optional<std::int64_t> before_cutoff =
        info(db, "cutoff") ? std::optional<std::int64_t>(std::stoll(*info(db, "cutoff"))) : std::nullopt;
    const std::optional<std::int64_t> last = last_stored_time(db);

    // Every row up to the end of the last window complete.
    std::optional<monitor_result> before;
    if (!db.query("SELECT 1 FROM result").empty()) {
        before = monitor_result_of(db.query("SELECT bytes FROM result WHERE id = 1").front().text(0));
    }
    std::optional<monitor_problem> problem;
    std::optional<monitor_result> result = before;
    if (last) {
        const std::int64_t step = setup->options.step_ms > 0 ? setup->options.step_ms : setup->options.window_ms;
        const std::int64_t cutoff = floor_div(*last, step) * step;
        const bool reopened = earliest && before_cutoff && *earliest < *before_cutoff;
        const bool grown = !before_cutoff || cutoff > *before_cutoff;
        const auto first_row = db.query("SELECT MIN(first_time) FROM history_days").front().maybe_integer(0);
        if ((reopened || grown || o.reread || !before) && first_row && *first_row < cutoff) {
            history h = stored_history(db, setup->source.path, header, cutoff);
            monitor_problem p = monitor_problem_of(std::move(h), setup->base, setup->options);
            stored_fits fits(db, o.build);
            p.fits = &fits;
            monitor_result m = follow(p);
            p.fits = nullptr;
            fits.save();
            // a1 estimated at the first pass, held from then on.
            if (!setup->options.a1 && m.a1_how == monitor_result::a1_source::estimated) {
                setup->options.a1 = m.a1;
                save_setup(db, *setup);
            }
            store_results(db, p, m, o.build, report.pass, before ? &*before : nullptr, report);
            set_info(db, "cutoff", std::to_string(cutoff));
            report.followed = true;
            report.cutoff = cutoff;
            problem = std::move(p);
            result = std::move(m);
        } else {
            report.cutoff = before_cutoff;
            if (result) report.windows = result->windows.size();
        }
    }
    // The alerts, from the result and the rows as they now stand.
    if (result && last) {
        monitor_problem shell;
        if (!problem) {
            const json hj = json::parse(db.query("SELECT history FROM result WHERE id = 1").front().text(0));
            shell.h.zoned = hj.at("zoned").get<bool>();
            auto spool = std::make_shared<history_spool>();
            spool->rows = hj.at("rows").get<std::size_t>();
            spool->first = hj.at("first").get<std::int64_t>();
            spool->last = hj.at("last").get<std::int64_t>();
            shell.h.spool = spool;
            shell.options = setup->options;
        }
        const monitor_problem& p = problem ? *problem : shell;
        const std::vector<condition> c = conditions_of(*result, p, o.alerts, last_lab, *last, o.now_ms);
        update_alerts(db, c, report.cutoff.value_or(*last), o.now_ms, o.alerts, o, report.pass, p.h.zoned, report);
    }
    db.execute("INSERT INTO passes (id, at, rows_read, followed, cutoff, windows, windows_new, windows_changed) "
               "VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
               {report.pass, o.now_ms, static_cast<std::int64_t>(report.rows_read), std::int64_t{report.followed ? 1 : 0},
                maybe(report.cutoff), static_cast<std::int64_t>(report.windows),
                static_cast<std::int64_t>(report.windows_new), static_cast<std::int64_t>(report.windows_changed)});
    if (!o.dry_run) t.commit();
    return report;
}

watch_read read_store(database& db) {
    watch_read out;
    const std::optional<watch_setup> setup = stored_setup(db);
    if (!setup) throw database_error("the store " + db.name() + " holds nothing yet: run watch SOURCE --store " + db.name() + " first");
    out.setup = *setup;
    out.problem.base = setup->base;
    out.problem.options = setup->options;
    const auto r = db.query("SELECT history, bytes FROM result WHERE id = 1");
    if (!r.empty()) {
        const json hj = json::parse(r.front().text(0));
        out.problem.h.file = hj.at("file").get<std::string>();
        out.problem.h.sha256 = hj.at("sha256").get<std::string>();
        out.problem.h.zoned = hj.at("zoned").get<bool>();
        auto spool = std::make_shared<history_spool>();
        spool->rows = hj.at("rows").get<std::size_t>();
        spool->first = hj.at("first").get<std::int64_t>();
        spool->last = hj.at("last").get<std::int64_t>();
        out.problem.h.spool = spool;
        out.problem.spacing_ms = hj.at("spacing_ms").get<std::int64_t>();
        out.problem.warnings = hj.at("warnings").get<std::vector<std::string>>();
        out.result = monitor_result_of(r.front().text(1));
        out.followed = true;
    }
    for (const database_row& a : db.query(std::string("SELECT ") + alert_columns + " FROM alerts ORDER BY id")) {
        out.alerts.push_back(alert_of(a));
    }
    for (const database_row& x : db.query("SELECT name, first_line, last_line, rows, sha256 FROM reads ORDER BY id")) {
        out.reads.push_back(x.text(0) + ": lines " + std::to_string(x.integer(1)) + ".." + std::to_string(x.integer(2)) + ", " +
                            std::to_string(x.integer(3)) + " rows, SHA-256 " + x.text(4));
    }
    out.passes = db.query("SELECT COUNT(*) FROM passes").front().integer(0);
    out.last_row = last_stored_time(db);
    return out;
}

std::vector<tag_mapping> read_tag_map(const std::string& path) {
    const csv_table t = csv_records(read_file(path), path);
    const csv_record& head = table_header(t.records, path);
    std::size_t tag_at = SIZE_MAX, column_at = SIZE_MAX, unit_at = SIZE_MAX;
    for (std::size_t k = 0; k < head.cells.size(); ++k) {
        const std::string c = trimmed_cell(head.cells[k]);
        if (c == "tag") tag_at = k;
        if (c == "column") column_at = k;
        if (c == "unit") unit_at = k;
    }
    if (tag_at == SIZE_MAX || column_at == SIZE_MAX) {
        throw runs_error(path, head.line, 0, "a tag map's header names the columns tag, column and (optionally) unit");
    }
    // The readings' units each column may be given in, as (unit, scale, offset) to the column's own.
    struct conversion {
        const char* unit;
        double scale, offset;
    };
    const auto units_of = [](const std::string& column) -> std::vector<conversion> {
        if (column.size() > 2 && column.compare(column.size() - 2, 2, "_C") == 0) {
            return {{"C", 1, 0}, {"degC", 1, 0}, {"F", 5.0 / 9.0, -32.0 * 5.0 / 9.0}, {"degF", 5.0 / 9.0, -32.0 * 5.0 / 9.0},
                    {"K", 1, -273.15}};
        }
        if (column == "pressure_bar") return {{"bar", 1, 0}, {"kPa", 0.01, 0}, {"MPa", 10, 0}};
        if (column.rfind("feed_kmol_h.", 0) == 0) return {{"kmol/h", 1, 0}, {"kmol/s", 3600, 0}, {"mol/s", 3.6, 0}};
        if (column.rfind("w_", 0) == 0 || column.rfind("co2_conversion", 0) == 0) return {{"fraction", 1, 0}, {"%", 0.01, 0}};
        return {};
    };
    std::vector<tag_mapping> tags;
    for (std::size_t r = 1; r < t.records.size(); ++r) {
        const csv_record& rec = t.records[r];
        const auto cell = [&](std::size_t k) { return k < rec.cells.size() ? trimmed_cell(rec.cells[k]) : std::string(); };
        tag_mapping m{cell(tag_at), cell(column_at), unit_at == SIZE_MAX ? std::string() : cell(unit_at)};
        if (m.tag.empty() || m.column.empty()) throw runs_error(path, rec.line, 0, "a tag and its column are needed");
        if (std::any_of(tags.begin(), tags.end(), [&](const tag_mapping& x) { return x.tag == m.tag; })) {
            throw runs_error(path, rec.line, tag_at + 1, "the tag " + m.tag + " mapped twice");
        }
        if (!m.unit.empty()) {
            const std::vector<conversion> units = units_of(m.column);
            const auto u = std::find_if(units.begin(), units.end(), [&](const conversion& c) { return m.unit == c.unit; });
            if (u == units.end()) {
                std::string known;
                for (const conversion& c : units) known += (known.empty() ? "" : ", ") + std::string(c.unit);
                throw runs_error(path, rec.line, unit_at + 1,
                                 "the unit " + m.unit + " is not one the column " + m.column + " can be read in" +
                                     (known.empty() ? " (it takes its own only: leave the unit empty)" : " (" + known + ")"));
            }
            m.scale = u->scale;
            m.offset = u->offset;
        }
        tags.push_back(m);
    }
    if (tags.empty()) throw runs_error(path, head.line, 0, "no tag mapped: each row maps a tag to a history's column");
    return tags;
}

nlohmann::ordered_json alert_json(const alert_record& a, bool zoned) {
    const auto t = [&](const std::optional<std::int64_t>& v) { return v ? ojson(timestamp_text(*v, zoned)) : ojson(nullptr); };
    ojson j;
    j["id"] = a.id;
    j["kind"] = a.kind;
    j["subject"] = a.subject;
    j["state"] = alert_state_name(a.state);
    j["since"] = timestamp_text(a.since, zoned);
    j["fired"] = t(a.fired);
    j["resolved"] = t(a.resolved);
    j["windows"] = {{"first", t(a.first_window)}, {"last", t(a.last_window)}};
    j["summary"] = a.summary;
    j["evidence"] = ojson::parse(a.evidence);
    return j;
}

nlohmann::ordered_json store_json(const database& db, const watch_read& r, const build_info& build,
                                  const vocabulary& words) {
    ojson j;
    if (r.followed) {
        j = monitor_json(monitor_report{&r.problem, &r.result, words}, build);
    } else {
        j["windows"] = ojson::array();
    }
    const bool zoned = r.problem.h.zoned;
    j["store"] = {{"name", db.name()},
                  {"kind", db.kind()},
                  {"source", r.setup.source.path},
                  {"passes", r.passes},
                  {"last_row", r.last_row ? ojson(timestamp_text(*r.last_row, zoned)) : ojson(nullptr)},
                  {"reads", r.reads}};
    j["alerts"] = ojson::array();
    for (const alert_record& a : r.alerts) j["alerts"].push_back(alert_json(a, zoned));
    return j;
}

std::vector<outbox_entry> outbox_due(database& db, std::int64_t now_ms) {
    std::vector<outbox_entry> out;
    for (const database_row& r : db.query("SELECT id, channel, message_id, subject, text, body, attempts FROM outbox WHERE "
                                          "delivered IS NULL AND given_up IS NULL AND next_attempt <= ? ORDER BY id",
                                          {now_ms})) {
        out.push_back({r.integer(0), r.text(1), r.text(2), r.text(3), r.text(4), r.text(5), r.integer(6)});
    }
    return out;
}

void outbox_record(database& db, std::int64_t id, bool delivered, bool permanent, const std::string& error,
                   std::int64_t now_ms) {
    database_transaction t(db);
    if (delivered) {
        db.execute("UPDATE outbox SET delivered = ?, attempts = attempts + 1, last_error = NULL WHERE id = ?", {now_ms, id});
    } else {
        const auto r = db.query("SELECT attempts FROM outbox WHERE id = ?", {id});
        const std::int64_t attempts = r.empty() ? 0 : r.front().integer(0) + 1;
        // 1, 2, 4 ... minutes, at most an hour; given up after 10 attempts.
        const std::int64_t wait = std::min<std::int64_t>(ms_per_hour, ms_per_minute << std::min<std::int64_t>(attempts - 1, 6));
        const bool give_up = permanent || attempts >= 10;
        db.execute("UPDATE outbox SET attempts = ?, next_attempt = ?, last_error = ?, given_up = ? WHERE id = ?",
                   {attempts, now_ms + wait, error, give_up ? database_value(now_ms) : database_value(nullptr), id});
    }
    t.commit();
}

}  // namespace workbench

namespace workbench {

delivery_report deliver_outbox(database& db, const delivery_targets& targets, std::int64_t now_ms) {
    delivery_report r;
    for (const outbox_entry& e : outbox_due(db, now_ms)) {
        const alert_message m{e.message_id, e.subject, e.text, e.json};
        delivery_outcome o;
        if (e.channel == "email" && targets.mail) {
            o = send_mail(*targets.mail, m, targets.timeout);
        } else if (e.channel == "webhook" && targets.webhook) {
            o = post_webhook(*targets.webhook, m, targets.timeout);
        } else {
            ++r.waiting;
            continue;
        }
        outbox_record(db, e.id, o.delivered, o.permanent, o.error, now_ms);
        if (o.delivered) {
            ++r.delivered;
            continue;
        }
        const bool gave_up = o.permanent || e.attempts + 1 >= 10;
        ++(gave_up ? r.given_up : r.failed);
        r.errors.push_back(e.channel + " " + e.message_id + ": " + o.error + (gave_up ? " (given up)" : " (tried again later)"));
    }
    return r;
}

}  // namespace workbench
