// What the Python module's files share: the table that results come as, the
// results kept as the API returns them, and the conversions of Python input
// to the API's types.
#ifndef UREA_WORKBENCH_PYTHON_BINDING_H
#define UREA_WORKBENCH_PYTHON_BINDING_H

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include "api/workbench.h"

namespace urea_python {

namespace py = pybind11;

// Named columns of equal length: numpy arrays of numbers, lists of text.
class table {
public:
    explicit table(std::size_t rows) : rows_(rows) {}
    void add(std::string name, py::object column) { columns_.emplace_back(std::move(name), std::move(column)); }
    std::size_t rows() const { return rows_; }
    const std::vector<std::pair<std::string, py::object>>& columns() const { return columns_; }
    // The column, or nullptr when there is none of that name.
    const py::object* find(const std::string& name) const;

private:
    std::size_t rows_;
    std::vector<std::pair<std::string, py::object>> columns_;
};

// ---- Results as the API returns them -----------------------------------------

struct run_output {
    workbench::reactor_case c;
    workbench::result r;
    // With estimate=: the results with their bands, and the bands' plan.
    std::optional<workbench::prediction> p = std::nullopt;
    std::optional<workbench::band_plan> bands = std::nullopt;
};

struct fit_output {
    workbench::reactor_case c;  // with the a2 found
    double target = 0.0;
    workbench::fit_result f;
};

struct sweep_output {
    workbench::sweep_plan plan;
    workbench::sweep_result r;
};

struct study_output {
    workbench::study_plan plan;
    workbench::study_columns t;
};

struct estimate_output {
    workbench::estimate_outcome e;
    std::vector<std::string> warnings;  // the base case's, the runs file's and the runs' cases'
    std::string runs_sha256;            // of the runs file's bytes; empty for runs from a table
    std::string case_file;              // the base case's file, or empty
    std::string plugin_file;            // the plug-in that made it
};

struct design_output {
    workbench::design_problem p;
    workbench::design_result r;
};

struct check_output {
    workbench::build_info build;
    std::vector<workbench::verdict> verdicts;
};

// A dict of flows by component name, each times `factor`.
py::dict by_component(const workbench::flows& f, double factor);

void bind_table(py::module_& m);
void bind_case(py::module_& m);
void bind_results(py::module_& m);
void bind_study(py::module_& m);
void bind_design(py::module_& m);

// ---- Python input --------------------------------------------------------------

// Whether an argument is a path: a str or an os.PathLike.
bool is_path(py::handle v);

// A path given as str or os.PathLike.
std::string path_text(py::handle path);

// A number as the command line would be given it: the shortest text that
// reads back as the same double (repr), a whole number as written.
std::string number_text(py::handle value);

// The case a call is about: None (the default case), a Case, or a case
// file's path.
workbench::reactor_case case_of(py::handle c);

// Runs from a runs file's path, a pandas DataFrame or a list of dicts (one a
// run, keys the runs file's columns). `name` stands for a table in messages.
workbench::runs_file runs_of(py::handle runs, const std::string& name);

// A table in memory: a pandas DataFrame or a list of dicts (one a row), as
// a header and each row's cells as the text a CSV file would hold. `what`
// names the argument in a TypeError.
void table_of(py::handle t, const char* what, std::vector<std::string>& header,
              std::vector<std::vector<std::string>>& rows);

// A study's case table from its path, a DataFrame or a list of dicts.
workbench::case_table cases_of(py::handle cases, const std::string& name);

// Results by name: None for the default ones, a name, or a list of names.
std::vector<workbench::result_quantity> results_of(py::handle results);

// vary={"a2": (0.01, 10, 13), "nh3_co2": ("lin", 2.8, 3.6, 9)}, or "FROM:TO:N"
// texts, or a list of "NAME=FROM:TO:N": as --vary reads them.
std::vector<workbench::sweep_variable> vary_of(py::handle vary);

// fix={"a1": 1}, or a list of "a1=VALUE": as --fix reads them.
void hold(workbench::estimate_options& o, py::handle fix);

// estimate=: an EstimateResult, an estimate file's path (the JSON
// `estimate --json` writes) or None; band=: "profile", "linearised" or None
// (the profile's where the estimate has it). None without an estimate.
std::optional<workbench::band_plan> bands_of(py::handle estimate, py::handle band);

// A dict of the bands' plan: method, description, estimate, a1, a2, notes.
py::dict band_dict(const workbench::band_plan& p);

}  // namespace urea_python

#endif
