// What the Python module's files share: the results kept as the API returns
// them, Python's words for the library's messages, and the translation of
// Python arguments into a request (request/*.h: the library checks them).
#ifndef UREA_WORKBENCH_PYTHON_BINDING_H
#define UREA_WORKBENCH_PYTHON_BINDING_H

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <pybind11/pybind11.h>

#include "api/workbench.h"
#include "report/table.h"

namespace urea_python {

namespace py = pybind11;

// ---- Results as the API returns them -----------------------------------------

// Where a result came from: the plug-in, and the input files as they were
// read (path and SHA-256).
struct origin {
    std::string plugin_file;
    std::vector<workbench::input_file> inputs;
};

struct run_output {
    workbench::reactor_case c;
    workbench::result r;
    // With estimate=: the results with their bands, and the bands' plan.
    std::optional<workbench::prediction> p = std::nullopt;
    std::optional<workbench::band_plan> bands = std::nullopt;
    origin from{};
};

struct fit_output {
    workbench::reactor_case c;  // with the a2 found
    double target = 0.0;
    workbench::fit_result f;
    origin from{};
};

struct sweep_output {
    workbench::sweep_plan plan;
    workbench::sweep_result r;
    origin from{};
};

struct study_output {
    workbench::study_plan plan;
    workbench::table points;
    workbench::study_summary summary;
    origin from{};
};

struct estimate_output {
    workbench::estimate_outcome e;
    std::vector<std::string> warnings;  // the base case's, the runs file's and the runs' cases'
    workbench::estimate_job job;        // what was asked, as checked: the inputs as read
    origin from{};
};

struct design_output {
    workbench::design_problem p;
    workbench::design_result r;
    origin from{};
};

// A monitor keeps its problem (the history, screened) and its result, from
// which its table, JSON, text and page are laid out.
struct monitor_output {
    std::shared_ptr<workbench::monitor_problem> problem;
    std::shared_ptr<workbench::monitor_result> result;
    std::vector<std::string> warnings;  // the history's and the case's
    origin from{};
};

struct check_output {
    workbench::build_info build;
    std::vector<workbench::verdict> verdicts;
};

// ---- Sessions and workers ------------------------------------------------------

// A session as Python holds it.
struct py_session {
    std::unique_ptr<workbench::session> s;
};
using session_ptr = std::shared_ptr<py_session>;

// A session of the plug-in at path (the default one for ""), with the stop
// check that turns Ctrl-C into KeyboardInterrupt; the module's own session.
session_ptr open_session(const std::string& path);
session_ptr& default_session();

// The workers a call asks for (python/workers.cpp): jobs (None: 1, in this
// process), an executor (the chunks of work that can go are sent to it;
// None: none), progress (a callable progress(done, total), True: a tqdm bar
// where tqdm is installed, else a line on stderr; None or False: none).
workbench::worker_options python_workers(workbench::session& s, py::handle jobs, py::handle executor,
                                         py::handle progress);

// urea_reactor._run_chunks: chunks first .. last - 1 of a piece of work
// sent from another process (its kind and state), on the plug-in at
// `plugin` (None: the module's), after checking that the builds here are
// the sender's; each chunk's results as a list of bytes.
py::list run_chunks_here(py::handle plugin, const std::string& builds, const std::string& kind, py::bytes state,
                         std::size_t first, std::size_t last);

// ---- Python's words -------------------------------------------------------------

// A field of a request as a Python argument: 'vary["a2"]', 'fix={"a1": 1}'.
const workbench::vocabulary& python_words();
std::string said(const workbench::message& m);
std::string said(const std::string& text) = delete;

// Raises a library error as Python's exception, its message in Python's
// words (the module's exception translator).
void translate(std::exception_ptr p);

// The module's exceptions (set when the module is made).
extern PyObject* input_error_type;
extern PyObject* solver_error_type;
extern PyObject* plugin_error_type;
extern PyObject* plot_error_type;
extern PyObject* resource_error_type;
extern PyObject* worker_error_type;

// A dict of flows by component name, each times `factor`.
py::dict by_component(const workbench::flows& f, double factor);

// metadata: {"build": {...}, "inputs": [{"what", "path", "sha256"}, ...]}.
py::dict metadata_of(const origin& from);

// urea_reactor.display (display.py): imported first, when the module is made.
void make_display(py::module_& m);
py::object display();
// The command line's report as text that prints as itself and is called as
// the method it used to be (display.Report); `again` makes it with arguments.
py::object report_text(const std::string& text, py::object again = py::none());
// type.plot = display.FUNCTION, a method whose help is the function's.
void set_plot(py::handle type, const char* function);
// What a grid's plot needs beyond its table: each variable's label in words
// (name, label, words, symbol, log, values), each result's curve title,
// axis and scale, the subject, whether a case table, the bands' way.
py::dict variable_dict(const workbench::study_variable& v);
py::dict grid_plot_data(const workbench::study_plan& plan);

void bind_table(py::module_& m);
void bind_case(py::module_& m);
void bind_results(py::module_& m);
void bind_study(py::module_& m);
void bind_design(py::module_& m);
void bind_monitor(py::module_& m);

// ---- Python input --------------------------------------------------------------

// Whether an argument is a path: a str or an os.PathLike.
bool is_path(py::handle v);

// A path given as str or os.PathLike.
std::string path_text(py::handle path);

// A value as the command line would be given it: a str as it is; a number as
// the shortest text that reads back as the same double (repr), a whole
// number as written.
std::string number_text(py::handle value);

// The case a call is about: None (the default case), a Case, or a case
// file's path.
workbench::case_request case_request_of(py::handle c);

// A table in memory (a pandas DataFrame, its index kept as a column when it
// is named, or a list of dicts, one a row), each cell as the text a CSV file
// would hold. `what` names the argument in a TypeError.
workbench::table_given table_of(py::handle t, const char* what, const std::string& name);

// Runs from a runs file's path, a pandas DataFrame or a list of dicts.
workbench::runs_given runs_of(py::handle runs, const std::string& name);

// Names: None (none given), a name, or a list of names.
std::vector<workbench::given_value> names_of(py::handle names);

// vary={"a2": (0.01, 10, 13)}, or "NAME=FROM:TO:N" texts: each as the
// command line's --vary reads it, with its key.
std::vector<workbench::given_value> vary_of(py::handle vary);

// fix={"a1": 1}, or a list of "a1=VALUE"; meter_sigma={"feed_kmol_h.CO2": 2}
// the same way ("NAME=VALUE" each).
std::vector<workbench::given_value> fix_of(py::handle fix);

// estimate=: an EstimateResult, an estimate file's path, or None.
workbench::estimate_given estimate_of(py::handle estimate, py::handle carry_factors);

// None, or the value's text.
std::optional<std::string> text_of(py::handle v);

// A number as given (None: none): its text, and the number itself where it
// is one a double holds exactly (a float; an int within 2^53; what float()
// takes, but a bool or a str).
std::optional<double> number_value(py::handle v);
std::optional<workbench::given_number> number_of(py::handle v);
workbench::given_number given_of(py::handle v);  // None as its text, "None"

// A duration: None, a text ("24h"), or a datetime.timedelta or
// pandas.Timedelta (its seconds; "3600s" to quote).
std::optional<workbench::given_number> duration_of(py::handle v);

// A history: a file's path, or a DataFrame whose DatetimeIndex (or `time`
// column) gives the times.
workbench::runs_given history_of(py::handle history, const std::string& name);

// A table's column as Python holds it, and the table as a pandas DataFrame
// (see Table's help).
py::object column_object(const workbench::column& c);
py::object data_frame(const workbench::table& t);

// A table as a notebook shows it (HTML), at most `most` rows.
std::string table_html(const workbench::table& t, std::size_t most = 20);
std::string html_escaped_text(const std::string& s);

// A dict of the bands' plan: method, description, estimate, a1, a2, notes.
py::dict band_dict(const workbench::band_plan& p);

}  // namespace urea_python

#endif
