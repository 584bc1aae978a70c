// Results as Python reads them: numbers, dicts by component, and tables of
// numpy columns (with .to_pandas()). The units are those of the command
// line's JSON: flows in kmol/h, mass flows in kg/h, temperatures in C. The
// printed reports are the command line's own.
#include <cmath>
#include <limits>
#include <sstream>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "binding.h"
#include "io/case_file.h"
#include "base/digest.h"
#include "base/input_files.h"
#include "io/output_files.h"
#include "report/band_report.h"
#include "report/design_report.h"
#include "report/estimate_report.h"
#include "report/html_report.h"
#include "report/study_report.h"
#include "report/run_report.h"
#include "report/sweep_report.h"

namespace urea_python {

using namespace workbench;

const py::object* table::find(const std::string& name) const {
    for (const auto& [n, c] : columns_) {
        if (n == name) return &c;
    }
    return nullptr;
}

py::dict by_component(const flows& f, double factor) {
    py::dict d;
    for (std::size_t i = 0; i < component_count; ++i) d[component_names[i]] = f[i] * factor;
    return d;
}

namespace {

constexpr double per_hour = 3600.0;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::array<const char*, 4> elements = {"C", "H", "N", "O"};

// A numpy column of a field of each item.
template <class T, class Items, class Get>
py::object numbers(const Items& items, Get get) {
    py::array_t<T> a(static_cast<py::ssize_t>(items.size()));
    auto v = a.template mutable_unchecked<1>();
    for (std::size_t k = 0; k < items.size(); ++k) v(static_cast<py::ssize_t>(k)) = static_cast<T>(get(items[k]));
    return a;
}

template <class Items, class Get>
py::object texts(const Items& items, Get get) {
    py::list l;
    for (const auto& item : items) l.append(py::str(get(item)));
    return l;
}

template <class Print>
std::string printed(Print print) {
    std::ostringstream out;
    print(out);
    return out.str();
}

// ---- a run -------------------------------------------------------------------

double conversion(const result& r, double v) { return r.co2_conversion_defined ? v : nan; }

table profile(const reactor_case& c, const result& r) {
    const std::vector<station>& p = r.profile;
    table t(p.size());
    t.add("volume_m3", numbers<double>(p, [](const station& s) { return s.volume_m3; }));
    t.add("temperature_C", numbers<double>(p, [](const station& s) { return s.temperature_K - kelvin; }));
    for (std::size_t i = 0; i < component_count; ++i) {
        t.add(std::string(component_names[i]) + "_kmol_h",
              numbers<double>(p, [i](const station& s) { return s.n[i] * per_hour; }));
    }
    t.add("co2_conversion", numbers<double>(p, [&](const station& s) { return conversion(r, s.co2_conversion); }));
    if (c.model == reactor_model::trays) {
        t.add("balance_residual", numbers<double>(p, [](const station& s) { return s.balance_residual; }));
        t.add("newton_iterations", numbers<int>(p, [](const station& s) { return s.iterations; }));
    }
    return t;
}

std::string run_repr(const run_output& o) {
    std::ostringstream out;
    out.precision(6);
    out << "<Result: CO2 conversion " << conversion(o.r, o.r.co2_conversion) << ", equilibrium "
        << conversion(o.r, o.r.equilibrium_co2_conversion) << "; " << o.r.profile.size()
        << (o.c.model == reactor_model::trays ? " trays" : " stations") << ", " << o.r.rate_calls
        << " rate calls>";
    return out.str();
}

table band_table(const prediction& p) {
    table t(p.results.size());
    t.add("name", texts(p.results, [](const result_quantity& q) { return q.name; }));
    t.add("unit", texts(p.results, [](const result_quantity& q) { return q.unit; }));
    t.add("value", numbers<double>(p.values, [](double v) { return v; }));
    t.add("low", numbers<double>(p.bands, [](const result_band& b) { return b.low; }));
    t.add("high", numbers<double>(p.bands, [](const result_band& b) { return b.high; }));
    t.add("open_low", numbers<bool>(p.bands, [](const result_band& b) { return b.open_low; }));
    t.add("open_high", numbers<bool>(p.bands, [](const result_band& b) { return b.open_high; }));
    return t;
}

table conversion_table(const prediction& p) {
    table t(p.conversion_profile.size());
    t.add("low", numbers<double>(p.conversion_profile, [](const result_band& b) { return b.low; }));
    t.add("high", numbers<double>(p.conversion_profile, [](const result_band& b) { return b.high; }));
    return t;
}

std::string run_text(const run_output& o) {
    return printed([&](std::ostream& out) {
        print_report(out, o.c, o.r);
        if (o.p) print_prediction(out, *o.p, *o.bands);
    });
}

void bind_run(py::module_& m) {
    py::class_<run_output>(m, "Result", R"(A reactor run: the profile, the outlet and the equilibrium at the outlet.

Numbers as the command line's JSON gives them: conversions as fractions (NaN
when the feed leaves the CO2 conversion undefined), flows in kmol/h, the
NC-FLOW mass flows in kg/h. `profile` is a Table, one row a tray (or a
station of the plug-flow reactor); print(result) shows the command line's
table.)")
        .def_property_readonly("case", [](const run_output& o) { return o.c; }, "The case that ran.")
        .def_property_readonly("co2_conversion", [](const run_output& o) { return conversion(o.r, o.r.co2_conversion); },
                               "Outlet CO2 conversion to urea: urea formed / CO2 fed (free and as carbamate).")
        .def_property_readonly("co2_conversion_defined", [](const run_output& o) { return o.r.co2_conversion_defined; },
                               "False when the feed holds too little CO2 for a conversion to mean anything.")
        .def_property_readonly("equilibrium_co2_conversion",
                               [](const run_output& o) { return conversion(o.r, o.r.equilibrium_co2_conversion); },
                               "The CO2 conversion at chemical equilibrium at the outlet temperature and pressure.")
        .def_property_readonly("feed_kmol_h", [](const run_output& o) { return by_component(o.r.feed, per_hour); },
                               "The feed by component, kmol/h.")
        .def_property_readonly("outlet_kmol_h", [](const run_output& o) { return by_component(o.r.outlet, per_hour); },
                               "The outlet by component, kmol/h.")
        .def_property_readonly("equilibrium_kmol_h",
                               [](const run_output& o) { return by_component(o.r.equilibrium, per_hour); },
                               "The equilibrium composition at the outlet conditions, kmol/h.")
        .def_property_readonly("nc_flow_kg_h", [](const run_output& o) { return by_component(o.r.nc_flow_kg_s, per_hour); },
                               "The outlet's NC-FLOW from the plug-in's UPROPU, kg/h (carbamate counted as "
                               "2 NH3 + CO2).")
        .def_property_readonly("outlet_temperature_C",
                               [](const run_output& o) { return o.r.outlet_temperature_K - kelvin; },
                               "Outlet temperature, C.")
        .def_property_readonly("atom_closure",
                               [](const run_output& o) {
                                   py::dict d;
                                   for (std::size_t e = 0; e < elements.size(); ++e) d[elements[e]] = o.r.atom_closure[e];
                                   return d;
                               },
                               "(out - in) / in for the atoms C, H, N and O.")
        .def_property_readonly("max_balance_residual", [](const run_output& o) { return o.r.max_balance_residual; },
                               "Trays: the largest balance residual of any tray (at most 1e-12); plug flow: 0.")
        .def_property_readonly("rate_calls", [](const run_output& o) { return o.r.rate_calls; },
                               "Calls of the plug-in's rate routine USURA.")
        .def_property_readonly("warnings", [](const run_output& o) { return o.r.warnings; },
                               "What the check of the case warned of (temperatures the plug-in clamps).")
        .def_property_readonly("profile", [](const run_output& o) { return profile(o.c, o.r); },
                               "A Table, one row a tray or station: volume_m3 (from the inlet), temperature_C, "
                               "NH3_kmol_h ... N2_kmol_h, co2_conversion; trays also balance_residual and "
                               "newton_iterations.")
        .def_property_readonly("band", [](const run_output& o) { return o.bands ? py::object(band_dict(*o.bands)) : py::none(); },
                               "With estimate=: the bands' way (method 'profile' or 'linearised', description, "
                               "estimate, a1, a2, notes); else None.")
        .def_property_readonly("bands", [](const run_output& o) { return o.p ? py::cast(band_table(*o.p)) : py::none(); },
                               "With estimate=: a Table, one row a result (name, unit, value, low, high, open_low, "
                               "open_high: a side the search box's edge cuts off); else None.")
        .def_property_readonly("conversion_band",
                               [](const run_output& o) { return o.p ? py::cast(conversion_table(*o.p)) : py::none(); },
                               "With estimate=: a Table, one row a tray (or station): the CO2 conversion's low and "
                               "high; else None.")
        .def("report", &run_text, "The command line's table and outlet summary (and the bands), as text.")
        .def("__str__", &run_text)
        .def("__repr__", &run_repr);

