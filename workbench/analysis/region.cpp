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
// Slices a piece of work: each run of them starts afresh and takes the next
// slice's search from the last one's.
constexpr int slices_a_chunk = 4;

double ln_of(double a) { return std::log(a) + offset; }

}  // namespace

likelihood_region region_of(model& m, const std::vector<observed_run>& runs, const estimate_options& opt,
                            const estimate_result& res, const estimate_split& split) {
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
    const double first_width =
        std::isfinite(p2.se_ln) ? std::clamp(res.t_quantile * p2.se_ln, 1e-3, 1.0) : 0.1;
    // Slices c0 .. c1 - 1 of n across a span, on the problem f.
    const auto slices = [&](detail::fit_problem& f, const std::array<double, 2>& span, int n, int c0, int c1,
                            bool& open_a2) {
        std::vector<region_slice> piece;
        double width_low = NAN, width_high = NAN;  // the last slice's, to start the next one's search
        double last_u2 = NAN;
        for (int c = c0; c < c1; ++c) {
            const double u1 = span[0] + (span[1] - span[0]) * c / (n - 1);
            region_slice sl;
            sl.a1 = factor_at(u1);
            const detail::inner_fit best = detail::best_other(f, 0, u1, {valley(u1), last_u2});
            if (!best.ok) {
                piece.push_back(sl);
                continue;
            }
            last_u2 = best.other;
            sl.a2_best = factor_at(best.other);
            sl.delta_best = best.objective - s0;
            if (sl.delta_best > thr) {
                piece.push_back(sl);
                continue;
            }
            // g <= 0 inside. Where the reactor cannot be solved: counted
            // inside, so that the region errs on the large side.
            const auto g = [&](double u2) {
                const double v = f.objective({u1, u2});
                return std::isfinite(v) ? v - s0 - thr : -1.0;
            };
            for (const double dir : {-1.0, 1.0}) {
                double& width = dir < 0 ? width_low : width_high;
                double w = std::isfinite(width) ? std::max(width, 1e-3) : first_width;
                double in = best.other, out_u = NAN, g_in = sl.delta_best - thr, g_out = NAN;
                for (int step = 0; step < 60; ++step) {
                    const double x = std::clamp(best.other + dir * w, f.u_lo(), f.u_hi());
                    const double gx = g(x);
                    if (gx > 0.0) {
                        out_u = x;
                        g_out = gx;
                        break;
                    }
                    in = x;
                    g_in = gx;
                    if (x == f.u_lo() || x == f.u_hi()) break;
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
                    (dir < 0 ? sl.open_low : sl.open_high) = true;
                    open_a2 = true;
                }
                width = std::abs(bound - best.other);
                (dir < 0 ? sl.a2_low : sl.a2_high) = factor_at(bound);
            }
            piece.push_back(sl);
        }
        return piece;
    };
    // The pieces of work: runs of slices_a_chunk slices of each span.
    struct chunk {
        std::size_t span;
        int n, c0, c1;
    };
    std::vector<chunk> chunks;
    for (std::size_t k = 0; k < spans.size(); ++k) {
        const int n = total > 0.0 ? std::max(min_slices_a_piece, static_cast<int>(std::lround(
                                                                     region_slices * (spans[k][1] - spans[k][0]) / total)))
                                  : min_slices_a_piece;
        for (int c = 0; c < n; c += slices_a_chunk) chunks.push_back({k, n, c, std::min(n, c + slices_a_chunk)});
    }
    out.pieces.assign(spans.size(), {});
    detail::run_pieces(
        m, split, chunks.size(),
        [&](std::size_t i, model& own) {
            const std::unique_ptr<detail::fit_problem> f = fp.on(own);
            bool open_a2 = false;
            const chunk& ch = chunks[i];
            const std::vector<region_slice> part = slices(*f, spans[ch.span], ch.n, ch.c0, ch.c1, open_a2);
            return region_answer_bytes({open_a2, part, detail::counts_of(f->values())});
        },
        [&](std::size_t i, const std::string& bytes) {
            region_answer a = read_region_answer(bytes);
            out.open_a2 = a.open_a2 || out.open_a2;
            std::vector<region_slice>& piece = out.pieces[chunks[i].span];
            piece.insert(piece.end(), a.slices.begin(), a.slices.end());
            detail::add_counts(a.counts, fp.values());
        });
    return out;
}

}  // namespace workbench
