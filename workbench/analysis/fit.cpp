#include "analysis/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>

#include <boost/math/tools/minima.hpp>
#include <boost/math/tools/toms748_solve.hpp>

#include "base/text.h"

namespace workbench {
namespace {

// The scan: a2 = 10^k for k in this range to begin with, widened while the
// conversion at an end still moves towards the target.
constexpr int first_decade = -6, last_decade = 6;
constexpr int lowest_decade = -12, highest_decade = 12;

struct point {
    double ln_a2;
    double conversion;
};

}  // namespace

fit_result fit_a2(const reactor_case& base, workbench_host& h, double target) {
    if (!(target > 0.0 && target < 1.0)) {
        std::ostringstream m;
        m << "the target must be a fraction between 0 and 1 (got " << target << percentage_hint(target) << ")";
        throw input_error(field("co2_conversion"), m.str());
    }
    reactor_case c = base;
    const result first = simulate(c, h);
    if (!first.co2_conversion_defined) {
        throw input_error(field("co2_conversion"), "this feed has no CO2 conversion to fit (the CO2 fed, "
                                                   "free and as carbamate, is less than 0.1 % of the carbon fed)");
    }
    const double eq = first.equilibrium_co2_conversion;
    const bool rising = c.outlet_temperature_C >= c.inlet_temperature_C;
    const auto refuse_at_equilibrium = [&] {
        std::ostringstream m;
        m.precision(4);
        m << "the target " << target << " is at or above the equilibrium CO2 conversion " << eq << " at the outlet ("
          << c.outlet_temperature_C << " C, " << c.pressure_bar << " bar): no rate factor reaches it";
        throw input_error(field("co2_conversion"), m.str());
    };
    // With a temperature that rises or stays, the equilibrium at the outlet
    // bounds the conversion.
    if (rising && target >= eq) refuse_at_equilibrium();

    int evaluations = 1;
    std::vector<station> warm = first.profile;
    const auto conversion = [&](double ln_a2) {
        c.a2 = std::exp(ln_a2);
        ++evaluations;
        warm = run_profile(c, h, &warm);
        return warm.back().co2_conversion;
    };
    const double ln10 = std::log(10.0);
    std::vector<point> scan;
    for (int k = first_decade; k <= last_decade; ++k) scan.push_back({k * ln10, conversion(k * ln10)});
    // Widen where the conversion still moves towards the target at an end.
    while (scan.back().ln_a2 < highest_decade * ln10 && scan.back().conversion < target &&
           scan.back().conversion > scan[scan.size() - 2].conversion + 1e-9) {
        const double x = scan.back().ln_a2 + ln10;
        scan.push_back({x, conversion(x)});
    }
    while (scan.front().ln_a2 > lowest_decade * ln10 && scan.front().conversion > target) {
        const double x = scan.front().ln_a2 - ln10;
        scan.insert(scan.begin(), {x, conversion(x)});
    }
    // The highest conversion: the best decade, refined between its neighbours.
    const auto top = std::max_element(scan.begin(), scan.end(), [](const point& a, const point& b) {
        return a.conversion < b.conversion;
    });
    point highest = *top;
    {
        const double lo = top == scan.begin() ? top->ln_a2 : (top - 1)->ln_a2;
        const double hi = top + 1 == scan.end() ? top->ln_a2 : (top + 1)->ln_a2;
        if (hi > lo) {
            std::uintmax_t iterations = 40;
            const auto [x, minus_conversion] = boost::math::tools::brent_find_minima(
                [&](double ln_a2) { return -conversion(ln_a2); }, lo, hi, 24, iterations);
            if (-minus_conversion > highest.conversion) highest = {x, -minus_conversion};
        }
    }
    if (target > highest.conversion) {
        if (rising) refuse_at_equilibrium();
        std::ostringstream m;
        m.precision(4);
        m << "the target " << target << " is above the highest CO2 conversion any a2 reaches, " << highest.conversion
          << " at a2 = " << std::exp(highest.ln_a2)
          << " (with the temperature falling along the reactor, fast dehydration turns urea back "
             "into carbamate in the cold trays)";
        throw input_error(field("co2_conversion"), m.str());
    }
    // Every a2 that gives the target: a root between each pair of
    // neighbouring points on either side of it.
    std::vector<point> points = scan;
    points.push_back(highest);
    std::sort(points.begin(), points.end(),
              [](const point& a, const point& b) { return a.ln_a2 < b.ln_a2; });
    std::vector<double> roots;
    for (std::size_t k = 0; k + 1 < points.size(); ++k) {
        const double f_lo = points[k].conversion - target, f_hi = points[k + 1].conversion - target;
        if (f_lo == 0.0) roots.push_back(points[k].ln_a2);
        if (!(f_lo * f_hi < 0.0)) continue;
        std::uintmax_t iterations = 60;
        const auto [a, b] = boost::math::tools::toms748_solve(
            [&](double ln_a2) { return conversion(ln_a2) - target; }, points[k].ln_a2,
            points[k + 1].ln_a2, f_lo, f_hi, boost::math::tools::eps_tolerance<double>(40),
            iterations);
        if (iterations >= 60) {
            throw solver_error("fit: TOMS 748 did not narrow the bracket of a2 in 60 steps");
        }
        roots.push_back(0.5 * (a + b));
    }
    if (points.back().conversion == target) roots.push_back(points.back().ln_a2);
    if (roots.empty()) {
        throw solver_error("fit: no a2 found that gives the target, though the highest conversion "
                           "reached is above it");
    }
    // The one nearest the case's a2.
    const double ln_case = std::log(base.a2);
    const double chosen = *std::min_element(roots.begin(), roots.end(), [&](double a, double b) {
        return std::abs(a - ln_case) < std::abs(b - ln_case);
    });
    fit_result f;
    for (double x : roots) {
        f.solutions.push_back({std::exp(x), x == chosen ? 0.0 : conversion(x)});
    }
    c.a2 = std::exp(chosen);
    f.run = simulate(c, h);
    ++evaluations;
    for (fit_point& s : f.solutions) {
        if (s.a2 == c.a2) s.co2_conversion = f.run.co2_conversion;
    }
    f.a2 = c.a2;
    f.co2_conversion = f.run.co2_conversion;
    f.equilibrium_co2_conversion = eq;
    f.highest = {std::exp(highest.ln_a2), highest.conversion};
    f.evaluations = evaluations;
    return f;
}

}  // namespace workbench
