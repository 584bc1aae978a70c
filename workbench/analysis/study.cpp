#include "analysis/study.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "analysis/messages.h"
#include "base/text.h"
#include "io/case_file.h"

namespace workbench {
namespace {

// A number given as one, as decimal() reads a text: finite, or none.
std::optional<double> finite(double v) { return std::isfinite(v) ? std::optional<double>(v) : std::nullopt; }

constexpr double trays_code = 0.0, pfr_code = 1.0;

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    return s;
}

// Trays must be whole and within their bounds; throws through fail.
template <class Fail>
double checked_trays(double x, std::size_t k, bool listed, const Fail& fail) {
    const double whole = std::round(x);
    if (std::abs(x - whole) > 1e-9 * std::max(1.0, std::abs(x))) {
        fail(listed ? "trays must be whole numbers (value " + std::to_string(k + 1) + " is " + sig(x) + ")"
                    : "trays must be whole numbers, and point " + std::to_string(k + 1) + " would be " + sig(x) +
                          " (choose N so that the steps are whole)");
    }
    if (whole < min_trays || whole > max_trays) {
        fail("trays must be " + std::to_string(min_trays) + " to " + std::to_string(max_trays) + " (got " +
             sig(whole) + ")");
    }
    return whole;
}

// The values of a point of the grid, variable 1 fastest.
std::vector<std::size_t> grid_index(const std::vector<study_variable>& vars, std::size_t p) {
    std::vector<std::size_t> at(vars.size());
    for (std::size_t k = 0; k < vars.size(); ++k) {
        at[k] = p % vars[k].values.size();
        p /= vars[k].values.size();
    }
    return at;
}

// The base case changed by the given values of the variables.
reactor_case grid_case(const reactor_case& base, const std::vector<study_variable>& vars,
                       const std::vector<std::size_t>& at) {
    settings_given settings{};
    reactor_case c = base;
    for (std::size_t k = 0; k < vars.size(); ++k) {
        const double x = vars[k].values[at[k]];
        if (vars[k].which) {
            settings[static_cast<std::size_t>(*vars[k].which)] = x;
        } else if (vars[k].name == "a1") {
            c.a1 = x;
        } else if (vars[k].name == "a2") {
            c.a2 = x;
        } else {
            c.model = x == pfr_code ? reactor_model::pfr : reactor_model::trays;
        }
    }
    return with_settings(c, settings);
}

// Stations of a case's profile: its trays, or plug flow's.
std::size_t stations_of(const reactor_case& c) {
    return static_cast<std::size_t>(c.model == reactor_model::pfr ? pfr_stations : c.trays);
}

// Notes for quantities that change no result here, and checks of the
// results against the points' profiles; `varied`: the names varied.
void finish_plan(study_plan& plan, const std::vector<std::string>& varied, std::size_t most_stations,
                 std::size_t fewest_stations) {
    const bool model_varied = std::find(varied.begin(), varied.end(), "model") != varied.end();
    for (const std::string& name : varied) {
        const auto s = setting_named(name);
        if (name != "model" && s == setting::pressure_bar &&
            std::none_of(plan.base.tables.begin(), plan.base.tables.end(),
                         [](const auto& t) { return !t.second.fugacity.empty(); })) {
            plan.notes.push_back("pressure changes no result here: the built-in fugacity coefficients are f/P, "
                                 "so the pressure cancels in the plug-in's rates (it matters with "
                                 "fugacity-coefficient tables in the case file)");
        }
        if (name != "model" && s == setting::trays && plan.base.model == reactor_model::pfr && !model_varied) {
            plan.notes.push_back("trays change no result here: the case is plug flow (" + mention("model", "", "pfr") +
                                 "), which has none");
        }
    }
    for (const result_quantity& q : plan.results) {
        if (q.tray == 0) continue;
        if (q.tray > most_stations) {
            throw input_error(given("results", q.name),
                              "no point has a tray (or station) " + std::to_string(q.tray) +
                              ": " + (most_stations == static_cast<std::size_t>(pfr_stations) && plan.base.model == reactor_model::pfr
                                          ? "plug flow has " + std::to_string(pfr_stations) + " stations"
                                          : "the most trays are " + std::to_string(most_stations)));
        }
        if (q.tray > fewest_stations) {
            plan.notes.push_back(q.name + " is empty at the points with fewer than " + std::to_string(q.tray) +
                                 " trays (or stations)");
        }
    }
}

// A solved point's bands: the case solved at the band's points, each
// result's band from its values there.
void band_point(const band_plan& bands, const std::vector<result_quantity>& results, const reactor_case& c,
                const result& best, workbench_host& h, study_point& pt) {
    const std::vector<std::optional<result>> at = solve_band_points(bands, c, best, h);
    pt.bands = bands_of_results(bands, results, c, pt.values, at);
    pt.band_unsolved = static_cast<std::size_t>(std::count_if(at.begin(), at.end(), [](const auto& r) { return !r; }));
}

}  // namespace

