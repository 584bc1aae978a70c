// Predictions with 95 % bands as an engineer reads them: which band (the
// profile region's or the linearised one, said every time), from which
// estimate and at which rate factors, and each result's value with its band,
// a side the search box cuts off said in words; as text and JSON.
#ifndef UREA_WORKBENCH_REPORT_BAND_REPORT_H
#define UREA_WORKBENCH_REPORT_BAND_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/bands.h"
#include "report/table.h"

namespace workbench {

// The heading's lines: "95 % bands from EST.json at a1 = ..., a2 = ...",
// the band's way, and its notes (a held factor, an open region).
std::vector<message> band_heading(const band_plan& p);

// {"method", "description", "estimate", "a1", "a2", "free", "notes"}, the
// notes said in the client's words.
nlohmann::ordered_json band_json(const band_plan& p, const vocabulary& words);

// A value and its band to the digits the band's width needs (its second
// significant digit): "0.6172", "0.6101 .. 0.6203"; an open side said:
// "0.6101 .. 0.6203, open below". "none" without a band.
std::string band_text(const result_band& b);
// The value to the same digits.
std::string band_value_text(const result_band& b, double value);

// The prediction's table: each result, its unit, value and band.
void print_prediction(std::ostream& out, const prediction& p, const band_plan& plan, const vocabulary& words);
// {"band": band_json, "results": [{name, unit, value, low, high, open_low,
// open_high}], "conversion_profile": [...], "points", "unsolved"}.
nlohmann::ordered_json prediction_json(const prediction& p, const band_plan& plan, const vocabulary& words);

// The results with their bands, a row each: name, unit, value, low, high,
// open_low, open_high (as the JSON's "prediction" has them).
table bands_table(const prediction& p);

}  // namespace workbench

#endif
