// Work split among worker processes. The plug-in keeps static state and the
// stand-in host's items exist once per process, so a worker is a process:
// forked from this one once the work is planned and checked (no exec), it
// has its own copy of the loaded plug-in, of the host and of everything the
// work was laid out with. Each solves the chunks it is handed, sends each
// chunk's results back over a socket as they come, and ends with _exit: it
// never returns into the caller, runs no atexit handler, no destructor and
// no Python. A worker that crashes, or makes no progress for a while (no
// call into the plug-in, no result: every solve is bounded in rate calls,
// so only a plug-in that never returns does that), is ended and its chunk
// reported lost, in words that name the routine as `check` names it.
//
// The results do not depend on the number of workers: the work is cut into
// the same chunks for any number, each chunk computed from the same state
// (whatever the caller laid out before; a chunk must not depend on what an
// earlier chunk did), and the results taken here in the order of the chunks.
// One worker runs the same chunks here, in this process.
//
// What this asks of a caller: a process with other threads may fork (only
// the calling thread goes on in the worker, and the worker touches nothing
// but the workbench's own code: no lock another thread may hold, no
// interpreter); the calling thread stays until the work ends (the workers
// die with it, PR_SET_PDEATHSIG); a signal handler that ends the process
// calls kill_workers() first.
#ifndef UREA_WORKBENCH_SESSION_WORKERS_H
#define UREA_WORKBENCH_SESSION_WORKERS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "base/errors.h"

namespace workbench {

// The cores this process may run on (sched_getaffinity), at least 1.
unsigned available_cores();

// At most this many worker processes.
inline constexpr unsigned max_jobs = 1024;

// A worker that makes no progress for this long is taken to hang (seconds).
inline constexpr double default_stall_s = 10.0;

struct chunk_work;

// How work is split, and watched.
struct worker_options {
    unsigned jobs = 1;               // worker processes at most; 1: everything in this process
    double stall_s = default_stall_s;
    // Called in this process as the work goes: what is counted ("points",
    // "bootstrap resamples"), how many are done, of how many.
    std::function<void(const char* what, std::size_t done, std::size_t total)> progress;
    // Where work that has a kind goes instead, when set (e.g. a cluster's
    // machines): it computes every chunk of the work there and hands each
    // result to work.take here, in order; it throws to end the work.
    std::function<void(const chunk_work& work)> elsewhere;
    // Called in this process with what the user should know of the workers
    // (fewer could be started than asked), once a piece of work.
    std::function<void(const std::string& warning)> warning;
    // Called here once a piece of work has ended with results its workers
    // could not compute (a plug-in that crashed or hung), in words: "design:
    // 20 of 40 candidates not solved: the plug-in ... did not return ...".
    std::function<void(const std::string& line)> undone;
};

// What a piece of work left undone, for worker_options::undone: `lost` of
// `total` (what: "points") not solved, the first for `why`. Nothing when
// none was lost.
void say_undone(const worker_options& options, const std::string& work, std::size_t lost, std::size_t total,
                const std::string& what, const std::string& why);

// A piece of work cut into chunks, each with its results in order.
struct chunk_work {
    std::size_t chunks = 0;
    // Computes chunk i's results from number `from` on (0: all of them),
    // handing each to emit as it comes: in a worker, or here. It may throw
    // solver_error, input_error or anything else; the error is raised here
    // when the chunk's turn comes.
    std::function<void(std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit)> run;
    // Takes each result of chunk i here, in the order of the chunks and of
    // their results.
    std::function<void(std::size_t i, const std::string& result)> take;
    // Chunk i's worker ended while it computed its next result (ran), e.g.
    // its plug-in crashed: why, in words ("the plug-in ./lib.so crashed in
    // its routine USURA (signal 11, SIGSEGV, a bad memory access) in a
    // worker process; ..."); the chunk then goes on with the result after
    // it, in another worker. Or the rest of chunk i is not run (not ran:
    // the plug-in was taken to hang everywhere, see min_hangs_to_stop).
    // Without it, a lost result throws solver_error with those words.
    std::function<void(std::size_t i, const std::string& why, bool ran)> lost;
    // For work that may go to other machines (worker_options::elsewhere):
    // its kind ("study", "design", "bootstrap") and everything its chunks
    // are computed from, as bytes; there, run_sent_chunk (api/workbench.h)
    // computes chunk i from them, to the same bytes as run does here. No
    // kind: the work stays on this machine.
    std::string kind;
    std::function<std::string()> state;
    // How many results chunk i has, where that is known before it runs (a
    // study's points, a monitor's windows, one for each piece): a worker
    // that ends the chunk with another number (losses counted) is refused.
    // None: whatever number the worker says it sent.
    std::function<std::size_t(std::size_t i)> results;
};

// A crash costs a worker, a hang stall_s: when at least this many workers
// were taken to hang, and more than results have come back, the plug-in is
// taken to hang everywhere, and what is not yet handed out is not run.
inline constexpr std::size_t min_hangs_to_stop = 3;

// A result lost with its worker (its plug-in crashed or hung) where the
// work has no place for a lost one: what() says why, in the words above.
class worker_lost : public solver_error {
public:
    using solver_error::solver_error;
};

// Runs every chunk: here, in order, when options.jobs is 1 (or in a
// worker); else in up to options.jobs workers forked from this process,
// handed out in order, even a single chunk, so that no call into the
// plug-in runs here unwatched. stop: called here now and then (every chunk
// here; every 50 ms or so while workers work); it throws to end the work,
// which first ends every worker. No worker outlives the call, however it
// ends. A fork that fails: the work goes on with the workers there are
// (options.warning says so); with none, resource_error.
void run_chunks(const worker_options& options, const chunk_work& work, const std::function<void()>& stop);

// Computes one result as bytes where the plug-in's calls are watched as a
// worker's: in a worker process of its own when options.jobs > 1, here
// otherwise (or in a worker already). For the parts of a piece of work that
// are not cut into chunks. A crash or a hang there throws solver_error in
// the words of a lost result ("the plug-in ... crashed in its routine
// USURA ... in a worker process; ...").
std::string run_watched(const worker_options& options, const std::function<std::string()>& compute,
                        const std::function<void()>& stop);

// Ends every worker process of this process at once (SIGKILL) and waits
// for them: async-signal-safe, for a handler that ends the process.
void kill_workers();

// Whether this process is a worker.
bool in_worker();

}  // namespace workbench

#endif
