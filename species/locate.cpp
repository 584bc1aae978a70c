#include <bit>
#include <cstring>

#include "species/species.h"

namespace urea {
namespace {

constexpr std::uint64_t word1_of(species s) noexcept {
    return std::bit_cast<std::uint64_t>(species_names[s].word[0]);
}

// Which species has this first word; species_count for none. The words
// are distinct, so a component is at most one species.
std::size_t species_of(std::uint64_t word1) noexcept {
    switch (word1) {
        case word1_of(O2): return O2;
        case word1_of(N2): return N2;
        case word1_of(H2O): return H2O;
        case word1_of(NH3): return NH3;
        case word1_of(CO2): return CO2;
        case word1_of(CARB): return CARB;
        case word1_of(UREA): return UREA;
        default: return species_count;
    }
}

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
        // The first component of each name is that species: later ones are
        // ordinary components.
        const std::size_t s = species_of(host::bits(name[0]));
        if (s < species_count && !found[s].found()) {
            found[s] = {i, entry(vec, i)};
            --missing;
        }
    }
    return found;
}

}  // namespace urea

namespace {

// A missing name gives index nc, an empty list index 0.
[[gnu::noinline]] void find(const host_name* name, const double* vec, host_int* index,
                            double* value) noexcept {
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

}  // namespace

extern "C" UREA_ENTRY void CMPLOC(const host_name* name, const double* vec, host_int* index,
                                  double* value) {
    if (urea::host::bind()) {
        find(name, vec, index, value);
    }
}
