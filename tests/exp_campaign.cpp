// A long check of the library's exponential against GNU MPFR: COUNT arguments
// drawn from SEED, every one compared bit for bit.
//
//   exp_campaign COUNT [SEED]
//
// The arguments, in turn: uniform bits in a random binade of |x| from 2^-54
// to 2^9 with a random sign; uniform in [-60, 0], where the rate law's
// exponents lie; uniform over the whole domain [x_underflow, x_overflow);
// uniform over the subnormal results [x_underflow, -708.4]. Arguments
// outside the domain are drawn again. Prints the arguments checked, how many
// the fast path declined and the precise path could not decide, and every
// difference (the first 20); exit status 1 when there is one.
#include <bit>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "host/fp_hold.h"
#include "kinetics/exp.h"
#include "kinetics/exp_internal.h"
#include "kinetics/exp_table.h"
#include "tests/mpfr_exp.h"

int main(int argc, char** argv) {
    using namespace urea::exp_detail;
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: exp_campaign COUNT [SEED]\n");
        return 2;
    }
    const long long count = std::strtoll(argv[1], nullptr, 10);
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    std::mt19937_64 rng(seed);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    const auto start = std::chrono::steady_clock::now();

    long long declined = 0, undecided = 0, wrong = 0;
    const urea::nearest_hold nearest;
    for (long long i = 0; i < count; ++i) {
        double x;
        do {
            switch (i % 4) {
                case 0: {
                    const auto e = static_cast<std::uint64_t>(1023 - 54 + static_cast<int>(rng() % 64));
                    x = std::bit_cast<double>((rng() & 0x800f'ffff'ffff'ffffu) | (e << 52));
                    break;
                }
                case 1: x = uniform(-60.0, 0.0); break;
                case 2: x = uniform(x_underflow, x_overflow); break;
                default: x = uniform(x_underflow, -708.4); break;
            }
        } while (!(x >= x_underflow && x < x_overflow));
        double y;
        if (!exp_fast(x, y)) {
            ++declined;
            undecided += exp_precise(x).decided ? 0 : 1;
        }
        const double got = urea::exp(x);
        const double want = reference::exp(x);
        if (std::bit_cast<std::uint64_t>(got) != std::bit_cast<std::uint64_t>(want)) {
            if (++wrong <= 20) {
                std::printf("exp(%a) = %a, MPFR %a\n", x, got, want);
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lld arguments (seed %" PRIu64 "): %lld differ from MPFR; fast path declined %lld, "
                "precise path undecided %lld; %.0f s\n",
                count, seed, wrong, declined, undecided, seconds);
    return wrong == 0 && undecided == 0 ? 0 : 1;
}
