// The field lists of what workers send back and are sent (session/wire.h):
// each type's fields once, for both its writer and its reader. A field
// added to one of these types is added here, and wire::format raised.
// Included by the sources that write or read messages only.
#ifndef UREA_WORKBENCH_ANALYSIS_MESSAGES_H
#define UREA_WORKBENCH_ANALYSIS_MESSAGES_H

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "analysis/answers.h"
#include "analysis/bands.h"
#include "analysis/estimate.h"
#include "analysis/study.h"
#include "analysis/uncertainty.h"
#include "io/runs_file.h"
#include "model/case.h"
#include "model/observation.h"
#include "model/result.h"
#include "model/settings.h"
#include "session/wire.h"

namespace workbench {

// The choices of each enum sent.
inline std::size_t wire_enum_size(setting) { return setting_count; }
inline std::size_t wire_enum_size(reactor_model) { return 2; }
inline std::size_t wire_enum_size(loss_kind) { return 3; }
inline std::size_t wire_enum_size(band_method) { return 2; }
inline std::size_t wire_enum_size(message::kind) { return 3; }

// A message (base/words.h) as its parts, each its kind, text and field.
WIRE_FIELDS(field_ref, name, index, key, text, echo)
WIRE_FIELDS(message::part, what, text, field)
inline void wire_put(wire::tree& j, const message& m) { wire::detail::put(j, m.parts()); }
inline void wire_get(const wire::tree& j, message& m) {
    std::vector<message::part> parts;
    wire::detail::get(j, parts);
    m = message();
    for (message::part& p : parts) m += message::of_part(std::move(p));
}

// A case as its case file's text (io/case_file.h), read back with
// parse_case: a text that does not read is a wrong value.
void wire_put(wire::tree& j, const reactor_case& c);
void wire_get(const wire::tree& j, reactor_case& c);

// Of the model.
WIRE_FIELDS(measurement, value, sigma, sigma_given)
WIRE_FIELDS(station, volume_m3, temperature_K, n, co2_conversion, balance_residual, iterations)
WIRE_FIELDS(model::outcome, ok, values, failure, details)
WIRE_FIELDS(observed_run, name, measured)

// Of the inputs.
WIRE_FIELDS(case_row, line, settings, setting_column, a1, a2, model, carried)
WIRE_FIELDS(case_table, file, settings, setting_numbers, carried, a1_column, a2_column, model_column, rows)
WIRE_FIELDS(study_variable, given, name, which, log_spacing, listed, values)
WIRE_FIELDS(estimate_options::known_scatter, scale, dof)
WIRE_FIELDS(estimate_options, initial, fixed, loss, loss_scale, start_decades, lower, upper, max_iterations, profile,
            region, leave_one_out, bootstrap, seed)

// Of an estimate.
WIRE_FIELDS(region_slice, a1, a2_best, delta_best, a2_low, a2_high, open_low, open_high)
WIRE_FIELDS(likelihood_region, computed, threshold, best, pieces, open_a1_low, open_a1_high, open_a2, ellipse)
WIRE_FIELDS(factor_uncertainty, source, value, free, lower, upper, scale_factor, t_quantile, degrees_of_freedom,
            has_covariance, covariance, has_profile, profile_lower, profile_upper, region, runs, runs_file, base, base_whole)
WIRE_FIELDS(start_outcome, from, to, usable, converged, chi_square, objective, iterations, model_failures, message)

// The answers (analysis/answers.h).
WIRE_FIELDS(result_band, low, high, open_low, open_high)
WIRE_FIELDS(study_point, index, settings, ok, failure, details, values, conversion_defined, max_balance_residual,
            rate_calls, bands, band_unsolved)
WIRE_FIELDS(window_answer, solves, fitted, failure, a2, lower, upper, se_ln, chi_square, dof, conversions, predicted,
            equilibrium)
WIRE_FIELDS(candidate_answer, ok, failure, values, slope, solves)
WIRE_FIELDS(piece_answer, result, predictions)
WIRE_FIELDS(piece_counts, evaluations, failures, first_failure)
WIRE_FIELDS(start_answer, start, counts)
WIRE_FIELDS(map_row_answer, row, counts)
WIRE_FIELDS(scan_answer, points, better, counts)
WIRE_FIELDS(crossing_answer, at, counts)
WIRE_FIELDS(region_answer, open_a2, slices, counts)
WIRE_FIELDS(prediction_answer, outcome, warm)
WIRE_FIELDS(runs_model_parts, cases, warm)

}  // namespace workbench

#endif
