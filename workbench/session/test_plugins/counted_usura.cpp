// A plug-in build whose rate routine is the real one, counted from the
// build's load: past RATE_CALL_CAP calls every rate it writes is NaN, which
// ends every solver, so that a solver that would call it for ever fails
// instead. DRIFT scales the rates of call k by 1 + DRIFT k: the answer at
// a composition is then never the same twice, as the real routine's is not
// where a species it remembers is missing.
#include <cmath>

#include "wrapped_usura.h"

namespace {
long calls = 0;

void adjust_rates(const double*, const double*, double* rates, host_int nc) {
    ++calls;
    const double factor = calls > RATE_CALL_CAP ? NAN : 1.0 + DRIFT * static_cast<double>(calls);
    for (host_int i = 0; i < nc && i < 100; ++i) rates[i] *= factor;
}
}  // namespace
