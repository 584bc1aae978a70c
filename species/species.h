// The seven species the routines look for, and the component locator.
#ifndef UREA_SPECIES_H
#define UREA_SPECIES_H

#include <array>
#include <cstddef>

#include "host/host_access.h"

namespace urea {

// Table order; the index into every per-species array of the routines.
enum species : std::size_t { O2, N2, H2O, NH3, CO2, CARB, UREA, species_count };

// Word 1 the name, word 2 blank.
struct species_name {
    host_word word[2];
};
inline constexpr std::array<species_name, species_count> species_names{{
    {{host::blank_padded("O2"), host::blank_padded("")}},
    {{host::blank_padded("N2"), host::blank_padded("")}},
    {{host::blank_padded("H2O"), host::blank_padded("")}},
    {{host::blank_padded("NH3"), host::blank_padded("")}},
    {{host::blank_padded("CO2"), host::blank_padded("")}},
    {{host::blank_padded("CARB"), host::blank_padded("")}},
    {{host::blank_padded("UREA"), host::blank_padded("")}},
}};

// Where a name was found: its position in 1..nc, or 0 when it is not in the
// component list (so a missing name is told apart from the last component).
struct location {
    host_int index;
    double value;  // vec(index), bits unchanged; 0.0 when not found

    constexpr bool found() const noexcept { return index > 0; }
};

// The position of the first component whose name pair equals name; 0 when
// none does.
host_int position_of(const host_word* name) noexcept;

// All seven species in one pass over the component list; each gets the
// position of its first component and that entry of vec, as the locator
// finds it.
void locate_species(const double* vec, std::array<location, species_count>& found) noexcept;

}  // namespace urea

#endif
