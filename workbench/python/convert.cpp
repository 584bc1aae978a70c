// Python input as the API takes it: cases, runs tables, --vary and --fix
// given as Python values. Every check is the API's: what comes from here is
// text or numbers as the command line would pass them on.
#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

#include <pybind11/stl.h>

#include "binding.h"

namespace urea_python {

using namespace workbench;

std::string path_text(py::handle path) {
    return py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
}

namespace {

// repr's text of a double: the shortest that reads back as the same double.
std::string double_text(double v) {
    char* text = PyOS_double_to_string(v, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (text == nullptr) throw py::error_already_set();
    std::string out(text);
    PyMem_Free(text);
    return out;
}

// A value as a double, as float() takes it.
double number_of(py::handle v) { return py::float_(py::reinterpret_borrow<py::object>(v)).cast<double>(); }

// A setting's value as a double, as float() takes it; InputError naming the
// setting for one that is no number or too large for a double.
double number_for(const std::string& name, py::handle v) {
    try {
        return number_of(v);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_TypeError) && !e.matches(PyExc_OverflowError)) throw;
        std::string got = py::repr(v).cast<std::string>();
        if (got.size() > 40) got = got.substr(0, 30) + "... (" + std::to_string(got.size()) + " characters)";
        throw input_error::at_key(name, e.matches(PyExc_OverflowError)
                                            ? "must be a number a double can hold (got " + got + ", too large for a double)"
                                            : "must be a number (got " + got + ")");
    }
}

bool is_whole_number(py::handle v) {
    return !py::isinstance<py::bool_>(v) && PyIndex_Check(v.ptr()) != 0;
}

// A table's cell as a runs file would hold it: None, NaN and pandas' NA are
// empty (not given); numbers as number_text; anything else as str().
std::string cell_text(py::handle v) {
    if (v.is_none() || std::string(Py_TYPE(v.ptr())->tp_name) == "NAType") return "";
    if (py::isinstance<py::str>(v)) return v.cast<std::string>();
    if (py::isinstance<py::float_>(v) ||
        (!py::isinstance<py::bool_>(v) && !is_whole_number(v) && py::hasattr(v, "__float__") &&
         !py::isinstance<py::bytes>(v))) {
        const double d = number_of(v);
        return std::isnan(d) ? "" : double_text(d);
    }
    return py::str(v).cast<std::string>();
}

}  // namespace

bool is_path(py::handle v) { return py::isinstance<py::str>(v) || py::hasattr(v, "__fspath__"); }

std::string number_text(py::handle value) {
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (is_whole_number(value)) return py::str(py::int_(py::reinterpret_borrow<py::object>(value))).cast<std::string>();
    return double_text(number_of(value));
}

reactor_case case_of(py::handle c) {
    if (c.is_none()) return default_case();
    if (is_path(c)) return read_case(path_text(c));
    if (!py::isinstance<reactor_case>(c)) throw py::type_error("case: a Case, a case file's path, or None");
    return c.cast<reactor_case>();
}

void table_of(py::handle t, const char* what, std::vector<std::string>& header,
              std::vector<std::vector<std::string>>& rows) {
    if (py::hasattr(t, "columns") && py::hasattr(t, "itertuples")) {
        // A pandas DataFrame: its columns in order, its rows without the index.
        for (py::handle h : t.attr("columns")) header.push_back(py::str(h).cast<std::string>());
        for (py::handle row : t.attr("itertuples")(py::arg("index") = false, py::arg("name") = py::none())) {
            std::vector<std::string> cells;
            for (py::handle cell : row) cells.push_back(cell_text(cell));
            rows.push_back(std::move(cells));
        }
        return;
    }
    // Records: the columns are their keys, in the order first met.
    if (!py::isinstance<py::iterable>(t)) throw py::type_error(what);
    std::vector<py::dict> records;
    for (py::handle r : t) {
        if (!py::isinstance<py::dict>(r)) throw py::type_error(what);
        records.push_back(py::reinterpret_borrow<py::dict>(r));
    }
    for (const py::dict& r : records) {
        for (const auto& item : r) {
            const std::string key = py::str(item.first).cast<std::string>();
            if (std::find(header.begin(), header.end(), key) == header.end()) header.push_back(key);
        }
    }
    for (const py::dict& r : records) {
        std::vector<std::string> cells(header.size());
        for (const auto& item : r) {
            const std::string key = py::str(item.first).cast<std::string>();
            cells[static_cast<std::size_t>(std::find(header.begin(), header.end(), key) - header.begin())] =
                cell_text(item.second);
        }
        rows.push_back(std::move(cells));
    }
}

