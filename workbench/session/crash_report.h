// A plug-in that crashes the workbench says so in one line: which routine
// it was in (or that it was being loaded), the signal, and how to examine
// the build. The process then ends by that signal, as a crash does.
#ifndef UREA_WORKBENCH_SESSION_CRASH_REPORT_H
#define UREA_WORKBENCH_SESSION_CRASH_REPORT_H

#include <string>

namespace workbench::crash_report {

enum class where : int { none, loading, usura, upropu };

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
