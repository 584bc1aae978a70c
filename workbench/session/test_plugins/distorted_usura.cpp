// A plug-in build whose rate routine is the real one with its results
// distorted: every rate it writes is multiplied by DISTORTION (1.02 for a
// build that is slightly wrong, NAN for one that breaks every solver).
#include <cmath>
#include <cstring>

#include "wrapped_usura.h"

namespace {
void adjust_rates(const double*, const double* before, double* rates, host_int nc) {
    for (host_int i = 0; i < nc && i < 100; ++i) {
        if (std::memcmp(&rates[i], &before[i], sizeof(double)) != 0) {
            rates[i] = rates[i] * DISTORTION;
        }
    }
}
}  // namespace
