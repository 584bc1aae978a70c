// The host simulator's calling convention: every prototype that crosses the
// boundary between the host and this library, in one place.
//
// The host passes the address of every argument, in a fixed order, and
// nothing by value; there are no hidden length arguments. Integers are 8-byte
// signed, reals 8-byte IEEE-754 doubles, vectors 1-based (element i at byte
// offset 8(i-1)), names two blank-padded 8-byte words compared as raw bytes.
// Inputs are const; the host and the library treat them as read-only.
//
// The library defines the three routines at the bottom and imports the data
// items and routines above them from the loading process: the host (or the
// stand-in host of the tests and tools) defines those, the library none.
#ifndef UREA_HOST_INTERFACE_H
#define UREA_HOST_INTERFACE_H

#include <cstdint>

// The host's integer: 8-byte signed, for counts, positions, offsets and flags.
using host_int = std::int64_t;
static_assert(sizeof(host_int) == 8, "the host's integers are 8 bytes wide");
static_assert(sizeof(double) == 8, "the host's reals are 8-byte IEEE-754 doubles");

// One 8-byte word of the host's pool or of a name: raw bytes, never a C string.
struct host_word {
    unsigned char bytes[8];
};
static_assert(sizeof(host_word) == 8 && alignof(host_word) == 1);

// A component or property name: word 1 and word 2, each blank-padded.
using host_name = host_word[2];

extern "C" {

// ---- Host data items, read afresh on every call -------------------------

// nc, the number of components; the host keeps it within 1..100.
extern host_int HOST_COMPONENT_COUNT;
// Name pairs and molecular weights, located through the two offset tables.
extern host_word HOST_POOL[];
// Element 2 = L_ids: name pair of component i at pool words L_ids+2i-1, L_ids+2i.
extern host_int HOST_OFFSETS_IDS[];
// Element 306 = L_mw: molecular weight (kg/kmol) of component i at pool word L_mw+i.
extern host_int HOST_OFFSETS_PROPS[];
// Element 3: the count of packed property values, read by the host's scatter.
extern host_int HOST_STREAM_WORK[];
// Element 6: the reacting volume V (m3) of the reactor being evaluated.
extern double HOST_REACTOR_STATE[];

// ---- Host routines, called by the rate routine only ---------------------

// Clears elements 1..nc of full, then full(pos(k)) = packed(k), k = 1..count.
void HOST_SCATTER(const double* packed,      // 1  packed real vector
                  const host_int* count,     // 2  number of packed values
                  const host_int* pos,       // 3  component position of each
                  double* full);             // 4  out: full-length vector

// Ideal-gas properties of the present components at T.
void HOST_IDEAL_GAS_PROPS(
    const double* t,                                          // 1      temperature, K
    const double* x_present, const host_int* n_present,       // 2, 3   packed mole fractions, n
    const host_int* present_pos,                              // 4      their positions
    const host_int* diag_level,                               // 5      diagnostic level
    const host_int* flag6, const host_int* flag7,             // 6, 7   property flags
    const host_int* flag8, const host_int* flag9,             // 8, 9
    const host_int* flag10, const host_int* flag11,           // 10, 11
    const host_int* flag12,                                   // 12
    double* out13, double* out14,                             // 13, 14 outputs not asked for
    double* g_packed,                                         // 15     out: G of each present component, J/kmol
    double* out16, double* out17, double* out18,              // 16-18  outputs not asked for
    double* out19, double* out20, double* out21,              // 19-21
    double* out22, double* out23, double* out24,              // 22-24
    host_int* err_flag);                                      // 25     out: error flag

// Liquid molar volume of the mixture, m3/kmol.
void HOST_LIQUID_VOLUME(
    const double* t, const double* p,                         // 1, 2   K, Pa
    const double* x_present, const host_int* n_present,       // 3, 4   packed mole fractions, n
    const host_int* present_pos,                              // 5      their positions
    const void* host_opts,                                    // 6      opaque, from the host
    const host_int* diag_level, const host_int* one,          // 7, 8   diagnostic level, 1
    double* vl,                                               // 9      out: molar volume
    double* out10,                                            // 10     output not asked for
    host_int* err_flag);                                      // 11     out: error flag

// Liquid fugacity coefficients of the present components.
void HOST_LIQUID_FUGACITY(
    const double* t, const double* p,                         // 1, 2   K, Pa
    const double* x_present,                                  // 3      packed mole fractions
    const void* fug_extra,                                    // 4      opaque, from the host
    const host_int* n_present, const host_int* present_pos,   // 5, 6   n, positions
    const void* host_opts,                                    // 7      opaque, from the host
    const host_int* diag_level, const host_int* one,          // 8, 9   diagnostic level, 1
    double* phi_packed,                                       // 10     out: coefficient of each present component
    double* out11,                                            // 11     output not asked for
    host_int* err_flag);                                      // 12     out: error flag

// ---- The library's routines, resolved by the host by name ---------------
// Positions a routine does not use are accepted and never dereferenced.
// These three are the library's only exported symbols.

// Finds name in the host's component list: index = its position (nc when it
// is missing, 0 when nc <= 0), value = vec(index) (0.0 when not found).
void CMPLOC(const host_name* name,   // 1  name pair to look for
            const double* vec,       // 2  real vector of nc elements
            host_int* index,         // 3  out: component position
            double* value);          // 4  out: vec(index)

// Generation rates of NH3, CO2, CARB, UREA and H2O.
void USURA(const double* stream,                                         // 1      stream vector: T at nc+2, P at nc+3
           const void*, const void*, const void*,                        // 2-4    unused
           const void*, const void*, const void*,                        // 5-7    unused
           const double* params,                                         // 8      a1, a2
           const void*, const void*,                                     // 9, 10  unused
           const void* host_opts,                                        // 11     opaque, passed on
           const void*, const void*, const void*, const void*,           // 12-15  unused
           const void*, const void*, const void*,                        // 16-18  unused
           double* rates,                                                // 19     out: rates by component position
           const void*, const void*, const void*, const void*,           // 20-23  unused
           const void*, const void*, const void*, const void*,           // 24-27  unused
           const void*, const void*,                                     // 28, 29 unused
           const host_int* n_present, const host_int* present_pos,       // 30, 31 present components
           const void* fug_extra,                                        // 32     opaque, passed on
           const double* x_present);                                     // 33     their mole fractions

// The user stream property "NC-FLOW": component mass flows with carbamate
// counted as the NH3 and CO2 that form it.
void UPROPU(const void*, const void*, const void*, const void*,          // 1-4    unused
            const void*,                                                 // 5      unused
            const host_int* n_out, const host_int* out_pos,              // 6, 7   m, positions wanted
            const void*, const void*, const void*, const void*,          // 8-11   unused
            const void*, const void*, const void*, const void*,          // 12-15  unused
            const void*, const void*, const void*,                       // 16-18  unused
            const host_name* prop_name,                                  // 19     property name
            double* out_values,                                          // 20     out: m results
            const void*, const void*, const void*, const void*,          // 21-24  unused
            const double* flows);                                        // 25     stream vector: molar flows 1..nc

}  // extern "C"

#endif