runs_file runs_of(py::handle runs, const std::string& name) {
    if (is_path(runs)) return read_runs(path_text(runs));
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    table_of(runs, "runs: a runs file's path, a pandas DataFrame or a list of dicts (one a run)", header, rows);
    return runs_from_table(header, rows, name);
}

case_table cases_of(py::handle cases, const std::string& name) {
    if (is_path(cases)) return read_case_table(path_text(cases), max_study_points);
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    table_of(cases, "cases: a case table's path, a pandas DataFrame or a list of dicts (one a case)", header, rows);
    return case_table_from_table(header, rows, name, max_study_points);
}

std::vector<result_quantity> results_of(py::handle results) {
    if (results.is_none()) return default_results();
    std::vector<std::string> names;
    if (py::isinstance<py::str>(results)) {
        names.push_back(results.cast<std::string>());
    } else {
        for (py::handle r : results) names.push_back(py::str(r).cast<std::string>());
    }
    std::vector<result_quantity> out;
    for (const std::string& n : names) {
        const auto q = result_named(n);
        if (!q) throw input_error(result_name_problem(n));
        out.push_back(*q);
    }
    return out;
}

std::vector<sweep_variable> vary_of(py::handle vary) {
    std::vector<std::string> texts;
    if (py::isinstance<py::dict>(vary)) {
        for (const auto& item : py::reinterpret_borrow<py::dict>(vary)) {
            std::string text = py::str(item.first).cast<std::string>() + "=";
            if (py::isinstance<py::str>(item.second)) {
                text += item.second.cast<std::string>();
            } else {
                // A tuple is a range (FROM, TO, N); a list (or an array) the values themselves.
                const char* sep = py::isinstance<py::tuple>(item.second) ? ":" : ",";
                std::string between;
                for (py::handle part : item.second) {
                    text += between + (py::isinstance<py::str>(part) ? part.cast<std::string>() : number_text(part));
                    between = sep;
                }
            }
            texts.push_back(text);
        }
    } else if (py::isinstance<py::str>(vary)) {
        texts.push_back(vary.cast<std::string>());
    } else {
        for (py::handle v : vary) texts.push_back(py::str(v).cast<std::string>());
    }
    std::vector<sweep_variable> vars;
    for (const std::string& t : texts) vars.push_back(parse_vary(t));
    return vars;
}

void hold(estimate_options& o, py::handle fix) {
    if (fix.is_none()) return;
    if (py::isinstance<py::dict>(fix)) {
        for (const auto& item : py::reinterpret_borrow<py::dict>(fix)) {
            hold_parameter(o, py::str(item.first).cast<std::string>() + "=" + number_text(item.second));
        }
    } else if (py::isinstance<py::str>(fix)) {
        hold_parameter(o, fix.cast<std::string>());
    } else {
        for (py::handle f : fix) hold_parameter(o, py::str(f).cast<std::string>());
    }
}

std::optional<band_plan> bands_of(py::handle estimate, py::handle band) {
    if (estimate.is_none()) {
        if (!band.is_none()) throw input_error("band=" + py::str(band).cast<std::string>() + ": bands need an estimate (estimate=)");
        return std::nullopt;
    }
    std::optional<band_method> method;
    if (!band.is_none()) method = band_method_named(py::str(band).cast<std::string>());
    if (py::isinstance<estimate_output>(estimate)) return plan_bands(uncertainty_of(estimate.cast<const estimate_output&>().e), method);
    if (!is_path(estimate)) throw py::type_error("estimate: an EstimateResult, an estimate file's path, or None");
    return plan_bands(read_estimate_file(path_text(estimate)), method);
}

