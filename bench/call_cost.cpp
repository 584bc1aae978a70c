// Time per call of each routine, the same program on Linux and on Windows
// (under Wine), so that the two builds of the plug-in are compared on the
// same machine: the DLL finds the host's items at run time and checks on
// every call that it has, where the Linux library has the loader's binding.
//
//   urea_call_cost [ROUNDS [CALLS]]
//
// The host states are the benchmark's (bench/scenario.h: the seven species at
// the end of the list, every component present). For each routine and
// component count: ROUNDS rounds (default 15) of CALLS calls (default
// 20,000), the rounds of all routines interleaved; prints the median and the
// lowest round in ns per call. "host" is the six calls the rate routine makes
// into the stand-in host, made directly: USURA less that is the library's own
// share of a rate call. The results are checked after the calls; the
// exit status is 1 when they are wrong.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "bench/scenario.h"

namespace {

struct measured {
    const char* routine;
    host_int nc;
    std::vector<double> ns;  // per call, one entry a round
};

template <class State, class Routine>
double round_ns(State& s, Routine routine, long calls) {
    const auto start = std::chrono::steady_clock::now();
    for (long k = 0; k < calls; ++k) {
        if constexpr (std::is_invocable_v<Routine>) {
            routine();
        } else {
            s.call(routine);
        }
    }
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    return took.count() / static_cast<double>(calls);
}

}  // namespace

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 15;
    const long calls = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 20000;
    if (rounds < 1 || calls < 1) {
        std::fprintf(stderr, "usage: urea_call_cost [ROUNDS [CALLS]]\n");
        return 2;
    }
    try {
        bench::plugin lib(bench::plugin_path());
        std::vector<measured> table;
        for (const char* routine : {"USURA", "host", "UPROPU", "CMPLOC"}) {
            for (const host_int nc : {7, 30, 100}) {
                table.push_back({routine, nc, {}});
            }
        }
        std::string problem;
        for (long r = 0; r < rounds; ++r) {
            for (measured& m : table) {
                const std::string routine = m.routine;
                if (routine == "USURA") {
                    bench::reactor_state s(m.nc);
                    m.ns.push_back(round_ns(s, lib.usura, calls));
                    problem += s.check();
                } else if (routine == "host") {
                    bench::reactor_state s(m.nc);
                    m.ns.push_back(round_ns(s, [&] { s.host_calls(); }, calls));
                    problem += s.check_host_calls();
                } else if (routine == "UPROPU") {
                    bench::property_state s(m.nc);
                    m.ns.push_back(round_ns(s, lib.upropu, calls));
                    problem += s.check();
                } else {
                    bench::locator_state s(m.nc);
                    m.ns.push_back(round_ns(s, lib.cmploc, calls));
                    problem += s.check();
                }
            }
        }
        if (!problem.empty()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            return 1;
        }
        // The library's own share of a rate call: the call less the host's
        // six routines, median less median.
        std::printf("routine   nc   median ns   lowest ns\n");
        for (measured& m : table) {
            std::sort(m.ns.begin(), m.ns.end());
        }
        for (const measured& m : table) {
            std::printf("%-7s %4lld %11.1f %11.1f\n", m.routine, static_cast<long long>(m.nc),
                        m.ns[m.ns.size() / 2], m.ns.front());
        }
        for (std::size_t k = 0; k < 3; ++k) {
            const measured& usura = table[k];
            const measured& host = table[k + 3];
            std::printf("%-7s %4lld %11.1f   (USURA less the host's calls)\n", "library",
                        static_cast<long long>(usura.nc),
                        usura.ns[usura.ns.size() / 2] - host.ns[host.ns.size() / 2]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
