// The plug-in as the tests load it: the build's library, one handle per test
// process, each routine called through its exported address with the host's
// MXCSR compared before and after every call.
#ifndef UREA_TESTS_PLUGIN_H
#define UREA_TESTS_PLUGIN_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "standin/plugin.h"
#include "tests/mxcsr.h"

namespace testing_host {

using standin::upropu_call;
using standin::usura_call;

// Runs one call into the plug-in: the library must leave the host's trap
// masks, rounding mode, FTZ/DAZ bits and raised flags exactly as they were.
template <class Call>
void keeping_mxcsr(const char* routine, Call&& call) {
    const std::uint32_t before = mxcsr();
    std::forward<Call>(call)();
    const std::uint32_t after = mxcsr();
    if (after != before) {
        ADD_FAILURE() << routine << " changed the host's MXCSR from 0x" << std::hex << before
                      << " to 0x" << after;
    }
}

// One routine of the loaded plug-in, called as a host calls it.
template <class F>
struct routine {
    const char* name;
    F address = nullptr;

    template <class... Args>
    void operator()(Args... args) const {
        keeping_mxcsr(name, [&] { address(args...); });
    }
};

inline void invoke(const routine<decltype(&USURA)>& usura, const usura_call& a) {
    keeping_mxcsr(usura.name, [&] { standin::invoke(usura.address, a); });
}
inline void invoke(const routine<decltype(&UPROPU)>& upropu, const upropu_call& a) {
    keeping_mxcsr(upropu.name, [&] { standin::invoke(upropu.address, a); });
}

class plugin {
public:
    explicit plugin(std::string path) : lib_(std::move(path)) { bind(); }

    // Unloads the library and loads it again, so that its static storage
    // starts from its load-time values.
    void reload() {
        lib_.reload();
        bind();
    }

    routine<decltype(&CMPLOC)> cmploc{"CMPLOC"};
    routine<decltype(&USURA)> usura{"USURA"};
    routine<decltype(&UPROPU)> upropu{"UPROPU"};

private:
    void bind() {
        cmploc.address = lib_.cmploc;
        usura.address = lib_.usura;
        upropu.address = lib_.upropu;
    }
    standin::plugin lib_;
};

// The one loaded instance a test process shares: with a single handle,
// reload() really unloads the library.
inline plugin& loaded_plugin() {
    static plugin instance(UREA_PLUGIN_PATH);
    return instance;
}

}  // namespace testing_host

#endif