double value_in(const reactor_case& c, const std::string& name) {
    if (name == "a1") return c.a1;
    if (name == "a2") return c.a2;
    if (name == "model") return c.model == reactor_model::pfr ? pfr_code : trays_code;
    const setting s = *setting_named(name);
    switch (s) {
        case setting::trays: return c.trays;
        case setting::volume_m3: return c.volume_m3;
        case setting::pressure_bar: return c.pressure_bar;
        case setting::inlet_temperature_C: return c.inlet_temperature_C;
        case setting::outlet_temperature_C: return c.outlet_temperature_C;
        case setting::nh3_co2: return nh3_co2_ratio(c);
        case setting::h2o_co2: return h2o_co2_ratio(c);
        default: return c.feed_kmol_h[static_cast<std::size_t>(s) - static_cast<std::size_t>(setting::feed_NH3)];
    }
}

study_variable parse_vary(const std::string& text) { return parse_vary(given("vary", text)); }

study_variable parse_vary(const field_ref& source, const std::vector<std::optional<double>>& numbers) {
    const std::string& text = source.text;
    study_variable v;
    v.given = text;
    v.source = source;
    const auto fail = [&](const std::string& what) -> void { throw input_error(source, what); };
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) {
        fail("write NAME=FROM:TO:N or NAME=V1,V2,... (e.g. a2=0.01:10:13, nh3_co2=2.8,3.2,3.6)");
    }
    const std::string name = text.substr(0, eq);
    const std::string spec = text.substr(eq + 1);
    if (normalised_name(name) == "model") {
        v.name = "model";
        v.listed = true;
        for (const std::string& m : split(spec, ',')) {
            const std::string key = lower(m);
            if (key != "trays" && key != "pfr") fail("the model is trays or pfr (e.g. model=trays,pfr)");
            v.values.push_back(key == "pfr" ? pfr_code : trays_code);
        }
    } else {
        const auto q = case_quantity_named(name);
        if (!q) fail(quantity_name_problem(name, true));
        v.name = q->name;
        v.which = q->which;
        v.log_spacing = !q->which;  // a rate factor
    }
    if (v.name != "model" && (spec.find(',') != std::string::npos || spec.find(':') == std::string::npos)) {
        // NAME=V1,V2,...: the values as given.
        v.listed = true;
        v.log_spacing = false;
        const std::vector<std::string> parts = split(spec, ',');
        if (parts.size() > max_study_points) fail("at most " + std::to_string(max_study_points) + " values");
        const bool given_numbers = numbers.size() == parts.size();
        for (std::size_t k = 0; k < parts.size(); ++k) {
            const auto x = given_numbers && numbers[k] ? finite(*numbers[k]) : decimal(parts[k]);
            if (!x) {
                fail("value " + std::to_string(k + 1) + " must be a finite number (got \"" + parts[k] + "\")" +
                     (parts.size() == 1 ? "; a range is FROM:TO:N" : ""));
            }
            v.values.push_back(v.which == setting::trays ? checked_trays(*x, k, true, fail) : *x);
        }
    } else if (v.name != "model") {
        std::vector<std::string> parts = split(spec, ':');
        std::vector<std::optional<double>> given_numbers = numbers;
        given_numbers.resize(numbers.size() == parts.size() ? parts.size() : 0);
        if (!parts.empty() && (parts[0] == "log" || parts[0] == "lin")) {
            v.log_spacing = parts[0] == "log";
            parts.erase(parts.begin());
            if (!given_numbers.empty()) given_numbers.erase(given_numbers.begin());
        }
        if (parts.size() != 3) fail("write NAME=FROM:TO:N, or NAME=log:FROM:TO:N for points evenly spaced in ln");
        const auto part = [&](std::size_t k) {
            return !given_numbers.empty() && given_numbers[k] ? finite(*given_numbers[k]) : decimal(parts[k]);
        };
        const auto from = part(0), to = part(1);
        if (!from) fail("FROM must be a finite number (got \"" + parts[0] + "\")");
        if (!to) fail("TO must be a finite number (got \"" + parts[1] + "\")");
        const auto n = part(2);
        if (!n || *n != std::floor(*n) || *n < 1.0 || *n > static_cast<double>(max_study_points)) {
            fail("N must be a whole number of points from 1 to " + std::to_string(max_study_points) + " (got \"" +
                 parts[2] + "\")");
        }
        const auto points = static_cast<std::size_t>(*n);
        if (points == 1 && *from != *to) fail("one point: give FROM = TO, or more points");
        if (points > 1 && *from == *to) fail("FROM = TO: give N = 1 for one point");
        if (v.log_spacing && !(*from > 0.0 && *to > 0.0)) {
            fail("points evenly spaced in ln need FROM and TO > 0" +
                 std::string(v.which ? "" : " (a rate factor is > 0)") + "; lin:FROM:TO:N spaces them evenly");
        }
        for (std::size_t k = 0; k < points; ++k) {
            const double s = points == 1 ? 0.0 : static_cast<double>(k) / static_cast<double>(points - 1);
            double x = v.log_spacing ? std::exp(std::log(*from) + s * (std::log(*to) - std::log(*from)))
                                     : *from + s * (*to - *from);
            if (k == 0) x = *from;
            if (k + 1 == points) x = *to;
            if (v.which == setting::trays) x = checked_trays(x, k, false, fail);
            v.values.push_back(x);
        }
    }
    // A value given twice would be the same case twice.
    std::set<double> seen;
    for (const double x : v.values) {
        if (!seen.insert(x).second) fail(setting_text(v.name, x) + " is given twice");
    }
    return v;
}

