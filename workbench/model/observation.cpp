#include "model/observation.h"

#include <cmath>

namespace workbench {

std::string quantity_columns() {
    std::string s;
    for (const quantity_info& q : quantities) s += (s.empty() ? "" : ", ") + std::string(q.column);
    return s;
}

void set_nc_mass_fractions(const flows& nc, predicted& p) {
    const double total = nc[NH3] + nc[CO2] + nc[UREA] + nc[H2O];
    const bool ok = total > 0.0 && std::isfinite(total);
    const auto put = [&](quantity q, component c) {
        p[static_cast<std::size_t>(q)] = ok ? nc[c] / total : NAN;
    };
    put(quantity::w_nh3, NH3);
    put(quantity::w_co2, CO2);
    put(quantity::w_urea, UREA);
    put(quantity::w_h2o, H2O);
}

}  // namespace workbench
