// A plug-in build whose rate routine is the real one, counted from the
// build's load: past RATE_CALL_CAP calls every rate it writes is NaN, which
// ends every solver, so that a solver that would call it for ever fails
// instead. DRIFT scales the rates of call k by 1 + DRIFT k: the answer at
// a composition is then never the same twice, as the real routine's is not
// where a species it remembers is missing.
#include <cmath>

#define USURA reference_usura
#include "kinetics/usura.cpp"
#undef USURA

namespace {
long calls = 0;
}

extern "C" UREA_EXPORT void USURA(
    const double* stream, const void* a2, const void* a3, const void* a4, const void* a5,
    const void* a6, const void* a7, const double* params, const void* a9, const void* a10,
    const void* host_opts, const void* a12, const void* a13, const void* a14, const void* a15,
    const void* a16, const void* a17, const void* a18, double* rates, const void* a20,
    const void* a21, const void* a22, const void* a23, const void* a24, const void* a25,
    const void* a26, const void* a27, const void* a28, const void* a29, const host_int* n_present,
    const host_int* present_pos, const void* fug_extra, const double* x_present) {
    reference_usura(stream, a2, a3, a4, a5, a6, a7, params, a9, a10, host_opts, a12, a13, a14,
                    a15, a16, a17, a18, rates, a20, a21, a22, a23, a24, a25, a26, a27, a28, a29,
                    n_present, present_pos, fug_extra, x_present);
    ++calls;
    const double factor = calls > RATE_CALL_CAP ? NAN : 1.0 + DRIFT * static_cast<double>(calls);
    const host_int nc = HOST_COMPONENT_COUNT;
    for (host_int i = 0; i < nc && i < 100; ++i) rates[i] *= factor;
}
