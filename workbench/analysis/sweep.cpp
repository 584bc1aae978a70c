#include "analysis/sweep.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "io/text.h"
#include "model/observation.h"

namespace workbench {
namespace {

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

}  // namespace

sweep_variable parse_vary(const std::string& text) {
    sweep_variable v;
    v.given = text;
    const auto fail = [&](const std::string& what) -> void {
        throw input_error("--vary " + text + ": " + what);
    };
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) fail("write NAME=FROM:TO:N (e.g. a2=0.01:10:13, nh3_co2=2.8:3.6:9)");
    const std::string name = text.substr(0, eq);
    const auto q = case_quantity_named(name);
    if (!q) fail("\"" + name + "\" is no quantity of a case (" + case_quantity_names + ")");
    v.name = q->name;
    v.which = q->which;
    v.log_spacing = !q->which;  // a rate factor
    std::vector<std::string> parts = split(text.substr(eq + 1), ':');
    if (!parts.empty() && (parts[0] == "log" || parts[0] == "lin")) {
        v.log_spacing = parts[0] == "log";
        parts.erase(parts.begin());
    }
    if (parts.size() != 3) fail("write NAME=FROM:TO:N, or NAME=log:FROM:TO:N for points evenly spaced in ln");
    const auto from = decimal(parts[0]), to = decimal(parts[1]);
    if (!from) fail("FROM must be a finite number (got \"" + parts[0] + "\")");
    if (!to) fail("TO must be a finite number (got \"" + parts[1] + "\")");
    const auto n = decimal(parts[2]);
    if (!n || *n != std::floor(*n) || *n < 1.0 || *n > static_cast<double>(max_sweep_points)) {
        fail("N must be a whole number of points from 1 to " + std::to_string(max_sweep_points) + " (got \"" +
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
        if (v.which == setting::trays) {
            const double whole = std::round(x);
            if (std::abs(x - whole) > 1e-9 * std::max(1.0, std::abs(x))) {
                fail("trays must be whole numbers, and point " + std::to_string(k + 1) + " would be " + sig(x) +
                     " (choose N so that the steps are whole)");
            }
            if (whole < min_trays || whole > max_trays) {
                fail("trays must be " + std::to_string(min_trays) + " to " + std::to_string(max_trays) + " (got " + sig(whole) + ")");
            }
            x = whole;
        }
        v.values.push_back(x);
    }
    return v;
}

std::string quantity_of_option(const std::string& option) {
    std::string name = option;
    while (!name.empty() && name.front() == '-') name.erase(name.begin());
    const auto q = case_quantity_named(name);
    return q ? q->name : "";
}

std::vector<reactor_case> sweep_cases(const reactor_case& base, const std::vector<sweep_variable>& vars,
                                      std::vector<std::string>* warnings) {
    if (vars.empty() || vars.size() > 2) throw input_error("--vary: give one or two (got " + std::to_string(vars.size()) + ")");
    if (vars.size() == 2) {
        if (vars[0].name == vars[1].name) {
            throw input_error("--vary " + vars[1].given + ": " + vars[1].name + " is varied twice");
        }
        for (const auto& [ratio, flow] : {std::pair{setting::nh3_co2, setting::feed_NH3},
                                          std::pair{setting::h2o_co2, setting::feed_H2O}}) {
            const bool a = vars[0].which == ratio && vars[1].which == flow;
            const bool b = vars[0].which == flow && vars[1].which == ratio;
            if (a || b) {
                throw input_error("--vary " + vars[1].given + ": " + setting_column(ratio) + " and " +
                                  setting_column(flow) + " set the same flow: vary one of them");
            }
        }
    }
    const std::size_t n1 = vars[0].values.size(), n2 = vars.size() == 2 ? vars[1].values.size() : 1;
    if (n1 * n2 > max_sweep_points) {
        throw input_error("--vary: " + std::to_string(n1 * n2) + " points in all; at most " +
                          std::to_string(max_sweep_points));
    }
    std::vector<reactor_case> cases;
    cases.reserve(n1 * n2);
    std::size_t clamped = 0;
    std::string first_warning;
    for (std::size_t i2 = 0; i2 < n2; ++i2) {
        for (std::size_t i1 = 0; i1 < n1; ++i1) {
            settings_given settings{};
            reactor_case c = base;
            std::string at;
            for (std::size_t k = 0; k < vars.size(); ++k) {
                const double x = vars[k].values[k == 0 ? i1 : i2];
                at += (at.empty() ? "" : ", ") + vars[k].name + " = " + sig(x);
                if (vars[k].which) {
                    settings[static_cast<std::size_t>(*vars[k].which)] = x;
                } else if (vars[k].name == "a1") {
                    c.a1 = x;
                } else {
                    c.a2 = x;
                }
            }
            c = with_settings(c, settings);
            try {
                const std::vector<std::string> w = validate(c);
                if (!w.empty()) {
                    if (clamped++ == 0) first_warning = "at " + at + ": " + w.front();
                }
            } catch (const input_error& e) {
                std::string option;
                for (const sweep_variable& v : vars) option += (option.empty() ? "--vary " : ", --vary ") + v.given;
                throw input_error(option + ": at the point " + at + ": " + e.what());
            }
            cases.push_back(std::move(c));
        }
    }
    if (warnings != nullptr && clamped > 0) {
        warnings->push_back(first_warning + (clamped > 1 ? " (and at " + std::to_string(clamped - 1) +
                                                               " more points)"
                                                         : ""));
    }
    return cases;
}

sweep_result run_sweep(const std::vector<reactor_case>& cases, const std::vector<sweep_variable>& vars,
                       workbench_host& h) {
    sweep_result out;
    out.vars = vars;
    const std::size_t n1 = vars.front().values.size();
    const long calls0 = h.rate_calls();
    // The last solution of the row and the first of the row before: the
    // warm starts.
    std::optional<result> previous, row_start;
    for (std::size_t p = 0; p < cases.size(); ++p) {
        const std::size_t i1 = p % n1, i2 = p / n1;
        sweep_point pt;
        pt.x.push_back(vars[0].values[i1]);
        if (vars.size() == 2) pt.x.push_back(vars[1].values[i2]);
        const result* warm = nullptr;
        if (i1 == 0 && row_start) warm = &*row_start;
        if (i1 > 0 && previous) warm = &*previous;
        run_outcome o = run_case(cases[p], h, warm);
        h.check_stop();
        if (o.ok()) {
            const result& r = *o.value;
            pt.ok = true;
            pt.conversion_defined = r.co2_conversion_defined;
            pt.co2_conversion = r.co2_conversion_defined ? r.co2_conversion : NAN;
            pt.equilibrium_co2_conversion = r.co2_conversion_defined ? r.equilibrium_co2_conversion : NAN;
            predicted values{};
            set_nc_mass_fractions(r.nc_flow_kg_s, values);
            for (std::size_t k = 0; k < 4; ++k) pt.w[k] = values[static_cast<std::size_t>(quantity::w_nh3) + k];
            pt.max_balance_residual = r.max_balance_residual;
            if (i1 == 0) row_start = r;
            previous = std::move(o.value);
        } else {
            pt.failure = o.failure;
            pt.details = o.details;
            ++out.failed;
            if (i1 == 0) row_start.reset();
        }
        out.points.push_back(std::move(pt));
    }
    out.rate_calls = h.rate_calls() - calls0;
    return out;
}

sweep_plan plan_sweep(const reactor_case& base, std::vector<sweep_variable> vars) {
    sweep_plan plan;
    plan.base = base;
    plan.warnings = validate(base);
    plan.cases = sweep_cases(base, vars, &plan.warnings);
    for (const sweep_variable& v : vars) {
        if (v.which == setting::pressure_bar &&
            std::none_of(base.tables.begin(), base.tables.end(), [](const auto& t) { return !t.second.fugacity.empty(); })) {
            plan.notes.push_back("pressure changes no result here: the built-in fugacity coefficients are f/P, "
                                 "so the pressure cancels in the plug-in's rates (it matters with "
                                 "fugacity-coefficient tables in the case file)");
        }
        if (v.which == setting::trays && base.model == reactor_model::pfr) {
            plan.notes.push_back("trays change no result here: the case is plug flow (--model pfr), which has none");
        }
    }
    plan.vars = std::move(vars);
    return plan;
}

std::string point_text(const sweep_result& r, std::size_t point) {
    std::string s;
    for (std::size_t k = 0; k < r.vars.size(); ++k) {
        s += (k ? ", " : "") + r.vars[k].name + " = " + sig(r.points[point].x[k]);
    }
    return s;
}

}  // namespace workbench
