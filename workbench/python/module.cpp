// urea_reactor: the workbench from Python, a thin client of api/workbench.h
// as the command line is. The plug-in is loaded into the Python process
// (the session makes the stand-in host's items global first, since Python
// loads an extension and what it needs without global symbols); each call
// releases the GIL while the workbench works, and a stop check on each
// session turns Ctrl-C into KeyboardInterrupt.
#include <cxxabi.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <type_traits>

#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include "binding.h"
#include "report/monitor_report.h"
#include "report/schema_report.h"
#include "report/study_report.h"
#include "urea_version.h"

namespace urea_python {
namespace {

using namespace workbench;

PyObject* new_error(py::module_& m, const char* name, PyObject* base, const char* doc) {
    PyObject* type = PyErr_NewExceptionWithDoc((std::string("urea_reactor.") + name).c_str(), doc, base, nullptr);
    if (type == nullptr) throw py::error_already_set();
    m.attr(name) = py::reinterpret_borrow<py::object>(type);
    return type;
}

// ---- Sessions and Ctrl-C ------------------------------------------------------------

unsigned long main_thread = 0;

// Whether the interpreter has begun to end (Py_FinalizeEx): read without the GIL.
bool interpreter_ending() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

// Only Python's main thread runs signal handlers: work there asks Python
// about pending signals now and then (at most every 10 ms, so that the GIL
// is rarely taken); a handler that raises (Ctrl-C: KeyboardInterrupt) stops
// the work, and the exception stays pending for the call to raise. Work in
// another thread stops, without touching Python, once the interpreter has
// begun to end (a daemon thread when the program exits).
void stop_on_signal() {
    if (PyThread_get_thread_ident() != main_thread) {
        if (interpreter_ending()) throw interrupted("the interpreter is exiting");
        return;
    }
    using clock = std::chrono::steady_clock;
    static clock::time_point last{};
    const clock::time_point now = clock::now();
    if (now - last < std::chrono::milliseconds(10)) return;
    last = now;
    const py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw interrupted("interrupted by a signal", SIGINT);
}

// A thread other than the main one that comes back from the workbench while
// the interpreter ends may not take the GIL again: Python would end it by
// unwinding its stack through frames that hold Python objects, which then
// go without the GIL (or, through a destructor, end the process). The
// process is about to end: the thread waits for that, holding nothing.
[[noreturn]] void wait_for_the_end() {
    for (;;) pause();
}

// Runs a piece of work without the GIL, so that other Python threads go on
// (see wait_for_the_end for a thread that finds the interpreter ending).
template <class Work>
auto without_gil(Work&& work) {
    std::optional<decltype(work())> out;
    std::exception_ptr error;
    PyThreadState* const state = PyEval_SaveThread();
    try {
        out.emplace(work());
    } catch (...) {
        error = std::current_exception();
    }
    const bool main = PyThread_get_thread_ident() == main_thread;
    if (!main && interpreter_ending()) wait_for_the_end();
    try {
        PyEval_RestoreThread(state);
    } catch (abi::__forced_unwind&) {
        // It began to end meanwhile, and Python ends this thread so.
        wait_for_the_end();
    }
    if (error) std::rethrow_exception(error);
    return std::move(*out);
}

}  // namespace

session_ptr open_session(const std::string& path) {
    auto out = std::make_shared<py_session>();
    // The session takes the work lock while it loads the plug-in.
    out->s = without_gil([&] { return std::make_unique<session>(path); });
    out->s->set_stop_check(stop_on_signal);
    return out;
}

// The module's own session, with the default plug-in, opened on first use.
// Never destroyed: a daemon thread may still be working with it while the
// process exits, and the plug-in must stay loaded under it.
session_ptr& default_session() {
    static session_ptr* const s = new session_ptr;
    if (!*s) {
        session_ptr opened = open_session("");
        if (!*s) *s = std::move(opened);  // another thread may have opened one meanwhile
    }
    return *s;
}

void warn_of_monitor(const monitor_output& o);  // python/monitor.cpp

namespace {

session_ptr open_session(py::handle plugin) { return urea_python::open_session(plugin.is_none() ? "" : path_text(plugin)); }

// The session a call uses: plugin=None the module's, a Session, or a
// plug-in's path (a session for this call).
session_ptr session_for(py::handle plugin) {
    if (plugin.is_none()) return default_session();
    if (py::isinstance<py_session>(plugin)) return plugin.cast<session_ptr>();
    return open_session(plugin);
}

// ---- The calls, each on a session ------------------------------------------------------

// Warnings as the checks find them, in Python's words, kept for the result.
struct collected {
    std::vector<std::string> warnings;
    notices n;
    collected() {
        n.warning = [this](const message& w) { warnings.push_back(said(w)); };
        n.note = [](const message&) {};
    }
};


run_output run_on(session& s, py::handle c, py::handle estimate, py::handle band, py::handle carry_factors) {
    run_request r;
    r.case_ = case_request_of(c);
    r.estimate = estimate_of(estimate, carry_factors);
    r.band = text_of(band);
    collected w;
    const run_job job = check_run(r, w.n);
    const origin from{s.plugin_path(), job.inputs};
    if (job.bands) {
        prediction p = without_gil([&] { return workbench::predict(s, job.c, *job.bands); });
        run_output o{p.c, p.run, std::nullopt, job.bands, from};
        o.p = std::move(p);
        return o;
    }
    result res = without_gil([&] { return workbench::run(s, job.c); });
    return {job.c, std::move(res), std::nullopt, std::nullopt, from};
}

fit_output fit_on(session& s, py::handle c, py::handle target) {
    fit_request r;
    r.case_ = case_request_of(c);
    r.co2_conversion = given_of(target);
    collected w;
    const fit_job job = check_fit(r, w.n);
    fit_output o{job.c, job.target, {}, {s.plugin_path(), job.inputs}};
    o.f = without_gil([&] { return workbench::fit(s, o.c, job.target); });
    o.c.a2 = o.f.a2;
    return o;
}

// Runs a piece of work without the GIL on the session with these workers,
// which it keeps for as long as the work lasts.
template <class Work>
auto with_workers(session& s, worker_options workers, Work&& work) {
    return without_gil([&] {
        const std::lock_guard<std::recursive_mutex> lock(session::work_lock());
        worker_options before = s.workers();
        s.set_workers(std::move(workers));
        try {
            auto out = work();
            s.set_workers(std::move(before));
            return out;
        } catch (...) {
            s.set_workers(std::move(before));
            throw;
        }
    });
}

// The study's points as a table, a row per point as it is solved.
study_output run_study_of(session& s, study_plan plan, origin from, worker_options workers) {
    study_output o{std::move(plan), {}, {}, std::move(from)};
    o.points = study_table(o.plan);
    o.summary = with_workers(s, std::move(workers), [&] {
        return workbench::study(s, o.plan, [&](const study_point& p) {
            // Taken with the GIL when the points come from an executor.
            add_study_point(o.points, o.plan, p);
        });
    });
    return o;
}

// A sweep; with bands, a study of the same grid with the default results,
// as `sweep --estimate` writes one.
py::object sweep_or_study(session& s, py::handle c, py::handle vary, py::handle estimate, py::handle band,
                          py::handle carry_factors, py::handle jobs, py::handle executor, py::handle progress) {
    sweep_request r;
    r.case_ = case_request_of(c);
    r.vary = vary_of(vary);
    r.estimate = estimate_of(estimate, carry_factors);
    r.band = text_of(band);
    collected w;
    sweep_job job = check_sweep(r, w.n);
    const origin from{s.plugin_path(), job.inputs};
    worker_options workers = python_workers(s, jobs, executor, progress);
    if (job.plan.study.bands) return py::cast(run_study_of(s, std::move(job.plan.study), from, std::move(workers)));
    sweep_output o{std::move(job.plan), {}, from};
    o.r = with_workers(s, std::move(workers), [&] { return workbench::sweep(s, o.plan); });
    return py::cast(std::move(o));
}

// cases=: a case table's path, or a table in memory.
void set_cases(py::handle cases, const std::string& name, std::optional<std::string>& file,
               std::optional<table_given>& table) {
    if (cases.is_none()) return;
    if (is_path(cases)) {
        file = path_text(cases);
    } else {
        table = table_of(cases, "cases: a case table's path, a pandas DataFrame or a list of dicts (one a case)", name);
    }
}

study_output study_on(session& s, py::handle c, py::handle vary, py::handle cases, py::handle results,
                      const std::string& name, py::handle estimate, py::handle band, py::handle carry_factors,
                      py::handle jobs,
                      py::handle executor, py::handle progress) {
    study_request r;
    r.case_ = case_request_of(c);
    r.vary = vary_of(vary);
    set_cases(cases, name, r.cases, r.cases_table);
    r.results = names_of(results);
    r.estimate = estimate_of(estimate, carry_factors);
    r.band = text_of(band);
    collected w;
    study_job job = check_study(r, w.n);
    return run_study_of(s, std::move(job.plan), {s.plugin_path(), job.inputs},
                        python_workers(s, jobs, executor, progress));
}

estimate_output estimate_on(session& s, py::handle runs, py::handle c, py::handle fix, py::handle loss,
                            const std::string& name, py::handle bootstrap, py::handle seed, py::handle jobs,
                            py::handle executor, py::handle progress) {
    estimate_request r;
    r.runs = runs_of(runs, name);
    r.case_ = case_request_of(c);
    r.fix = fix_of(fix);
    r.loss = text_of(loss);
    // bootstrap=0: none.
    if (!bootstrap.is_none() && number_text(bootstrap) != "0") r.bootstrap = number_of(bootstrap);
    r.seed = number_of(seed);
    collected w;
    estimate_output o;
    o.job = check_estimate(r, w.n);
    o.warnings = std::move(w.warnings);
    o.from = {s.plugin_path(), o.job.inputs};
    o.e = with_workers(s, python_workers(s, jobs, executor, progress),
                       [&] { return workbench::estimate(s, o.job.problem); });
    return o;
}

design_output design_on(session& s, py::handle runs, py::handle c, py::handle vary, py::handle cases,
                        py::handle estimate, py::handle fix, py::handle measure, py::handle for_factor,
                        const std::string& name, py::handle jobs, py::handle executor, py::handle progress) {
    design_request r;
    r.runs = runs_of(runs, name);
    r.case_ = case_request_of(c);
    r.vary = vary_of(vary);
    set_cases(cases, name, r.cases, r.cases_table);
    r.estimate = estimate_of(estimate, py::none());
    r.fix = fix_of(fix);
    r.measure = names_of(measure);
    r.for_factor = text_of(for_factor);
    collected w;
    design_job job = check_design(r, w.n);
    design_output o{std::move(job.problem), {}, {s.plugin_path(), job.inputs}};
    o.r = with_workers(s, python_workers(s, jobs, executor, progress), [&] { return workbench::design(s, o.p); });
    return o;
}

monitor_output monitor_on(session& s, py::handle history, py::handle c, py::handle window, py::handle step,
                          py::handle fix, py::handle meter_sigma, py::handle frozen, bool sort, const std::string& name,
                          py::handle jobs, py::handle executor, py::handle progress) {
    monitor_request r;
    r.history = history_of(history, name);
    r.sort = sort;
    r.case_ = case_request_of(c);
    r.window = duration_of(window);
    r.step = duration_of(step);
    r.frozen = duration_of(frozen);
    r.fix = fix_of(fix);
    r.meter_sigma = fix_of(meter_sigma);
    collected w;
    monitor_job job = check_monitor(r, w.n);
    monitor_output o;
    o.problem = std::make_shared<monitor_problem>(std::move(job.problem));
    o.warnings = std::move(w.warnings);
    o.from = {s.plugin_path(), job.inputs};
    o.result = std::make_shared<monitor_result>(
        with_workers(s, python_workers(s, jobs, executor, progress), [&] { return workbench::monitor(s, *o.problem); }));
    warn_of_monitor(o);
    return o;
}

// One pass of watch over a store: what it read, followed and raised, as
// JSON text (the module makes it a dict).
std::string watch_on(session& s, py::handle source, const std::string& store, py::handle c, py::handle window,
                     py::handle step, py::handle fix, py::handle meter_sigma, py::handle frozen, bool reread, bool dry_run,
                     py::handle pending, py::handle lab_gap, py::handle stale, py::handle approach_below, py::handle smtp,
                     py::handle mail_from, py::handle mail_to, py::handle webhook, py::handle jobs) {
    watch_request r;
    r.monitor.history.file = text_of(source).value_or("");
    if (r.monitor.history.file.empty()) throw input_error("watch: a source to follow (a history file or a folder of exports)");
    r.monitor.case_ = case_request_of(c);
    r.monitor.window = duration_of(window);
    r.monitor.step = duration_of(step);
    r.monitor.frozen = duration_of(frozen);
    r.monitor.fix = fix_of(fix);
    r.monitor.meter_sigma = fix_of(meter_sigma);
    r.store = store;
    r.reread = reread;
    r.dry_run = dry_run;
    r.pending = duration_of(pending);
    r.lab_gap = duration_of(lab_gap);
    r.stale = duration_of(stale);
    r.approach_below = number_of(approach_below);
    r.smtp = text_of(smtp);
    r.mail_from = text_of(mail_from);
    for (const given_value& v : names_of(mail_to)) r.mail_to.push_back(v.text);
    r.webhook = text_of(webhook);
    collected w;
    const watch_job job = check_watch(r, w.n);
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    return with_workers(s, python_workers(s, jobs, py::none(), py::none()), [&] {
        std::unique_ptr<database> db;
        try {
            db = open_database(job.store, true);
            open_store_schema(*db);
        } catch (const database_error& e) {
            throw input_error(e.what());
        }
        if (!db->try_lock()) throw input_error("the store " + db->name() + " is being watched by another process: one watcher to a store");
        watch_pass_report rep;
        try {
            rep = watch_once(s, *db, job, build_of(s.plugin_path()), now);
        } catch (const database_error& e) {
            throw input_error(e.what());
        }
        nlohmann::ordered_json j;
        j["pass"] = rep.pass;
        j["read"] = rep.read;
        j["rows_read"] = rep.rows_read;
        j["followed"] = rep.followed;
        j["followed_to"] = rep.cutoff ? nlohmann::ordered_json(timestamp_text(*rep.cutoff, rep.zoned)) : nlohmann::ordered_json(nullptr);
        j["windows"] = rep.windows;
        j["windows_new"] = rep.windows_new;
        j["windows_changed"] = rep.windows_changed;
        j["changes"] = nlohmann::ordered_json::array();
        for (const alert_change& ch : rep.changes) {
            nlohmann::ordered_json a = alert_json(ch.alert, rep.zoned);
            a["from"] = ch.from ? nlohmann::ordered_json(alert_state_name(*ch.from)) : nlohmann::ordered_json(nullptr);
            a["sent"] = ch.notify && !job.dry_run;
            j["changes"].push_back(a);
        }
        if (!job.dry_run) {
            const delivery_report d = deliver_outbox(*db, job.targets, now);
            j["delivered"] = d.delivered;
            j["delivery_errors"] = d.errors;
        }
        return j.dump();
    });
}

// A store read back: the document `watch --store STORE --json` prints.
std::string store_document(const std::string& store) {
    try {
        const std::unique_ptr<database> db = open_database_read_only(store);
        check_store_schema(*db);
        database_transaction snapshot(*db);
        const watch_read r = read_store(*db);
        nlohmann::ordered_json j = store_json(*db, r, build_of(plugin_or_default("")), python_words());
        return j.dump();
    } catch (const database_error& e) {
        throw input_error(e.what());
    }
}

// Its windows as monitor's table (the command line's --csv).
table store_windows(const std::string& store) {
    try {
        const std::unique_ptr<database> db = open_database_read_only(store);
        check_store_schema(*db);
        database_transaction snapshot(*db);
        const watch_read r = read_store(*db);
        return monitor_table(monitor_report{&r.problem, &r.result, python_words()});
    } catch (const database_error& e) {
        throw input_error(e.what());
    }
}

// ---- Each call twice: a Session's method and the module's function ----------------

using session_class = py::class_<py_session, session_ptr>;

// The calls take Python objects as py::handle; bound as py::object, as help() shows them.
template <class T>
using bound_t = std::conditional_t<std::is_same_v<T, py::handle>, py::object, T>;

template <class... Extra>
constexpr bool has_kw_only = (std::is_same_v<Extra, py::kw_only> || ...);

// Binds a call from one argument list as both: the Session's method, on that
// session, and the module's function, which takes plugin= too (keyword-only),
// so that the two take the same arguments.
template <class R, class... A, class... Extra>
void def_call(py::module_& m, session_class& type, const char* name, R (*call)(session&, A...),
              const char* method_doc, const char* doc, const Extra&... args) {
    type.def(
        name, [call](py_session& p, bound_t<A>... a) { return call(*p.s, a...); }, args..., method_doc);
    auto on_plugin = [call](bound_t<A>... a, py::object plugin) { return call(*session_for(plugin)->s, a...); };
    if constexpr (has_kw_only<Extra...>) {
        m.def(name, on_plugin, args..., py::arg("plugin") = py::none(), doc);
    } else {
        m.def(name, on_plugin, args..., py::kw_only(), py::arg("plugin") = py::none(), doc);
    }
}

py::dict build_dict(const build_info& b) {
    py::dict d;
    d["workbench"] = b.workbench;
    d["plugin"] = b.plugin;
    d["plugin_file"] = b.plugin_file;
    return d;
}

const char* const module_doc = R"(urea_reactor: the urea reactor workbench (urea-reactor) from Python.

Runs a urea synthesis reactor with the compiled plug-in liburea_plugin.so,
loaded into this process, acting as its host; the same library and the same
results as the command line's, as Python objects and numpy arrays:

