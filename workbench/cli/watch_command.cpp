// urea-reactor watch [SOURCE] [CASE] --store STORE: a plant's monitor kept
// current in a store, its alerts raised and sent; or the store read back.
#include <chrono>
#include <iostream>
#include <thread>

#include "cli/common.h"
#include "report/monitor_report.h"

namespace workbench::cli {

namespace {

std::int64_t wall_clock_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void print_pass(std::ostream& out, const watch_pass_report& r, bool dry_run, bool zoned) {
    out << "Pass " << r.pass << (dry_run ? " (dry run: nothing kept, nothing sent)" : "") << ": ";
    if (r.read.empty()) {
        out << "nothing new\n";
    } else {
        out << r.rows_read << " rows read\n";
        for (const std::string& s : r.read) out << "  " << s << "\n";
    }
    if (r.followed) {
        out << "  followed to " << timestamp_text(*r.cutoff, zoned) << ": " << r.windows << " windows, " << r.windows_new
            << " new, " << r.windows_changed << " changed\n";
    } else {
        out << "  no window completed since the last pass" << (r.cutoff ? " (followed to " + timestamp_text(*r.cutoff, zoned) + ")" : "")
            << "\n";
    }
    for (const alert_change& c : r.changes) {
        out << "  alert " << c.alert.id << " " << (c.from ? std::string(alert_state_name(*c.from)) + " -> " : std::string("new, "))
            << alert_state_name(c.alert.state) << ": " << c.alert.kind << " (" << c.alert.subject << "): " << c.alert.summary
            << (c.notify ? "" : " [not sent]") << "\n";
    }
}

int show_store(database& db, const watch_job& job, const checked_outputs& out) {
    const watch_read r = read_store(db);
    const build_info build = build_of(job.plugin);
    staged_outputs files;
    const monitor_report report{&r.problem, &r.result, words()};
    if (r.followed) {
        monitor_html_context page;
        page.options = "watch --store " + db.name();
        stage_monitor_files(files, out, report, build, std::move(page));
    } else if (out.csv || out.plot || out.report) {
        throw input_error("the store " + db.name() + " has no window followed yet: nothing to write");
    }
    files.commit();
    if (out.json) {
        nlohmann::ordered_json j = store_json(db, r, build, words());
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        if (r.followed) {
            print_monitor(std::cout, report);
        } else {
            std::cout << "The store " << db.name() << " has no window followed yet.\n";
        }
        std::cout << "\nAlerts\n";
        std::size_t shown = 0;
        for (const alert_record& a : r.alerts) {
            if (a.state == alert_state::resolved) continue;
            std::cout << "  " << alert_state_name(a.state) << "  " << a.kind << " (" << a.subject << "): " << a.summary << "\n";
            ++shown;
        }
        if (shown == 0) std::cout << "  none open (" << r.alerts.size() << " in the store's history)\n";
    }
    return finish(files, exit_ok);
}

}  // namespace

int watch_command(const invocation& in) {
    watch_request r;
    r.monitor.history.file = in.text("source");
    r.monitor.case_ = case_of(in);
    r.monitor.plugin = in.text("--plugin");
    r.monitor.window = text_of(in, "--window");
    r.monitor.step = text_of(in, "--step");
    r.monitor.frozen = text_of(in, "--frozen");
    r.monitor.fix = values_of(in, "--fix");
    r.monitor.meter_sigma = values_of(in, "--meter-sigma");
    r.monitor.workers = workers_of(in);
    r.store = in.text("--store");
    r.readings = text_of(in, "--readings");
    r.tag_map = text_of(in, "--tag-map");
    r.every = text_of(in, "--every");
    r.reread = in.flag("--reread");
    r.dry_run = in.flag("--dry-run");
    r.pending = text_of(in, "--pending");
    r.lab_gap = text_of(in, "--lab-gap");
    r.stale = text_of(in, "--stale");
    r.approach_below = text_of(in, "--approach-below");
    r.smtp = text_of(in, "--smtp");
    r.mail_from = text_of(in, "--mail-from");
    r.mail_to = in.texts("--mail-to");
    r.webhook = text_of(in, "--webhook");
    const checked_outputs out = check_outputs(outputs_of(in), inputs_of(r));
    const watch_job job = check_watch(r, on_stderr());

    std::unique_ptr<database> db;
    try {
        // Only read (no SOURCE): without the write lock a pass holds.
        if (job.setup) {
            db = open_database(job.store, true);
            open_store_schema(*db);
        } else {
            db = open_database_read_only(job.store);
            check_store_schema(*db);
        }
    } catch (const database_error& e) {
        throw input_error(e.what());
    }
    if (!job.setup) {
        database_transaction snapshot(*db);  // a read transaction: one state of the store
        return show_store(*db, job, out);
    }

    if (!db->try_lock()) {
        std::cerr << "urea-reactor: error: the store " << db->name()
                  << " is being watched by another process: one watcher to a store\n";
        return exit_busy;
    }
    session s(job.plugin);
    set_workers(s, job.workers, in);
    const build_info build = build_of(s.plugin_path());
    int status = exit_ok;
    for (;;) {
        watch_pass_report report;
        try {
            report = watch_once(s, *db, job, build, wall_clock_ms());
        } catch (const database_error& e) {
            throw input_error(e.what());
        }
        if (!out.json || job.every_ms > 0) print_pass(std::cout, report, job.dry_run, report.zoned);
        std::cout.flush();
        if (!job.dry_run) {
            const delivery_report d = deliver_outbox(*db, job.targets, wall_clock_ms());
            if (d.delivered > 0 && !quiet()) std::cerr << "urea-reactor: " << d.delivered << " notices sent\n";
            warn(d.errors);
            if (d.waiting > 0) {
                warn(std::to_string(d.waiting) + " notices wait for a channel not configured in this pass (--smtp, --webhook)");
            }
        }
        if (job.every_ms <= 0) break;
        // A stop signal ends the process where it is (cli/signals.h): a pass
        // under way is rolled back by the database, not half kept.
        std::this_thread::sleep_for(std::chrono::milliseconds(job.every_ms));
    }
    if (out.json || out.csv || out.plot || out.report) {
        if (job.dry_run) return status;
        status = show_store(*db, job, out);
    }
    return status;
}

}  // namespace workbench::cli
