#include "report/design_report.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "base/text.h"
#include "report/gnuplot.h"
#include "report/json_stream.h"
#include "report/palette.h"
#include "report/study_report.h"

namespace workbench {
namespace {

using json = nlohmann::ordered_json;

std::string interval(double lo, double hi) {
    return std::isfinite(lo) && std::isfinite(hi) ? sig(lo, 4) + " .. " + sig(hi, 4) : "none";
}

const char* criterion_name(design_criterion c) {
    switch (c) {
        case design_criterion::d_optimal: return "d_optimal";
        case design_criterion::one_factor: return "one_factor";
        default: return "conditional";
    }
}

// Whether some candidate's ranked measure is known relative to now: then
// the map draws it in % of now; else (no "now" to compare with) log10 of
// the criterion.
bool relative_known(const design_result& r) {
    return std::any_of(r.candidates.begin(), r.candidates.end(),
                       [](const design_candidate& d) { return d.ok && std::isfinite(d.relative); });
}

}  // namespace

std::string design_measure(const design_result& r) {
    if (r.criterion == design_criterion::d_optimal) return "the joint 95 % region's area";
    return std::string(factor_names[r.ranked_factor]) + "'s 95 % interval width" +
           (r.criterion == design_criterion::conditional
                ? std::string(" (") + factor_names[1 - r.ranked_factor] + " held)"
                : "");
}

void print_design(std::ostream& out, const design_problem& p, const design_result& r, std::size_t top,
                  const vocabulary& words) {
    const factor_uncertainty& u = r.estimate;
    const study_plan& plan = p.candidates;
    out << "Design of the next test run: " << plan.points << " candidate" << (plan.points == 1 ? "" : "s") << ", "
        << study_subject(plan) << ", over the case " << printable(plan.base.name) << "\n";
    out << "  linearised at " << (r.estimated_here ? "the estimate made here (the fit alone)" : estimate_named(u))
        << ": a1 = " << sig(u.value[0], 4) << (u.free[0] ? "" : " (held)") << ", a2 = " << sig(u.value[1], 4)
        << (u.free[1] ? "" : " (held)") << ", from the " << p.runs.runs.runs.size() << " runs of "
        << printable(p.runs.runs.file) << "\n";
    out << "  the next run measures";
    bool first = true, same_sigma = true;
    double sigma = NAN;
    for (std::size_t q = 0; q < quantity_count; ++q) {
        if (!r.measure[q]) continue;
        same_sigma = same_sigma && (std::isnan(sigma) || sigma == r.sigma[q]);
        sigma = r.sigma[q];
    }
    for (std::size_t q = 0; q < quantity_count; ++q) {
        if (!r.measure[q]) continue;
        out << (first ? " " : ", ") << quantities[q].column;
        if (!same_sigma) out << " (sigma " << sig(r.sigma[q], 3) << ")";
        first = false;
    }
    if (same_sigma) out << " (sigma " << sig(sigma, 3) << " each)";
    out << in_words(r.measure_chosen ? " (" + mention("measure") + ")"
                                     : ": what most of the current runs measure (" + mention("measure") + " chooses)",
                    words)
        << "\n";
    out << "  now, linearised:";
    for (std::size_t k = 0; k < 2; ++k) {
        if (u.free[k]) out << " " << factor_names[k] << " " << interval(r.now_lower[k], r.now_upper[k]) << (k == 0 && u.free[1] ? ";" : "");
    }
    out << "\n  ranked by ";
    switch (r.criterion) {
        case design_criterion::d_optimal:
            out << "D-optimality: det of the information on ln a1 and ln a2 with the run added (the joint region's "
                   "area shrinks as 1/sqrt(det))";
            break;
        case design_criterion::one_factor:
            out << factor_names[r.ranked_factor] << "'s expected 95 % interval";
            break;
        case design_criterion::conditional:
            out << factor_names[r.ranked_factor] << "'s expected 95 % interval, " << factor_names[1 - r.ranked_factor]
                << " held (it changes nothing any run measures)";
            break;
    }
    out << "; " << design_measure(r) << " after the run, % of now\n\n";

    // The table: rank, a case table's line or the settings, the measure, the intervals.
    std::vector<std::string> head = {"rank"};
    if (plan.table) head.push_back("line");
    for (const std::string& s : plan.settings) head.push_back(s);
    head.push_back(r.criterion == design_criterion::d_optimal ? "region %" : "width %");
    for (std::size_t k = 0; k < 2; ++k) {
        if (u.free[k]) head.push_back(std::string(factor_names[k]) + " expected 95 %");
    }
    std::vector<std::size_t> width;
    for (const std::string& h : head) width.push_back(std::max<std::size_t>(h.size() + 2, 8));
    for (std::size_t c = 0; c < head.size(); ++c) {
        if (head[c].find("expected") != std::string::npos) width[c] = std::max<std::size_t>(width[c], 24);
    }
    for (std::size_t c = 0; c < head.size(); ++c) out << right_aligned(head[c], width[c]);
    out << "\n";
    const auto row = [&](const design_candidate& d, const std::string& rank) {
        std::size_t c = 0;
        out << right_aligned(rank, width[c++]);
        if (plan.table) out << right_aligned(std::to_string(plan.table->rows[d.index].line), width[c++]);
        for (std::size_t k = 0; k < plan.settings.size(); ++k) {
            out << right_aligned(setting_text(plan.settings[k], d.settings[k], 5), width[c++]);
        }
        out << right_aligned(sig_or_dash(100.0 * d.relative, 3), width[c++]);
        for (std::size_t k = 0; k < 2; ++k) {
            if (u.free[k]) out << right_aligned(interval(d.lower[k], d.upper[k]), width[c++]);
        }
        out << "\n";
    };
    const std::size_t shown = std::min(top, r.ranking.size());
    for (std::size_t i = 0; i < shown; ++i) row(r.candidates[r.ranking[i]], std::to_string(i + 1));
    if (r.ranking.size() > shown) {
        const std::size_t m = r.ranking.size() / 2;
        if (m >= shown) {
            out << "  ...\n";
            row(r.candidates[r.ranking[m]], std::to_string(m + 1));
        }
        out << "  (" << r.ranking.size() << " ranked; rank " << m + 1 << " is the median; " << in_words(mention("csv"), words)
            << " lists them all)\n";
    }
    out << "\nVerdict\n";
    for (const message& line : r.verdict) out << "  " << in_words(line, words) << "\n";
    out << "\n" << r.reactor_solves << " reactor solves\n";
}

json design_json(const design_problem& p, const design_result& r, const vocabulary& words) {
    const factor_uncertainty& u = r.estimate;
    const study_plan& plan = p.candidates;
    json measure = json::object();
    for (std::size_t q = 0; q < quantity_count; ++q) {
        if (r.measure[q]) measure[quantities[q].column] = r.sigma[q];
    }
    const auto intervals = [&](const std::array<double, 2>& lo, const std::array<double, 2>& hi) {
        json j = json::object();
        for (std::size_t k = 0; k < 2; ++k) {
            if (u.free[k]) j[factor_names[k]] = json::array({json_number(lo[k]), json_number(hi[k])});
        }
        return j;
    };
    json candidates = json::array();
    for (const design_candidate& d : r.candidates) {
        json settings = json::object();
        for (std::size_t k = 0; k < plan.settings.size(); ++k) {
            const std::string& s = plan.settings[k];
            settings[s] = s == "model" ? json(setting_text(s, d.settings[k])) : json(d.settings[k]);
        }
        json c = json::object();
        if (plan.table) c["line"] = plan.table->rows[d.index].line;
        c["settings"] = settings;
        c["ok"] = d.ok;
        if (!d.ok) {
            c["failure"] = d.failure;
        } else {
            json values = json::object(), slopes = json::object();
            for (std::size_t q = 0; q < quantity_count; ++q) {
                if (r.measure[q]) values[quantities[q].column] = d.values[q];
            }
            for (std::size_t k = 0; k < 2; ++k) {
                if (!u.free[k]) continue;
                json s = json::object();
                for (std::size_t q = 0; q < quantity_count; ++q) {
                    if (r.measure[q]) s[quantities[q].column] = d.slope[k][q];
                }
                slopes[factor_names[k]] = s;
            }
            c["rank"] = d.rank;
            c["criterion"] = json_number(d.criterion);
            c["relative"] = json_number(d.relative);
            c["expected95"] = intervals(d.lower, d.upper);
            c["predicted"] = values;
            c["slope_ln"] = slopes;
        }
        candidates.push_back(c);
    }
    json ranking = json::array();
    for (const std::size_t i : r.ranking) ranking.push_back(i);
    return {{"runs_file", p.runs.runs.file},
            {"estimate", {{"source", r.estimated_here ? std::string("estimated here (the fit alone)") : u.source},
                          {"a1", u.value[0]},
                          {"a2", u.value[1]},
                          {"free", {{"a1", u.free[0]}, {"a2", u.free[1]}}}}},
            {"measure", measure},
            {"measure_chosen", r.measure_chosen},
            {"criterion", criterion_name(r.criterion)},
            {"ranked_factor", r.criterion == design_criterion::d_optimal ? json(nullptr)
                                                                           : json(factor_names[r.ranked_factor])},
            {"relative_is", design_measure(r) + " after the run, as a fraction of now"},
            {"now95", intervals(r.now_lower, r.now_upper)},
            {"determinable", {{"a1", r.determinable[0]}, {"a2", r.determinable[1]}}},
            {"largest_effect_sigma", {{"a1", r.largest_effect[0]}, {"a2", r.largest_effect[1]}}},
            {"candidates", candidates},
            {"ranking", ranking},
            {"failed", r.failed},
            {"reactor_solves", r.reactor_solves},
            {"verdict", said_all(r.verdict, words)},
            {"warnings", plan.warnings},
            {"notes", said_all(plan.notes, words)}};
}

table candidates_table(const design_problem& p, const design_result& r) {
    const factor_uncertainty& u = r.estimate;
    const study_plan& plan = p.candidates;
    table t;
    const auto declared_as = [](const char* name) -> const schema_field& { return field_of("design candidate", name); };
    for (const std::string& c : carried_names(plan)) t.add(declared_as("<column>"), c);
    for (const std::string& name : plan.settings) t.add(declared_as("<quantity>"), name);
    t.add(declared_as("rank"));
    t.add(declared_as("relative"));
    t.add(declared_as("criterion"));
    for (std::size_t k = 0; k < 2; ++k) {
        if (!u.free[k]) continue;
        t.add(declared_as("<factor>_lower"), factor_names[k]);
        t.add(declared_as("<factor>_upper"), factor_names[k]);
    }
    t.add(declared_as("failure"));
    for (const design_candidate& d : r.candidates) {
        std::size_t i = 0;
        if (d.carried != nullptr) {
            for (const std::string& c : *d.carried) t[i++].push(c);
        }
        for (std::size_t k = 0; k < plan.settings.size(); ++k) {
            if (plan.settings[k] == "model") {
                t[i++].push(setting_text("model", d.settings[k]));
            } else {
                t[i++].push(d.settings[k]);
            }
        }
        t[i++].push(d.ok ? static_cast<double>(d.rank) : NAN);
        t[i++].push(d.relative);
        t[i++].push(d.criterion);
        for (std::size_t k = 0; k < 2; ++k) {
            if (!u.free[k]) continue;
            t[i++].push(d.lower[k]);
            t[i++].push(d.upper[k]);
        }
        t[i++].push(d.ok ? std::string() : d.failure);
    }
    return t;
}

std::string design_csv(const design_problem& p, const design_result& r) { return csv_text(candidates_table(p, r)); }

figure design_map_figure(const design_problem& p, const design_result& r) {
    const bool relative = relative_known(r);
    const std::string what = design_measure(r);
    // The title's base case at the estimate's factors, to 4 digits (the
    // line must fit above the map).
    study_plan shown = p.candidates;
    shown.base = at_estimate(shown.base, r.estimate);
    for (double* a : {&shown.base.a1, &shown.base.a2}) *a = std::stod(sig(*a, 4));
    study_map map(shown, 0,
                  relative ? "Next test run: " + what + " after it, % of now"
                           : "Next test run: log_{10} of the ranking's criterion",
                  // Short, beside the colour bar: the title says what it is of.
                  relative ? "% of now (brighter: better)" : "log_{10} criterion (brighter: better)",
                  field("map"));
    if (relative) map.bright_low();
    // Over the map: the current runs where they were made, and the
    // top-ranked candidates, ringed and numbered by rank.
    std::vector<std::size_t> axes;
    for (std::size_t k = 0; k < shown.vars.size(); ++k) {
        if (shown.vars[k].values.size() > 1) axes.push_back(k);
    }
    const study_variable& vx = shown.vars[axes[0]];
    const study_variable& vy = shown.vars[axes[1]];
    const auto inside = [](const study_variable& v, double x) {
        const auto [lo, hi] = std::minmax_element(v.values.begin(), v.values.end());
        return x >= *lo && x <= *hi;
    };
    series under, runs, top;
    under.how = runs.how = mark::points;
    under.marker = 7;
    runs.marker = 6;
    under.size = runs.size = 1.1;
    runs.width = 1.5;
    under.colour = "#ffffff";
    runs.colour = "#000000";
    runs.role = under.role = series_role::measured;
    std::size_t outside = 0;
    for (const reactor_case& c : p.runs.cases) {
        const double x = value_in(c, vx.name), y = value_in(c, vy.name);
        for (series* d : {&under, &runs}) {
            d->x.push_back(x);
            d->y.push_back(y);
        }
        outside += inside(vx, x) && inside(vy, y) ? 0 : 1;
    }
    runs.title = "current runs" + (outside == 0 ? std::string()
                                                : " (" + std::to_string(outside) + " of " +
                                                      std::to_string(p.runs.cases.size()) + " outside the map)");
    const std::size_t best = std::min<std::size_t>(3, r.ranking.size());
    top.how = mark::rings;
    top.role = series_role::judged_by;
    top.colour = judged_by_colour;
    top.size = 2.4;
    top.width = 2.5;
    top.inward = true;  // a number on an edge stays inside
    for (std::size_t i = 0; i < best; ++i) {
        const design_candidate& d = r.candidates[r.ranking[i]];
        top.x.push_back(d.settings[axes[0]]);
        top.y.push_back(d.settings[axes[1]]);
        top.labels.push_back(std::to_string(i + 1));
    }
    top.title = best == 1 ? "the top-ranked run" : "the " + std::to_string(best) + " top-ranked runs";
    map.draw_over({std::move(under), std::move(runs), std::move(top)});
    study_point pt;
    for (const design_candidate& d : r.candidates) {
        pt.index = d.index;
        pt.settings = d.settings;
        pt.ok = d.ok;
        pt.values = {relative ? 100.0 * d.relative : std::log10(d.criterion)};
        map.add(pt);
    }
    return map.description();
}

std::string design_map_script(const design_problem& p, const design_result& r) {
    return gnuplot_script(design_map_figure(p, r));
}

}  // namespace workbench