    import urea_reactor as ur
    case = ur.Case.default().with_settings(nh3_co2=3.2)
    r = ur.run(case)                      # r.co2_conversion, r.profile (a Table)
    r.profile.to_pandas()                 # where pandas is installed
    s = ur.sweep(case, vary={"a2": (0.01, 10, 13)})
    e = ur.estimate("runs.csv", case, fix={"a1": 1})   # or a DataFrame, a list of dicts
    ur.run(case, estimate=e).bands        # each result's 95 % band from the estimate
    d = ur.design("runs.csv", case, vary={"t_out": (176, 192, 5)}, estimate=e)   # the next run
    f = ur.fit(case, 0.6)                 # the a2 that gives 60 % conversion
    ur.check()                            # is the plug-in build good?

The plug-in: by default the package's own (installed with pip), the one of
this module's build folder (build/default/bin) or the .deb's
(/usr/lib/urea-plugin); another with plugin=PATH on any call, or a
Session(PATH) whose methods make the same calls.

Arguments: each function's help gives their types (the package is typed:
py.typed, and mypy reads it); a misspelt keyword raises a TypeError naming
the nearest one. executor_timeout= bounds the wait for an executor's tasks
(ExecutorLost past it).

Errors: InputError (a ValueError) for bad input, with exactly the command
line's message and the key, file, line and column where known; SolverError
when the reactor has no solution (.details lists each start); PluginError
when a plug-in does not load; WorkerError when an executor's worker answers
with what was not asked for (the message names the chunk and what was wrong).

Threads: the plug-in is not reentrant, so the workbench does one piece of
work at a time per process. Each call releases the GIL while it works:
other Python threads run meanwhile, and a call from another thread waits
until the one working has finished (the calls are safe from any thread, but
run one after the other, not in parallel; for that, jobs=N on study, sweep,
estimate, design and monitor forks N worker processes, and executor= sends the work
to any concurrent.futures.Executor: a ProcessPoolExecutor, a Dask client's
get_executor(), mpi4py.futures. The results are the same to the last bit.
progress= takes a callable progress(done, total), or True for a tqdm bar.)

Ctrl-C: work running in the main thread stops within a few milliseconds and
raises KeyboardInterrupt (work in other threads runs to its end, as Python
delivers signals to the main thread only; so does a call waiting for it).
When the interpreter exits with work in another thread (a daemon thread),
that work stops, and the thread waits for the process to end.
A plug-in that crashes ends the process, after one line on stderr naming it
(in a worker of jobs=N, it fails only the point or window it was on).)";

}  // namespace
}  // namespace urea_python

