// A monitor's result as Python reads it: the windows as the command line's
// CSV table (report/monitor_report.h), the drifts and the screening as its
// JSON has them, the report, the page and the plot.
#include <algorithm>
#include <sstream>

#include <pybind11/stl.h>

#include "binding.h"
#include "base/text.h"
#include "io/output_files.h"
#include "report/monitor_report.h"

namespace urea_python {

using namespace workbench;

namespace {

monitor_report report_of(const monitor_output& o) { return {o.problem.get(), o.result.get(), python_words()}; }

nlohmann::ordered_json document(const monitor_output& o) {
    return monitor_json(report_of(o), build_of(o.from.plugin_file));
}

// A member of the JSON document as Python objects (null: None).
py::object member(const monitor_output& o, const char* name) {
    return py::module_::import("json").attr("loads")(document(o)[name].dump());
}

std::string monitor_text(const monitor_output& o) {
    std::ostringstream out;
    print_monitor(out, report_of(o));
    return out.str();
}

std::string summary_html(const monitor_output& o) {
    const monitor_result& m = *o.result;
    std::ostringstream h;
    h << "<p><b>Monitor</b> of " << html_escaped_text(o.problem->h.file) << ": " << o.problem->h.rows() << " rows, "
      << m.windows.size() << " windows of " << duration_text(o.problem->options.window_ms) << "; " << m.fitted
      << " fitted, " << window_counts(m) << "; " << m.reconciled << " failed the atom balance.<br>" << html_escaped_text(said(m.a1_note)) << "<br>";
    const auto fewest = static_cast<std::size_t>(2 * std::max(1, o.problem->options.min_segment));
    if (m.drifts.empty() && m.drift_windows < fewest) h << "a2 not tested for a drift (too few fitted windows).";
    else if (m.drifts.empty()) h << "a2 did not change (no drift found).";
    for (const drift& d : m.drifts) {
        h << "a2 changed from the window of " << html_escaped_text(timestamp_text(d.time, o.problem->h.zoned))
          << ": after/before " << sig(d.ratio, 3) << " (95 % " << sig(d.lower, 3) << " .. " << sig(d.upper, 3)
          << ").<br>";
    }
    h << "</p>";
    return h.str() + table_html(monitor_table(report_of(o)));
}

}  // namespace

// What a monitor's summary says of the history's columns not used, as a
// Python warning too (a misspelt column leaves the case's value in every window).
void warn_of_monitor(const monitor_output& o) {
    for (const std::string& n : said_all(o.result->notes, python_words())) {
        if (n.find(": columns not used: ") == std::string::npos) continue;
        py::module_::import("warnings").attr("warn")(n, py::module_::import("builtins").attr("UserWarning"), 2);
    }
}

void bind_monitor(py::module_& m) {
    py::class_<monitor_output> type(m, "MonitorResult", R"(A plant history followed window by window.

`windows` is a Table, one row a window, the columns of the command line's
--csv (start and end as times; .windows.to_pandas() has start as its
DatetimeIndex, UTC where the history gave offsets); `drifts` where a2
changed; `screening` what each column's screening left out; print(m.report)
the command line's report; m.plot() its pictures.)");
    type.def_property_readonly("windows", [](const monitor_output& o) { return monitor_table(report_of(o)); },
                               "A Table, one row a window: start, end, rows, lab_samples, steady, fitted, flags, "
                               "reason, the balance test (balance_p_value, balance_chi_square, balance_suspect, "
                               "balance_suspect_error), a2 with its 95 % profile interval (a2_profile95_lower, "
                               "a2_profile95_upper; NaN: open), the CO2 conversion measured, predicted and at "
                               "equilibrium, and the approach to equilibrium.")
        .def("to_pandas", [](const monitor_output& o) { return data_frame(monitor_table(report_of(o))); },
             "The windows as a pandas DataFrame, indexed by their start (a DatetimeIndex).")
        .def_property_readonly("drifts", [](const monitor_output& o) { return member(o, "drifts"); },
                               "Where a2 changed, in time order: a list of {'factor', 'time' (the start of the "
                               "first window after the change), 'ratio' (after/before), 'ratio95' [lower, upper], "
                               "'p_value'}; empty when a2 held.")
        .def_property_readonly("trends", [](const monitor_output& o) { return member(o, "trends"); },
                               "Where a2 moved steadily, one ramp rather than a staircase of drifts: a list of "
                               "{'factor', 'start', 'end', 'windows', 'from', 'to' (a2 on the ramp), 'rate_per_day' "
                               "(a2's relative change a day), 'rate95' [lower, upper]}.")
        .def_property_readonly("meters", [](const monitor_output& o) { return member(o, "meters"); },
                               "The meters (and lab quantities) that read wrong over a span of windows, the evidence "
                               "of the windows' balances accumulated: a list of {'column', 'start', 'end', 'found' "
                               "(the end of the window at which it was named), 'windows', 'bias' (relative: +0.05 "
                               "reads 5 % high), 'bias95' [lower, upper]}.")
        .def_property_readonly("screening", [](const monitor_output& o) { return member(o, "screening"); },
                               "By column: {'values', 'missing', 'stagnant' (frozen spans: [{'start', 'end', "
                               "'rows'}]), 'out_of_range', 'out_of_range_span', 'spikes', 'spike_span', "
                               "'noise'}; None where there is no span.")
        .def_property_readonly("a1", [](const monitor_output& o) { return member(o, "a1"); },
                               "How a1 was set for the windows: {'value', 'how' (held, estimated or kept), 'note'}.")
        .def_property_readonly("summary", [](const monitor_output& o) { return member(o, "summary"); },
                               "Counts of windows: windows, and by how each ended (fitted, not_steady, without_lab, "
                               "unsolved, without_rows, without_values, invalid_case: they add up to windows); "
                               "reconciled; drift_windows (those the drift test took: they do not overlap); "
                               "dispersion (of ln a2 about its segments, relative to the stated errors); "
                               "reactor_solves.")
        .def_property_readonly("history", [](const monitor_output& o) { return member(o, "history"); },
                               "The history as read: file, sha256, rows, first, last, spacing, times, sorted.")
        .def_property_readonly("notes", [](const monitor_output& o) { return said_all(o.result->notes, python_words()); },
                               "What the user should know (e.g. no window fitted, and why).")
        .def_property_readonly("warnings", [](const monitor_output& o) { return o.warnings; },
                               "What the checks of the history and the case warned of.")
        .def_property_readonly("metadata", [](const monitor_output& o) { return metadata_of(o.from); },
                               "Where the result came from: {'build': {...}, 'inputs': [{'what', 'path', "
                               "'sha256'}, ...]}.")
        .def_property_readonly("report", [](const monitor_output& o) { return report_text(monitor_text(o)); },
                               "The command line's report, as text (print(m.report)).")
        .def("to_json", [](const monitor_output& o) { return document(o).dump(2) + "\n"; },
             "What `urea-reactor monitor --json` prints.")
        .def(
            "write_report",
            [](const monitor_output& o, py::object path) {
                const output_target t = check_output_path("path", path_text(path), output_kind::text);
                if (t.to_stdout) throw input_error(field("path"), "give a file");
                const build_info b = build_of(o.from.plugin_file);
                monitor_html_context c;
                c.workbench = b.workbench;
                c.plugin = b.plugin;
                c.plugin_file = b.plugin_file;
                c.options = "(from Python)";
                staged_outputs files;
                add_monitor_html(files, t, report_of(o), c);
                files.commit();
                if (!files.failures().empty()) throw plot_error(files.failures().front());
            },
            py::arg("path"),
            "Writes the monitor as one self-contained HTML page, as --report does (its plot by gnuplot). Raises "
            "PlotError, with the page written all the same, when the plot could not be drawn.")
        .def_property_readonly("_figure",
                               [](const monitor_output& o) {
                                   return py::module_::import("json").attr("loads")(
                                       figure_json(monitor_figure(report_of(o))).dump());
                               })
        .def("__len__", [](const monitor_output& o) { return o.result->windows.size(); })
        .def("__str__", &monitor_text)
        .def("_repr_html_", &summary_html)
        .def("__repr__", [](const monitor_output& o) {
            const monitor_result& r = *o.result;
            return "<MonitorResult: " + std::to_string(r.windows.size()) + " windows, " + std::to_string(r.fitted) +
                   " fitted, " + std::to_string(r.drifts.size()) + " drift" + (r.drifts.size() == 1 ? "" : "s") + ">";
        });
    set_plot(type, "plot_monitor");
}

}  // namespace urea_python
