// A sweep's results as a table (whole, or a row at a time as the points
// come), JSON and CSV (a row at a time; the plot: report/study_report.h,
// as a study's).
#ifndef UREA_WORKBENCH_REPORT_SWEEP_REPORT_H
#define UREA_WORKBENCH_REPORT_SWEEP_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/sweep.h"
#include "report/table.h"

namespace workbench {

// The table of a whole sweep.
void print_sweep(std::ostream& out, const reactor_case& base, const sweep_result& r);

// The same a row at a time: the table's head, a row per point (p: the
// point's number from 0) and the closing line; the CSV's header and rows;
// the JSON's "vary", each of its "points" and the members after them
// (solved, failed, rate_calls, notes).
void print_sweep_head(std::ostream& out, const reactor_case& base, const std::vector<sweep_variable>& vars);
void print_sweep_row(std::ostream& out, const std::vector<sweep_variable>& vars, std::size_t p,
                     const sweep_point& pt);
void print_sweep_tail(std::ostream& out, std::size_t points, std::size_t failed, long rate_calls);
void sweep_csv_head(std::ostream& out, const std::vector<sweep_variable>& vars);
void sweep_csv_row(std::ostream& out, const std::vector<sweep_variable>& vars, const sweep_point& pt);
// The table those are written from: a column per variable, the results
// (co2_conversion, equilibrium_co2_conversion, w_NH3, w_CO2, w_UREA, w_H2O;
// missing where the point failed or the conversion is undefined) and the
// failure; a row per point, added by add_sweep_point.
table sweep_table(const std::vector<sweep_variable>& vars);
void add_sweep_point(table& t, const sweep_point& pt);
nlohmann::ordered_json sweep_vary_json(const std::vector<sweep_variable>& vars);
nlohmann::ordered_json sweep_point_json(const std::vector<sweep_variable>& vars, const sweep_point& pt);
nlohmann::ordered_json sweep_tail_json(std::size_t points, std::size_t failed, long rate_calls,
                                       const std::vector<message>& notes, const vocabulary& words);

// A variable in a plot's words, gnuplot enhanced text: in words
// ("outlet temperature", "NH_3/CO_2 fed"), as a short symbol for a key
// ("T_{out}", "NH_3/CO_2") and its unit ("°C", "mol/mol"; empty for none).
struct quantity_label {
    std::string words, symbol, unit;
};
quantity_label label_of(const sweep_variable& v);

// A variable's name on a plot's axis, in words with its unit:
// "outlet temperature (°C)", "dehydration rate factor a2".
std::string sweep_axis_label(const sweep_variable& v);

}  // namespace workbench

#endif
