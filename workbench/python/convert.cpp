// Python input as a request's parts: cases, tables, numbers, durations,
// vary= and fix= given as Python values. Numbers stay numbers (a DataFrame's
// columns of numbers, fix={"a1": 1.5}, vary={"a2": (0.01, 10, 13)}, a
// timedelta's seconds), each with the text it would have on the command
// line, only to quote in a message. Every check is the library's
// (request/*.h).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <cmath>
#include <optional>
#include <sstream>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "binding.h"
#include "base/text.h"
#include "base/timestamps.h"
#include "io/case_file.h"
#include "model/schema.h"
#include "model/settings.h"

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

bool is_whole_number(py::handle v) {
    return !py::isinstance<py::bool_>(v) && PyIndex_Check(v.ptr()) != 0;
}

bool is_missing(py::handle v) {
    if (v.is_none() || std::string(Py_TYPE(v.ptr())->tp_name) == "NAType") return true;
    return py::isinstance<py::float_>(v) && std::isnan(v.cast<double>());
}

// A table's cell as a runs file would hold it: None, NaN and pandas' NA are
// empty (not given); numbers as number_text; anything else as str().
std::string cell_text(py::handle v) {
    if (is_missing(v)) return "";
    if (py::isinstance<py::str>(v)) return v.cast<std::string>();
    if (py::isinstance<py::float_>(v) ||
        (!py::isinstance<py::bool_>(v) && !is_whole_number(v) && py::hasattr(v, "__float__") &&
         !py::isinstance<py::bytes>(v))) {
        const double d = py::float_(py::reinterpret_borrow<py::object>(v)).cast<double>();
        return std::isnan(d) ? "" : double_text(d);
    }
    return number_text(v);
}

// A DataFrame's column: a column of numbers (not of bools) as its numbers,
// NaN where empty; a column of times as their ISO 8601 text (in UTC with Z
// where they carry a time zone); any other, each cell's text.
table_column frame_column(py::handle series) {
    const py::module_ types = py::module_::import("pandas.api.types");
    const py::object dtype = series.attr("dtype");
    table_column c;
    const auto is = [&](const char* test) { return types.attr(test)(dtype).cast<bool>(); };
    // Whole numbers beyond 2^53 (a sample's number, say) kept as their text,
    // which a double would round.
    const py::int_ most(std::int64_t{1} << 53);
    const bool exact = !is("is_integer_dtype") ||
                       !py::bool_(series.attr("gt")(most).attr("__or__")(series.attr("lt")(-most)).attr("any")()).cast<bool>();
    if (is("is_numeric_dtype") && !is("is_bool_dtype") && !is("is_complex_dtype") && exact) {
        const auto numbers = series.attr("to_numpy")(py::arg("dtype") = "float64", py::arg("na_value") = NAN)
                                 .cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
        c.numeric = true;
        c.numbers.assign(numbers.data(), numbers.data() + numbers.size());
        return c;
    }
    if (is("is_datetime64_any_dtype")) {
        const bool zoned = !series.attr("dt").attr("tz").is_none();
        // .values: the times in UTC (zoned or not), NaT the least int64.
        const auto ms = series.attr("values").attr("astype")("datetime64[ms]").attr("view")("int64")
                            .cast<py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>>();
        c.text.reserve(static_cast<std::size_t>(ms.size()));
        for (py::ssize_t i = 0; i < ms.size(); ++i) {
            const std::int64_t t = ms.data()[i];
            c.text.push_back(t == std::numeric_limits<std::int64_t>::min() ? std::string() : timestamp_text(t, zoned));
        }
        return c;
    }
    for (py::handle cell : series.attr("tolist")()) c.text.push_back(cell_text(cell));
    return c;
}

}  // namespace

bool is_path(py::handle v) { return py::isinstance<py::str>(v) || py::hasattr(v, "__fspath__"); }

std::string number_text(py::handle value) {
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (is_whole_number(value)) return py::str(py::int_(py::reinterpret_borrow<py::object>(value))).cast<std::string>();
    if (py::isinstance<py::float_>(value) || (!py::isinstance<py::bool_>(value) && py::hasattr(value, "__float__"))) {
        return double_text(py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>());
    }
    return py::str(value).cast<std::string>();
}

std::optional<std::string> text_of(py::handle v) {
    if (v.is_none()) return std::nullopt;
    return number_text(v);
}

