// `watch`: a plant's monitor kept current in a store (store/database.h).
// Each pass reads what is new in its source (rows appended to a growing
// history file, or new files in a folder of exports), keeps the rows in the
// store, and, when a window has completed or a late row reopened one,
// follows the history again as `monitor` does over every row up to the end
// of the last complete window, so that the stored windows are monitor's
// over the same rows; then it updates the alerts. Everything a pass writes
// is one transaction: a pass killed at any moment leaves the store as it was
// before it, and the next pass does its work. docs/watch.md says how.
#ifndef UREA_WORKBENCH_STORE_WATCH_H
#define UREA_WORKBENCH_STORE_WATCH_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/monitor.h"
#include "notify/delivery.h"
#include "session/version.h"
#include "store/database.h"

namespace workbench {

// A historian's tag as a history's column: its readings' unit converted to
// the column's (value * scale + offset).
struct tag_mapping {
    std::string tag, column, unit;
    double scale = 1.0, offset = 0.0;
};

// Where the rows come from: a history file that grows (rows appended), a
// folder whose *.csv files are exports, each read once, or a table of
// readings in the store's database in a historian's long form (id, time,
// tag, value: each reading once, by its id, which grows as they are added),
// its tags mapped to columns.
struct watch_source {
    std::string path;
    bool folder = false;
    std::string readings;              // the readings' table; empty: a file or a folder
    std::vector<tag_mapping> tags;
};

// A tag map file: CSV with the columns tag, column, unit (a reading's unit:
// C, F, K; bar, kPa, MPa; kmol/h, kmol/s, mol/s; fraction, %; or empty for
// the column's own). Throws runs_error naming the file, line and column.
std::vector<tag_mapping> read_tag_map(const std::string& path);

// What a store follows, fixed at its first pass.
struct watch_setup {
    watch_source source;
    reactor_case base;
    monitor_options options;
};

// When the alerts fire.
struct alert_settings {
    std::int64_t pending_ms = 0;                     // a condition holds this long before it fires
    std::int64_t lab_gap_ms = 12 * ms_per_hour;      // no lab sample for longer than this
    std::int64_t stale_ms = 0;                       // no new row for longer than this (0: two windows)
    std::optional<double> approach_below;            // the latest window's approach to equilibrium below this
    std::int64_t change_hold_windows = 7;            // an a2 change stays firing this many windows
};

enum class alert_state { pending, firing, resolved };
const char* alert_state_name(alert_state s);

struct alert_record {
    std::int64_t id = 0;
    std::string kind;       // "a2 changed", "a2 trending", "meter biased", "sensor frozen", "no lab sample",
                            // "no new data", "approach low"
    std::string subject;    // what it is about: "a2", a column's name, "history"
    alert_state state = alert_state::pending;
    std::int64_t since = 0;                  // when its condition was first seen (ms)
    std::optional<std::int64_t> fired, resolved;
    std::optional<std::int64_t> first_window, last_window;  // the windows (their starts) of its evidence
    std::string summary;    // one line, in words
    std::string evidence;   // a JSON object: the numbers behind it
};

// A change of an alert's state in a pass, and the notices it queued.
struct alert_change {
    alert_record alert;
    std::optional<alert_state> from;  // none: new
    bool notify = false;              // firing, or resolved after firing: sent
};

struct watch_pass_options {
    alert_settings alerts;
    bool reread = false;      // the rows read again from the source's start
    bool dry_run = false;     // nothing kept: the pass rolled back at its end
    std::int64_t now_ms = 0;  // the wall clock
    build_info build;
    // The message channels configured (the outbox gets an entry for each
    // notice and channel): "email", "webhook".
    std::vector<std::string> channels;
};

struct watch_pass_report {
    std::int64_t pass = 0;
    bool zoned = false;                // the history's times carry UTC offsets
    std::vector<std::string> read;     // what was read, in words: "plant.csv: lines 2..1441, 1440 rows"
    std::size_t rows_read = 0;
    bool followed = false;             // the monitor ran
    std::optional<std::int64_t> cutoff;  // the end of the last complete window
    std::size_t windows = 0, windows_new = 0, windows_changed = 0;
    std::vector<alert_change> changes;
    std::vector<std::string> notes;
};

// Opens a store's schema (made when the store is new, migrated when an older
// build made it); throws database_error for a store of a newer build.
void open_store_schema(database& db);
// For reading (a store opened read-only, beside a pass under way): the
// schema checked as above, nothing made or migrated; throws database_error
// for what is no store of watch's, or a store of a newer build.
void check_store_schema(database& db);

// One pass (the caller holds the store's lock). `given`: the setup from the
// command line, required at the first pass and compared afterwards (a
// different one is refused, naming what differs). `follow` runs the monitor.
// Throws runs_error / input_error for bad input (nothing stored), and
// database_error.
watch_pass_report watch_pass(database& db, const std::optional<watch_setup>& given, const watch_pass_options& o,
                             const std::function<monitor_result(monitor_problem&)>& follow);

// A store as read back: its setup, the history it followed (its rows not
// held), the result and the alerts.
struct watch_read {
    watch_setup setup;
    monitor_problem problem;   // h: the history's description (no rows)
    monitor_result result;
    bool followed = false;     // a result is there
    std::vector<alert_record> alerts;
    std::vector<std::string> reads;  // provenance: each piece read, in words
    std::int64_t passes = 0;
    std::optional<std::int64_t> last_row;  // the last row's time
};
watch_read read_store(database& db);

// What a store holds as one JSON document: monitor --json's (the history,
// windows, drifts, trends, meters, screening, ...; only `windows`, empty,
// before a window was followed), then `store` (its name, kind, passes, last
// row, provenance) and `alerts` (each with its kind, subject, state, times,
// windows, summary and evidence).
nlohmann::ordered_json store_json(const database& db, const watch_read& r, const build_info& build,
                                  const vocabulary& words);
nlohmann::ordered_json alert_json(const alert_record& a, bool zoned);

// The outbox: notices not yet delivered.
struct outbox_entry {
    std::int64_t id = 0;
    std::string channel;      // "email", "webhook"
    std::string message_id;   // stable: the receiver's key against duplicates
    std::string subject, text, json;
    std::int64_t attempts = 0;
};
// Due now: not delivered, not given up, its next attempt due.
std::vector<outbox_entry> outbox_due(database& db, std::int64_t now_ms);
// Records an attempt: delivered, or failed (retried later with a growing
// wait, or given up when `permanent` or after 10 attempts). Its own transaction.
void outbox_record(database& db, std::int64_t id, bool delivered, bool permanent, const std::string& error,
                   std::int64_t now_ms);

// Where the notices go: those configured now (a notice of a channel not
// configured waits in the outbox).
struct delivery_targets {
    std::optional<mail_target> mail;
    std::optional<webhook_target> webhook;
    std::chrono::milliseconds timeout{10000};
};
struct delivery_report {
    std::size_t delivered = 0, failed = 0, given_up = 0, waiting = 0;
    std::vector<std::string> errors;  // each failure, in words
};
// Sends each notice due, each recorded as it is sent (its own transaction):
// a process that dies between sending and recording sends it again at the
// next pass, with the same message id, which the receiver can tell (an
// e-mail's Message-ID, a webhook's Idempotency-Key); none is lost.
delivery_report deliver_outbox(database& db, const delivery_targets& targets, std::int64_t now_ms);

}  // namespace workbench

#endif
