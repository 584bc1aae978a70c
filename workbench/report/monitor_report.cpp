#include "report/monitor_report.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "base/text.h"
#include "report/html_report.h"
#include "report/json_stream.h"
#include "report/palette.h"
#include "report/run_report.h"

namespace workbench {
namespace {

std::string when(const monitor_report& r, std::int64_t ms) { return timestamp_text(ms, r.problem->h.zoned); }

const char* a1_how(monitor_result::a1_source s) {
    switch (s) {
        case monitor_result::a1_source::held: return "held";
        case monitor_result::a1_source::estimated: return "estimated";
        default: return "kept";
    }
}

std::string flags_text(const monitor_window& w, const char* separator) {
    std::string s;
    for (const std::string& f : w.flags) s += (s.empty() ? "" : separator) + f;
    return s;
}

std::string interval_text(const monitor_window& w) {
    if (!w.fitted) return "-";
    return (w.a2_lower ? sig(*w.a2_lower, 4) : "open") + " .. " + (w.a2_upper ? sig(*w.a2_upper, 4) : "open");
}

std::string times_text(const history& h) {
    return h.zoned ? "with UTC offsets; written in UTC (Z)"
                   : "without a UTC offset: read and written as given, as UTC (one clock, no daylight-saving shifts)";
}

std::vector<std::string> drift_lines(const monitor_report& r) {
    std::vector<std::string> out;
    for (const drift& d : r.result->drifts) {
        out.push_back(d.factor + " changed from the window of " + when(r, d.time) + ": after/before " + sig(d.ratio, 3) +
                      " (95 % " + sig(d.lower, 3) + " .. " + sig(d.upper, 3) + "), permutation p = " + sig(d.p_value, 2));
    }
    return out;
}

// "a2 declined by 35 % (0.16 to 0.104) from ... to ..., -0.36 % a day (95 %
// -0.38 .. -0.34)"; "feed_kmol_h.CO2 read 5.1 % high (95 % 4.6 .. 5.6) from
// ... to ... (20 windows; named at ...)".
std::vector<std::string> evidence_lines(const monitor_report& r) {
    const monitor_result& m = *r.result;
    std::vector<std::string> out;
    const auto percent = [](double v) { return sig(100.0 * v, 2); };
    for (const a2_trend& t : m.trends) {
        const double change = t.to / t.from - 1.0;
        out.push_back(std::string("a2 ") + (change < 0.0 ? "declined" : "rose") + " by " + percent(std::abs(change)) +
                      " % (" + sig(t.from, 3) + " to " + sig(t.to, 3) + ") from " + when(r, t.start) + " to " +
                      when(r, t.end) + ", " + percent(t.rate) + " % a day (95 % " + percent(t.lower) + " .. " +
                      percent(t.upper) + ")");
    }
    for (const bias_span& b : m.meters) {
        out.push_back(b.column + " read " + percent(std::abs(b.bias)) + " % " + (b.bias > 0.0 ? "high" : "low") +
                      " (95 % " + percent(b.lower) + " .. " + percent(b.upper) + " %) from " + when(r, b.start) +
                      " to " + when(r, b.end) + " (" + std::to_string(b.windows) + " windows; named at " +
                      when(r, b.found) + ")");
    }
    return out;
}

std::vector<std::string> summary_lines(const monitor_report& r) {
    const monitor_result& m = *r.result;
    std::vector<std::string> out;
    out.push_back(std::to_string(m.windows.size()) + " windows: " + std::to_string(m.fitted) + " fitted, " +
                  window_counts(m) + "; " + std::to_string(m.reconciled) +
                  " failed the atom balance (each fitted with its suspect's reading left free)");
    out.push_back(in_words(m.a1_note, r.words));
    const auto fewest = static_cast<std::size_t>(2 * std::max(1, r.problem->options.min_segment));
    if (m.drifts.empty() && m.drift_windows < fewest) {
        out.push_back("a2 not tested for a drift: " + std::to_string(m.drift_windows) +
                      " fitted windows that do not overlap, the test needs " + std::to_string(fewest));
    } else if (m.drifts.empty()) {
        out.push_back("a2 did not change: no drift at the test's level " + sig(r.problem->options.drift_alpha, 2) +
                      (std::isfinite(m.dispersion) ? " (scatter of ln a2 " + sig(m.dispersion, 3) + " times the stated)" : ""));
    }
    for (const std::string& d : drift_lines(r)) out.push_back(d);
    for (const std::string& e : evidence_lines(r)) out.push_back(e);
    for (const message& n : m.notes) out.push_back(in_words(n, r.words));
    return out;
}

nlohmann::ordered_json span_json(const monitor_report& r, const time_span& s) {
    nlohmann::ordered_json j;
    j["start"] = when(r, s.start);
    j["end"] = when(r, s.end);
    j["rows"] = s.rows;
    return j;
}

nlohmann::ordered_json optional_number(const std::optional<double>& v) {
    return v ? json_number(*v) : nlohmann::ordered_json(nullptr);
}

}  // namespace

void print_monitor(std::ostream& out, const monitor_report& r) {
    const monitor_problem& p = *r.problem;
    const monitor_result& m = *r.result;
    const history& h = p.h;
    out << "History " << printable(h.file) << ": " << h.rows() << " rows, " << when(r, h.first_time()) << " .. "
        << when(r, h.last_time()) << ", every " << duration_text(p.spacing_ms) << " (median)\n"
        << "  times " << times_text(h) << "\n"
        << "  windows of " << duration_text(p.options.window_ms) << " every " << duration_text(p.options.step_ms) << "\n\n";
    out << "Screening (values left out)\n"
        << "  column                  values  missing  out of range  frozen (spans)  spikes\n";
    for (const column_screening& s : m.screening) {
        out << "  " << left_aligned(printable(s.column), 22) << right_aligned(std::to_string(s.values), 8)
            << right_aligned(std::to_string(s.missing), 9) << right_aligned(std::to_string(s.out_of_range), 14)
            << right_aligned(std::to_string(s.stagnant_rows) + " (" + std::to_string(s.stagnant.size()) + ")", 16)
            << right_aligned(std::to_string(s.spikes), 8) << "\n";
    }
    out << "\nWindows\n  start                 rows  lab  steady  balance p  suspect                a2      95 % profile        "
           "conv %  pred %  equil %  approach %  flags\n";
    for (const monitor_window& w : m.windows) {
        const balance_test& b = w.balance;
        out << "  " << left_aligned(when(r, w.start), 20) << right_aligned(std::to_string(w.rows), 6)
            << right_aligned(std::to_string(w.lab_samples), 5) << right_aligned(w.steady ? "yes" : "no", 8)
            << right_aligned(b.tested ? sig(b.p_value, 2) : "-", 11) << "  "
            << left_aligned(b.suspect.empty() ? "-" : b.suspect + " " + (b.suspect_error >= 0 ? "+" : "") +
                                                          sig(100.0 * b.suspect_error, 2) + "%", 21)
            << right_aligned(w.fitted ? sig(w.a2, 4) : "-", 8) << "  " << left_aligned(interval_text(w), 18)
            << fixed(100.0 * w.conversion_measured, 8, 2) << fixed(100.0 * w.conversion_predicted, 8, 2)
            << fixed(100.0 * w.conversion_equilibrium, 9, 2) << fixed(100.0 * w.approach, 12, 1) << "  "
            << (w.reason.empty() ? flags_text(w, ", ") : in_words(w.reason, r.words)) << "\n";
    }
    out << "\nDrifts of a2\n";
    if (m.drifts.empty()) out << "  none\n";
    for (const std::string& d : drift_lines(r)) out << "  " << d << "\n";
    out << "\nEvidence over windows (trends of a2; meters that read wrong)\n";
    const std::vector<std::string> evidence = evidence_lines(r);
    if (evidence.empty()) out << "  none\n";
    for (const std::string& e : evidence) out << "  " << e << "\n";
    out << "\nSummary\n";
    for (const std::string& s : summary_lines(r)) out << "  " << s << "\n";
}

nlohmann::ordered_json monitor_json(const monitor_report& r, const build_info& build) {
    const monitor_problem& p = *r.problem;
    const monitor_result& m = *r.result;
    const history& h = p.h;
    nlohmann::ordered_json j;
    j["history"] = {{"file", h.file},
                    {"sha256", h.sha256},
                    {"rows", h.rows()},
                    {"first", when(r, h.first_time())},
                    {"last", when(r, h.last_time())},
                    {"spacing", duration_text(p.spacing_ms)},
                    {"times", times_text(h)},
                    {"sorted", h.sorted}};
    j["window"] = duration_text(p.options.window_ms);
    j["step"] = duration_text(p.options.step_ms);
    j["a1"] = {{"value", json_number(m.a1)}, {"how", a1_how(m.a1_how)}, {"note", in_words(m.a1_note, r.words)}};
    nlohmann::ordered_json screening = nlohmann::ordered_json::object();
    for (const column_screening& s : m.screening) {
        nlohmann::ordered_json c;
        c["values"] = s.values;
        c["missing"] = s.missing;
        c["stagnant"] = nlohmann::ordered_json::array();
        for (const time_span& t : s.stagnant) c["stagnant"].push_back(span_json(r, t));
        c["out_of_range"] = s.out_of_range;
        c["out_of_range_span"] = s.out_of_range_span ? span_json(r, *s.out_of_range_span) : nlohmann::ordered_json(nullptr);
        c["spikes"] = s.spikes;
        c["spike_span"] = s.spike_span ? span_json(r, *s.spike_span) : nlohmann::ordered_json(nullptr);
        c["noise"] = json_number(s.noise);
        screening[s.column] = c;
    }
    j["screening"] = screening;
    j["windows"] = nlohmann::ordered_json::array();
    for (const monitor_window& w : m.windows) {
        nlohmann::ordered_json x;
        x["start"] = when(r, w.start);
        x["end"] = when(r, w.end);
        x["rows"] = w.rows;
        x["lab_samples"] = w.lab_samples;
        x["steady"] = w.steady;
        x["fitted"] = w.fitted;
        x["flags"] = w.flags;
        x["reason"] = w.reason.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(in_words(w.reason, r.words));
        const balance_test& b = w.balance;
        nlohmann::ordered_json bj;
        bj["tested"] = b.tested;
        bj["p_value"] = json_number(b.p_value);
        bj["chi_square"] = json_number(b.chi_square);
        bj["dof"] = b.dof;
        bj["suspect"] = b.suspect.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(b.suspect);
        bj["suspect_error"] = json_number(b.suspect_error);
        if (!b.names.empty()) {
            nlohmann::ordered_json rec = nlohmann::ordered_json::object();
            for (std::size_t k = 0; k < b.names.size(); ++k) {
                rec[b.names[k]] = {{"measured", json_number(b.measured[k])},
                                   {"reconciled", json_number(b.reconciled[k])},
                                   {"sigma", json_number(b.sigma[k])}};
            }
            bj["reconciled"] = rec;
        }
        if (!b.tested) bj["why_not"] = b.why_not;
        x["balance"] = bj;
        x["a2"] = {{"value", json_number(w.a2)},
                   {"profile95", {optional_number(w.a2_lower), optional_number(w.a2_upper)}}};
        x["conversion"] = {{"measured", json_number(w.conversion_measured)},
                           {"predicted", json_number(w.conversion_predicted)},
                           {"equilibrium", json_number(w.conversion_equilibrium)}};
        x["approach"] = json_number(w.approach);
        j["windows"].push_back(x);
    }
    j["drifts"] = nlohmann::ordered_json::array();
    for (const drift& d : m.drifts) {
        j["drifts"].push_back({{"factor", d.factor},
                               {"time", when(r, d.time)},
                               {"ratio", json_number(d.ratio)},
                               {"ratio95", {json_number(d.lower), json_number(d.upper)}},
                               {"p_value", json_number(d.p_value)}});
    }
    j["trends"] = nlohmann::ordered_json::array();
    for (const a2_trend& t : m.trends) {
        j["trends"].push_back({{"factor", "a2"},
                               {"start", when(r, t.start)},
                               {"end", when(r, t.end)},
                               {"windows", t.windows},
                               {"from", json_number(t.from)},
                               {"to", json_number(t.to)},
                               {"rate_per_day", json_number(t.rate)},
                               {"rate95", {json_number(t.lower), json_number(t.upper)}}});
    }
    j["meters"] = nlohmann::ordered_json::array();
    for (const bias_span& b : m.meters) {
        j["meters"].push_back({{"column", b.column},
                               {"start", when(r, b.start)},
                               {"end", when(r, b.end)},
                               {"found", when(r, b.found)},
                               {"windows", b.windows},
                               {"bias", json_number(b.bias)},
                               {"bias95", {json_number(b.lower), json_number(b.upper)}}});
    }
    j["summary"] = {{"windows", m.windows.size()},     {"fitted", m.fitted},
                    {"not_steady", m.not_steady},      {"without_lab", m.without_lab},
                    {"unsolved", m.unsolved},          {"without_rows", m.without_rows},
                    {"without_values", m.without_values}, {"invalid_case", m.invalid_case},
                    {"reconciled", m.reconciled},      {"drift_windows", m.drift_windows},
                    {"dispersion", json_number(m.dispersion)}, {"reactor_solves", m.reactor_solves}};
    j["notes"] = said_all(m.notes, r.words);
    j["base_case"] = case_json(p.base);
    j["build"] = build_json(build);
    return j;
}

table monitor_table(const monitor_report& r) {
    table t;
    for (const schema_field& f : type_of("monitor window").fields) {
        if (f.column) t.add(f);
    }
    const auto opt = [](const std::optional<double>& v) { return v ? *v : NAN; };
    for (const monitor_window& w : r.result->windows) {
        const balance_test& b = w.balance;
        std::size_t i = 0;
        t[i++].push(when(r, w.start));
        t[i++].push(when(r, w.end));
        t[i++].push(static_cast<double>(w.rows));
        t[i++].push(static_cast<double>(w.lab_samples));
        t[i++].push(w.steady);
        t[i++].push(w.fitted);
        t[i++].push(flags_text(w, ";"));
        t[i++].push(in_words(w.reason, r.words));
        t[i++].push(b.p_value);
        t[i++].push(b.chi_square);
        t[i++].push(b.suspect);
        t[i++].push(b.suspect_error);
        t[i++].push(w.a2);
        t[i++].push(opt(w.a2_lower));
        t[i++].push(opt(w.a2_upper));
        t[i++].push(w.conversion_measured);
        t[i++].push(w.conversion_predicted);
        t[i++].push(w.conversion_equilibrium);
        t[i++].push(w.approach);
    }
    return t;
}

std::string monitor_csv(const monitor_report& r) { return csv_text(monitor_table(r)); }

figure monitor_figure(const monitor_report& r) {
    const monitor_result& m = *r.result;
    const double alpha = r.problem->options.balance_alpha;
    // Times as seconds since 1970 (a history without UTC offsets read as
    // UTC), each window at its middle; every panel on the history's span.
    const auto seconds = [](std::int64_t ms) { return static_cast<double>(ms) / 1000.0; };
    const auto mid = [&](const monitor_window& w) { return seconds(w.start + (w.end - w.start) / 2); };
    axis time;
    time.quantity = "time, UTC";
    time.scale = axis_scale::time;
    if (!m.windows.empty()) {
        time.low = seconds(m.windows.front().start);
        time.high = seconds(m.windows.back().end);
    }
    figure f;
    // a2 with its interval, and the drifts as numbered lines told in the key.
    panel a;
    a.title = "a2 per window with its 95 % profile-likelihood interval";
    a.x = time;
    a.y.quantity = "a2 (dehydration rate factor)";
    a.key = key_place::outside_right;
    series closed, open;
    closed.title = "a2";
    closed.how = mark::error_bars;
    closed.role = series_role::estimate;
    closed.size = 0.5;
    open.title = "a2, interval open";
    open.how = mark::points;
    open.role = series_role::guide;
    open.marker = 6;
    open.size = 0.7;
    for (const monitor_window& w : m.windows) {
        if (!w.fitted) continue;
        if (w.a2_lower && w.a2_upper) {
            closed.x.push_back(mid(w));
            closed.y.push_back(w.a2);
            closed.low.push_back(*w.a2_lower);
            closed.high.push_back(*w.a2_upper);
        } else {
            open.x.push_back(mid(w));
            open.y.push_back(w.a2);
        }
    }
    a.drawn.push_back(closed);
    if (!open.x.empty()) a.drawn.push_back(open);
    if (!m.drifts.empty()) {
        series lines;
        lines.title = "drift";
        lines.how = mark::vline;
        lines.role = series_role::judged_by;
        lines.dash = 2;
        std::vector<series> told;
        for (std::size_t k = 0; k < m.drifts.size(); ++k) {
            const drift& d = m.drifts[k];
            lines.x.push_back(seconds(d.time));
            lines.labels.push_back(std::to_string(k + 1));
            series t;
            t.how = mark::key_only;
            // The day alone at midnight, else to the minute: short enough for the key.
            const std::string from = timestamp_text(d.time, false);
            t.title = std::to_string(k + 1) + ": " + d.factor + " × " + sig(d.ratio, 3) + " from " +
                      (from.compare(10, 9, "T00:00:00") == 0 ? from.substr(0, 10) : from.substr(0, 16).replace(10, 1, " "));
            told.push_back(t);
        }
        a.drawn.push_back(lines);
        a.drawn.insert(a.drawn.end(), told.begin(), told.end());
    }
    // Each trend as its ramp, from its start to its end.
    if (!m.trends.empty()) {
        series ramp;
        ramp.title = "trend";
        ramp.how = mark::line;
        ramp.role = series_role::best_fit;
        ramp.width = 2.5;
        for (const a2_trend& t : m.trends) {
            if (!ramp.x.empty()) {
                ramp.x.push_back(seconds(t.start));
                ramp.y.push_back(NAN);
            }
            ramp.x.insert(ramp.x.end(), {seconds(t.start), seconds(t.end)});
            ramp.y.insert(ramp.y.end(), {t.from, t.to});
        }
        a.drawn.push_back(ramp);
    }
    f.panels.push_back(a);
    // The conversions: a window not fitted (no rows, not steady, not
    // solved) breaks the predicted and equilibrium lines.
    panel c;
    c.title = "CO_2 conversion at the outlet";
    c.x = time;
    c.y.quantity = "CO_2 conversion";
    c.y.unit = "%";
    c.key = key_place::outside_right;
    series measured, model, equilibrium;
    measured.title = "measured";
    measured.how = mark::points;
    measured.role = series_role::measured;
    measured.size = 0.5;
    model.title = "predicted at the window's a2";
    model.role = series_role::prediction;
    equilibrium.title = "equilibrium";
    equilibrium.role = series_role::equilibrium;
    equilibrium.dash = 2;
    for (const monitor_window& w : m.windows) {
        const bool drawn = w.fitted && w.steady;
        for (series* s : {&measured, &model, &equilibrium}) s->x.push_back(mid(w));
        measured.y.push_back(w.fitted ? 100.0 * w.conversion_measured : NAN);
        model.y.push_back(drawn ? 100.0 * w.conversion_predicted : NAN);
        equilibrium.y.push_back(drawn ? 100.0 * w.conversion_equilibrium : NAN);
    }
    c.drawn = {measured, model, equilibrium};
    f.panels.push_back(c);
    // The balance test.
    panel b;
    b.title = "Atom balance of the feed meters against the lab";
    b.x = time;
    b.y.quantity = "p-value";
    b.y.scale = axis_scale::log;
    b.y.high = 1.0;
    b.key = key_place::outside_right;
    series passed, failed, threshold;
    passed.title = "passed";
    passed.how = mark::points;
    passed.role = series_role::estimate;
    passed.size = 0.5;
    failed.title = "failed";
    failed.how = mark::points;
    failed.role = series_role::judged_by;
    failed.marker = 9;
    failed.size = 0.9;
    threshold.title = "threshold p = " + sig(alpha, 3);
    threshold.how = mark::hline;
    threshold.role = series_role::guide;
    threshold.dash = 2;
    threshold.width = 1;
    threshold.y = {alpha};
    for (const monitor_window& w : m.windows) {
        if (!w.balance.tested) continue;
        series& s = w.balance.failed ? failed : passed;
        s.x.push_back(mid(w));
        s.y.push_back(std::max(w.balance.p_value, 1e-12));
    }
    b.drawn = {passed, failed, threshold};
    b.y.low = alpha;
    for (const series* s : {&passed, &failed}) {
        for (const double p : s->y) b.y.low = std::min(*b.y.low, p);
    }
    *b.y.low /= 2;
    f.panels.push_back(b);
    return f;
}

std::string monitor_plot_script(const monitor_report& r) { return gnuplot_script(monitor_figure(r)); }

std::string monitor_html(const monitor_report& r, const monitor_html_context& c) {
    const monitor_problem& p = *r.problem;
    const monitor_result& m = *r.result;
    std::ostringstream h;
    const std::string title = "Reactor monitor of " + p.h.file;
    h << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << html_escaped(title)
      << "</title>\n<style>" << html_style() << "</style>\n</head>\n<body>\n";
    h << "<h1>" << html_escaped(title) << "</h1>\n<p>" << p.h.rows() << " rows, " << html_escaped(when(r, p.h.first_time()))
      << " .. " << html_escaped(when(r, p.h.last_time())) << "; windows of " << duration_text(p.options.window_ms)
      << " every " << duration_text(p.options.step_ms) << "; made by " << html_escaped(c.workbench) << ".</p>\n";
    h << "<h2>Summary</h2>\n<ul class=\"verdict\">\n";
    for (const std::string& line : summary_lines(r)) h << "<li>" << html_escaped(line) << "</li>\n";
    h << "</ul>\n<h2>Plots</h2>\n"
      << html_figure(c.plot_svg, "monitor-",
                     "Above, a2 per fitted window with its 95 % profile-likelihood interval (open circles: an interval "
                     "open on a side), each drift dashed with its ratio; middle, the CO2 conversion measured, predicted "
                     "at the window's a2 and at equilibrium at the outlet; below, the atom balance's p-value per window.");
    h << "<h2>Screening</h2>\n<p>Values left out before anything was fitted.</p>\n<table>\n<tr><th>column</th><th>values</th>"
         "<th>missing</th><th>out of range</th><th>frozen</th><th>spikes</th></tr>\n";
    for (const column_screening& s : m.screening) {
        std::string frozen = std::to_string(s.stagnant_rows);
        for (const time_span& t : s.stagnant) frozen += "; " + when(r, t.start) + " .. " + when(r, t.end);
        h << "<tr" << (s.out_of_range + s.stagnant_rows + s.spikes > 0 ? " class=\"flag\"" : "") << ">"
          << html_cell(s.column) << html_cell(std::to_string(s.values), true) << html_cell(std::to_string(s.missing), true)
          << html_cell(std::to_string(s.out_of_range), true) << html_cell(frozen) << html_cell(std::to_string(s.spikes), true)
          << "</tr>\n";
    }
    h << "</table>\n<h2>Windows</h2>\n<table>\n<tr><th>start</th><th>rows</th><th>lab</th><th>steady</th><th>balance p</th>"
         "<th>suspect</th><th>a2</th><th>95 % profile</th><th>conversion</th><th>predicted</th><th>equilibrium</th>"
         "<th>approach</th><th>flags</th></tr>\n";
    for (const monitor_window& w : m.windows) {
        const balance_test& b = w.balance;
        h << "<tr" << (w.fitted && !b.failed ? "" : " class=\"flag\"") << ">" << html_cell(when(r, w.start))
          << html_cell(std::to_string(w.rows), true) << html_cell(std::to_string(w.lab_samples), true)
          << html_cell(w.steady ? "yes" : "no") << html_cell(b.tested ? sig(b.p_value, 2) : "-", true)
          << html_cell(b.suspect.empty() ? "" : b.suspect + " " + sig(100.0 * b.suspect_error, 2) + " %")
          << html_cell(w.fitted ? sig(w.a2, 4) : "-", true) << html_cell(interval_text(w), true)
          << html_cell(fixed(w.conversion_measured, 0, 4), true) << html_cell(fixed(w.conversion_predicted, 0, 4), true)
          << html_cell(fixed(w.conversion_equilibrium, 0, 4), true) << html_cell(fixed(w.approach, 0, 3), true)
          << html_cell(w.reason.empty() ? flags_text(w, ", ") : in_words(w.reason, r.words)) << "</tr>\n";
    }
    h << "</table>\n<h2>Made from</h2>\n<table>\n"
      << "<tr>" << html_cell("workbench") << html_cell(c.workbench) << "</tr>\n"
      << "<tr>" << html_cell("plug-in") << html_cell(c.plugin + " (" + c.plugin_file + ")") << "</tr>\n"
      << "<tr>" << html_cell("history") << "<td>" << html_escaped(p.h.file) << "<br><code>SHA-256 " << p.h.sha256
      << "</code></td></tr>\n"
      << "<tr>" << html_cell("case")
      << (c.case_file.empty() ? html_cell("the built-in default case")
                              : "<td>" + html_escaped(c.case_file) + "<br><code>SHA-256 " + c.case_sha256 + "</code></td>")
      << "</tr>\n"
      << "<tr>" << html_cell("options") << html_cell(c.options.empty() ? "none" : c.options) << "</tr>\n"
      << "</table>\n</body>\n</html>\n";
    return h.str();
}

void add_monitor_html(staged_outputs& files, const output_target& target, const monitor_report& r, monitor_html_context c) {
    c.plot_svg = files.svg_of(target, monitor_plot_script(r), "the report's monitor plot", "1000,1100");
    files.add_text(target, monitor_html(r, c));
}

}  // namespace workbench
