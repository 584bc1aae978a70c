#include "model/schema.h"

#include <array>
#include <stdexcept>
#include <vector>

#include "model/case.h"
#include "model/limits.h"
#include "model/results.h"
#include "model/settings.h"

namespace workbench {
namespace {

using k = field_kind;
constexpr double none = NAN;

// A case: the reactor, its feed and rate factors, as a case file, a runs
// file's row and the command line set them. The settings come first, in the
// order of `setting` (model/settings.h).
constexpr std::array case_fields = {
    schema_field{"trays", "", "number of equal stirred trays in series (the tray model)", k::count, min_trays, max_trays,
          "", "reactor.trays"},
    schema_field{"volume_m3", "m3", "total reacting volume", k::number, min_volume_m3, max_volume_m3, "",
          "reactor.volume_m3"},
    schema_field{"pressure_bar", "bar", "reactor pressure", k::number, min_pressure_bar, max_pressure_bar, "",
          "reactor.pressure_bar"},
    schema_field{"inlet_temperature_C", "C", "inlet temperature (the plug-in clamps to 149.85-199.85 C)", k::number,
          min_temperature_C, max_temperature_C, "", "reactor.inlet_temperature_C"},
    schema_field{"outlet_temperature_C", "C",
          "outlet temperature (plug flow: linear in volume; trays: evenly stepped from the inlet temperature)",
          k::number, min_temperature_C, max_temperature_C, "", "reactor.outlet_temperature_C"},
    schema_field{"feed_kmol_h.<C>", "kmol/h", "feed molar flow of <C>", k::number, 0.0, max_flow_kmol_h},
    schema_field{"nh3_co2", "mol/mol", "feed molar ratio NH3/CO2, carbamate counted as 2 NH3 + CO2 (sets the NH3 feed)"},
    schema_field{"h2o_co2", "mol/mol", "feed molar ratio H2O/CO2, carbamate counted as CO2 (sets the H2O feed)"},
    schema_field{"a1", "", "carbamate-formation rate factor", k::number, min_rate_factor, max_rate_factor, "",
          "kinetics.a1"},
    schema_field{"a2", "", "dehydration rate factor", k::number, min_rate_factor, max_rate_factor, "", "kinetics.a2"},
    schema_field{"model", "", "the reactor model: trays (stirred trays in series) or pfr (plug flow)", k::text, none,
          none, "", "reactor.model"},
    schema_field{"name", "", "what the case is called", k::text},
    schema_field{"properties.<C>", "", "a table that replaces the built-in properties of <C>", k::nested, none, none,
          "property table"},
};

// A component's property table, as a case file gives it (its values at the
// table's temperatures, interpolated between them).
constexpr std::array property_fields = {
    schema_field{"temperature_C", "C", "the table's temperatures, strictly increasing, at least two", k::numbers},
    schema_field{"gibbs_J_kmol", "J/kmol", "ideal-gas molar Gibbs energy at each temperature", k::numbers},
    schema_field{"fugacity_coefficient", "", "liquid fugacity coefficient at the case's pressure, > 0", k::numbers},
    schema_field{"molar_volume_m3_kmol", "m3/kmol", "liquid molar volume, > 0", k::numbers},
};

// The tray (or station) profile of a run (--csv).
constexpr std::array profile_fields = {
    schema_field{"tray", "", "the tray, counted from the inlet", k::count},
    schema_field{"station", "", "the station along the plug-flow reactor, from the inlet", k::count},
    schema_field{"volume_m3", "m3", "reacting volume from the inlet up to here"},
    schema_field{"temperature_C", "C", "temperature"},
    schema_field{"x_<C>", "mol/mol", "mole fraction of <C>", k::number, none, none, "", "mole_fractions.<C>"},
    schema_field{"flow_<C>_kmol_h", "kmol/h", "molar flow of <C>", k::number, none, none, "", "flows_kmol_h.<C>"},
    schema_field{"co2_conversion", "fraction",
          "urea formed so far / CO2 fed (free and as carbamate); missing where the feed leaves it undefined"},
    schema_field{"co2_conversion_low", "fraction", "the CO2 conversion's 95 % band, lower end"},
    schema_field{"co2_conversion_high", "fraction", "the CO2 conversion's 95 % band, upper end"},
    schema_field{"balance_residual", "",
          "the tray's balance residual: the largest over the components, relative to how much the rates and flows move",
          k::number, none, none, "", "", false},
    schema_field{"newton_iterations", "", "iterations the tray's solver took", k::count, none, none, "", "", false},
};

// A run of the reactor (urea-reactor --json).
constexpr std::array reactor_run_fields = {
    schema_field{"case", "", "the case that ran", k::nested, none, none, "case"},
    schema_field{"profile", "", "its trays, or the plug-flow stations", k::table, none, none, "profile"},
    schema_field{"<result>", "", "a result of the run (urea-reactor study --list-results: its unit and meaning)"},
    schema_field{"feed_kmol_h.<C>", "kmol/h", "feed molar flow of <C>"},
    schema_field{"atom_closure", "", "by element (C, H, N, O): outlet less feed, relative to the feed", k::nested},
    schema_field{"balance_residual_bound", "", "the largest balance residual a solved tray may leave"},
    schema_field{"warnings", "", "what the run warns of, a line each", k::texts},
    schema_field{"prediction", "", "with --estimate: the results' 95 % bands", k::nested, none, none, "prediction"},
    schema_field{"build", "", "the builds that answered", k::nested, none, none, "build"},
};

// A run's results with their bands from an estimate.
constexpr std::array prediction_fields = {
    schema_field{"band", "", "how the bands were taken", k::nested, none, none, "band method"},
    schema_field{"results", "", "the results with their bands", k::table, none, none, "band"},
    schema_field{"conversion_profile", "", "the CO2 conversion's band along the reactor, by tray or station",
          k::table, none, none, "conversion band"},
    schema_field{"points", "", "points of the region the bands were taken over", k::count},
    schema_field{"unsolved", "", "of them, where the reactor could not be solved", k::count},
};
constexpr std::array conversion_band_fields = {
    schema_field{"low", "fraction", "the CO2 conversion's 95 % band, lower end"},
    schema_field{"high", "fraction", "its upper end"},
    schema_field{"open_low", "", "the band reaches the search's edge below: no bound there", k::flag},
    schema_field{"open_high", "", "the band reaches the search's edge above: no bound there", k::flag},
};

// How bands were taken (--band, --estimate).
constexpr std::array band_method_fields = {
    schema_field{"method", "", "profile (the joint region) or linearised", k::text},
    schema_field{"description", "", "the method in words", k::text},
    schema_field{"estimate", "", "the estimate the bands rest on: its file, or where it came from", k::text},
    schema_field{"a1", "", "a1 at the estimate"},
    schema_field{"a2", "", "a2 at the estimate"},
    schema_field{"free.<factor>", "", "<factor> was estimated (not held)", k::flag},
    schema_field{"points", "", "points of the region the bands were taken over", k::count},
    schema_field{"notes", "", "what limits the bands, a line each", k::texts},
};

// A plant test run as a runs file gives it (docs/runs-files.md): a case's
// settings changed by the row, what was measured.
constexpr std::array run_fields = {
    schema_field{"run", "", "the run's name", k::text},
    schema_field{"note", "", "a remark, carried through", k::text},
    schema_field{"<quantity>", "", "a setting of the run (trays, volume_m3, ..., feed_kmol_h.<C>, nh3_co2, h2o_co2)"},
    schema_field{"co2_conversion", "fraction", "measured outlet CO2 conversion", k::number, 0.0, 1.0},
    schema_field{"w_<C>", "kg/kg", "measured mass fraction of <C> (NH3, CO2, UREA or H2O) on the NC-FLOW basis",
          k::number, 0.0, 1.0},
    schema_field{"<result>_sigma", "fraction", "the measurement's standard deviation (default: the result's)", k::number,
          0.0, 1.0},
};

// One row of an estimate's residuals (estimate --csv).
constexpr std::array residual_fields = {
    schema_field{"run", "", "the run's name", k::text},
    schema_field{"line", "", "the run's line in the runs file", k::count},
    schema_field{"measurement", "", "what was measured: co2_conversion, w_NH3, w_CO2, w_UREA or w_H2O", k::text},
    schema_field{"measured", "fraction", "the measured value"},
    schema_field{"sigma", "fraction", "its standard deviation, stated or the default"},
    schema_field{"sigma_given", "", "whether the runs file stated the standard deviation", k::flag},
    schema_field{"predicted", "fraction", "the model's value at the estimate"},
    schema_field{"residual", "", "(measured - predicted) / sigma"},
    schema_field{"outlier", "", "more than 3 standard deviations off", k::flag},
    schema_field{"impossible_for_model", "",
          "a conversion above what the model can reach at the run's conditions, whatever the rate factors", k::flag},
};

// An estimate of the rate factors (estimate --json, the estimate file).
constexpr std::array estimate_fields = {
    schema_field{"runs_file", "", "the runs file the factors were tuned on (\"<table>\": a table in memory)", k::text},
    schema_field{"runs", "", "the runs with each measurement's residual", k::table, none, none, "fitted run"},
    schema_field{"parameters.<factor>", "", "the estimate of <factor>", k::nested, none, none, "parameter"},
    schema_field{"search_box.lower", "", "the least value the search gives a factor"},
    schema_field{"search_box.upper", "", "the greatest value the search gives a factor"},
    schema_field{"profile_threshold", "", "the rise of the objective that bounds a factor's 95 % profile interval"},
    schema_field{"region_threshold", "", "the rise of the objective that bounds the joint 95 % region"},
    schema_field{"region", "", "the joint 95 % region of a1 and a2 (both free)", k::nested, none, none,
          "likelihood region"},
    schema_field{"leave_one_out", "", "each run left out in turn", k::nested, none, none, "leave one out"},
    schema_field{"bootstrap", "", "with --bootstrap N: the factors fitted to resamples of the runs", k::nested, none, none,
          "bootstrap"},
    schema_field{"tuned_case", "", "the case the estimate tunes: each factor, kept or changed", k::nested, none, none,
          "tuned case"},
    schema_field{"correlation", "", "the linearised correlation of ln a1 and ln a2; null: not defined"},
    schema_field{"correlation_note", "", "why the correlation is not given, or what limits it", k::text},
    schema_field{"covariance_ln", "", "the linearised covariance of ln a1 and ln a2: [[..], [..]]; null: singular",
          k::nested},
    schema_field{"covariance_singular", "", "the covariance could not be formed (a factor not determined)", k::flag},
    schema_field{"measurements", "", "measurements fitted", k::count},
    schema_field{"free_parameters", "", "factors estimated (not held)", k::count},
    schema_field{"degrees_of_freedom", "", "measurements less free factors", k::count},
    schema_field{"chi_square", "", "sum of the squared standardised residuals at the best fit"},
    schema_field{"reduced_chi_square", "", "chi_square / degrees_of_freedom"},
    schema_field{"robust_reduced_chi_square", "", "with a robust loss: the loss's reduced chi-square; else null"},
    schema_field{"interval_scale_factor", "", "what the standard errors and thresholds are widened by: max(1, sqrt(reduced chi-square))"},
    schema_field{"t_quantile", "", "Student's t quantile the linearised intervals use"},
    schema_field{"loss.kind", "", "the loss minimised: none (least squares), huber or cauchy", k::text},
    schema_field{"loss.scale_sigma", "", "a robust loss's scale, in standard deviations"},
    schema_field{"starts", "", "where each start of the search ended", k::table, none, none, "start"},
    schema_field{"starts_agreeing", "", "starts that ended at the best fit", k::count},
    schema_field{"outliers", "", "measurements more than 3 standard deviations off", k::count},
    schema_field{"reactor_solves", "", "reactor runs the estimate took", k::count},
    schema_field{"reactor_failures", "", "reactor runs that found no solution", k::count},
    schema_field{"verdict", "", "what the runs say of the factors, a line each", k::texts},
    schema_field{"warnings", "", "what the estimate warns of, a line each", k::texts},
    schema_field{"base_case", "", "the case the factors were tuned on", k::nested, none, none, "case"},
    schema_field{"build", "", "the builds that answered", k::nested, none, none, "build"},
};

// A run of an estimate, its measurements with their residuals.
constexpr std::array fitted_run_fields = {
    schema_field{"run", "", "the run's name", k::text},
    schema_field{"line", "", "the run's line in the runs file", k::count},
    schema_field{"note", "", "a remark, carried through", k::text},
    schema_field{"measurements", "", "what was measured, each with its residual", k::table, none, none, "residual"},
};

// A factor's estimate.
constexpr std::array parameter_fields = {
    schema_field{"value", "", "the best fit's value (the held value when held)", k::number, min_rate_factor,
          max_rate_factor},
    schema_field{"free", "", "estimated (not held with --fix)", k::flag},
    schema_field{"se_ln", "", "standard error of its logarithm (linearised)"},
    schema_field{"lower95", "", "its linearised 95 % interval, lower end"},
    schema_field{"upper95", "", "its linearised 95 % interval, upper end"},
    schema_field{"linearised_meaningful", "", "the linearised interval means something here", k::flag},
    schema_field{"linearised_note", "", "why the linearised interval means little, where it does", k::text},
    schema_field{"conditional", "",
          "its linearised interval holds the other factor at its value (the joint covariance singular)", k::flag},
    schema_field{"profile95", "", "its 95 % profile-likelihood interval: [lower, upper], null where open",
          k::nested},
    schema_field{"verdict", "", "whether the runs determine it: determined, bounded above, ..., fixed", k::text},
    schema_field{"verdict_text", "", "the verdict in words", k::text},
    schema_field{"profile", "", "its profile likelihood", k::nested, none, none, "profile likelihood"},
};

constexpr std::array profile_likelihood_fields = {
    schema_field{"disjoint", "", "the 95 % set is more than one interval", k::flag},
    schema_field{"unsolved_lower", "", "the reactor could not be solved somewhere below the best fit", k::flag},
    schema_field{"unsolved_upper", "", "the reactor could not be solved somewhere above the best fit", k::flag},
    schema_field{"points", "", "where the profile was taken", k::table, none, none, "profile point"},
};

// The joint region of both factors.
constexpr std::array region_fields = {
    schema_field{"threshold", "", "the rise of the objective that bounds the region"},
    schema_field{"open_a1_low", "", "the region reaches the search's edge below in a1", k::flag},
    schema_field{"open_a1_high", "", "the region reaches the search's edge above in a1", k::flag},
    schema_field{"open_a2", "", "the region reaches the search's edge in a2", k::flag},
    schema_field{"pieces", "", "its pieces, each a list of slices of a1 (Python: one table, the piece numbered)", k::table,
          none, none, "region slice"},
    schema_field{"linearised_ellipse", "", "the linearised 95 % ellipse: [a1, a2] points (Python: ellipse)", k::table,
          none, none, "region ellipse"},
};

constexpr std::array leave_one_out_fields = {
    schema_field{"runs", "", "each run left out", k::table, none, none, "left-out run"},
    schema_field{"influential.<factor>", "", "the runs that move <factor> most when left out, most first, at most three",
          k::texts},
};

// The estimate's own tables (Python: EstimateResult's).
constexpr std::array bootstrap_fields = {
    schema_field{"resamples", "", "resamples of the runs fitted", k::count},
    schema_field{"seed", "", "the seed they were drawn with", k::count},
    schema_field{"failed", "", "resamples whose fit failed", k::count},
    schema_field{"lower95", "", "the factors' 2.5 % quantiles over the resamples", k::nested, none, none, "factor pair"},
    schema_field{"median", "", "their medians", k::nested, none, none, "factor pair"},
    schema_field{"upper95", "", "their 97.5 % quantiles", k::nested, none, none, "factor pair"},
    schema_field{"samples", "", "each resample's factors: [a1, a2] (Python: a table)", k::table, none, none,
          "bootstrap sample"},
};
constexpr std::array factor_pair_fields = {
    schema_field{"a1", "", "carbamate-formation rate factor a1"},
    schema_field{"a2", "", "dehydration rate factor a2"},
};
constexpr std::array bootstrap_sample_fields = {
    schema_field{"a1", "", "carbamate-formation rate factor a1 fitted to the resample"},
    schema_field{"a2", "", "dehydration rate factor a2 fitted to the resample"},
};
constexpr std::array tuned_case_fields = {
    schema_field{"<factor>", "", "<factor> in the tuned case", k::nested, none, none, "tuned factor"},
    schema_field{"co2_conversion", "fraction", "the tuned case's CO2 conversion"},
};
constexpr std::array tuned_factor_fields = {
    schema_field{"value", "", "the factor's value in the tuned case"},
    schema_field{"changed", "", "it differs from the base case's", k::flag},
    schema_field{"source", "", "where it comes from: estimated, held, kept, ...", k::text},
    schema_field{"with_other_kept", "", "estimated with the other factor kept", k::flag},
    schema_field{"ruled_out", "", "the runs rule out the base case's value", k::flag},
};

// The builds that answered (every --json document's build).
constexpr std::array build_fields = {
    schema_field{"urea_reactor", "", "the workbench's version and commit", k::text},
    schema_field{"plugin", "", "the plug-in's version and commit", k::text},
    schema_field{"plugin_file", "", "the plug-in's path as loaded", k::text},
    schema_field{"schema_version", "", "the version of these declarations the document follows", k::count},
};
constexpr std::array region_slice_fields = {
    schema_field{"piece", "", "the piece of the region the slice belongs to, from 0 (Python's table)", k::count},
    schema_field{"a1", "", "the slice's a1"},
    schema_field{"a2_best", "", "the a2 that fits best at this a1"},
    schema_field{"delta_best", "", "the objective at (a1, a2_best) less the best fit's"},
    schema_field{"a2_low", "", "the region's lower end in a2 at this a1"},
    schema_field{"a2_high", "", "the region's upper end in a2 at this a1"},
    schema_field{"open_low", "", "the slice reaches the search's edge below: no bound there", k::flag},
    schema_field{"open_high", "", "the slice reaches the search's edge above: no bound there", k::flag},
};
constexpr std::array ellipse_fields = {
    schema_field{"a1", "", "a1 on the linearised 95 % ellipse"},
    schema_field{"a2", "", "a2 on the linearised 95 % ellipse"},
};
constexpr std::array left_out_fields = {
    schema_field{"run", "", "the run left out", k::text},
    schema_field{"ok", "", "a usable fit without it (false: too few measurements left, or none usable)", k::flag},
    schema_field{"<factor>", "", "the factor fitted without the run", k::number, none, none, "", "without_it.<factor>"},
    schema_field{"shift_ln_<factor>", "", "ln <factor> without the run less ln <factor> with all (NaN: held)", k::number,
          none, none, "", "shift_ln.<factor>"},
    schema_field{"shift_se_<factor>", "", "that shift in standard errors of ln <factor>", k::number, none, none, "",
          "shift_se.<factor>"},
    schema_field{"share_of_profile95_<factor>", "", "how far the move goes to the 95 % profile bound on its side (1: onto it)",
          k::number, none, none, "", "share_of_profile95.<factor>"},
    schema_field{"replicates", "", "the other runs at this run's settings", k::texts},
};
constexpr std::array profile_point_fields = {
    schema_field{"value", "", "the factor's value where the profile is taken"},
    schema_field{"other", "", "the other factor, re-optimised there (held: its value)"},
    schema_field{"delta", "", "the objective there less the best fit's; NaN where the reactor could not be solved"},
};
constexpr std::array start_fields = {
    schema_field{"from_<factor>", "", "<factor> where the start began", k::number, none, none, "", "from.<factor>"},
    schema_field{"to_<factor>", "", "<factor> where it ended", k::number, none, none, "", "to.<factor>"},
    schema_field{"usable", "", "the search ended with a solution (converged or out of iterations)", k::flag},
    schema_field{"converged", "", "the search converged", k::flag},
    schema_field{"chi_square", "", "sum of the squared standardised residuals where it ended"},
    schema_field{"objective", "", "what was minimised where it ended (a robust loss: the sum of the losses)"},
    schema_field{"iterations", "", "the search's iterations", k::count},
    schema_field{"reactor_failures", "", "points of this start where the reactor could not be solved", k::count},
    schema_field{"message", "", "the search's (Ceres') termination message", k::text},
};

// A result with its 95 % band (a run or a study with --estimate).
constexpr std::array band_fields = {
    schema_field{"name", "", "the result", k::text},
    schema_field{"unit", "", "its unit", k::text},
    schema_field{"value", "", "its value at the estimate"},
    schema_field{"low", "", "its 95 % band, lower end"},
    schema_field{"high", "", "its 95 % band, upper end"},
    schema_field{"open_low", "", "the band reaches the search's edge below: no bound there", k::flag},
    schema_field{"open_high", "", "the band reaches the search's edge above: no bound there", k::flag},
};

// A point of a sweep or a study (--csv): the varied quantities, the results.
constexpr std::array study_point_fields = {
    schema_field{"line", "", "the point's line in the case table", k::count, none, none, "", "", false},
    schema_field{"<column>", "", "a column of the case table, as written (documents: under columns)", k::text},
    schema_field{"columns", "", "the case table's own columns, as written", k::nested, none, none, "", "", false},
    schema_field{"<quantity>", "", "the point's <quantity>", k::number, none, none, "", "settings.<quantity>"},
    schema_field{"ok", "", "the point was solved", k::flag, none, none, "", "", false},
    schema_field{"<result>", "", "a result asked for (its unit and meaning the result's)", k::number, none, none, "",
          "results.<result>"},
    schema_field{"<result>_low", "", "its 95 % band, lower end", k::number, none, none, "", "low.<result>"},
    schema_field{"<result>_high", "", "its 95 % band, upper end", k::number, none, none, "", "high.<result>"},
    schema_field{"band_open", "",
          "the bands open on a side (the search's edge cuts them off): \"co2_conversion low;w_UREA high\" (documents: "
          "open, by result: low, high or both)",
          k::text, none, none, "", "open"},
    schema_field{"band_unsolved", "", "points of the region where the reactor could not be solved", k::count, none,
          none, "", "", false},
    schema_field{"failure", "", "why the point was not solved; empty: solved", k::text},
};

// A sweep over a grid (sweep --json).
constexpr std::array sweep_fields = {
    schema_field{"vary", "", "the quantities varied", k::table, none, none, "varied quantity"},
    schema_field{"points", "", "the grid's points", k::table, none, none, "sweep point"},
    schema_field{"solved", "", "points solved", k::count},
    schema_field{"failed", "", "points not solved", k::count},
    schema_field{"rate_calls", "", "calls of the rate routine", k::count},
    schema_field{"notes", "", "what the sweep notes, a line each", k::texts},
    schema_field{"base_case", "", "the case each point changes", k::nested, none, none, "case"},
    schema_field{"build", "", "the builds that answered", k::nested, none, none, "build"},
};
constexpr std::array varied_fields = {
    schema_field{"name", "", "the quantity", k::text},
    schema_field{"spacing", "", "linear, log or list (values as given)", k::text},
    schema_field{"values", "", "its values, in its unit (the model: trays or pfr)", k::numbers},
};
constexpr std::array sweep_point_fields = {
    schema_field{"<quantity>", "", "the point's <quantity>"},
    schema_field{"ok", "", "the point was solved", k::flag},
    schema_field{"<result>", "", "a result (its unit and meaning the result's)"},
    schema_field{"w_<C>", "kg/kg", "outlet mass fraction of <C> on the NC-FLOW basis", k::number, none, none, "",
          "nc_mass_fractions.<C>"},
    schema_field{"failure", "", "why the point was not solved", k::text},
};

// A study over a grid or a case table (study --json).
constexpr std::array study_fields = {
    schema_field{"study.vary", "", "the quantities varied (a grid)", k::table, none, none, "varied quantity"},
    schema_field{"study.points", "", "the grid's points", k::count},
    schema_field{"study.cases.file", "", "the case table (--cases)", k::text},
    schema_field{"study.cases.rows", "", "its rows", k::count},
    schema_field{"study.cases.settings", "", "its columns that set a case quantity", k::texts},
    schema_field{"study.cases.columns", "", "its other columns, carried through", k::texts},
    schema_field{"results", "", "the results asked for", k::table, none, none, "result kind"},
    schema_field{"band", "", "with --estimate: how the bands were taken", k::nested, none, none, "band method"},
    schema_field{"points", "", "the points", k::table, none, none, "study point"},
    schema_field{"solved", "", "points solved", k::count},
    schema_field{"failed", "", "points not solved", k::count},
    schema_field{"rate_calls", "", "calls of the rate routine", k::count},
    schema_field{"notes", "", "what the study notes, a line each", k::texts},
    schema_field{"warnings", "", "what the study warns of, a line each", k::texts},
    schema_field{"base_case", "", "the case each point changes", k::nested, none, none, "case"},
    schema_field{"build", "", "the builds that answered", k::nested, none, none, "build"},
};
constexpr std::array result_kind_fields = {
    schema_field{"name", "", "the result", k::text},
    schema_field{"unit", "", "its unit", k::text},
    schema_field{"meaning", "", "what it is", k::text},
    schema_field{"measurable", "", "a plant measures it (a runs file may give it)", k::flag},
};

// A candidate of the next test run (design --csv).
constexpr std::array design_candidate_fields = {
    schema_field{"line", "", "the candidate's line in the case table", k::count, none, none, "", "", false},
    schema_field{"<column>", "", "a column of the case table, as written", k::text},
    schema_field{"<quantity>", "", "the candidate's <quantity>", k::number, none, none, "", "settings.<quantity>"},
    schema_field{"ok", "", "the candidate was solved", k::flag, none, none, "", "", false},
    schema_field{"rank", "", "1 the best; missing: not solved", k::count},
    schema_field{"relative", "fraction", "the ranked measure after the run, as a fraction of now"},
    schema_field{"criterion", "", "what is ranked: larger is better"},
    schema_field{"<factor>_lower", "", "its expected 95 % interval after the run, lower end (documents: "
          "expected95.<factor>, [lower, upper])", k::number, none, none, "", "expected95.<factor>"},
    schema_field{"<factor>_upper", "", "its expected 95 % interval after the run, upper end"},
    schema_field{"predicted.<result>", "", "the measurement the model predicts for the run", k::number, none, none, "",
          "", false},
    schema_field{"slope_ln.<factor>", "", "d(measurement)/d(ln <factor>) at the estimate, by measurement", k::nested,
          none, none, "", "", false},
    schema_field{"failure", "", "why the candidate was not solved; empty: solved", k::text},
};

// A design of the next test run (design --json).
constexpr std::array design_fields = {
    schema_field{"runs_file", "", "the runs the estimate rests on", k::text},
    schema_field{"estimate.source", "", "where the estimate came from", k::text},
    schema_field{"estimate.<factor>", "", "<factor> at the estimate"},
    schema_field{"estimate.free.<factor>", "", "<factor> was estimated (not held)", k::flag},
    schema_field{"measure.<result>", "", "a measurement the next run would take: its standard deviation"},
    schema_field{"measure_chosen", "", "the measurements were given (--measure), not taken from the runs' majority", k::flag},
    schema_field{"criterion", "", "what ranks the candidates: conditional, one_factor or d_optimal", k::text},
    schema_field{"ranked_factor", "", "the factor whose interval is ranked; null: the joint region", k::text},
    schema_field{"relative_is", "", "what a candidate's relative is, in words", k::text},
    schema_field{"now95.<factor>", "", "<factor>'s 95 % interval now: [lower, upper]", k::nested},
    schema_field{"determinable.<factor>", "", "some candidate brings <factor>'s expected 95 % interval within a decade",
          k::flag},
    schema_field{"largest_effect_sigma.<factor>", "",
          "the most any candidate's measurements change when <factor> changes tenfold, in standard deviations"},
    schema_field{"candidates", "", "the candidates, in the order given", k::table, none, none, "design candidate"},
    schema_field{"ranking", "", "the solved candidates, best first: their places in candidates, from 0", k::numbers},
    schema_field{"failed", "", "candidates not solved", k::count},
    schema_field{"reactor_solves", "", "reactor runs the design took", k::count},
    schema_field{"verdict", "", "what the design says, a line each", k::texts},
    schema_field{"warnings", "", "what it warns of, a line each", k::texts},
    schema_field{"notes", "", "what it notes, a line each", k::texts},
    schema_field{"base_case", "", "the case each candidate changes", k::nested, none, none, "case"},
    schema_field{"build", "", "the builds that answered", k::nested, none, none, "build"},
};

// A window of a plant history (monitor --csv).
constexpr std::array window_fields = {
    schema_field{"start", "", "the window's start (its rows from here on)", k::time},
    schema_field{"end", "", "the window's end (its rows before it)", k::time},
    schema_field{"rows", "", "rows of the history in the window", k::count},
    schema_field{"lab_samples", "", "rows with a lab sample or a conversion, after screening", k::count},
    schema_field{"steady", "", "the settings held still within their noise", k::flag},
    schema_field{"fitted", "", "a2 was fitted to the window", k::flag},
    schema_field{"flags", "", "what was found, separated by ';': not steady, reconciled, ...", k::text},
    schema_field{"reason", "", "why the window was not fitted; empty: fitted", k::text},
    schema_field{"balance_tested", "", "the atom balance was tested", k::flag, none, none, "", "balance.tested", false},
    schema_field{"balance_why_not", "", "why it was not tested", k::text, none, none, "", "balance.why_not", false},
    schema_field{"balance_p_value", "", "p-value of the atom balance of the feed meters against the lab", k::number, 0.0,
          1.0, "", "balance.p_value"},
    schema_field{"balance_chi_square", "", "chi-square of that balance", k::number, none, none, "", "balance.chi_square"},
    schema_field{"balance_dof", "", "its degrees of freedom", k::count, none, none, "", "balance.dof", false},
    schema_field{"balance_suspect", "", "the meter or lab column the measurement test names when the balance fails",
          k::text, none, none, "", "balance.suspect"},
    schema_field{"balance_suspect_error", "fraction", "its error relative to its reconciled value (+0.05: reads 5 % high)",
          k::number, none, none, "", "balance.suspect_error"},
    schema_field{"balance_reconciled_<quantity>", "", "a feed meter's mean, measured and reconciled", k::nested, none,
          none, "reconciled value", "balance.reconciled.<quantity>", false},
    schema_field{"balance_reconciled_<result>", "", "a lab quantity's mean, measured and reconciled", k::nested, none,
          none, "reconciled value", "balance.reconciled.<result>", false},
    schema_field{"a2", "", "dehydration rate factor a2 fitted to the window", k::number, none, none, "", "a2.value"},
    schema_field{"a2_profile95_lower", "", "a2's 95 % profile-likelihood interval, lower end; empty: open", k::number,
          none, none, "", "a2.profile95"},
    schema_field{"a2_profile95_upper", "", "its upper end; empty: open (documents: a2.profile95, [lower, upper])"},
    schema_field{"co2_conversion_measured", "fraction",
          "outlet CO2 conversion measured (the conversion column's mean, or the lab analysis's)", k::number, none, none,
          "", "conversion.measured"},
    schema_field{"co2_conversion_predicted", "fraction", "outlet CO2 conversion at the window's a2", k::number, none,
          none, "", "conversion.predicted"},
    schema_field{"co2_conversion_equilibrium", "fraction",
          "CO2 conversion at equilibrium at the outlet's temperature and pressure", k::number, none, none, "",
          "conversion.equilibrium"},
    schema_field{"approach", "fraction", "measured conversion / equilibrium conversion"},
};

// What the balance of a window made of a measurement.
constexpr std::array reconciled_fields = {
    schema_field{"measured", "", "the window's mean of the measurement, in its unit"},
    schema_field{"reconciled", "", "the value that closes the atom balance, in its unit"},
    schema_field{"sigma", "", "the measurement's standard deviation the balance took, in its unit"},
};

// A plant history followed window by window (monitor --json; watch --json
// adds the alerts).
constexpr std::array monitor_fields = {
    schema_field{"history", "", "the history as read", k::nested, none, none, "history read"},
    schema_field{"window", "", "the windows' length, as a duration (24h)", k::text},
    schema_field{"step", "", "from one window's start to the next's, as a duration", k::text},
    schema_field{"a1", "", "the a1 the windows were fitted with", k::nested, none, none, "monitor a1"},
    schema_field{"screening.<quantity>", "", "what screening found in a setting's column", k::nested, none, none,
          "screening finding"},
    schema_field{"screening.<result>", "", "what screening found in a measurement's column", k::nested, none, none,
          "screening finding"},
    schema_field{"windows", "", "the windows, in time order", k::table, none, none, "monitor window"},
    schema_field{"drifts", "", "where a2 changed", k::table, none, none, "drift"},
    schema_field{"trends", "", "where a2 moved steadily", k::table, none, none, "trend"},
    schema_field{"meters", "", "the meters and lab quantities that read wrong over a span", k::table, none, none,
          "meter bias span"},
    schema_field{"alerts", "", "watch: the alerts raised", k::table, none, none, "alert"},
    schema_field{"store", "", "watch: the store the document was read from", k::nested, none, none, "store"},
    schema_field{"summary", "", "the windows counted by what became of them", k::nested, none, none, "monitor summary"},
    schema_field{"notes", "", "what the monitor notes of the history, a line each", k::texts},
    schema_field{"base_case", "", "the case each window's settings change", k::nested, none, none, "case"},
    schema_field{"build", "", "the builds that answered", k::nested, none, none, "build"},
};

constexpr std::array store_fields = {
    schema_field{"name", "", "the store: an SQLite file's path, or a PostgreSQL URL without its password", k::text},
    schema_field{"kind", "", "sqlite or postgresql", k::text},
    schema_field{"source", "", "what it follows: a history file, a folder of exports, or \"readings TABLE\"", k::text},
    schema_field{"passes", "", "passes made", k::count},
    schema_field{"last_row", "", "the time of the last row read; null: none yet", k::time},
    schema_field{"reads", "", "each piece of the history read, in words", k::texts},
};

constexpr std::array history_read_fields = {
    schema_field{"file", "", "the history's path as given (a table in memory: its name)", k::text},
    schema_field{"sha256", "", "SHA-256 of its bytes as read", k::text},
    schema_field{"rows", "", "rows read", k::count},
    schema_field{"first", "", "the first row's time", k::time},
    schema_field{"last", "", "the last row's time", k::time},
    schema_field{"spacing", "", "the rows' usual spacing, as a duration", k::text},
    schema_field{"times", "", "how its times were read: with UTC offsets, or as UTC", k::text},
    schema_field{"sorted", "", "rows out of time order were sorted (--sort)", k::flag},
};

constexpr std::array monitor_a1_fields = {
    schema_field{"value", "", "carbamate-formation rate factor a1 the windows were fitted with"},
    schema_field{"how", "", "held (--fix), estimated, or kept (the case's)", k::text},
    schema_field{"note", "", "how it was come by, in words", k::text},
};

constexpr std::array monitor_summary_fields = {
    schema_field{"windows", "", "windows", k::count},
    schema_field{"fitted", "", "windows a2 was fitted to", k::count},
    schema_field{"not_steady", "", "windows not fitted: not steady", k::count},
    schema_field{"without_lab", "", "windows not fitted: no lab sample", k::count},
    schema_field{"unsolved", "", "windows not fitted: the reactor could not be solved", k::count},
    schema_field{"without_rows", "", "windows not fitted: a gap in the history", k::count},
    schema_field{"without_values", "", "windows not fitted: a setting without a usable value", k::count},
    schema_field{"invalid_case", "", "windows not fitted: their settings make no valid case", k::count},
    schema_field{"reconciled", "", "fitted windows whose measurements were reconciled", k::count},
    schema_field{"drift_windows", "", "fitted windows the drift test took (they do not overlap)", k::count},
    schema_field{"dispersion", "", "the scatter of ln a2 about its segments against the stated errors (at least 1)"},
    schema_field{"reactor_solves", "", "reactor runs the monitor took", k::count},
};

// Where a rate factor changed over a history (monitor --json's drifts).
constexpr std::array drift_fields = {
    schema_field{"factor", "", "the rate factor that changed (a2)", k::text},
    schema_field{"time", "", "the start of the first window after the change", k::time},
    schema_field{"ratio", "", "the factor after the change over the factor before"},
    schema_field{"ratio95", "", "the ratio's 95 % interval: [lower, upper]", k::nested},
    schema_field{"p_value", "", "of the permutation test that found the change", k::number, 0.0, 1.0},
};

// Where a rate factor moved steadily over a history (monitor --json's trends).
constexpr std::array trend_fields = {
    schema_field{"factor", "", "the rate factor that moved (a2)", k::text},
    schema_field{"start", "", "the start of the trend's first window", k::time},
    schema_field{"end", "", "the end of its last window", k::time},
    schema_field{"windows", "", "fitted windows on the ramp", k::count},
    schema_field{"from", "", "the factor at the start, on the ramp"},
    schema_field{"to", "", "the factor at the end, on the ramp"},
    schema_field{"rate_per_day", "1/d", "the factor's relative change a day (-0.003: 0.3 % down a day)"},
    schema_field{"rate95", "1/d", "the rate's 95 % interval: [lower, upper]", k::nested},
};

// A meter or a lab quantity that read wrong over a span of windows (monitor
// --json's meters).
constexpr std::array bias_span_fields = {
    schema_field{"column", "", "the balance's measurement: a feed meter or a lab mass fraction", k::text},
    schema_field{"start", "", "the start of the span's first window", k::time},
    schema_field{"end", "", "the end of its last window", k::time},
    schema_field{"found", "", "the end of the window at which the accumulated evidence named it", k::time},
    schema_field{"windows", "", "tested windows in the span", k::count},
    schema_field{"bias", "fraction", "its error relative to its reading (+0.05: reads 5 % high), the span's mean"},
    schema_field{"bias95", "fraction", "the bias's 95 % interval: [lower, upper]", k::nested},
};

// An alert that watch raised over a plant's history (watch --json's alerts).
constexpr std::array alert_fields = {
    schema_field{"id", "", "the alert's number in its store", k::count},
    schema_field{"kind", "", "a2 changed, a2 trending, meter biased, sensor frozen, no lab sample, no new data, approach low",
          k::text},
    schema_field{"subject", "", "what it is about: a2, a column's name, the lab, the history", k::text},
    schema_field{"state", "", "pending, firing or resolved", k::text},
    schema_field{"since", "", "when its condition was first seen", k::time},
    schema_field{"fired", "", "when it fired; empty: not (yet)", k::time},
    schema_field{"resolved", "", "when it was resolved; empty: open", k::time},
    schema_field{"windows", "", "the first and the last window of its evidence: first, last", k::nested},
    schema_field{"summary", "", "what it says, in words", k::text},
    schema_field{"evidence", "", "the numbers behind it (a change's ratio and interval, a bias and its interval, ...)",
          k::nested},
};

// What screening a history's column found (monitor --json's screening, by column).
constexpr std::array screening_fields = {
    schema_field{"values", "", "cells with a number, before screening", k::count},
    schema_field{"missing", "", "empty cells", k::count},
    schema_field{"stagnant", "", "spans where the meter repeated one value longer than --frozen: start, end, rows",
          k::table},
    schema_field{"out_of_range", "", "values outside the documented bounds, left out", k::count},
    schema_field{"out_of_range_span", "", "the first and the last of them: start, end, rows", k::nested},
    schema_field{"spikes", "", "values far off their neighbours, left out", k::count},
    schema_field{"spike_span", "", "the first and the last spike: start, end, rows", k::nested},
    schema_field{"noise", "", "short-term standard deviation, from successive differences, in the column's unit"},
};

// The results, from the results' list (model/results.h) where they are kept
// with what a plot needs of them.
std::span<const schema_field> result_fields() {
    static const std::vector<schema_field> fields = [] {
        std::vector<schema_field> v;
        for (const result_kind& r : result_kinds()) {
            const bool whole = std::string_view(r.name) == "rate_calls";
            v.push_back(schema_field{r.name, r.unit, r.meaning, whole ? k::count : k::number});
        }
        return v;
    }();
    return fields;
}

bool is_case_quantity(std::string_view name) {
    return case_quantity_named(std::string(name)).has_value() || name == "model";
}
bool is_result(std::string_view name) { return result_named(std::string(name)).has_value(); }

// Placeholders and what each stands for.
bool fits(std::string_view placeholder, std::string_view text) {
    if (placeholder == "<C>") {
        for (const char* c : component_names) {
            if (text == c) return true;
        }
        return false;
    }
    if (placeholder == "<factor>") return text == "a1" || text == "a2";
    if (placeholder == "<quantity>") return is_case_quantity(text);
    if (placeholder == "<result>") return is_result(text);
    return false;  // <column>: the user's
}

// Whether `column` is a member of the family `pattern`.
bool member_of(std::string_view pattern, std::string_view column) {
    const std::size_t open = pattern.find('<');
    if (open == std::string_view::npos) {
        // "@N": a tray number.
        if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == "@N") {
            const std::string_view stem = pattern.substr(0, pattern.size() - 2);
            if (column.size() <= stem.size() + 1 || column.substr(0, stem.size()) != stem || column[stem.size()] != '@') {
                return false;
            }
            return column.substr(stem.size() + 1).find_first_not_of("0123456789") == std::string_view::npos;
        }
        return pattern == column;
    }
    const std::size_t close = pattern.find('>', open);
    const std::string_view head = pattern.substr(0, open), placeholder = pattern.substr(open, close - open + 1);
    const std::string_view tail = pattern.substr(close + 1);
    if (column.size() <= head.size() + tail.size() || column.substr(0, head.size()) != head) return false;
    // The tail may itself hold "@N" (x_<C>@N): match it from the end.
    for (std::size_t end = column.size(); end > head.size(); --end) {
        if (fits(placeholder, column.substr(head.size(), end - head.size())) && member_of(tail, column.substr(end))) {
            return true;
        }
    }
    return false;
}

const std::vector<domain_type>& types() {
    static const std::vector<domain_type> all = {
        {"case", "a reactor case: the reactor, its feed and rate factors (case files, runs files' rows, options)",
         case_fields},
        {"property table", "a component's properties on a temperature grid, replacing the built-in ones",
         property_fields},
        {"result", "what a solved run gives (study --result, urea-reactor study --list-results)", result_fields()},
        {"profile", "a run's trays or plug-flow stations (urea-reactor --csv)", profile_fields},
        {"run", "a plant test run: a runs file's row (docs/runs-files.md)", run_fields},
        {"residual", "a measurement of a run against the estimate (estimate --csv)", residual_fields},
        {"estimate", "the rate factors tuned on runs (estimate --json, the estimate file)", estimate_fields},
        {"fitted run", "a run of an estimate with its measurements' residuals (estimate --json)", fitted_run_fields},
        {"parameter", "a rate factor's estimate (estimate --json)", parameter_fields},
        {"profile likelihood", "a factor's profile likelihood (estimate --json)", profile_likelihood_fields},
        {"likelihood region", "the joint 95 % region of a1 and a2 (estimate --json; Python: EstimateResult.region)",
         region_fields},
        {"leave one out", "the estimate with each run left out (estimate --json)", leave_one_out_fields},
        {"bootstrap", "the estimate over resamples of the runs (estimate --json; Python: EstimateResult.bootstrap)",
         bootstrap_fields},
        {"factor pair", "a value of each rate factor", factor_pair_fields},
        {"tuned case", "the case an estimate tunes (estimate --json; Python: EstimateResult.tuned)", tuned_case_fields},
        {"tuned factor", "a rate factor of the tuned case", tuned_factor_fields},
        {"build", "the builds that answered (every --json document's build)", build_fields},
        {"bootstrap sample", "the factors fitted to one resample of the runs", bootstrap_sample_fields},
        {"region slice", "the joint 95 % region of a1 and a2 at one a1", region_slice_fields},
        {"region ellipse", "a point of the linearised 95 % ellipse", ellipse_fields},
        {"left-out run", "the factors fitted without one run", left_out_fields},
        {"profile point", "a point of a factor's profile likelihood", profile_point_fields},
        {"start", "a start of the estimate's search", start_fields},
        {"band", "a result with its 95 % band from the factors' uncertainty", band_fields},
        {"reactor run", "a run of the reactor (urea-reactor --json)", reactor_run_fields},
        {"prediction", "a run's results with their 95 % bands (urea-reactor --estimate --json)", prediction_fields},
        {"conversion band", "the CO2 conversion's 95 % band at a tray or station", conversion_band_fields},
        {"band method", "how the bands of results were taken from an estimate", band_method_fields},
        {"sweep", "a sweep over a grid of case quantities (sweep --json)", sweep_fields},
        {"varied quantity", "a quantity a sweep or a study varies", varied_fields},
        {"sweep point", "a point of a sweep (sweep --json)", sweep_point_fields},
        {"study", "a study over a grid or a case table (study --json)", study_fields},
        {"result kind", "a result a study tabulates", result_kind_fields},
        {"study point", "a point of a sweep or a study (sweep --csv, study --csv and --json)", study_point_fields},
        {"design", "a design of the next test run (design --json)", design_fields},
        {"design candidate", "a candidate for the next test run (design --csv, --json)", design_candidate_fields},
        {"monitor window", "a window of a plant history (monitor --csv)", window_fields},
        {"reconciled value", "a window's measurement, measured and reconciled (monitor --json)", reconciled_fields},
        {"monitor", "a plant history followed window by window (monitor --json, watch --json)", monitor_fields},
        {"history read", "a history as the monitor read it (monitor --json)", history_read_fields},
        {"store", "what a watch store holds of itself (watch --json)", store_fields},
        {"monitor a1", "the a1 a monitor's windows were fitted with (monitor --json)", monitor_a1_fields},
        {"monitor summary", "a monitor's windows counted (monitor --json)", monitor_summary_fields},
        {"drift", "where a rate factor changed over a history (monitor --json)", drift_fields},
        {"screening finding", "what screening found in a history's column (monitor --json)", screening_fields},
        {"trend", "where a rate factor moved steadily over a history (monitor --json)", trend_fields},
        {"meter bias span", "a meter or lab quantity that read wrong over a span of windows (monitor --json)",
         bias_span_fields},
        {"alert", "an alert raised by watch over a plant's history (watch --json)", alert_fields},
    };
    return all;
}

}  // namespace

