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
// On x86-64 the library's arithmetic is SSE only, so
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

    // MXCSR as the hold set it, for a nested hold that need not read it.
    unsigned inside() const noexcept { return (saved_ | all_masks) & ~all_flags; }

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

// Round to nearest for the library's exponential (kinetics/exp.h), whatever
// mode the host runs in, so that its results are the same everywhere: inside
// the hold MXCSR rounds to nearest, with flush-to-zero and denormals-are-zero
// off and every trap masked; leaving it puts MXCSR's control bits back as
// they were. Elsewhere the C environment: held, then round to nearest.
//
// On x86-64 MXCSR is written only when it must change, and not even read
// inside an fp_hold, which knows it: reading or writing it waits for SSE
// operations in flight, which cost the rate routine some 35 ns, more than its
// three exponentials. When nothing changed, the flags raised inside stay
// raised, as after any arithmetic (inside fp_hold they are the library's own
// and dropped on leaving it); when MXCSR was changed, leaving puts it back
// exactly, flags included.
#if defined(__x86_64__)
class nearest_hold {
public:
    nearest_hold() noexcept : nearest_hold(_mm_getcsr()) {}
    explicit nearest_hold(const fp_hold& outer) noexcept : nearest_hold(outer.inside()) {}
    ~nearest_hold() {
        if (changed_) {
            _mm_setcsr(saved_);
        }
    }
    nearest_hold(const nearest_hold&) = delete;
    nearest_hold& operator=(const nearest_hold&) = delete;

private:
    explicit nearest_hold(unsigned now) noexcept : saved_(now) {
        const unsigned nearest = (saved_ | all_masks) & ~(rounding | flush_to_zero | denormals_are_zero);
        changed_ = nearest != saved_;
        if (changed_) {
            _mm_setcsr(nearest);
        }
    }

    static constexpr unsigned all_masks = 0x1f80u;           // IM DM ZM OM UM PM
    static constexpr unsigned rounding = 0x6000u;            // RC: 00 is to nearest
    static constexpr unsigned flush_to_zero = 0x8000u;       // FZ
    static constexpr unsigned denormals_are_zero = 0x0040u;  // DAZ
    unsigned saved_;
    bool changed_;
};
#else
class nearest_hold {
public:
    nearest_hold() noexcept {
        std::feholdexcept(&saved_);
        std::fesetround(FE_TONEAREST);
    }
    explicit nearest_hold(const fp_hold&) noexcept : nearest_hold() {}
    ~nearest_hold() { std::fesetenv(&saved_); }
    nearest_hold(const nearest_hold&) = delete;
    nearest_hold& operator=(const nearest_hold&) = delete;

private:
    std::fenv_t saved_;
};
#endif

// Keeps the computation of v on its side of a change of the floating-point
// environment: the compiler must have v before this point, and may not
// assume it knows v after it.
inline void fp_fence(double& v) noexcept {
#if defined(__x86_64__)
    asm volatile("" : "+x"(v));
#else
    asm volatile("" : "+m"(v));
#endif
}

}  // namespace urea

#endif
