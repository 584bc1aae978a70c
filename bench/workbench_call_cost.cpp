// The workbench's calls in-process, timed: the default case run N times, or a
// 1000-point sweep, through api/workbench.h as any C++ client makes them.
// bench/python-overhead times the same calls from Python against these.
//
//   workbench_call_cost run|sweep CALLS ROUNDS
//
// Prints each round's time per call, in microseconds, then the outlet CO2
// conversion of the last call (so that the work is used).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/workbench.h"

int main(int argc, char** argv) {
    using namespace workbench;
    const std::string what = argc > 1 ? argv[1] : "";
    if (argc != 4 || (what != "run" && what != "sweep")) {
        std::fprintf(stderr, "usage: %s run|sweep CALLS ROUNDS\n", argv[0]);
        return 2;
    }
    const long calls = std::atol(argv[2]);
    const long rounds = std::atol(argv[3]);
    session s;
    const reactor_case c = default_case();
    const sweep_plan plan = plan_sweep(c, {parse_vary("a2=0.001:100:1000")});
    double last = 0.0;
    const auto call = [&] {
        if (what == "run") {
            last = run(s, c).co2_conversion;
        } else {
            last = sweep(s, plan).points.back().co2_conversion;
        }
    };
    call();  // warm: the plug-in's pages, the allocator
    std::vector<double> per_call;
    for (long r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (long k = 0; k < calls; ++k) call();
        const std::chrono::duration<double, std::micro> t = std::chrono::steady_clock::now() - start;
        per_call.push_back(t.count() / static_cast<double>(calls));
    }
    for (const double t : per_call) std::printf("%.3f ", t);
    std::printf("%.17g\n", last);
    return 0;
}
