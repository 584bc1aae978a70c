// A plug-in build whose rate routine is the real one, except that above
// 190 C (463.15 K) it crashes its host (HOT_CRASH) or never returns
// (HOT_HANG): a study whose hotter points reach only some of its workers.
#include <unistd.h>

#include <csignal>

#include "wrapped_usura.h"

namespace {
void adjust_rates(const double* stream, const double*, double*, host_int nc) {
    if (nc < 1 || nc > 100 || !(stream[nc + 1] > 463.15)) return;
#ifdef HOT_CRASH
    std::raise(SIGSEGV);
#else
    for (;;) pause();
#endif
}
}  // namespace
