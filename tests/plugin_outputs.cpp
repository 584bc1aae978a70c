// Calls the plug-in over a fixed, seeded series of host states and prints
// every output bit pattern, one line per call, so that two builds (Linux and
// Windows, or two machines) can be compared line by line:
//
//   plugin_outputs PLUGIN [STATES [SEED]]
//
// The series is the same on every platform: a splitmix64 stream, and reals
// made from it with exact operations only (no library function, no rounding
// that a platform could do its own way). Each state lays out a component
// list (species anywhere, missing, duplicated or nearly matching, fillers),
// host properties, a present list with awkward mole fractions (zeros of either
// sign, negatives, NaN, subnormals), temperature and pressure, and the host's
// rounding mode and flush-to-zero/denormals-are-zero bits; then it calls
// USURA twice (the second call sees the remembered values of the first),
// UPROPU and CMPLOC, and prints every element of their outputs, written or
// not. Exit status 0 when all calls were made.
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "standin/plugin.h"
#include "standin/standin_host.h"
#include "tests/fp_state.h"

namespace {

std::uint64_t seed_state = 0;

std::uint64_t next() {
    std::uint64_t z = (seed_state += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

// An integer in lo..hi.
host_int pick(host_int lo, host_int hi) {
    return lo + static_cast<host_int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
}
bool one_in(int n) { return pick(1, n) == 1; }

// A real in [lo, hi): 53 random bits scaled, then an affine map.
double uniform(double lo, double hi) {
    const double unit = static_cast<double>(next() >> 11) * 0x1.0p-53;
    return lo + (hi - lo) * unit;
}

// A real as hosts send them, now and then one of the awkward ones.
double awkward(double lo, double hi) {
    switch (pick(0, 23)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return __builtin_nan("");
        case 3: return -uniform(lo, hi);
        case 4: return 0x1.0p-1074 * static_cast<double>(pick(1, 1000));  // subnormal
        case 5: return __builtin_inf();
        default: return uniform(lo, hi);
    }
}

// A positive real over many decades: [1, 2) times 2^e, the power of two built
// from its bits.
double decades(int lo_exp, int hi_exp) {
    const auto e = static_cast<std::uint64_t>(1023 + pick(lo_exp, hi_exp));
    return uniform(1.0, 2.0) * std::bit_cast<double>(e << 52);
}

const char* const names[] = {"O2",   "N2",  "H2O", "NH3",   "CO2",   "CARB", "UREA", "nh3",
                             " CO2", "CO",  "H2",  "UREA2", "CARB ", "FILL", "AR",   "CH4"};

void print(const char* routine, long state, const double* values, std::size_t n) {
    std::printf("%ld %s", state, routine);
    for (std::size_t k = 0; k < n; ++k) {
        std::uint64_t bits;
        std::memcpy(&bits, &values[k], sizeof bits);
        std::printf(" %016" PRIx64, bits);
    }
    std::printf("\n");
}

void run(standin::plugin& lib, long states) {
    standin::reset();
    standin::set_recording(false);
    for (long state = 0; state < states; ++state) {
        const host_int nc = pick(1, 100);
        const auto n = static_cast<std::size_t>(nc);
        const host_int l_ids = pick(1, 500);
        for (host_int i = 1; i <= nc; ++i) {
            const char* name = one_in(2) ? names[pick(0, 6)] : names[pick(7, 15)];
            standin::write_name(l_ids, i, standin::word(name),
                                standin::word(one_in(20) ? "LIQUID" : ""));
        }
        standin::set_ids_offset(l_ids);
        standin::set_component_count(nc);
        std::vector<double> mw(n);
        for (double& m : mw) m = uniform(2.0, 200.0);
        standin::set_molecular_weights(mw, pick(600, 2000));
        for (host_int i = 1; i <= nc; ++i) {
            standin::set_gibbs(i, one_in(30) ? 0.0 : uniform(-6.0e8, 0.0));
            standin::set_fugacity(i, one_in(30) ? 0.0 : decades(-30, 20));
        }
        standin::set_liquid_volume(one_in(30) ? 0.0 : uniform(0.01, 0.1));
        standin::set_reacting_volume(one_in(30) ? 0.0 : decades(-4, 12));

        std::vector<double> stream(n + 3);
        for (double& v : stream) v = awkward(0.0, 10.0);
        stream[n + 1] = one_in(20) ? __builtin_nan("") : uniform(380.0, 520.0);
        stream[n + 2] = one_in(20) ? 0.0 : decades(10, 28);
        const host_int n_present = pick(0, nc);
        std::vector<host_int> pos(static_cast<std::size_t>(n_present) + 1);
        std::vector<double> x(pos.size());
        for (std::size_t k = 0; k < pos.size(); ++k) {
            pos[k] = pick(1, nc);
            x[k] = awkward(0.0, 1.0);
        }
        double params[2] = {one_in(10) ? awkward(0.0, 2.0) : decades(-20, 20),
                            one_in(10) ? awkward(0.0, 2.0e3) : decades(-20, 20)};
        const std::uint32_t rounding[] = {0u, testing_host::mxcsr_down, testing_host::mxcsr_up,
                                          testing_host::mxcsr_toward_zero};
        std::uint32_t mode = testing_host::mxcsr_masks;
        if (one_in(3)) {
            mode |= rounding[pick(0, 3)];
            mode |= one_in(2) ? testing_host::mxcsr_ftz : 0u;
            mode |= one_in(2) ? testing_host::mxcsr_daz : 0u;
        }
        int opts = 0, extra = 0;
        std::vector<double> rates(n);
        for (int call = 0; call < 2; ++call) {
            for (double& r : rates) r = -12345.0;
            {
                const testing_host::host_mxcsr host_mode(mode);
                standin::invoke(lib.usura, {.stream = stream.data(),
                                            .params = params,
                                            .host_opts = &opts,
                                            .rates = rates.data(),
                                            .n_present = &n_present,
                                            .present_pos = pos.data(),
                                            .fug_extra = &extra,
                                            .x_present = x.data()});
            }
            print("USURA", state, rates.data(), n);
            x[0] = 0.0;  // the first present species now absent: remembered values
        }

        const host_int m = pick(0, 2 * nc);
        std::vector<host_int> out_pos(static_cast<std::size_t>(m) + 1);
        for (host_int& p : out_pos) p = pick(1, nc);
        std::vector<double> flows(n + 3), out(out_pos.size(), -12345.0);
        for (double& f : flows) f = awkward(0.0, 100.0);
        const host_name nc_flow = {standin::word(one_in(20) ? "NC-FLOW" : "NC-F"),
                                   standin::word("LOW")};
        {
            const testing_host::host_mxcsr host_mode(mode);
            standin::invoke(lib.upropu, {.n_out = &m,
                                         .out_pos = out_pos.data(),
                                         .prop_name = &nc_flow,
                                         .out_values = out.data(),
                                         .flows = flows.data()});
        }
        print("UPROPU", state, out.data(), out.size());

        const host_name wanted = {standin::word(names[pick(0, 15)]), standin::word("")};
        host_int index = -1;
        double found[2] = {-1.0, 0.0};
        lib.cmploc(&wanted, flows.data(), &index, &found[0]);
        found[1] = static_cast<double>(index);
        print("CMPLOC", state, found, 2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: plugin_outputs PLUGIN [STATES [SEED]]\n");
        return 2;
    }
    const long states = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 10000;
    seed_state = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    try {
        standin::plugin lib(argv[1]);
        run(lib, states);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plugin_outputs: %s\n", e.what());
        return 2;
    }
    return 0;
}
