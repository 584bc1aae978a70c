// The rates are the same on every machine: a fixed set of host states gives
// the rates stored in tests/rates_table.h, bit for bit, in every rounding
// mode, whatever libm the process has and whatever `exp` the host exports.
//
// This program is the host, and it exports an `exp` of its own that is one
// ulp off libm's: a library that took its exponential from the process's
// global scope, as one linked against libm does, would use it and its rates
// would differ from the stored ones.
//
// UREA_WRITE_RATES_TABLE=1 prints the table instead (it was produced once,
// that way); UREA_PLUGIN=PATH checks another build of the plug-in.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "standin/plugin.h"
#include "standin/standin_host.h"
#include "tests/rates_table.h"

// The host's exponential: libm's, one ulp up.
extern "C" double exp(double x) noexcept {
    static const auto libm_exp = reinterpret_cast<double (*)(double)>(dlsym(RTLD_NEXT, "exp"));
    return std::nextafter(libm_exp(x), HUGE_VAL);
}

namespace {

const char* const names[] = {"N2", "UREA", "H2O", "AR", "NH3", "CARB", "CO2", "O2"};
constexpr host_int nc = 8;
// Positions of the rates stored: NH3, CO2, CARB, UREA, H2O.
constexpr host_int rate_pos[5] = {5, 7, 6, 2, 3};

// Reals from a fixed sequence (SplitMix64), uniform in [lo, hi): the same
// states on every machine and standard library.
struct sequence {
    std::uint64_t s;
    double next(double lo, double hi) {
        std::uint64_t z = (s += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        z ^= z >> 31;
        const double u = static_cast<double>(z >> 11) * 0x1p-53;
        return lo + (hi - lo) * u;
    }
};

struct host_state {
    double T, P, vl, V, a1, a2;
    double x[nc], G[nc], phi[nc];
};

// The worked example's species values, each spread by a random factor, at
// random temperatures, pressures and rate factors: state k of the set.
host_state state(int k) {
    sequence q{static_cast<std::uint64_t>(k) * 1000003u + 17u};
    host_state s{};
    s.T = q.next(423.0, 473.0);
    s.P = q.next(5.0e6, 3.0e7);
    s.vl = q.next(0.02, 0.05);
    s.V = q.next(10.0, 100.0);
    s.a1 = q.next(0.2, 2.0);
    s.a2 = q.next(1.0e2, 1.0e4);
    const double G0[nc] = {0.0, -2.0e8, -3.0e8, 0.0, -6.0e7, -5.6e8, -4.3e8, 0.0};
    const double phi0[nc] = {1.0, 0.01, 0.05, 1.0, 2.5, 4.0e5, 10.0, 1.0};
    for (int i = 0; i < nc; ++i) {
        s.x[i] = q.next(0.01, 0.3);
        s.G[i] = G0[i] * q.next(0.97, 1.03);
        s.phi[i] = phi0[i] * std::exp2(q.next(-3.0, 3.0));
    }
    return s;
}

std::string plugin_path() {
    const char* path = std::getenv("UREA_PLUGIN");
    return path != nullptr && *path != '\0' ? path : UREA_PLUGIN_PATH;
}

// The five rates of state k, in the host's current floating-point mode.
std::vector<std::uint64_t> rates_of(standin::plugin& lib, int k) {
    const host_state s = state(k);
    for (int i = 0; i < nc; ++i) {
        standin::set_gibbs(i + 1, s.G[i]);
        standin::set_fugacity(i + 1, s.phi[i]);
    }
    standin::set_liquid_volume(s.vl);
    standin::set_reacting_volume(s.V);
    std::vector<double> stream(nc + 5, 1.0);
    stream[nc + 1] = s.T;
    stream[nc + 2] = s.P;
    std::vector<double> rates(nc, 0.0);
    const double params[2] = {s.a1, s.a2};
    const host_int n_present = nc;
    host_int present_pos[nc];
    for (int i = 0; i < nc; ++i) present_pos[i] = nc - i;  // another order than the list's
    double x_present[nc];
    for (int i = 0; i < nc; ++i) x_present[i] = s.x[nc - 1 - i];
    double host_opts = 0.0, fug_extra[4] = {};
    standin::invoke(lib.usura, standin::usura_call{.stream = stream.data(),
                                                   .params = params,
                                                   .host_opts = &host_opts,
                                                   .rates = rates.data(),
                                                   .n_present = &n_present,
                                                   .present_pos = present_pos,
                                                   .fug_extra = fug_extra,
                                                   .x_present = x_present});
    std::vector<std::uint64_t> out;
    for (host_int p : rate_pos) out.push_back(std::bit_cast<std::uint64_t>(rates[p - 1]));
    return out;
}

standin::plugin& loaded() {
    static standin::plugin lib(plugin_path());
    static bool listed = [] {
        standin::reset();
        standin::set_components(std::vector<std::string>(std::begin(names), std::end(names)));
        return true;
    }();
    (void)listed;
    return lib;
}

const int modes[4] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};

TEST(HostExp, TheProcessExportsAnExpOneUlpOffLibms) {
    // What a library binding `exp` through the global scope gets is this
    // program's function, not libm's.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "exp"), reinterpret_cast<void*>(&::exp));
    const auto libm_exp = reinterpret_cast<double (*)(double)>(dlsym(RTLD_NEXT, "exp"));
    ASSERT_NE(libm_exp, nullptr);
    volatile double a = -26.26;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(::exp(a)), std::bit_cast<std::uint64_t>(libm_exp(a)) + 1);
}

