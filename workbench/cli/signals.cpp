#include "cli/signals.h"

#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>

#include "cli/progress.h"
#include "io/output_files.h"
#include "session/check.h"
#include "session/workers.h"

namespace workbench::cli {
namespace {

char time_limit_text[64] = "";

void put(const char* text) {
    std::size_t length = std::strlen(text);
    while (length > 0) {
        const ssize_t n = write(STDERR_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

// Only async-signal-safe calls: the work may be anywhere, in the plug-in
// too. Nothing the work left half done survives but its temporary files,
// which go.
void stop(int sig) {
    kill_workers();
    remove_temporaries();
    // Ended and waited for: nothing of this process is left once it is gone.
    for (const int child : {gnuplot_child(), check_child()}) {
        if (child <= 0) continue;
        kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    clear_progress_line();
    if (sig == SIGALRM) {
        put("urea-reactor: stopped: the time limit of ");
        put(time_limit_text);
        put(" s (--time-limit) was reached\n");
        _exit(exit_time_limit);
    }
    if (sig == SIGPIPE) {
        put("urea-reactor: stopped: standard output was closed\n");
    } else {
        put("urea-reactor: interrupted\n");
    }
    _exit(128 + sig);
}

}  // namespace

void handle_stop_signals(double time_limit_s) {
    struct sigaction sa {};
    sa.sa_handler = stop;
    sigfillset(&sa.sa_mask);  // one stop at a time
    // SIGPIPE: a reader that closed early (`| head`) ends the run as Ctrl-C
    // does, not with partial files left behind.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGPIPE}) sigaction(sig, &sa, nullptr);
    if (time_limit_s > 0.0) {
        // The limit as the user gave it, for the message.
        const long whole = static_cast<long>(time_limit_s);
        if (static_cast<double>(whole) == time_limit_s) {
            std::snprintf(time_limit_text, sizeof time_limit_text, "%ld", whole);
        } else {
            std::snprintf(time_limit_text, sizeof time_limit_text, "%g", time_limit_s);
        }
        itimerval t{};
        t.it_value.tv_sec = static_cast<time_t>(time_limit_s);
        t.it_value.tv_usec = static_cast<suseconds_t>((time_limit_s - std::floor(time_limit_s)) * 1e6);
        if (t.it_value.tv_sec == 0 && t.it_value.tv_usec == 0) t.it_value.tv_usec = 1;
        setitimer(ITIMER_REAL, &t, nullptr);
    }
}


}  // namespace workbench::cli
