// Keeps the host's floating-point environment out of the library's arithmetic.
//
// Hosts often run with floating-point traps enabled. Inside a hold the
// library computes non-stop (IEEE results: inf, NaN) and on leaving it puts
// back the host's environment exactly as it was: trap mask, rounding mode and
// the exception flags the host had raised, none of ours added.
#ifndef UREA_FP_HOLD_H
#define UREA_FP_HOLD_H

#include <cfenv>

namespace urea {

class fp_hold {
public:
    fp_hold() noexcept { std::feholdexcept(&saved_); }
    ~fp_hold() { std::fesetenv(&saved_); }
    fp_hold(const fp_hold&) = delete;
    fp_hold& operator=(const fp_hold&) = delete;

private:
    std::fenv_t saved_;
};

}  // namespace urea

#endif
