#include <bit>
#include <cstring>

#include "species/species.h"

namespace urea {
namespace {

constexpr std::uint64_t word1_of(species s) noexcept {
    return std::bit_cast<std::uint64_t>(species_names[s].word[0]);
}

// Which species has this first word; species_count for none. The words are
// distinct, so a component is at most one species. A perfect hash: the top
// three bits of word * hash_multiplier put each of the seven words in a
// bucket of its own (the multiplier was found by trying odd numbers; the
// build fails if two words share a bucket), and the bucket keeps its word,
// so one multiplication and one comparison decide.
constexpr std::uint64_t hash_multiplier = 0x78255d6807923987u;

constexpr std::size_t bucket(std::uint64_t word1) noexcept {
    return static_cast<std::size_t>((word1 * hash_multiplier) >> 61);
}

struct bucket_entry {
    std::uint64_t word1;
    std::size_t s;  // species_count in a bucket of no species
};

constexpr std::array<bucket_entry, 8> buckets = [] {
    std::array<bucket_entry, 8> table{};
    for (bucket_entry& e : table) {
        e = {0, species_count};
    }
    for (std::size_t s = 0; s < species_count; ++s) {
        table[bucket(word1_of(static_cast<species>(s)))] = {word1_of(static_cast<species>(s)), s};
    }
    return table;
}();

// A word that overwrote another's bucket would leave that species out.
constexpr bool each_species_in_its_own_bucket() {
    for (std::size_t s = 0; s < species_count; ++s) {
        if (buckets[bucket(word1_of(static_cast<species>(s)))].s != s) {
            return false;
        }
    }
    return true;
}
static_assert(each_species_in_its_own_bucket(),
              "two species' words share a bucket: choose another multiplier");

std::size_t species_of(std::uint64_t word1) noexcept {
    const bucket_entry& e = buckets[bucket(word1)];
    return e.word1 == word1 ? e.s : species_count;
}

// vec(i), its 8 bytes copied unchanged (a signalling NaN stays signalling).
double entry(const double* vec, host_int i) noexcept {
    double value;
    std::memcpy(&value, &host::element(vec, i), sizeof value);
    return value;
}

}  // namespace

host_int position_of(const host_word* name) noexcept {
    const host_int nc = host::component_count();
    const host_int l_ids = host::ids_offset();
    for (host_int i = 1; i <= nc; ++i) {
        if (host::same_name(host::component_name(l_ids, i), name)) {
            return i;
        }
    }
    return 0;
}

void locate_species(const double* vec, std::array<location, species_count>& found) noexcept {
    found = {};
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
    const host_int at = urea::position_of(*name);
    if (at > 0) {
        std::memcpy(value, &urea::host::element(vec, at), sizeof *value);
        *index = at;
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
