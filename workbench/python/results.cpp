// Results as Python reads them: numbers, dicts by component, and tables
// (report/table.h: the command line's CSV columns, as numpy arrays, with
// .to_pandas()). The units are those of the command line's JSON: flows in
// kmol/h, mass flows in kg/h, temperatures in C. The printed reports are the
// command line's own, in Python's words.
#include <cmath>
#include <limits>
#include <sstream>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "binding.h"
#include "base/text.h"
#include "io/case_file.h"
#include "io/output_files.h"
#include "report/band_report.h"
#include "report/design_report.h"
#include "report/estimate_report.h"
#include "report/html_report.h"
#include "report/json_stream.h"
#include "report/run_report.h"
#include "report/study_report.h"
#include "report/sweep_report.h"

namespace urea_python {

using namespace workbench;

py::dict by_component(const flows& f, double factor) {
    py::dict d;
    for (std::size_t i = 0; i < component_count; ++i) d[component_names[i]] = f[i] * factor;
    return d;
}

py::dict metadata_of(const origin& from) {
    py::dict d;
    const build_info b = build_of(from.plugin_file);
    py::dict build;
    build["workbench"] = b.workbench;
    build["plugin"] = b.plugin;
    build["plugin_file"] = b.plugin_file;
    d["build"] = build;
    py::list inputs;
    for (const input_file& f : from.inputs) {
        py::dict i;
        i["what"] = f.what;
        i["path"] = f.path;
        i["sha256"] = f.sha256;
        inputs.append(i);
    }
    d["inputs"] = inputs;
    return d;
}

namespace {

constexpr double per_hour = 3600.0;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::array<const char*, 4> elements = {"C", "H", "N", "O"};

template <class Print>
std::string printed(Print print) {
    std::ostringstream out;
    print(out);
    return out.str();
}

// Columns of a table from a field of each item: numbers (bool: yes or no,
// integral: whole numbers) or text.
template <class T, class Items, class Get>
column numbers(const Items& items, Get get) {
    column c;
    c.kind = std::is_same_v<T, bool> ? cell_kind::boolean : std::is_integral_v<T> ? cell_kind::whole : cell_kind::number;
    for (const auto& item : items) c.numbers.push_back(static_cast<double>(static_cast<T>(get(item))));
    return c;
}

template <class Items, class Get>
column texts(const Items& items, Get get) {
    column c;
    c.kind = cell_kind::text;
    for (const auto& item : items) c.texts.emplace_back(get(item));
    return c;
}

// A column of a declared field (model/schema.h): its name, unit, meaning
// and kind the declaration's; a family's member named by `member`.
void put(table& t, const schema_field& f, column c, std::string_view member = {}) {
    column& added = member.empty() ? t.add(f) : t.add(f, member);
    added.numbers = std::move(c.numbers);
    added.texts = std::move(c.texts);
}

// A numpy array of numbers.
py::array_t<double> array_of(const std::vector<double>& v) {
    py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
    auto w = a.mutable_unchecked<1>();
    for (std::size_t k = 0; k < v.size(); ++k) w(static_cast<py::ssize_t>(k)) = v[k];
    return a;
}

// Times as numpy reads them: datetime64[ms] (a time with Z is UTC, as
// numpy's are), NaT where missing.
py::object time_array(const column& c) {
    py::list l;
    for (const std::string& s : c.texts) {
        l.append(s.empty() ? std::string("NaT") : s.back() == 'Z' ? s.substr(0, s.size() - 1) : s);
    }
    return py::module_::import("numpy").attr("array")(l, py::arg("dtype") = "datetime64[ms]");
}

}  // namespace

// A column as Python holds it: numbers as a float array, whole numbers as an
// int64 array (float, with NaN, when a cell is missing, as pandas reads it),
// yes or no as a bool array, text as a list (None for a missing cell), times
// as a datetime64 array.
py::object column_object(const column& c) {
    const auto n = static_cast<py::ssize_t>(c.size());
    if (c.kind == cell_kind::time) return time_array(c);
    if (c.kind == cell_kind::text) {
        py::list l;
        for (const std::string& s : c.texts) l.append(s.empty() ? py::object(py::none()) : py::object(py::str(s)));
        return l;
    }
    if (c.kind == cell_kind::boolean) {
        py::array_t<bool> a(n);
        auto w = a.mutable_unchecked<1>();
        for (py::ssize_t k = 0; k < n; ++k) w(k) = c.numbers[static_cast<std::size_t>(k)] != 0.0;
        return a;
    }
    if (c.kind == cell_kind::whole) {
        bool complete = true;
        for (const double v : c.numbers) complete = complete && std::isfinite(v);
        if (complete) {
            py::array_t<std::int64_t> a(n);
            auto w = a.mutable_unchecked<1>();
            for (py::ssize_t k = 0; k < n; ++k) w(k) = static_cast<std::int64_t>(c.numbers[static_cast<std::size_t>(k)]);
            return a;
        }
    }
    return array_of(c.numbers);
}

namespace {

const column& column_named(const table& t, const std::string& name) {
    const column* c = t.find(name);
    if (c == nullptr) throw py::key_error(name);
    return *c;
}

py::object pandas_module(const char* what) {
    try {
        return py::module_::import("pandas");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        throw py::import_error(std::string(what) + " needs pandas (Debian: apt-get install python3-pandas)");
    }
}

// Whether pandas reads the column from the CSV as int64: every cell
// written as a whole number ("190", not "0.5", "1e+20" or empty), as the
// trays and a volume of whole cubic metres are.
bool read_as_whole(const column& c) {
    if (c.numbers.empty()) return false;
    for (std::size_t r = 0; r < c.numbers.size(); ++r) {
        const std::string cell = csv_cell(c, r);
        const std::size_t digits = cell.rfind('-', 0) == 0 ? 1 : 0;
        if (cell.size() == digits || cell.find_first_not_of("0123456789", digits) != std::string::npos) return false;
    }
    return true;
}

py::array_t<std::int64_t> whole_array(const column& c) {
    py::array_t<std::int64_t> a(static_cast<py::ssize_t>(c.numbers.size()));
    auto w = a.mutable_unchecked<1>();
    for (std::size_t k = 0; k < c.numbers.size(); ++k) w(static_cast<py::ssize_t>(k)) = static_cast<std::int64_t>(c.numbers[k]);
    return a;
}

}  // namespace

// The table as the DataFrame pandas reads from its CSV: a column whose
// cells are all written as whole numbers int64, a missing number NaN, missing text NaN (a column of nothing but missing text: float), times
// as datetimes (UTC where the history gave offsets), a first column of times
// as the index (a DatetimeIndex of that name); the units and meanings in
// .attrs.
py::object data_frame(const table& t) {
    py::object pandas = pandas_module("to_pandas()");
    py::object numpy = py::module_::import("numpy");
    py::dict d;
    py::dict units, meanings;
    for (const column& c : t.columns()) {
        if (c.kind == cell_kind::time) {
            py::list l;
            for (const std::string& s : c.texts) l.append(s.empty() ? py::object(py::none()) : py::object(py::str(s)));
            d[py::str(c.name)] = pandas.attr("to_datetime")(l);
        } else if (c.kind == cell_kind::text) {
            py::list l;
            for (const std::string& s : c.texts) l.append(s.empty() ? py::object(py::float_(nan)) : py::object(py::str(s)));
            d[py::str(c.name)] = pandas.attr("Series")(l, py::arg("dtype") = "object").attr("infer_objects")();
        } else if (c.kind != cell_kind::boolean && read_as_whole(c)) {
            d[py::str(c.name)] = whole_array(c);
        } else {
            d[py::str(c.name)] = column_object(c);
        }
        units[py::str(c.name)] = c.unit;
        meanings[py::str(c.name)] = c.meaning;
    }
    py::object frame = pandas.attr("DataFrame")(d);
    if (!t.columns().empty() && t.columns().front().kind == cell_kind::time) {
        frame = frame.attr("set_index")(t.columns().front().name);
    }
    frame.attr("attrs")["units"] = units;
    frame.attr("attrs")["meanings"] = meanings;
    return frame;
}

std::string html_escaped_text(const std::string& s) { return html_escaped(s); }

// A table as a notebook shows it: the column names with their units, the
// first and last rows.
std::string table_html(const table& t, std::size_t most) {
    std::ostringstream h;
    h << "<table><thead><tr>";
    for (const column& c : t.columns()) {
        h << "<th title=\"" << html_escaped_text(c.meaning) << "\">" << html_escaped_text(c.name)
          << (c.unit.empty() ? "" : "<br><small>" + html_escaped_text(c.unit) + "</small>") << "</th>";
    }
    h << "</tr></thead><tbody>";
    const std::size_t n = t.rows();
    for (std::size_t r = 0; r < n; ++r) {
        if (n > most && r == most / 2) {
            h << "<tr><td colspan=\"" << t.columns().size() << "\">... " << n - most << " more rows ...</td></tr>";
            r = n - most / 2;
        }
        h << "<tr>";
        for (const column& c : t.columns()) {
            const bool text = holds_text(c.kind);
            std::string cell = text ? c.texts[r] : csv_cell(c, r);
            if (!text && c.kind == cell_kind::number && std::isfinite(c.numbers[r])) cell = sig(c.numbers[r], 6);
            h << "<td>" << html_escaped_text(cell) << "</td>";
        }
        h << "</tr>";
    }
    h << "</tbody></table><p>" << n << " row" << (n == 1 ? "" : "s") << "</p>";
    return h.str();
}

namespace {

const char* const metadata_doc =
    "Where the result came from: {'build': {'workbench', 'plugin', 'plugin_file'}, 'inputs': [{'what', 'path', "
    "'sha256'}, ...]}, each input file as it was read.";

// ---- a run -------------------------------------------------------------------

// A number that may be missing: None when it is (NaN only inside arrays).
py::object number_or_none(double v) { return std::isfinite(v) ? py::object(py::float_(v)) : py::object(py::none()); }

py::object conversion(const result& r, double v) { return r.co2_conversion_defined ? number_or_none(v) : py::none(); }

// A short summary above a result's table in a notebook.
std::string html_summary(const std::vector<std::string>& lines) {
    std::string h = "<p>";
    for (std::size_t k = 0; k < lines.size(); ++k) h += (k ? "<br>" : "") + html_escaped_text(lines[k]);
    return h + "</p>";
}

std::string percent_text(const py::object& v) {
    return v.is_none() ? std::string("undefined") : sig(100.0 * v.cast<double>(), 4) + " %";
}

std::string run_repr(const run_output& o) {
    std::ostringstream out;
    out << "<Result: CO2 conversion " << percent_text(conversion(o.r, o.r.co2_conversion)) << ", equilibrium "
        << percent_text(conversion(o.r, o.r.equilibrium_co2_conversion)) << "; " << o.r.profile.size()
        << (o.c.model == reactor_model::trays ? " trays" : " stations") << ", " << o.r.rate_calls
        << " rate calls>";
    return out.str();
}

table run_profile(const run_output& o) { return profile_table(o.c, o.r, o.p ? &o.p->conversion_profile : nullptr); }

std::string run_html(const run_output& o) {
    std::vector<std::string> lines = {
        o.c.name + ": " + (o.c.model == reactor_model::trays ? std::to_string(o.c.trays) + " stirred trays" : "plug flow") +
            ", " + sig(o.c.pressure_bar, 6) + " bar, a1 = " + sig(o.c.a1, 6) + ", a2 = " + sig(o.c.a2, 6),
        "CO2 conversion " + percent_text(conversion(o.r, o.r.co2_conversion)) + " (equilibrium at the outlet " +
            percent_text(conversion(o.r, o.r.equilibrium_co2_conversion)) + "), outlet " +
            sig(o.r.outlet_temperature_K - kelvin, 4) + " °C"};
    if (o.bands) lines.push_back("95 % bands: " + o.bands->description);
    for (const std::string& w : o.r.warnings) lines.push_back("warning: " + w);
    return html_summary(lines) + table_html(run_profile(o));
}

std::string run_text(const run_output& o) {
    return printed([&](std::ostream& out) {
        print_report(out, o.c, o.r);
        if (o.p) print_prediction(out, *o.p, *o.bands, python_words());
    });
}

void bind_run(py::module_& m) {
    py::class_<run_output>(m, "Result", R"(A reactor run: the profile, the outlet and the equilibrium at the outlet.

Numbers as the command line's JSON gives them: conversions as fractions (None
when the feed leaves the CO2 conversion undefined), flows in kmol/h, the
NC-FLOW mass flows in kg/h. `profile` is a Table, one row a tray (or a
station of the plug-flow reactor); print(result.report) shows the command
line's table, result.plot() its profiles.)")
        .def_property_readonly("case", [](const run_output& o) { return o.c; }, "The case that ran.")
        .def_property_readonly("co2_conversion", [](const run_output& o) { return conversion(o.r, o.r.co2_conversion); },
                               "Outlet CO2 conversion to urea: urea formed / CO2 fed (free and as carbamate); None "
                               "when the feed leaves it undefined.")
        .def_property_readonly("co2_conversion_defined", [](const run_output& o) { return o.r.co2_conversion_defined; },
                               "False when the feed holds too little CO2 for a conversion to mean anything.")
        .def_property_readonly("equilibrium_co2_conversion",
                               [](const run_output& o) { return conversion(o.r, o.r.equilibrium_co2_conversion); },
                               "The CO2 conversion at chemical equilibrium at the outlet temperature and pressure; "
                               "None when undefined.")
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
        .def_property_readonly("profile",
                               &run_profile,
                               "A Table, one row a tray or station, the columns of the command line's --csv: tray "
                               "(or station), volume_m3 (from the inlet), temperature_C, x_NH3 ... x_N2 (mole "
                               "fractions), flow_NH3_kmol_h ... flow_N2_kmol_h, co2_conversion; with estimate=, "
                               "co2_conversion_low and co2_conversion_high.")
        .def_property_readonly("band", [](const run_output& o) { return o.bands ? py::object(band_dict(*o.bands)) : py::none(); },
                               "With estimate=: the bands' way (method 'profile' or 'linearised', description, "
                               "estimate, a1, a2, notes); else None.")
        .def_property_readonly("bands", [](const run_output& o) { return o.p ? py::cast(bands_table(*o.p)) : py::none(); },
                               "With estimate=: a Table, one row a result (name, unit, value, low, high, open_low, "
                               "open_high: a side the search box's edge cuts off); else None.")
        .def_property_readonly("metadata", [](const run_output& o) { return metadata_of(o.from); }, metadata_doc)
        .def_property_readonly("report", [](const run_output& o) { return report_text(run_text(o)); },
                               "The command line's table and outlet summary (and the bands), as text: "
                               "print(result.report).")
        .def_property_readonly("_figure",
                               [](const run_output& o) {
                                   return py::module_::import("json").attr("loads")(
                                       figure_json(run_figure(o.c, o.r, o.p ? &o.p->conversion_profile : nullptr,
                                                              o.bands ? o.bands->method : band_method::profile))
                                           .dump());
                               })
        .def("__str__", &run_text)
        .def("_repr_html_", &run_html)
        .def("__repr__", &run_repr);
    set_plot(m.attr("Result"), "plot_run");

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
        .def_property_readonly("metadata", [](const fit_output& o) { return metadata_of(o.from); }, metadata_doc)
        .def_property_readonly("run", [](const fit_output& o) { return run_output{o.c, o.f.run, std::nullopt, std::nullopt, o.from}; },
                               "The whole run with the a2 found (a Result).")
        .def("_repr_html_",
             [](const fit_output& o) {
                 std::vector<std::string> lines = {"a2 = " + sig(o.f.a2, 6) + " gives a CO2 conversion of " +
                                                   sig(100.0 * o.f.co2_conversion, 6) + " % (target " +
                                                   sig(100.0 * o.target, 6) + " %; equilibrium " +
                                                   sig(100.0 * o.f.equilibrium_co2_conversion, 4) + " %)"};
                 for (const fit_point& p : o.f.solutions) {
                     if (p.a2 != o.f.a2) lines.push_back("also a2 = " + sig(p.a2, 6));
                 }
                 lines.push_back("the highest any a2 reaches: " + sig(100.0 * o.f.highest.co2_conversion, 4) +
                                 " % at a2 = " + sig(o.f.highest.a2, 4));
                 return html_summary(lines);
             })
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

// A study's or a sweep's curves, described as the command line's plot.
py::object curves_figure(const study_plan& plan, const table& points) {
    study_plot plot(plan);
    plot.add(points);
    return py::module_::import("json").attr("loads")(figure_json(plot.description()).dump());
}

// A map of one of a study's or a sweep's results over its grid of two,
// described as the command line's.
py::object map_figure(const study_plan& plan, const table& points, const std::string& result) {
    study_map map(plan, result);
    map.add(points);
    return py::module_::import("json").attr("loads")(figure_json(map.description()).dump());
}

table points(const sweep_result& r) {
    table t = sweep_table(r.vars);
    for (const sweep_point& p : r.points) add_sweep_point(t, p);
    return t;
}

void bind_sweep(py::module_& m) {
    py::class_<sweep_output>(m, "SweepResult", R"(The reactor over a grid of one or two case quantities.

`points` is a Table, one row a point (the first variable fastest), the
columns of the command line's --csv: the variables' values,
co2_conversion, equilibrium_co2_conversion, the outlet's NC-FLOW mass
fractions w_NH3, w_CO2, w_UREA, w_H2O, and failure (the solver's message, for
a point that failed; its numbers are NaN). print(sweep) shows the command
line's table; sweep.plot() draws its curves, sweep.plot(map="co2_conversion")
a map over a grid of two.)")
        .def_property_readonly("points", [](const sweep_output& o) { return points(o.r); }, "A Table, one row a point.")
        .def_property_readonly("variables",
                               [](const sweep_output& o) {
                                   py::list l;
                                   for (const sweep_variable& v : o.r.vars) {
                                       py::dict d;
                                       d["name"] = v.name;
                                       d["spacing"] = v.log_spacing ? "log" : "linear";
                                       d["values"] = array_of(v.values);
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
        .def_property_readonly("notes", [](const sweep_output& o) { return said_all(o.r.notes, python_words()); },
                               "Varied quantities that change no result for this case, and the like.")
        .def_property_readonly("metadata", [](const sweep_output& o) { return metadata_of(o.from); }, metadata_doc)
        .def("to_pandas", [](const sweep_output& o) { return data_frame(points(o.r)); },
             "The points as a pandas DataFrame.")
        .def_property_readonly(
            "report",
            [](const sweep_output& o) {
                return report_text(printed([&](std::ostream& out) { print_sweep(out, o.plan.base, o.r); }));
            },
            "The command line's table, as text: print(sweep.report).")
        .def_property_readonly("_plot_data", [](const sweep_output& o) { return grid_plot_data(o.plan.study); })
        .def_property_readonly("_figure",
                               [](const sweep_output& o) { return curves_figure(o.plan.study, points(o.r)); })
        .def("_map_figure",
             [](const sweep_output& o, const std::string& result) { return map_figure(o.plan.study, points(o.r), result); })
        .def("_repr_html_",
             [](const sweep_output& o) {
                 return html_summary({"Sweep: " + study_subject(o.plan.study) + "; " +
                                      std::to_string(o.r.points.size() - o.r.failed) + " of " +
                                      std::to_string(o.r.points.size()) + " points solved."}) +
                        table_html(points(o.r));
             })
        .def("__str__", [](const sweep_output& o) { return printed([&](std::ostream& out) { print_sweep(out, o.plan.base, o.r); }); })
        .def("__repr__", [](const sweep_output& o) {
            std::ostringstream out;
            out << "<SweepResult: " << o.r.points.size() << " points of";
            for (const sweep_variable& v : o.r.vars) out << " " << v.name;
            out << ", " << o.r.failed << " failed>";
            return out.str();
        });
    set_plot(m.attr("SweepResult"), "plot_sweep");
}

// ---- an estimate --------------------------------------------------------------

estimate_report report_of(const estimate_output& o) { return workbench::report_of(o.e); }

py::object maybe(const std::optional<double>& v) { return v ? py::object(py::float_(*v)) : py::none(); }

py::object linearised_bound(const parameter_estimate& p, double v) {
    return p.free && linearised_text(p) != "none" ? number_or_none(v) : py::none();
}

// "a2 = 0.1596: 95 % profile 0.1558 .. 0.2063; linearised 0.1557 .. 0.1634;
// determined": the profile interval first, the one the verdict rests on.
std::string parameter_line(const parameter_estimate& p) {
    std::string s = p.name + " = " + sig(p.value, 6);
    if (!p.free) return s + ", held";
    s += ": 95 % profile " + (p.profile.computed ? profile_cell(p) : std::string("not computed"));
    const std::string caveat = linearised_caveat(p);
    s += caveat.empty() ? "; linearised " + linearised_cell(p) : "; linearised: " + caveat;
    return s + "; " + verdict_name(p.verdict);
}

py::object region_dict(const likelihood_region& g) {
    if (!g.computed) return py::none();
    std::vector<std::pair<std::size_t, const region_slice*>> slices;
    for (std::size_t k = 0; k < g.pieces.size(); ++k) {
        for (const region_slice& x : g.pieces[k]) slices.emplace_back(k, &x);
    }
    using item = std::pair<std::size_t, const region_slice*>;
    table t;
    put(t, field_of("region slice", "piece"), numbers<long>(slices, [](const item& x) { return static_cast<long>(x.first); }));
    put(t, field_of("region slice", "a1"), numbers<double>(slices, [](const item& x) { return x.second->a1; }));
    put(t, field_of("region slice", "a2_best"), numbers<double>(slices, [](const item& x) { return x.second->a2_best; }));
    put(t, field_of("region slice", "delta_best"), numbers<double>(slices, [](const item& x) { return x.second->delta_best; }));
    put(t, field_of("region slice", "a2_low"), numbers<double>(slices, [](const item& x) { return x.second->a2_low; }));
    put(t, field_of("region slice", "a2_high"), numbers<double>(slices, [](const item& x) { return x.second->a2_high; }));
    put(t, field_of("region slice", "open_low"), numbers<bool>(slices, [](const item& x) { return x.second->open_low; }));
    put(t, field_of("region slice", "open_high"), numbers<bool>(slices, [](const item& x) { return x.second->open_high; }));
    table e;
    put(e, field_of("region ellipse", "a1"), numbers<double>(g.ellipse, [](const std::array<double, 2>& x) { return x[0]; }));
    put(e, field_of("region ellipse", "a2"), numbers<double>(g.ellipse, [](const std::array<double, 2>& x) { return x[1]; }));
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
    table t;
    put(t, field_of("bootstrap sample", "a1"), numbers<double>(b.samples, [](const std::array<double, 2>& x) { return x[0]; }));
    put(t, field_of("bootstrap sample", "a2"), numbers<double>(b.samples, [](const std::array<double, 2>& x) { return x[1]; }));
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
    table t;
    put(t, field_of("left-out run", "run"), texts(l.runs, [&](const left_out_run& x) { return runs[x.run].name; }));
    put(t, field_of("left-out run", "ok"), numbers<bool>(l.runs, [](const left_out_run& x) { return x.ok; }));
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string n = k == 0 ? "a1" : "a2";
        put(t, field_of("left-out run", "<factor>"), numbers<double>(l.runs, [k](const left_out_run& x) { return x.value[k]; }), n);
        put(t, field_of("left-out run", "shift_ln_<factor>"), numbers<double>(l.runs, [k](const left_out_run& x) { return x.shift_ln[k]; }), n);
        put(t, field_of("left-out run", "shift_se_<factor>"), numbers<double>(l.runs, [k](const left_out_run& x) { return x.shift_se[k]; }), n);
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
    auto j = estimate_file_json(report_of(o), o.e.problem.base, build_of(o.from.plugin_file), python_words());
    return j.dump(2) + "\n";
}

// A file written as the command line writes its outputs: whole, or not at all.
template <class Stage>
void write_output(const char* option, py::handle path, Stage stage) {
    const output_target target = check_output_path(option, path_text(path), output_kind::text);
    if (target.to_stdout) throw input_error(field(option), "give a file");
    staged_outputs files;
    stage(files, target);
    files.commit();
    if (!files.failures().empty()) throw plot_error(files.failures().front());
}

table residuals(const estimate_output& o) { return residuals_table(report_of(o)); }

table starts(const estimate_result& e) {
    const std::vector<start_outcome>& s = e.starts;
    table t;
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string name = k == 0 ? "a1" : "a2";
        put(t, field_of("start", "from_<factor>"), numbers<double>(s, [k](const start_outcome& o) { return o.from[k]; }), name);
        put(t, field_of("start", "to_<factor>"), numbers<double>(s, [k](const start_outcome& o) { return o.to[k]; }), name);
    }
    put(t, field_of("start", "usable"), numbers<bool>(s, [](const start_outcome& o) { return o.usable; }));
    put(t, field_of("start", "converged"), numbers<bool>(s, [](const start_outcome& o) { return o.converged; }));
    put(t, field_of("start", "chi_square"), numbers<double>(s, [](const start_outcome& o) { return o.chi_square; }));
    put(t, field_of("start", "objective"), numbers<double>(s, [](const start_outcome& o) { return o.objective; }));
    put(t, field_of("start", "iterations"), numbers<int>(s, [](const start_outcome& o) { return o.iterations; }));
    put(t, field_of("start", "reactor_failures"), numbers<long>(s, [](const start_outcome& o) { return o.model_failures; }));
    put(t, field_of("start", "message"), texts(s, [](const start_outcome& o) { return o.message; }));
    return t;
}

void bind_estimate(py::module_& m) {
    py::class_<parameter_estimate>(m, "Parameter", R"(One rate factor as estimated (or held).

Shown as the verdict reads it: the 95 % profile-likelihood interval first
(profile95: the interval the verdict rests on), the linearised one second
(linearised95, or linearised_note saying why it means nothing here); a held
factor as held. An absent bound or number is None.)")
        .def_readonly("name", &parameter_estimate::name, "'a1' or 'a2'.")
        .def_readonly("value", &parameter_estimate::value, "The best fit's value (the held value when held).")
        .def_readonly("free", &parameter_estimate::free, "False when held with fix=.")
        .def_property_readonly("se_ln", [](const parameter_estimate& p) { return number_or_none(p.se_ln); },
                               "The standard error of ln a, linearised and scaled; None when unknown or held.")
        .def_property_readonly("lower95", [](const parameter_estimate& p) { return linearised_bound(p, p.lower95); },
                               "The linearised 95 % interval's lower end, exp(ln a - t se_ln); None when there is "
                               "none. Read profile95 first: see linearised_note.")
        .def_property_readonly("upper95", [](const parameter_estimate& p) { return linearised_bound(p, p.upper95); },
                               "The linearised 95 % interval's upper end; None when there is none.")
        .def_property_readonly("linearised95",
                               [](const parameter_estimate& p) {
                                   if (!p.free || !linearised_caveat(p).empty()) return py::object(py::none());
                                   return py::object(py::make_tuple(p.lower95, p.upper95));
                               },
                               "The linearised 95 % interval (lower, upper) where it means something (within a "
                               "decade and agreeing with the profile); else None, and linearised_note says why.")
        .def_property_readonly("linearised_note",
                               [](const parameter_estimate& p) { return p.free ? linearised_caveat(p) : std::string("held"); },
                               "Why the linearised interval means nothing here ('none', 'spans 141 decades', "
                               "'unlike the profile', 'held'); '' where it means something.")
        .def_readonly("conditional", &parameter_estimate::conditional,
                      "The linearised interval holds the other factor at its value (the joint covariance is "
                      "singular).")
        .def_property_readonly("held", [](const parameter_estimate& p) { return !p.free; }, "True when held with fix=.")
        .def_property_readonly("profile95",
                               [](const parameter_estimate& p) {
                                   if (!p.profile.computed) return py::object(py::none());
                                   return py::object(py::make_tuple(maybe(p.profile.lower), maybe(p.profile.upper)));
                               },
                               "The 95 % profile-likelihood interval (lower, upper), the one the verdict rests on; "
                               "None for an open side; None for a held factor.")
        .def_property_readonly("profile",
                               [](const parameter_estimate& p) {
                                   if (!p.profile.computed) return py::object(py::none());
                                   const std::vector<profile_point>& q = p.profile.points;
                                   table t;
                                   put(t, field_of("profile point", "value"), numbers<double>(q, [](const profile_point& x) { return x.value; }));
                                   put(t, field_of("profile point", "other"), numbers<double>(q, [](const profile_point& x) { return x.other; }));
                                   put(t, field_of("profile point", "delta"), numbers<double>(q, [](const profile_point& x) { return x.delta; }));
                                   return py::cast(t);
                               },
                               "The profile's scan, a Table: value, the other factor re-optimised there, and the "
                               "objective above the best (delta); None for a held factor.")
        .def_property_readonly("verdict", [](const parameter_estimate& p) { return verdict_name(p.verdict); },
                               "A name: fixed, determined, at_bound, open, wide, singular or combination.")
        .def_property_readonly("verdict_text", [](const parameter_estimate& p) { return said(p.verdict_text); },
                               "The verdict in plain words.")
        .def("_repr_html_",
             [](const parameter_estimate& p) {
                 return html_summary({parameter_line(p), said(p.verdict_text)});
             })
        .def("__str__", &parameter_line)
        .def("__repr__", [](const parameter_estimate& p) { return "<Parameter " + parameter_line(p) + ">"; });

    py::class_<estimate_output>(m, "EstimateResult", R"(a1 and a2 estimated from plant test runs.

a1 and a2: the values; parameters: {'a1': Parameter, 'a2': Parameter} with
their intervals and verdicts; verdict: the plain-words lines; residuals: a
Table, one row a run's measurement (measured, predicted, standardised
residual, outlier); the fit's quality (chi_square, reduced_chi_square,
degrees_of_freedom, correlation, ...); starts: a Table of the search's
starts. print(estimate.report) shows the command line's report;
estimate.plot("profiles" | "region" | "parity") its pictures.)")
        .def_property_readonly("a1", [](const estimate_output& o) { return o.e.result.parameters[0].value; },
                               "a1's best fit (or held value); parameters['a1'] says how sure.")
        .def_property_readonly("a2", [](const estimate_output& o) { return o.e.result.parameters[1].value; },
                               "a2's best fit (or held value); parameters['a2'] says how sure.")
        .def_property_readonly("parameters",
                               [](const estimate_output& o) {
                                   py::dict d;
                                   for (const parameter_estimate& p : o.e.result.parameters) d[p.name.c_str()] = p;
                                   return d;
                               },
                               "{'a1': Parameter, 'a2': Parameter}: each with its 95 % profile interval (the "
                               "verdict's), the linearised one where it means something, and its verdict.")
        .def_property_readonly("correlation", [](const estimate_output& o) { return number_or_none(o.e.result.correlation); },
                               "Of ln a1 and ln a2, linearised; None unless both are free and it means something.")
        .def_property_readonly("covariance_singular", [](const estimate_output& o) { return o.e.result.covariance_singular; },
                               "The runs cannot tell a1 from a2 apart at the best fit (only a combination).")
        .def_property_readonly("covariance_note", [](const estimate_output& o) { return o.e.result.covariance_note; },
                               "Why there is no covariance, in words; '' when there is one.")
        .def_property_readonly("measurements", [](const estimate_output& o) { return o.e.result.measurements; },
                               "Measurements fitted (every run's conversion and lab values).")
        .def_property_readonly("free_parameters", [](const estimate_output& o) { return o.e.result.free_parameters; },
                               "Factors estimated (2 less those held).")
        .def_property_readonly("degrees_of_freedom", [](const estimate_output& o) { return o.e.result.degrees_of_freedom; },
                               "measurements - free_parameters.")
        .def_property_readonly("chi_square", [](const estimate_output& o) { return o.e.result.chi_square; },
                               "The sum of the squared standardised residuals.")
        .def_property_readonly("reduced_chi_square",
                               [](const estimate_output& o) { return number_or_none(o.e.result.reduced_chi_square); },
                               "chi_square / degrees_of_freedom (about 1 when the stated standard deviations are "
                               "right); None without degrees of freedom.")
        .def_property_readonly("scale_factor", [](const estimate_output& o) { return o.e.result.scale_factor; },
                               "max(1, sqrt(reduced chi-square)), applied to the standard errors.")
        .def_property_readonly("t_quantile", [](const estimate_output& o) { return o.e.result.t_quantile; },
                               "Student's t at 97.5 % on the degrees of freedom, for the linearised intervals.")
        .def_property_readonly("profile_threshold", [](const estimate_output& o) { return o.e.result.profile_threshold; },
                               "How far above the best the objective may rise within a 95 % profile interval.")
        .def_property_readonly("loss", [](const estimate_output& o) { return loss_name(o.e.result.loss); },
                               "The loss: none (least squares), huber or cauchy.")
        .def_property_readonly("loss_scale", [](const estimate_output& o) { return o.e.result.loss_scale; },
                               "A robust loss's scale, in standard deviations.")
        .def_property_readonly("starts", [](const estimate_output& o) { return starts(o.e.result); },
                               "A Table, one row a start of the search: from_a1, to_a1, ..., usable, converged, "
                               "chi_square, objective, iterations, reactor_failures, message.")
        .def_property_readonly("best_start", [](const estimate_output& o) { return o.e.result.best_start; },
                               "The row of starts that gave the best fit.")
        .def_property_readonly("starts_agreeing", [](const estimate_output& o) { return o.e.result.starts_agreeing; },
                               "Starts that ended at the best fit.")
        .def_property_readonly("residuals", [](const estimate_output& o) { return residuals(o); },
                               "A Table, one row a run's measurement, the command line's --csv: run, line, "
                               "measurement, measured, sigma, sigma_given, predicted, residual ((measured - "
                               "predicted) / sigma), outlier, impossible_for_model.")
        .def_property_readonly("outliers", [](const estimate_output& o) { return o.e.result.outliers; },
                               "Measurements more than 3 standard deviations off.")
        .def_property_readonly("reactor_solves", [](const estimate_output& o) { return o.e.reactor_solves; },
                               "Solves of a run's reactor, the first check's included.")
        .def_property_readonly("model_failures", [](const estimate_output& o) { return o.e.result.model_failures; },
                               "Solves that failed during the search.")
        .def_property_readonly("runs_file", [](const estimate_output& o) { return o.e.problem.runs.file; },
                               "The runs file (or the name standing for a table).")
        .def_property_readonly("base", [](const estimate_output& o) { return o.e.problem.base; }, "The base case.")
        .def_property_readonly("verdict",
                               [](const estimate_output& o) {
                                   std::vector<std::string> lines;
                                   for (const message& l : verdict_lines(report_of(o))) lines.push_back(said(l));
                                   return lines;
                               },
                               "The verdict in plain words, one sentence a line.")
        .def_property_readonly("warnings", [](const estimate_output& o) { return o.warnings; },
                               "What the checks of the base case, the runs and their cases warned of.")
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
                const std::string text =
                    case_file_text(o.e.tuned.c, tuned_case_comments(report_of(o), o.job.runs_sha256, writer, python_words()));
                write_output("path", path, [&](staged_outputs& f, const output_target& t) { f.add_text(t, text); });
            },
            py::arg("path"), "Writes the tuned case as a case file, with comments saying what was estimated and kept.")
        .def(
            "write_report",
            [](const estimate_output& o, py::object path) {
                html_context c = html_context_of(o.job, build_of(o.from.plugin_file));
                c.options = "(from Python)";
                c.words = &python_words();
                write_output("path", path,
                             [&](staged_outputs& f, const output_target& t) { add_estimate_html(f, t, report_of(o), c); });
            },
            py::arg("path"),
            "Writes the whole estimate as one self-contained HTML page (plots drawn by gnuplot, inline; versions "
            "and the inputs' SHA-256). Raises PlotError, with the page written all the same, when a plot could "
            "not be drawn.")
        .def_property_readonly("metadata", [](const estimate_output& o) { return metadata_of(o.from); }, metadata_doc)
        .def_property_readonly(
            "report",
            [](const estimate_output& o) {
                return report_text(printed([&](std::ostream& out) { print_estimate(out, report_of(o), python_words()); }));
            },
            "The command line's report, as text: print(estimate.report).")
        .def_property_readonly("_profiles_figure",
                               [](const estimate_output& o) {
                                   return py::module_::import("json").attr("loads")(
                                       figure_json(profiles_figure(report_of(o))).dump());
                               })
        .def_property_readonly("_region_figure",
                               [](const estimate_output& o) {
                                   return py::module_::import("json").attr("loads")(
                                       figure_json(region_figure(report_of(o))).dump());
                               })
        .def_property_readonly("_parity_figure",
                               [](const estimate_output& o) {
                                   return py::module_::import("json").attr("loads")(
                                       figure_json(parity_figure(report_of(o))).dump());
                               })
        .def_property_readonly("_plot_data",
                               [](const estimate_output& o) {
                                   const estimate_result& res = o.e.result;
                                   py::dict d, se, cells;
                                   for (const parameter_estimate& p : res.parameters) {
                                       se[p.name.c_str()] = number_or_none(p.se_ln_unscaled);
                                       cells[p.name.c_str()] = profile_cell(p);
                                   }
                                   py::list kinds;
                                   for (const quantity_info& q : quantities) {
                                       py::dict k;
                                       k["column"] = q.column;
                                       k["title"] = q.plot_title;
                                       k["in_analysis"] = q.in_analysis;
                                       kinds.append(k);
                                   }
                                   d["profile_threshold"] = res.profile_threshold;
                                   d["se_ln_unscaled"] = se;
                                   d["profile_cells"] = cells;
                                   d["factors"] = estimate_factors_text(report_of(o));
                                   d["measurements"] = kinds;
                                   return d;
                               })
        .def("_repr_html_",
             [](const estimate_output& o) {
                 const estimate_result& res = o.e.result;
                 std::string h = "<p>Estimate from " + std::to_string(o.e.problem.runs.runs.size()) + " runs (" +
                                 html_escaped_text(o.e.problem.runs.file) + ")</p><table><thead><tr><th>factor</th>"
                                 "<th>value</th><th>95 % profile<br><small>the verdict's</small></th>"
                                 "<th>linearised 95 %</th><th>verdict</th></tr></thead><tbody>";
                 for (const parameter_estimate& p : res.parameters) {
                     h += "<tr><td>" + p.name + "</td><td>" + sig(p.value, 6) + "</td><td>" +
                          html_escaped_text(p.free ? profile_cell(p) : "held") + "</td><td>" +
                          html_escaped_text(p.free ? linearised_cell(p) : "held") + "</td><td>" +
                          html_escaped_text(said(p.verdict_text)) + "</td></tr>";
                 }
                 h += "</tbody></table>";
                 std::vector<std::string> lines;
                 for (const message& l : verdict_lines(report_of(o))) lines.push_back(said(l));
                 return h + html_summary(lines) + table_html(residuals(o));
             })
        .def("__str__", [](const estimate_output& o) { return printed([&](std::ostream& out) { print_estimate(out, report_of(o), python_words()); }); })
        .def("__repr__", [](const estimate_output& o) {
            std::ostringstream out;
            out.precision(6);
            out << "<EstimateResult from " << o.e.problem.runs.runs.size() << " runs: "
                << parameter_line(o.e.result.parameters[0]) << "; " << parameter_line(o.e.result.parameters[1]) << ">";
            return out.str();
        });
    set_plot(m.attr("EstimateResult"), "plot_estimate");
}

// ---- a check ------------------------------------------------------------------

std::string check_text(const check_output& o) {
    return printed([&](std::ostream& out) {
        print_check_heading(out, o.build);
        print_verdicts(out, o.verdicts, python_words());
    });
}

bool all_ok(const check_output& o) { return check_passed(o.verdicts); }

void bind_check(py::module_& m) {
    py::class_<check_output>(m, "CheckResult", R"(What check() found of a plug-in build.

ok: every verdict holds; verdicts: (ok, sentence) pairs; plugin_file, plugin
(its version marker) and workbench (this module's version).)")
        .def_property_readonly("ok", &all_ok, "Whether every verdict holds: the build is good.")
        .def_property_readonly("verdicts",
                               [](const check_output& o) {
                                   py::list l;
                                   for (const verdict& v : o.verdicts) l.append(py::make_tuple(v.ok, said(v.text)));
                                   return l;
                               },
                               "Each check as (ok, sentence).")
        .def_property_readonly("plugin_file", [](const check_output& o) { return o.build.plugin_file; },
                               "The plug-in's file checked.")
        .def_property_readonly("plugin", [](const check_output& o) { return o.build.plugin; },
                               "The plug-in's version marker (or why it has none).")
        .def_property_readonly("workbench", [](const check_output& o) { return o.build.workbench; },
                               "This module's version and git commit.")
        .def("__bool__", &all_ok)
        .def_property_readonly("report", [](const check_output& o) { return report_text(check_text(o)); },
                               "The command line's report, as text: print(check.report).")
        .def("_repr_html_",
             [](const check_output& o) {
                 std::string h = "<p>" + html_escaped_text(o.build.plugin_file) + (all_ok(o) ? " is good" : " is NOT good") +
                                 "</p><ul>";
                 for (const verdict& v : o.verdicts) {
                     h += std::string("<li>") + (v.ok ? "ok: " : "FAILED: ") + html_escaped_text(said(v.text)) + "</li>";
                 }
                 return h + "</ul>";
             })
        .def("__str__", &check_text)
        .def("__repr__", [](const check_output& o) {
            return std::string("<CheckResult: ") + o.build.plugin_file + (all_ok(o) ? " is good>" : " is NOT good>");
        });
}

}  // namespace

// ---- Table --------------------------------------------------------------------


void bind_table(py::module_& m) {
    py::class_<table>(m, "Table", R"(Named columns of equal length, each with its unit and meaning.

The columns are those of the command line's CSV of the same result, in its
order and with its names: table["co2_conversion"] or table.co2_conversion
gives a column (numbers as a numpy float array, NaN where missing; whole
numbers as int64; yes or no as bool; text as a list, None where missing);
table.columns the names in order; table.units and table.meanings by name;
len(table) the number of rows; table.to_dict() a dict of the columns;
table.to_pandas() a pandas DataFrame with the dtypes pandas reads from the
CSV, the units and meanings in its .attrs.)")
        .def_property_readonly("columns",
                               [](const table& t) {
                                   std::vector<std::string> names;
                                   for (const column& c : t.columns()) names.push_back(c.name);
                                   return names;
                               },
                               "The column names, in order.")
        .def_property_readonly("units",
                               [](const table& t) {
                                   py::dict d;
                                   for (const column& c : t.columns()) d[py::str(c.name)] = c.unit;
                                   return d;
                               },
                               "Each column's unit, by name ('' for none).")
        .def_property_readonly("meanings",
                               [](const table& t) {
                                   py::dict d;
                                   for (const column& c : t.columns()) d[py::str(c.name)] = c.meaning;
                                   return d;
                               },
                               "Each column's meaning in a line, by name.")
        .def("__len__", &table::rows)
        .def("__contains__", [](const table& t, const std::string& name) { return t.find(name) != nullptr; })
        .def("__getitem__", [](const table& t, const std::string& name) { return column_object(column_named(t, name)); })
        .def("__getattr__",
             [](const table& t, const std::string& name) {
                 const column* c = t.find(name);
                 if (c == nullptr) throw py::attribute_error("the table has no column '" + name + "'");
                 return column_object(*c);
             })
        .def("__iter__",
             [](const table& t) {
                 py::list names;
                 for (const column& c : t.columns()) names.append(c.name);
                 return py::iter(names);
             })
        .def("keys",
             [](const table& t) {
                 std::vector<std::string> names;
                 for (const column& c : t.columns()) names.push_back(c.name);
                 return names;
             },
             "The column names, in order.")
        .def("to_dict",
             [](const table& t) {
                 py::dict d;
                 for (const column& c : t.columns()) d[py::str(c.name)] = column_object(c);
                 return d;
             },
             "The columns as a dict, in order.")
        .def("to_pandas", &data_frame, "The table as a pandas DataFrame, as pandas reads the command line's CSV.")
        .def("to_csv", &csv_text, "The table as the command line's CSV text.")
        .def("_repr_html_", [](const table& t) { return table_html(t); })
        .def("__repr__", [](const table& t) {
            std::string names;
            for (const column& c : t.columns()) names += (names.empty() ? "" : ", ") + c.name;
            return "<Table, " + std::to_string(t.rows()) + " rows: " + names + ">";
        });
}

void bind_study(py::module_& m) {
    py::class_<study_output>(m, "StudyResult", R"(The reactor over a grid of case quantities or a table of cases.

`points` (also `columns`) is a Table, one row a point (a grid's first
quantity fastest; a case table's rows in order), the columns of the command
line's --csv: a case table's carried columns (text), each varied setting
(the model as 'trays' or 'pfr'), each result by name (NaN where a point
failed or the result is undefined there; with estimate=, NAME_low and
NAME_high beside it, and band_open), and failure. study.plot() draws its
curves, study.plot(map="co2_conversion") a map over a grid of two.)")
        .def_property_readonly("points", [](const study_output& o) { return o.points; }, "A Table, one row a point.")
        .def_property_readonly("columns", [](const study_output& o) { return o.points; },
                               "A Table, one row a point (the same as points).")
        .def("to_pandas", [](const study_output& o) { return data_frame(o.points); },
             "The points as a pandas DataFrame.")
        .def_property_readonly("units",
                               [](const study_output& o) {
                                   py::dict d;
                                   for (const result_quantity& q : o.plan.results) d[py::str(q.name)] = q.unit;
                                   return d;
                               },
                               "Each result's unit, by name.")
        .def_property_readonly("meanings",
                               [](const study_output& o) {
                                   py::dict d;
                                   for (const result_quantity& q : o.plan.results) d[py::str(q.name)] = q.meaning;
                                   return d;
                               },
                               "Each result's meaning in a line, by name.")
        .def_property_readonly("base", [](const study_output& o) { return o.plan.base; }, "The base case.")
        .def_property_readonly("band",
                               [](const study_output& o) { return o.plan.bands ? py::object(band_dict(*o.plan.bands)) : py::none(); },
                               "With estimate=: the bands' way (see Result.band); else None.")
        .def_property_readonly("solved", [](const study_output& o) { return o.summary.points - o.summary.failed; },
                               "Points solved.")
        .def_property_readonly("failed", [](const study_output& o) { return o.summary.failed; },
                               "Points that failed.")
        .def_property_readonly("rate_calls", [](const study_output& o) { return o.summary.rate_calls; },
                               "Calls of the plug-in's rate routine.")
        .def_property_readonly("warnings", [](const study_output& o) { return o.plan.warnings; },
                               "What the checks of the points' cases warned of.")
        .def_property_readonly("notes", [](const study_output& o) { return said_all(o.plan.notes, python_words()); },
                               "Varied quantities that change no result for this case, and the like.")
        .def_property_readonly("metadata", [](const study_output& o) { return metadata_of(o.from); }, metadata_doc)
        .def("__len__", [](const study_output& o) { return o.points.rows(); })
        .def_property_readonly("_plot_data", [](const study_output& o) { return grid_plot_data(o.plan); })
        .def_property_readonly("_figure", [](const study_output& o) { return curves_figure(o.plan, o.points); })
        .def("_map_figure",
             [](const study_output& o, const std::string& result) { return map_figure(o.plan, o.points, result); })
        .def("_repr_html_",
             [](const study_output& o) {
                 return "<p>Study: " + html_escaped_text(study_subject(o.plan)) + "; " +
                        std::to_string(o.summary.points - o.summary.failed) + " of " +
                        std::to_string(o.summary.points) + " points solved.</p>" + table_html(o.points);
             })
        .def("__repr__", [](const study_output& o) {
            return "<StudyResult " + std::to_string(o.points.rows()) + " points, " + std::to_string(o.summary.failed) +
                   " failed>";
        });
    set_plot(m.attr("StudyResult"), "plot_study");
}

// ---- a design ------------------------------------------------------------------

namespace {

table candidates_of(const design_output& o) { return candidates_table(o.p, o.r); }

// The candidates as a notebook shows them beside the map: the ranked ones
// best first, then those not solved, in the order given.
table candidates_in_rank_order(const design_output& o) {
    const table given = candidates_of(o);
    std::vector<std::size_t> order(o.r.ranking.begin(), o.r.ranking.end());
    std::vector<bool> placed(given.rows(), false);
    for (const std::size_t k : order) placed[k] = true;
    for (std::size_t k = 0; k < given.rows(); ++k) {
        if (!placed[k]) order.push_back(k);
    }
    table t = given;
    t.clear_rows();
    for (std::size_t c = 0; c < t.columns().size(); ++c) {
        const column& from = given.columns()[c];
        for (const std::size_t k : order) {
            if (holds_text(from.kind)) {
                t[c].push(from.texts[k]);
            } else {
                t[c].numbers.push_back(from.numbers[k]);
            }
        }
    }
    return t;
}

std::string design_text(const design_output& o, std::size_t top) {
    return printed([&](std::ostream& out) { print_design(out, o.p, o.r, top, python_words()); });
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

`candidates` is a Table, one row a candidate in the order given, the
columns of the command line's --csv: a case table's carried columns, the
settings, rank (1 the best; missing: not solved), relative (the ranked
measure after the run as a fraction of now: the joint region's area, or one
factor's interval width), criterion, each free factor's expected 95 %
interval (a1_lower, a1_upper, ...) and failure. `ranking` lists the solved
candidates' rows, best first; `verdict` says in words what the runs can and
cannot determine; print(design.report) shows the command line's table,
design.plot() the design map.)")
        .def_property_readonly("candidates", &candidates_of, "A Table, one row a candidate.")
        .def("to_pandas", [](const design_output& o) { return data_frame(candidates_of(o)); },
             "The candidates as a pandas DataFrame.")
        .def_property_readonly("metadata", [](const design_output& o) { return metadata_of(o.from); }, metadata_doc)
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
        .def_property_readonly("verdict", [](const design_output& o) { return said_all(o.r.verdict, python_words()); },
                               "In plain words, one sentence a line.")
        .def_property_readonly("reactor_solves", [](const design_output& o) { return o.r.reactor_solves; },
                               "Solves of the reactor, the estimate's included.")
        .def_property_readonly(
            "report",
            [](const design_output& o) {
                py::object again = py::cpp_function([o](std::size_t top) { return design_text(o, top); }, py::arg("top"));
                return report_text(design_text(o, 10), again);
            },
            "The command line's table of the top 10 candidates, as text: print(design.report); "
            "design.report(top=20) for more.")
        .def_property_readonly("_map_figure",
                               [](const design_output& o) {
                                   return py::module_::import("json").attr("loads")(
                                       figure_json(design_map_figure(o.p, o.r)).dump());
                               })
        .def_property_readonly("_plot_data",
                               [](const design_output& o) {
                                   py::dict d;
                                   py::list vars, runs;
                                   for (const study_variable& v : o.p.candidates.vars) vars.append(variable_dict(v));
                                   for (const reactor_case& c : o.p.runs.cases) {
                                       py::list at;
                                       for (const study_variable& v : o.p.candidates.vars) at.append(value_in(c, v.name));
                                       runs.append(at);
                                   }
                                   d["vars"] = vars;
                                   d["runs"] = runs;
                                   d["measure"] = design_measure(o.r);
                                   return d;
                               })
        .def("_repr_html_",
             [](const design_output& o) {
                 std::vector<std::string> lines;
                 for (const message& v : o.r.verdict) lines.push_back(said(v));
                 return html_summary(lines) + table_html(candidates_in_rank_order(o));
             })
        .def("__str__", [](const design_output& o) { return design_text(o, 10); })
        .def("__repr__", [](const design_output& o) {
            return "<DesignResult: " + std::to_string(o.r.candidates.size()) + " candidates, " +
                   std::to_string(o.r.ranking.size()) + " ranked>";
        });
    set_plot(m.attr("DesignResult"), "plot_design");
}

void bind_results(py::module_& m) {
    bind_run(m);
    bind_sweep(m);
    bind_estimate(m);
    bind_check(m);
}

}  // namespace urea_python
