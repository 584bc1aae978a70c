// The library's exponential, correctly rounded to nearest (kinetics/exp.h).
//
// Method: Tang's table-driven reduction, a double-double fast path (Dekker and
// Knuth's error-free sums, products made exact by splitting, no fused
// multiply-add), Ziv's rounding test, and for the arguments that test cannot
// decide a precise path in 192-bit integer fixed point. Constants are in
// kinetics/exp_table.h, written by tools/exp_table_gen from MPFR.
//
// Every value below is a double unless said otherwise; RN(a op b) is the
// rounded IEEE operation, in round to nearest (the caller's duty).
#include "kinetics/exp.h"

#include <bit>
#include <cstdint>

#include "kinetics/exp_internal.h"
#include "kinetics/exp_table.h"

namespace urea {
namespace exp_detail {
namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;

constexpr u64 sign_bit = 0x8000'0000'0000'0000u;
constexpr u64 quiet_bit = 0x0008'0000'0000'0000u;
constexpr u64 inf_bits = 0x7ff0'0000'0000'0000u;
constexpr u64 tiny_bits = 0x3c90'0000'0000'0000u;  // 2^-54
constexpr u64 large_bits = 0x4086'0000'0000'0000u;  // 704

// RN(z + shifter) - shifter is z rounded to an integer, for |z| < 2^51; the
// low bits of RN(z + shifter) are that integer.
constexpr double shifter = 0x1.8p52;
// RN(r + splitter) - splitter is r rounded to a multiple of 2^-34, for |r| < 2^17.
constexpr double splitter = 0x1.8p18;

double power_of_two(int k) {  // 2^k, -1022 <= k <= 1023
    return std::bit_cast<double>(static_cast<u64>(k + 1023) << 52);
}

}  // namespace

// Fast path.
//
// Reduction. n = RN(x 128/ln2) as an integer (|n| < 2^18 for |x| < 746),
// k = floor(n/128), j = n - 128 k, so that
//
//   e^x = 2^k 2^(j/128) e^r,   r = x - n ln2/128,   |r| <= (ln2/256)(1 + 2^-33) < 2^-8.53.
//
// t = x - n L_hi is exact: n L_hi is (35 + 18 bits), x and n L_hi are both
// multiples of ulp(x) (|x| < 2^11) and their difference is below 2^-8; for
// n != 0, |x| > 2^-9, so that difference has fewer than 53 bits. rl =
// RN(-n L_lo) adds the rest: |n (ln2/128 - L_hi - L_lo)| <= 2^18 2^-96, RN's
// error <= 2^-79, so r = t + rl + d, |d| <= 2^-77.9, |rl| <= 2^-26.
//
// First-order part, split so that a product with it is exact:
// t1 = RN(t + splitter) - splitter is t rounded to a multiple of 2^-34 (at
// most 26 significant bits, |t1| < 2^-8.5), t - t1 is exact (|.| <= 2^-35) and
// t2 = RN((t - t1) + rl) errs by at most 2^-80 (|t2| < 2^-26).
//
// Higher orders, from rd = RN(t + rl), |rd - r| <= 2^-62 + |d|:
//
//   e^r - 1 - r = r^2/2 + r^3 (1/3! + r/4! + r^2 (1/5! + r/6!)) + R7,   |R7| <= r^7/7! e^|r| < 2^-72.0,
//
// evaluated as q = RN(RN(0.5 RN(rd^2)) + cubic). Errors, in units of 2^-72:
// rd^2 (|.| < 2^-17.06: 2, halved: 1); rd for r in r^2/2 (|rd| 2^-62: 2.77);
// cubic (|.| < 2^-28.2, relative error < 4.1 2^-53, and rd for r: 0.13); the
// sum into q (|q| < 2^-18: 1); R7 (1). Then u = RN(t2 + q) (1), with t2's
// (0.25) and d's (0.02): 7.17 units in all,
//
//   e^r = 1 + t1 + u + du,   |du| < 2^-69.16,   |u| < 2^-18.
//
// Reconstruction. 2^(j/128) = Th + Tl + dT, Th with 27 significant bits,
// |Tl| <= 2^-27, |dT| <= 2^-80. Th t1 is exact (27 + 26 bits), so Dekker's
// fast two-sum (|Th| >= 1 > |Th t1|) gives zh + zl1 = Th + Th t1 exactly, and
//
//   2^(j/128) e^r = zh + zl1 + Tl + Tl (t1 + u) + Th u + (Th + Tl) du + dT e^r,
//
// zl = RN(RN(zl1 + RN(Tl + RN(Tl RN(t1 + u)))) + RN(Th u)). Errors: Th du
// (< 2^-68.16), Th u (|.| < 2^-17: 2^-71), the last sum (|zl| < 2^-17:
// 2^-71), the other two sums (|.| < 2^-26: 2^-80 each), Tl (t1 + u) (2^-88),
// dT e^r (2^-80): in all |zh + zl - 2^(j/128) e^r| < 2^-67.8. Measured
// against MPFR: 2^-68.09 at worst over 1.5 10^8 random arguments, at x =
// 0x1.57bb02fd9f018p+7 (tests/exp_test.cpp holds the bound). The value lies
// in [2^-1/256, 2^255/256), so zh < 2.
//
// Rounding test (Ziv). e^x / 2^k lies in [zh + zl - e, zh + zl + e] with
// e = 1.5 2^-67 (2.6 times the bound; RN(zl -+ e) moves each end by less
// than 2^-120). RN is monotonic: when RN(zh + RN(zl - e)) = RN(zh + RN(zl + e)),
// every point of the interval, e^x / 2^k among them, rounds to that double,
// and for 2^-1021 <= 2^k, 2^k < 2^1024 scaling by 2^k is exact. The test
// fails with probability about 2 e / ulp(zh), 2^-13.4, or when the result
// is subnormal or near overflow (k outside -1021..1023): then the precise
// path decides.
namespace {
// The double-double result zh + zl ~ e^x / 2^k.
[[gnu::always_inline]] inline fast_parts fast_sum(double x) noexcept {
    const double z = x * inv_L;
    const double shifted = z + shifter;
    const double nf = shifted - shifter;
    const auto n = static_cast<std::int64_t>(std::bit_cast<u64>(shifted) - std::bit_cast<u64>(shifter));
    const int k = static_cast<int>(n >> 7);
    const auto j = static_cast<unsigned>(n & 127);

    const double t = x - nf * L_hi;
    const double rl = nf * -L_lo;
    const double rd = t + rl;
    const double t1 = (t + splitter) - splitter;
    const double t2 = (t - t1) + rl;
    const double r2 = rd * rd;
    const double cubic = (rd * r2) * ((inv_factorial[3] + rd * inv_factorial[4]) +
                                      r2 * (inv_factorial[5] + rd * inv_factorial[6]));
    const double u = t2 + (0.5 * r2 + cubic);

    const double Th = exp2_j[j].hi;
    const double Tl = exp2_j[j].lo;
    const double a = Th * t1;
    const double zh = Th + a;
    const double zl1 = a - (zh - Th);
    const double zl = (zl1 + (Tl + Tl * (t1 + u))) + Th * u;
    return {zh, zl, k};
}

// Within_range: the caller knows |x| < 704, so that -1016 <= k <= 1016.
template <bool within_range>
[[gnu::always_inline]] inline bool fast_path(double x, double& y) noexcept {
    const auto [zh, zl, k] = fast_sum(x);
    const double low = zh + (zl - fast_error);
    const double high = zh + (zl + fast_error);
    if (low != high) {
        return false;
    }
    if (!within_range && static_cast<unsigned>(k + 1021) > 2044u) {
        return false;
    }
    y = low * power_of_two(k);
    return true;
}
}  // namespace

bool exp_fast(double x, double& y) noexcept { return fast_path<false>(x, y); }
fast_parts exp_fast_parts(double x) noexcept { return fast_sum(x); }

namespace {

// Precise path arithmetic: unsigned 192-bit integers, words least significant
// first, wrapping modulo 2^192 like the machine's own integers.
struct u192 {
    u64 w[3];
};

constexpr u192 load(const limbs3& l) { return {{l[0], l[1], l[2]}}; }

u192 add(const u192& a, const u192& b) {
    u192 r{};
    u64 carry = 0;
    for (int i = 0; i < 3; ++i) {
        const u128 s = static_cast<u128>(a.w[i]) + b.w[i] + carry;
        r.w[i] = static_cast<u64>(s);
        carry = static_cast<u64>(s >> 64);
    }
    return r;
}

u192 sub(const u192& a, const u192& b) {
    u192 r{};
    u64 borrow = 0;
    for (int i = 0; i < 3; ++i) {
        const u128 d = static_cast<u128>(a.w[i]) - b.w[i] - borrow;
        r.w[i] = static_cast<u64>(d);
        borrow = static_cast<u64>(d >> 64) & 1u;
    }
    return r;
}

u192 negate(const u192& a) { return sub(u192{}, a); }

bool top_bit(const u192& a) { return (a.w[2] >> 63) != 0; }

bool less(const u192& a, const u192& b) {
    for (int i = 2; i >= 0; --i) {
        if (a.w[i] != b.w[i]) {
            return a.w[i] < b.w[i];
        }
    }
    return false;
}

// floor(a b / 2^190), for a b < 2^382.
u192 mul190(const u192& a, const u192& b) {
    u64 p[6] = {};
    for (int i = 0; i < 3; ++i) {
        u64 carry = 0;
        for (int j = 0; j < 3; ++j) {
            const u128 t = static_cast<u128>(a.w[i]) * b.w[j] + p[i + j] + carry;
            p[i + j] = static_cast<u64>(t);
            carry = static_cast<u64>(t >> 64);
        }
        p[i + 3] = carry;
    }
    return {{(p[2] >> 62) | (p[3] << 2), (p[3] >> 62) | (p[4] << 2), (p[4] >> 62) | (p[5] << 2)}};
}

// m 2^s modulo 2^192, m < 2^64, 0 <= s < 192.
u192 shifted_left(u64 m, int s) {
    u192 r{};
    const int word = s / 64;
    const int bit = s % 64;
    r.w[word] = m << bit;
    if (bit != 0 && word < 2) {
        r.w[word + 1] = m >> (64 - bit);
    }
    return r;
}

// a mod 2^s, and floor(a / 2^s) (below 2^64 here), for 0 < s <= 192.
u192 low_bits(const u192& a, int s) {
    u192 r = a;
    for (int i = 0; i < 3; ++i) {
        const int keep = s - 64 * i;
        if (keep <= 0) {
            r.w[i] = 0;
        } else if (keep < 64) {
            r.w[i] &= (u64{1} << keep) - 1;
        }
    }
    return r;
}
u64 high_bits(const u192& a, int s) {
    if (s >= 192) {
        return 0;
    }
    const int word = s / 64;
    const int bit = s % 64;
    u64 q = a.w[word] >> bit;
    if (bit != 0 && word < 2) {
        q |= a.w[word + 1] << (64 - bit);
    }
    return q;
}

}  // namespace

// Precise path, in integers: every step below is exact or truncates by a
// known amount, counted in units of its last place; the floating-point unit
// computes only n.
//
// Reduction. n as in the fast path (any integer near x 128/ln2 would do;
// this one keeps |r| < 2^-8.53). x = +-m 2^e exactly, m < 2^53; for
// 2^-54 <= |x| < 746, X = x 2^190 is an integer (e + 190 >= 84) and the
// reduced argument fits in 192 bits even though X does not, so everything is
// computed modulo 2^192 and read as signed at the end:
//
//   R = X - (n C + floor(n C' / 2^64)) mod 2^192,   C + C'/2^64 = RN(ln2/128 2^254) / 2^64,
//
// |R - r 2^190| <= 1 (the floor) + |n| 2^-65 (the rounding of C) < 1.001.
//
// Series. With rho = |R| 2^-190 and F_i = RN(2^190 / i!), Horner's scheme
// P_i = F_i +- floor(|R| P_(i+1) / 2^190), i = 15..0, P_16 = F_16, keeps every
// P_i positive (rho < 2^-8.5) and gives P_0 = e^r 2^190 within: 0.5 (F_i) + 1
// (floor) at each step, carried on multiplied by rho (1.51 in all); R's error
// times e^rho (1.005); the series' remainder r^17/17! e^rho 2^190 (0.11):
// 2.63 units.
//
// Product. T_j = RN(2^(j/128) 2^191), M = floor(T_j P_0 / 2^190) is
// 2^(j/128) e^r 2^191 within 2.63 T_j / 2^190 (T_j < 3.99 2^190: 10.5) +
// 0.5 P_0 / 2^190 (0.51) + 1 (floor) < 12.1 units; M < 2^192 since
// 2^(j/128) e^r < 2^(255/256).
//
// Rounding. v = M 2^-191 is in [2^-1/256, 2); the result 2^k v has 53
// significant bits when normal, fewer when subnormal: its last place is
// 2^s units of M, s = 139 for v >= 1, 138 for v < 1, or -883 - k when the
// result is below 2^-1022. With q = floor(M / 2^s) and rho' = M mod 2^s, e^x
// rounds to (q + [rho' > 2^(s-1)]) 2^(s-191+k) when |rho' - 2^(s-1)| > 16:
// the true value is then on the same side of the midpoint. Otherwise the
// result is marked undecided (e^x within 2^-186 relative of a midpoint). e^x
// is never a midpoint itself (x != 0: e^x is transcendental), so no ties.
precise_fixed exp_precise_fixed(double x) noexcept {
    const u64 bits = std::bit_cast<u64>(x);
    const double shifted = x * inv_L + shifter;
    const auto n = static_cast<std::int64_t>(std::bit_cast<u64>(shifted) - std::bit_cast<u64>(shifter));
    const int k = static_cast<int>(n >> 7);
    const auto j = static_cast<unsigned>(n & 127);

    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const u64 m = (bits & 0x000f'ffff'ffff'ffffu) | (u64{1} << 52);
    u192 X = shifted_left(m, biased - 1075 + 190);
    if ((bits & sign_bit) != 0) {
        X = negate(X);
    }
    const u64 abs_n = static_cast<u64>(n < 0 ? -n : n);
    u192 nC{};
    {
        u64 carry = static_cast<u64>((static_cast<u128>(abs_n) * L_fixed_extra) >> 64);
        for (int i = 0; i < 3; ++i) {
            const u128 t = static_cast<u128>(abs_n) * L_fixed[i] + carry;
            nC.w[i] = static_cast<u64>(t);
            carry = static_cast<u64>(t >> 64);
        }
    }
    if (n < 0) {
        nC = negate(nC);
    }
    u192 R = sub(X, nC);
    const bool r_negative = top_bit(R);
    if (r_negative) {
        R = negate(R);
    }

    u192 P = load(inv_factorial_fixed[16]);
    for (int i = 15; i >= 0; --i) {
        const u192 term = mul190(R, P);
        const u192 F = load(inv_factorial_fixed[i]);
        P = r_negative ? sub(F, term) : add(F, term);
    }
    const u192 M = mul190(load(exp2_j_fixed[j]), P);
    return {{M.w[0], M.w[1], M.w[2]}, k};
}

precise_result exp_precise(double x) noexcept {
    if ((std::bit_cast<u64>(x) & ~sign_bit) < tiny_bits) {
        return {1.0, true};  // e^x in (1 - 2^-54, 1 + 2^-53)
    }
    const precise_fixed fixed = exp_precise_fixed(x);
    const u192 M = {{fixed.m[0], fixed.m[1], fixed.m[2]}};
    const int k = fixed.k;
    const int top = (M.w[2] >> 63) != 0 ? 0 : -1;  // v >= 1 or v < 1
    const int binade = k + top;                    // 2^binade <= 2^k v
    const int s = binade >= -1022 ? 139 + top : -883 - k;
    if (s > 192) {
        return {0.0, true};  // 2^k v < 2^-1076
    }
    const u64 q = high_bits(M, s);
    const u192 rest = low_bits(M, s);
    const u192 half = shifted_left(1, s - 1);
    const u192 margin = {{16, 0, 0}};
    bool up = false;
    bool decided = true;
    if (less(rest, half)) {
        decided = less(margin, sub(half, rest));
    } else {
        up = true;
        decided = less(margin, sub(rest, half));
    }
    const u64 mantissa = q + (up ? 1u : 0u);
    // Normal: the biased exponent less one, plus the mantissa with its
    // leading bit (a carry to 2^53 moves to the next binade, and past the
    // largest double to +inf). Subnormal: the mantissa alone.
    const u64 result =
        binade >= -1022 ? (static_cast<u64>(binade + 1023 - 1) << 52) + mantissa : mantissa;
    return {std::bit_cast<double>(result), decided};
}

}  // namespace exp_detail

// |x| < 2^-54: e^x rounds to 1. NaN: quieted by setting its quiet bit (no
// arithmetic, so no flag and the same payload everywhere). Below
// x_underflow (and -inf): +0; from x_overflow on (and +inf): +inf.
// Otherwise the fast path, or the precise path when the fast one cannot
// decide.
double exp(double x) noexcept {
    using namespace exp_detail;
    const u64 bits = std::bit_cast<u64>(x);
    const u64 magnitude = bits & ~sign_bit;
    double y;
    if (magnitude - tiny_bits < large_bits - tiny_bits) [[likely]] {
        if (fast_path<true>(x, y)) [[likely]] {
            return y;
        }
        return exp_precise(x).value;
    }
    if (magnitude < tiny_bits) {
        return 1.0;
    }
    if (magnitude > inf_bits) {
        return std::bit_cast<double>(bits | quiet_bit);
    }
    if ((bits & sign_bit) == 0 ? x >= x_overflow : x < x_underflow) {
        return (bits & sign_bit) == 0 ? std::bit_cast<double>(inf_bits) : 0.0;
    }
    if (fast_path<false>(x, y)) {
        return y;
    }
    return exp_precise(x).value;
}

}  // namespace urea
