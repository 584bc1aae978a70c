#include "session/session.h"

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <sstream>

#include "base/errors.h"
#include "session/crash_report.h"
#include "standin/standin_host.h"

namespace workbench {
namespace {

constexpr host_int nc = static_cast<host_int>(component_count);

// The host's stream vector: flows 1..nc, total flow at nc+1, temperature at
// nc+2, pressure at nc+3, then fields the library does not read.
constexpr std::size_t stream_length = component_count + 10;
using stream_vector = std::array<double, stream_length>;

stream_vector stream_of(const flows& n, double t, double p) {
    stream_vector s{};
    double total = 0.0;
    for (std::size_t i = 0; i < component_count; ++i) {
        s[i] = n[i];
        total += n[i];
    }
    s[component_count] = total;
    s[component_count + 1] = t;
    s[component_count + 2] = p;
    return s;
}

// Stand in for the host's two opaque values that the library passes on to
// the property routines (option block and the fugacity routine's extra
// vector). The argument positions the library ignores get null pointers.
std::array<double, 64> host_opts{};
std::array<double, 64> fug_extra{};

// The rate routine is asked about the stop this often (in calls).
constexpr long stop_check_every = 64;

// The file that holds this code, by its absolute path: the program, or the
// shared object the workbench is linked into. /proc/self/maps names each
// mapped file so, whatever path it was loaded by (argv[0], a relative one).
std::string file_of_this_code() {
    const auto here = reinterpret_cast<std::uintptr_t>(&default_plugin_path);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        // "START-END PERMS OFFSET DEV INODE PATH", addresses in hex.
        std::istringstream fields(line);
        std::uintptr_t start = 0, end = 0;
        char dash = 0;
        std::string perms, offset, dev, inode, path;
        fields >> std::hex >> start >> dash >> end >> perms >> offset >> dev >> inode;
        std::getline(fields >> std::ws, path);
        if (here >= start && here < end && !path.empty() && path.front() == '/') return path;
    }
    // Not among the mapped files: the program's own file, as the loader saw it.
    std::array<char, PATH_MAX> exe{};
    const ssize_t len = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    return len > 0 ? std::string(exe.data(), static_cast<std::size_t>(len)) : "./";
}

}  // namespace

void make_host_items_global() {
    Dl_info info{};
    if (dladdr(static_cast<const void*>(&HOST_COMPONENT_COUNT), &info) == 0 || info.dli_fname == nullptr) return;
    void* self = dlopen(nullptr, RTLD_NOW);
    void* defining = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
    // The program itself (a host linked into it) is global already.
    if (defining != nullptr && defining != self) dlclose(defining);  // it stays loaded, now global
    if (self != nullptr) dlclose(self);
}

// Why a file that does not load is no plug-in for this host, when its ELF
// header tells (the loader may only say "No such file or directory" for a
// library of another architecture); empty otherwise.
std::string plugin_file_diagnosis(const std::string& path) {
    unsigned char h[20] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return "";
    const std::size_t n = std::fread(h, 1, sizeof h, f);
    std::fclose(f);
    if (n < 4 || h[0] != 0x7f || h[1] != 'E' || h[2] != 'L' || h[3] != 'F') {
        return "it is no shared library (not an ELF file)";
    }
    if (n < sizeof h) return "it is no shared library (its ELF header is cut short)";
    const bool little = h[5] == 1;
    const unsigned machine = little ? h[18] | (h[19] << 8) : (h[18] << 8) | h[19];
    const unsigned type = little ? h[16] | (h[17] << 8) : (h[16] << 8) | h[17];
    const auto arch = [&]() -> std::string {
        switch (machine) {
            case 3: return "32-bit x86";
            case 40: return "32-bit ARM";
            case 183: return "64-bit ARM (AArch64)";
            case 243: return "RISC-V";
            case 20: case 21: return "PowerPC";
            case 22: return "IBM Z (s390)";
            default: return "machine type " + std::to_string(machine);
        }
    };
    if (h[4] != 2 || machine != 62) {
        return "it is built for " + (h[4] == 1 && machine == 62 ? std::string("32-bit x86-64 (x32)") : arch()) +
               ", and this workbench runs on 64-bit x86-64: build the plug-in for x86-64";
    }
    if (type != 3) return "it is an ELF file but no shared library (an executable or object file?)";
    return "";
}

std::string default_plugin_path() {
    const std::string code = file_of_this_code();
    const std::string folder = code.substr(0, code.rfind('/') + 1);
    std::string path;
    std::istringstream folders(plugin_folders());
    for (std::string f; std::getline(folders, f, ':');) {
        path = std::filesystem::path(folder + f + "/liburea_plugin.so").lexically_normal().string();
        if (access(path.c_str(), F_OK) == 0) break;
    }
    return path;
}

