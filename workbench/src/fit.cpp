#include "fit.h"

#include <cmath>
#include <cstdint>
#include <sstream>

#include <boost/math/tools/toms748_solve.hpp>

#include "reactor.h"

namespace workbench {

fit_result fit_a2(const reactor_case& base, workbench_host& h, double target) {
    reactor_case c = base;
    // The equilibrium at the outlet bounds what any rate factor can reach.
    const result first = simulate(c, h);
    const double eq = first.equilibrium_co2_conversion;
    if (!(target > 0.0)) {
        std::ostringstream m;
        m << "--co2-conversion: the target must be > 0 (got " << target << ")";
        throw input_error(m.str());
    }
    if (target >= eq) {
        std::ostringstream m;
        m.precision(4);
        m << "--co2-conversion: the target " << target
          << " is at or above the equilibrium CO2 conversion " << eq << " at the outlet ("
          << c.outlet_temperature_C << " C, " << c.pressure_bar
          << " bar): no rate factor reaches it";
        throw input_error(m.str());
    }
    int evaluations = 1;
    const auto f = [&](double ln_a2) {
        c.a2 = std::exp(ln_a2);
        ++evaluations;
        return outlet_conversion(c, h) - target;
    };
    // Bracket: from the case's a2, widen by factors of 10 in the direction
    // the conversion must move.
    double lo = std::log(base.a2), hi = lo;
    double f_lo = first.co2_conversion - target, f_hi = f_lo;
    const double step = std::log(10.0);
    for (int k = 0; k < 15 && f_lo > 0.0; ++k) {
        hi = lo;
        f_hi = f_lo;
        lo -= step;
        f_lo = f(lo);
    }
    for (int k = 0; k < 15 && f_hi < 0.0; ++k) {
        lo = hi;
        f_lo = f_hi;
        hi += step;
        f_hi = f(hi);
    }
    if (f_lo > 0.0 || f_hi < 0.0) {
        std::ostringstream m;
        m.precision(4);
        m << "fit: no a2 between " << std::exp(lo) << " and " << std::exp(hi) << " gives "
          << target << " (conversions " << f_lo + target << " .. " << f_hi + target
          << "; the trays' own temperatures keep them below the outlet equilibrium " << eq << ")";
        throw solver_error(m.str());
    }
    if (f_lo == 0.0) return {std::exp(lo), target, eq, evaluations};
    if (f_hi == 0.0) return {std::exp(hi), target, eq, evaluations};
    std::uintmax_t max_iter = 60;
    const auto [a, b] = boost::math::tools::toms748_solve(
        f, lo, hi, f_lo, f_hi, boost::math::tools::eps_tolerance<double>(40), max_iter);
    if (max_iter >= 60) {
        throw solver_error("fit: TOMS 748 did not narrow the bracket in 60 steps");
    }
    c.a2 = std::exp(0.5 * (a + b));
    const double reached = outlet_conversion(c, h);
    ++evaluations;
    return {c.a2, reached, eq, evaluations};
}

}  // namespace workbench