// The table as this build gives it (UREA_WRITE_RATES_TABLE=1).
void write_table(standin::plugin& lib) {
    std::printf("// Written once by rates_tests with UREA_WRITE_RATES_TABLE=1: do not edit.\n"
                "// Rates of NH3, CO2, CARB, UREA and H2O of the host states of\n"
                "// tests/rates_test.cpp, as IEEE bit patterns, in the rounding modes\n"
                "// to nearest, downward, upward and toward zero.\n"
                "#ifndef UREA_TESTS_RATES_TABLE_H\n#define UREA_TESTS_RATES_TABLE_H\n\n"
                "#include <cstdint>\n\nnamespace stored {\n\n"
                "inline constexpr int state_count = %d;\n"
                "inline constexpr std::uint64_t rates[4][state_count][5] = {\n",
                stored::state_count);
    for (int m = 0; m < 4; ++m) {
        std::printf("    {\n");
        for (int k = 0; k < stored::state_count; ++k) {
            std::fesetround(modes[m]);
            const auto got = rates_of(lib, k);
            std::fesetround(FE_TONEAREST);
            std::printf("        {0x%016llx, 0x%016llx, 0x%016llx, 0x%016llx, 0x%016llx},\n",
                        static_cast<unsigned long long>(got[0]), static_cast<unsigned long long>(got[1]),
                        static_cast<unsigned long long>(got[2]), static_cast<unsigned long long>(got[3]),
                        static_cast<unsigned long long>(got[4]));
        }
        std::printf("    },\n");
    }
    std::printf("};\n\n}  // namespace stored\n\n#endif\n");
}

// Every bit of every rate as stored, in rounding mode m.
void expect_stored(standin::plugin& lib, int m) {
    for (int k = 0; k < stored::state_count; ++k) {
        std::fesetround(modes[m]);
        const auto got = rates_of(lib, k);
        std::fesetround(FE_TONEAREST);
        for (int r = 0; r < 5; ++r) {
            EXPECT_EQ(got[static_cast<std::size_t>(r)], stored::rates[m][k][r])
                << "rounding mode " << m << ", state " << k << ", rate " << r;
        }
    }
}

TEST(StoredRates, EveryBitAsStoredToNearest) {
    standin::plugin& lib = loaded();
    lib.reload();
    if (std::getenv("UREA_WRITE_RATES_TABLE") != nullptr) {
        write_table(lib);
        return;
    }
    expect_stored(lib, 0);
}

// The rate law follows the host's mode; the exponentials do not.
TEST(StoredRates, EveryBitAsStoredInTheDirectedModes) {
    standin::plugin& lib = loaded();
    for (int m = 1; m < 4; ++m) {
        expect_stored(lib, m);
    }
}

#if defined(__x86_64__)
// Flush-to-zero and denormals-are-zero on: no value of these states is
// subnormal, so the rates are the round-to-nearest ones.
TEST(StoredRates, SameWithFlushToZeroAndDenormalsAreZero) {
    standin::plugin& lib = loaded();
    const unsigned saved = _mm_getcsr();
    for (int k = 0; k < stored::state_count; ++k) {
        _mm_setcsr(saved | 0x8040u);
        const auto got = rates_of(lib, k);
        _mm_setcsr(saved);
        for (int r = 0; r < 5; ++r) {
            EXPECT_EQ(got[static_cast<std::size_t>(r)], stored::rates[0][k][r]) << "state " << k << ", rate " << r;
        }
    }
}
#endif

}  // namespace
