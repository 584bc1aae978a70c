// The binding on Windows: each host item and routine found by name among the
// process's modules on the first call of any routine, and the stack
// protector's canary drawn at the same moment.
//
// The DLL has no entry point (nothing of ours runs when it is loaded), so
// there is no start-up code to do either at load. Every exported routine
// calls bind() first, from an entry that carries no canary of its own.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "host/host_binding.h"

// The stack protector's guard and its failure routine, as GCC's
// -fstack-protector code expects them on this target. Until the first call
// sets it the guard is a terminator canary (a zero byte, newline, 0xff and
// carriage return stop string copies); no protected code of ours runs
// before then.
extern "C" {
constinit std::uintptr_t __stack_chk_guard = 0x000aff0d'5e3c1b97u;

// A smashed stack ends the process at once, as the system's fail-fast
// (int 0x29) does for a C runtime's failed security cookie check.
[[noreturn]] void __stack_chk_fail() {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    __builtin_trap();
}
}

// Listed in kernel32 from Windows 7 on (psapi.h maps EnumProcessModules to it
// for PSAPI_VERSION 2); declared here so that no psapi import library is
// needed.
extern "C" __declspec(dllimport) BOOL WINAPI K32EnumProcessModules(HANDLE process,
                                                                   HMODULE* modules, DWORD cb,
                                                                   LPDWORD needed);

namespace urea::host {

constinit binding bound = {};

namespace {

constinit bool canary_drawn = false;
constinit bool missing_told = false;

// A new canary from what the process has at hand when it first calls us, as
// a C runtime draws its security cookie: the time, the process and thread,
// the performance counter and where the stack lies, mixed by splitmix64. Its
// lowest byte is zero, so that a string copy cannot write past it.
__attribute__((no_stack_protector)) void draw_canary() noexcept {
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    std::uint64_t z = (std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime) ^
                      static_cast<std::uint64_t>(counter.QuadPart) ^
                      (std::uint64_t{GetCurrentProcessId()} << 32) ^ GetCurrentThreadId() ^
                      reinterpret_cast<std::uintptr_t>(&time) ^ GetTickCount64();
    for (int round = 0; round < 2; ++round) {
        z += 0x9e3779b97f4a7c15u;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        z ^= z >> 31;
    }
    __stack_chk_guard = static_cast<std::uintptr_t>(z & ~std::uint64_t{0xff});
}

// Every module of the process, the executable first; the count found.
DWORD modules_of_process(HMODULE* modules, DWORD capacity) noexcept {
    modules[0] = GetModuleHandleW(nullptr);
    DWORD needed = 0;
    if (!K32EnumProcessModules(GetCurrentProcess(), modules + 1,
                               (capacity - 1) * sizeof(HMODULE), &needed)) {
        return 1;
    }
    const DWORD listed = needed / sizeof(HMODULE);
    return 1 + (listed < capacity - 1 ? listed : capacity - 1);
}

// The first module that exports name, searched in the order given.
template <class T>
T* find(const char* name, const HMODULE* modules, DWORD count) noexcept {
    for (DWORD k = 0; k < count; ++k) {
        if (FARPROC address = GetProcAddress(modules[k], name)) {
            return reinterpret_cast<T*>(address);
        }
    }
    return nullptr;
}

template <class T>
void find_routine(T& routine, const char* name, const HMODULE* modules, DWORD count) noexcept {
    routine = reinterpret_cast<T>(find<void>(name, modules, count));
}

// Fills found with every item and routine; the name of one that no module
// exports, or nullptr when all are there.
const char* search(binding& found) noexcept {
    HMODULE modules[1024];
    const DWORD count = modules_of_process(modules, 1024);
    found.component_count = find<host_int>("HOST_COMPONENT_COUNT", modules, count);
    found.pool = find<host_word>("HOST_POOL", modules, count);
    found.offsets_ids = find<host_int>("HOST_OFFSETS_IDS", modules, count);
    found.offsets_props = find<host_int>("HOST_OFFSETS_PROPS", modules, count);
    found.stream_work = find<host_int>("HOST_STREAM_WORK", modules, count);
    found.reactor_state = find<double>("HOST_REACTOR_STATE", modules, count);
    find_routine(found.scatter, "HOST_SCATTER", modules, count);
    find_routine(found.ideal_gas_props, "HOST_IDEAL_GAS_PROPS", modules, count);
    find_routine(found.liquid_volume, "HOST_LIQUID_VOLUME", modules, count);
    find_routine(found.liquid_fugacity, "HOST_LIQUID_FUGACITY", modules, count);

    const struct {
        bool present;
        const char* name;
    } items[] = {
        {found.component_count != nullptr, "HOST_COMPONENT_COUNT"},
        {found.pool != nullptr, "HOST_POOL"},
        {found.offsets_ids != nullptr, "HOST_OFFSETS_IDS"},
        {found.offsets_props != nullptr, "HOST_OFFSETS_PROPS"},
        {found.stream_work != nullptr, "HOST_STREAM_WORK"},
        {found.reactor_state != nullptr, "HOST_REACTOR_STATE"},
        {found.scatter != nullptr, "HOST_SCATTER"},
        {found.ideal_gas_props != nullptr, "HOST_IDEAL_GAS_PROPS"},
        {found.liquid_volume != nullptr, "HOST_LIQUID_VOLUME"},
        {found.liquid_fugacity != nullptr, "HOST_LIQUID_FUGACITY"},
    };
    for (const auto& item : items) {
        if (!item.present) {
            return item.name;
        }
    }
    return nullptr;
}

void tell_missing(const char* name) noexcept {
    char message[256] = "urea_plugin: no module of this process exports the host item ";
    std::strncat(message, name, sizeof message - std::strlen(message) - 1);
    std::strncat(message,
                 "; CMPLOC, USURA and UPROPU return without doing anything until one does\n",
                 sizeof message - std::strlen(message) - 1);
    OutputDebugStringA(message);
}

}  // namespace

__attribute__((no_stack_protector)) bool bind() noexcept {
    if (bound.liquid_fugacity != nullptr) {
        return true;
    }
    if (!canary_drawn) {
        draw_canary();
        canary_drawn = true;
    }
    binding found = {};
    if (const char* missing = search(found)) {
        if (!missing_told) {
            tell_missing(missing);
            missing_told = true;
        }
        return false;
    }
    bound = found;
    return true;
}

}  // namespace urea::host
