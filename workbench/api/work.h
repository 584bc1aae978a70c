// The one piece of code every entry of the API runs its work through
// (api/workbench.cpp, api/analyses.cpp).
#ifndef UREA_WORKBENCH_API_WORK_H
#define UREA_WORKBENCH_API_WORK_H

#include <mutex>

#include "api/workbench.h"

namespace workbench::detail {

// A piece of work: the process's one user of the plug-in for as long as it
// lasts. A solver that gives up because the work was asked to stop is
// reported as the stop, not as a failure.
template <class Work>
auto work(session& s, const reactor_case& c, Work&& body) {
    const std::lock_guard<std::recursive_mutex> lock(session::work_lock());
    const property_set props(c.tables);
    workbench_host h(s, props);
    try {
        h.check_stop();
        auto out = body(h);
        h.check_stop();
        return out;
    } catch (const solver_error&) {
        h.check_stop();
        throw;
    }
}

}  // namespace workbench::detail

#endif
