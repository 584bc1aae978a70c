// The joint likelihood region of (a1, a2), slice by slice along a1.
#include "analysis/least_squares.h"
#include "analysis/profile.h"
#include "analysis/uncertainty.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <boost/math/tools/toms748_solve.hpp>

namespace workbench {

using detail::factor_at;
using detail::offset;
using detail::point;

namespace {

// Slices across the region: enough for its outline to read as a curve.
constexpr int region_slices = 31;
constexpr int min_slices_a_piece = 7;

double ln_of(double a) { return std::log(a) + offset; }

}  // namespace

likelihood_region region_of(model& m, const std::vector<observed_run>& runs, const estimate_options& opt,
                            const estimate_result& res) {
    likelihood_region out;
    const parameter_estimate& p1 = res.parameters[0];
    const parameter_estimate& p2 = res.parameters[1];
    if (!p1.free || !p2.free || !p1.profile.computed || p1.profile.points.empty()) return out;
    const detail::quiet_ceres quiet;
    detail::fit_problem fp(m, runs, opt, res.loss_scale);
    const double s0 = res.best_objective, thr = res.region_threshold;
    out.computed = true;
    out.threshold = thr;
    out.best = {p1.value, p2.value};

    // ---- Linearised ellipse: ln best + sqrt(threshold) L (cos t, sin t), C = L L' ----
    if (res.covariance.size() == 2) {
        const auto& c = res.covariance;
        const double l11 = std::sqrt(c[0][0]), l21 = c[1][0] / l11, l22 = std::sqrt(c[1][1] - l21 * l21);
        if (std::isfinite(l11) && std::isfinite(l22) && l22 > 0.0) {
            const double r = std::sqrt(thr);
            for (int i = 0; i <= 72; ++i) {
                const double t = 2.0 * M_PI * i / 72.0;
                out.ellipse.push_back({p1.value * std::exp(r * l11 * std::cos(t)),
                                       p2.value * std::exp(r * (l21 * std::cos(t) + l22 * std::sin(t)))});
            }
        }
    }

    // ---- Where along a1 the region lies: the profile of a1 within the region's threshold ----
    struct scanned {
        double u1, u2, delta;
    };
    std::vector<scanned> prof;
    for (const profile_point& q : p1.profile.points) prof.push_back({ln_of(q.value), ln_of(q.other), q.delta});
    const auto inside = [&](const scanned& s) { return !(s.delta > thr); };  // unknown counted inside
    // Where the profile crosses the threshold between two scanned points,
    // by linear interpolation (the outline's ends, not an interval).
    const auto cross = [&](const scanned& a, const scanned& b) {
        if (!std::isfinite(a.delta) || !std::isfinite(b.delta) || a.delta == b.delta) return b.u1;
        return a.u1 + (b.u1 - a.u1) * (thr - a.delta) / (b.delta - a.delta);
    };
    std::vector<std::array<double, 2>> spans;
    for (std::size_t i = 0; i < prof.size();) {
        if (!inside(prof[i])) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j + 1 < prof.size() && inside(prof[j + 1])) ++j;
        spans.push_back({i == 0 ? fp.u_lo() : cross(prof[i], prof[i - 1]),
                         j + 1 == prof.size() ? fp.u_hi() : cross(prof[j], prof[j + 1])});
        if (i == 0) out.open_a1_low = true;
        if (j + 1 == prof.size()) out.open_a1_high = true;
        i = j + 1;
    }
    double total = 0.0;
    for (const auto& s : spans) total += s[1] - s[0];
    // The profile's re-optimised a2 at u1, interpolated: a guess.
    const auto valley = [&](double u1) {
        for (std::size_t i = 0; i + 1 < prof.size(); ++i) {
            if (prof[i].u1 <= u1 && u1 <= prof[i + 1].u1 && prof[i + 1].u1 > prof[i].u1) {
                return prof[i].u2 + (prof[i + 1].u2 - prof[i].u2) * (u1 - prof[i].u1) / (prof[i + 1].u1 - prof[i].u1);
            }
        }
        return ln_of(p2.value);
    };

    // ---- Slices: the best a2, then each side's crossing of the threshold ----
    double width_low = NAN, width_high = NAN;  // the last slice's, to start the next one's search
    const double first_width =
        std::isfinite(p2.se_ln) ? std::clamp(res.t_quantile * p2.se_ln, 1e-3, 1.0) : 0.1;
    for (const auto& span : spans) {
        const int n = total > 0.0 ? std::max(min_slices_a_piece,
                                             static_cast<int>(std::lround(region_slices * (span[1] - span[0]) / total)))
                                  : min_slices_a_piece;
        std::vector<region_slice> piece;
        double last_u2 = NAN;
        for (int c = 0; c < n; ++c) {
            const double u1 = span[0] + (span[1] - span[0]) * c / (n - 1);
            region_slice s;
            s.a1 = factor_at(u1);
            const detail::inner_fit f = detail::best_other(fp, 0, u1, {valley(u1), last_u2});
            if (!f.ok) {
                piece.push_back(s);
                continue;
            }
            last_u2 = f.other;
            s.a2_best = factor_at(f.other);
            s.delta_best = f.objective - s0;
            if (s.delta_best > thr) {
                piece.push_back(s);
                continue;
            }
            // g <= 0 inside. Where the reactor cannot be solved: counted
            // inside, so that the region errs on the large side.
            const auto g = [&](double u2) {
                const double v = fp.objective({u1, u2});
                return std::isfinite(v) ? v - s0 - thr : -1.0;
            };
            for (const double dir : {-1.0, 1.0}) {
                double& width = dir < 0 ? width_low : width_high;
                double w = std::isfinite(width) ? std::max(width, 1e-3) : first_width;
                double in = f.other, out_u = NAN, g_in = s.delta_best - thr, g_out = NAN;
                for (int step = 0; step < 60; ++step) {
                    const double x = std::clamp(f.other + dir * w, fp.u_lo(), fp.u_hi());
                    const double gx = g(x);
                    if (gx > 0.0) {
                        out_u = x;
                        g_out = gx;
                        break;
                    }
                    in = x;
                    g_in = gx;
                    if (x == fp.u_lo() || x == fp.u_hi()) break;
                    w *= 2.0;
                }
                double bound = in;
                if (std::isfinite(out_u)) {
                    std::uintmax_t iterations = 30;
                    const double l = std::min(in, out_u), r = std::max(in, out_u);
                    const auto bracket = boost::math::tools::toms748_solve(
                        g, l, r, l == in ? g_in : g_out, l == in ? g_out : g_in,
                        [](double x, double y) { return std::abs(x - y) < 1e-3; }, iterations);
                    bound = dir < 0 ? bracket.first : bracket.second;
                } else {
                    (dir < 0 ? s.open_low : s.open_high) = true;
                    out.open_a2 = true;
                }
                width = std::abs(bound - f.other);
                (dir < 0 ? s.a2_low : s.a2_high) = factor_at(bound);
            }
            piece.push_back(s);
        }
        out.pieces.push_back(std::move(piece));
    }
    return out;
}

}  // namespace workbench
