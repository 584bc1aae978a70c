// Finding the dehydration rate factor a2 that gives a wanted outlet CO2
// conversion. Conversion need not rise with a2 all the way: with a
// temperature that falls along the reactor, urea made in the hot trays
// survives slow dehydration in the cold ones but turns back into carbamate
// when dehydration is fast, so a target may be reached by two a2, or by
// none although it is below the equilibrium at the outlet. The search scans
// a2 over decades, takes the highest conversion any a2 reaches, and finds
// every a2 that gives the target (Boost.Math's TOMS 748 on ln a2).
#ifndef UREA_WORKBENCH_ANALYSIS_FIT_H
#define UREA_WORKBENCH_ANALYSIS_FIT_H

#include <vector>

#include "model/case.h"
#include "solver/reactor.h"
#include "session/session.h"

namespace workbench {

struct fit_point {
    double a2;
    double co2_conversion;
};

struct fit_result {
    double a2;                          // the solution nearest the case's a2 (in ln a2)
    double co2_conversion;              // reached with a2
    double equilibrium_co2_conversion;  // at the outlet conditions
    std::vector<fit_point> solutions;   // every a2 found that gives the target, ascending
    fit_point highest;                  // the highest conversion any a2 reaches
    int evaluations;                    // reactor runs
    result run;                         // the whole run with a2
};

// Throws input_error for a target that is not a number in (0, 1), for a
// feed with no defined conversion, and for a target above what any a2
// reaches; solver_error when a reactor run fails.
fit_result fit_a2(const reactor_case& c, workbench_host& h, double target);

}  // namespace workbench

#endif
