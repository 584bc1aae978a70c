// The one C++ loader of the plug-in, shared by the workbench, the tests, the
// benchmarks and the fuzz targets: the library loaded with dlopen (LoadLibrary
// on Windows), its routines resolved by name with dlsym (GetProcAddress),
// every argument passed by reference. (The Fortran host loads it its own way,
// as a Fortran program does.)
#ifndef UREA_STANDIN_PLUGIN_H
#define UREA_STANDIN_PLUGIN_H

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <array>
#include <stdexcept>
#include <string>
#include <utility>

#include "host/host_interface.h"

namespace standin {

// A plug-in that does not load or lacks a routine; the message names the
// file and what failed.
class load_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::array<const char*, 3> routine_names = {"CMPLOC", "USURA", "UPROPU"};

// The platform's dynamic loader, in the few calls the loader makes.
namespace loader {
#if defined(_WIN32)
using handle = HMODULE;
inline handle open(const std::string& path) { return LoadLibraryA(path.c_str()); }
inline std::string last_error() { return "error " + std::to_string(GetLastError()); }
// GetProcAddress gives every export one function type: go through the
// generic one.
inline void (*symbol(handle h, const char* name))() {
    return reinterpret_cast<void (*)()>(GetProcAddress(h, name));
}
inline void close(handle h) { FreeLibrary(h); }
// Modules are known to the loader by their file names.
inline bool still_loaded(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name.c_str(),
                              &module) != 0;
}
#else
using handle = void*;
inline handle open(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
inline std::string last_error() {
    const char* e = dlerror();
    return e ? e : "unknown error";
}
inline void* symbol(handle h, const char* name) { return dlsym(h, name); }
inline void close(handle h) { dlclose(h); }
inline bool still_loaded(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr;
}
#endif
}  // namespace loader

// What loading a plug-in found, without throwing.
struct load_report {
    bool loaded = false;
    std::string error;                // dlerror's text when it did not load
    std::string missing_host_symbol;  // the host item or routine it needs and this host lacks
    std::array<bool, 3> exported{};   // CMPLOC, USURA, UPROPU
};

#if defined(_WIN32)
inline constexpr const char* separators = "/\\";
#else
inline constexpr const char* separators = "/";
#endif

// The path as a user means it: a name without a slash is a file in the
// current folder, not a library for the loader to search for.
inline std::string as_file(const std::string& path) {
    return path.find_first_of(separators) == std::string::npos ? "./" + path : path;
}

class plugin {
public:
    // Loads the library and resolves the three routines; throws load_error
    // naming what failed.
    explicit plugin(std::string path) : path_(std::move(path)) { open(); }
    ~plugin() { close(); }
    plugin(const plugin&) = delete;
    plugin& operator=(const plugin&) = delete;

    // Loads, looks for the three routines and unloads.
    static load_report probe(const std::string& path) {
        load_report r;
        const loader::handle handle = loader::open(as_file(path));
        if (handle == nullptr) {
            r.error = loader::last_error();
            const std::string marker = "undefined symbol: ";
            const std::size_t at = r.error.find(marker);
            if (at != std::string::npos) {
                const std::string sym = r.error.substr(at + marker.size());
                r.missing_host_symbol = sym.substr(0, sym.find_first_of(" \t\n(,"));
            }
            return r;
        }
        r.loaded = true;
        for (std::size_t k = 0; k < routine_names.size(); ++k) {
            r.exported[k] = loader::symbol(handle, routine_names[k]) != nullptr;
        }
        loader::close(handle);
        return r;
    }

    // Unloads the library and loads it again, so that its static storage
    // starts from its load-time values.
    void reload() {
        close();
        if (loader::still_loaded(as_file(path_))) {
            throw load_error("the plug-in " + path_ + " stayed loaded after it was unloaded");
        }
        open();
    }

    const std::string& path() const { return path_; }
    decltype(&CMPLOC) cmploc = nullptr;
    decltype(&USURA) usura = nullptr;
    decltype(&UPROPU) upropu = nullptr;

private:
    void open() {
        handle_ = loader::open(as_file(path_));
        if (handle_ == nullptr) {
            throw load_error("the plug-in " + path_ + " does not load: " + loader::last_error());
        }
        cmploc = resolve<decltype(&CMPLOC)>("CMPLOC");
        usura = resolve<decltype(&USURA)>("USURA");
        upropu = resolve<decltype(&UPROPU)>("UPROPU");
    }
    void close() {
        if (handle_ != nullptr) {
            loader::close(handle_);
            handle_ = nullptr;
        }
    }
    template <class F>
    F resolve(const char* name) {
        const auto symbol = loader::symbol(handle_, name);
        if (symbol == nullptr) {
            close();
            throw load_error("the plug-in " + path_ + " does not export the routine " + name);
        }
        return reinterpret_cast<F>(symbol);
    }

    std::string path_;
    loader::handle handle_ = nullptr;
};

// The arguments of one rate-routine call that the routine uses; every other
// position is passed as a null pointer.
struct usura_call {
    const double* stream = nullptr;
    const double* params = nullptr;
    const void* host_opts = nullptr;
    double* rates = nullptr;
    const host_int* n_present = nullptr;
    const host_int* present_pos = nullptr;
    const void* fug_extra = nullptr;
    const double* x_present = nullptr;
};

inline void invoke(decltype(&USURA) usura, const usura_call& a) {
    usura(a.stream, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, a.params, nullptr,
          nullptr, a.host_opts, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
          a.rates, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
          nullptr, nullptr, a.n_present, a.present_pos, a.fug_extra, a.x_present);
}

// The arguments of one property-routine call that the routine uses.
struct upropu_call {
    const host_int* n_out = nullptr;
    const host_int* out_pos = nullptr;
    const host_name* prop_name = nullptr;
    double* out_values = nullptr;
    const double* flows = nullptr;
};

inline void invoke(decltype(&UPROPU) upropu, const upropu_call& a) {
    upropu(nullptr, nullptr, nullptr, nullptr, nullptr, a.n_out, a.out_pos, nullptr, nullptr,
           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
           a.prop_name, a.out_values, nullptr, nullptr, nullptr, nullptr, a.flows);
}

}  // namespace standin

#endif
