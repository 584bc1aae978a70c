#include "session/workers.h"

#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <deque>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <thread>

#include "base/digest.h"
#include "base/errors.h"
#include "session/answer.h"
#include "session/crash_report.h"
#include "session/wire.h"

namespace workbench {
namespace {

using clock_type = std::chrono::steady_clock;

bool worker_process = false;

// The workers alive, for kill_workers (0: a free place).
volatile std::sig_atomic_t live[max_jobs] = {};

// What a worker sends: a kind, the length of what follows, and that.
enum record : char {
    result_record = 'R',
    end_record = 'E',
    solver_failure = 'S',
    bad_input = 'I',
    other_failure = 'B',
};

bool send_all(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

void send_record(int fd, record kind, const std::string& body) {
    std::string r(1, static_cast<char>(kind));
    const std::uint64_t n = body.size();
    r.append(reinterpret_cast<const char*>(&n), sizeof n);
    r += body;
    // The parent is gone: nothing left to do.
    if (!send_all(fd, r.data(), r.size())) _exit(1);
}

std::string describe_signal(int sig) {
    const char* name = strsignal(sig);
    return "signal " + std::to_string(sig) + (name != nullptr ? std::string(", ") + name : std::string());
}

std::string seconds_text(double s) {
    std::ostringstream t;
    t << s;
    return t.str();
}

// No record a worker sends is longer: a longer length is a garbled record.
constexpr std::uint64_t max_record = wire::max_bytes;

// A solver's failure in a worker, raised here as it was there.
struct solver_failure_message {
    std::string what, details;
};
WIRE_FIELDS(solver_failure_message, what, details)
constexpr const char* solver_failure_kind = "solver failure";

// A worker: loads nothing, since it is a copy of this process; takes
// chunks (their number and the first result wanted) from the socket until
// it is closed. Its results and each chunk's end are sealed with the plan
// (session/answer.h).
[[noreturn]] void serve(int fd, const chunk_work& work, const std::string& plan) {
    for (;;) {
        std::uint64_t task[2] = {0, 0};
        const ssize_t n = recv(fd, task, sizeof task, MSG_WAITALL);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof task)) _exit(0);
        const auto chunk = static_cast<std::size_t>(task[0]);
        auto next = static_cast<std::size_t>(task[1]);
        try {
            work.run(chunk, next, [&](const std::string& r) {
                send_record(fd, result_record, sealed_result(plan, chunk, next++, r));
            });
            send_record(fd, end_record, sealed_end(plan, chunk, next));
        } catch (const solver_error& e) {
            send_record(fd, solver_failure, wire::write(solver_failure_kind, solver_failure_message{e.what(), e.details()}));
        } catch (const input_error& e) {
            send_record(fd, bad_input, e.what());
        } catch (const std::exception& e) {
            send_record(fd, other_failure, e.what());
        } catch (...) {
            send_record(fd, other_failure, "an unknown exception in a worker");
        }
    }
}

// The workers of one call of run_chunks, and what each is doing. Its
// destructor ends and waits for every worker still there.
class pool {
public:
    pool(const worker_options& o, const chunk_work& w) : o_(o), work_(w) {
        slots_ = std::min<std::size_t>(o.jobs, w.chunks);
        bytes_ = std::max<std::size_t>(slots_ * sizeof(crash_report::beacon), 1);
        void* m = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) {
            throw resource_error(std::string("no shared memory for worker processes (") + strerror(errno) + ")");
        }
        beacons_ = static_cast<crash_report::beacon*>(m);
        for (std::size_t k = 0; k < slots_; ++k) new (&beacons_[k]) crash_report::beacon();
        workers_.resize(slots_);
        unstarted_.assign(slots_, false);
        for (std::size_t i = 0; i < w.chunks; ++i) queue_.push_back({i, 0});
        // This call's own plan: an answer of another call, or garbled, is
        // refused.
        static std::uint64_t calls = 0;
        plan_ = sha256_hex("workers of process " + std::to_string(getpid()) + ", call " + std::to_string(++calls));
    }
    ~pool() {
        for (std::size_t k = 0; k < workers_.size(); ++k) end(k);
        munmap(beacons_, bytes_);
    }
    pool(const pool&) = delete;
    pool& operator=(const pool&) = delete;

