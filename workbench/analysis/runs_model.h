// The reactor as the estimator's model: each test run is its own case (the
// base case with the run's settings), solved in-process at the rate factors
// the estimator asks for, warm-started from the last solution of the same
// run; its predicted CO2 conversion and the outlet's lab analysis, the
// NC-FLOW mass fractions as the plug-in's UPROPU returns them.
#ifndef UREA_WORKBENCH_ANALYSIS_RUNS_MODEL_H
#define UREA_WORKBENCH_ANALYSIS_RUNS_MODEL_H

#include <cstddef>
#include <string>
#include <vector>

#include "analysis/estimate.h"
#include "analysis/uncertainty.h"
#include "io/runs_file.h"
#include "model/case.h"
#include "solver/reactor.h"
#include "session/session.h"

namespace workbench {

// One run's predicted values: the outlet alone (trays or plug flow, no
// equilibrium), its NC-FLOW from UPROPU and the four mass fractions. A
// conversion that is undefined for the run's feed is left at 0 (a run
// that measures it is refused before: see conversion_defined). Not ok,
// with the solver's one-line message, when the reactor has no solution.
// warm: the profile of an earlier solution of the same run, tried first
// and replaced by this one's when it is found; may be null or empty.
model::outcome predict_run(const reactor_case& c, workbench_host& h, std::vector<station>* warm);

class runs_model final : public model {
public:
    // cases: the runs' cases in order, with any a1 and a2 (replaced at each
    // prediction).
    runs_model(workbench_host& h, std::vector<reactor_case> cases);

    outcome predict(std::size_t run, double ln_a1, double ln_a2) override;
    bool stopped() const override { return h_.stopped(); }
    void check_stop() override { h_.check_stop(); }
    // The runs and each one's last solution, on the same host.
    std::unique_ptr<model> copy() const override;
    long predictions() const override { return solves_; }
    void add_predictions(long n) override { solves_ += n; }
    // The runs' cases and each one's last solution; and the model from them
    // on a host (its count of predictions at 0).
    std::string bytes() const override;
    static runs_model of_bytes(workbench_host& h, const std::string& bytes);

    const reactor_case& case_of_run(std::size_t run) const { return cases_[run]; }
    long solves() const { return solves_; }

private:
    workbench_host& h_;
    std::vector<reactor_case> cases_;
    std::vector<std::vector<station>> warm_;  // by run: the last solution's profile
    long solves_ = 0;
};

// A bootstrap's resamples computed elsewhere (session/workers.h): resample
// `chunk` from what bootstrap() sent, on the session.
void run_sent_bootstrap_chunk(session& s, const std::string& state, std::size_t chunk,
                              const std::function<void(const std::string&)>& emit);

// An estimate from a runs file, checked and laid out before the plug-in is
// loaded: the runs, the base case, each run's case and measurements, and
// the estimator's options (their start: the base case's a1 and a2).
struct estimate_problem {
    runs_file runs;
    reactor_case base;
    std::vector<reactor_case> cases;
    std::vector<observed_run> observed;
    estimate_options options;
    std::vector<std::string> warnings;  // the runs' cases' (temperatures the plug-in clamps)
};

// Throws input_error (runs_error naming the run's line and column) for a run
// whose case fails validate, for a measured conversion that the run's feed
// leaves undefined, for fewer measurements than free parameters, and for a
// start outside the search box.
estimate_problem estimate_problem_of(runs_file runs, const reactor_case& base, estimate_options options);

// The base case with the estimate's factors, as a flowsheet takes it: only a
// determined factor changed; a factor held with --fix at its held value; an
// undetermined one kept at the base case's value, and a determined factor
// beside it re-estimated with it held there, so that the case fits the runs
// as well as it can with that value.
struct tuned_factor {
    double value = NAN;
    bool changed = false;  // differs from the base case's
    enum class how { estimated, held, kept } source = how::kept;
    // kept: the base case's value lies outside the factor's 95 % profile
    // interval, i.e. the runs rule it out.
    bool ruled_out = false;
    // estimated: re-estimated with the other factor kept at its base value.
    bool with_other_kept = false;
};
struct tuned_case {
    reactor_case c;
    std::array<tuned_factor, 2> factors;
    double co2_conversion = NAN;  // the case run as `urea-reactor` runs it
};

struct estimate_outcome {
    estimate_problem problem;
    estimate_result result;
    long reactor_solves = 0;  // every solve of a run, the first check's included
    // By run: the highest CO2 conversion the model can reach at the run's
    // conditions (its equilibrium conversion, the highest over the
    // reactor's temperatures); NaN for a run that measures no conversion.
    std::vector<double> reachable;
    likelihood_region region;            // when options.region and both factors are free
    leave_one_out_result leave_one_out;  // when options.leave_one_out
    bootstrap_result bootstrap;          // when options.bootstrap > 0
    tuned_case tuned;
};

// Checks that every run is solvable where the search starts (this also
// gives each its first warm start), then estimates, with the region, the
// resampling and the tuned case the options ask for. Throws solver_error
// naming the run (file and line) that has no solution there, when no start
// gives a usable fit, or when the tuned case has no solution.
estimate_outcome estimate_runs(workbench_host& h, const estimate_problem& problem);

}  // namespace workbench

#endif