std::optional<double> number_value(py::handle v) {
    if (py::isinstance<py::bool_>(v) || py::isinstance<py::str>(v) || py::isinstance<py::bytes>(v)) return std::nullopt;
    if (is_whole_number(v)) {
        // Whole numbers a double holds exactly; beyond 2^53, the digits alone.
        int overflow = 0;
        const long long i = PyLong_AsLongLongAndOverflow(py::int_(py::reinterpret_borrow<py::object>(v)).ptr(), &overflow);
        if (overflow != 0 || (i == -1 && PyErr_Occurred() != nullptr)) {
            PyErr_Clear();
            return std::nullopt;
        }
        constexpr long long exact = 1LL << 53;
        if (i > exact || i < -exact) return std::nullopt;
        return static_cast<double>(i);
    }
    if (py::isinstance<py::float_>(v) || py::hasattr(v, "__float__")) {
        return py::float_(py::reinterpret_borrow<py::object>(v)).cast<double>();
    }
    return std::nullopt;
}

given_number given_of(py::handle v) {
    const std::optional<double> n = number_value(v);
    return n ? given_number(number_text(v), *n) : given_number(number_text(v));
}

std::optional<given_number> number_of(py::handle v) {
    if (v.is_none()) return std::nullopt;
    return given_of(v);
}

std::optional<given_number> duration_of(py::handle v) {
    if (v.is_none()) return std::nullopt;
    if (py::hasattr(v, "total_seconds") && !py::isinstance<py::str>(v)) {
        const double s = v.attr("total_seconds")().cast<double>();
        return given_number(double_text(s) + "s", s);
    }
    // A text as the command line's; a number is no duration (and is refused).
    return given_number(number_text(v));
}

case_request case_request_of(py::handle c) {
    case_request r;
    if (c.is_none()) return r;
    if (is_path(c)) {
        r.file = path_text(c);
    } else if (py::isinstance<reactor_case>(c)) {
        r.given = c.cast<reactor_case>();
    } else {
        throw py::type_error("case: a Case, a case file's path, or None");
    }
    return r;
}

table_given table_of(py::handle t, const char* what, const std::string& name) {
    table_given out;
    out.name = name;
    if (py::hasattr(t, "columns") && py::hasattr(t, "itertuples")) {
        // A pandas DataFrame: its columns in order, and a named index (the
        // run's name, say) as the first column.
        py::object frame = py::reinterpret_borrow<py::object>(t);
        const py::object names = frame.attr("index").attr("names");
        bool named_index = false;
        for (py::handle n : names) named_index = named_index || !n.is_none();
        if (named_index) frame = frame.attr("reset_index")();
        for (py::handle h : frame.attr("columns")) out.header.push_back(py::str(h).cast<std::string>());
        const py::object iloc = frame.attr("iloc");
        for (std::size_t k = 0; k < out.header.size(); ++k) {
            out.columns.push_back(frame_column(iloc[py::make_tuple(py::slice(py::none(), py::none(), py::none()), k)]));
        }
        return out;
    }
    // Records: the columns are their keys, in the order first met.
    if (!py::isinstance<py::iterable>(t) || is_path(t)) throw py::type_error(what);
    std::vector<py::dict> records;
    for (py::handle r : t) {
        if (!py::isinstance<py::dict>(r)) throw py::type_error(what);
        records.push_back(py::reinterpret_borrow<py::dict>(r));
    }
    for (const py::dict& r : records) {
        for (const auto& item : r) {
            const std::string key = py::str(item.first).cast<std::string>();
            if (std::find(out.header.begin(), out.header.end(), key) == out.header.end()) out.header.push_back(key);
        }
    }
    out.columns.assign(out.header.size(), table_column{std::vector<std::string>(records.size()), {}, false});
    for (std::size_t i = 0; i < records.size(); ++i) {
        for (const auto& item : records[i]) {
            const std::string key = py::str(item.first).cast<std::string>();
            const auto k = static_cast<std::size_t>(std::find(out.header.begin(), out.header.end(), key) - out.header.begin());
            out.columns[k].text[i] = cell_text(item.second);
        }
    }
    return out;
}

runs_given runs_of(py::handle runs, const std::string& name) {
    runs_given r;
    if (is_path(runs)) {
        r.file = path_text(runs);
    } else {
        r.table = table_of(runs, "runs: a runs file's path, a pandas DataFrame or a list of dicts (one a run)", name);
    }
    return r;
}

