// The plug-in as a host sees it: loaded with dlopen, its routines resolved by
// name with dlsym, every argument passed by reference.
#ifndef UREA_STANDIN_PLUGIN_H
#define UREA_STANDIN_PLUGIN_H

#include <dlfcn.h>

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
        if (dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr) {
            throw std::runtime_error("the plug-in stayed loaded after dlclose");
        }
        open();
    }

    decltype(&CMPLOC) cmploc = nullptr;
    decltype(&USURA) usura = nullptr;
    decltype(&UPROPU) upropu = nullptr;

private:
    void open() {
        handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        }
        cmploc = resolve<decltype(&CMPLOC)>("CMPLOC");
        usura = resolve<decltype(&USURA)>("USURA");
        upropu = resolve<decltype(&UPROPU)>("UPROPU");
    }
    void close() {
        if (handle_ != nullptr) {
            dlclose(handle_);
            handle_ = nullptr;
        }
    }
    template <class F>
    F resolve(const char* name) {
        void* symbol = dlsym(handle_, name);
        if (symbol == nullptr) {
            throw std::runtime_error(std::string("dlsym: ") + name);
        }
        return reinterpret_cast<F>(symbol);
    }

    std::string path_;
    void* handle_ = nullptr;
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
