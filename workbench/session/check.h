// `urea-reactor check`: does a plug-in build load into this host, export
// its three routines, and reproduce known results?
#ifndef UREA_WORKBENCH_SESSION_CHECK_H
#define UREA_WORKBENCH_SESSION_CHECK_H

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "base/words.h"
#include "session/version.h"

namespace workbench {

struct verdict {
    bool ok;
    message text;  // one sentence, in words
};

// Every verdict that could be reached; a later one is skipped (and listed
// as not checked) when what it needs failed. The build is loaded and run
// in a child process: one that crashes or hangs (past timeout_s seconds),
// even while it loads, is reported as such. timeout_s: more than 0, at most
// max_check_timeout_s (else input_error naming "timeout"). stop: called
// every few dozen milliseconds while the child runs; what it throws ends
// the check (the child killed) and is thrown on.
inline constexpr double max_check_timeout_s = 86400.0;
std::vector<verdict> check_plugin(const std::string& path, double timeout_s = 10.0,
                                  const std::function<void()>& stop = {});

// Whether the build is good: no verdict failed.
bool check_passed(const std::vector<verdict>& verdicts);

// The check's report, as `urea-reactor check` prints it: the heading (the
// build checked and its version marker; printed before the check runs,
// which takes seconds), then each verdict and the build's in words.
void print_check_heading(std::ostream& out, const build_info& build);
void print_verdicts(std::ostream& out, const std::vector<verdict>& verdicts, const vocabulary& words);

// The child process a check runs the build in, while it runs (0: none), for
// a signal handler to end with its parent. It dies with its parent anyway.
int check_child();

}  // namespace workbench

#endif
