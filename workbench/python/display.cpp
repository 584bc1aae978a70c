// urea_reactor.display (urea_reactor/display.py, a file of the package),
// imported when the extension is (the reports as text, the plots with
// matplotlib) and given the command line's palette; and what the plots need to
// know that the tables do not say (the labels in words, the spacing).
#include <algorithm>

#include <pybind11/stl.h>

#include "binding.h"
#include "report/figure.h"
#include "report/palette.h"
#include "report/study_report.h"
#include "report/sweep_report.h"

namespace urea_python {

using namespace workbench;

namespace {

PyObject* display_module = nullptr;

// A gnuplot point type as matplotlib's marker.
const char* marker_of(int gnuplot) {
    switch (gnuplot) {
        case 4: case 5: return "s";
        case 8: case 9: return "^";
        case 10: case 11: return "v";
        case 12: case 13: return "D";
        case 14: case 15: return "p";
        case 2: return "x";
        case 3: return "*";
        default: return "o";
    }
}

py::dict palette() {
    py::dict p, species, markers, quantity_colours, quantity_markers;
    for (std::size_t i = 0; i < component_count; ++i) {
        species[component_names[i]] = species_styles[i].colour;
        markers[component_names[i]] = marker_of(species_styles[i].marker);
    }
    for (std::size_t q = 0; q < quantity_count; ++q) {
        const curve_style st = measured_style(static_cast<quantity>(q));
        quantity_colours[quantities[q].column] = st.colour;
        quantity_markers[quantities[q].column] = marker_of(st.marker);
    }
    py::list members;
    for (const char* c : member_colours) members.append(c);
    p["species"] = species;
    p["markers"] = markers;
    p["quantities"] = quantity_colours;
    p["quantity_markers"] = quantity_markers;
    p["members"] = members;
    p["conversion"] = conversion_style.colour;
    p["equilibrium"] = equilibrium_style.colour;
    p["temperature"] = temperature_style.colour;
    p["failed"] = failed_style.colour;
    p["other"] = other_style.colour;
    p["estimate"] = estimate_colour;
    p["judged_by"] = judged_by_colour;
    p["guide"] = guide_colour;
    p["best_fit"] = best_fit_colour;
    py::dict results;
    for (const result_quantity& q : result_quantities()) results[py::str(q.name)] = result_style(q).colour;
    p["results"] = results;
    return p;
}

}  // namespace

py::object display() { return py::reinterpret_borrow<py::object>(display_module); }

py::object report_text(const std::string& text, py::object again) {
    return display().attr("Report")(text, again.is_none() ? py::object(py::none()) : again);
}

void make_display(py::module_& m) {
    // The extension is urea_reactor._core: display.py is its sibling.
    py::module_ d = py::module_::import("urea_reactor.display");
    d.attr("PALETTE") = palette();
    m.attr("_display") = d;
    display_module = d.ptr();  // kept by the module's attribute
}

void set_plot(py::handle type, const char* function) { type.attr("plot") = display().attr(function); }

py::dict variable_dict(const study_variable& v) {
    py::dict d;
    const quantity_label l = label_of(v);
    d["name"] = v.name;
    d["label"] = sweep_axis_label(v);
    d["words"] = l.words;
    d["symbol"] = l.symbol;
    d["log"] = v.log_spacing;
    d["values"] = v.values;
    // A log axis's labels, the command line's: 1, 2 and 5 in each decade.
    py::list ticks;
    if (v.log_spacing && !v.values.empty()) {
        const auto [lo, hi] = std::minmax_element(v.values.begin(), v.values.end());
        for (const tick& t : log_ticks(*lo, *hi)) ticks.append(py::make_tuple(t.at, t.text));
    }
    d["ticks"] = ticks;
    return d;
}

py::dict grid_plot_data(const study_plan& plan) {
    py::dict d;
    py::list vars, results;
    for (const study_variable& v : plan.vars) vars.append(variable_dict(v));
    for (const result_quantity& q : plan.results) {
        py::dict r;
        r["name"] = q.name;
        r["title"] = q.title;
        r["axis"] = q.kind != nullptr ? q.kind->axis : q.unit;
        r["scale"] = q.kind != nullptr ? q.kind->axis_scale : 1.0;
        results.append(r);
    }
    d["subject"] = study_subject(plan);
    d["vars"] = vars;
    d["results"] = results;
    d["cases"] = plan.table.has_value();
    d["band"] = plan.bands ? py::object(py::str(band_method_name(plan.bands->method))) : py::object(py::none());
    return d;
}

}  // namespace urea_python
