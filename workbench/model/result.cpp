#include "model/result.h"

#include <cstddef>
#include <limits>

namespace workbench {

double temperature_at(const reactor_case& c, double s) {
    return kelvin + c.inlet_temperature_C + s * (c.outlet_temperature_C - c.inlet_temperature_C);
}

flows feed_kmol_s(const reactor_case& c) {
    flows f{};
    for (std::size_t i = 0; i < component_count; ++i) f[i] = c.feed_kmol_h[i] / seconds_per_hour;
    return f;
}

bool co2_conversion_defined(const flows& feed) {
    const double co2 = feed[CO2] + feed[CARB];
    return co2 > 0.0 && co2 >= min_co2_share_for_conversion * (co2 + feed[UREA]);
}

double co2_conversion(const flows& feed, const flows& n) {
    if (!co2_conversion_defined(feed)) return std::numeric_limits<double>::quiet_NaN();
    return (n[UREA] - feed[UREA]) / (feed[CO2] + feed[CARB]);
}

}  // namespace workbench
