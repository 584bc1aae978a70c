// The reactor as the estimator's model: each test run is its own case (the
// base case with the run's settings), solved in-process at the rate factors
// the estimator asks for, warm-started from the last solution of the same
// run; its predicted CO2 conversion and the outlet's lab analysis, the
// NC-FLOW mass fractions as the plug-in's UPROPU returns them.
#ifndef UREA_WORKBENCH_RUNS_MODEL_H
#define UREA_WORKBENCH_RUNS_MODEL_H

#include <cstddef>
#include <vector>

#include "model/case.h"
#include "analysis/estimate.h"
#include "model/reactor.h"
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

    const reactor_case& case_of_run(std::size_t run) const { return cases_[run]; }
    long solves() const { return solves_; }

private:
    workbench_host& h_;
    std::vector<reactor_case> cases_;
    std::vector<std::vector<station>> warm_;  // by run: the last solution's profile
    long solves_ = 0;
};

}  // namespace workbench

#endif