study_plan plan_study(const reactor_case& base, std::vector<study_variable> vars,
                      std::vector<result_quantity> results) {
    study_plan plan;
    plan.base = base;
    plan.results = std::move(results);
    plan.warnings = validate(base);
    if (vars.empty()) throw input_error(field("vary"), "give at least one");
    for (std::size_t k = 0; k < vars.size(); ++k) {
        for (std::size_t j = 0; j < k; ++j) {
            if (vars[j].name == vars[k].name) {
                throw input_error(vars[k].source, vars[k].name + " is varied twice");
            }
            for (const auto& [ratio, flow] : {std::pair{setting::nh3_co2, setting::feed_NH3},
                                              std::pair{setting::h2o_co2, setting::feed_H2O}}) {
                const bool a = vars[j].which == ratio && vars[k].which == flow;
                const bool b = vars[j].which == flow && vars[k].which == ratio;
                if (a || b) {
                    throw input_error(vars[k].source, std::string(setting_column(ratio)) + " and " +
                                                          setting_column(flow) + " set the same flow: vary one of them");
                }
            }
        }
    }
    double all = 1.0;  // exact far past the limit
    for (const study_variable& v : vars) all *= static_cast<double>(v.values.size());
    if (all > static_cast<double>(max_study_points)) {
        throw input_error(field("vary"), std::to_string(static_cast<unsigned long long>(all)) +
                                             " points in all; at most " + std::to_string(max_study_points));
    }
    const auto points = static_cast<std::size_t>(all);
    // Every point's case checked now, before anything runs.
    std::size_t clamped = 0, most = 0, fewest = max_trays;
    std::string first_warning;
    for (std::size_t p = 0; p < points; ++p) {
        const std::vector<std::size_t> at = grid_index(vars, p);
        const reactor_case c = grid_case(base, vars, at);
        std::string here;
        for (std::size_t k = 0; k < vars.size(); ++k) {
            here += (here.empty() ? "" : ", ") + vars[k].name + " = " + setting_text(vars[k].name, vars[k].values[at[k]]);
        }
        try {
            const std::vector<std::string> w = validate(c);
            if (!w.empty() && clamped++ == 0) first_warning = "at " + here + ": " + w.front();
        } catch (const input_error& e) {
            message option;
            for (const study_variable& v : vars) option += (option.empty() ? "" : ", ") + cite(v.source);
            throw input_error(option + ": at the point " + here + ": " + e.message());
        }
        most = std::max(most, stations_of(c));
        fewest = std::min(fewest, stations_of(c));
    }
    if (clamped > 0) {
        plan.warnings.push_back(first_warning + (clamped > 1 ? " (and at " + std::to_string(clamped - 1) + " more points)"
                                                             : ""));
    }
    std::vector<std::string> varied;
    for (const study_variable& v : vars) {
        plan.settings.push_back(v.name);
        varied.push_back(v.name);
    }
    plan.points = points;
    plan.vars = std::move(vars);
    finish_plan(plan, varied, most, fewest);
    return plan;
}

