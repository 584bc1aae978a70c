// Runs two builds of the plug-in through the same random host states and
// calls and reports the first difference, bit for bit: for checking that a
// change made for speed changes no result.
//
//   urea_plugin_diff OLD.so NEW.so [CALLS [SEED]]
//
// Each round lays out a random component list (species anywhere, missing,
// duplicated or nearly matching; fillers), random present lists and mole
// fractions (zeros of either sign, negatives, NaN), host properties (zeros
// included), temperatures and pressures, flows and molecular weights, and a
// random floating-point environment: rounding mode, raised flags and, in
// some rounds, traps on invalid, division by zero and overflow. Then it
// makes the same call of USURA, UPROPU or CMPLOC into each library (each
// keeps its own remembered values, fed by the same calls) and compares every
// element of the output arrays, the host-visible floating-point environment
// afterwards, and the arguments of every host routine called. Exit status 0
// when nothing differs, 1 at the first difference.
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "bench/scenario.h"

namespace {

std::mt19937_64 rng;

double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
host_int pick(host_int lo, host_int hi) {
    return std::uniform_int_distribution<host_int>(lo, hi)(rng);
}
bool chance(double p) { return uniform(0.0, 1.0) < p; }

// A real as hosts send them, now and then one of the awkward ones.
double awkward(double lo, double hi) {
    switch (pick(0, 19)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return std::numeric_limits<double>::quiet_NaN();
        case 3: return -uniform(lo, hi);
        case 4: return std::numeric_limits<double>::denorm_min();
        default: return uniform(lo, hi);
    }
}

// The host-visible environment: rounding, trap mask and raised flags (on
// x86-64 the SSE register as a whole besides).
struct fp_state {
    int round, traps, flags;
    unsigned sse = 0;
    bool operator==(const fp_state&) const = default;
};
unsigned sse_now() {
#if defined(__x86_64__)
    return _mm_getcsr();
#else
    return 0;
#endif
}
fp_state fp_now() {
    return {std::fegetround(), fegetexcept(), std::fetestexcept(FE_ALL_EXCEPT), sse_now()};
}
void fp_set(const fp_state& s) {
    std::feclearexcept(FE_ALL_EXCEPT);
    fedisableexcept(FE_ALL_EXCEPT);
    std::fesetround(s.round);
    std::feraiseexcept(s.flags);  // before the traps go on
    feenableexcept(s.traps);
}
fp_state fp_random() {
    const int rounds[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
    const int flags[] = {0, FE_INEXACT, FE_OVERFLOW | FE_INEXACT, FE_INVALID, FE_DIVBYZERO};
    const int round = chance(0.7) ? FE_TONEAREST : rounds[pick(0, 3)];
    // A raised flag whose trap is on would trap at the next x87 instruction:
    // with traps on, only the inexact flag is raised beforehand.
    if (chance(0.3)) {
        return {round, FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW, flags[pick(0, 1)]};
    }
    return {round, 0, flags[pick(0, 4)]};
}

const char* const candidates[] = {"O2",   "N2",  "H2O", "NH3",  "CO2",  "CARB", "UREA", "nh3",
                                  " CO2", "CO",  "H2",  "UREA2", "CARB ", "FILL", "AR",  "CH4"};

void random_components(host_int nc) {
    const host_int l_ids = pick(1, 500);
    for (host_int i = 1; i <= nc; ++i) {
        const char* name = chance(0.4) ? candidates[pick(0, 6)] : candidates[pick(7, 15)];
        const std::string second = chance(0.05) ? "LIQUID" : "";
        standin::write_name(l_ids, i, standin::word(name), standin::word(second));
    }
    standin::set_ids_offset(l_ids);
    standin::set_component_count(nc);
}

std::uint64_t b(double d) { return bench::bits(d); }

struct recorder {
    std::vector<standin::call> calls;
};

bool same_calls(const std::vector<standin::call>& a, const std::vector<standin::call>& c) {
    if (a.size() != c.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k].which != c[k].which || a[k].ints != c[k].ints ||
            a[k].reals.size() != c[k].reals.size()) {
            return false;
        }
        for (std::size_t j = 0; j < a[k].reals.size(); ++j) {
            if (b(a[k].reals[j]) != b(c[k].reals[j])) return false;
        }
    }
    return true;
}

std::string show(double d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", d);
    return text;
}

int differ(long round, const std::string& what) {
    std::fprintf(stderr, "call %ld: %s\n", round, what.c_str());
    return 1;
}