PYBIND11_MODULE(_core, m) {
    using namespace urea_python;
    using namespace workbench;
    m.doc() = module_doc;
    main_thread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();

    input_error_type = new_error(m, "InputError", PyExc_ValueError,
                                 "Bad input: a case's value, a runs file's cell, a sweep's or an estimate's "
                                 "option. str(e) is the message; e.reason the same without the place. Where: "
                                 "e.field, the argument (\"vary\"), e.subject, the argument as the message "
                                 "names it ('vary[\"a2\"]'), and e.value, the value given as its text; or "
                                 "e.key (a case file's key), e.file, e.line, e.column (1-based); None where "
                                 "not known.");
    solver_error_type = new_error(m, "SolverError", PyExc_RuntimeError,
                                  "The reactor has no solution (or no start gave a usable fit): str(e) is one "
                                  "line, e.details what each start ended with.");
    plugin_error_type = new_error(m, "PluginError", PyExc_OSError,
                                  "A plug-in that does not load, or lacks one of its routines: the message "
                                  "names the file and what failed.");
    plot_error_type = new_error(m, "PlotError", PyExc_RuntimeError,
                                "A plot that could not be drawn (gnuplot missing, failing or too slow): the "
                                "message names the plot and why.");
    resource_error_type = new_error(m, "ResourceError", PyExc_OSError,
                                    "The system would not give what the work needs: no worker process could "
                                    "be started (too many processes for this user); jobs=1 runs in this one.");
    worker_error_type = new_error(m, "WorkerError", PyExc_RuntimeError,
                                  "An executor's worker answered with what was not asked for: a chunk or a "
                                  "result missing, repeated, out of order or of another piece of work, bytes "
                                  "cut short or left over, values that do not fit the work. The message names "
                                  "the chunk and what was wrong; nothing of the answer is taken.");
    py::register_exception_translator(&translate);

    make_display(m);
    bind_table(m);
    bind_case(m);
    bind_results(m);
    bind_study(m);
    bind_design(m);
    bind_monitor(m);

    session_class session_type(m, "Session", R"(A plug-in loaded into this process, and the calls that use it.

Session() loads the default plug-in, Session(path) another build. Its
methods run, fit, sweep and estimate are the module's functions on this
plug-in. Several sessions may be open at once, of the same build or of
others; their work runs one piece at a time (see the module's help).
Raises PluginError when the plug-in does not load.)");
    session_type
        .def(py::init([](py::object plugin) { return open_session(plugin); }), py::arg("plugin") = py::none())
        .def_property_readonly("plugin_file", [](const py_session& p) { return p.s->plugin_path(); },
                               "The plug-in's file.")
        .def(
            "build_info", [](const py_session& p) { return build_dict(build_of(p.s->plugin_path())); },
            "The workbench's and this plug-in's versions (see urea_reactor.build_info).")
        .def("__repr__", [](const py_session& p) { return "<Session " + p.s->plugin_path() + ">"; });

    // Each call, as a Session's method and as the module's function.
    def_call(m, session_type, "run", &run_on, "Runs a case (see urea_reactor.run).",
             R"(Runs a case: the profile, the outlet, the equilibrium at the outlet and the outlet's NC-FLOW.

case: a Case, a case file's path, or None for the default case. estimate:
an EstimateResult or an estimate file's path (e.to_json() saved, or what
`urea-reactor estimate --json` writes): the case runs at the estimate's a1
and a2, and result.bands gives each result's 95 % band from the factors'
uncertainty (band='profile', the range over the likelihood region, where the
estimate has it; or 'linearised', the delta method); result.band says which.
plugin: a plug-in's path or a Session (default: the module's plug-in).
Returns a Result. Raises InputError for a bad case, SolverError when the
reactor has no solution.)",
             py::arg("case") = py::none(), py::kw_only(), py::arg("estimate") = py::none(), py::arg("band") = py::none(),
             py::arg("carry_factors") = false);
    def_call(m, session_type, "fit", &fit_on, "The a2 that gives a conversion (see urea_reactor.fit).",
             R"(Finds the a2 that gives an outlet CO2 conversion (a fraction), the case's other values kept.

a2 is scanned over decades, then narrowed (TOMS 748 on ln a2); a target
above what any a2 reaches raises InputError; of two a2 that reach it, the
one nearer the case's a2 is `a2`, both are in `solutions`. Returns a
FitResult.)",
             py::arg("case"), py::arg("co2_conversion"));
    def_call(m, session_type, "sweep", &sweep_or_study, "A sweep (see urea_reactor.sweep).",
             R"(Runs the reactor over a grid of one or two case quantities.

vary: a dict, one or two entries NAME: (FROM, TO, N) or (SPACING, FROM, TO,
N) with SPACING 'log' or 'lin' (a1 and a2 are spaced evenly in ln by
default, anything else evenly), or NAME: "FROM:TO:N"; or a list of
"NAME=FROM:TO:N" as the command line's --vary. NAME: a1, a2, trays, volume,
pressure, t_in, t_out, co2, nh3_co2, h2o_co2, feed_kmol_h.<component> or a
runs file's column name. A point the reactor cannot solve is recorded and
the sweep goes on. Returns a SweepResult; with estimate= (and band=, as for
run()), each result with its 95 % band: a StudyResult of the same grid, as
`sweep --estimate` writes a study's table. jobs, executor and progress split the
work among worker processes or send it to an executor (see
help(urea_reactor)).)",
             py::arg("case") = py::none(), py::arg("vary"), py::kw_only(), py::arg("estimate") = py::none(),
             py::arg("band") = py::none(), py::arg("carry_factors") = false, py::arg("jobs") = py::none(), py::arg("executor") = py::none(),
             py::arg("progress") = py::none());
    def_call(m, session_type, "study", &study_on, "A study (see urea_reactor.study).",
             R"(Runs the reactor over a grid of any number of case quantities, or over a table of cases.

vary: a dict NAME: values, every combination run (the first fastest): a
tuple is a range (FROM, TO, N) or (SPACING, FROM, TO, N) with SPACING 'log'
or 'lin' (a1 and a2 in ln by default), a list the values themselves
([2.8, 3.1, 3.4]; model: ["trays", "pfr"]), a str the command line's
"FROM:TO:N" or "V1,V2". cases: instead, a case table (a CSV file's path, a
pandas DataFrame or a list of dicts, one a case) with a runs file's setting
columns and a1, a2, model; other columns are carried through. results: the
results by name (see urea_reactor.results()), default the conversion, the
equilibrium conversion and the NC-FLOW mass fractions. Each point is warm-
started from its nearest solved neighbour; one that fails is recorded and the
study goes on. estimate (and band): as for run(), each point at the
estimate's a1 and a2 with each result's 95 % band beside it (NAME_low,
NAME_high); a sweep with bands is a study of the same vary. Returns a
StudyResult: .columns (a Table: the settings, the carried columns, each
result, ok, failure) and .to_pandas(). jobs, executor and progress split the
work among worker processes or send it to an executor (see
help(urea_reactor)).)",
             py::arg("case") = py::none(), py::kw_only(), py::arg("vary") = py::none(), py::arg("cases") = py::none(),
             py::arg("results") = py::none(), py::arg("name") = "<table>", py::arg("estimate") = py::none(),
             py::arg("band") = py::none(), py::arg("carry_factors") = false, py::arg("jobs") = py::none(), py::arg("executor") = py::none(),
             py::arg("progress") = py::none());
    def_call(m, session_type, "estimate", &estimate_on, "An estimate (see urea_reactor.estimate).",
             R"(Estimates a1 and a2 from plant test runs, with their uncertainty and a verdict in plain words.

runs: a runs file's path (CSV, docs/runs-files.md), a pandas DataFrame or a
list of dicts, one a run, with the runs file's columns (a missing key, None
or NaN: not given). A table is checked as the CSV file it would be written
as: its header is line 1, its first row line 2; `name` stands for the file
in messages. case: the base case (default: the built-in one), whose a1 and
a2 are where the search starts. fix: {"a1": VALUE} and/or {"a2": VALUE}
holds a factor. loss: "none" (least squares), "huber" or "cauchy". Returns
an EstimateResult, with the profile intervals, the joint region, each run
left out, the bootstrap (bootstrap=N resamples drawn with seed) and the
tuned case; e.write_case(path), e.write_report(path) and e.to_json() write
what the command line's --write-case, --report and --json do. Raises
InputError (naming file, line and column) for bad runs, SolverError when a
run has no solution at the start or no start gives a usable fit. jobs, executor and progress split the
work among worker processes or send it to an executor (see
help(urea_reactor)).)",
             py::arg("runs"), py::arg("case") = py::none(), py::kw_only(), py::arg("fix") = py::none(),
             py::arg("loss") = "none", py::arg("name") = "<table>", py::arg("bootstrap") = 0, py::arg("seed") = py::none(),
             py::arg("jobs") = py::none(), py::arg("executor") = py::none(), py::arg("progress") = py::none());
    def_call(m, session_type, "design", &design_on, "The design of the next test run (see urea_reactor.design).",
             R"(Designs the next test run: ranks the runs the operator could make by how much each would shrink the uncertainty of a1 and a2.

runs: the current runs (as for estimate()); case: their base case. vary or
cases: the candidates, as study() takes them (ranges or lists of the
settings the operator may change, or a case table). estimate: the current
estimate (an EstimateResult or an estimate file's path); None: estimated
here (the fit alone, fix= holding a factor). measure: what the next run
would measure (names, or 'all'; default what most current runs measure).
for_factor: 'a1' or 'a2' to rank by that factor's expected interval alone
(default D-optimal). Returns a DesignResult: .candidates (a Table: settings,
rank, relative, expected intervals), .ranking, .verdict in words. jobs, executor and progress split the
work among worker processes or send it to an executor (see
help(urea_reactor)).)",
             py::arg("runs"), py::arg("case") = py::none(), py::kw_only(), py::arg("vary") = py::none(),
             py::arg("cases") = py::none(), py::arg("estimate") = py::none(), py::arg("fix") = py::none(),
             py::arg("measure") = py::none(), py::arg("for_factor") = py::none(), py::arg("name") = "<table>",
             py::arg("jobs") = py::none(), py::arg("executor") = py::none(), py::arg("progress") = py::none());

    def_call(m, session_type, "watch", &watch_on, "One pass of watch (see urea_reactor.watch).",
             "One pass of watch over a store (see urea_reactor.watch): the pass's report as JSON text.",
             py::arg("source"), py::arg("store"), py::arg("case") = py::none(), py::kw_only(),
             py::arg("window") = py::none(), py::arg("step") = py::none(), py::arg("fix") = py::none(),
             py::arg("meter_sigma") = py::none(), py::arg("frozen") = py::none(), py::arg("reread") = false,
             py::arg("dry_run") = false, py::arg("pending") = py::none(), py::arg("lab_gap") = py::none(),
             py::arg("stale") = py::none(), py::arg("approach_below") = py::none(), py::arg("smtp") = py::none(),
             py::arg("mail_from") = py::none(), py::arg("mail_to") = py::none(), py::arg("webhook") = py::none(),
             py::arg("jobs") = py::none());
    m.def("_quantities", [] { return quantities_json().dump(); }, "Every type and its fields, as urea-reactor quantities --json.");
    m.def("_store_document", &store_document, py::arg("store"), "What a store holds, as watch --store STORE --json prints it.");
    m.def("_store_windows", &store_windows, py::arg("store"), "A store's windows, as monitor's table.");

    def_call(m, session_type, "monitor", &monitor_on, "A monitor of a plant history (see urea_reactor.monitor).",
             R"(Follows the reactor through a plant history: a2 window by window, the approach to equilibrium, the feed meters against the lab, and where a2 changed.

history: a history file's path (CSV: a runs file's columns and a `time`
column, docs/monitor.md) or a pandas DataFrame with the same columns, its
times as a DatetimeIndex or a `time` column (a list of dicts, one a row, as
for estimate()). case: the base case (the reactor; its a1 unless held).
window: the windows' length, "24h" (also "8h", "7d", "90min", or a
timedelta); step: how far each window starts after the one before (default:
the window). fix={"a1": VALUE} holds a1 (default: estimated once from the
steady windows). meter_sigma: each feed meter's relative uncertainty in per
cent, {"feed_kmol_h.CO2": 2} (default 1). frozen: how long a sensor may
repeat one value before it counts as frozen (default "6h"). sort=True puts
rows out of time order in order instead of refusing them. Returns a
MonitorResult: .windows (a Table; .windows.to_pandas() with a
DatetimeIndex), .drifts, .screening, .plot(). Raises InputError for a bad
history (file, line and column) or option. jobs, executor and progress split
the window fits among worker processes or send them to an executor (see
help(urea_reactor)).)",
             py::arg("history"), py::arg("case") = py::none(), py::kw_only(), py::arg("window") = "24h",
             py::arg("step") = py::none(), py::arg("fix") = py::none(), py::arg("meter_sigma") = py::none(),
             py::arg("frozen") = py::none(), py::arg("sort") = false, py::arg("name") = "<table>",
             py::arg("jobs") = py::none(), py::arg("executor") = py::none(), py::arg("progress") = py::none());

    m.def(
        "results",
        [] {
            py::list l;
            for (const result_quantity& q : result_quantities()) {
                py::dict d;
                d["name"] = q.name;
                d["unit"] = q.unit;
                d["meaning"] = q.meaning;
                d["measurable"] = q.measurable;
                l.append(d);
            }
            return l;
        },
        "Every result a study can tabulate (a tray's as NAME@N): a list of {'name', 'unit', 'meaning', "
        "'measurable'}.");
    m.def(
        "check",
        [](py::object plugin, py::object timeout) {
            const check_job job = check_check({plugin.is_none() ? "" : path_text(plugin), number_of(timeout)});
            check_output o{build_of(job.plugin), {}};
            o.verdicts = without_gil([&] { return check_plugin(job.plugin, job.timeout, stop_on_signal); });
            return o;
        },
        py::arg("plugin") = py::none(), py::arg("timeout") = 10.0,
        R"(Checks a plug-in build (default: the module's): does it load into this host, export
CMPLOC, USURA and UPROPU, and reproduce known reference results? It runs the
build in a child process: one that crashes or hangs (past `timeout` seconds)
is reported (timeout: more than 0, at most a day). Ctrl-C stops it. Returns a CheckResult
(true when the build is good).)");
    m.def("cores", &available_cores, "The cores this process may run on (for jobs=ur.cores()).");
    m.def("_run_chunks_here", &run_chunks_here, py::arg("plugin"), py::arg("builds"), py::arg("kind"),
          py::arg("state"), py::arg("first"), py::arg("last"));
    // What an executor's workers run: a function of the module's own, which
    // pickles by its name (a compiled one does not pickle at all).
    py::exec(R"(
def _run_chunks(plugin, builds, kind, state, first, last):
    """Chunks first .. last - 1 of a piece of work sent by another process (study, sweep, design or estimate
    with executor=): what each worker of the executor runs, on its own session of the plug-in."""
    return _run_chunks_here(plugin, builds, kind, state, first, last)
)",
             m.attr("__dict__"));
    m.def("version", &workbench_version, "The workbench's version and git commit, e.g. 'urea-reactor 1.1.0 (commit abcdef0)'.");
    m.def(
        "build_info",
        [](py::object plugin) {
            if (py::isinstance<py_session>(plugin)) return build_dict(build_of(plugin.cast<session_ptr>()->s->plugin_path()));
            return build_dict(build_of(plugin.is_none() ? default_plugin_path() : path_text(plugin)));
        },
        py::arg("plugin") = py::none(),
        "The workbench's and a plug-in's versions: {'workbench', 'plugin' (its version marker, or why there is "
        "none), 'plugin_file'}; default: the module's plug-in, which need not be loaded.");
    m.def("default_plugin_path", &default_plugin_path, "The plug-in the module loads by default.");
    m.def(
        "session", [] { return default_session(); },
        "The module's own Session (the default plug-in), opened on first use: what calls without plugin= use.");
    m.attr("__version__") = UREA_VERSION;
}