study_plan plan_study(const reactor_case& base, case_table table, std::vector<result_quantity> results) {
    study_plan plan;
    plan.base = base;
    plan.results = std::move(results);
    plan.warnings = validate(base);
    plan.warnings.insert(plan.warnings.end(), table.warnings.begin(), table.warnings.end());
    std::size_t most = 0, fewest = max_trays;
    for (const case_row& r : table.rows) {
        const reactor_case c = case_of(base, r, table, &plan.warnings);
        most = std::max(most, stations_of(c));
        fewest = std::min(fewest, stations_of(c));
    }
    plan.settings = table.settings;
    plan.points = table.rows.size();
    plan.table = std::move(table);
    finish_plan(plan, plan.settings, most, fewest);
    return plan;
}

void add_bands(study_plan& plan, band_plan bands) {
    for (const std::string& name : plan.settings) {
        if (name == "a1" || name == "a2") {
            const auto varied = std::find_if(plan.vars.begin(), plan.vars.end(),
                                             [&](const study_variable& v) { return v.name == name; });
            field_ref what = plan.table ? given("cases", plan.table->file) : varied->source;
            if (!plan.table) what.text = name;
            throw input_error(cite(what) + (plan.table ? ": the column " + name : std::string()) + " and " +
                              mention("estimate", "", bands.u.source) +
                              ": the estimate sets a1 and a2; vary the other quantities (or leave " +
                              mention("estimate") + " out)");
        }
    }
    for (std::string& w : check_carry_over(bands.u, plan.base, true)) plan.warnings.push_back(std::move(w));
    plan.base = at_estimate(plan.base, bands.u);
    plan.bands = std::move(bands);
}

reactor_case study_case(const study_plan& plan, std::size_t p) {
    if (plan.table) return case_of(plan.base, plan.table->rows[p], *plan.table);
    return grid_case(plan.base, plan.vars, grid_index(plan.vars, p));
}

std::vector<double> study_settings(const study_plan& plan, std::size_t p, const reactor_case& c) {
    std::vector<double> settings;
    if (plan.table) {
        for (const std::string& name : plan.settings) settings.push_back(value_in(c, name));
    } else {
        const std::vector<std::size_t> at = grid_index(plan.vars, p);
        for (std::size_t k = 0; k < plan.vars.size(); ++k) settings.push_back(plan.vars[k].values[at[k]]);
    }
    return settings;
}

