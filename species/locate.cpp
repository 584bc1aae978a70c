#include <cstring>

#include "species/species.h"

namespace urea {
namespace {

// vec(i), its 8 bytes copied unchanged (a signalling NaN stays signalling).
double entry(const double* vec, host_int i) noexcept {
    double value;
    std::memcpy(&value, &host::element(vec, i), sizeof value);
    return value;
}

}  // namespace

location locate(const host_word* name, const double* vec) noexcept {
    const host_int nc = host::component_count();
    const host_int l_ids = host::ids_offset();
    for (host_int i = 1; i <= nc; ++i) {
        if (host::same_name(host::component_name(l_ids, i), name)) {
            return {i, entry(vec, i)};
        }
    }
    return {0, 0.0};
}

std::array<location, species_count> locate_species(const double* vec) noexcept {
    std::array<location, species_count> found{};
    const host_int nc = host::component_count();
    const host_int l_ids = host::ids_offset();
    const std::uint64_t blank = host::bits(host::blank_padded(""));
    std::size_t missing = species_count;
    for (host_int i = 1; i <= nc && missing > 0; ++i) {
        const host_word* name = host::component_name(l_ids, i);
        if (host::bits(name[1]) != blank) {
            continue;  // every species name has a blank second word
        }
        const std::uint64_t word1 = host::bits(name[0]);
        for (std::size_t s = 0; s < species_count; ++s) {
            if (found[s].index == 0 && word1 == host::bits(species_names[s].word[0])) {
                found[s] = {i, entry(vec, i)};
                --missing;
            }
        }
    }
    return found;
}

}  // namespace urea

// The exported locator: a missing name gives index nc, an empty list index 0.
extern "C" void CMPLOC(const host_name* name, const double* vec, host_int* index, double* value) {
    const host_int nc = urea::host::component_count();
    if (nc <= 0) {
        *value = 0.0;
        *index = 0;
        return;
    }
    const urea::location at = urea::locate(*name, vec);
    if (at.found()) {
        std::memcpy(value, &at.value, sizeof at.value);
        *index = at.index;
    } else {
        *value = 0.0;
        *index = nc;
    }
}