    py::class_<fit_output>(m, "FitResult", R"(The a2 that gives a wanted outlet CO2 conversion.

a2 is the solution nearest the case's a2; `solutions` lists every a2 found
that gives the target, as (a2, conversion) pairs, ascending; `highest` is the
highest conversion any a2 reaches, as (a2, conversion); `run` is the whole
run with the a2 found.)")
        .def_property_readonly("a2", [](const fit_output& o) { return o.f.a2; }, "The a2 found.")
        .def_property_readonly("co2_conversion", [](const fit_output& o) { return o.f.co2_conversion; },
                               "The conversion reached with a2.")
        .def_property_readonly("target", [](const fit_output& o) { return o.target; }, "The conversion asked for.")
        .def_property_readonly("equilibrium_co2_conversion",
                               [](const fit_output& o) { return o.f.equilibrium_co2_conversion; },
                               "The equilibrium conversion at the outlet conditions.")
        .def_property_readonly("solutions",
                               [](const fit_output& o) {
                                   py::list l;
                                   for (const fit_point& p : o.f.solutions) l.append(py::make_tuple(p.a2, p.co2_conversion));
                                   return l;
                               },
                               "Every a2 that gives the target, as (a2, conversion), ascending.")
        .def_property_readonly("highest",
                               [](const fit_output& o) { return py::make_tuple(o.f.highest.a2, o.f.highest.co2_conversion); },
                               "The highest conversion any a2 reaches, as (a2, conversion).")
        .def_property_readonly("evaluations", [](const fit_output& o) { return o.f.evaluations; }, "Reactor runs.")
        .def_property_readonly("case", [](const fit_output& o) { return o.c; }, "The case with the a2 found.")
        .def_property_readonly("run", [](const fit_output& o) { return run_output{o.c, o.f.run}; },
                               "The whole run with the a2 found (a Result).")
        .def("__repr__", [](const fit_output& o) {
            std::ostringstream out;
            out.precision(6);
            out << "<FitResult: a2 = " << o.f.a2 << " gives CO2 conversion " << o.f.co2_conversion << " (target "
                << o.target << "; " << o.f.solutions.size() << " solution" << (o.f.solutions.size() == 1 ? "" : "s")
                << ")>";
            return out.str();
        });
}

// ---- a sweep -------------------------------------------------------------------

table points(const sweep_result& r) {
    const std::vector<sweep_point>& p = r.points;
    table t(p.size());
    for (std::size_t k = 0; k < r.vars.size(); ++k) {
        t.add(r.vars[k].name, numbers<double>(p, [k](const sweep_point& s) { return s.x[k]; }));
    }
    // A failed point's numbers are NaN; so is an undefined conversion.
    const auto solved = [](const sweep_point& s, double v) { return s.ok ? v : nan; };
    t.add("ok", numbers<bool>(p, [](const sweep_point& s) { return s.ok; }));
    t.add("co2_conversion", numbers<double>(p, [&](const sweep_point& s) {
              return s.conversion_defined ? solved(s, s.co2_conversion) : nan;
          }));
    t.add("equilibrium_co2_conversion", numbers<double>(p, [&](const sweep_point& s) {
              return s.conversion_defined ? solved(s, s.equilibrium_co2_conversion) : nan;
          }));
    // The outlet's NC-FLOW mass fractions, as a runs file's columns name them.
    for (std::size_t k = 0; k < 4; ++k) {
        t.add(quantities[k + 1].column, numbers<double>(p, [&, k](const sweep_point& s) { return solved(s, s.w[k]); }));
    }
    t.add("max_balance_residual",
          numbers<double>(p, [&](const sweep_point& s) { return solved(s, s.max_balance_residual); }));
    t.add("failure", texts(p, [](const sweep_point& s) { return s.failure; }));
    return t;
}

void bind_sweep(py::module_& m) {
    py::class_<sweep_output>(m, "SweepResult", R"(The reactor over a grid of one or two case quantities.

`points` is a Table, one row a point (the first variable fastest): the
variables' values, ok, co2_conversion, equilibrium_co2_conversion, the
outlet's NC-FLOW mass fractions w_NH3, w_CO2, w_UREA, w_H2O,
max_balance_residual and failure (the solver's message; NaN numbers) for a
point that failed. print(sweep) shows the command line's table.)")
        .def_property_readonly("points", [](const sweep_output& o) { return points(o.r); }, "A Table, one row a point.")
        .def_property_readonly("variables",
                               [](const sweep_output& o) {
                                   py::list l;
                                   for (const sweep_variable& v : o.r.vars) {
                                       py::dict d;
                                       d["name"] = v.name;
                                       d["spacing"] = v.log_spacing ? "log" : "linear";
                                       d["values"] = numbers<double>(v.values, [](double x) { return x; });
                                       l.append(d);
                                   }
                                   return l;
                               },
                               "Each variable: {'name', 'spacing' ('log' or 'linear'), 'values'}.")
        .def_property_readonly("base", [](const sweep_output& o) { return o.plan.base; }, "The base case.")
        .def_property_readonly("solved", [](const sweep_output& o) { return o.r.points.size() - o.r.failed; },
                               "Points solved.")
        .def_property_readonly("failed", [](const sweep_output& o) { return o.r.failed; }, "Points that failed.")
        .def_property_readonly("rate_calls", [](const sweep_output& o) { return o.r.rate_calls; },
                               "Calls of the plug-in's rate routine.")
        .def_property_readonly("warnings", [](const sweep_output& o) { return o.r.warnings; },
                               "What the checks of the points' cases warned of.")
        .def("to_pandas", [](const sweep_output& o) { return py::cast(points(o.r)).attr("to_pandas")(); },
             "The points as a pandas DataFrame.")
        .def("report", [](const sweep_output& o) { return printed([&](std::ostream& out) { print_sweep(out, o.plan.base, o.r); }); },
             "The command line's table, as text.")
        .def("__str__", [](const sweep_output& o) { return printed([&](std::ostream& out) { print_sweep(out, o.plan.base, o.r); }); })
        .def("__repr__", [](const sweep_output& o) {
            std::ostringstream out;
            out << "<SweepResult: " << o.r.points.size() << " points of";
            for (const sweep_variable& v : o.r.vars) out << " " << v.name;
            out << ", " << o.r.failed << " failed>";
            return out.str();
        });
}

// ---- an estimate --------------------------------------------------------------

estimate_report report_of(const estimate_output& o) { return workbench::report_of(o.e); }

py::object maybe(const std::optional<double>& v) { return v ? py::object(py::float_(*v)) : py::none(); }

py::object region_dict(const likelihood_region& g) {
    if (!g.computed) return py::none();
    std::vector<std::pair<std::size_t, const region_slice*>> slices;
    for (std::size_t k = 0; k < g.pieces.size(); ++k) {
        for (const region_slice& x : g.pieces[k]) slices.emplace_back(k, &x);
    }
    using item = std::pair<std::size_t, const region_slice*>;
    table t(slices.size());
    t.add("piece", numbers<long>(slices, [](const item& x) { return static_cast<long>(x.first); }));
    t.add("a1", numbers<double>(slices, [](const item& x) { return x.second->a1; }));
    t.add("a2_best", numbers<double>(slices, [](const item& x) { return x.second->a2_best; }));
    t.add("delta_best", numbers<double>(slices, [](const item& x) { return x.second->delta_best; }));
    t.add("a2_low", numbers<double>(slices, [](const item& x) { return x.second->a2_low; }));
    t.add("a2_high", numbers<double>(slices, [](const item& x) { return x.second->a2_high; }));
    t.add("open_low", numbers<bool>(slices, [](const item& x) { return x.second->open_low; }));
    t.add("open_high", numbers<bool>(slices, [](const item& x) { return x.second->open_high; }));
    table e(g.ellipse.size());
    e.add("a1", numbers<double>(g.ellipse, [](const std::array<double, 2>& x) { return x[0]; }));
    e.add("a2", numbers<double>(g.ellipse, [](const std::array<double, 2>& x) { return x[1]; }));
    py::dict d;
    d["threshold"] = g.threshold;
    d["open_a1_low"] = g.open_a1_low;
    d["open_a1_high"] = g.open_a1_high;
    d["open_a2"] = g.open_a2;
    d["slices"] = t;
    d["ellipse"] = e;
    return d;
}

py::object bootstrap_dict(const bootstrap_result& b) {
    if (b.resamples == 0) return py::none();
    table t(b.samples.size());
    t.add("a1", numbers<double>(b.samples, [](const std::array<double, 2>& x) { return x[0]; }));
    t.add("a2", numbers<double>(b.samples, [](const std::array<double, 2>& x) { return x[1]; }));
    const auto by_factor = [](const std::array<double, 2>& v) {
        py::dict d;
        d["a1"] = v[0];
        d["a2"] = v[1];
        return d;
    };
    py::dict d;
    d["resamples"] = b.resamples;
    d["seed"] = b.seed;
    d["failed"] = b.failed;
    d["samples"] = t;
    d["lower95"] = by_factor(b.lower95);
    d["median"] = by_factor(b.median);
    d["upper95"] = by_factor(b.upper95);
    return d;
}

py::object left_out_table(const estimate_output& o) {
    const leave_one_out_result& l = o.e.leave_one_out;
    if (!l.computed) return py::none();
    const std::vector<plant_run>& runs = o.e.problem.runs.runs;
    table t(l.runs.size());
    t.add("run", texts(l.runs, [&](const left_out_run& x) { return runs[x.run].name; }));
    t.add("ok", numbers<bool>(l.runs, [](const left_out_run& x) { return x.ok; }));
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string n = k == 0 ? "a1" : "a2";
        t.add(n, numbers<double>(l.runs, [k](const left_out_run& x) { return x.value[k]; }));
        t.add("shift_ln_" + n, numbers<double>(l.runs, [k](const left_out_run& x) { return x.shift_ln[k]; }));
        t.add("shift_se_" + n, numbers<double>(l.runs, [k](const left_out_run& x) { return x.shift_se[k]; }));
    }
    return py::cast(t);
}

py::dict tuned_dict(const tuned_case& c) {
    py::dict d;
    for (std::size_t k = 0; k < 2; ++k) {
        const tuned_factor& f = c.factors[k];
        py::dict x;
        x["value"] = f.value;
        x["source"] = f.source == tuned_factor::how::estimated ? "estimated"
                      : f.source == tuned_factor::how::held    ? "held"
                                                                : "kept";
        x["changed"] = f.changed;
        x["ruled_out"] = f.ruled_out;
        x["with_other_kept"] = f.with_other_kept;
        d[k == 0 ? "a1" : "a2"] = x;
    }
    d["co2_conversion"] = c.co2_conversion;
    return d;
}

// What `estimate --json` prints: the estimate file that predictions with
// bands and the design of the next run read.
std::string estimate_json_text(const estimate_output& o) {
    return estimate_file_json(report_of(o), o.e.problem.base, build_of(o.plugin_file)).dump(2) + "\n";
}

// A file written as the command line writes its outputs: whole, or not at all.
template <class Stage>
void write_output(const char* option, py::handle path, Stage stage) {
    const output_target target = check_output_path(option, path_text(path), output_kind::text);
    if (target.to_stdout) throw input_error(std::string(option) + ": give a file");
    staged_outputs files;
    stage(files, target);
    files.commit();
    if (!files.failures().empty()) throw plot_error(files.failures().front());
}

table residuals(const estimate_output& o) {
    const std::vector<residual_row>& rows = o.e.result.residuals;
    const std::vector<plant_run>& runs = o.e.problem.runs.runs;
    table t(rows.size());
    t.add("run", texts(rows, [&](const residual_row& r) { return runs[r.run].name; }));
    t.add("line", numbers<long>(rows, [&](const residual_row& r) { return static_cast<long>(runs[r.run].line); }));
    t.add("measurement", texts(rows, [](const residual_row& r) { return info(r.what).column; }));
    t.add("measured", numbers<double>(rows, [](const residual_row& r) { return r.measured; }));
    t.add("sigma", numbers<double>(rows, [](const residual_row& r) { return r.sigma; }));
    t.add("predicted", numbers<double>(rows, [](const residual_row& r) { return r.predicted; }));
    t.add("residual", numbers<double>(rows, [](const residual_row& r) { return r.residual; }));
    t.add("outlier", numbers<bool>(rows, [](const residual_row& r) { return r.outlier; }));
    return t;
}

table starts(const estimate_result& e) {
    const std::vector<start_outcome>& s = e.starts;
    table t(s.size());
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string name = k == 0 ? "a1" : "a2";
        t.add("from_" + name, numbers<double>(s, [k](const start_outcome& o) { return o.from[k]; }));
        t.add("to_" + name, numbers<double>(s, [k](const start_outcome& o) { return o.to[k]; }));
    }
    t.add("usable", numbers<bool>(s, [](const start_outcome& o) { return o.usable; }));
    t.add("converged", numbers<bool>(s, [](const start_outcome& o) { return o.converged; }));
    t.add("chi_square", numbers<double>(s, [](const start_outcome& o) { return o.chi_square; }));
    t.add("objective", numbers<double>(s, [](const start_outcome& o) { return o.objective; }));
    t.add("iterations", numbers<int>(s, [](const start_outcome& o) { return o.iterations; }));
    t.add("reactor_failures", numbers<long>(s, [](const start_outcome& o) { return o.model_failures; }));
    t.add("message", texts(s, [](const start_outcome& o) { return o.message; }));
    return t;
}

void bind_estimate(py::module_& m) {
    py::class_<parameter_estimate>(m, "Parameter", R"(One rate factor as estimated (or held).

value; free (False when held with fix=); se_ln, the standard error of ln a
(NaN when unknown); lower95 and upper95, its 95 % interval (asymmetric);
conditional (the interval holds the other factor at its value); verdict (a
name: fixed, determined, at_bound, singular, wide, combination) and
verdict_text in plain words.)")
        .def_readonly("name", &parameter_estimate::name)
        .def_readonly("value", &parameter_estimate::value)
        .def_readonly("free", &parameter_estimate::free)
        .def_readonly("se_ln", &parameter_estimate::se_ln)
        .def_readonly("lower95", &parameter_estimate::lower95)
        .def_readonly("upper95", &parameter_estimate::upper95)
        .def_readonly("conditional", &parameter_estimate::conditional)
        .def_property_readonly("profile95",
                               [](const parameter_estimate& p) {
                                   if (!p.profile.computed) return py::object(py::none());
                                   return py::object(py::make_tuple(maybe(p.profile.lower), maybe(p.profile.upper)));
                               },
                               "The 95 % profile-likelihood interval (lower, upper), None for an open side; None "
                               "for a held factor.")
        .def_property_readonly("profile",
                               [](const parameter_estimate& p) {
                                   if (!p.profile.computed) return py::object(py::none());
                                   const std::vector<profile_point>& q = p.profile.points;
                                   table t(q.size());
                                   t.add("value", numbers<double>(q, [](const profile_point& x) { return x.value; }));
                                   t.add("other", numbers<double>(q, [](const profile_point& x) { return x.other; }));
                                   t.add("delta", numbers<double>(q, [](const profile_point& x) { return x.delta; }));
                                   return py::cast(t);
                               },
                               "The profile's scan, a Table: value, the other factor re-optimised there, and the "
                               "objective above the best (delta); None for a held factor.")
        .def_property_readonly("verdict", [](const parameter_estimate& p) { return verdict_name(p.verdict); })
        .def_readonly("verdict_text", &parameter_estimate::verdict_text)
        .def("__repr__", [](const parameter_estimate& p) {
            std::ostringstream out;
            out.precision(6);
            out << "<Parameter " << p.name << " = " << p.value << ", 95 % " << p.lower95 << " .. " << p.upper95 << ", "
                << verdict_name(p.verdict) << ">";
            return out.str();
        });

    py::class_<estimate_output>(m, "EstimateResult", R"(a1 and a2 estimated from plant test runs.

a1 and a2: the values; parameters: {'a1': Parameter, 'a2': Parameter} with
their intervals and verdicts; verdict: the plain-words lines; residuals: a
Table, one row a run's measurement (measured, predicted, standardised
residual, outlier); the fit's quality (chi_square, reduced_chi_square,
degrees_of_freedom, correlation, ...); starts: a Table of the search's
starts. print(estimate) shows the command line's report.)")
        .def_property_readonly("a1", [](const estimate_output& o) { return o.e.result.parameters[0].value; })
        .def_property_readonly("a2", [](const estimate_output& o) { return o.e.result.parameters[1].value; })
        .def_property_readonly("parameters",
                               [](const estimate_output& o) {
                                   py::dict d;
                                   for (const parameter_estimate& p : o.e.result.parameters) d[p.name.c_str()] = p;
                                   return d;
                               })
        .def_property_readonly("correlation", [](const estimate_output& o) { return o.e.result.correlation; },
                               "Of ln a1 and ln a2; NaN unless both are free and it is known.")
        .def_property_readonly("covariance_singular", [](const estimate_output& o) { return o.e.result.covariance_singular; })
        .def_property_readonly("covariance_note", [](const estimate_output& o) { return o.e.result.covariance_note; })
        .def_property_readonly("measurements", [](const estimate_output& o) { return o.e.result.measurements; })
        .def_property_readonly("free_parameters", [](const estimate_output& o) { return o.e.result.free_parameters; })
        .def_property_readonly("degrees_of_freedom", [](const estimate_output& o) { return o.e.result.degrees_of_freedom; })
        .def_property_readonly("chi_square", [](const estimate_output& o) { return o.e.result.chi_square; },
                               "The sum of the squared standardised residuals.")
        .def_property_readonly("reduced_chi_square", [](const estimate_output& o) { return o.e.result.reduced_chi_square; })
        .def_property_readonly("scale_factor", [](const estimate_output& o) { return o.e.result.scale_factor; },
                               "max(1, sqrt(reduced chi-square)), applied to the standard errors.")
        .def_property_readonly("t_quantile", [](const estimate_output& o) { return o.e.result.t_quantile; })
        .def_property_readonly("loss", [](const estimate_output& o) { return loss_name(o.e.result.loss); })
        .def_property_readonly("loss_scale", [](const estimate_output& o) { return o.e.result.loss_scale; })
        .def_property_readonly("starts", [](const estimate_output& o) { return starts(o.e.result); })
        .def_property_readonly("best_start", [](const estimate_output& o) { return o.e.result.best_start; })
        .def_property_readonly("starts_agreeing", [](const estimate_output& o) { return o.e.result.starts_agreeing; })
        .def_property_readonly("residuals", [](const estimate_output& o) { return residuals(o); })
        .def_property_readonly("outliers", [](const estimate_output& o) { return o.e.result.outliers; })
        .def_property_readonly("reactor_solves", [](const estimate_output& o) { return o.e.reactor_solves; })
        .def_property_readonly("model_failures", [](const estimate_output& o) { return o.e.result.model_failures; })
        .def_property_readonly("runs_file", [](const estimate_output& o) { return o.e.problem.runs.file; })
        .def_property_readonly("base", [](const estimate_output& o) { return o.e.problem.base; }, "The base case.")
        .def_property_readonly("verdict", [](const estimate_output& o) { return verdict_lines(report_of(o)); },
                               "The verdict in plain words, one sentence a line.")
        .def_property_readonly("warnings", [](const estimate_output& o) { return o.warnings; })
        .def_property_readonly("covariance",
                               [](const estimate_output& o) {
                                   return o.e.result.covariance.empty() ? py::object(py::none())
                                                                        : py::cast(o.e.result.covariance);
                               },
                               "Of ln a1 and ln a2, before the scale factor (both free); None when singular.")
        .def_property_readonly("region", [](const estimate_output& o) { return region_dict(o.e.region); },
                               "The joint 95 % region (both free): threshold, open_a1_low, open_a1_high, open_a2, "
                               "slices (a Table along a1: a2_best, a2_low, a2_high, ...), ellipse (the linearised "
                               "one's points); None otherwise.")
        .def_property_readonly("bootstrap", [](const estimate_output& o) { return bootstrap_dict(o.e.bootstrap); },
                               "With bootstrap=N: resamples, seed, failed, samples (a Table of a1, a2), lower95, "
                               "median, upper95; else None.")
        .def_property_readonly("leave_one_out", &left_out_table,
                               "Each run left out: a Table of run, ok, a1, a2 without it, and how far each moved "
                               "(shift_ln_*, shift_se_*).")
        .def_property_readonly("influential",
                               [](const estimate_output& o) {
                                   py::dict d;
                                   for (std::size_t k = 0; k < 2; ++k) {
                                       py::list names;
                                       for (const std::size_t i : o.e.leave_one_out.influential[k]) {
                                           names.append(o.e.problem.runs.runs[i].name);
                                       }
                                       d[k == 0 ? "a1" : "a2"] = names;
                                   }
                                   return d;
                               },
                               "By factor, the runs that move it most when left out, largest first.")
        .def_property_readonly("tuned_case", [](const estimate_output& o) { return o.e.tuned.c; },
                               "The tuned case: the base case with the estimate's factors (only a determined one "
                               "changed).")
        .def_property_readonly("tuned", [](const estimate_output& o) { return tuned_dict(o.e.tuned); },
                               "How each factor of the tuned case was decided (value, source: estimated, held or "
                               "kept, changed, ruled_out, with_other_kept), and its co2_conversion.")
        .def("to_json", &estimate_json_text,
             "What `urea-reactor estimate --json` prints: save it as an estimate file, which run, study and design "
             "take as estimate=.")
        .def(
            "write_case",
            [](const estimate_output& o, py::object path) {
                const std::string writer = workbench_version() + " (urea_reactor, Python)";
                const std::string text = case_file_text(o.e.tuned.c, tuned_case_comments(report_of(o), o.runs_sha256, writer));
                write_output("write_case", path, [&](staged_outputs& f, const output_target& t) { f.add_text(t, text); });
            },
            py::arg("path"), "Writes the tuned case as a case file, with comments saying what was estimated and kept.")
        .def(
            "write_report",
            [](const estimate_output& o, py::object path) {
                const build_info b = build_of(o.plugin_file);
                html_context c;
                c.workbench = b.workbench;
                c.plugin = b.plugin;
                c.plugin_file = b.plugin_file;
                c.runs_sha256 = o.runs_sha256.empty() ? "(a table, no file)" : o.runs_sha256;
                c.case_file = o.case_file;
                if (!o.case_file.empty()) c.case_sha256 = sha256_hex(read_input_file(o.case_file, "case file"));
                c.options = "(from Python)";
                write_output("write_report", path,
                             [&](staged_outputs& f, const output_target& t) { add_estimate_html(f, t, report_of(o), c); });
            },
            py::arg("path"),
            "Writes the whole estimate as one self-contained HTML page (plots drawn by gnuplot, inline; versions "
            "and the inputs' SHA-256).")
        .def("report", [](const estimate_output& o) { return printed([&](std::ostream& out) { print_estimate(out, report_of(o)); }); },
             "The command line's report, as text.")
        .def("__str__", [](const estimate_output& o) { return printed([&](std::ostream& out) { print_estimate(out, report_of(o)); }); })
        .def("__repr__", [](const estimate_output& o) {
            std::ostringstream out;
            out.precision(6);
            out << "<EstimateResult: a1 = " << o.e.result.parameters[0].value << ", a2 = "
                << o.e.result.parameters[1].value << " from " << o.e.problem.runs.runs.size() << " runs>";
            return out.str();
        });
}

