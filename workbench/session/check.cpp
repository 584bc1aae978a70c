#include "session/check.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "base/errors.h"
#include "session/session.h"
#include "standin/standin_host.h"

namespace workbench {
namespace {

// The rate routine's reference evaluation: a stream at 458 K and 1.5e7 Pa, a1 = 1,
// a2 = 1e3, vl = 0.03 m3/kmol, V = 50 m3, and these mole fractions, Gibbs
// energies (J/kmol) and fugacity coefficients. The rates are known to three
// significant figures.
struct example_species {
    const char* name;
    double x, g, phi, rate;
};
constexpr example_species example[] = {
    {"NH3", 0.3, -6.0e7, 2.5, -5.83e4},  {"CO2", 0.1, -4.3e8, 10.0, -2.92e4},
    {"H2O", 0.2, -3.0e8, 0.05, 967.0},   {"CARB", 0.15, -5.6e8, 4.0e5, 2.82e4},
    {"UREA", 0.2, -2.0e8, 0.01, 967.0},
};

// Half a unit in the third significant digit of ref (and rounding of it).
bool same_to_three_figures(double value, double ref) {
    const double unit = std::pow(10.0, std::floor(std::log10(std::abs(ref))) - 2.0);
    return std::abs(value - ref) <= 0.5 * unit * (1.0 + 1e-9);
}

verdict rate_reference(plugin& lib) {
    standin::reset();
    standin::set_recording(false);
    // The five species and passivation air, each at its own position.
    standin::set_components({"O2", "NH3", "CO2", "H2O", "CARB", "UREA", "N2"});
    constexpr host_int nc = 7;
    host_int pos[5];
    double x[5];
    for (host_int k = 0; k < 5; ++k) {
        const host_int p = k + 2;
        pos[k] = p;
        x[k] = example[k].x;
        standin::set_gibbs(p, example[k].g);
        standin::set_fugacity(p, example[k].phi);
    }
    standin::set_liquid_volume(0.03);
    standin::set_reacting_volume(50.0);
    double stream[nc + 3] = {};
    stream[nc + 1] = 458.0;
    stream[nc + 2] = 1.5e7;
    const double params[2] = {1.0, 1.0e3};
    const host_int n = 5;
    constexpr double untouched = -123.25;
    double rates[nc];
    for (double& r : rates) r = untouched;
    double opts[8] = {}, extra[8] = {};
    HOST_STREAM_WORK[2] = n;
    standin::invoke(lib.usura, {stream, params, opts, rates, &n, pos, extra, x});
    std::ostringstream wrong;
    wrong.precision(4);
    for (host_int k = 0; k < 5; ++k) {
        const double r = rates[pos[k] - 1];
        if (!same_to_three_figures(r, example[k].rate)) {
            wrong << (wrong.tellp() > 0 ? ", " : "") << example[k].name << " " << r
                  << " (expected " << example[k].rate << ")";
        }
    }
    if (rates[0] != untouched || rates[6] != untouched) {
        wrong << (wrong.tellp() > 0 ? ", " : "") << "it wrote the O2 or N2 rate";
    }
    standin::reset();
    if (wrong.tellp() > 0) {
        return {false, "USURA does not reproduce the reference evaluation (458 K, 150 bar, a2 = 1000): " +
                           wrong.str() + "."};
    }
    return {true, "USURA reproduces the reference evaluation (458 K, 150 bar, a2 = 1000) to three "
                  "significant figures: rates NH3 -5.83e4, CO2 -2.92e4, CARB 2.82e4, UREA and H2O 967."};
}

verdict nc_flow_reference(plugin& lib) {
    standin::reset();
    standin::set_recording(false);
    standin::set_components({"H2O", "NH3", "CO2", "CARB", "UREA"});
    standin::set_molecular_weights({18.015, 17.031, 44.009, 78.071, 60.056});
    const double flows[8] = {4.0, 1.0, 2.0, 3.0, 5.0, 0.0, 450.0, 1.4e7};
    const host_name name = {standin::word("NC-F"), standin::word("LOW")};
    const host_int m = 5;
    const host_int out_pos[5] = {1, 2, 3, 4, 5};
    double out[5] = {-1.0, -1.0, -1.0, -1.0, -1.0};
    standin::invoke(lib.upropu, {&m, out_pos, &name, out, flows});
    standin::reset();
    // Carbamate counted as 2 NH3 + CO2: NH3 1 + 6, CO2 2 + 3, CARB 0.
    const double expected[5] = {4.0 * 18.015, 7.0 * 17.031, 5.0 * 44.009, 0.0, 5.0 * 60.056};
    for (int k = 0; k < 5; ++k) {
        if (!(std::abs(out[k] - expected[k]) <= 1e-12 * std::abs(expected[k]) + 1e-300)) {
            return {false, "UPROPU does not give the known NC-FLOW mass flows (NH3 1, CO2 2, CARB 3 "
                           "kmol/s should give 7 x 17.031, 5 x 44.009 and 0 kg/s)."};
        }
    }
    return {true, "UPROPU gives the known NC-FLOW mass flows (carbamate counted as 2 NH3 + CO2)."};
}

// What the child sends: "S stage" before each stage, "V 1 text" or "V 0
// text" for each verdict.
void send(int fd, const std::string& line) {
    const std::string text = line + "\n";
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// The child's verdicts mention no field: their words are the same in every client.
void send(int fd, const verdict& v) { send(fd, std::string(v.ok ? "V 1 " : "V 0 ") + neutral_words(v.text)); }

// The child: loads the build, looks for its routines and runs the reference
// evaluations, saying what it does before it does it.
[[noreturn]] void examine(int fd, const std::string& path) {
    // A crash ends the child by its signal, whatever handler (a
    // sanitizer's) the workbench was started with.
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) std::signal(sig, SIG_DFL);
    send(fd, "S loading");
    const load_report load = plugin::probe(path);
    if (!load.loaded) {
        const std::string why = plugin_file_diagnosis(path);
        std::string text = "The plug-in " + path + " does not load: " + (why.empty() ? load.error : why) + ".";
        if (!load.missing_host_symbol.empty()) {
            text += " It needs the host symbol " + load.missing_host_symbol +
                    ", which this host does not define.";
        }
        send(fd, verdict{false, text});
        send(fd, verdict{false, "Its routines were not checked, since it does not load."});
        _exit(0);
    }
    send(fd, verdict{true, "The plug-in " + path + " loads: every host data item and routine it "
                           "needs is defined by this host."});
    bool all = true;
    for (std::size_t k = 0; k < routine_names.size(); ++k) {
        const std::string name = routine_names[k];
        send(fd, verdict{load.exported[k], load.exported[k] ? "It exports " + name + "."
                                                            : "It does not export " + name + "."});
        all = all && load.exported[k];
    }
    if (!all) {
        send(fd, verdict{false, "The reference evaluations were not run, since a routine is missing."});
        _exit(0);
    }
    send(fd, "S loading");
    plugin lib(path);
    send(fd, "S the USURA reference evaluation");
    send(fd, rate_reference(lib));
    send(fd, "S the UPROPU reference evaluation");
    send(fd, nc_flow_reference(lib));
    send(fd, "S done");
    _exit(0);
}

volatile std::sig_atomic_t checked_child = 0;

std::string signal_text(int sig) {
    const char* name = strsignal(sig);
    return "signal " + std::to_string(sig) + (name ? std::string(", ") + name : std::string());
}

}  // namespace

int check_child() { return checked_child; }

bool check_passed(const std::vector<verdict>& verdicts) {
    return std::all_of(verdicts.begin(), verdicts.end(), [](const verdict& v) { return v.ok; });
}

void print_check_heading(std::ostream& out, const build_info& build) {
    out << build.workbench << " checks " << build.plugin_file << ": " << build.plugin << "\n";
}

void print_verdicts(std::ostream& out, const std::vector<verdict>& verdicts, const vocabulary& words) {
    for (const verdict& v : verdicts) out << (v.ok ? "ok:     " : "FAILED: ") << in_words(v.text, words) << "\n";
    out << (check_passed(verdicts) ? "The plug-in build is good.\n" : "The plug-in build is NOT good.\n");
}

std::vector<verdict> check_plugin(const std::string& path, double timeout_s, const std::function<void()>& stop) {
    if (!(timeout_s > 0.0 && timeout_s <= max_check_timeout_s)) {
        std::ostringstream m;
        m << "must be a number of seconds more than 0 and at most " << max_check_timeout_s << " (got " << timeout_s
          << ")";
        throw input_error::at_key("timeout", m.str());
    }
    std::vector<verdict> out;
    // The child loads the build as a session would: against global host items.
    make_host_items_global();
    // A broken build may crash or hang its host, even while it loads: all of
    // it runs in a child process, which sends back what it finds.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        out.push_back({false, "The plug-in was not checked: no pipe to a child process."});
        return out;
    }
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        // A build that hangs must not outlive the workbench, however it ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        close(fds[0]);
        examine(fds[1], path);
    }
    checked_child = child > 0 ? child : 0;
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        out.push_back({false, "The plug-in was not checked: no child process."});
        return out;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeout_s));
    std::string pending, stage = "loading";
    bool timed_out = false, finished = false;
    char buf[4096];
    // Asked to stop: the child killed and waited for, then what stop threw.
    const auto stop_here = [&] {
        try {
            if (stop) stop();
        } catch (...) {
            close(fds[0]);
            kill(child, SIGKILL);
            while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
            }
            checked_child = 0;
            throw;
        }
    };
    for (;;) {
        stop_here();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        // At most 50 ms at a time, to ask about the stop.
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count() + 1, 50)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) continue;
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buf, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.rfind("S ", 0) == 0) {
                stage = line.substr(2);
                finished = stage == "done";
            } else if (line.rfind("V ", 0) == 0 && line.size() > 4) {
                out.push_back({line[2] == '1', line.substr(4)});
            }
        }
    }
    close(fds[0]);
    if (timed_out) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    checked_child = 0;
    const std::string during = stage == "loading" ? "while loading" : "during " + stage;
    std::ostringstream limit;
    limit << timeout_s;
    if (timed_out) {
        out.push_back({false, "The plug-in " + path + " timed out " + during + " (no end within " + limit.str() +
                                  " s; " + mention("timeout") + " changes the limit)."});
    } else if (WIFSIGNALED(status)) {
        out.push_back({false, stage == "loading"
                                  ? "The plug-in " + path + " crashed while loading (" +
                                        signal_text(WTERMSIG(status)) + ")."
                                  : "The plug-in crashed its host " + during + " (" +
                                        signal_text(WTERMSIG(status)) + ")."});
    } else if (!finished && (out.empty() || out.back().ok)) {
        // Ended early by a handler of the crash (a sanitizer's), or exited.
        out.push_back({false, "The plug-in ended its host " + during + " (exit status " +
                                  std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                                  ")."});
    }
    return out;
}

}  // namespace workbench
