#include "session/crash_report.h"

#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>
#include <mutex>

namespace workbench::crash_report {
namespace {

volatile std::sig_atomic_t current = static_cast<int>(where::none);
beacon* shared = nullptr;
std::string installed;

// The messages, written before any crash: a handler may only write(2).
constexpr std::size_t places = 4;
std::array<std::string, places> heads;
std::string tail;

constexpr std::array<int, 5> signals = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

const char* signal_name(int sig) {
    switch (sig) {
        case SIGSEGV: return "SIGSEGV, a bad memory access";
        case SIGBUS: return "SIGBUS, a bad memory access";
        case SIGILL: return "SIGILL, an illegal instruction";
        case SIGFPE: return "SIGFPE, an arithmetic trap";
        case SIGABRT: return "SIGABRT, an abort";
        default: return "a fatal signal";
    }
}

void put(const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(STDERR_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

void handler(int sig) {
    const int at = current;
    if (at > static_cast<int>(where::none) && static_cast<std::size_t>(at) < places) {
        const std::string& head = heads[static_cast<std::size_t>(at)];
        put(head.data(), head.size());
        char number[8];
        std::size_t k = sizeof number;
        for (int v = sig; k > 0 && (v > 0 || k == sizeof number); v /= 10) {
            number[--k] = static_cast<char>('0' + v % 10);
        }
        put(number + k, sizeof number - k);
        put(", ", 2);
        const char* name = signal_name(sig);
        put(name, std::strlen(name));
        put(tail.data(), tail.size());
    }
    // Then end as the crash would have: the default action, raised again
    // when the handler returns (or re-run by the faulting instruction).
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void install(const std::string& plugin_path) {
    installed = plugin_path;
    const std::string start = "urea-reactor: error: the plug-in " + plugin_path + " crashed ";
    heads[static_cast<std::size_t>(where::loading)] = start + "while loading (signal ";
    heads[static_cast<std::size_t>(where::usura)] = start + "in its routine USURA (signal ";
    heads[static_cast<std::size_t>(where::upropu)] = start + "in its routine UPROPU (signal ";
    tail = "); `urea-reactor check --plugin " + plugin_path + "` examines the build\n";
    // The handlers once per process, with a stack of their own for the
    // thread that installs them: a plug-in that overflows the stack still
    // gets its line. (Other threads keep theirs: a sanitizer gives each
    // thread an alternate stack of its own and unmaps it when it ends.)
    static std::once_flag once;
    std::call_once(once, [] {
        static std::array<char, 1 << 16> alternate;
        stack_t ss{};
        ss.ss_sp = alternate.data();
        ss.ss_size = alternate.size();
        sigaltstack(&ss, nullptr);
        struct sigaction sa {};
        sa.sa_handler = handler;
        sa.sa_flags = SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        for (int sig : signals) sigaction(sig, &sa, nullptr);
    });
}

in_plugin::in_plugin(where w) : before_(current) {
    current = static_cast<int>(w);
    if (shared != nullptr) {
        shared->at.store(static_cast<int>(w), std::memory_order_relaxed);
        shared->calls.store(shared->calls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
}

in_plugin::~in_plugin() {
    current = before_;
    if (shared != nullptr) shared->at.store(before_, std::memory_order_relaxed);
}

void share(beacon* b) { shared = b; }

const std::string& plugin_path() { return installed; }

std::string routine_text(where w) {
    switch (w) {
        case where::usura: return "its routine USURA";
        case where::upropu: return "its routine UPROPU";
        case where::loading: return "its loading";
        default: return "";
    }
}

std::string check_hint() {
    return installed.empty() ? "" : "; `urea-reactor check --plugin " + installed + "` examines the build";
}

std::string crash_text(where w, int sig) {
    std::string text = "the plug-in " + installed + " crashed " +
                       (w == where::loading ? std::string("while loading") : "in " + routine_text(w)) + " (signal " +
                       std::to_string(sig) + ", " + signal_name(sig) + ")";
    return text;
}

}  // namespace workbench::crash_report