// ---- a check ------------------------------------------------------------------

std::string check_text(const check_output& o) {
    return printed([&](std::ostream& out) {
        print_check_heading(out, o.build);
        print_verdicts(out, o.verdicts);
    });
}

bool all_ok(const check_output& o) { return check_passed(o.verdicts); }

void bind_check(py::module_& m) {
    py::class_<check_output>(m, "CheckResult", R"(What check() found of a plug-in build.

ok: every verdict holds; verdicts: (ok, sentence) pairs; plugin_file, plugin
(its version marker) and workbench (this module's version).)")
        .def_property_readonly("ok", &all_ok)
        .def_property_readonly("verdicts",
                               [](const check_output& o) {
                                   py::list l;
                                   for (const verdict& v : o.verdicts) l.append(py::make_tuple(v.ok, v.text));
                                   return l;
                               })
        .def_property_readonly("plugin_file", [](const check_output& o) { return o.build.plugin_file; })
        .def_property_readonly("plugin", [](const check_output& o) { return o.build.plugin; })
        .def_property_readonly("workbench", [](const check_output& o) { return o.build.workbench; })
        .def("__bool__", &all_ok)
        .def("report", &check_text, "The command line's report, as text.")
        .def("__str__", &check_text)
        .def("__repr__", [](const check_output& o) {
            return std::string("<CheckResult: ") + o.build.plugin_file + (all_ok(o) ? " is good>" : " is NOT good>");
        });
}

}  // namespace

// ---- Table --------------------------------------------------------------------

void bind_table(py::module_& m) {
    py::class_<table>(m, "Table", R"(Named columns of equal length: numpy arrays (text columns as lists).

table["co2_conversion"] or table.co2_conversion gives a column; table.columns
the names in order; len(table) the number of rows; table.to_dict() a dict of
the columns; table.to_pandas() a pandas DataFrame (where pandas is
installed).)")
        .def_property_readonly("columns",
                               [](const table& t) {
                                   std::vector<std::string> names;
                                   for (const auto& c : t.columns()) names.push_back(c.first);
                                   return names;
                               },
                               "The column names, in order.")
        .def("__len__", &table::rows)
        .def("__contains__", [](const table& t, const std::string& name) { return t.find(name) != nullptr; })
        .def("__getitem__",
             [](const table& t, const std::string& name) {
                 const py::object* c = t.find(name);
                 if (c == nullptr) throw py::key_error(name);
                 return *c;
             })
        .def("__getattr__",
             [](const table& t, const std::string& name) {
                 const py::object* c = t.find(name);
                 if (c == nullptr) throw py::attribute_error("the table has no column '" + name + "'");
                 return *c;
             })
        .def("__iter__",
             [](const table& t) {
                 py::list names;
                 for (const auto& c : t.columns()) names.append(c.first);
                 return py::iter(names);
             })
        .def("keys",
             [](const table& t) {
                 std::vector<std::string> names;
                 for (const auto& c : t.columns()) names.push_back(c.first);
                 return names;
             },
             "The column names, in order.")
        .def("to_dict",
             [](const table& t) {
                 py::dict d;
                 for (const auto& [name, c] : t.columns()) d[name.c_str()] = c;
                 return d;
             },
             "The columns as a dict, in order.")
        .def("to_pandas",
             [](const table& t) {
                 py::object pandas;
                 try {
                     pandas = py::module_::import("pandas");
                 } catch (py::error_already_set& e) {
                     if (!e.matches(PyExc_ImportError)) throw;
                     throw py::import_error("to_pandas() needs pandas (Debian: apt-get install python3-pandas)");
                 }
                 py::dict d;
                 for (const auto& [name, c] : t.columns()) d[name.c_str()] = c;
                 return pandas.attr("DataFrame")(d);
             },
             "The table as a pandas DataFrame.")
        .def("__repr__", [](const table& t) {
            std::string names;
            for (const auto& c : t.columns()) names += (names.empty() ? "" : ", ") + c.first;
            return "<Table, " + std::to_string(t.rows()) + " rows: " + names + ">";
        });
}

namespace {

table columns_of(const study_columns& t) {
    const std::size_t n = t.ok.size();
    table out(n);
    const auto column = [&](const std::vector<double>& v) {
        py::array_t<double> a(static_cast<py::ssize_t>(n));
        auto w = a.mutable_unchecked<1>();
        for (std::size_t k = 0; k < n; ++k) w(static_cast<py::ssize_t>(k)) = v[k];
        return py::object(a);
    };
    for (std::size_t j = 0; j < t.setting_names.size(); ++j) {
        if (t.setting_names[j] == "model") {
            py::list l;
            for (double x : t.settings[j]) l.append(x != 0.0 ? "pfr" : "trays");
            out.add("model", l);
        } else {
            out.add(t.setting_names[j], column(t.settings[j]));
        }
    }
    for (std::size_t j = 0; j < t.carried_names.size(); ++j) {
        py::list l;
        for (const std::string& cell : t.carried[j]) l.append(cell);
        out.add(t.carried_names[j], l);
    }
    for (std::size_t j = 0; j < t.results.size(); ++j) {
        out.add(t.results[j].name, column(t.values[j]));
        // With bands: its low and high beside it.
        if (t.low.empty() || !has_band(t.results[j])) continue;
        out.add(t.results[j].name + "_low", column(t.low[j]));
        out.add(t.results[j].name + "_high", column(t.high[j]));
    }
    py::array_t<bool> ok(static_cast<py::ssize_t>(n));
    auto o = ok.mutable_unchecked<1>();
    for (std::size_t k = 0; k < n; ++k) o(static_cast<py::ssize_t>(k)) = t.ok[k];
    out.add("ok", ok);
    py::list failure;
    for (const std::string& f : t.failure) failure.append(f);
    out.add("failure", failure);
    return out;
}

}  // namespace

void bind_study(py::module_& m) {
    py::class_<study_output>(m, "StudyResult", R"(The reactor over a grid of case quantities or a table of cases.

`columns` is a Table, one row a point (a grid's first quantity fastest; a
case table's rows in order): each varied setting (the model as 'trays' or
'pfr'), a case table's carried columns (text), each result by name (NaN
where a point failed or the result is undefined there), ok and failure.
`units` gives each result's unit, `meanings` its meaning.)")
        .def_property_readonly("columns", [](const study_output& o) { return columns_of(o.t); },
                               "A Table, one row a point.")
        .def("to_pandas", [](const study_output& o) { return py::cast(columns_of(o.t)).attr("to_pandas")(); },
             "The points as a pandas DataFrame.")
        .def_property_readonly("units",
                               [](const study_output& o) {
                                   py::dict d;
                                   for (const result_quantity& q : o.t.results) d[py::str(q.name)] = q.unit;
                                   return d;
                               },
                               "Each result's unit, by name.")
        .def_property_readonly("meanings",
                               [](const study_output& o) {
                                   py::dict d;
                                   for (const result_quantity& q : o.t.results) d[py::str(q.name)] = q.meaning;
                                   return d;
                               },
                               "Each result's meaning in a line, by name.")
        .def_property_readonly("base", [](const study_output& o) { return o.plan.base; }, "The base case.")
        .def_property_readonly("band",
                               [](const study_output& o) { return o.plan.bands ? py::object(band_dict(*o.plan.bands)) : py::none(); },
                               "With estimate=: the bands' way (see Result.band); else None.")
        .def_property_readonly("solved", [](const study_output& o) { return o.t.summary.points - o.t.summary.failed; },
                               "Points solved.")
        .def_property_readonly("failed", [](const study_output& o) { return o.t.summary.failed; },
                               "Points that failed.")
        .def_property_readonly("rate_calls", [](const study_output& o) { return o.t.summary.rate_calls; },
                               "Calls of the plug-in's rate routine.")
        .def_property_readonly("warnings", [](const study_output& o) { return o.t.warnings; },
                               "What the checks of the points' cases warned of.")
        .def_property_readonly("notes", [](const study_output& o) { return o.t.notes; },
                               "Varied quantities that change no result for this case, and the like.")
        .def("__len__", [](const study_output& o) { return o.t.ok.size(); })
        .def("__repr__", [](const study_output& o) {
            return "<StudyResult " + std::to_string(o.t.ok.size()) + " points, " +
                   std::to_string(o.t.summary.failed) + " failed>";
        });
}

// ---- a design ------------------------------------------------------------------

namespace {

table candidates_of(const design_output& o) {
    const std::vector<design_candidate>& c = o.r.candidates;
    const study_plan& plan = o.p.candidates;
    table t(c.size());
    for (std::size_t k = 0; k < plan.settings.size(); ++k) {
        if (plan.settings[k] == "model") {
            t.add("model", texts(c, [k](const design_candidate& d) { return d.settings[k] != 0.0 ? "pfr" : "trays"; }));
        } else {
            t.add(plan.settings[k], numbers<double>(c, [k](const design_candidate& d) { return d.settings[k]; }));
        }
    }
    if (plan.table) {
        for (std::size_t k = 0; k < plan.table->carried.size(); ++k) {
            t.add(carried_names(plan)[k], texts(c, [k](const design_candidate& d) { return (*d.carried)[k]; }));
        }
    }
    t.add("rank", numbers<long>(c, [](const design_candidate& d) { return static_cast<long>(d.rank); }));
    t.add("relative", numbers<double>(c, [](const design_candidate& d) { return d.relative; }));
    t.add("criterion", numbers<double>(c, [](const design_candidate& d) { return d.criterion; }));
    for (std::size_t k = 0; k < 2; ++k) {
        if (!o.r.estimate.free[k]) continue;
        const std::string n = k == 0 ? "a1" : "a2";
        t.add(n + "_lower", numbers<double>(c, [k](const design_candidate& d) { return d.lower[k]; }));
        t.add(n + "_upper", numbers<double>(c, [k](const design_candidate& d) { return d.upper[k]; }));
    }
    t.add("ok", numbers<bool>(c, [](const design_candidate& d) { return d.ok; }));
    t.add("failure", texts(c, [](const design_candidate& d) { return d.failure; }));
    return t;
}

std::string design_text(const design_output& o, std::size_t top) {
    return printed([&](std::ostream& out) { print_design(out, o.p, o.r, top); });
}

py::dict by_factor(const design_result& r, const std::array<double, 2>& lo, const std::array<double, 2>& hi) {
    py::dict d;
    for (std::size_t k = 0; k < 2; ++k) {
        if (r.estimate.free[k]) d[k == 0 ? "a1" : "a2"] = py::make_tuple(lo[k], hi[k]);
    }
    return d;
}

}  // namespace

void bind_design(py::module_& m) {
    py::class_<design_output>(m, "DesignResult", R"(The candidate next test runs, ranked.

`candidates` is a Table, one row a candidate in the order given: its
settings, rank (1 the best; 0 not solved), relative (the ranked measure after
the run as a fraction of now: the joint region's area, or one factor's
interval width), criterion, each free factor's expected 95 % interval
(a1_lower, a1_upper, ...), ok and failure. `ranking` lists the solved
candidates' rows, best first; `verdict` says in words what the runs can and
cannot determine; print(design) shows the command line's table.)")
        .def_property_readonly("candidates", &candidates_of, "A Table, one row a candidate.")
        .def("to_pandas", [](const design_output& o) { return py::cast(candidates_of(o)).attr("to_pandas")(); },
             "The candidates as a pandas DataFrame.")
        .def_property_readonly("ranking", [](const design_output& o) { return o.r.ranking; },
                               "The solved candidates' rows, best first.")
        .def_property_readonly("criterion",
                               [](const design_output& o) {
                                   switch (o.r.criterion) {
                                       case design_criterion::d_optimal: return "d_optimal";
                                       case design_criterion::one_factor: return "one_factor";
                                       default: return "conditional";
                                   }
                               },
                               "d_optimal (both factors), one_factor, or conditional (one factor, the other "
                               "held: it changes nothing any run measures).")
        .def_property_readonly("ranked_factor",
                               [](const design_output& o) {
                                   return o.r.criterion == design_criterion::d_optimal
                                              ? py::object(py::none())
                                              : py::object(py::str(o.r.ranked_factor == 0 ? "a1" : "a2"));
                               },
                               "The factor ranked for, or None (D-optimal).")
        .def_property_readonly("now95", [](const design_output& o) { return by_factor(o.r, o.r.now_lower, o.r.now_upper); },
                               "Each free factor's linearised 95 % interval now, (lower, upper).")
        .def_property_readonly("determinable",
                               [](const design_output& o) {
                                   py::dict d;
                                   d["a1"] = o.r.determinable[0];
                                   d["a2"] = o.r.determinable[1];
                                   return d;
                               },
                               "By factor: whether some candidate brings its 95 % interval within a decade.")
        .def_property_readonly("measure",
                               [](const design_output& o) {
                                   py::dict d;
                                   for (std::size_t q = 0; q < quantity_count; ++q) {
                                       if (o.r.measure[q]) d[quantities[q].column] = o.r.sigma[q];
                                   }
                                   return d;
                               },
                               "What the next run measures, each with its standard deviation.")
        .def_property_readonly("estimate",
                               [](const design_output& o) {
                                   py::dict d;
                                   d["a1"] = o.r.estimate.value[0];
                                   d["a2"] = o.r.estimate.value[1];
                                   d["free"] = py::make_tuple(o.r.estimate.free[0], o.r.estimate.free[1]);
                                   d["source"] = o.r.estimated_here ? std::string("estimated here") : o.r.estimate.source;
                                   return d;
                               },
                               "What the design is linearised at.")
        .def_property_readonly("verdict", [](const design_output& o) { return o.r.verdict; },
                               "In plain words, one sentence a line.")
        .def_property_readonly("reactor_solves", [](const design_output& o) { return o.r.reactor_solves; })
        .def("report", &design_text, py::arg("top") = 10, "The command line's table (the top candidates), as text.")
        .def("__str__", [](const design_output& o) { return design_text(o, 10); })
        .def("__repr__", [](const design_output& o) {
            return "<DesignResult: " + std::to_string(o.r.candidates.size()) + " candidates, " +
                   std::to_string(o.r.ranking.size()) + " ranked>";
        });
}

void bind_results(py::module_& m) {
    bind_run(m);
    bind_sweep(m);
    bind_estimate(m);
    bind_check(m);
}

}  // namespace urea_python