runs_given history_of(py::handle history, const std::string& name) {
    if (is_path(history)) return runs_of(history, name);
    py::object frame = py::reinterpret_borrow<py::object>(history);
    // The times of a DataFrame: its DatetimeIndex, named `time` when it has no name.
    if (py::hasattr(frame, "index") && py::hasattr(frame, "reset_index")) {
        const py::object index = frame.attr("index");
        const std::string type = py::str(py::type::of(index).attr("__name__")).cast<std::string>();
        if (type == "DatetimeIndex" && index.attr("name").is_none()) frame = frame.attr("rename_axis")("time");
    }
    runs_given r;
    r.table = table_of(frame, "history: a history file's path or a pandas DataFrame (times as its DatetimeIndex or "
                              "a time column)", name);
    return r;
}

std::vector<given_value> names_of(py::handle names) {
    std::vector<given_value> out;
    if (names.is_none()) return out;
    if (py::isinstance<py::str>(names)) return {{names.cast<std::string>()}};
    for (py::handle n : names) out.push_back({py::str(n).cast<std::string>()});
    return out;
}

std::vector<given_value> vary_of(py::handle vary) {
    std::vector<given_value> out;
    if (vary.is_none()) return out;
    if (py::isinstance<py::dict>(vary)) {
        for (const auto& item : py::reinterpret_borrow<py::dict>(vary)) {
            const std::string key = py::str(item.first).cast<std::string>();
            std::string text = key + "=";
            std::vector<std::optional<double>> numbers;
            if (py::isinstance<py::str>(item.second)) {
                text += item.second.cast<std::string>();
            } else {
                // A tuple is a range (FROM, TO, N); a list (or an array) the
                // values themselves: the numbers kept, the text to quote.
                const char* sep = py::isinstance<py::tuple>(item.second) ? ":" : ",";
                std::string between;
                for (py::handle part : item.second) {
                    text += between + number_text(part);
                    numbers.push_back(number_value(part));
                    between = sep;
                }
            }
            out.push_back({text, key, std::move(numbers)});
        }
    } else if (py::isinstance<py::str>(vary)) {
        out.push_back({vary.cast<std::string>()});
    } else {
        for (py::handle v : vary) out.push_back({py::str(v).cast<std::string>()});
    }
    return out;
}

std::vector<given_value> fix_of(py::handle fix) {
    std::vector<given_value> out;
    if (fix.is_none()) return out;
    if (py::isinstance<py::dict>(fix)) {
        for (const auto& item : py::reinterpret_borrow<py::dict>(fix)) {
            const std::string key = py::str(item.first).cast<std::string>();
            out.push_back({key + "=" + number_text(item.second), key, {number_value(item.second)}});
        }
    } else if (py::isinstance<py::str>(fix)) {
        out.push_back({fix.cast<std::string>()});
    } else {
        for (py::handle f : fix) out.push_back({py::str(f).cast<std::string>()});
    }
    return out;
}

estimate_given estimate_of(py::handle estimate, py::handle carry_factors) {
    estimate_given e;
    e.carry_factors = !carry_factors.is_none() && py::cast<bool>(carry_factors);
    if (estimate.is_none()) return e;
    if (py::isinstance<estimate_output>(estimate)) {
        e.given = uncertainty_of(estimate.cast<const estimate_output&>().e);
    } else if (is_path(estimate)) {
        e.file = path_text(estimate);
    } else {
        throw py::type_error("estimate: an EstimateResult, an estimate file's path, or None");
    }
    return e;
}

py::dict band_dict(const band_plan& p) {
    py::dict d;
    d["method"] = band_method_name(p.method);
    d["description"] = p.description;
    d["estimate"] = p.u.source;
    d["a1"] = p.u.value[0];
    d["a2"] = p.u.value[1];
    py::list notes;
    for (const message& n : p.notes) notes.append(said(n));
    d["notes"] = notes;
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

// A number set on a Case: what float() takes, else InputError naming it.
double number_for(const char* name, py::handle v) {
    return number_given(field(name), given_of(v), number_rule::any);
}

// A number's docstring, from its declaration: "Total reacting volume, m3."
std::string docstring_of(const schema_field& f) {
    std::string d = f.meaning;
    if (!d.empty() && d[0] >= 'a' && d[0] <= 'z') d[0] = static_cast<char>(d[0] - 'a' + 'A');
    if (*f.unit != '\0') d += std::string(", ") + f.unit;
    return d + ".";
}

}  // namespace

