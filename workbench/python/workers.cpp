// Work split from Python: jobs=N worker processes forked from this one
// (session/workers.h), or executor=, any concurrent.futures.Executor (a
// ProcessPoolExecutor, a Dask client's executor, mpi4py.futures), to which
// the chunks go, a few a task, with everything they are computed from; each
// worker process imports the module and loads its plug-in once, and checks
// that it is the build the work was planned with. progress=: a callable
// progress(done, total), or True for a tqdm bar where tqdm is installed.
#include <map>
#include <memory>

#include <pybind11/stl.h>

#include "binding.h"
#include "session/answer.h"

namespace urea_python {
namespace {

using namespace workbench;

// Chunks in a task sent to an executor: a study's 32 points each, a
// bootstrap's one resample each.
constexpr std::size_t chunks_per_task = 4;

// A Python object kept by C++ work that runs without the GIL: let go of
// with the GIL, whichever thread lets go of it last.
std::shared_ptr<py::object> held(py::object o) {
    return {new py::object(std::move(o)), [](py::object* p) {
                const py::gil_scoped_acquire gil;
                delete p;
            }};
}

// What the workers on the other side check: the same workbench and plug-in
// builds as here.
std::string builds_of(const std::string& plugin) {
    return workbench_version() + "; " + plugin_version(plugin).value_or(no_version_marker);
}

// A task's answer, as the executor hands it back: a list of its chunks,
// each a list of bytes (session/answer.h, which checks them); anything
// else is refused.
std::vector<std::vector<std::string>> answer_of(const chunk_work& w, std::size_t first, std::size_t last,
                                                const py::handle answer) {
    const auto refuse = [&](const std::string& what) {
        return worker_answer_error(answer_place(w, first) + (last - first > 1 ? " (and the " + std::to_string(last - first - 1) +
                                   " after it, one task)" : std::string()) + ": " + what);
    };
    if (!PyList_Check(answer.ptr())) throw refuse("not a list of chunks");
    const auto chunks = py::reinterpret_borrow<py::list>(answer);
    std::vector<std::vector<std::string>> out;
    for (const py::handle c : chunks) {
        if (!PyList_Check(c.ptr())) throw refuse("a chunk that is not a list");
        std::vector<std::string>& items = out.emplace_back();
        for (const py::handle r : py::reinterpret_borrow<py::list>(c)) {
            if (!PyBytes_Check(r.ptr())) throw refuse("a result that is not bytes");
            items.push_back(r.cast<std::string>());
        }
    }
    return out;
}

// The chunks of a piece of work, sent to the executor a few a task, their
// results checked (session/answer.h) and taken in order as the tasks end.
void send(const chunk_work& w, const std::shared_ptr<py::object>& executor, const py::object& plugin,
          const std::string& builds) {
    const py::gil_scoped_acquire gil;
    const py::object run = py::module_::import("urea_reactor").attr("_run_chunks");
    const std::string state_bytes = w.state();
    const std::string plan = plan_of(builds, w.kind, state_bytes);
    const py::bytes state(state_bytes);
    std::vector<py::object> tasks;
    try {
        for (std::size_t first = 0; first < w.chunks; first += chunks_per_task) {
            const std::size_t last = std::min(w.chunks, first + chunks_per_task);
            tasks.push_back(executor->attr("submit")(run, plugin, builds, w.kind, state, first, last));
        }
        for (std::size_t t = 0; t < tasks.size(); ++t) {
            const std::size_t first = t * chunks_per_task, last = std::min(w.chunks, first + chunks_per_task);
            take_task_answer(w, plan, first, last, answer_of(w, first, last, tasks[t].attr("result")()));
        }
    } catch (...) {
        for (const py::object& t : tasks) t.attr("cancel")();
        throw;
    }
}

// A progress line on stderr, for progress=True where tqdm is not installed.
void progress_line(const char* what, std::size_t done, std::size_t total) {
    const py::object err = py::module_::import("sys").attr("stderr");
    err.attr("write")(py::str("\rurea_reactor: {} of {} {}").format(done, total, what));
    if (done >= total) err.attr("write")("\n");
    err.attr("flush")();
}

std::map<std::string, session_ptr>& sessions() {
    static std::map<std::string, session_ptr> open;
    return open;
}

}  // namespace

worker_options python_workers(session& s, py::handle jobs, py::handle executor, py::handle progress) {
    workers_request r;
    r.jobs = jobs.is_none() ? given_number("1", 1.0) : *number_of(jobs);
    worker_options o = check_workers(r);
    // Fewer workers than asked, and work they left undone: Python warnings.
    const auto warn = [](const std::string& text) {
        const py::gil_scoped_acquire gil;
        // Filters that make warnings errors do not end the work half done.
        if (PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 1) != 0) PyErr_Clear();
    };
    o.warning = warn;
    o.undone = warn;
    if (!executor.is_none()) {
        if (!py::hasattr(executor, "submit")) throw py::type_error("executor: a concurrent.futures.Executor, or None");
        // The module's plug-in is each worker's own; another build is found
        // there by its path.
        const py::object plugin = s.plugin_path() == default_plugin_path() ? py::object(py::none())
                                                                           : py::object(py::str(s.plugin_path()));
        o.elsewhere = [ex = held(py::reinterpret_borrow<py::object>(executor)), p = held(plugin),
                       builds = builds_of(s.plugin_path())](const chunk_work& w) { send(w, ex, *p, builds); };
    }
    if (progress.is_none() || (py::isinstance<py::bool_>(progress) && !progress.cast<bool>())) return o;
    if (py::isinstance<py::bool_>(progress)) {
        py::object tqdm = py::none();
        try {
            tqdm = py::module_::import("tqdm").attr("tqdm");
        } catch (const py::error_already_set&) {
            o.progress = [](const char* what, std::size_t done, std::size_t total) {
                const py::gil_scoped_acquire gil;
                progress_line(what, done, total);
            };
            return o;
        }
        struct bar_state {
            std::shared_ptr<py::object> bar;
        };
        auto st = std::make_shared<bar_state>();
        o.progress = [st, t = held(tqdm)](const char* what, std::size_t done, std::size_t total) {
            const py::gil_scoped_acquire gil;
            if (!st->bar) st->bar = held((*t)(py::arg("total") = total, py::arg("unit") = py::str(what)));
            py::object& bar = *st->bar;
            bar.attr("update")(done - bar.attr("n").cast<std::size_t>());
            if (done >= total) {
                bar.attr("close")();
                st->bar.reset();
            }
        };
        return o;
    }
    if (!PyCallable_Check(progress.ptr())) throw py::type_error("progress: a callable progress(done, total), True or None");
    o.progress = [cb = held(py::reinterpret_borrow<py::object>(progress))](const char*, std::size_t done,
                                                                             std::size_t total) {
        const py::gil_scoped_acquire gil;
        (*cb)(done, total);
    };
    return o;
}

