#include "report/study_report.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <map>
#include <sstream>

#include "base/text.h"
#include "report/band_report.h"
#include "report/figure.h"
#include "report/gnuplot.h"
#include "report/json_stream.h"
#include "report/palette.h"
#include "report/sweep_report.h"

namespace workbench {
namespace {

using json = nlohmann::ordered_json;

// ---- Text ---------------------------------------------------------------------

std::size_t number_width(const std::string& name) { return std::max<std::size_t>(12, name.size() + 2); }

std::string clipped(const std::string& s, std::size_t width) {
    const std::string p = printable(s);
    return p.size() + 2 <= width ? p : p.substr(0, width - 3) + "~";
}

// "a2 (7 points, evenly spaced in ln)", "nh3_co2 (2.8, 3.2, 3.6)".
std::string described(const study_variable& v) {
    if (v.values.size() == 1) return v.name + " = " + setting_text(v.name, v.values[0]);
    std::string s = v.name + " (";
    if (v.listed && v.values.size() <= 6) {
        for (std::size_t k = 0; k < v.values.size(); ++k) s += (k ? ", " : "") + setting_text(v.name, v.values[k]);
        return s + ")";
    }
    s += std::to_string(v.values.size()) + (v.listed ? " values" : " points");
    if (v.log_spacing && v.values.size() > 2) s += ", evenly spaced in ln";
    return s + ")";
}

}  // namespace

std::string study_subject(const study_plan& plan) {
    if (plan.table) {
        return "the " + std::to_string(plan.points) + " case" + (plan.points == 1 ? "" : "s") + " of " +
               printable(plan.table->file);
    }
    std::string s;
    for (std::size_t k = 0; k < plan.vars.size(); ++k) {
        s += (k == 0 ? "" : k + 1 == plan.vars.size() ? " and " : ", ") + described(plan.vars[k]);
    }
    return s;
}

namespace {

// ---- gnuplot ------------------------------------------------------------------

bool log_axis(const study_variable& v) {
    if (v.log_spacing) return true;
    if (!v.listed || v.which || v.name == "model") return false;
    const auto [lo, hi] = std::minmax_element(v.values.begin(), v.values.end());
    return *lo > 0.0 && *hi / *lo >= 100.0;
}

// The base case in a plot's title, without what the study varies.
std::string base_markup(const study_plan& plan) {
    const reactor_case& c = plan.base;
    const auto varied = [&](const std::string& name) {
        return std::find(plan.settings.begin(), plan.settings.end(), name) != plan.settings.end();
    };
    std::vector<std::string> parts;
    if (!varied("model") && c.model == reactor_model::pfr) {
        parts.push_back("plug flow");
    } else if (!varied("trays")) {
        parts.push_back(std::to_string(c.trays) + " trays");
    }
    if (!varied("volume_m3")) parts.push_back(sig(c.volume_m3) + " m^3");
    if (!varied("pressure_bar")) parts.push_back(sig(c.pressure_bar) + " bar");
    const bool t_in = varied("inlet_temperature_C"), t_out = varied("outlet_temperature_C");
    if (!t_in && !t_out) {
        parts.push_back(sig(c.inlet_temperature_C) + " → " + sig(c.outlet_temperature_C) + " °C");
    } else if (!t_in) {
        parts.push_back("inlet " + sig(c.inlet_temperature_C) + " °C");
    } else if (!t_out) {
        parts.push_back("outlet " + sig(c.outlet_temperature_C) + " °C");
    }
    if (!varied("feed_kmol_h.CO2")) parts.push_back("CO_2 " + sig(c.feed_kmol_h[CO2]) + " kmol/h");
    if (!varied("nh3_co2") && !varied("feed_kmol_h.NH3")) parts.push_back("NH_3/CO_2 = " + sig(nh3_co2_ratio(c), 3));
    if (!varied("h2o_co2") && !varied("feed_kmol_h.H2O")) parts.push_back("H_2O/CO_2 = " + sig(h2o_co2_ratio(c), 3));
    if (!varied("a1")) parts.push_back("a1 = " + sig(c.a1));
    if (!varied("a2")) parts.push_back("a2 = " + sig(c.a2));
    std::string s = plan.table ? "base case (where a row leaves it): " : "base case: ";
    for (std::size_t k = 0; k < parts.size(); ++k) s += (k ? ", " : "") + parts[k];
    return s;
}

// A value of a variable with its unit: "183 °C", "3.2", "pfr".
std::string value_markup(const study_variable& v, double x) {
    const std::string unit = label_of(v).unit;
    return setting_text(v.name, x, 4) + (unit.empty() ? "" : " " + unit);
}

std::string subject_markup(const study_plan& plan) {
    if (plan.table) return std::to_string(plan.points) + " cases of a case table";
    std::string s;
    for (std::size_t k = 0; k < plan.vars.size(); ++k) {
        const study_variable& v = plan.vars[k];
        s += (k == 0 ? "" : k + 1 == plan.vars.size() ? " and " : ", ") + label_of(v).words +
             (v.values.size() == 1 ? " = " + value_markup(v, v.values[0])
                                   : " (" + std::to_string(v.values.size()) + (v.listed ? " values)" : " points)"));
    }
    return s;
}

// "NH_3/CO_2 = 3.2, model = pfr": the values of a member, the variables
// after the one along the x axis.
std::string member_markup(const study_plan& plan, std::size_t along, std::size_t member) {
    std::string s;
    for (std::size_t k = along + 1; k < plan.vars.size(); ++k) {
        const study_variable& v = plan.vars[k];
        const std::size_t i = member % v.values.size();
        member /= v.values.size();
        if (v.values.size() == 1) continue;
        s += (s.empty() ? "" : ", ") + label_of(v).symbol + " = " + value_markup(v, v.values[i]);
    }
    return s;
}

constexpr int dash_types = 5;

// Whether result k of the plan has a band.
bool banded(const study_plan& plan, std::size_t k) { return plan.bands && has_band(plan.results[k]); }

// A band's end for the table: "<" before an end that is open below, ">"
// before one open above.
std::string band_end(double v, bool open, const char* mark) { return (open ? std::string(mark) : "") + sig_or_dash(v, 6); }

// The open sides of a point's bands, for the CSV: "co2_conversion low;
// w_UREA high".
std::string open_sides(const study_plan& plan, const study_point& p) {
    std::string s;
    for (std::size_t k = 0; k < p.bands.size(); ++k) {
        const result_band& b = p.bands[k];
        if (!b.open_low && !b.open_high) continue;
        s += (s.empty() ? "" : ";") + plan.results[k].name +
             (b.open_low && b.open_high ? " both" : b.open_low ? " low" : " high");
    }
    return s;
}

}  // namespace

// ---- Table ----------------------------------------------------------------------

carried_columns carried_columns_of(const study_plan& plan) {
    carried_columns c;
    if (!plan.table) return c;
    c.names = carried_names(plan);
    for (const std::string& n : c.names) c.widths.push_back(n.size());
    for (const case_row& r : plan.table->rows) {
        for (std::size_t k = 0; k < r.carried.size(); ++k) c.widths[k] = std::max(c.widths[k], r.carried[k].size());
    }
    for (std::size_t& w : c.widths) w = std::min<std::size_t>(w, 24) + 2;
    return c;
}

void print_study_head(std::ostream& out, const study_plan& plan, const vocabulary& words) {
    out << "Study of " << study_subject(plan) << " over the case " << printable(plan.base.name) << "\n";
    if (plan.bands) {
        for (const message& line : band_heading(*plan.bands)) out << "  " << in_words(line, words) << "\n";
        out << "  (_low and _high: each result's 95 % band; < or > before an end: the band is open on that side, "
               "the search box's edge cuts it off)\n";
    }
    out << "\n";
    std::string names, units;
    const carried_columns carried = carried_columns_of(plan);
    for (std::size_t k = 0; k < carried.widths.size(); ++k) {
        const std::size_t w = carried.widths[k];
        names += left_aligned(clipped(carried.names[k], w), w);
        units += std::string(w, ' ');
    }
    for (const std::string& s : plan.settings) {
        names += right_aligned(s, number_width(s));
        units += right_aligned(quantity_unit(s), number_width(s));
    }
    for (std::size_t k = 0; k < plan.results.size(); ++k) {
        const result_quantity& q = plan.results[k];
        names += right_aligned(q.name, number_width(q.name));
        units += right_aligned(q.unit, number_width(q.name));
        if (!banded(plan, k)) continue;
        for (const char* end : {"_low", "_high"}) {
            names += right_aligned(q.name + end, number_width(q.name + end));
            units += right_aligned(q.unit, number_width(q.name + end));
        }
    }
    out << names << "\n" << units << "\n";
}

void print_study_row(std::ostream& out, const study_plan& plan, const carried_columns& carried,
                     const study_point& p) {
    if (!plan.table && plan.vars.size() > 1 && plan.vars[0].values.size() > 1 && p.index > 0 &&
        p.index % plan.vars[0].values.size() == 0) {
        out << "\n";  // the first variable starts again
    }
    for (std::size_t k = 0; k < carried.widths.size(); ++k) {
        out << left_aligned(clipped((*p.carried)[k], carried.widths[k]), carried.widths[k]);
    }
    for (std::size_t k = 0; k < plan.settings.size(); ++k) {
        out << right_aligned(setting_text(plan.settings[k], p.settings[k]), number_width(plan.settings[k]));
    }
    if (!p.ok) {
        out << "  failed: " << p.failure << "\n";
        return;
    }
    for (std::size_t k = 0; k < plan.results.size(); ++k) {
        const std::string& name = plan.results[k].name;
        out << right_aligned(sig_or_dash(p.values[k], 6), number_width(name));
        if (!banded(plan, k)) continue;
        const result_band& b = p.bands[k];
        out << right_aligned(band_end(b.low, b.open_low, "<"), number_width(name + "_low"))
            << right_aligned(band_end(b.high, b.open_high, ">"), number_width(name + "_high"));
    }
    out << "\n";
}

void print_study_tail(std::ostream& out, const study_plan& plan, const study_summary& s) {
    const char* what = plan.table ? (s.points == 1 ? " case: " : " cases: ") : (s.points == 1 ? " point: " : " points: ");
    out << "\n" << s.points << what;
    if (s.failed == 0) {
        out << "all solved";
    } else {
        out << s.points - s.failed << " solved, " << s.failed << " failed";
    }
    out << "; " << s.rate_calls << " rate routine calls\n";
}

study_ranges::study_ranges(const study_plan& plan)
    : low_(plan.results.size(), std::numeric_limits<double>::quiet_NaN()),
      high_(plan.results.size(), std::numeric_limits<double>::quiet_NaN()) {}

void study_ranges::add(const study_point& p) {
    if (!p.ok) return;
    for (std::size_t k = 0; k < p.values.size() && k < low_.size(); ++k) {
        const double v = p.values[k];
        if (!std::isfinite(v)) continue;
        if (!(v >= low_[k])) low_[k] = v;
        if (!(v <= high_[k])) high_[k] = v;
    }
}

void print_study_summary(std::ostream& out, const std::string& what, const study_plan& plan, const study_summary& s,
                         const study_ranges& ranges) {
    out << what << " of " << study_subject(plan) << " over the case " << printable(plan.base.name) << "\n";
    std::ostringstream tail;
    print_study_tail(tail, plan, s);
    out << tail.str().substr(1);  // without the blank line before it
    std::size_t width = 0;
    for (const result_quantity& q : plan.results) width = std::max(width, q.name.size());
    for (std::size_t k = 0; k < plan.results.size(); ++k) {
        const result_quantity& q = plan.results[k];
        out << "  " << left_aligned(q.name, width + 2);
        if (std::isfinite(ranges.low(k))) {
            out << sig(ranges.low(k)) << " .. " << sig(ranges.high(k)) << (q.unit.empty() ? "" : " " + q.unit);
        } else {
            out << "none";
        }
        out << "\n";
    }
}

// ---- CSV and JSON ---------------------------------------------------------------

std::vector<std::string> carried_names(const study_plan& plan) {
    std::vector<std::string> names;
    if (!plan.table) return names;
    for (const std::string& c : plan.table->carried) {
        const std::string key = normalised_name(c);
        bool taken = std::any_of(plan.settings.begin(), plan.settings.end(),
                                 [&](const std::string& s) { return normalised_name(s) == key; });
        taken = taken || key == "failure" || result_named(c).has_value();
        names.push_back(taken ? c + "_given" : c);
    }
    return names;
}

table study_table(const study_plan& plan) {
    table t;
    const auto declared_as = [](const char* name) -> const schema_field& { return field_of("study point", name); };
    for (const std::string& c : carried_names(plan)) t.add(declared_as("<column>"), c);
    for (const std::string& name : plan.settings) t.add(declared_as("<quantity>"), name);
    for (std::size_t k = 0; k < plan.results.size(); ++k) {
        const result_quantity& q = plan.results[k];
        t.add(q);
        if (!banded(plan, k)) continue;
        t.add(declared_as("<result>_low"), q.name).unit = q.unit;
        t.add(declared_as("<result>_high"), q.name).unit = q.unit;
    }
    if (plan.bands) t.add(declared_as("band_open"));
    t.add(declared_as("failure"));
    return t;
}

void add_study_point(table& t, const study_plan& plan, const study_point& p) {
    std::size_t i = 0;
    if (p.carried != nullptr) {
        for (const std::string& c : *p.carried) t[i++].push(c);
    }
    for (std::size_t k = 0; k < plan.settings.size(); ++k) {
        if (plan.settings[k] == "model") {
            t[i++].push(setting_text("model", p.settings[k]));
        } else {
            t[i++].push(p.settings[k]);
        }
    }
    for (std::size_t k = 0; k < plan.results.size(); ++k) {
        t[i++].push(p.ok ? p.values[k] : NAN);
        if (!banded(plan, k)) continue;
        t[i++].push(p.ok ? p.bands[k].low : NAN);
        t[i++].push(p.ok ? p.bands[k].high : NAN);
    }
    if (plan.bands) t[i++].push(p.ok ? open_sides(plan, p) : std::string());
    t[i++].push(p.ok ? std::string() : p.failure);
}

void study_csv_head(std::ostream& out, const study_plan& plan) { write_csv_head(out, study_table(plan)); }

void study_csv_row(std::ostream& out, const study_plan& plan, const study_point& p) {
    table row = study_table(plan);
    add_study_point(row, plan, p);
    write_csv_rows(out, row);
}

json study_head_json(const study_plan& plan, const vocabulary& words) {
    json study = json::object();
    if (plan.table) {
        study["cases"] = {{"file", plan.table->file},
                          {"rows", plan.points},
                          {"settings", plan.table->settings},
                          {"columns", carried_names(plan)}};
    } else {
        json vars = json::array();
        for (const study_variable& v : plan.vars) {
            json values = json::array();
            for (const double x : v.values) values.push_back(v.name == "model" ? json(setting_text(v.name, x)) : json(x));
            vars.push_back({{"name", v.name},
                            {"spacing", v.listed ? "list" : v.log_spacing ? "log" : "linear"},
                            {"values", values}});
        }
        study["vary"] = vars;
        study["points"] = plan.points;
    }
    json results = json::array();
    for (const result_quantity& q : plan.results) {
        results.push_back({{"name", q.name}, {"unit", q.unit}, {"meaning", q.meaning}, {"measurable", q.measurable}});
    }
    json out = {{"study", study}, {"results", results}};
    if (plan.bands) out["band"] = band_json(*plan.bands, words);
    return out;
}

json study_point_json(const study_plan& plan, const carried_columns& carried, const study_point& p) {
    json settings = json::object();
    for (std::size_t k = 0; k < plan.settings.size(); ++k) {
        const std::string& s = plan.settings[k];
        settings[s] = s == "model" ? json(setting_text(s, p.settings[k])) : json(p.settings[k]);
    }
    json out = json::object();
    if (plan.table) out["line"] = plan.table->rows[p.index].line;
    out["settings"] = settings;
    if (p.carried != nullptr) {
        json columns = json::object();
        for (std::size_t k = 0; k < carried.names.size(); ++k) columns[carried.names[k]] = (*p.carried)[k];
        out["columns"] = columns;
    }
    out["ok"] = p.ok;
    if (p.ok) {
        json results = json::object();
        for (std::size_t k = 0; k < plan.results.size(); ++k) {
            results[plan.results[k].name] = json_number(p.values[k]);
        }
        out["results"] = results;
        if (plan.bands) {
            json low = json::object(), high = json::object(), open = json::object();
            for (std::size_t k = 0; k < plan.results.size(); ++k) {
                if (!banded(plan, k)) continue;
                const result_band& b = p.bands[k];
                low[plan.results[k].name] = json_number(b.low);
                high[plan.results[k].name] = json_number(b.high);
                if (b.open_low || b.open_high) {
                    open[plan.results[k].name] = b.open_low && b.open_high ? "both" : b.open_low ? "low" : "high";
                }
            }
            out["low"] = low;
            out["high"] = high;
            out["open"] = open;
            out["band_unsolved"] = p.band_unsolved;
        }
    } else {
        out["failure"] = p.failure;
    }
    return out;
}

json study_tail_json(const study_plan& plan, const study_summary& s, const vocabulary& words) {
    return {{"solved", s.points - s.failed},
            {"failed", s.failed},
            {"rate_calls", s.rate_calls},
            {"notes", said_all(plan.notes, words)},
            {"warnings", plan.warnings}};
}

// ---- Curves -----------------------------------------------------------------------

study_plot::study_plot(const study_plan& plan) : plan_(plan) {
    // Along the x axis: the first quantity with more than one value (those
    // before it have one, so that it runs fastest).
    if (!plan.table) {
        while (along_ + 1 < plan.vars.size() && plan.vars[along_].values.size() == 1) ++along_;
    }
    per_curve_ = plan.table ? plan.points : plan.vars[along_].values.size();
    members_ = plan.points / per_curve_;
    // A panel per kind of axis, in the order the results come.
    std::vector<std::string> axes;
    std::vector<std::string> left_out;
    for (std::size_t r = 0; r < plan.results.size(); ++r) {
        const std::string axis = plan.results[r].kind->axis;
        const auto at = std::find(axes.begin(), axes.end(), axis);
        if (at != axes.end()) {
            panels_[static_cast<std::size_t>(at - axes.begin())].push_back(r);
        } else if (axes.size() < 4) {
            axes.push_back(axis);
            panels_.push_back({r});
        } else {
            left_out.push_back(plan.results[r].name);
        }
    }
    if (!left_out.empty()) {
        std::string names;
        for (const std::string& n : left_out) names += (names.empty() ? "" : ", ") + n;
        notes_.push_back("the plot has room for 4 kinds of result and leaves out " + names + " (" + mention("results") +
                         " chooses; a table, the CSV and the JSON have them all)");
    }
    // A panel of k results draws the curves of at most 8 values of the
    // others, and some 12 curves in all: evenly chosen, the first and last
    // among them.
    std::string others;
    for (std::size_t k = along_ + 1; k < plan.vars.size() && !plan.table; ++k) {
        if (plan.vars[k].values.size() > 1) others += (others.empty() ? "" : " and ") + plan.vars[k].name;
    }
    for (const auto& panel : panels_) {
        const std::size_t room = std::min<std::size_t>(8, std::max<std::size_t>(4, 12 / panel.size()));
        const std::size_t shown = std::min(members_, room);
        std::vector<std::size_t> members;
        for (std::size_t k = 0; k < shown; ++k) {
            members.push_back(shown == 1 ? 0 : (k * (members_ - 1) + (shown - 1) / 2) / (shown - 1));
        }
        for (const std::size_t m : members) {
            if (std::find(shown_.begin(), shown_.end(), m) == shown_.end()) shown_.push_back(m);
        }
        panel_members_.push_back(members);
        if (shown < members_) {
            // Said in the panel's key and here, never left out silently.
            std::string results;
            for (const std::size_t r : panel) results += (results.empty() ? "" : ", ") + plan.results[r].name;
            notes_.push_back("the plot's panel of " + results + " draws curves for " + std::to_string(shown) +
                             " of the " + std::to_string(members_) + " values of " + others +
                             " (evenly chosen, the first and last among them; its key says which)" +
                             (plan.vars.size() == 2 ? "; " + mention("map", "", "RESULT FILE") + " draws a result over both"
                                                    : message()));
        }
    }
    std::sort(shown_.begin(), shown_.end());
}

double study_plot::x_of(std::size_t index) const {
    if (plan_.table) return static_cast<double>(index + 1);
    // The variables before the one along x have one value: it runs fastest.
    const std::vector<double>& values = plan_.vars[along_].values;
    return values[index % values.size()];
}

void study_plot::keep(std::size_t index, bool ok, const std::vector<double>& values, const std::vector<double>& low,
                      const std::vector<double>& high) {
    if (curves_.size() != shown_.size()) curves_.resize(shown_.size());
    const double x = x_of(index);
    // A cross at each x where any point failed, once.
    if (!ok && std::find(failed_.begin(), failed_.end(), x) == failed_.end()) failed_.push_back(x);
    const auto at = std::find(shown_.begin(), shown_.end(), index / per_curve_);
    if (at == shown_.end()) return;
    curve& c = curves_[static_cast<std::size_t>(at - shown_.begin())];
    const std::size_t n = plan_.results.size();
    c.y.resize(n);
    c.low.resize(n);
    c.high.resize(n);
    c.x.push_back(x);
    for (std::size_t r = 0; r < n; ++r) {
        const double scale = plan_.results[r].kind != nullptr ? plan_.results[r].kind->axis_scale : 1.0;
        c.y[r].push_back(ok ? values[r] * scale : NAN);
        c.low[r].push_back(ok && r < low.size() ? low[r] * scale : NAN);
        c.high[r].push_back(ok && r < high.size() ? high[r] * scale : NAN);
    }
}

void study_plot::add(const study_point& p) {
    std::vector<double> low, high;
    if (plan_.bands) {
        for (const auto& b : p.bands) {
            low.push_back(b.low);
            high.push_back(b.high);
        }
    }
    keep(p.index, p.ok, p.values, low, high);
}

void study_plot::add(const table& points) {
    const std::size_t n = plan_.results.size();
    const column* failure = points.find("failure");
    std::vector<const column*> value(n), low(n), high(n);
    for (std::size_t r = 0; r < n; ++r) {
        value[r] = points.find(plan_.results[r].name);
        low[r] = points.find(plan_.results[r].name + "_low");
        high[r] = points.find(plan_.results[r].name + "_high");
    }
    const auto cell = [](const column* c, std::size_t row) {
        return c != nullptr && row < c->numbers.size() ? c->numbers[row] : NAN;
    };
    for (std::size_t row = 0; row < points.rows(); ++row) {
        const bool ok = failure == nullptr || row >= failure->texts.size() || failure->texts[row].empty();
        std::vector<double> v(n), lo(n), hi(n);
        for (std::size_t r = 0; r < n; ++r) {
            v[r] = cell(value[r], row);
            lo[r] = cell(low[r], row);
            hi[r] = cell(high[r], row);
        }
        keep(row, ok, v, lo, hi);
    }
}

figure study_plot::description() const {
    figure f;
    f.title = "Urea reactor study: " + subject_markup(plan_) + "\n" + base_markup(plan_);
    const bool family = shown_.size() > 1;
    axis x;
    if (plan_.table) {
        x = {"case (row of the case table)", "", axis_scale::linear, 0.5, static_cast<double>(plan_.points) + 0.5, {}};
    } else {
        const study_variable& v = plan_.vars[along_];
        const auto [lo, hi] = std::minmax_element(v.values.begin(), v.values.end());
        x.quantity = sweep_axis_label(v);
        if (*hi > *lo) {
            x.low = *lo;
            x.high = *hi;
        }
        if (log_axis(v)) {
            x.scale = axis_scale::log;
            x.ticks = log_ticks(*lo, *hi);
        }
        if (v.name == "model") x.ticks = {{0, "trays"}, {1, "plug flow"}};
    }
    // Lines with a point now and then along long curves; points alone for
    // cases, which are not a sequence.
    const int every = !plan_.table && per_curve_ > 40 ? static_cast<int>(per_curve_ / 8) : 1;
    for (std::size_t pi = 0; pi < panels_.size(); ++pi) {
        const std::vector<std::size_t>& results = panels_[pi];
        const std::vector<std::size_t>& members = panel_members_[pi];
        // A member's colour tells its place among all the values, the same
        // in every panel; its point type tells it from its neighbours.
        const auto style_of = [&](std::size_t k) {
            const curve_style scale =
                member_style(members_ <= 1 ? 0 : (members[k] * 7 + (members_ - 1) / 2) / (members_ - 1), 8);
            return curve_style{scale.colour, member_style(k, members.size()).marker};
        };
        const auto curve_of = [&](std::size_t k) -> const curve* {
            const auto at = std::find(shown_.begin(), shown_.end(), members[k]);
            const auto i = static_cast<std::size_t>(at - shown_.begin());
            return i < curves_.size() && !curves_[i].x.empty() ? &curves_[i] : nullptr;
        };
        panel p;
        p.x = x;
        // A panel of one result names it on its axis, where the axis's
        // words do not ("NH_3 out: molar flow (kmol/h)").
        const result_quantity& first = plan_.results[results.front()];
        const std::string words = first.kind != nullptr ? first.kind->axis : first.unit;
        p.y.quantity = results.size() == 1 && words.find(first.title) == std::string::npos ? first.title + ": " + words
                                                                                            : words;
        p.key = key_place::outside_right;
        // The bands first, shaded in their curve's colour, under the lines;
        // one entry in the key for them all, grey.
        bool band_titled = false;
        for (const std::size_t r : results) {
            if (!banded(plan_, r)) continue;
            for (std::size_t k = 0; k < members.size(); ++k) {
                const curve* c = curve_of(k);
                if (c == nullptr) continue;
                series b;
                b.how = mark::band;
                b.colour = family ? style_of(k).colour : result_style(plan_.results[r]).colour;
                b.x = c->x;
                b.low = c->low[r];
                b.high = c->high[r];
                p.drawn.push_back(std::move(b));
            }
            if (!band_titled) {
                series key;
                key.how = mark::band;
                key.sample = true;
                key.colour = band_key_colour;
                key.title = std::string("95 % band (") + band_method_name(plan_.bands->method) + ")";
                p.drawn.push_back(std::move(key));
                band_titled = true;
            }
        }
        for (std::size_t j = 0; j < results.size(); ++j) {
            const result_quantity& q = plan_.results[results[j]];
            for (std::size_t k = 0; k < members.size(); ++k) {
                const curve* c = curve_of(k);
                if (c == nullptr) continue;
                const curve_style st = family ? style_of(k) : result_style(q);
                series d;
                d.how = plan_.table ? mark::points : mark::line;
                d.marks = !plan_.table;
                d.every = every;
                d.colour = st.colour;
                d.marker = st.marker;
                d.size = 0.8;
                d.width = 2;
                d.dash = static_cast<int>(j % dash_types) + 1;
                d.title = family ? "" : q.title;
                d.x = c->x;
                d.y = c->y[results[j]];
                p.drawn.push_back(std::move(d));
            }
        }
        if (family) {
            // The key: each member's colour and point type, each result's dash.
            for (std::size_t k = 0; k < members.size(); ++k) {
                const curve_style st = style_of(k);
                series key;
                key.sample = true;
                key.marks = true;
                key.colour = st.colour;
                key.marker = st.marker;
                key.size = 0.8;
                key.width = 2;
                key.title = member_markup(plan_, along_, members[k]);
                p.drawn.push_back(std::move(key));
            }
            for (std::size_t j = 0; j < results.size(); ++j) {
                series key;
                key.sample = true;
                key.colour = "#000000";
                key.width = 2;
                key.dash = static_cast<int>(j % dash_types) + 1;
                key.title = plan_.results[results[j]].title;
                p.drawn.push_back(std::move(key));
            }
            if (members.size() < members_) {
                series told;
                told.how = mark::key_only;
                told.title = std::to_string(members.size()) + " of the " + std::to_string(members_) +
                             " values drawn here";
                p.drawn.push_back(std::move(told));
            }
        }
        if (!failed_.empty()) {
            series crosses;
            crosses.how = mark::foot;
            crosses.role = series_role::failed;
            crosses.marker = failed_style.marker;
            crosses.size = 1.3;
            crosses.width = 2;
            crosses.title = "failed point";
            crosses.x = failed_;
            p.drawn.push_back(std::move(crosses));
        }
        f.panels.push_back(std::move(p));
    }
    return f;
}

// ---- Map ----------------------------------------------------------------------------

study_map::study_map(const study_plan& plan, const std::string& result_name) : plan_(plan) {
    const field_ref option = given("map", result_name);
    const auto q = result_named(result_name);
    if (!q) throw input_error(option, result_name_problem(result_name));
    for (std::size_t r = 0; r < plan.results.size(); ++r) {
        if (plan.results[r].name == q->name) result_ = r;
    }
    if (plan.results.empty() || plan.results[result_].name != q->name) {
        throw std::logic_error("map " + q->name + ": not among the study's results");
    }
    title_ = plan.results[result_].title;
    axis_ = plan.results[result_].kind->axis;
    scale_ = plan.results[result_].kind->axis_scale;
    check_axes(option);
}

study_map::study_map(const study_plan& plan, std::size_t value_index, std::string title, std::string axis,
                     const field_ref& option)
    : plan_(plan), result_(value_index), title_(std::move(title)), axis_(std::move(axis)) {
    check_axes(option);
}

void study_map::check_axes(const field_ref& option) {
    const study_plan& plan = plan_;
    std::vector<std::size_t> varied;
    for (std::size_t k = 0; k < plan.vars.size(); ++k) {
        if (plan.vars[k].values.size() > 1) varied.push_back(k);
    }
    if (plan.table || varied.size() != 2) {
        throw input_error(option, "a map draws a result over two varied quantities (" + mention("vary") +
                                      " twice, more than one value each); this study " +
                          (plan.table ? std::string("runs a case table") : "varies " + std::to_string(varied.size())));
    }
    if (plan.vars[varied[0]].name == "model" || plan.vars[varied[1]].name == "model") {
        throw input_error(option, "a map's axes are numbers; the model is not (draw it with " + mention("plot") + ")");
    }
    x_ = varied[0];
    y_ = varied[1];
    along_x_ = plan.vars[x_].values.size();
    along_y_ = plan.vars[y_].values.size();
    for (std::size_t k = 0; k < x_; ++k) stride_x_ *= plan.vars[k].values.size();
    for (std::size_t k = 0; k < y_; ++k) stride_y_ *= plan.vars[k].values.size();
    grid_.assign(along_x_ * along_y_, NAN);
}

void study_map::add(const study_point& p) {
    const std::size_t ix = (p.index / stride_x_) % along_x_, iy = (p.index / stride_y_) % along_y_;
    keep(ix, iy, p.ok, p.ok && result_ < p.values.size() ? p.values[result_] : NAN);
}

void study_map::add(const table& points) {
    const column* failure = points.find("failure");
    const column* value = plan_.results.empty() ? nullptr : points.find(plan_.results[result_].name);
    for (std::size_t row = 0; row < points.rows(); ++row) {
        const bool ok = failure == nullptr || row >= failure->texts.size() || failure->texts[row].empty();
        const double v = value != nullptr && row < value->numbers.size() ? value->numbers[row] : NAN;
        keep((row / stride_x_) % along_x_, (row / stride_y_) % along_y_, ok, v);
    }
}

void study_map::keep(std::size_t ix, std::size_t iy, bool ok, double value) {
    const double v = ok ? value * scale_ : NAN;
    grid_[iy * along_x_ + ix] = v;
    if (std::isfinite(v)) {
        lo_ = any_value_ ? std::min(lo_, v) : v;
        hi_ = any_value_ ? std::max(hi_, v) : v;
        any_value_ = true;
    }
    if (!ok) {
        failed_x_.push_back(plan_.vars[x_].values[ix]);
        failed_y_.push_back(plan_.vars[y_].values[iy]);
    }
}

figure study_map::description() const {
    const study_variable& vx = plan_.vars[x_];
    const study_variable& vy = plan_.vars[y_];
    figure f;
    // A result's map names it and the axes; another quantity's title is its own.
    f.title = (plan_.results.empty() ? title_
                                     : "Urea reactor study: " + title_ + " over the " + label_of(vx).words + " and the " +
                                           label_of(vy).words) +
              "\n" + base_markup(plan_);
    panel p;
    p.key = key_place::below;
    // With marks drawn over the map (a design's rings), a margin of 4 % on
    // each side, so that a ring on the grid's edge is drawn whole.
    const double pad = over_.empty() ? 0.0 : 0.04;
    // The grid in ascending order along each axis (a list of values may
    // come in any order), as contouring needs.
    const auto ascending = [](const std::vector<double>& v) {
        std::vector<std::size_t> o(v.size());
        for (std::size_t k = 0; k < o.size(); ++k) o[k] = k;
        std::sort(o.begin(), o.end(), [&](std::size_t i, std::size_t j) { return v[i] < v[j]; });
        return o;
    };
    const std::vector<std::size_t> ox = ascending(vx.values), oy = ascending(vy.values);
    const auto axis_of = [&](const study_variable& v, const std::vector<std::size_t>& o) {
        axis a;
        a.quantity = sweep_axis_label(v);
        double lo = v.values[o.front()], hi = v.values[o.back()];
        if (log_axis(v)) {
            a.scale = axis_scale::log;
            a.ticks = log_ticks(lo, hi);
            const double by = std::pow(hi / lo, pad);
            lo /= by;
            hi *= by;
        } else {
            const double d = pad * (hi - lo);
            lo -= d;
            hi += d;
        }
        a.low = lo;
        a.high = hi;
        return a;
    };
    p.x = axis_of(vx, ox);
    p.y = axis_of(vy, oy);
    surface m;
    for (const std::size_t i : ox) m.x.push_back(vx.values[i]);
    for (const std::size_t j : oy) m.y.push_back(vy.values[j]);
    for (const std::size_t j : oy) {
        for (const std::size_t i : ox) m.z.push_back(grid_[j * along_x_ + i]);
    }
    if (any_value_ && hi_ > lo_) {
        // Levels 1, 2, 2.5 or 5 times a power of ten apart, 8 to 16 of them,
        // and one colour band between each two.
        m.step = nice_step(hi_ - lo_, 16);
        m.low = std::floor(lo_ / m.step) * m.step;
        m.high = std::ceil(hi_ / m.step) * m.step;
    } else if (any_value_) {
        m.low = lo_;
        m.high = hi_;
    }
    m.colour.quantity = axis_;
    m.bright_low = bright_low_;
    p.map = std::move(m);
    if (!failed_x_.empty()) {
        series failed;
        failed.title = "failed point";
        failed.how = mark::points;
        failed.role = series_role::failed;
        failed.colour = failed_style.colour;
        failed.marker = failed_style.marker;
        failed.size = 1.3;
        failed.width = 2;
        failed.x = failed_x_;
        failed.y = failed_y_;
        p.drawn.push_back(std::move(failed));
    }
    for (const series& d : over_) p.drawn.push_back(d);
    f.panels.push_back(std::move(p));
    return f;
}

// ---- The list of results ------------------------------------------------------------

void print_result_list(std::ostream& out, const vocabulary& words) {
    out << "Results a study tabulates (" << in_words(mention("results", "", "NAME[,NAME...]"), words)
        << "; the runs file's measurable ones marked *).\n"
           "<C> is a component (NH3, CO2, H2O, CARB, UREA, O2, N2); @N a tray from the inlet (plug flow: a\n"
           "station, N of 20 along the volume). Names are matched in any case, '-' as '_'.\n\n";
    for (const result_kind& k : result_kinds()) {
        out << "  " << left_aligned(std::string(k.name) + (k.measurable ? " *" : ""), 28) << left_aligned(k.unit, 10) << k.meaning
            << "\n";
    }
    out << "\nDefault: co2_conversion, equilibrium_co2_conversion, w_NH3, w_CO2, w_UREA, w_H2O\n";
}

}  // namespace workbench