const char* kind_name(field_kind kind) {
    switch (kind) {
        case k::number: return "number";
        case k::count: return "count";
        case k::text: return "text";
        case k::time: return "time";
        case k::flag: return "flag";
        case k::table: return "table";
        case k::nested: return "nested";
        case k::numbers: return "numbers";
        case k::texts: return "texts";
    }
    return "";
}

std::span<const domain_type> domain_types() { return types(); }

const domain_type& type_of(std::string_view type) {
    for (const domain_type& t : types()) {
        if (type == t.name) return t;
    }
    throw std::logic_error("no type " + std::string(type) + " is declared");
}

const schema_field& field_of(std::string_view type, std::string_view name) {
    for (const schema_field& f : type_of(type).fields) {
        if (name == f.name) return f;
    }
    throw std::logic_error("no field " + std::string(name) + " of " + std::string(type) + " is declared");
}

const schema_field* declared(std::string_view type, std::string_view column) {
    for (const schema_field& f : type_of(type).fields) {
        if (member_of(f.name, column)) return &f;
    }
    return nullptr;
}

const schema_field* document_field(std::string_view type, std::string_view path) {
    for (const schema_field& f : type_of(type).fields) {
        if (member_of(*f.at != '\0' ? f.at : f.name, path)) return &f;
    }
    return nullptr;
}

std::string filled(std::string_view text, std::string_view what) {
    std::string s(text);
    for (std::size_t open = s.find('<'); open != std::string::npos; open = s.find('<', open + what.size())) {
        const std::size_t close = s.find('>', open);
        if (close == std::string::npos) break;
        s.replace(open, close - open + 1, what);
    }
    return s;
}

const char* case_unit(std::string_view name) {
    const std::optional<setting> s = setting_named(std::string(name));
    if (!s) return "";
    const schema_field* f = declared("case", setting_column(*s));
    return f == nullptr ? "" : f->unit;
}

}  // namespace workbench
