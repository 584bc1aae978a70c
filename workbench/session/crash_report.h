// A plug-in that crashes the workbench says so in one line: which routine
// it was in (or that it was being loaded), the signal, and how to examine
// the build. The process then ends by that signal, as a crash does.
#ifndef UREA_WORKBENCH_SESSION_CRASH_REPORT_H
#define UREA_WORKBENCH_SESSION_CRASH_REPORT_H

#include <atomic>
#include <cstdint>
#include <string>

namespace workbench::crash_report {

enum class where : int { none, loading, usura, upropu };

// Where a worker process is, for its parent to read (session/workers.h):
// the place of the call into the plug-in it is in, and how many calls it
// has entered. Lives in memory shared between the two; each on a cache line
// of its own, so that workers counting their calls on other cores do not
// take the line from each other at every call.
struct alignas(64) beacon {
    std::atomic<int> at{static_cast<int>(where::none)};
    std::atomic<std::uint64_t> calls{0};
};

// Every call into the plug-in marked from now on is also recorded in b
// (none: null).
void share(beacon* b);

// What a crash at w by signal sig is, in the words of the line above, e.g.
// "the plug-in ./lib.so crashed in its routine USURA (signal 11, SIGSEGV, a
// bad memory access)"; "while loading" for where::loading. The plug-in is
// the one install() was last given.
std::string crash_text(where w, int sig);
// "its routine USURA", "its routine UPROPU", "" for none.
std::string routine_text(where w);
// The plug-in install() was last given; empty before.
const std::string& plugin_path();
// "; `urea-reactor check --plugin PATH` examines the build"
std::string check_hint();

// Installs the handlers (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, on a
// stack of their own) with the messages for the plug-in at plugin_path. A
// crash outside the plug-in is left to the default action.
void install(const std::string& plugin_path);

// Marks a call into the plug-in (or its loading) for the time it lasts.
class in_plugin {
public:
    explicit in_plugin(where w);
    ~in_plugin();
    in_plugin(const in_plugin&) = delete;
    in_plugin& operator=(const in_plugin&) = delete;

private:
    int before_;
};

}  // namespace workbench::crash_report

#endif
