#include "analysis/profile.h"
#include "analysis/answers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/math/tools/toms748_solve.hpp>

namespace workbench::detail {
namespace {

const double decade = std::log(10.0);

// The objective on a coarse grid over the whole box, a point per decade of
// each factor: where the other factor's re-optimisation may start, so that
// a basin far from the last step's optimum is not missed (the data may fit
// along a narrow valley of small a1 as well as on the plateau of large a1).
class coarse_map {
public:
    coarse_map(fit_problem& fp, const estimate_split& split) {
        for (double u = fp.u_lo(); u < fp.u_hi() - 1e-9; u += decade) axis_.push_back(u);
        axis_.push_back(fp.u_hi());
        const std::size_t n = axis_.size();
        value_.assign(n * n, NAN);
        // A row a piece of work, each solve warm-started from its neighbour's.
        const auto column = [n](std::size_t i, std::size_t jj) { return i % 2 == 0 ? jj : n - 1 - jj; };
        run_pieces(
            fp.values().subject(), split, n,
            [&](std::size_t i, model& own) {
                const std::unique_ptr<fit_problem> f = fp.on(own);
                map_row_answer a;
                for (std::size_t jj = 0; jj < n; ++jj) a.row.push_back(f->objective({axis_[i], axis_[column(i, jj)]}));
                a.counts = counts_of(f->values());
                return map_row_bytes(a);
            },
            [&](std::size_t i, const std::string& bytes) {
                piece_counts counts;
                const std::vector<double> row = read_map_row(bytes, n, counts);
                for (std::size_t jj = 0; jj < n; ++jj) value_[i * n + column(i, jj)] = row[jj];
                add_counts(counts, fp.values());
            });
    }