    void run(const std::function<void()>& stop);

private:
    struct task {
        std::size_t chunk, from;
    };
    struct worker {
        pid_t pid = 0;
        int fd = -1;
        std::optional<task> on;            // what it works on
        std::string in;                    // bytes received, not yet a whole record
        std::uint64_t calls = 0;           // its beacon's count when it last moved
        clock_type::time_point moved{};
        bool hung = false;
        int hung_at = 0;
    };
    // A chunk's results as they come, in order: each a result's bytes, or
    // why the worker computing it ended (lost).
    struct item {
        bool lost = false;
        std::string bytes;
    };
    struct chunk_state {
        std::vector<item> items;
        std::size_t taken = 0;  // items handed on
        std::size_t count = 0;  // results and losses so far: where a rerun starts
        bool ended = false;
        std::exception_ptr error;
    };

    bool spawn(std::size_t k);
    void spawn_failed(std::size_t k, const char* what);
    void end(std::size_t k);
    void hand_out(std::size_t k);
    void read_from(std::size_t k);
    void died(std::size_t k);
    std::string fault_of(std::size_t k, int status) const;
    bool deliver();

    const worker_options& o_;
    const chunk_work& work_;
    std::string plan_;
    std::size_t slots_ = 0, bytes_ = 0;
    crash_report::beacon* beacons_ = nullptr;
    std::vector<worker> workers_;
    std::deque<task> queue_;  // to hand out, in order (a chunk to go on with first)
    std::map<std::size_t, chunk_state> chunks_;
    std::size_t next_take_ = 0;
    std::size_t results_ = 0, hangs_ = 0;
    bool hanging_ = false;  // taken to hang everywhere: nothing more is handed out
    std::string last_hang_;
    std::vector<bool> unstarted_;  // by slot: its fork failed, not tried again
    std::string unstarted_why_;
};

// Fewer workers than asked is said once in a process: not again for each
// piece of an estimate.
bool warned_fewer = false;

// A slot whose worker could not be started stays empty: the work goes on
// with the others, said once.
void pool::spawn_failed(std::size_t k, const char* what) {
    unstarted_why_ = std::string(what) + ": " + strerror(errno);
    unstarted_[k] = true;
}

bool pool::spawn(std::size_t k) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        spawn_failed(k, "socketpair");
        return false;
    }
    new (&beacons_[k]) crash_report::beacon();
    const pid_t parent = getpid();
    const pid_t group = [&] {
        for (const worker& w : workers_) {
            if (w.pid > 0) return getpgid(w.pid);
        }
        return pid_t{0};
    }();
    const pid_t pid = fork();
    if (pid == 0) {
        // The worker: it dies with the thread that made it, whatever ends it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        // A group of their own: a terminal's Ctrl-C goes to the parent,
        // which ends them.
        if (setpgid(0, group) != 0) setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // A crash ends it by its signal, without the parent's line; a stop
        // signal ends it at once; the parent's handlers (which remove its
        // temporary files) are not the worker's.
        for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGQUIT, SIGUSR1,
                        SIGUSR2, SIGCHLD}) {
            std::signal(sig, SIG_DFL);
        }
        std::signal(SIGPIPE, SIG_IGN);
        // A plug-in that crashes leaves no core file behind (check examines it).
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        close(fds[0]);
        for (const worker& w : workers_) {
            if (w.fd >= 0) close(w.fd);
        }
        worker_process = true;
        crash_report::share(&beacons_[k]);
        serve(fds[1], work_, plan_);
    }
    if (pid < 0) {
        spawn_failed(k, "fork");
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    close(fds[1]);
    setpgid(pid, group);  // as the worker does, whichever runs first
    worker& w = workers_[k];
    w = worker{};
    w.pid = pid;
    w.fd = fds[0];
    live[k] = pid;
    return true;
}

