// The two paths of urea::exp (kinetics/exp.h), for tests that check each on
// its own. Same floating-point environment as urea::exp.
#ifndef UREA_KINETICS_EXP_INTERNAL_H
#define UREA_KINETICS_EXP_INTERNAL_H

#include <cstdint>

namespace urea::exp_detail {

// The fast path, for finite x with |x| < 746. Returns true and sets y to e^x
// rounded to nearest when its double-double result decides the rounding and
// the result is a normal double; returns false, y untouched, otherwise (about
// one argument in 10,000, and every subnormal or near-overflow result).
bool exp_fast(double x, double& y) noexcept;

// The fast path's double-double result before its rounding test, for tests
// of its error bound: e^x / 2^k = zh + zl within fast_error (same domain).
struct fast_parts {
    double zh, zl;
    int k;
};
fast_parts exp_fast_parts(double x) noexcept;
// The bound the rounding test assumes, 1.5 2^-67, 2.6 times the proven one.
inline constexpr double fast_error = 0x1.8p-67;

// The precise path, for finite x with x_underflow <= x < x_overflow
// (kinetics/exp_table.h): e^x rounded to nearest from a 192-bit fixed-point
// result. `decided` is false when even this result could not tell on which
// side of a midpoint e^x lies (no such argument is known); value is then the
// rounding of that result.
struct precise_result {
    double value;
    bool decided;
};
precise_result exp_precise(double x) noexcept;

// The precise path's unrounded result, for tests of its error bound:
// e^x = 2^k (m[2] 2^128 + m[1] 2^64 + m[0]) 2^-191 within 12.1 units of m.
// Same domain as exp_precise, |x| >= 2^-54.
struct precise_fixed {
    std::uint64_t m[3];
    int k;
};
precise_fixed exp_precise_fixed(double x) noexcept;

}  // namespace urea::exp_detail

#endif
