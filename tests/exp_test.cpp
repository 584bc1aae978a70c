// The library's exponential (kinetics/exp.cpp, the object the library is
// linked from) against GNU MPFR: e^x rounded to nearest, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "host/fp_hold.h"
#include "kinetics/exp.h"
#include "kinetics/exp_internal.h"
#include "kinetics/exp_table.h"
#include "tests/exp_hard_cases.h"
#include "tests/mpfr_exp.h"

namespace {

using urea::exp_detail::exp_fast;
using urea::exp_detail::exp_precise;
using urea::exp_detail::x_overflow;
using urea::exp_detail::x_underflow;

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }
double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }
double up(double x, int steps = 1) {
    for (int i = 0; i < steps; ++i) x = std::nextafter(x, std::numeric_limits<double>::infinity());
    return x;
}
double down(double x, int steps = 1) {
    for (int i = 0; i < steps; ++i) x = std::nextafter(x, -std::numeric_limits<double>::infinity());
    return x;
}

// urea::exp under the hold the library puts around it.
double lib_exp(double x) {
    const urea::nearest_hold nearest;
    return urea::exp(x);
}

// Checks urea::exp at x against MPFR; counts the failures, reports the first few.
struct checker {
    long checked = 0, failed = 0;
    void operator()(double x) {
        ++checked;
        const double want = reference::exp(x);
        const double got = lib_exp(x);
        if (bits(got) != bits(want) && ++failed <= 10) {
            ADD_FAILURE() << std::hexfloat << "exp(" << x << ") = " << got << ", MPFR " << want;
        }
    }
};

