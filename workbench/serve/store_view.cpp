#include "serve/store_view.h"

#include <cmath>

#include "base/timestamps.h"
#include "report/monitor_report.h"
#include "report/table.h"

namespace workbench {

namespace {

using ojson = nlohmann::ordered_json;

ojson time_or_null(const std::optional<std::int64_t>& ms, bool zoned) {
    return ms ? ojson(timestamp_text(*ms, zoned)) : ojson(nullptr);
}

// A cell as JSON: numbers as numbers (missing: null), whole numbers as
// integers, yes/no as booleans, texts and times as strings (empty: null).
ojson cell_json(const column& c, std::size_t i) {
    if (holds_text(c.kind)) return c.texts[i].empty() ? ojson(nullptr) : ojson(c.texts[i]);
    const double v = c.numbers[i];
    if (std::isnan(v)) return nullptr;
    if (c.kind == cell_kind::boolean) return v != 0.0;
    if (c.kind == cell_kind::whole) return static_cast<std::int64_t>(v);
    return v;
}

}  // namespace

std::int64_t store_passes(database& db) { return db.query("SELECT COUNT(*) FROM passes").front().integer(0); }

std::shared_ptr<const store_snapshot> read_snapshot(database& db, const build_info& build) {
    auto s = std::make_shared<store_snapshot>();
    // One read transaction: a pass committed meanwhile is seen whole or not at all.
    database_transaction t(db);
    const watch_read r = read_store(db);
    const bool zoned = r.problem.h.zoned;
    s->passes = r.passes;
    s->zoned = zoned;
    s->last_row_ms = r.last_row;
    // The page says the monitor's messages in the library's own words.
    s->document = store_json(db, r, build, neutral_vocabulary());
    const monitor_report report{&r.problem, &r.result, neutral_vocabulary()};
    if (r.followed) {
        const table t_windows = monitor_table(report);
        for (std::size_t i = 0; i < r.result.windows.size(); ++i) {
            ojson row = ojson::object();
            for (const column& c : t_windows.columns()) row[c.name] = cell_json(c, i);
            s->windows.push_back(std::move(row));
            s->window_start_ms.push_back(r.result.windows[i].start);
            s->window_end_ms.push_back(r.result.windows[i].end);
        }
        s->csv = monitor_csv(report);
        monitor_html_context c;
        c.workbench = build.workbench;
        c.plugin = build.plugin;
        c.plugin_file = build.plugin_file;
        c.options = "watch --store " + db.name();
        s->html = monitor_html(report, c);
    }
    s->meter_bias = {{"start", ojson::array()}, {"meters", ojson::object()}};
    const ojson& windows = s->document["windows"];
    for (std::size_t i = 0; i < windows.size(); ++i) {
        s->meter_bias["start"].push_back(windows[i]["start"]);
        const ojson& balance = windows[i]["balance"];
        if (!balance.contains("reconciled")) continue;
        for (const auto& [name, v] : balance["reconciled"].items()) {
            ojson& m = s->meter_bias["meters"][name];
            if (m.is_null()) m = {{"bias", ojson::array()}, {"lower", ojson::array()}, {"upper", ojson::array()}};
            for (const char* k : {"bias", "lower", "upper"}) {
                while (m[k].size() < i) m[k].push_back(nullptr);
            }
            const bool known = v["measured"].is_number() && v["reconciled"].is_number() && v["reconciled"].get<double>() != 0.0;
            if (!known) continue;
            const double reconciled = v["reconciled"].get<double>();
            const double bias = v["measured"].get<double>() / reconciled - 1.0;
            const double half = v["sigma"].is_number() ? 1.96 * v["sigma"].get<double>() / std::fabs(reconciled) : NAN;
            m["bias"].push_back(bias);
            m["lower"].push_back(std::isnan(half) ? ojson(nullptr) : ojson(bias - half));
            m["upper"].push_back(std::isnan(half) ? ojson(nullptr) : ojson(bias + half));
        }
    }
    for (auto& [name, m] : s->meter_bias["meters"].items()) {
        (void)name;
        for (const char* k : {"bias", "lower", "upper"}) {
            while (m[k].size() < windows.size()) m[k].push_back(nullptr);
        }
    }
    for (const char* kind : {"drift", "trend", "meter", "screening"}) s->findings[kind] = ojson::array();
    for (const database_row& f : db.query("SELECT kind, doc FROM findings WHERE kind <> 'screening' ORDER BY kind, seq")) {
        s->findings[f.text(0)].push_back(ojson::parse(f.text(1)));
    }
    // The screening from the result, where each column's has its name (the
    // findings table keeps them without it).
    if (s->document.contains("screening")) {
        for (const auto& [name, c] : s->document["screening"].items()) {
            ojson item = {{"column", name}};
            for (const auto& [k, v] : c.items()) item[k] = v;
            s->findings["screening"].push_back(item);
        }
    }
    s->alerts = s->document["alerts"];
    for (const database_row& x : db.query("SELECT pass, name, first_line, last_line, first_byte, end_byte, rows, sha256, "
                                          "first_time, last_time FROM reads ORDER BY id")) {
        s->reads.push_back({{"pass", x.integer(0)},
                            {"name", x.text(1)},
                            {"first_line", x.maybe_integer(2) ? ojson(*x.maybe_integer(2)) : ojson(nullptr)},
                            {"last_line", x.maybe_integer(3) ? ojson(*x.maybe_integer(3)) : ojson(nullptr)},
                            {"first_byte", x.maybe_integer(4) ? ojson(*x.maybe_integer(4)) : ojson(nullptr)},
                            {"end_byte", x.maybe_integer(5) ? ojson(*x.maybe_integer(5)) : ojson(nullptr)},
                            {"rows", x.integer(6)},
                            {"sha256", x.text(7)},
                            {"first_time", time_or_null(x.maybe_integer(8), zoned)},
                            {"last_time", time_or_null(x.maybe_integer(9), zoned)}});
    }
    const auto last_pass = db.query("SELECT at FROM passes ORDER BY id DESC LIMIT 1");
    std::size_t firing = 0, pending = 0;
    for (const alert_record& a : r.alerts) {
        firing += a.state == alert_state::firing ? 1 : 0;
        pending += a.state == alert_state::pending ? 1 : 0;
    }
    s->status = {{"store", {{"name", db.name()}, {"kind", db.kind()}}},
                 {"history", r.followed ? ojson(r.problem.h.file) : ojson(nullptr)},
                 {"passes", r.passes},
                 {"last_pass", last_pass.empty() ? ojson(nullptr) : ojson(timestamp_text(last_pass.front().integer(0), true))},
                 {"last_row", time_or_null(r.last_row, zoned)},
                 {"windows", s->windows.size()},
                 {"latest_window", s->windows.empty() ? ojson(nullptr) : s->windows.back()},
                 {"alerts", {{"firing", firing}, {"pending", pending}}}};
    return s;
}

}  // namespace workbench
