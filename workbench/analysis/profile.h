// The profile likelihood of each rate factor (analysis/ only): the factor
// stepped over the whole search box from the best fit outwards, the other
// re-optimised at each step, and where the best fit becomes worse than the
// overall best by the threshold.
#ifndef UREA_WORKBENCH_ANALYSIS_PROFILE_H
#define UREA_WORKBENCH_ANALYSIS_PROFILE_H

#include <optional>
#include <vector>

#include "analysis/estimate.h"
#include "analysis/least_squares.h"

namespace workbench::detail {

// The best fit with factor k held at uk: the other factor re-optimised by
// Levenberg-Marquardt from the best of the guesses (u values), or held where
// the options hold it. Not ok where the model cannot be solved at any guess.
struct inner_fit {
    bool ok = false;
    double other = NAN;      // u of the other factor
    double objective = NAN;
};
inner_fit best_other(fit_problem& fp, std::size_t k, double uk, const std::vector<double>& guesses);

// Fills parameters[k].profile of every free factor of `res`, whose best fit
// lies at `best`. Returns a point that fits better than the best fit (by
// more than 0.01) when the scan finds one: the fit stopped short of another
// basin; the profiles are then not to be used.
// Each direction of the scan from the best fit, each crossing of the
// threshold and each row of the coarse map of the objective is a piece of
// work of its own (run_pieces), from the model as it is at the call.
std::optional<point> profile_factors(fit_problem& fp, estimate_result& res, point best, const estimate_split& split);

}  // namespace workbench::detail

#endif
