#include "request/watch.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "base/text.h"
#include "base/timestamps.h"

namespace workbench {

namespace {

bool case_given(const case_request& c) {
    return c.file || c.given || c.model || c.trays || c.volume || c.pressure || c.t_in || c.t_out || c.a1 || c.a2 || c.co2 ||
           c.nh3_co2 || c.h2o_co2;
}

}  // namespace

watch_job check_watch(const watch_request& r, const notices& n) {
    watch_job j;
    if (r.store.empty()) throw input_error(field("store"), "a store is needed: a file (plant.db) or postgresql://...");
    j.store = r.store;
    const monitor_request& m = r.monitor;
    if (r.readings && !m.history.file.empty()) {
        throw input_error(field("readings"), "instead of a SOURCE, not beside one: the store follows one source");
    }
    if (r.readings.has_value() != r.tag_map.has_value()) {
        throw input_error(field(r.readings ? "tag_map" : "readings"),
                          r.readings ? "the readings' tags as the history's columns: a CSV file of tag,column,unit"
                                     : "belongs to a table of readings (--readings TABLE)");
    }
    if (r.readings) {
        const std::string& name = *r.readings;
        const bool identifier = !name.empty() && name.size() <= 63 && (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_') &&
                                std::all_of(name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
        if (!identifier) throw input_error(field("readings"), "a table's name: letters, digits and _ (got \"" + name + "\")");
    }
    const bool source = !m.history.file.empty() || r.readings.has_value();
    if (r.every) {
        if (!source) throw input_error(field("every"), "keeps a source followed: give the SOURCE");
        j.every_ms = duration_given("every", *r.every);
    }
    if (r.pending) j.alerts.pending_ms = duration_given("pending", *r.pending);
    if (r.lab_gap) j.alerts.lab_gap_ms = duration_given("lab_gap", *r.lab_gap);
    if (r.stale) j.alerts.stale_ms = duration_given("stale", *r.stale);
    if (r.approach_below) {
        const double v = number_given(field("approach_below"), *r.approach_below, number_rule::positive);
        if (v > 1.0) {
            throw input_error(field("approach_below"),
                              "a fraction of the equilibrium's conversion, at most 1 (got " + r.approach_below->text + ")");
        }
        j.alerts.approach_below = v;
    }
    j.reread = r.reread;
    j.dry_run = r.dry_run;
    if ((r.reread || r.dry_run) && !source) {
        throw input_error(field(r.reread ? "reread" : "dry_run"), "belongs to a pass: give the SOURCE");
    }
    if (r.smtp || !r.mail_to.empty() || r.mail_from) {
        if (!r.smtp) throw input_error(field("smtp"), "the mail server is needed to send alerts by e-mail (smtp://HOST:PORT)");
        if (r.mail_to.empty()) throw input_error(field("mail_to"), "at least one address to send the alerts to");
        mail_target mail{*r.smtp, r.mail_from.value_or("urea-reactor@localhost"), r.mail_to};
        check_mail_target(mail);
        j.targets.mail = mail;
        j.channels.push_back("email");
    }
    if (r.webhook) {
        webhook_target w{*r.webhook};
        check_webhook_target(w);
        j.targets.webhook = w;
        j.channels.push_back("webhook");
    }
    if (!source) {
        if (case_given(m.case_) || m.window || m.step || m.frozen || !m.fix.empty() || !m.meter_sigma.empty()) {
            throw input_error(field("store"),
                              "reading a store takes its case and the monitor's options from it: give them with a SOURCE, "
                              "at the store's first pass");
        }
    } else {
        watch_setup s;
        s.options = check_monitor_options(m);
        checked_case base = check_case(m.case_);
        n.warn(base.warnings);
        warn_without_effect(m.case_, base.c, false, n);
        s.base = base.c;
        std::error_code ec;
        if (r.readings) {
            s.source.path = "readings " + *r.readings;
            s.source.readings = *r.readings;
            s.source.tags = read_tag_map(*r.tag_map);
        } else {
            s.source.path = m.history.file;
            s.source.folder = std::filesystem::is_directory(m.history.file, ec);
        }
        j.setup = s;
    }
    j.plugin = plugin_or_default(m.plugin);
    j.workers = check_workers(m.workers);
    return j;
}

input_list inputs_of(const watch_request& r) {
    const monitor_request& m = r.monitor;
    input_list more;
    if (!m.history.file.empty()) more.emplace_back("the source", m.history.file);
    if (r.tag_map) more.emplace_back("the tag map", *r.tag_map);
    if (!is_postgresql_url(r.store)) more.emplace_back("the store", r.store);
    return inputs_of(m.case_, m.plugin, std::move(more));
}

}  // namespace workbench