void pool::end(std::size_t k) {
    worker& w = workers_[k];
    if (w.fd >= 0) close(w.fd);
    w.fd = -1;
    if (w.pid > 0) {
        kill(w.pid, SIGKILL);
        int status = 0;
        while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    w.pid = 0;
    live[k] = 0;
}

void pool::hand_out(std::size_t k) {
    worker& w = workers_[k];
    if (hanging_ || w.on || w.pid <= 0 || queue_.empty()) return;
    // At most a few chunks ahead of the one being taken: what comes early
    // waits in memory.
    const task t = queue_.front();
    if (t.chunk >= next_take_ + 4 * static_cast<std::size_t>(o_.jobs)) return;
    const std::uint64_t message[2] = {t.chunk, t.from};
    if (!send_all(w.fd, reinterpret_cast<const char*>(message), sizeof message)) return;  // it died: read_from says so
    queue_.pop_front();
    w.on = t;
    w.moved = clock_type::now();
    w.calls = beacons_[k].calls.load(std::memory_order_relaxed);
    chunks_[t.chunk];
}

std::string pool::fault_of(std::size_t k, int status) const {
    const worker& w = workers_[k];
    const std::string in_worker = " in a worker process";
    if (w.hung) {
        const auto at = static_cast<crash_report::where>(w.hung_at);
        const std::string limit = seconds_text(o_.stall_s);
        if (at != crash_report::where::none) {
            return "the plug-in " + crash_report::plugin_path() + " did not return from " + crash_report::routine_text(at) +
                   " within " + limit + " s" + in_worker + " (taken to hang; the worker was ended)" +
                   crash_report::check_hint();
        }
        return "a worker process made no progress for " + limit + " s (taken to hang; the worker was ended)";
    }
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const auto at = static_cast<crash_report::where>(beacons_[k].at.load());
        if (at != crash_report::where::none) return crash_report::crash_text(at, sig) + in_worker + crash_report::check_hint();
        return "a worker process was ended by " + describe_signal(sig) + ", outside the plug-in's routines";
    }
    return "a worker process ended before its work did (exit status " +
           std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

void pool::died(std::size_t k) {
    worker& w = workers_[k];
    int status = 0;
    if (w.fd >= 0) close(w.fd);
    w.fd = -1;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    live[k] = 0;
    const std::string why = fault_of(k, status);
    const std::optional<task> on = w.on;
    const bool hung = w.hung;
    w = worker{};
    if (!on) return;  // between chunks: nothing lost
    // The result it was computing is lost; the chunk goes on after it.
    chunk_state& c = chunks_[on->chunk];
    c.items.push_back({true, why});
    ++c.count;
    queue_.push_front({on->chunk, c.count});
    if (hung) {
        last_hang_ = why;
        ++hangs_;
        hanging_ = hangs_ >= min_hangs_to_stop && hangs_ > results_;
    }
}

void pool::read_from(std::size_t k) {
    worker& w = workers_[k];
    char buf[1 << 16];
    const ssize_t n = recv(w.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
        died(k);
        return;
    }
    w.in.append(buf, static_cast<std::size_t>(n));
    w.moved = clock_type::now();
    constexpr std::size_t head = 1 + sizeof(std::uint64_t);
    std::size_t at = 0;  // the records read, erased together after
    const struct erase_read {
        std::string& in;
        const std::size_t& at;
        ~erase_read() { in.erase(0, at); }
    } erase{w.in, at};
    while (w.on && w.in.size() - at >= head) {
        std::uint64_t len = 0;
        std::memcpy(&len, w.in.data() + at + 1, sizeof len);
        const std::size_t chunk = w.on->chunk;
        if (len > max_record) {
            throw worker_answer_error(answer_place(work_, chunk) + ": a record of " + std::to_string(len) + " bytes");
        }
        if (w.in.size() - at < head + len) break;
        const auto kind = static_cast<record>(w.in[at]);
        std::string body = w.in.substr(at + head, static_cast<std::size_t>(len));
        at += head + static_cast<std::size_t>(len);
        chunk_state& c = chunks_[chunk];
        switch (kind) {
            case result_record:
                if (std::optional<std::string> r = open_answer(work_, plan_, chunk, c.count, body)) {
                    c.items.push_back({false, std::move(*r)});
                    ++c.count;
                    ++results_;
                    continue;
                }
                throw worker_answer_error(answer_place(work_, chunk) + ": a chunk's end sent as a result");
            case end_record:
                if (open_answer(work_, plan_, chunk, c.count, body)) {
                    throw worker_answer_error(answer_place(work_, chunk) + ": a result sent as the chunk's end");
                }
                break;
            case solver_failure: {
                solver_failure_message m;
                try {
                    wire::read(body, solver_failure_kind, m);
                } catch (const worker_answer_error& e) {
                    throw worker_answer_error(answer_place(work_, chunk) + ": its solver failure: " + e.what());
                }
                c.error = std::make_exception_ptr(solver_error(m.what, m.details));
                break;
            }
            case bad_input: c.error = std::make_exception_ptr(input_error(body)); break;
            case other_failure: c.error = std::make_exception_ptr(std::runtime_error(printable(body))); break;
            default:
                throw worker_answer_error(answer_place(work_, chunk) + ": a record of an unknown kind (" +
                                          std::to_string(static_cast<unsigned char>(kind)) + ")");
        }
        c.ended = true;
        w.on.reset();
        hand_out(k);
    }
}

// Takes what has come, in order, a chunk once it has ended: an answer
// found wrong before its end (read_from throws) has had nothing of it
// taken. True when every chunk is taken.
bool pool::deliver() {
    const auto take_items = [&](std::size_t i, chunk_state& c) {
        for (; c.taken < c.items.size(); ++c.taken) {
            const item& x = c.items[c.taken];
            if (!x.lost) {
                take_result(work_, i, x.bytes);
            } else if (work_.lost) {
                work_.lost(i, x.bytes, true);
            } else {
                throw worker_lost(x.bytes);
            }
        }
    };
    while (next_take_ < work_.chunks) {
        const std::size_t i = next_take_;
        const auto it = chunks_.find(i);
        if (it != chunks_.end() && it->second.ended) {
            chunk_state& c = it->second;
            take_items(i, c);
            if (c.error) std::rethrow_exception(c.error);
            chunks_.erase(it);
            ++next_take_;
            continue;
        }
        const bool running =
            std::any_of(workers_.begin(), workers_.end(), [&](const worker& w) { return w.on && w.on->chunk == i; });
        if (running || !hanging_) return false;
        // What it gave before, then never run (further): the plug-in is
        // taken to hang everywhere.
        if (it != chunks_.end()) take_items(i, it->second);
        const std::string why = "not run: " + std::to_string(hangs_) + " worker processes were taken to hang, with " +
                                std::to_string(results_) + " results back (the last: " + last_hang_ + ")";
        if (!work_.lost) throw worker_lost(why);
        work_.lost(i, why, false);
        if (it != chunks_.end()) chunks_.erase(it);
        queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [&](const task& t) { return t.chunk == i; }),
                     queue_.end());
        ++next_take_;
    }
    return true;
}

