// The workbench's one API: everything the command line and the Python module
// do, for any C++ program.
//
// Each command is a request (request/*.h) that holds what the user asked in
// neutral terms, checked whole by one function before anything runs; its
// errors name the request's field (base/words.h), which each client says in
// its own words. Then the work, on a session, and the result as plain data
// and as the tables every client writes (report/table.h):
//
//   workbench::session s;                                  // loads the plug-in
//   workbench::study_request r;
//   r.vary = {{"a2=0.01:10:7"}};
//   r.results = {{"outlet_kg_h.UREA"}};
//   const workbench::study_job job = workbench::check_study(r, {});   // throws input_error
//   const workbench::study_document d = workbench::study(s, job.plan); // d.points: a table
//   workbench::reactor_case c = workbench::with_named(workbench::default_case(), {{"nh3_co2", 3.2}});
//   const workbench::result res = workbench::run(s, c);    // res.co2_conversion, res.profile, ...
//
// A case comes from the built-in default (default_case), a file
// (read_case) or code (a reactor_case is a plain struct), changed by named
// settings (with_named). Results are plain structs. Errors are types:
// input_error (bad input, with the field, or the key, file, line and column
// where known; runs_error for a runs file), plugin_error (a plug-in that
// does not load), solver_error (no solution), interrupted (the session's
// stop check said stop); anything else is a bug.
//
// Each function holds session::work_lock() while it works: one piece of
// work at a time per process (the plug-in is not reentrant); other threads
// wait.
#ifndef UREA_WORKBENCH_API_WORKBENCH_H
#define UREA_WORKBENCH_API_WORKBENCH_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "analysis/bands.h"
#include "analysis/design.h"
#include "analysis/estimate.h"
#include "analysis/fit.h"
#include "analysis/monitor.h"
#include "analysis/runs_model.h"
#include "analysis/study.h"
#include "analysis/sweep.h"
#include "analysis/uncertainty.h"
#include "io/case_file.h"
#include "io/history_file.h"
#include "io/runs_file.h"
#include "model/case.h"
#include "base/errors.h"
#include "solver/reactor.h"
#include "model/results.h"
#include "model/settings.h"
#include "report/estimate_file.h"
#include "report/study_report.h"
#include "request/check.h"
#include "request/common.h"
#include "request/estimate.h"
#include "request/monitor.h"
#include "request/watch.h"
#include "store/database.h"
#include "store/watch.h"
#include "request/run.h"
#include "request/study.h"
#include "session/check.h"
#include "session/session.h"
#include "session/version.h"

namespace workbench {

// Runs a case: the profile, the outlet, the equilibrium at the outlet and the
// outlet's NC-FLOW. Throws input_error for a case that fails validate,
// solver_error when the reactor has no solution. result.warnings: what
// validate warned of.
result run(session& s, const reactor_case& c);

// The a2 that gives an outlet CO2 conversion `target` (a fraction), the
// case's other values kept (see analysis/fit.h).
fit_result fit(session& s, const reactor_case& c, double target);

// Estimates a1 and a2 from the runs of a prepared problem (estimate_problem_of
// checks the runs against the base case without the plug-in). Throws
// solver_error when a run has no solution where the search starts, or no
// start gives a usable fit.
//
// The outcome says how sure the estimate is, as plain data: each free
// factor's 95 % profile-likelihood interval with the scan behind it
// (result.parameters[k].profile), the linearised one (lower95, upper95,
// result.covariance), the joint 95 % region of (a1, a2) as slices along a1
// with the linearised ellipse (region), each run left out (leave_one_out),
// the bootstrap's resamples when problem.options.bootstrap > 0 (bootstrap),
// and the tuned case (tuned).
estimate_outcome estimate(session& s, const estimate_problem& problem);

// Runs a case at an estimate's rate factors (the case's a1 and a2
// replaced), each result with its 95 % band (analysis/bands.h): plan the
// bands with plan_bands(uncertainty_of(outcome)) or
// plan_bands(read_estimate_file("est.json")). Throws input_error for a case
// that fails validate, solver_error when it has no solution at the
// estimate; a band point the reactor cannot solve is left out and counted.
prediction predict(session& s, const reactor_case& c, const band_plan& bands,
                   const std::vector<result_quantity>& results = run_band_results());

// The design of the next test run (analysis/design.h): every candidate of
// the problem's plan (design_problem_of checks it without the plug-in)
// solved at the estimate, ranked by how much it would shrink the factors'
// uncertainty, with the verdict in words. Estimates first when the problem
// holds no estimate. Throws solver_error when a current run has no
// solution at the estimate.
design_result design(session& s, const design_problem& p);

// More bootstrap resamples of an estimate's runs, drawn with `seed`
// (the same seed, the same resamples). Throws input_error for
// resamples < 1.
bootstrap_result bootstrap(session& s, const estimate_outcome& outcome, int resamples, std::uint64_t seed);

// Follows a reactor through a plant history (analysis/monitor.h): the
// history read with read_history and checked with monitor_problem_of
// (without the plug-in); then screened (its left-out values set to NaN in
// problem.h), cut into windows, each steady window tested for the atom
// balance and fitted for a2 with its 95 % profile interval, and the drifts
// of a2 found, the fits on the session's workers (session::workers()). A
// window the reactor cannot solve, or lost with its worker, is recorded
// and the monitor goes on. `progress` (may be empty): (windows whose
// interval was taken, of the windows to fit).
monitor_result monitor(session& s, monitor_problem& problem,
                       const std::function<void(std::size_t, std::size_t)>& progress = {});

// One pass of `watch` over its store (store/watch.h): what is new in the
// source read and kept, the monitor followed again on the session's
// workers when a window completed, the alerts updated; one transaction
// (rolled back, not committed, with j.dry_run). The caller holds the
// store's lock (database::try_lock).
watch_pass_report watch_once(session& s, database& db, const watch_job& j, const build_info& build, std::int64_t now_ms);

// Runs every point of a planned sweep (plan_sweep checks every point's case
// without the plug-in; a sweep is a study of one or two quantities with the
// default results); a point that fails is recorded, and the sweep goes on.
sweep_result sweep(session& s, const sweep_plan& plan);

// Runs every point of a planned study (plan_study checks every point's case
// without the plug-in), handing each to the sink in order as it is solved
// (the sink may write it out; nothing is kept, so a study of any size runs
// in the same memory); a point that fails is recorded and the study goes on.
study_summary study(session& s, const study_plan& plan, const study_sink& sink);

// A study's points all at once: the table the command line writes as CSV
// (report/study_report.h: the settings, a case table's other columns, each
// result, NaN where a point failed, the failure), and the summary.
struct study_document {
    table points;
    study_summary summary;
    std::vector<std::string> warnings;  // the plan's
    std::vector<message> notes;         // the plan's
};
study_document study(session& s, const study_plan& plan);

// Work sent to other machines (worker_options::elsewhere, session/workers.h):
// chunk `chunk` of a piece of work of the kind ("study", "design",
// "bootstrap"), from everything it is computed from (chunk_work::state), on
// this session's plug-in, each result handed to emit: the same bytes as on
// the machine that sent it. Throws input_error for an unknown kind.
void run_sent_chunk(session& s, const std::string& kind, const std::string& state, std::size_t chunk,
                    const std::function<void(const std::string&)>& emit);

// build_info and build_of (the workbench's and a plug-in file's versions,
// for a report): session/version.h.

}  // namespace workbench

#endif