std::vector<point_range> study_chunks(const study_plan& plan) {
    std::vector<point_range> out;
    const std::size_t row = plan.table || plan.vars.empty() ? 1 : plan.vars.front().values.size();
    if (row > study_chunk_points) {
        // Each row in near-equal pieces.
        const std::size_t pieces = (row + study_chunk_points - 1) / study_chunk_points;
        for (std::size_t r = 0; r < plan.points; r += row) {
            for (std::size_t k = 0; k < pieces; ++k) out.push_back({r + row * k / pieces, r + row * (k + 1) / pieces});
        }
    } else {
        const std::size_t step = study_chunk_points / row * row;
        for (std::size_t p = 0; p < plan.points; p += step) out.push_back({p, std::min(plan.points, p + step)});
    }
    return out;
}

void run_study_chunk(const study_plan& plan, point_range range, workbench_host& h,
                     const std::function<void(const std::string&)>& emit) {
    const std::size_t dims = plan.table ? 1 : plan.vars.size();
    // The warm starts: the last solution, and for each dimension k >= 1 the
    // last solution at a point whose indices below k are all 0 (the start
    // of the row, of the plane, ...), reset when that point failed; all
    // within the chunk.
    std::optional<result> previous;
    std::vector<std::optional<result>> anchor(dims);
    study_point pt;
    for (std::size_t p = range.begin; p < range.end; ++p) {
        const std::vector<std::size_t> at = plan.table ? std::vector<std::size_t>{p} : grid_index(plan.vars, p);
        const reactor_case c = study_case(plan, p);
        // The point's neighbour: the one before along the first dimension
        // that moved on from 0.
        std::size_t first_moved = dims;
        for (std::size_t k = 0; k < dims; ++k) {
            if (at[k] > 0) {
                first_moved = k;
                break;
            }
        }
        const result* warm = nullptr;
        if (first_moved == 0 && previous) warm = &*previous;
        if (first_moved > 0 && first_moved < dims && anchor[first_moved]) warm = &*anchor[first_moved];
        const long calls0 = h.rate_calls();
        run_outcome o = run_case(c, h, warm);
        h.check_stop();

        pt.index = p;
        pt.settings = study_settings(plan, p, c);
        pt.ok = o.ok();
        pt.failure = o.failure;
        pt.details = o.details;
        pt.values.clear();
        pt.bands.clear();
        pt.band_unsolved = 0;
        pt.conversion_defined = o.ok() && o.value->co2_conversion_defined;
        pt.max_balance_residual = o.ok() ? o.value->max_balance_residual : 0.0;
        if (o.ok()) {
            for (const result_quantity& q : plan.results) pt.values.push_back(q.value(*o.value, c));
            if (plan.bands) band_point(*plan.bands, plan.results, c, *o.value, h, pt);
        }
        pt.rate_calls = h.rate_calls() - calls0;
        emit(study_point_bytes(pt));
        // The dimensions k with every index below k at 0 keep this point.
        for (std::size_t k = 1; k < dims && at[k - 1] == 0; ++k) {
            if (o.ok()) {
                anchor[k] = *o.value;
            } else {
                anchor[k].reset();
            }
        }
        if (o.ok()) previous = std::move(o.value);
    }
}

study_summary run_study(const study_plan& plan, workbench_host& h, const study_sink& sink) {
    study_summary out;
    const std::vector<point_range> chunks = study_chunks(plan);
    const worker_options& workers = h.owner().workers();
    study_point pt;
    std::size_t done = 0;  // points handed to the sink
    const auto hand_on = [&] {
        if (plan.table) pt.carried = &plan.table->rows[pt.index].carried;
        if (!pt.ok) ++out.failed;
        out.rate_calls += pt.rate_calls;
        sink(pt);
        ++done;
        if (workers.progress) workers.progress("points", done, plan.points);
    };
    chunk_work work;
    work.chunks = chunks.size();
    work.run = [&](std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit) {
        run_study_chunk(plan, {chunks[i].begin + from, chunks[i].end}, h, emit);
    };
    work.take = [&](std::size_t, const std::string& bytes) {
        read_study_point(bytes, pt);
        check_study_point(plan, done, pt);
        hand_on();
    };
    work.results = [&chunks](std::size_t i) { return chunks[i].end - chunks[i].begin; };
    // A point a worker could not finish (its plug-in crashed or hung): failed,
    // with why; or the rest of a chunk not run.
    std::size_t lost = 0;
    std::string first_lost;
    work.lost = [&](std::size_t i, const std::string& why, bool ran) {
        const std::size_t end = ran ? std::min(done + 1, chunks[i].end) : chunks[i].end;
        if (first_lost.empty()) first_lost = why;
        lost += end - done;
        for (std::size_t p = done; p < end; ++p) {
            const reactor_case c = study_case(plan, p);
            pt = study_point{};
            pt.index = p;
            pt.settings = study_settings(plan, p, c);
            pt.failure = why;
            hand_on();
        }
    };
    work.kind = "study";
    work.state = [&plan] { return study_plan_bytes(plan); };
    run_chunks(workers, work, [&h] { h.check_stop(); });
    say_undone(workers, "study", lost, plan.points, "points", first_lost);
    // The points said are the points handed on.
    if (done != plan.points) {
        throw worker_answer_error("the study's workers answered " + std::to_string(done) + " of its " +
                                  std::to_string(plan.points) + " points");
    }
    out.points = done;
    return out;
}

