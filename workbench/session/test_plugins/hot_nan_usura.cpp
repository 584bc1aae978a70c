// A plug-in build whose rate routine is the real one, except that above
// 190 C (463.15 K) every rate it writes is NaN: cases that stay cooler
// solve as with the real build, hotter ones fail in every solver. For a
// sweep or an estimate in which only some points or runs cannot be solved.
#include <cmath>

#include "wrapped_usura.h"

namespace {
void adjust_rates(const double* stream, const double*, double* rates, host_int nc) {
    if (nc >= 1 && nc <= 100 && stream[nc + 1] > 463.15) {
        for (host_int i = 0; i < nc; ++i) rates[i] = NAN;
    }
}
}  // namespace
