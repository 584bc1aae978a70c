// The design of the next test run as an engineer reads it: what it is
// linearised at and what the next run would measure, the candidates ranked
// with their settings and the intervals each is expected to leave, and the
// verdict in words; as JSON, as CSV (every candidate) and as a map of the
// ranked measure over two settings.
#ifndef UREA_WORKBENCH_REPORT_DESIGN_REPORT_H
#define UREA_WORKBENCH_REPORT_DESIGN_REPORT_H

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/design.h"
#include "report/figure.h"
#include "report/table.h"

namespace workbench {

// The heading, the top `top` candidates and the median one, the verdict.
void print_design(std::ostream& out, const design_problem& p, const design_result& r, std::size_t top,
                  const vocabulary& words);
nlohmann::ordered_json design_json(const design_problem& p, const design_result& r, const vocabulary& words);
// A case table's other columns, the settings, rank, relative, criterion,
// each factor's expected lower and upper, failure: one row per candidate.
table candidates_table(const design_problem& p, const design_result& r);
std::string design_csv(const design_problem& p, const design_result& r);
// The ranked measure relative to now (%) over the two varied settings
// (a grid of two), brightest where the run would do most, with the current
// runs marked and the top three candidates ringed and numbered; throws
// input_error naming --map otherwise.
figure design_map_figure(const design_problem& p, const design_result& r);
std::string design_map_script(const design_problem& p, const design_result& r);
// What the ranked measure is, in words ("the joint 95 % region's area").
std::string design_measure(const design_result& r);

}  // namespace workbench

#endif
