// A stand-in for the host simulator: it defines every data item and routine
// the plug-in imports, lets a test or tool lay out the component list, the
// molecular weights and the property values, and records every call the
// plug-in makes into it.
//
// Link it into the executable that loads the plug-in, with the executable's
// symbols exported (ENABLE_EXPORTS), so that the loader resolves the plug-in's
// imports from it.
#ifndef UREA_STANDIN_HOST_H
#define UREA_STANDIN_HOST_H

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_interface.h"

namespace standin {

// Sizes of the stand-in's data items.
inline constexpr host_int pool_words = 4096;
inline constexpr host_int props_offsets = 400;

// Default offsets: not 0, so that a plug-in that assumes an offset fails.
inline constexpr host_int default_ids_offset = 37;
inline constexpr host_int default_mw_offset = 1203;

// text blank-padded to one 8-byte word (text of at most 8 bytes).
host_word word(std::string_view text);

// Clears every data item, the properties and the call record, and sets the
// default offsets. The component count becomes 0.
void reset();

// The component list: names (word 1, word 2 blank) written at pool words
// l_ids + 2i - 1 and l_ids + 2i, HOST_OFFSETS_IDS(2) = l_ids and
// HOST_COMPONENT_COUNT = names.size().
void set_components(const std::vector<std::string>& names, host_int l_ids = default_ids_offset);
// One name pair written raw at the given ids offset (nothing else changes).
void write_name(host_int l_ids, host_int i, const host_word& word1, const host_word& word2);
void set_component_count(host_int nc);
void set_ids_offset(host_int l_ids);

// Molecular weights (kg/kmol) at pool words l_mw + i; HOST_OFFSETS_PROPS(306) = l_mw.
void set_molecular_weights(const std::vector<double>& mw, host_int l_mw = default_mw_offset);
void set_mw_offset(host_int l_mw);

// HOST_REACTOR_STATE(6), the reacting volume (m3).
void set_reacting_volume(double v);

// The host's thermodynamics, as the property routines see it. Positions are
// component positions (1-based); x and pos are the packed present list.
class property_model {
public:
    virtual ~property_model() = default;
    // Pure-component ideal-gas Gibbs energy at t, J/kmol.
    virtual double gibbs(host_int pos, double t) = 0;
    // Liquid molar volume of the mixture, m3/kmol.
    virtual double liquid_volume(double t, double p, std::span<const double> x,
                                 std::span<const host_int> pos) = 0;
    // Liquid fugacity coefficient of the component at packed index k.
    virtual double fugacity(std::size_t k, double t, double p, std::span<const double> x,
                            std::span<const host_int> pos) = 0;
};

// The default model: a value per component position, independent of T, P, x
// (set_gibbs, set_fugacity) and one liquid molar volume.
void set_gibbs(host_int pos, double g);
void set_fugacity(host_int pos, double phi);
void set_liquid_volume(double vl);

// Replaces the default model (nullptr puts it back). Not owned.
void set_property_model(property_model* model);

// The record of host-routine calls.
enum class routine { scatter, ideal_gas_props, liquid_volume, liquid_fugacity };

struct call {
    routine which;
    std::vector<const void*> args;  // every argument's address, by position
    std::vector<double> reals;      // real inputs by value: t (and p)
    std::vector<host_int> ints;     // integer inputs by value, by position
                                    // (a count, diag level, flags, the 1)
};

const std::vector<call>& calls();
void clear_calls();
// Recording is on after reset(); tools and benchmarks turn it off.
void set_recording(bool on);

}  // namespace standin

#endif
