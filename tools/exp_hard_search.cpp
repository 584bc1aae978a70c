// Searches for hard-to-round arguments of e^x in binary64, with GNU MPFR, and
// writes them as tests/exp_hard_cases.h:
//
//   exp_hard_search [LOG2_BOUND] > tests/exp_hard_cases.h     (default 32)
//   exp_hard_search --check FILE LOG2_BOUND   exit 1 unless every hard case
//                                             with |x| < 2^-LOG2_BOUND is in FILE
//
// A hard case is a double x whose e^x lies within 2^-100 (relative) of a
// midpoint between two consecutive doubles: the last digit of the result
// then depends on more than 100 bits of e^x.
//
// Where such arguments are: near 0, e^x = 1 + x + x^2/2 + ... is close to
// 1 + x, so the results of the binade [1, 2) are 1 + i 2^-52 and their
// midpoints mu = 1 + (2i+1) 2^-53 (below 1, 1 - i 2^-53 and
// mu = 1 - (2i+1) 2^-54). The argument whose exponential is exactly mu is
// x* = ln(mu) = (mu - 1) - (mu - 1)^2/2 + ..., and the double x nearest x*
// has e^x - mu = (x - x*) mu (1 + O(x - x*)), so
//
//   |e^x - mu| / mu <= ulp(x)/2 (1 + 2^-52).
//
// For |x| < 2^-47 ulp(x) <= 2^-100, so every midpoint yields a hard case.
// Above, the offset (x - x*)/ulp(x) behaves as a random number in [-1/2, 1/2]
// (x* is transcendental), and a midpoint yields a hard case with probability
// 2^-100 / (ulp(x)/2). The binade [2^(-b-1), 2^-b) of positive x holds
// 2^(51-b) midpoints (their spacing is 2^-52) and ulp(x) = 2^(-b-53): some
// 2^(51-b) 2^(b-46) = 32 hard cases per binade, twice as many for negative x
// (midpoints 2^-53 apart). The search visits every midpoint with
// |x*| < 2^-LOG2_BOUND,
// computes x* and the distance at the nearest double in MPFR at 320 bits,
// and keeps those within 2^-100.
//
// Elsewhere no such structure is known: the hard cases of the rest of the
// domain are as rare as chance makes them (one in 2^47 arguments within
// 2^-100), and the random and campaign tests stand for them.
#include <mpfr.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct hard_case {
    double x, rounded;
    double log2_distance;  // log2 |e^x - mu| / mu, negative
    bool above;            // e^x above the midpoint (rounds up)
};

struct number {
    mpfr_t v;
    number() { mpfr_init2(v, 320); }
    ~number() { mpfr_clear(v); }
    number(const number&) = delete;
    number& operator=(const number&) = delete;
};

// Midpoints 1 + sign (2i+1) 2^-scale, i = 0, 1, ... while |x*| < 2^-bound.
void search(int sign, long scale, long bound, std::vector<hard_case>& found) {
    number mu, xs, e, d, lim;
    mpfr_set_ui_2exp(lim.v, 1, -bound, MPFR_RNDN);
    for (unsigned long i = 0;; ++i) {
        mpfr_set_ui_2exp(mu.v, 2 * i + 1, -scale, MPFR_RNDN);  // exact
        if (sign < 0) {
            mpfr_neg(mu.v, mu.v, MPFR_RNDN);
        }
        mpfr_add_ui(mu.v, mu.v, 1, MPFR_RNDN);  // exact at 320 bits
        mpfr_log(xs.v, mu.v, MPFR_RNDN);
        if (mpfr_cmpabs(xs.v, lim.v) >= 0) {
            break;
        }
        const double x = mpfr_get_d(xs.v, MPFR_RNDN);
        mpfr_set_d(e.v, x, MPFR_RNDN);
        mpfr_exp(e.v, e.v, MPFR_RNDN);
        mpfr_sub(d.v, e.v, mu.v, MPFR_RNDN);
        mpfr_div(d.v, d.v, mu.v, MPFR_RNDN);
        if (mpfr_zero_p(d.v)) {
            std::fprintf(stderr, "e^x is a midpoint at x = %a\n", x);
            std::exit(1);
        }
        const bool above = mpfr_sgn(d.v) > 0;
        mpfr_abs(d.v, d.v, MPFR_RNDN);
        mpfr_log2(d.v, d.v, MPFR_RNDN);
        const double l = mpfr_get_d(d.v, MPFR_RNDN);
        if (l < -100.0) {
            // The result: the double on e^x's side of mu, mu -+ half an ulp.
            number r;
            mpfr_set_ui_2exp(r.v, 1, -scale, MPFR_RNDN);
            if (above) {
                mpfr_add(r.v, mu.v, r.v, MPFR_RNDN);
            } else {
                mpfr_sub(r.v, mu.v, r.v, MPFR_RNDN);
            }
            found.push_back({x, mpfr_get_d(r.v, MPFR_RNDN), l, above});
        }
    }
}

}  // namespace

std::string line(const hard_case& c) {
    char text[120];
    std::snprintf(text, sizeof text, "    {%a, %a, %.2f},\n", c.x, c.rounded, c.log2_distance);
    return text;
}

int main(int argc, char** argv) {
    const bool check = argc == 4 && std::string(argv[1]) == "--check";
    const long bound = check ? std::strtol(argv[3], nullptr, 10)
                             : argc > 1 ? std::strtol(argv[1], nullptr, 10) : 32;
    std::vector<hard_case> found;
    search(+1, 53, bound, found);  // results in [1, 2): midpoints 1 + (2i+1) 2^-53
    search(-1, 54, bound, found);  // results in [1/2, 1): midpoints 1 - (2i+1) 2^-54
    if (check) {
        std::ifstream in(argv[2]);
        std::ostringstream stored;
        stored << in.rdbuf();
        long missing = 0;
        for (const hard_case& c : found) {
            if (stored.str().find(line(c)) == std::string::npos && ++missing <= 10) {
                std::fprintf(stderr, "not in %s: %s", argv[2], line(c).c_str());
            }
        }
        std::printf("%zu hard cases with |x| < 2^-%ld, %ld of them missing from %s\n", found.size(),
                    bound, missing, argv[2]);
        return in && missing == 0 && !found.empty() ? 0 : 1;
    }
    std::printf(
        "// Generated by tools/exp_hard_search %ld from GNU MPFR: do not edit.\n"
        "// Hard-to-round arguments of e^x: every double x with |x| < 2^-%ld whose\n"
        "// e^x lies within 2^-100 (relative) of a midpoint between two doubles,\n"
        "// with the correctly rounded result and log2 of that distance.\n"
        "#ifndef UREA_TESTS_EXP_HARD_CASES_H\n"
        "#define UREA_TESTS_EXP_HARD_CASES_H\n\n"
        "namespace hard {\n\n"
        "struct hard_case {\n    double x, rounded, log2_distance;\n};\n\n"
        "inline constexpr hard_case cases[] = {\n",
        bound, bound);
    for (const hard_case& c : found) {
        std::printf("%s", line(c).c_str());
    }
    std::printf("};\n\n}  // namespace hard\n\n#endif\n");
    std::fprintf(stderr, "%zu hard cases with |x| < 2^-%ld\n", found.size(), bound);
    return 0;
}