// Random doubles: uniform in [lo, hi), or with uniform bits in a binade.
std::mt19937_64 rng(20240607);
double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
double in_binade(int e, bool negative) {  // [2^e, 2^(e+1)) or its negative
    const std::uint64_t mantissa = rng() & 0x000f'ffff'ffff'ffffu;
    const auto biased = static_cast<std::uint64_t>(e + 1023);
    return from_bits((negative ? 0x8000'0000'0000'0000u : 0u) | (biased << 52) | mantissa);
}
bool in_domain(double x) { return x >= x_underflow && x < x_overflow; }

// ---- Special values and boundaries ---------------------------------------

TEST(ExpSpecial, ZerosAndArgumentsBelow2ToMinus54GiveOne) {
    checker check;
    const double tiny = 0x1p-54;
    for (double x : {0.0, std::numeric_limits<double>::denorm_min(), 0x1p-1060, 0x1p-1022,
                     0x1p-500, 0x1p-60, down(tiny), tiny, up(tiny), 0x1p-53, up(0x1p-53),
                     down(0x1p-53), 0x1.8p-53}) {
        check(x);
        check(-x);
        EXPECT_EQ(bits(lib_exp(x)), bits(reference::exp(x)));
    }
    EXPECT_EQ(bits(lib_exp(-0.0)), bits(1.0));
    EXPECT_EQ(bits(lib_exp(down(tiny))), bits(1.0));
    EXPECT_EQ(bits(lib_exp(-tiny)), bits(1.0));
    EXPECT_EQ(check.failed, 0);
}

TEST(ExpSpecial, InfinitiesAndNaNs) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(bits(lib_exp(inf)), bits(inf));
    EXPECT_EQ(bits(lib_exp(-inf)), bits(0.0)) << "exp(-inf) is +0";
    // A NaN comes back quiet with its sign and payload: a signalling one
    // gets its quiet bit, a quiet one is returned as it is.
    for (std::uint64_t nan : {0x7ff8'0000'0000'0000u, 0xfff8'0000'0000'0000u, 0x7ff8'0000'0000'1234u,
                              0x7ff0'0000'0000'0001u, 0x7ff4'0000'0000'0abcu, 0xfff0'0000'dead'beefu,
                              0x7fff'ffff'ffff'ffffu}) {
        const double got = lib_exp(from_bits(nan));
        EXPECT_EQ(bits(got), nan | 0x0008'0000'0000'0000u) << std::hex << nan;
    }
#if defined(__x86_64__)
    // No arithmetic on the NaN: not even the invalid flag is raised by a
    // signalling one (the library's result is the same with traps on).
    const unsigned before = _mm_getcsr();
    _mm_setcsr((before | 0x1f80u) & ~0x3fu);
    volatile double s = from_bits(0x7ff0'0000'0000'0001u);
    const double got = urea::exp(s);
    const unsigned flags = _mm_getcsr() & 0x3fu;
    _mm_setcsr(before);
    EXPECT_EQ(bits(got), 0x7ff8'0000'0000'0001u);
    EXPECT_EQ(flags & 0x01u, 0u) << "invalid raised by a signalling NaN";
#endif
}

TEST(ExpBoundaries, OverflowThresholdIsTheLeastArgumentGivingInfinity) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(reference::exp(x_overflow), inf);
    EXPECT_LT(reference::exp(down(x_overflow)), inf);
    checker check;
    for (int i = -300; i <= 300; ++i) {
        check(i < 0 ? down(x_overflow, -i) : up(x_overflow, i));
    }
    for (double x : {709.0, 709.5, 709.78, 710.0, 745.0, 746.0, 1.0e3, 1.0e300,
                     std::numeric_limits<double>::max()}) {
        check(x);
    }
    EXPECT_EQ(bits(lib_exp(down(x_overflow))), bits(reference::exp(down(x_overflow))));
    EXPECT_EQ(check.failed, 0);
}

TEST(ExpBoundaries, UnderflowThresholdIsTheLeastArgumentGivingNonzero) {
    EXPECT_EQ(bits(reference::exp(x_underflow)), bits(std::numeric_limits<double>::denorm_min()));
    EXPECT_EQ(bits(reference::exp(down(x_underflow))), bits(0.0));
    checker check;
    for (int i = -300; i <= 300; ++i) {
        check(i < 0 ? down(x_underflow, -i) : up(x_underflow, i));
    }
    for (double x : {-745.0, -745.5, -746.0, -800.0, -1.0e300, -std::numeric_limits<double>::max()}) {
        check(x);
    }
    EXPECT_EQ(check.failed, 0);
}

// Results below 2^-1022 have fewer than 53 bits: every binade of them, at
// its ends and inside, and the step into the normal range.
TEST(ExpBoundaries, EverySubnormalResultBinade) {
    checker check;
    for (int e = -1075; e <= -1020; ++e) {
        const double edge = e * 0.69314718055994530942;  // e ln 2, a double near it
        for (int i = -40; i <= 40; ++i) {
            const double x = i < 0 ? down(edge, -i) : up(edge, i);
            if (in_domain(x)) check(x);
        }
        for (int i = 0; i < 1500; ++i) {
            const double x = uniform(edge, edge + 0.69314718055994530942);
            if (in_domain(x)) check(x);
        }
    }
    EXPECT_GT(check.checked, 80000);
    EXPECT_EQ(check.failed, 0);
}

TEST(ExpBoundaries, IntegersAndHalves) {
    checker check;
    for (int i = -1492; i <= 1420; ++i) {
        check(i / 2.0);
    }
    EXPECT_EQ(bits(lib_exp(1.0)), bits(0x1.5bf0a8b145769p+1));
    EXPECT_EQ(check.failed, 0);
}

// ---- Random arguments over the whole domain -------------------------------

// Every binade of |x| from 2^-54 up (the last one cut at the thresholds),
// both signs, plus the range the rate law uses: over 10^6 arguments.
TEST(ExpRandom, EveryBinadeOfTheDomain) {
    checker check;
    for (int e = -54; e <= 9; ++e) {
        for (const bool negative : {false, true}) {
            for (int i = 0; i < 7000; ++i) {
                const double x = in_binade(e, negative);
                if (in_domain(x)) check(x);
            }
        }
    }
    for (int i = 0; i < 150000; ++i) {
        check(uniform(-60.0, 0.0));
    }
    for (int i = 0; i < 50000; ++i) {
        check(uniform(x_underflow, x_overflow));
    }
    EXPECT_GE(check.checked, 1000000);
    EXPECT_EQ(check.failed, 0);
}

// ---- Each path alone ------------------------------------------------------

// The fast path, where it answers, answers right; it declines rarely.
TEST(ExpPaths, FastPathIsRightWheneverItDecides) {
    long declined = 0, wrong = 0, n = 0;
    for (int i = 0; i < 200000; ++i) {
        const double x = i % 2 ? uniform(-60.0, 0.0) : uniform(-700.0, 700.0);
        double y = -1.0;
        const urea::nearest_hold nearest;
        ++n;
        if (!exp_fast(x, y)) {
            ++declined;
        } else if (bits(y) != bits(reference::exp(x)) && ++wrong <= 10) {
            ADD_FAILURE() << std::hexfloat << "fast path: exp(" << x << ") = " << y;
        }
    }
    EXPECT_EQ(wrong, 0);
    // About one in 10,000 is expected; many more means a rounding test that
    // is far too cautious (the speed is the fast path's whole point).
    EXPECT_LT(declined, n / 1000) << declined << " of " << n << " declined";
    // Subnormal and near-overflow results are the precise path's.
    double y = 0.0;
    const urea::nearest_hold nearest;
    EXPECT_FALSE(exp_fast(-720.0, y));
    EXPECT_FALSE(exp_fast(down(x_overflow), y));
}

// The precise path alone, on arguments of every kind in its domain.
TEST(ExpPaths, PrecisePathAloneIsCorrectlyRounded) {
    long n = 0, wrong = 0, undecided = 0;
    auto check = [&](double x) {
        ++n;
        const auto r = exp_precise(x);
        undecided += r.decided ? 0 : 1;
        if (bits(r.value) != bits(reference::exp(x)) && ++wrong <= 10) {
            ADD_FAILURE() << std::hexfloat << "precise path: exp(" << x << ") = " << r.value;
        }
    };
    for (int e = -54; e <= 9; ++e) {
        for (const bool negative : {false, true}) {
            for (int i = 0; i < 1500; ++i) {
                const double x = in_binade(e, negative);
                if (in_domain(x)) check(x);
            }
        }
    }
    for (int i = 0; i < 50000; ++i) check(uniform(-60.0, 0.0));
    for (int i = 0; i < 50000; ++i) check(uniform(x_underflow, -700.0));
    for (int i = -300; i <= 300; ++i) {
        check(i < 0 ? down(x_overflow, -i + 1) : up(x_underflow, i));
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(undecided, 0);
    EXPECT_GT(n, 250000);
}

// The fast path's double-double result is within the 2^-67.8 its comments
// prove, which the rounding test's margin (fast_error, 2.6 times that) rests
// on: results alone would show an error grown past the proof only on the
// rare arguments that close to a midpoint. Among the arguments, the worst
// one seen over 1.5 10^8 random ones (2^-68.09).
TEST(ExpPaths, FastPathErrorWithinItsProvenBound) {
    const double proven = std::exp2(-67.8);
    ASSERT_GE(urea::exp_detail::fast_error, 2.5 * proven);
    mpfr_t err;
    mpfr_init2(err, 300);
    double worst = 0.0;
    long over = 0;
    auto check = [&](double x) {
        const auto p = urea::exp_detail::exp_fast_parts(x);
        mpfr_set_d(err, x, MPFR_RNDN);
        mpfr_exp(err, err, MPFR_RNDN);
        mpfr_mul_2si(err, err, -p.k, MPFR_RNDN);
        mpfr_sub_d(err, err, p.zh, MPFR_RNDN);
        mpfr_sub_d(err, err, p.zl, MPFR_RNDN);
        const double e = std::fabs(mpfr_get_d(err, MPFR_RNDN));
        worst = std::max(worst, e);
        if (e > proven && ++over <= 10) {
            ADD_FAILURE() << std::hexfloat << "x = " << x << ": error " << e << std::defaultfloat
                          << " = 2^" << std::log2(e);
        }
    };
    const urea::nearest_hold nearest;
    check(0x1.57bb02fd9f018p+7);
    for (int i = 0; i < 100000; ++i) check(uniform(-700.0, 700.0));
    for (int i = 0; i < 50000; ++i) check(uniform(-60.0, 0.0));
    for (int i = -640; i <= 640; ++i) check(0.0027 * i / 640.0 + std::log(1.5));  // r across its range
    mpfr_clear(err);
    RecordProperty("worst_log2", std::to_string(std::log2(worst)));
    EXPECT_EQ(over, 0) << "arguments whose error exceeds 2^-67.8";
    EXPECT_GT(worst, 0x1p-72) << "the error is much smaller than the analysis says";
}

// The precise path's unrounded result is within the 12.1 units of 2^-191 its
// comments prove (results alone would show a far larger error only near a
// midpoint), over the whole domain, r of either sign and any size.
TEST(ExpPaths, PrecisePathErrorWithinItsBound) {
    mpfr_t want, got, part;
    mpfr_inits2(400, want, got, part, static_cast<mpfr_ptr>(nullptr));
    double worst = 0.0;
    long n = 0;
    auto check = [&](double x) {
        const auto f = urea::exp_detail::exp_precise_fixed(x);
        mpfr_set_d(want, x, MPFR_RNDN);
        mpfr_exp(want, want, MPFR_RNDN);
        mpfr_mul_2si(want, want, 191 - f.k, MPFR_RNDN);
        mpfr_set_ui(got, 0, MPFR_RNDN);
        for (int i = 2; i >= 0; --i) {
            mpfr_mul_2si(got, got, 64, MPFR_RNDN);
            mpfr_set_uj(part, f.m[i], MPFR_RNDN);
            mpfr_add(got, got, part, MPFR_RNDN);
        }
        mpfr_sub(got, got, want, MPFR_RNDN);
        const double units = std::fabs(mpfr_get_d(got, MPFR_RNDN));
        worst = std::max(worst, units);
        ++n;
        if (units > 12.1) {
            ADD_FAILURE() << std::hexfloat << "x = " << x << ": " << std::defaultfloat << units
                          << " units off";
        }
    };
    for (int i = 0; i < 20000; ++i) check(uniform(x_underflow, x_overflow));
    for (int i = 0; i < 20000; ++i) check(uniform(-60.0, 0.0));
    for (int e = -54; e <= 0; ++e) {
        for (int i = 0; i < 100; ++i) check(in_binade(e, (i & 1) != 0));
    }
    for (int i = -64; i <= 64; ++i) check(0.0027 * i / 64.0 + 1.0);  // r across its range
    mpfr_clears(want, got, part, static_cast<mpfr_ptr>(nullptr));
    EXPECT_GT(n, 45000);
    RecordProperty("worst_units", std::to_string(worst));
}

// ---- Hard cases -----------------------------------------------------------

// The committed table (tools/exp_hard_search): each e^x within 2^-100 of a
// midpoint. MPFR still agrees with the table, the library gives the rounded
// value, the precise path decides it, and the fast path declines it (its
// bound is far wider than the distance to the midpoint).
TEST(ExpHardCases, EveryCaseOfTheSearch) {
    long n = 0;
    for (const auto& c : hard::cases) {
        ++n;
        SCOPED_TRACE(testing::Message() << std::hexfloat << "x = " << c.x);
        ASSERT_LE(c.log2_distance, -100.0);
        EXPECT_EQ(bits(reference::exp(c.x)), bits(c.rounded));
        EXPECT_EQ(bits(lib_exp(c.x)), bits(c.rounded));
        if (std::fabs(c.x) >= 0x1p-54) {
            const urea::nearest_hold nearest;
            const auto r = exp_precise(c.x);
            EXPECT_TRUE(r.decided);
            EXPECT_EQ(bits(r.value), bits(c.rounded));
            double y = 0.0;
            EXPECT_FALSE(exp_fast(c.x, y)) << "the fast path decided a hard case";
        }
    }
    EXPECT_GT(n, 1000);
}

// ---- The host's floating-point mode ---------------------------------------

#if defined(__x86_64__)
// Every rounding mode, with and without flush-to-zero and
// denormals-are-zero, with flags raised and traps on: the hold gives the
// same bits as round to nearest, and puts MXCSR's control bits back (all of
// MXCSR when it had to change it).
TEST(ExpModes, EveryHostModeGivesTheSameResults) {
    std::vector<double> args = {0x1p-1074, -0x1p-1070, 0x1p-1022, 0x1p-60,  -0x1p-54, 1.0,
                                -1.0,      -26.26,     -708.5,    -720.0,   -745.0,   709.7,
                                x_underflow, down(x_overflow)};
    for (const auto& c : hard::cases) args.push_back(c.x);
    for (int i = 0; i < 3000; ++i) args.push_back(uniform(-60.0, 0.0));
    for (int i = 0; i < 3000; ++i) args.push_back(uniform(x_underflow, x_overflow));
    std::vector<double> want;
    for (double x : args) want.push_back(reference::exp(x));

    const unsigned saved = _mm_getcsr();
    for (unsigned rc = 0; rc < 4; ++rc) {
        for (unsigned ftz_daz : {0x0000u, 0x8000u, 0x0040u, 0x8040u}) {
            for (unsigned traps_flags : {0x1f80u, 0x1f80u | 0x3fu, 0x0000u}) {
                const unsigned host = (rc << 13) | ftz_daz | traps_flags;
                long wrong = 0;
                for (std::size_t i = 0; i < args.size(); ++i) {
                    _mm_setcsr(host);
                    double got;
                    unsigned inside;
                    {
                        const urea::nearest_hold nearest;
                        inside = _mm_getcsr();
                        got = urea::exp(args[i]);
                    }
                    const unsigned after = _mm_getcsr();
                    _mm_setcsr(saved);
                    if (i == 0) {
                        EXPECT_EQ(inside & 0xffc0u, 0x1f80u) << std::hex << "MXCSR in the hold, host " << host;
                        EXPECT_EQ(after & 0xffc0u, host & 0xffc0u) << std::hex << "MXCSR not put back";
                        if ((host & 0xffc0u) != 0x1f80u) {
                            EXPECT_EQ(after, host) << std::hex << "changed MXCSR not put back exactly";
                        }
                    }
                    if (bits(got) != bits(want[i]) && ++wrong <= 3) {
                        ADD_FAILURE() << std::hexfloat << "MXCSR " << std::hex << host << ": exp("
                                      << args[i] << ") = " << got << ", MPFR " << want[i];
                    }
                }
                EXPECT_EQ(wrong, 0) << std::hex << "MXCSR " << host;
            }
        }
    }
}
#endif

}  // namespace
