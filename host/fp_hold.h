// Keeps the host's floating-point environment out of the library's arithmetic.
//
// Hosts often run with floating-point traps enabled. Inside a hold the
// library computes non-stop (IEEE results: inf, NaN) and on leaving it puts
// back the host's environment exactly as it was: trap mask, rounding mode and
// the exception flags the host had raised, none of ours added.
#ifndef UREA_FP_HOLD_H
#define UREA_FP_HOLD_H

#if defined(__x86_64__)
#include <xmmintrin.h>
#else
#include <cfenv>
#endif

namespace urea {

#if defined(__x86_64__)
// On x86-64 the library's arithmetic, libm's exp included, is SSE only, so
// the hold saves MXCSR, masks every exception and clears the flags; leaving
// puts MXCSR back as it was. Rounding mode and the denormal bits stay as the
// host set them. The x87 environment is never touched and needs no hold (and
// saving it, as feholdexcept does, costs several times the rate law itself).
class fp_hold {
public:
    fp_hold() noexcept : saved_(_mm_getcsr()) {
        _mm_setcsr((saved_ | all_masks) & ~all_flags);
    }
    ~fp_hold() { _mm_setcsr(saved_); }
    fp_hold(const fp_hold&) = delete;
    fp_hold& operator=(const fp_hold&) = delete;

private:
    static constexpr unsigned all_masks = 0x1f80u;  // IM DM ZM OM UM PM
    static constexpr unsigned all_flags = 0x003fu;  // IE DE ZE OE UE PE
    unsigned saved_;
};
#else
class fp_hold {
public:
    fp_hold() noexcept { std::feholdexcept(&saved_); }
    ~fp_hold() { std::fesetenv(&saved_); }
    fp_hold(const fp_hold&) = delete;
    fp_hold& operator=(const fp_hold&) = delete;

private:
    std::fenv_t saved_;
};
#endif

}  // namespace urea

#endif