int compare(bench::plugin (&lib)[2], long rounds);

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: urea_plugin_diff OLD.so NEW.so [CALLS [SEED]]\n");
        return 2;
    }
    const long rounds = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 100000;
    rng.seed(argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1);
    // A path without a slash names a file here, not a library to search for.
    std::string paths[2] = {argv[1], argv[2]};
    for (std::string& p : paths) {
        if (p.find('/') == std::string::npos) p = "./" + p;
    }
    try {
        bench::plugin lib[2] = {bench::plugin(paths[0]), bench::plugin(paths[1])};
        return compare(lib, rounds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}

namespace {

int compare(bench::plugin (&lib)[2], long rounds) {
    standin::reset();

    for (long round = 0; round < rounds; ++round) {
        const host_int nc = pick(1, 100);
        random_components(nc);
        const auto n = static_cast<std::size_t>(nc);
        const fp_state env = fp_random();
        const int routine = static_cast<int>(pick(0, 5));  // USURA most of the time

        if (routine <= 3) {
            std::vector<double> stream(n + 3);
            for (double& v : stream) v = uniform(0.0, 10.0);
            stream[n + 1] = chance(0.05) ? std::numeric_limits<double>::quiet_NaN()
                                         : uniform(380.0, 520.0);
            stream[n + 2] = chance(0.05) ? 0.0 : uniform(1.0e5, 3.0e7);
            const host_int n_present = pick(0, nc);
            std::vector<host_int> pos(n_present > 0 ? static_cast<std::size_t>(n_present) : 1);
            std::vector<double> x(pos.size());
            for (std::size_t k = 0; k < pos.size(); ++k) {
                pos[k] = pick(1, nc);
                x[k] = awkward(0.0, 1.0);
            }
            for (host_int i = 1; i <= nc; ++i) {
                standin::set_gibbs(i, chance(0.03) ? 0.0 : uniform(-6.0e8, 0.0));
                standin::set_fugacity(i, chance(0.03) ? 0.0 : std::exp(uniform(-20.0, 14.0)));
            }
            standin::set_liquid_volume(chance(0.03) ? 0.0 : uniform(0.01, 0.1));
            standin::set_reacting_volume(chance(0.03) ? 0.0 : uniform(1.0, 100.0));
            double params[2] = {awkward(0.0, 2.0), awkward(0.0, 2.0e3)};
            int opts = 0, extra = 0;
            std::vector<double> rates[2];
            std::vector<standin::call> calls[2];
            fp_state after[2];
            for (int l = 0; l < 2; ++l) {
                rates[l].assign(n, -12345.0);
                standin::clear_calls();
                fp_set(env);
                lib[l].usura(stream.data(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             params, nullptr, nullptr, &opts, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, rates[l].data(), nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &n_present, pos.data(), &extra, x.data());
                after[l] = fp_now();
                fp_set({FE_TONEAREST, 0, 0});
                calls[l] = standin::calls();
            }
            if (!(after[0] == after[1])) return differ(round, "USURA: floating-point environment");
            if (!same_calls(calls[0], calls[1])) return differ(round, "USURA: host calls");
            for (std::size_t k = 0; k < n; ++k) {
                if (b(rates[0][k]) != b(rates[1][k])) {
                    return differ(round, "USURA: rates(" + std::to_string(k + 1) + ") " +
                                             show(rates[0][k]) + " vs " +
                                             show(rates[1][k]));
                }
            }
        } else if (routine == 4) {
            std::vector<double> flows(n + 3), mw(n);
            for (double& v : flows) v = awkward(0.0, 100.0);
            for (double& v : mw) v = uniform(2.0, 200.0);
            standin::set_molecular_weights(mw, pick(600, 2000));
            const host_int m = pick(0, 2 * nc);
            std::vector<host_int> out_pos(m > 0 ? static_cast<std::size_t>(m) : 1);
            for (host_int& p : out_pos) p = pick(1, nc);
            host_name name = {standin::word("NC-F"), standin::word("LOW")};
            if (chance(0.05)) name[0] = standin::word("NC-FLOW");
            std::vector<double> out[2];
            fp_state after[2];
            for (int l = 0; l < 2; ++l) {
                out[l].assign(out_pos.size(), -12345.0);
                fp_set(env);
                lib[l].upropu(nullptr, nullptr, nullptr, nullptr, nullptr, &m, out_pos.data(),
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, &name, out[l].data(), nullptr,
                              nullptr, nullptr, nullptr, flows.data());
                after[l] = fp_now();
                fp_set({FE_TONEAREST, 0, 0});
            }
            if (!(after[0] == after[1])) return differ(round, "UPROPU: floating-point environment");
            for (std::size_t k = 0; k < out[0].size(); ++k) {
                if (b(out[0][k]) != b(out[1][k])) {
                    return differ(round, "UPROPU: out_values(" + std::to_string(k + 1) + ")");
                }
            }
        } else {
            std::vector<double> vec(n);
            for (double& v : vec) v = awkward(0.0, 1.0);
            const host_name name = {standin::word(candidates[pick(0, 15)]),
                                    standin::word(chance(0.1) ? "LIQUID" : "")};
            host_int index[2] = {-1, -1};
            double value[2] = {-1.0, -1.0};
            for (int l = 0; l < 2; ++l) {
                lib[l].cmploc(&name, vec.data(), &index[l], &value[l]);
            }
            if (index[0] != index[1] || b(value[0]) != b(value[1])) {
                return differ(round, "CMPLOC");
            }
        }
    }
    std::printf("%ld calls, no difference\n", rounds);
    return 0;
}

}  // namespace
