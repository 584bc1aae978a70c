// The library's own exponential.
#ifndef UREA_KINETICS_EXP_H
#define UREA_KINETICS_EXP_H

namespace urea {

// e^x rounded to nearest for every double x: the double nearest e^x, +inf
// from overflow on, correctly rounded subnormals, +0 below them, exp(-inf) =
// +0, exp(+inf) = +inf, a quiet NaN for a NaN (its payload kept, a signalling
// NaN quieted). The same bits on every machine and with any compiler that
// keeps IEEE double arithmetic and has the GNU extension `unsigned __int128`
// (GCC, Clang; not MSVC), which the precise path's 192-bit arithmetic is
// built on: no libm, no fused multiply-add, no x87.
//
// Call it with MXCSR (or the C floating-point environment) at round to
// nearest, flush-to-zero and denormals-are-zero off and every trap masked:
// urea::nearest_hold (host/fp_hold.h) sets exactly that.
double exp(double x) noexcept;

}  // namespace urea

#endif
