// A session: the loaded plug-in and the stand-in host it answers, as a
// simulator's reactor model and property evaluation call it.
//
// The host's data items and routines (the stand-in host, liburea_host.so)
// exist once per process, and the plug-in keeps static storage of its own:
// it is not reentrant. So the workbench does one piece of work at a time per
// process: each piece (a run, a fit, an estimate, a sweep) holds
// session::work_lock() for as long as it lasts, and work asked for from
// another thread waits for it. Several sessions may be open at once, of the
// same build or of others; each call into a plug-in binds what it needs.
#ifndef UREA_WORKBENCH_SESSION_SESSION_H
#define UREA_WORKBENCH_SESSION_SESSION_H

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "model/case.h"
#include "model/properties.h"
#include "session/workers.h"
#include "standin/plugin.h"

namespace workbench {

using standin::plugin;
using plugin_error = standin::load_error;
using standin::load_report;
using standin::routine_names;

// The default plug-in: liburea_plugin.so in the first of the client's
// plug-in folders (plugin_folders) that has one, else in the last of them.
// The folders are relative to the file that holds the workbench's code: the
// program (urea-reactor), or the shared object it is linked into (the Python
// module), so that each finds the plug-in of its own build folder or package.
std::string default_plugin_path();

// Why a file is no plug-in for this host, as far as its ELF header tells
// (no ELF file, another architecture, no shared library); empty when it
// tells nothing against it. The loader may only say "No such file or
// directory" for a library of another architecture.
std::string plugin_file_diagnosis(const std::string& path);

// The client's plug-in folders, ':'-separated, e.g. ".:../lib/urea-plugin"
// (beside the program, then where the package installs it from bin/).
// Compiled into each client (session/plugin_folders.cpp) with its own
// UREA_PLUGIN_FOLDERS.
const char* plugin_folders();

// Makes the stand-in host's data items and routines global symbols of the
// process, so that a plug-in loaded after it resolves them: needed when the
// host library was loaded without them (as Python loads an extension and
// what it needs). The session's constructor and check_plugin call it.
void make_host_items_global();

class session {
public:
    // Loads the plug-in (the default one for an empty path) into this
    // process, holding work_lock(); throws plugin_error naming what failed.
    // A plug-in that crashes while it loads, or later in one of its
    // routines, is named in one line on stderr before the process ends by
    // the signal.
    explicit session(const std::string& plugin_path = "");
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    const std::string& plugin_path() const { return lib_->path(); }
    plugin& library() { return *lib_; }

    // Called now and then during long work (every few dozen rate calls and
    // between points): it throws interrupted to stop the work, e.g. on a
    // signal or past a time limit. None by default. It may be called from
    // inside a solver's callback: what it throws is kept and thrown again
    // once back in the workbench's own code, never through the solver.
    void set_stop_check(std::function<void()> check) { stop_check_ = std::move(check); }
    const std::function<void()>& stop_check() const { return stop_check_; }

    // How work that solves the reactor many times is split among worker
    // processes (session/workers.h): one worker by default, i.e. all of it
    // in this process.
    void set_workers(worker_options o) { workers_ = std::move(o); }
    const worker_options& workers() const { return workers_; }

    // Held by each piece of work for as long as it lasts (see above).
    // Recursive: a piece of work may call another. A process forked while
    // it is held starts with it free.
    static std::recursive_mutex& work_lock();

private:
    std::unique_ptr<plugin> lib_;
    std::function<void()> stop_check_;
    worker_options workers_;
};

// The plug-in's host for one piece of work with one property set: lays out
// the component list and answers the property calls through the stand-in
// host's data items and routines, and calls the library's routines with
// every argument by reference.
class workbench_host {
public:
    workbench_host(session& s, const property_set& properties);
    ~workbench_host();
    workbench_host(const workbench_host&) = delete;
    workbench_host& operator=(const workbench_host&) = delete;

    // Generation rates (kmol/s by component) of a liquid of the given molar
    // flows at t (K) and p (Pa) in a reacting volume v (m3): one call of
    // USURA with the components of non-zero flow as the present list. Once
    // the session's stop check has thrown, every rate is NaN (no call), so
    // that the solvers end at once; check_stop() then throws.
    flows rates(const flows& n, double t, double p, double v, double a1, double a2);

    // The stream's "NC-FLOW" mass flows (kg/s by component), evaluated by
    // UPROPU as the host's property evaluation asks for a user property.
    flows nc_flow(const flows& n, double t, double p);

    long rate_calls() const { return rate_calls_; }
    session& owner() { return session_; }

    // Whether the work is to stop; check_stop() runs the session's stop
    // check and throws interrupted if so. Never in a worker process, whose
    // parent decides.
    bool stopped() const { return static_cast<bool>(stop_); }
    void check_stop();

private:
    // Runs the session's stop check; keeps the interruption it throws.
    void poll_stop();

    session& session_;
    property_set properties_;
    long rate_calls_ = 0;
    std::exception_ptr stop_;
};

}  // namespace workbench

#endif
