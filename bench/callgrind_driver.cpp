// Makes a given number of calls of one routine at one component count, for
// counting instructions under callgrind (bench/callgrind-counts):
//
//   urea_callgrind_driver USURA|UPROPU|CMPLOC NC CALLS [N_PRESENT]
//
// The host state is the benchmark's (the seven species at the end of the
// list). N_PRESENT, for USURA only, shortens the list of present components
// to its last N_PRESENT entries (at least the five reacting species): the
// host's work changes with it, the library's must not. The results are
// checked after the calls; the exit status is 1 when they are wrong.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/scenario.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: urea_callgrind_driver USURA|UPROPU|CMPLOC NC CALLS [N_PRESENT]\n");
    return 2;
}

template <class State, class Routine>
int run(State& s, Routine routine, long calls) {
    for (long k = 0; k < calls; ++k) {
        s.call(routine);
    }
    const std::string problem = s.check();
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        return usage();
    }
    const std::string routine = argv[1];
    const long nc = std::strtol(argv[2], nullptr, 10);
    const long calls = std::strtol(argv[3], nullptr, 10);
    if (nc < 7 || nc > 100 || calls < 0) {
        return usage();
    }
    try {
        bench::plugin lib(bench::plugin_path());
        if (routine == "USURA") {
            bench::reactor_state s(nc);
            if (argc == 5) {
                const long n = std::strtol(argv[4], nullptr, 10);
                if (n < 5 || n > nc) {
                    return usage();
                }
                // The last n components, all of them in the host's present list.
                s.n_present = n;
                s.pos.erase(s.pos.begin(), s.pos.end() - n);
                s.x.erase(s.x.begin(), s.x.end() - n);
            }
            return run(s, lib.usura, calls);
        }
        if (argc == 5) {
            return usage();
        }
        if (routine == "UPROPU") {
            bench::property_state s(nc);
            return run(s, lib.upropu, calls);
        }
        if (routine == "CMPLOC") {
            bench::locator_state s(nc);
            return run(s, lib.cmploc, calls);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return usage();
}
