#include "cli/common.h"

#include <algorithm>
#include <iostream>

#include "cli/progress.h"

namespace workbench::cli {

namespace {

bool quiet_ = false;

}  // namespace

void set_quiet(bool quiet) { quiet_ = quiet; }

bool quiet() { return quiet_; }

void warn(const message& w) {
    if (!quiet_) std::cerr << "urea-reactor: warning: " << said(w) << "\n";
}

void note(const message& n) {
    if (!quiet_) std::cerr << "urea-reactor: note: " << said(n) << "\n";
}

void warn(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) warn(message(w));
}

void note(const std::vector<std::string>& notes) {
    for (const std::string& n : notes) note(message(n));
}

void note(const std::vector<message>& notes) {
    for (const message& n : notes) note(n);
}

void warn_unused(const invocation& in, const std::vector<std::string>& used, const std::string& what,
                 std::string unused) {
    for (const auto& [name, texts] : in.given()) {
        if (std::find(used.begin(), used.end(), name) != used.end()) continue;
        for (const std::string& t : texts) {
            const bool positional = name.rfind("--", 0) != 0;
            unused += (unused.empty() ? "" : ", ") + (positional ? t : name + (t.empty() ? "" : " " + t));
        }
    }
    if (!unused.empty()) warn(what + ": " + unused + " not used");
}

notices on_stderr() {
    notices n;
    n.warning = [](const message& w) { warn(w); };
    n.note = [](const message& w) { note(w); };
    return n;
}

std::optional<std::string> text_of(const invocation& in, const std::string& option) {
    if (!in.has(option)) return std::nullopt;
    return in.text(option);
}

std::vector<given_value> values_of(const invocation& in, const std::string& option) {
    std::vector<given_value> out;
    for (const std::string& t : in.texts(option)) out.push_back({t});
    return out;
}

case_request case_of(const invocation& in) {
    case_request r;
    r.file = text_of(in, "case");
    r.model = text_of(in, "--model");
    r.trays = text_of(in, "--trays");
    r.volume = text_of(in, "--volume");
    r.pressure = text_of(in, "--pressure");
    r.t_in = text_of(in, "--t-in");
    r.t_out = text_of(in, "--t-out");
    r.a1 = text_of(in, "--a1");
    r.a2 = text_of(in, "--a2");
    r.co2 = text_of(in, "--co2");
    r.nh3_co2 = text_of(in, "--nh3-co2");
    r.h2o_co2 = text_of(in, "--h2o-co2");
    return r;
}

estimate_given estimate_of(const invocation& in) {
    return {text_of(in, "--estimate"), std::nullopt, in.flag("--carry-factors")};
}

workers_request workers_of(const invocation& in) { return {text_of(in, "--jobs"), text_of(in, "--worker-timeout")}; }

void set_workers(session& s, worker_options workers, const invocation& in) {
    workers.progress = terminal_progress(in.flag("--quiet"));
    workers.warning = [](const std::string& w) {
        clear_progress_line();
        warn(w);
    };
    // Work left undone is said even with --quiet, whatever the exit status.
    workers.undone = [](const std::string& line) {
        clear_progress_line();
        std::cerr << "urea-reactor: " << line << "\n";
    };
    s.set_workers(std::move(workers));
}

int finish(const staged_outputs& files, int status) {
    for (const std::string& f : files.failures()) std::cerr << "urea-reactor: error: " << f << "\n";
    return files.failures().empty() ? status : exit_solver;
}

}  // namespace workbench::cli