    // For factor k at uk: the other factor's best grid value in each of the
    // two grid lines beside uk.
    std::vector<double> guesses(std::size_t k, double uk) const {
        const std::size_t n = axis_.size();
        std::vector<double> out;
        const std::size_t above = static_cast<std::size_t>(
            std::lower_bound(axis_.begin(), axis_.end(), uk) - axis_.begin());
        for (const std::size_t line : {above == 0 ? 0 : above - 1, std::min(above, n - 1)}) {
            double best = NAN;
            std::size_t at = n;
            for (std::size_t m = 0; m < n; ++m) {
                const double v = k == 0 ? value_[line * n + m] : value_[m * n + line];
                if (std::isfinite(v) && !(v >= best)) {
                    best = v;
                    at = m;
                }
            }
            if (at < n) out.push_back(axis_[at]);
        }
        return out;
    }

private:
    std::vector<double> axis_;
    std::vector<double> value_;  // [i * n + j]: a1 at axis_[i], a2 at axis_[j]
};

enum class side { in, out, unknown };

struct scanned {
    double uk, uj, delta;  // delta NaN: not solved
};

}  // namespace

inner_fit best_other(fit_problem& fp, std::size_t k, double uk, const std::vector<double>& guesses) {
    const std::size_t j = 1 - k;
    inner_fit out;
    point u{};
    u[k] = uk;
    if (!fp.free(j)) {
        u[j] = std::log(*fp.options().fixed[j]) + offset;
        out.objective = fp.objective(u);
        out.ok = std::isfinite(out.objective);
        out.other = u[j];
        return out;
    }
    // The best of the guesses, then Levenberg-Marquardt from it.
    std::vector<double> tried;
    for (const double g : guesses) {
        if (!std::isfinite(g)) continue;
        const double x = std::clamp(g, fp.u_lo(), fp.u_hi());
        if (std::find_if(tried.begin(), tried.end(), [&](double t) { return std::abs(t - x) < 1e-9; }) != tried.end()) {
            continue;
        }
        tried.push_back(x);
        u[j] = x;
        const double v = fp.objective(u);
        if (std::isfinite(v) && !(v >= out.objective)) {
            out = {true, x, v};
        }
    }
    if (!out.ok) return out;
    u[j] = out.other;
    std::array<bool, 2> hold{false, false};
    hold[k] = true;
    const local_fit f = fp.minimise(u, hold, 50);
    if (f.usable && f.objective < out.objective) out = {true, f.u[j], f.objective};
    return out;
}

std::optional<point> profile_factors(fit_problem& fp, estimate_result& res, point best, const estimate_split& split) {
    const double s0 = res.best_objective, threshold = res.profile_threshold;
    model& m = fp.values().subject();
    std::optional<coarse_map> map;
    if (fp.free(0) && fp.free(1)) map.emplace(fp, split);
    for (std::size_t k = 0; k < 2; ++k) {
        parameter_estimate& p = res.parameters[k];
        p.profile = profile_interval{};
        if (!p.free) continue;
        const std::size_t j = 1 - k;
        std::vector<scanned> pts{{best[k], best[j], 0.0}};
        // The valley the other factor's profile followed, read the other way
        // round: where its re-optimised value (this factor) crosses uk, its
        // own value there is a guess for the other factor. It leads onto a
        // branch that no step from the last point would reach, such as the
        // narrow valley of small a1 beside the plateau of large a1.
        const auto valley_at = [&](double uk) {
            std::vector<double> out;
            const std::vector<profile_point>& other = res.parameters[j].profile.points;
            for (std::size_t i = 0; i + 1 < other.size(); ++i) {
                const double x0 = std::log(other[i].other) + offset, x1 = std::log(other[i + 1].other) + offset;
                if (!std::isfinite(other[i].delta) || !std::isfinite(other[i + 1].delta)) continue;
                if ((x0 - uk) * (x1 - uk) > 0.0 || x0 == x1) continue;
                const double y0 = std::log(other[i].value) + offset, y1 = std::log(other[i + 1].value) + offset;
                out.push_back(y0 + (y1 - y0) * (uk - x0) / (x1 - x0));
            }
            return out;
        };
        // Steps from a quarter of the linearised half-width, growing by 60 %
        // each step up to half a decade while within the threshold (a
        // decade beyond it). From the best fit, to both edges of the box:
        // the profile can come back below the threshold far away. From
        // another basin: until the profile leaves the threshold.
        const double half = res.t_quantile * p.se_ln;
        const double h0 = std::isfinite(half) ? std::clamp(0.25 * half, 2e-3, 0.3) : 0.05;
        // One direction of a scan on the problem f: the points it steps
        // through, and a better fit than the best when it finds one (the
        // scan then stops there).
        const auto scan_one = [&](fit_problem& f, double from_k, double from_j, double dir, bool to_edges,
                                  std::vector<scanned>& out) -> std::optional<point> {
            double uk = from_k, uj = from_j, h = h0;
            bool beyond = false;
            while ((dir < 0 ? uk > f.u_lo() : uk < f.u_hi()) && (to_edges || !beyond)) {
                const double next = std::clamp(uk + dir * h, f.u_lo(), f.u_hi());
                std::vector<double> guesses{uj};
                if (map) {
                    for (const double g : map->guesses(k, next)) guesses.push_back(g);
                }
                for (const double g : valley_at(next)) guesses.push_back(g);
                const inner_fit fit = best_other(f, k, next, guesses);
                const double delta = fit.ok ? fit.objective - s0 : NAN;
                out.push_back({next, fit.ok ? fit.other : uj, delta});
                if (delta < -0.01) {
                    point better{};
                    better[k] = next;
                    better[j] = fit.other;
                    return better;
                }
                if (fit.ok) uj = fit.other;
                beyond = beyond || delta > threshold;
                h = std::min(1.6 * h, beyond ? decade : decade / 2.0);
                uk = next;
            }
            return std::nullopt;
        };
        // From the best fit, each direction a piece of work of its own; a
        // better fit found downwards wins over one found upwards.
        std::array<std::optional<point>, 2> found;
        run_pieces(
            m, split, 2,
            [&](std::size_t d, model& own) {
                const std::unique_ptr<fit_problem> f = fp.on(own);
                std::vector<scanned> out;
                const std::optional<point> b = scan_one(*f, best[k], best[j], d == 0 ? -1.0 : 1.0, true, out);
                scan_answer a;
                for (const scanned& x : out) a.points.push_back({x.uk, x.uj, x.delta});
                a.better = b;
                a.counts = counts_of(f->values());
                return scan_answer_bytes(a);
            },
            [&](std::size_t d, const std::string& bytes) {
                const scan_answer a = read_scan_answer(bytes);
                for (const std::array<double, 3>& x : a.points) pts.push_back({x[0], x[1], x[2]});
                if (a.better) found[d] = *a.better;
                add_counts(a.counts, fp.values());
            });
        if (found[0]) return found[0];
        if (found[1]) return found[1];
        const auto side_of = [&](const scanned& x) {
            return !std::isfinite(x.delta) ? side::unknown : x.delta <= threshold ? side::in : side::out;
        };
        const auto by_value = [](const scanned& a, const scanned& b) { return a.uk < b.uk; };
        std::sort(pts.begin(), pts.end(), by_value);
        // The ends of other starts that fit within the threshold lie in the
        // set too: where the scan from the best fit stepped over them (a
        // narrow basin), each gets a scan of its own.
        for (const start_outcome& st : res.starts) {
            if (!st.usable || !(st.objective - s0 <= threshold)) continue;
            const double uk = std::log(st.to[k]) + offset, uj = std::log(st.to[j]) + offset;
            // Starts that ended at one point (within 1e-6 in ln a) count once.
            const auto next = std::lower_bound(pts.begin(), pts.end(), scanned{uk - 1e-6, 0.0, 0.0}, by_value);
            const bool at_point = next != pts.end() && std::abs(next->uk - uk) < 1e-6 && side_of(*next) == side::in;
            const bool between = next != pts.end() && side_of(*next) == side::in && next != pts.begin() &&
                                 side_of(*(next - 1)) == side::in;
            const bool seen = at_point || between;
            if (seen) continue;
            pts.push_back({uk, uj, st.objective - s0});
            for (const double dir : {-1.0, 1.0}) {
                if (const std::optional<point> better = scan_one(fp, uk, uj, dir, false, pts)) return better;
            }
            std::sort(pts.begin(), pts.end(), by_value);
        }
        // One point for each value: the lowest (the profile is a minimum).
        std::vector<scanned> unique;
        for (const scanned& x : pts) {
            if (!unique.empty() && unique.back().uk == x.uk) {
                if (x.delta < unique.back().delta || std::isnan(unique.back().delta)) unique.back() = x;
            } else {
                unique.push_back(x);
            }
        }
        pts = std::move(unique);
        const std::size_t n = pts.size();
        // Where the profile crosses the threshold between an inside point a
        // and an outside point b: TOMS 748 on the re-optimised objective,
        // the bound taken on the outside of the last bracket.
        const auto crossing = [&](fit_problem& f, const scanned& a, const scanned& b) {
            const auto g = [&](double x) {
                const inner_fit fit = best_other(f, k, x, {a.uj, b.uj});
                // Where it cannot be solved, counted inside: the interval
                // errs on the wide side.
                return fit.ok ? fit.objective - s0 - threshold : -1.0;
            };
            std::uintmax_t iterations = 30;
            const bool rising = a.uk < b.uk;
            const scanned& l = rising ? a : b;
            const scanned& r = rising ? b : a;
            const auto bracket = boost::math::tools::toms748_solve(
                g, l.uk, r.uk, l.delta - threshold, r.delta - threshold,
                [](double x, double y) { return std::abs(x - y) < 2e-4; }, iterations);
            return rising ? bracket.second : bracket.first;
        };
        // The pieces: runs of points not outside the threshold (a point the
        // reactor could not solve counted in), each bounded by the crossings
        // beside it, open where it reaches the edge. Pieces of unsolved
        // points alone count only beside the best fit's.
        struct piece {
            std::size_t first, last;
            bool has_best;
        };
        std::vector<piece> pieces;
        for (std::size_t i = 0; i < n;) {
            if (side_of(pts[i]) == side::out) {
                ++i;
                continue;
            }
            std::size_t last = i;
            bool any_in = false, has_best = false;
            for (; last < n && side_of(pts[last]) != side::out; ++last) {
                any_in = any_in || side_of(pts[last]) == side::in;
                has_best = has_best || pts[last].uk == best[k];
            }
            --last;
            if (any_in) pieces.push_back({i, last, has_best});
            i = last + 1;
        }
        // The crossings the pieces need (inside point, outside point), each
        // a piece of work of its own.
        std::vector<std::array<std::size_t, 2>> needed;
        for (const piece& pc : pieces) {
            if (pc.first > 0 && side_of(pts[pc.first]) != side::unknown) needed.push_back({pc.first, pc.first - 1});
            if (pc.last + 1 < n && side_of(pts[pc.last]) != side::unknown) needed.push_back({pc.last, pc.last + 1});
        }
        std::vector<double> crossed(needed.size(), NAN);
        run_pieces(
            m, split, needed.size(),
            [&](std::size_t c, model& own) {
                const std::unique_ptr<fit_problem> f = fp.on(own);
                return crossing_answer_bytes({crossing(*f, pts[needed[c][0]], pts[needed[c][1]]), counts_of(f->values())});
            },
            [&](std::size_t c, const std::string& bytes) {
                piece_counts counts;
                crossed[c] = read_crossing_answer(bytes, counts);
                add_counts(counts, fp.values());
            });
        const auto crossing_at = [&](std::size_t in, std::size_t out) {
            for (std::size_t c = 0; c < needed.size(); ++c) {
                if (needed[c][0] == in && needed[c][1] == out) return crossed[c];
            }
            return static_cast<double>(NAN);
        };
        profile_interval& pr = p.profile;
        pr.computed = true;
        double u_lower = NAN, u_upper = NAN;  // the hull; NaN: open on that side
        bool first_piece = true;
        for (const piece& pc : pieces) {
            const std::size_t i = pc.first, last = pc.last;
            const bool unsolved_lo = side_of(pts[i]) == side::unknown;
            const bool unsolved_hi = side_of(pts[last]) == side::unknown;
            const double lo = i == 0 ? NAN : unsolved_lo ? pts[i - 1].uk : crossing_at(i, i - 1);
            const double hi = last + 1 == n ? NAN : unsolved_hi ? pts[last + 1].uk : crossing_at(last, last + 1);
            if (pc.has_best) {
                pr.unsolved_lower = unsolved_lo;
                pr.unsolved_upper = unsolved_hi;
            }
            if (first_piece) {
                u_lower = lo;
                u_upper = hi;
            } else {
                pr.disjoint = true;
                u_lower = std::min(u_lower, lo);
                u_upper = std::isnan(hi) ? NAN : std::max(u_upper, hi);
            }
            first_piece = false;
        }
        // An end at the edge of the box is open.
        if (u_lower > fp.u_lo() + 1e-9) pr.lower = factor_at(u_lower);
        if (u_upper < fp.u_hi() - 1e-9) pr.upper = factor_at(u_upper);
        for (const scanned& x : pts) pr.points.push_back({factor_at(x.uk), factor_at(x.uj), x.delta});
    }
    return std::nullopt;
}

}  // namespace workbench::detail
