// Where the host's data items and routines are: the one place that knows how
// the library reaches them.
//
// On ELF platforms the library imports them by name and the loader resolves
// them from the loading process, so the binding is constant: the addresses
// of the imported symbols. A Windows DLL cannot leave symbols undefined, and
// an import library would tie it to one host module's file name; there the
// library finds each item and routine by name among the process's modules
// (the executable first, then each loaded DLL) on the first call of any of
// its routines. Nothing of ours runs at load on either platform.
#ifndef UREA_HOST_BINDING_H
#define UREA_HOST_BINDING_H

#include "host/host_interface.h"

namespace urea::host {

struct binding {
    host_int* component_count;   // HOST_COMPONENT_COUNT
    host_word* pool;             // HOST_POOL
    host_int* offsets_ids;       // HOST_OFFSETS_IDS
    host_int* offsets_props;     // HOST_OFFSETS_PROPS
    host_int* stream_work;       // HOST_STREAM_WORK
    double* reactor_state;       // HOST_REACTOR_STATE
    decltype(&HOST_SCATTER) scatter;
    decltype(&HOST_IDEAL_GAS_PROPS) ideal_gas_props;
    decltype(&HOST_LIQUID_VOLUME) liquid_volume;
    decltype(&HOST_LIQUID_FUGACITY) liquid_fugacity;
};

#if defined(_WIN32)
// Empty until bind() has found every item; then fixed for the life of the
// library.
extern constinit binding bound;

// Finds the host's items and routines, once. False while any is missing: the
// routine that asked then returns without touching anything, and the library
// says which item is missing once, through OutputDebugStringA.
bool bind() noexcept;
#else
inline constexpr binding bound = {
    &HOST_COMPONENT_COUNT, HOST_POOL,        HOST_OFFSETS_IDS,     HOST_OFFSETS_PROPS,
    HOST_STREAM_WORK,      HOST_REACTOR_STATE, &HOST_SCATTER,      &HOST_IDEAL_GAS_PROPS,
    &HOST_LIQUID_VOLUME,   &HOST_LIQUID_FUGACITY,
};

constexpr bool bind() noexcept { return true; }
#endif

// What makes a definition one of the library's exports. Everything else is
// hidden (the library is compiled with -fvisibility=hidden); on Windows the
// .def file names the exports instead.
#if defined(_WIN32)
#define UREA_EXPORT  // exported through exports/urea_plugin.def
#else
#define UREA_EXPORT __attribute__((visibility("default")))
#endif

// The definition of each exported routine: it binds, then calls the routine's
// body. On Windows the first bind() also draws the stack-protector canary, so
// the entry itself must carry none (the bodies do).
#define UREA_ENTRY UREA_EXPORT __attribute__((no_stack_protector))

}  // namespace urea::host

#endif
