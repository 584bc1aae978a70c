// `watch`: a plant's monitor kept current in a store (store/watch.h), or
// the store read back.
#ifndef UREA_WORKBENCH_REQUEST_WATCH_H
#define UREA_WORKBENCH_REQUEST_WATCH_H

#include <optional>
#include <string>
#include <vector>

#include "request/monitor.h"
#include "store/watch.h"

namespace workbench {

struct watch_request {
    // The source (monitor.history.file; empty: the store read back), the
    // case and the monitor's options, the workers.
    monitor_request monitor;
    std::string store;                         // a file, or postgresql://...
    std::optional<std::string> readings;       // a table of readings in the store's database, instead of a source
    std::optional<std::string> tag_map;        // its tags as columns (a CSV file)
    std::optional<given_number> every;         // a duration: keep running, a pass each
    bool reread = false, dry_run = false;
    std::optional<given_number> pending, lab_gap, stale;  // durations
    std::optional<given_number> approach_below;           // a fraction
    std::optional<std::string> smtp, mail_from, webhook;
    std::vector<std::string> mail_to;
};

struct watch_job {
    std::string store;
    std::optional<watch_setup> setup;          // a source given: a pass
    std::int64_t every_ms = 0;
    bool reread = false, dry_run = false;
    alert_settings alerts;
    delivery_targets targets;                  // those configured
    std::vector<std::string> channels;         // "email", "webhook": those configured
    std::string plugin;
    worker_options workers;
};

// Checks the durations, the alert settings, the case and the monitor's
// options (without a source, those are the store's: none may be given),
// the channels. Throws input_error.
watch_job check_watch(const watch_request& r, const notices& n);
// The files it reads: the source, the tag map, the store (a file).
input_list inputs_of(const watch_request& r);

}  // namespace workbench

#endif