void pool::run(const std::function<void()>& stop) {
    for (std::size_t k = 0; k < slots_; ++k) spawn(k);
    auto stopped_at = clock_type::now(), woke = stopped_at;
    for (;;) {
        for (std::size_t k = 0; k < slots_; ++k) {
            if (workers_[k].pid <= 0 && !unstarted_[k] && !hanging_ && !queue_.empty()) spawn(k);
            hand_out(k);
        }
        if (deliver()) return;
        const auto alive = static_cast<std::size_t>(
            std::count_if(workers_.begin(), workers_.end(), [](const worker& w) { return w.pid > 0; }));
        if (!unstarted_why_.empty()) {
            if (alive == 0) throw resource_error("no worker process could be started (" + unstarted_why_ + ")");
            if (!warned_fewer && o_.warning) {
                o_.warning("only " + std::to_string(alive) + " of " + std::to_string(slots_) +
                           " worker processes could be started (" + unstarted_why_ + "); the work goes on with them");
            }
            warned_fewer = true;
        }
        if (stop && clock_type::now() - stopped_at > std::chrono::milliseconds(50)) {
            stop();
            stopped_at = clock_type::now();
        }
        std::vector<pollfd> fds;
        std::vector<std::size_t> which;
        for (std::size_t k = 0; k < slots_; ++k) {
            if (workers_[k].fd < 0) continue;
            fds.push_back({workers_[k].fd, POLLIN, 0});
            which.push_back(k);
        }
        // At most one wake-up in a few milliseconds: the results of that
        // time, from every worker, are taken together (a wake-up for each
        // would cost this process more than the workers' solves do, with
        // many workers).
        const auto since = clock_type::now() - woke;
        if (since < std::chrono::milliseconds(2)) std::this_thread::sleep_for(std::chrono::milliseconds(2) - since);
        const int ready = poll(fds.data(), fds.size(), 50);
        woke = clock_type::now();
        if (ready < 0 && errno != EINTR) throw std::runtime_error("poll failed while waiting for worker processes");
        for (std::size_t j = 0; ready > 0 && j < fds.size(); ++j) {
            if (fds[j].revents != 0) read_from(which[j]);
        }
        // A worker on a chunk that neither calls the plug-in nor sends
        // anything for stall_s is taken to hang.
        const auto now = clock_type::now();
        for (std::size_t k = 0; k < slots_; ++k) {
            worker& w = workers_[k];
            if (w.pid <= 0 || !w.on || w.hung) continue;
            const std::uint64_t calls = beacons_[k].calls.load(std::memory_order_relaxed);
            if (calls != w.calls) {
                w.calls = calls;
                w.moved = now;
            } else if (std::chrono::duration<double>(now - w.moved).count() > o_.stall_s) {
                w.hung = true;
                w.hung_at = beacons_[k].at.load(std::memory_order_relaxed);
                kill(w.pid, SIGKILL);  // its socket then reads as closed
            }
        }
    }
}

}  // namespace

