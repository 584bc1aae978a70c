// Case studies: the reactor run over many cases, each point a whole run
// solved in-process and warm-started from its nearest solved neighbour,
// with the results asked for by name (model/results.h). The cases are a
// grid (every combination of the values of any number of varied
// quantities, the first fastest) or the rows of a case table (a CSV file,
// one case per row). A point that fails is recorded with the solver's
// message and the study goes on.
//
// Points are handed to a sink one at a time, in order, and not kept: a
// study of any size runs in the same memory.
#ifndef UREA_WORKBENCH_ANALYSIS_STUDY_H
#define UREA_WORKBENCH_ANALYSIS_STUDY_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/bands.h"
#include "io/runs_file.h"
#include "model/case.h"
#include "solver/reactor.h"
#include "model/results.h"
#include "model/settings.h"
#include "session/session.h"

namespace workbench {

// At most this many points in a study, all variables together (or rows).
inline constexpr std::size_t max_study_points = 100000;

// A quantity a study varies: a case setting, a1, a2 or the reactor model.
struct study_variable {
    std::string given;             // as given, "NAME=FROM:TO:N"
    field_ref source;              // the field it was given as, for messages (see base/words.h)
    std::string name;              // "a1", "a2", "model" or the setting's column name (runs files, case files)
    std::optional<setting> which;  // empty for a1, a2 and the model
    bool log_spacing = false;      // values evenly spaced in ln (default for a1 and a2)
    bool listed = false;           // values given one by one (NAME=V1,V2,...)
    std::vector<double> values;    // the model: 0 trays, 1 plug flow
};

// Reads one --vary: NAME=FROM:TO:N, NAME=log:FROM:TO:N, NAME=lin:FROM:TO:N,
// or NAME=V1,V2,... (the values in that order; one value alone is a list of
// one). NAME is a1, a2, model (model=trays,pfr) or any setting a runs file
// may change, by its column or command-line name (nh3_co2, nh3-co2, t-out,
// outlet_temperature_C, volume, trays, co2, feed_kmol_h.H2O, ...). a1 and a2
// are spaced evenly in ln by default, anything else evenly; trays must be
// whole numbers. Throws input_error about the field and what is wrong.
// numbers: the parts after NAME= where the caller gave them as numbers (a
// Python tuple's or list's), each used for its part of the text, which is
// then only quoted; ignored unless as many as the parts.
study_variable parse_vary(const field_ref& source, const std::vector<std::optional<double>>& numbers = {});
study_variable parse_vary(const std::string& text);       // given alone

// A study checked and laid out before anything runs.
struct study_plan {
    reactor_case base;
    std::vector<study_variable> vars;  // a grid: every combination, variable 1 fastest
    std::optional<case_table> table;   // or the rows of a case table
    std::vector<result_quantity> results;
    std::size_t points = 0;
    // What each point reports of its case, by name ("a2", "nh3_co2",
    // "model"): the grid's variables, or the table's setting columns in
    // the file's order; the value the point ran at.
    std::vector<std::string> settings;
    std::vector<std::string> warnings;  // of the checks (temperatures the plug-in clamps)
    // A varied quantity that changes no result for this case (pressure with
    // the built-in fugacities, trays in plug flow), and results empty at
    // some points (a tray the reactor does not have), said once each.
    std::vector<message> notes;
    // Each point's results with their 95 % bands from an estimate (see
    // add_bands); none when empty.
    std::optional<band_plan> bands;
};

// Each point run at the estimate's rate factors, its results with their
// bands (analysis/bands.h): the base case (and every point's) takes the
// estimate's a1 and a2. Throws input_error when the study varies a1 or a2
// (a grid's variable, a case table's column), which the estimate sets.
void add_bands(study_plan& plan, band_plan bands);

// A grid: every combination of the variables' values. Throws input_error
// for a base case or a point that fails validate, variables that cannot go
// together (one varied twice, a ratio and the flow it sets), more than
// max_study_points points, or a result no point has (a tray past the last).
study_plan plan_study(const reactor_case& base, std::vector<study_variable> vars,
                      std::vector<result_quantity> results);
// The rows of a case table, each the base case changed as a runs file's
// row changes it (and a1, a2, model). Throws input_error (runs_error naming
// the row's line and column) for a row whose case fails validate.
study_plan plan_study(const reactor_case& base, case_table table, std::vector<result_quantity> results);

// A quantity's value in a case, by the name a point reports it under
// (plan.settings: "a2", "nh3_co2", "model", ...).
double value_in(const reactor_case& c, const std::string& name);

// The case of point p (0-based), as plan_study checked it.
reactor_case study_case(const study_plan& plan, std::size_t p);
// Its settings as a point reports them (by plan.settings), from its case c.
std::vector<double> study_settings(const study_plan& plan, std::size_t p, const reactor_case& c);

// One point as the study hands it on; valid during the sink's call.
struct study_point {
    std::size_t index = 0;               // 0-based
    std::vector<double> settings;        // by plan.settings (the model: 0 trays, 1 plug flow)
    const std::vector<std::string>* carried = nullptr;  // a case table's other cells, by table->carried
    bool ok = false;
    std::string failure;                 // the solver's one-line message when not ok
    std::string details;                 // what each start of the solver ended with
    std::vector<double> values;          // by plan.results; NaN where undefined (not ok: empty)
    // Of the point's solution when ok: whether its CO2 conversion is
    // defined, its largest tray balance residual.
    bool conversion_defined = true;
    double max_balance_residual = 0.0;
    long rate_calls = 0;                 // the point's, its bands' included
    // With the plan's bands: each result's band (by plan.results; NaN
    // where it has none), and how many of the band's points the reactor
    // could not solve here (left out).
    std::vector<result_band> bands;
    std::size_t band_unsolved = 0;
};

using study_sink = std::function<void(const study_point&)>;

struct study_summary {
    std::size_t points = 0;
    std::size_t failed = 0;
    long rate_calls = 0;
};

// How a study is cut into chunks, the same for any number of workers: runs
// of whole rows of the grid (a row: the first quantity's values at one value
// of the others) of at most this many points, or a row longer than that in
// near-equal pieces of at most this many; a case table in runs of this many
// rows. Each chunk is its own chain of warm starts.
inline constexpr std::size_t study_chunk_points = 32;
struct point_range {
    std::size_t begin = 0, end = 0;  // points begin .. end - 1
};
std::vector<point_range> study_chunks(const study_plan& plan);

// Runs every point, handing each to the sink in order, each tray
// warm-started from the nearest solved point before it in its chunk along
// the grid (the previous point; at the start of a row the first point of
// the row before, and so on up the grid's dimensions; a case table: the row
// before); the first point of a chunk starts cold. The chunks run on the
// session's workers (session::workers(); the sink is called here). Never
// throws for a solver's failure: the point records it; a point a worker
// could not finish (its plug-in crashed or hung) is recorded as failed with
// why, and so is the rest of its chunk. Checks the session's stop after
// each point.
study_summary run_study(const study_plan& plan, workbench_host& h, const study_sink& sink);

// For work sent to another process or machine (session/workers.h): a plan
// as bytes and back, the same plan to the last bit (its base case through
// its case file's text); one chunk's points (emit: each as bytes), and a
// point from its bytes (all but carried, which the plan's table holds).
std::string study_plan_bytes(const study_plan& plan);
study_plan study_plan_of(const std::string& bytes);
void run_study_chunk(const study_plan& plan, point_range points, workbench_host& h,
                     const std::function<void(const std::string&)>& emit);
std::string study_point_bytes(const study_point& p);
void read_study_point(const std::string& bytes, study_point& p);
// That a point read from a worker fits the plan: its number is index, its
// settings, values and bands as many as the plan's (worker_answer_error).
void check_study_point(const study_plan& plan, std::size_t index, const study_point& p);
// Chunk `chunk` of the plan in study_plan_bytes' state, on the session.
void run_sent_study_chunk(session& s, const std::string& state, std::size_t chunk,
                          const std::function<void(const std::string&)>& emit);

// "a2 = 0.1, nh3_co2 = 3" (a case table: "line 4"): a point's settings, for messages.
std::string point_text(const study_plan& plan, const study_point& p);

// A setting's value as a table shows it: "pfr" for the model, else the number.
std::string setting_text(const std::string& name, double v, int digits = 6);

}  // namespace workbench

#endif
