#include "cli/progress.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>

namespace workbench::cli {
namespace {

volatile std::sig_atomic_t line_shown = 0;

void put(const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(STDERR_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

}  // namespace

void clear_progress_line() {
    if (line_shown) put("\r\033[K", 4);
    line_shown = 0;
}

std::function<void(const char*, std::size_t, std::size_t)> terminal_progress(bool quiet) {
    if (quiet || isatty(STDERR_FILENO) == 0) return {};
    using clock = std::chrono::steady_clock;
    struct state {
        clock::time_point start = clock::now(), shown{};
        const char* what = nullptr;
    };
    auto st = std::make_shared<state>();
    return [st](const char* what, std::size_t done, std::size_t total) {
        const auto now = clock::now();
        if (what != st->what) {  // another piece of work: timed from now
            st->what = what;
            st->start = now;
        }
        if (done >= total) {
            clear_progress_line();
            return;
        }
        if (now - st->shown < std::chrono::milliseconds(200)) return;
        st->shown = now;
        const double elapsed = std::chrono::duration<double>(now - st->start).count();
        const double rate = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
        char text[160];
        int n = std::snprintf(text, sizeof text, "\rurea-reactor: %zu of %zu %s (%.0f %%)", done, total, what,
                              std::floor(100.0 * static_cast<double>(done) / static_cast<double>(total)));
        if (done > 0 && elapsed >= 1.0 && n > 0 && static_cast<std::size_t>(n) < sizeof text) {
            const double left = static_cast<double>(total - done) / rate;
            n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ", %.*f a second, about %.0f s left",
                               rate < 10.0 ? 1 : 0, rate, std::ceil(left));
        }
        if (n > 0 && static_cast<std::size_t>(n) < sizeof text - 4) {
            // The rest of a longer line before it cleared.
            text[n++] = '\033';
            text[n++] = '[';
            text[n++] = 'K';
            put(text, static_cast<std::size_t>(n));
            line_shown = 1;
        }
    };
}

}  // namespace workbench::cli
