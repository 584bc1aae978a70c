// The plug-in as the tests load it: the build's library, one handle per test
// process, each routine called through its exported address with the host's
// floating-point state (MXCSR, x87 words) compared before and after every call.
#ifndef UREA_TESTS_PLUGIN_H
#define UREA_TESTS_PLUGIN_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "standin/plugin.h"
#include "tests/fp_state.h"

namespace testing_host {

using standin::upropu_call;
using standin::usura_call;

// Runs one call into the plug-in: the library must leave the host's trap
// masks, rounding mode, FTZ/DAZ bits and raised flags exactly as they were,
// in MXCSR and in the x87 words.
template <class Call>
void keeping_fp_state(const char* routine, Call&& call) {
    const fp_state before = current_fp_state();
    std::forward<Call>(call)();
    const fp_state after = current_fp_state();
    if (!(after == before)) {
        ADD_FAILURE() << routine << " changed the host's floating-point state: MXCSR 0x"
                      << std::hex << before.mxcsr << " -> 0x" << after.mxcsr
                      << ", x87 control 0x" << before.x87_control << " -> 0x"
                      << after.x87_control << ", x87 status 0x" << before.x87_status
                      << " -> 0x" << after.x87_status;
    }
}

// One routine of the loaded plug-in, called as a host calls it.
template <class F>
struct routine {
    const char* name;
    F address = nullptr;

    template <class... Args>
    void operator()(Args... args) const {
        keeping_fp_state(name, [&] { address(args...); });
    }
};

inline void invoke(const routine<decltype(&USURA)>& usura, const usura_call& a) {
    keeping_fp_state(usura.name, [&] { standin::invoke(usura.address, a); });
}
inline void invoke(const routine<decltype(&UPROPU)>& upropu, const upropu_call& a) {
    keeping_fp_state(upropu.name, [&] { standin::invoke(upropu.address, a); });
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
