// Results as a table, as JSON, as CSV and as gnuplot commands.
#ifndef UREA_WORKBENCH_REPORT_RUN_REPORT_H
#define UREA_WORKBENCH_REPORT_RUN_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/bands.h"
#include "report/figure.h"
#include "report/table.h"
#include "model/case.h"
#include "solver/reactor.h"

namespace workbench {

void print_report(std::ostream& out, const reactor_case& c, const result& r);
// The whole case as a case file holds it (io/case_file.h), as in
// result_json's "case" and every output's "base_case": read back as a case file.
nlohmann::ordered_json case_json(const reactor_case& c);
nlohmann::ordered_json result_json(const reactor_case& c, const result& r,
                           const std::vector<std::string>& warnings);
// The profile: a row a tray (or station): tray, volume_m3, temperature_C,
// x_<C>, flow_<C>_kmol_h, co2_conversion; band: each tray's (station's) CO2
// conversion band, the columns co2_conversion_low and co2_conversion_high
// added. The CSV: the table's.
table profile_table(const reactor_case& c, const result& r, const std::vector<result_band>* band = nullptr);
std::string profile_csv(const reactor_case& c, const result& r, const std::vector<result_band>* band = nullptr);

// The gnuplot commands that draw the conversion and composition profiles
// (without terminal and output: see staged_outputs::add_plot). Numbers only.
// band: the conversion's 95 % band, drawn shaded, its way (band_method_name)
// in the key.
// The same as a figure, which the script and Python's plot() draw.
figure run_figure(const reactor_case& c, const result& r, const std::vector<result_band>* band = nullptr,
                  band_method method = band_method::profile);
std::string plot_script(const reactor_case& c, const result& r, const std::vector<result_band>* band = nullptr,
                        band_method method = band_method::profile);

}  // namespace workbench

#endif