void bind_case(py::module_& m) {
    py::class_<reactor_case> cls(m, "Case", R"(A reactor case: the reactor, its feed and the rate factors a1 and a2.

Made by Case.default() (the built-in default case), Case.from_file(path)
(a case file, JSON) or Case.from_json(text), and changed by
case.with_settings(...) or by setting its fields. Every value is checked
when a call uses the case (or by case.validate()); a bad one raises
InputError naming the case file's key.

Fields: name, model ('trays' or 'pfr'), trays, volume_m3, pressure_bar,
inlet_temperature_C, outlet_temperature_C, a1, a2, feed_kmol_h (a dict by
component: NH3, CO2, H2O, CARB, UREA, O2, N2; read as a copy, set as a whole);
nh3_co2 and h2o_co2 (the feed's molar ratios) are read only: change them
with with_settings(nh3_co2=...).)");
    cls.def(py::init([] { return default_case(); }), "The default case (as Case.default()).")
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
                std::vector<std::pair<std::string, given_number>> values;
                const auto add = [&](const py::handle& key, const py::handle& value) {
                    values.emplace_back(py::str(key).cast<std::string>(), given_of(value));
                };
                if (!settings.is_none()) {
                    for (const auto& item : py::dict(settings)) add(item.first, item.second);
                }
                for (const auto& item : more) add(item.first, item.second);
                return with_named_given(c, values);
            },
            py::arg("settings") = py::none(),
            R"(A copy of the case with quantities set by name, as a runs file's row sets them.

Names: a1, a2, model ('trays' or 'pfr'), trays, volume, pressure, t_in,
t_out, co2, nh3_co2, h2o_co2, or a runs file's column name (volume_m3,
outlet_temperature_C, feed_kmol_h.NH3, ...), as keywords or in a dict:
case.with_settings(nh3_co2=3.2, a2=0.2), case.with_settings({"feed_kmol_h.H2O":
900}). A changed CO2 feed keeps the NH3/CO2 and H2O/CO2 ratios unless they
are given too; ratios are applied last. Raises InputError naming the
quantity for an unknown name, one given twice, or a value that is no number.)")
        .def("validate", [](const reactor_case& c) {
                 py::list l;
                 for (const std::string& w : validate(c)) l.append(w);
                 return l;
             },
             "Checks every value of the case; raises InputError naming the case file's key. Returns the "
             "warnings (temperatures the plug-in clamps).")
        .def("copy", [](const reactor_case& c) { return c; }, "A copy of the case.")
        .def("__copy__", [](const reactor_case& c) { return c; })
        .def("__deepcopy__", [](const reactor_case& c, py::dict) { return c; }, py::arg("memo"))
        .def("__repr__", &case_repr)
        .def_readwrite("name", &reactor_case::name, "The case's name, for reports.")
        .def_property(
            "model", [](const reactor_case& c) { return std::string(model_name(c.model)); },
            [](reactor_case& c, py::object model) { c.model = model_given(field("model"), number_text(model)); },
            "'trays' (N equal stirred trays in series) or 'pfr' (plug flow).")
        .def_property(
            "feed_kmol_h", [](const reactor_case& c) { return by_component(c.feed_kmol_h, 1.0); },
            [](reactor_case& c, const py::dict& feed) {
                flows f{};
                for (const auto& item : feed) {
                    const std::string name = py::str(item.first).cast<std::string>();
                    f[component_given(name)] = number_for(("feed_kmol_h." + name).c_str(), item.second);
                }
                c.feed_kmol_h = f;
            },
            "The feed by component, kmol/h: a copy when read; set as a whole (components left out are 0).")
        .def_property_readonly("nh3_co2", &nh3_co2_ratio,
                               "Feed molar ratio NH3/CO2, carbamate counted as 2 NH3 + CO2.")
        .def_property_readonly("h2o_co2", &h2o_co2_ratio, "Feed molar ratio H2O/CO2, carbamate counted as CO2.")
        .def(py::pickle([](const reactor_case& c) { return case_file_text(c, {}); },
                        [](const std::string& text) { return parse_case(text, "<pickle>"); }));
    // The case's numbers, as a case file holds them: a count (the trays)
    // read as an int and set only as a whole number.
    for (const case_number& n : case_numbers()) {
        const char* name = n.field->name;
        const std::string doc = docstring_of(*n.field);
        if (n.field->kind == field_kind::count) {
            cls.def_property(
                name, [get = n.get](const reactor_case& c) { return static_cast<int>(get(c)); },
                [n](reactor_case& c, py::object v) { n.set(c, trays_given(field(n.field->name), given_of(v))); },
                doc.c_str());
        } else {
            cls.def_property(
                name, [get = n.get](const reactor_case& c) { return get(c); },
                [n](reactor_case& c, py::object v) { n.set(c, number_for(n.field->name, v)); }, doc.c_str());
        }
    }
}

}  // namespace urea_python
