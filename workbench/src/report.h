// Results as a table, as JSON, as CSV and as a plot; output files are
// written whole or not at all (temporary file, then rename).
#ifndef UREA_WORKBENCH_REPORT_H
#define UREA_WORKBENCH_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "case.h"
#include "reactor.h"

namespace workbench {

void print_report(std::ostream& out, const reactor_case& c, const result& r);
nlohmann::ordered_json result_json(const reactor_case& c, const result& r,
                           const std::vector<std::string>& warnings);
std::string profile_csv(const reactor_case& c, const result& r);

// Writes content to path through a temporary file in the same folder and a
// rename; throws input_error naming the path when it cannot.
void write_file(const std::string& path, const std::string& content);

// Draws the conversion and composition profiles with gnuplot into path
// (.svg or .png). Throws input_error for another extension or an unwritable
// path, std::runtime_error when gnuplot fails.
void write_plot(const std::string& path, const reactor_case& c, const result& r);

}  // namespace workbench

#endif
