// The plug-in as a host sees it: loaded with dlopen (LoadLibrary on
// Windows), its routines resolved by name with dlsym (GetProcAddress), every
// argument passed by reference.
#ifndef UREA_STANDIN_PLUGIN_H
#define UREA_STANDIN_PLUGIN_H

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <stdexcept>
#include <string>
#include <utility>

#include "host/host_interface.h"

namespace standin {

class plugin {
public:
    explicit plugin(std::string path) : path_(std::move(path)) { open(); }
    ~plugin() { close(); }
    plugin(const plugin&) = delete;
    plugin& operator=(const plugin&) = delete;

    // Unloads the library and loads it again, so that its static storage
    // starts from its load-time values.
    void reload() {
        close();
        if (still_loaded()) {
            throw std::runtime_error("the plug-in stayed loaded after it was unloaded");
        }
        open();
    }

    decltype(&CMPLOC) cmploc = nullptr;
    decltype(&USURA) usura = nullptr;
    decltype(&UPROPU) upropu = nullptr;

private:
    void open() {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path_.c_str());
        if (handle_ == nullptr) {
            throw std::runtime_error("LoadLibrary " + path_ + ": error " +
                                     std::to_string(GetLastError()));
        }
#else
        handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        }
#endif
        cmploc = resolve<decltype(&CMPLOC)>("CMPLOC");
        usura = resolve<decltype(&USURA)>("USURA");
        upropu = resolve<decltype(&UPROPU)>("UPROPU");
    }
    void close() {
        if (handle_ != nullptr) {
#if defined(_WIN32)
            FreeLibrary(handle_);
#else
            dlclose(handle_);
#endif
            handle_ = nullptr;
        }
    }
    bool still_loaded() const {
#if defined(_WIN32)
        HMODULE module = nullptr;
        return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path_.c_str(),
                                  &module) != 0;
#else
        return dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr;
#endif
    }
    template <class F>
    F resolve(const char* name) {
#if defined(_WIN32)
        // GetProcAddress gives every export one function type: go through
        // the generic one.
        auto symbol = reinterpret_cast<void (*)()>(GetProcAddress(handle_, name));
#else
        void* symbol = dlsym(handle_, name);
#endif
        if (symbol == nullptr) {
            throw std::runtime_error(std::string("no exported routine ") + name);
        }
        return reinterpret_cast<F>(symbol);
    }

    std::string path_;
#if defined(_WIN32)
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
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
