// What `serve` shows of a watched plant's store: one state of the store read
// whole (in one read transaction), held as the API's answers, and read again
// only when a pass of `watch` has changed the store. Nothing here writes.
#ifndef UREA_WORKBENCH_SERVE_STORE_VIEW_H
#define UREA_WORKBENCH_SERVE_STORE_VIEW_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session/version.h"
#include "store/database.h"
#include "store/watch.h"

namespace workbench {

// An alert and the store as `watch --json` writes them: alert_json and
// store_json (store/watch.h).

// One state of the store.
struct store_snapshot {
    std::int64_t passes = 0;
    bool zoned = false;
    nlohmann::ordered_json document;   // store_json's
    // The windows table's rows, one object each, keyed by the CSV's columns
    // (start, end, rows, ..., approach), in time order; with each its start
    // and end in ms for the range queries.
    std::vector<nlohmann::ordered_json> windows;
    std::vector<std::int64_t> window_start_ms, window_end_ms;
    // Findings by kind ("drift", "trend", "meter", "screening"), each as monitor's JSON writes it.
    std::map<std::string, nlohmann::ordered_json> findings;
    // Each meter's (and lab value's) reading against the balance's
    // reconciled value, window by window: {"start": [...], "meters": {NAME:
    // {"bias": [...], "lower": [...], "upper": [...]}}}, bias = measured /
    // reconciled - 1 with its 95 % interval from the reading's sigma; null
    // where a window was not reconciled.
    nlohmann::ordered_json meter_bias;
    nlohmann::ordered_json alerts = nlohmann::ordered_json::array();
    nlohmann::ordered_json reads = nlohmann::ordered_json::array();
    nlohmann::ordered_json status;     // without the data's age, which the clock gives
    std::optional<std::int64_t> last_row_ms;
    std::string csv;                   // monitor --csv's file
    std::string html;                  // monitor --report's page (without its plot)
};

// Reads the store (the caller's connection, read-only). Throws
// database_error when the store cannot be read or holds nothing yet.
std::shared_ptr<const store_snapshot> read_snapshot(database& db, const build_info& build);

// The number of passes the store has kept: a change means a new snapshot.
std::int64_t store_passes(database& db);

}  // namespace workbench

#endif
