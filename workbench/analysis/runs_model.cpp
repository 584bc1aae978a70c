#include "analysis/runs_model.h"

#include <cmath>
#include <utility>

namespace workbench {

model::outcome predict_run(const reactor_case& c, workbench_host& h, std::vector<station>* warm) {
    model::outcome out;
    std::vector<station> profile;
    try {
        profile = run_profile(c, h, warm != nullptr && !warm->empty() ? warm : nullptr);
    } catch (const solver_error& e) {
        out.failure = e.what();
        return out;
    }
    const station& last = profile.back();
    for (const double f : last.n) {
        if (!std::isfinite(f)) {
            out.failure = "the run produced a non-finite flow";
            return out;
        }
    }
    const double conversion = last.co2_conversion;
    out.values[static_cast<std::size_t>(quantity::co2_conversion)] = std::isfinite(conversion) ? conversion : 0.0;
    set_nc_mass_fractions(h.nc_flow(last.n, last.temperature_K, c.pressure_bar * 1e5), out.values);
    for (const double v : out.values) {
        if (!std::isfinite(v)) {
            out.failure = "the outlet's NC-FLOW from UPROPU gives no mass fractions (not finite, or "
                          "no NH3, CO2, urea or water)";
            return out;
        }
    }
    out.ok = true;
    if (warm != nullptr) *warm = std::move(profile);
    return out;
}

runs_model::runs_model(workbench_host& h, std::vector<reactor_case> cases)
    : h_(h), cases_(std::move(cases)), warm_(cases_.size()) {}

model::outcome runs_model::predict(std::size_t run, double ln_a1, double ln_a2) {
    reactor_case& c = cases_[run];
    c.a1 = std::exp(ln_a1);
    c.a2 = std::exp(ln_a2);
    ++solves_;
    return predict_run(c, h_, &warm_[run]);
}

}  // namespace workbench