unsigned available_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

bool in_worker() { return worker_process; }

void say_undone(const worker_options& options, const std::string& work, std::size_t lost, std::size_t total,
                const std::string& what, const std::string& why) {
    if (lost == 0 || !options.undone) return;
    options.undone(work + ": " + std::to_string(lost) + " of " + std::to_string(total) + " " + what +
                   " not solved: " + why);
}

std::string plan_of(const std::string& builds, const std::string& kind, const std::string& state) {
    return sha256_hex(wire::write("plan", std::vector<std::string>{builds, kind, state}));
}

void kill_workers() {
    for (std::size_t k = 0; k < max_jobs; ++k) {
        const pid_t pid = live[k];
        if (pid > 0) kill(pid, SIGKILL);
    }
    // None is left behind, even for a moment, once this process is gone.
    for (std::size_t k = 0; k < max_jobs; ++k) {
        const pid_t pid = live[k];
        if (pid <= 0) continue;
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        live[k] = 0;
    }
}

void run_chunks(const worker_options& options, const chunk_work& work, const std::function<void()>& stop) {
    if (options.elsewhere && !work.kind.empty() && !worker_process) {
        if (stop) stop();
        options.elsewhere(work);
        return;
    }
    if (options.jobs <= 1 || work.chunks == 0 || worker_process) {
        for (std::size_t i = 0; i < work.chunks; ++i) {
            if (stop) stop();
            work.run(i, 0, [&](const std::string& r) { work.take(i, r); });
        }
        return;
    }
    worker_options o = options;
    o.jobs = std::min(o.jobs, max_jobs);
    pool p(o, work);
    p.run(stop);
}

std::string run_watched(const worker_options& options, const std::function<std::string()>& compute,
                        const std::function<void()>& stop) {
    if (options.jobs <= 1 || worker_process) return compute();
    std::string out;
    chunk_work work;
    work.chunks = 1;
    work.run = [&](std::size_t, std::size_t from, const std::function<void(const std::string&)>& emit) {
        if (from == 0) emit(compute());  // else its one result was lost
    };
    work.take = [&](std::size_t, const std::string& bytes) { out = bytes; };
    pool p(options, work);
    p.run(stop);
    return out;
}

}  // namespace workbench
