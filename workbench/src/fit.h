// Finding the dehydration rate factor a2 that gives a wanted outlet CO2
// conversion: a bracketing root finder (Boost.Math's TOMS 748) on ln a2.
#ifndef UREA_WORKBENCH_FIT_H
#define UREA_WORKBENCH_FIT_H

#include "case.h"
#include "workbench_host.h"

namespace workbench {

struct fit_result {
    double a2;
    double co2_conversion;              // reached with a2
    double equilibrium_co2_conversion;  // at the outlet conditions
    int evaluations;                    // reactor runs
};

// Throws input_error for a target outside (0, equilibrium) and
// solver_error when no bracket or no root is found.
fit_result fit_a2(const reactor_case& c, workbench_host& h, double target);

}  // namespace workbench

#endif