void wire_put(wire::tree& j, const reactor_case& c) { wire::detail::put(j, case_file_text(c)); }

void wire_get(const wire::tree& j, reactor_case& c) {
    std::string text;
    wire::detail::get(j, text);
    try {
        c = parse_case(text, "a case sent to a worker");
    } catch (const std::exception& e) {
        wire::detail::wrong(std::string("a case that does not read: ") + e.what());
    }
}

namespace {

// A plan as sent to other machines: what a chunk's points are computed from.
struct sent_bands {
    band_method method = band_method::profile;
    factor_uncertainty u;
};
WIRE_FIELDS(sent_bands, method, u)

struct sent_plan {
    reactor_case base;
    std::vector<study_variable> vars;
    std::optional<case_table> table;
    std::vector<std::string> results;  // by name
    std::size_t points = 0;
    std::vector<std::string> settings;
    std::optional<sent_bands> bands;
};
WIRE_FIELDS(sent_plan, base, vars, table, results, points, settings, bands)

}  // namespace

std::string study_plan_bytes(const study_plan& plan) {
    sent_plan p{plan.base, plan.vars, plan.table, {}, plan.points, plan.settings, {}};
    for (const result_quantity& q : plan.results) p.results.push_back(q.name);
    if (plan.bands) p.bands = sent_bands{plan.bands->method, plan.bands->u};
    return wire::write("study plan", p);
}

study_plan study_plan_of(const std::string& bytes) {
    auto p = wire::read<sent_plan>(bytes, "study plan");
    study_plan plan;
    plan.base = std::move(p.base);
    plan.vars = std::move(p.vars);
    plan.table = std::move(p.table);
    for (const std::string& name : p.results) {
        const std::optional<result_quantity> q = result_named(name);
        if (!q) throw worker_answer_error("a study plan with a result of no such name (" + printable(name) + ")");
        plan.results.push_back(*q);
    }
    plan.points = p.points;
    plan.settings = std::move(p.settings);
    if (p.bands) plan.bands = plan_bands(p.bands->u, p.bands->method);
    return plan;
}

void run_sent_study_chunk(session& s, const std::string& state, std::size_t chunk,
                          const std::function<void(const std::string&)>& emit) {
    const study_plan plan = study_plan_of(state);
    const property_set props(plan.base.tables);
    workbench_host h(s, props);
    run_study_chunk(plan, study_chunks(plan).at(chunk), h, emit);
}

std::string setting_text(const std::string& name, double v, int digits) {
    if (name == "model") return v == pfr_code ? "pfr" : "trays";
    return sig(v, digits);
}

std::string point_text(const study_plan& plan, const study_point& p) {
    if (plan.table) return plan.table->file + ":" + std::to_string(plan.table->rows[p.index].line);
    std::string s;
    for (std::size_t k = 0; k < plan.settings.size(); ++k) {
        s += (k ? ", " : "") + plan.settings[k] + " = " + setting_text(plan.settings[k], p.settings[k]);
    }
    return s;
}

}  // namespace workbench
