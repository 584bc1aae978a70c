// The user stream property "NC-FLOW": the mass flow of each component after
// every mole of carbamate is counted as the two moles of NH3 and one mole of
// CO2 that form it (2 NH3 + CO2 -> CARB, so mass is conserved).
#include "host/fp_hold.h"
#include "species/species.h"

namespace {

using urea::host::capacity;

// Working vector of flows by component position.
constinit double w[capacity] = {};
// Positions of the seven species found on the latest call.
constinit std::array<urea::location, urea::species_count> located = {};

// "NC-FLOW" as the host passes it: split after its fourth character, each
// half blank-padded to 8 bytes.
constexpr host_word nc_flow_name[2] = {urea::host::blank_padded("NC-F"),
                                       urea::host::blank_padded("LOW")};

// One property evaluation, from the arguments the routine uses.
[[gnu::noinline]] void evaluate(const host_int* n_out, const host_int* out_pos,
                                const host_name* prop_name, double* out_values,
                                const double* flows) noexcept {
    namespace host = urea::host;
    using namespace urea;

    // A count outside what w holds comes from no conforming host.
    const host_int nc = host::component_count();
    if (nc < 1 || nc > capacity) {
        return;
    }

    // The located values are not used: only the positions.
    locate_species(flows, located);

    if (!host::same_name(*prop_name, nc_flow_name)) {
        return;
    }

    const fp_hold hold;
    for (host_int i = 1; i <= nc; ++i) {
        host::element(w, i) = host::element(flows, i);
    }

    // Fold carbamate into NH3 and CO2, each step reading what the one before
    // left. Only when all three are components: otherwise every component
    // keeps its own flow.
    if (located[NH3].found() && located[CO2].found() && located[CARB].found()) {
        double& w_nh3 = host::element(w, located[NH3].index);
        double& w_co2 = host::element(w, located[CO2].index);
        double& w_carb = host::element(w, located[CARB].index);
        w_nh3 = (2.0 * w_carb) + w_nh3;
        w_co2 = w_co2 + w_carb;
        w_carb = 0.0;
    }

    // kmol per unit time times kg/kmol.
    const host_int l_mw = host::mw_offset();
    for (host_int i = 1; i <= nc; ++i) {
        host::element(w, i) = host::element(w, i) * host::pool_real(l_mw + i);
    }

    // Any component, in any order, with repeats; a position outside the
    // component list leaves its result untouched.
    const host_int m = *n_out;
    for (host_int k = 1; k <= m; ++k) {
        const host_int i = host::element(out_pos, k);
        if (i >= 1 && i <= nc) {
            host::element(out_values, k) = host::element(w, i);
        }
    }
}

}  // namespace

extern "C" UREA_ENTRY void UPROPU(const void*, const void*, const void*, const void*,
                                  const void*, const host_int* n_out, const host_int* out_pos,
                                  const void*, const void*, const void*, const void*,
                                  const void*, const void*, const void*, const void*,
                                  const void*, const void*, const void*,
                                  const host_name* prop_name, double* out_values, const void*,
                                  const void*, const void*, const void*, const double* flows) {
    if (urea::host::bind()) {
        evaluate(n_out, out_pos, prop_name, out_values, flows);
    }
}
