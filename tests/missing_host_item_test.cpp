// A Windows host that lacks one of the host's items: it exports every item
// and routine but HOST_LIQUID_FUGACITY. The DLL must then bind nothing, leave
// every output untouched, call none of the host's routines, and say which
// item is missing once, through OutputDebugStringA, however often it is
// called. The message is caught here as a debugger would see it: the
// DBG_PRINTEXCEPTION_C exception that OutputDebugStringA raises.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standin/plugin.h"

extern "C" {
__declspec(dllexport) host_int HOST_COMPONENT_COUNT = 3;
__declspec(dllexport) host_word HOST_POOL[64] = {};
__declspec(dllexport) host_int HOST_OFFSETS_IDS[8] = {};
__declspec(dllexport) host_int HOST_OFFSETS_PROPS[400] = {};
__declspec(dllexport) host_int HOST_STREAM_WORK[8] = {};
__declspec(dllexport) double HOST_REACTOR_STATE[16] = {};
}

namespace {

// text blank-padded to one 8-byte word.
host_word word(const char* text) {
    host_word w;
    std::memset(w.bytes, ' ', sizeof w.bytes);
    std::memcpy(w.bytes, text, std::strlen(text));
    return w;
}

int host_calls = 0;
std::vector<std::string> messages;

LONG CALLBACK catch_debug_string(EXCEPTION_POINTERS* e) {
    if (e->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C) {
        const auto* text = reinterpret_cast<const char*>(e->ExceptionRecord->ExceptionInformation[1]);
        messages.emplace_back(text);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

int failures = 0;
void check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++failures;
    }
}

}  // namespace

extern "C" {
__declspec(dllexport) void HOST_SCATTER(const double*, const host_int*, const host_int*, double*) {
    ++host_calls;
}
__declspec(dllexport) void HOST_IDEAL_GAS_PROPS(
    const double*, const double*, const host_int*, const host_int*, const host_int*,
    const host_int*, const host_int*, const host_int*, const host_int*, const host_int*,
    const host_int*, const host_int*, double*, double*, double*, double*, double*, double*,
    double*, double*, double*, double*, double*, double*, host_int*) {
    ++host_calls;
}
__declspec(dllexport) void HOST_LIQUID_VOLUME(const double*, const double*, const double*,
                                              const host_int*, const host_int*, const void*,
                                              const host_int*, const host_int*, double*, double*,
                                              host_int*) {
    ++host_calls;
}
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: missing_host_item_test PATH-OF-urea_plugin.dll\n");
        return 2;
    }
    AddVectoredExceptionHandler(1, catch_debug_string);
    try {
        standin::plugin lib(argv[1]);
        const double untouched = -777.25;
        for (int round = 0; round < 3; ++round) {
            const host_name name = {word("UREA"), word("")};
            const double vec[3] = {1.0, 2.0, 3.0};
            host_int index = -7;
            double value = untouched;
            lib.cmploc(&name, vec, &index, &value);
            check(index == -7 && value == untouched, "CMPLOC wrote its outputs");

            const double stream[6] = {1.0, 1.0, 1.0, 3.0, 458.0, 1.5e7};
            const double params[2] = {1.0, 1.0};
            double rates[3] = {untouched, untouched, untouched};
            const host_int n_present = 3;
            const host_int present_pos[3] = {1, 2, 3};
            const double x_present[3] = {0.2, 0.3, 0.5};
            standin::invoke(lib.usura, {.stream = stream,
                                        .params = params,
                                        .rates = rates,
                                        .n_present = &n_present,
                                        .present_pos = present_pos,
                                        .x_present = x_present});
            check(rates[0] == untouched && rates[1] == untouched && rates[2] == untouched,
                  "USURA wrote rates");

            const host_name nc_flow = {word("NC-F"), word("LOW")};
            const host_int m = 3;
            const host_int out_pos[3] = {1, 2, 3};
            double out[3] = {untouched, untouched, untouched};
            standin::invoke(lib.upropu, {.n_out = &m,
                                         .out_pos = out_pos,
                                         .prop_name = &nc_flow,
                                         .out_values = out,
                                         .flows = stream});
            check(out[0] == untouched && out[1] == untouched && out[2] == untouched,
                  "UPROPU wrote results");
        }
    } catch (const std::exception& e) {
        std::printf("FAILED: %s\n", e.what());
        return 1;
    }
    check(host_calls == 0, "a host routine was called");
    check(messages.size() == 1, "not exactly one message over nine calls");
    for (const std::string& m : messages) {
        std::printf("debug message: %s", m.c_str());
        check(m.find("HOST_LIQUID_FUGACITY") != std::string::npos,
              "the message does not name HOST_LIQUID_FUGACITY");
    }
    if (failures > 0) {
        return 1;
    }
    std::printf("nothing touched, one message naming the missing item\n");
    return 0;
}