std::recursive_mutex& session::work_lock() {
    // Never destroyed: a thread may still hold or wait for it while the
    // process exits (a Python daemon thread while the interpreter ends). A
    // process forked while a thread holds it (an executor's worker forked
    // during the work, as a ProcessPoolExecutor forks when the work sends it
    // the first chunk) has only the forking thread, which may not be the
    // holder: it starts with the lock free.
    static std::recursive_mutex* const m = [] {
        static std::recursive_mutex* lock = nullptr;
        lock = new std::recursive_mutex;
        pthread_atfork(nullptr, nullptr, [] { new (lock) std::recursive_mutex(); });
        return lock;
    }();
    return *m;
}

session::session(const std::string& plugin_path) {
    const std::string path = plugin_path.empty() ? default_plugin_path() : plugin_path;
    // The crash report and the loader's view of the host are the process's.
    const std::lock_guard<std::recursive_mutex> lock(work_lock());
    make_host_items_global();
    crash_report::install(path);
    const crash_report::in_plugin loading(crash_report::where::loading);
    try {
        lib_ = std::make_unique<plugin>(path);
    } catch (const plugin_error& e) {
        const std::string why = plugin_file_diagnosis(path);
        if (why.empty()) throw;
        throw plugin_error("the plug-in " + path + " does not load: " + why);
    }
}

workbench_host::workbench_host(session& s, const property_set& properties)
    : session_(s), properties_(properties) {
    crash_report::install(s.plugin_path());
    standin::reset();
    standin::set_recording(false);
    std::vector<std::string> names(component_names.begin(), component_names.end());
    standin::set_components(names);
    standin::set_molecular_weights(std::vector<double>(molecular_weight.begin(), molecular_weight.end()));
}

workbench_host::~workbench_host() { standin::set_property_model(nullptr); }

void workbench_host::poll_stop() {
    // Called from inside the solvers' callbacks (KINSOL's, CVODE's, TOMS
    // 748's, Ceres' residuals): nothing may be thrown through them. Whatever
    // the check throws is kept, the rates are NaN from then on, and
    // check_stop() throws it once the solver has handed back.
    if (!stop_ && session_.stop_check() && !in_worker()) {
        try {
            session_.stop_check()();
        } catch (...) {
            stop_ = std::current_exception();
        }
    }
}

void workbench_host::check_stop() {
    poll_stop();
    if (stop_) std::rethrow_exception(stop_);
}

flows workbench_host::rates(const flows& n, double t, double p, double v, double a1, double a2) {
    if (rate_calls_ % stop_check_every == 0) poll_stop();
    if (stop_) {
        flows nan{};
        nan.fill(std::numeric_limits<double>::quiet_NaN());
        return nan;
    }
    const stream_vector stream = stream_of(n, t, p);
    // The present list: components with a flow, with their mole fractions.
    double total = 0.0;
    for (double f : n) total += f > 0.0 ? f : 0.0;
    std::array<host_int, component_count> present_pos{};
    std::array<double, component_count> x_present{};
    host_int n_present = 0;
    for (std::size_t i = 0; i < component_count; ++i) {
        if (n[i] > 0.0) {
            present_pos[static_cast<std::size_t>(n_present)] = static_cast<host_int>(i + 1);
            x_present[static_cast<std::size_t>(n_present)] = n[i] / total;
            ++n_present;
        }
    }
    const double params[2] = {a1, a2};
    flows r{};  // the host clears its rate vector; the routine writes five entries
    standin::set_property_model(&properties_);
    standin::set_reacting_volume(v);
    HOST_STREAM_WORK[2] = n_present;
    const crash_report::in_plugin in(crash_report::where::usura);
    standin::invoke(session_.library().usura,
                    {stream.data(), params, host_opts.data(), r.data(), &n_present, present_pos.data(),
                     fug_extra.data(), x_present.data()});
    ++rate_calls_;
    return r;
}

flows workbench_host::nc_flow(const flows& n, double t, double p) {
    const stream_vector stream = stream_of(n, t, p);
    const host_name name = {standin::word("NC-F"), standin::word("LOW")};
    const host_int m = nc;
    std::array<host_int, component_count> out_pos{};
    for (std::size_t i = 0; i < component_count; ++i) out_pos[i] = static_cast<host_int>(i + 1);
    flows out{};
    const crash_report::in_plugin in(crash_report::where::upropu);
    standin::invoke(session_.library().upropu, {&m, out_pos.data(), &name, out.data(), stream.data()});
    return out;
}

}  // namespace workbench
