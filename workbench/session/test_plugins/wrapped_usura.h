// The real rate routine under the exported name, wrapped: after it has
// written the rates, a test build changes them in adjust_rates(), which the
// build defines. `before` holds rates 1..nc (at most 100) as they were
// before the call, so that a build can tell which ones the routine wrote.
#ifndef UREA_WORKBENCH_TEST_PLUGINS_WRAPPED_USURA_H
#define UREA_WORKBENCH_TEST_PLUGINS_WRAPPED_USURA_H

#define USURA reference_usura
#include "kinetics/usura.cpp"
#undef USURA

namespace {
// stream: flows 1..nc, total flow, temperature, pressure (0-based here).
void adjust_rates(const double* stream, const double* before, double* rates, host_int nc);
}  // namespace

extern "C" UREA_EXPORT void USURA(
    const double* stream, const void* a2, const void* a3, const void* a4, const void* a5,
    const void* a6, const void* a7, const double* params, const void* a9, const void* a10,
    const void* host_opts, const void* a12, const void* a13, const void* a14, const void* a15,
    const void* a16, const void* a17, const void* a18, double* rates, const void* a20,
    const void* a21, const void* a22, const void* a23, const void* a24, const void* a25,
    const void* a26, const void* a27, const void* a28, const void* a29, const host_int* n_present,
    const host_int* present_pos, const void* fug_extra, const double* x_present) {
    double before[100] = {};
    const host_int nc = HOST_COMPONENT_COUNT;
    for (host_int i = 0; i < nc && i < 100; ++i) before[i] = rates[i];
    reference_usura(stream, a2, a3, a4, a5, a6, a7, params, a9, a10, host_opts, a12, a13, a14,
                    a15, a16, a17, a18, rates, a20, a21, a22, a23, a24, a25, a26, a27, a28, a29,
                    n_present, present_pos, fug_extra, x_present);
    adjust_rates(stream, before, rates, nc);
}

#endif