py::list run_chunks_here(py::handle plugin, const std::string& builds, const std::string& kind, py::bytes state,
                         std::size_t first, std::size_t last) {
    session_ptr s;
    if (plugin.is_none()) {
        s = default_session();
    } else {
        const std::string path = path_text(plugin);
        session_ptr& open = sessions()[path];
        if (!open) open = open_session(path);
        s = open;
    }
    const std::string here = builds_of(s->s->plugin_path());
    if (here != builds) {
        throw plugin_error("this worker's builds, " + here + " (" + s->s->plugin_path() + "), are not those the work "
                           "was planned with, " + builds + ": install the same build on every worker");
    }
    const std::string bytes = state;
    const std::string plan = plan_of(builds, kind, bytes);
    if (last < first) throw py::value_error("chunks: last before first");
    std::vector<std::vector<std::string>> out(last - first);
    {
        const py::gil_scoped_release nogil;
        for (std::size_t i = first; i < last; ++i) {
            std::vector<std::string>& sealed = out[i - first];
            run_sent_chunk(*s->s, kind, bytes, i,
                           [&](const std::string& r) { sealed.push_back(sealed_result(plan, i, sealed.size(), r)); });
            sealed.push_back(sealed_end(plan, i, sealed.size()));
        }
    }
    py::list chunks;
    for (const std::vector<std::string>& c : out) {
        py::list results;
        for (const std::string& r : c) results.append(py::bytes(r));
        chunks.append(results);
    }
    return chunks;
}

}  // namespace urea_python
