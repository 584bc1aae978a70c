// An estimate file: the JSON `urea-reactor estimate --json` writes, read
// back for what predictions with bands and the design of the next run need
// of it (analysis/bands.h), checked as carefully as any input.
#ifndef UREA_WORKBENCH_REPORT_ESTIMATE_FILE_H
#define UREA_WORKBENCH_REPORT_ESTIMATE_FILE_H

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/bands.h"
#include "model/case.h"
#include "session/version.h"

namespace workbench {

struct estimate_report;

// The estimate file, as `estimate --json` writes it: the estimate's JSON
// (report/estimate_report.h), the base case and the build stamp.
nlohmann::ordered_json estimate_file_json(const estimate_report& r, const reactor_case& base, const build_info& build,
                                          const vocabulary& words = neutral_vocabulary());

// The most values (keys, numbers, strings) an estimate file may hold: one of
// the most runs (io/runs_file.h), with the most bootstrap resamples and the
// profiles, holds about half as many.
inline constexpr std::size_t max_estimate_file_values = 1000000;

// Reads the estimate from JSON text (file: its name, for messages). Throws
// input_error naming the file (and the line, for malformed JSON) for text
// that is not JSON, a case file or other JSON that is no estimate, and a
// value out of place (a factor not > 0, a free factor without its fields).
factor_uncertainty parse_estimate(const std::string& text, const std::string& file);
factor_uncertainty read_estimate_file(const std::string& path);

}  // namespace workbench

#endif