py::dict band_dict(const band_plan& p) {
    py::dict d;
    d["method"] = band_method_name(p.method);
    d["description"] = p.description;
    d["estimate"] = p.u.source;
    d["a1"] = p.u.value[0];
    d["a2"] = p.u.value[1];
    d["notes"] = p.notes;
    return d;
}

// ---- Case ---------------------------------------------------------------------

namespace {

std::string case_repr(const reactor_case& c) {
    std::ostringstream out;
    out.precision(17);
    out << "Case(name=" << py::repr(py::str(c.name)).cast<std::string>() << ", model='" << model_name(c.model)
        << "', trays=" << c.trays << ", volume_m3=" << c.volume_m3 << ", pressure_bar=" << c.pressure_bar
        << ", inlet_temperature_C=" << c.inlet_temperature_C << ", outlet_temperature_C="
        << c.outlet_temperature_C << ", a1=" << c.a1 << ", a2=" << c.a2 << ", feed_kmol_h={";
    for (std::size_t i = 0; i < component_count; ++i) {
        out << (i ? ", " : "") << "'" << component_names[i] << "': " << c.feed_kmol_h[i];
    }
    out << "}" << (c.tables.empty() ? "" : ", with property tables") << ")";
    return out.str();
}

}  // namespace

void bind_case(py::module_& m) {
    py::class_<reactor_case>(m, "Case", R"(A reactor case: the reactor, its feed and the rate factors a1 and a2.

Made by Case.default() (the built-in default case), Case.from_file(path)
(a case file, JSON) or Case.from_json(text), and changed by
case.with_settings(...) or by setting its fields. Every value is checked
when a call uses the case (or by case.validate()); a bad one raises
InputError naming the case file's key.

Fields: name, model ('trays' or 'pfr'), trays, volume_m3, pressure_bar,
inlet_temperature_C, outlet_temperature_C, a1, a2, feed_kmol_h (a dict by
component: NH3, CO2, H2O, CARB, UREA, O2, N2; read as a copy, set as a whole);
nh3_co2 and h2o_co2 (the feed's molar ratios) are read only: change them
with with_settings(nh3_co2=...).)")
        .def(py::init([] { return default_case(); }), "The default case (as Case.default()).")
        .def_static("default", &default_case,
                    "The built-in default case: a CO2-stripping reactor, 145 bar, 170 -> 183 C, 190 m3 in "
                    "10 trays, 2400 kmol/h CO2, NH3/CO2 = 3.07, H2O/CO2 = 0.41, a1 = 1, a2 = 0.124.")
        .def_static(
            "from_file", [](py::object path) { return read_case(path_text(path)); }, py::arg("path"),
            "Reads a case file (JSON, docs/case-files.md). Keys not given keep the default case's values, "
            "except that a \"feed\" replaces the whole feed. Raises InputError with the file, line and key.")
        .def_static("from_json", &parse_case, py::arg("text"), py::arg("name") = "<json>",
                    "Reads a case from JSON text, as a case file; `name` stands for the file in messages.")
        .def(
            "with_settings",
            [](const reactor_case& c, py::object settings, py::kwargs more) {
                reactor_case out = c;
                std::vector<std::pair<std::string, double>> values;
                const auto take = [&](py::handle key, py::handle value) {
                    const std::string name = py::str(key).cast<std::string>();
                    if (normalised_name(name) != "model") {
                        values.emplace_back(name, number_for(name, value));
                        return;
                    }
                    const auto chosen =
                        py::isinstance<py::str>(value) ? model_named(value.cast<std::string>()) : std::nullopt;
                    if (!chosen) {
                        throw input_error::at_key(name, "must be \"trays\" or \"pfr\" (got " +
                                                            py::repr(value).cast<std::string>() + ")");
                    }
                    out.model = *chosen;
                };
                if (!settings.is_none()) {
                    for (const auto& item : py::dict(settings)) take(item.first, item.second);
                }
                for (const auto& item : more) take(item.first, item.second);
                return with_named(out, values);
            },
            py::arg("settings") = py::none(),
            R"(A copy of the case with quantities set by name, as a runs file's row sets them.

Names: a1, a2, trays, volume, pressure, t_in, t_out, co2, nh3_co2, h2o_co2, or
a runs file's column name (volume_m3, outlet_temperature_C, feed_kmol_h.NH3,
...), each a number; and model, 'trays' or 'pfr'; as keywords or in a dict:
case.with_settings(nh3_co2=3.2, a2=0.2),
case.with_settings({"feed_kmol_h.H2O": 900}). A changed CO2 feed keeps the
NH3/CO2 and H2O/CO2 ratios unless they are given too; ratios are applied
last. Raises InputError, naming the setting, for an unknown name, one given
twice, or a value that is no number.)")
        .def("validate", &validate,
             "Checks every value of the case; raises InputError naming the case file's key. Returns the "
             "warnings (temperatures the plug-in clamps).")
        .def("copy", [](const reactor_case& c) { return c; }, "A copy of the case.")
        .def("__copy__", [](const reactor_case& c) { return c; })
        .def("__deepcopy__", [](const reactor_case& c, py::dict) { return c; }, py::arg("memo"))
        .def("__repr__", &case_repr)
        .def_readwrite("name", &reactor_case::name, "The case's name, for reports.")
        .def_property(
            "model", [](const reactor_case& c) { return std::string(model_name(c.model)); },
            [](reactor_case& c, const std::string& model) {
                if (model != model_name(reactor_model::trays) && model != model_name(reactor_model::pfr)) {
                    throw input_error::at_key("reactor.model", "must be \"trays\" or \"pfr\"");
                }
                c.model = model == "pfr" ? reactor_model::pfr : reactor_model::trays;
            },
            "'trays' (N equal stirred trays in series) or 'pfr' (plug flow).")
        .def_readwrite("trays", &reactor_case::trays, "Number of equal stirred trays.")
        .def_readwrite("volume_m3", &reactor_case::volume_m3, "Total reacting volume, m3.")
        .def_readwrite("pressure_bar", &reactor_case::pressure_bar, "Reactor pressure, bar.")
        .def_readwrite("inlet_temperature_C", &reactor_case::inlet_temperature_C, "Inlet temperature, C.")
        .def_readwrite("outlet_temperature_C", &reactor_case::outlet_temperature_C, "Outlet temperature, C.")
        .def_readwrite("a1", &reactor_case::a1, "Carbamate-formation rate factor.")
        .def_readwrite("a2", &reactor_case::a2, "Dehydration rate factor.")
        .def_property(
            "feed_kmol_h", [](const reactor_case& c) { return by_component(c.feed_kmol_h, 1.0); },
            [](reactor_case& c, const py::dict& feed) {
                flows f{};
                for (const auto& item : feed) {
                    const std::string name = py::str(item.first).cast<std::string>();
                    const std::size_t i = component_index(name);
                    if (i == component_count) {
                        throw input_error::at_key("feed_kmol_h." + name, "no component of the case (NH3, CO2, "
                                                                         "H2O, CARB, UREA, O2, N2)");
                    }
                    f[i] = number_for("feed_kmol_h." + name, item.second);
                }
                c.feed_kmol_h = f;
            },
            "The feed by component, kmol/h: a copy when read; set as a whole (components left out are 0).")
        .def_property_readonly("nh3_co2", &nh3_co2_ratio,
                               "Feed molar ratio NH3/CO2, carbamate counted as 2 NH3 + CO2.")
        .def_property_readonly("h2o_co2", &h2o_co2_ratio, "Feed molar ratio H2O/CO2, carbamate counted as CO2.");
}

}  // namespace urea_python
