// The reference for the library's exponential: GNU MPFR's exp, rounded to
// nearest in binary64 (53 bits, exponents of the doubles, subnormals
// included). Used only by tests and the offline tools.
#ifndef UREA_TESTS_MPFR_EXP_H
#define UREA_TESTS_MPFR_EXP_H

#include <mpfr.h>

namespace reference {

// e^x rounded to nearest as a double: MPFR with the exponent range of
// binary64 and its subnormals. Not reentrant (one working number per thread).
inline double exp(double x) {
    thread_local struct number {
        mpfr_t v;
        number() { mpfr_init2(v, 53); }
        ~number() { mpfr_clear(v); }
    } y;
    const mpfr_exp_t emin = mpfr_get_emin();
    const mpfr_exp_t emax = mpfr_get_emax();
    mpfr_set_emin(-1073);  // 2^-1074 = 0.1b x 2^-1073
    mpfr_set_emax(1024);
    mpfr_set_d(y.v, x, MPFR_RNDN);  // exact
    int inexact = mpfr_exp(y.v, y.v, MPFR_RNDN);
    inexact = mpfr_subnormalize(y.v, inexact, MPFR_RNDN);
    const double d = mpfr_get_d(y.v, MPFR_RNDN);  // exact
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
    return d;
}

}  // namespace reference

#endif
