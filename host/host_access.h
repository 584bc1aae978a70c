// Reading the host's data items in host form (1-based vectors, raw 8-byte
// words, offsets into the pool). The routines convert here and nowhere else.
#ifndef UREA_HOST_ACCESS_H
#define UREA_HOST_ACCESS_H

#include <cstdint>
#include <cstring>
#include <string_view>

#include "host/host_binding.h"
#include "host/host_interface.h"

namespace urea::host {

// Entries in each working vector of the routines: the most components, and
// present components, that a call may have (the host keeps nc within 1..100).
inline constexpr host_int capacity = 100;

// Element i (1-based) of a host vector.
template <class T>
constexpr T& element(T* vec, host_int i) noexcept {
    return vec[i - 1];
}

// A name word as one 64-bit value, so that two words compare in one step.
inline std::uint64_t bits(const host_word& word) noexcept {
    std::uint64_t value;
    std::memcpy(&value, word.bytes, sizeof value);
    return value;
}

// The word that holds text blank-padded on the right (text of at most 8 bytes).
constexpr host_word blank_padded(std::string_view text) noexcept {
    host_word word{{' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}};
    for (std::size_t k = 0; k < text.size() && k < sizeof word.bytes; ++k) {
        word.bytes[k] = static_cast<unsigned char>(text[k]);
    }
    return word;
}

inline bool same_word(const host_word& a, const host_word& b) noexcept {
    return bits(a) == bits(b);
}

// Both words of two name pairs, each given by its first word.
inline bool same_name(const host_word* a, const host_word* b) noexcept {
    return same_word(a[0], b[0]) && same_word(a[1], b[1]);
}

// nc, the host's component count.
inline host_int component_count() noexcept { return *bound.component_count; }

// L_ids: the name pair of component i is at pool words L_ids+2i-1 and L_ids+2i.
inline host_int ids_offset() noexcept { return element(bound.offsets_ids, 2); }

// The name pair of component i, by its first word.
inline const host_word* component_name(host_int l_ids, host_int i) noexcept {
    return &element(bound.pool, l_ids + 2 * i - 1);
}

// M_i in kg/kmol: pool word L_mw + i read as a real, L_mw from the property offsets.
inline host_int mw_offset() noexcept { return element(bound.offsets_props, 306); }
inline double pool_real(host_int word) noexcept {
    double value;
    std::memcpy(&value, element(bound.pool, word).bytes, sizeof value);
    return value;
}

// The count the host's scatter reads for packed property results, by reference.
inline const host_int* packed_count() noexcept { return &element(bound.stream_work, 3); }

// V, the reacting volume of the reactor being evaluated, m3.
inline double reacting_volume() noexcept { return element(bound.reactor_state, 6); }

}  // namespace urea::host

#endif
