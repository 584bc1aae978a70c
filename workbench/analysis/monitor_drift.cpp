// Where a series of ln a2 changed: binary segmentation by the likelihood
// ratio of two weighted means, each split tested by permutation.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "analysis/monitor.h"

namespace workbench {
namespace {

struct scan_result {
    std::size_t at = 0;   // the first index of the second part
    double statistic = -1.0;
};

// The largest likelihood-ratio statistic of one change in x[a, b) with
// weights w (1/se^2), each part at least `min` long: (m1 - m2)^2 / (1/W1 + 1/W2).
scan_result scan(const std::vector<double>& x, const std::vector<double>& w, std::size_t a, std::size_t b, std::size_t min) {
    scan_result best;
    double wt = 0.0, wxt = 0.0;
    for (std::size_t k = a; k < b; ++k) {
        wt += w[k];
        wxt += w[k] * x[k];
    }
    double w1 = 0.0, wx1 = 0.0;
    for (std::size_t k = a; k + 1 < b; ++k) {
        w1 += w[k];
        wx1 += w[k] * x[k];
        const std::size_t at = k + 1;
        if (at - a < min || b - at < min) continue;
        const double w2 = wt - w1, d = wx1 / w1 - (wxt - wx1) / w2;
        const double stat = d * d / (1.0 / w1 + 1.0 / w2);
        if (stat > best.statistic) best = {at, stat};
    }
    return best;
}

void split(const std::vector<double>& x, const std::vector<double>& w, std::size_t a, std::size_t b,
           const monitor_options& o, std::vector<change_point>& out) {
    const auto min = static_cast<std::size_t>(std::max(1, o.min_segment));
    if (b - a < 2 * min) return;
    const scan_result found = scan(x, w, a, b, min);
    if (found.statistic < 0.0) return;
    // The permutation test: the same scan over the segment's values (each
    // with its weight) in random orders; deterministic for a seed.
    std::mt19937_64 rng(o.seed * 1000003u + a * 7919u + b);
    std::vector<double> px(x.begin() + static_cast<std::ptrdiff_t>(a), x.begin() + static_cast<std::ptrdiff_t>(b));
    std::vector<double> pw(w.begin() + static_cast<std::ptrdiff_t>(a), w.begin() + static_cast<std::ptrdiff_t>(b));
    std::vector<std::size_t> order(b - a);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<double> sx(b - a), sw(b - a);
    int as_large = 0;
    for (int k = 0; k < o.permutations; ++k) {
        std::shuffle(order.begin(), order.end(), rng);
        for (std::size_t i = 0; i < order.size(); ++i) {
            sx[i] = px[order[i]];
            sw[i] = pw[order[i]];
        }
        if (scan(sx, sw, 0, sx.size(), min).statistic >= found.statistic) ++as_large;
    }
    const double p = (1.0 + as_large) / (1.0 + o.permutations);
    if (!(p < o.drift_alpha)) return;
    // The parts, each without the value beside the change (one of the two
    // may straddle it, and would look like a change of its own).
    split(x, w, a, found.at - 1, o, out);
    out.push_back({found.at, p});
    split(x, w, found.at + 1, b, o, out);
}

}  // namespace

std::vector<change_point> change_points(const std::vector<double>& x, const std::vector<double>& se,
                                        const monitor_options& o, double& dispersion) {
    std::vector<double> w(x.size());
    for (std::size_t k = 0; k < x.size(); ++k) w[k] = 1.0 / (se[k] * se[k]);
    std::vector<change_point> out;
    split(x, w, 0, x.size(), o, out);
    // The scatter about the segments' means, relative to the stated errors,
    // without the values beside each change.
    double chi = 0.0;
    std::size_t a = 0, n = 0;
    for (std::size_t s = 0; s <= out.size(); ++s) {
        const std::size_t b = s < out.size() ? out[s].at - 1 : x.size();
        double sw = 0.0, swx = 0.0;
        for (std::size_t k = a; k < b; ++k) {
            sw += w[k];
            swx += w[k] * x[k];
        }
        for (std::size_t k = a; k < b; ++k) chi += w[k] * (x[k] - swx / sw) * (x[k] - swx / sw);
        n += b > a ? b - a - 1 : 0;
        if (s < out.size()) a = out[s].at + 1;
    }
    dispersion = n > 0 ? std::max(1.0, chi / static_cast<double>(n)) : 1.0;
    return out;
}

std::vector<drift> find_drifts(const std::vector<double>& x, const std::vector<double>& se, const monitor_options& o,
                               double& dispersion) {
    const std::vector<change_point> cps = change_points(x, se, o, dispersion);
    std::vector<drift> out;
    for (std::size_t c = 0; c < cps.size(); ++c) {
        const std::size_t from = c == 0 ? 0 : cps[c - 1].at, at = cps[c].at;
        const std::size_t to = c + 1 < cps.size() ? cps[c + 1].at : x.size();
        // The weighted means of the segments beside the change, without the
        // value on each side of it (one of them may straddle the change),
        // where a segment keeps one at least.
        const auto mean = [&](std::size_t a, std::size_t b, double& weight) {
            double sw = 0.0, swx = 0.0;
            for (std::size_t k = a; k < b; ++k) {
                sw += 1.0 / (se[k] * se[k]);
                swx += x[k] / (se[k] * se[k]);
            }
            weight = sw;
            return swx / sw;
        };
        double w1 = 0.0, w2 = 0.0;
        const double before = mean(from, at - from > 1 ? at - 1 : at, w1);
        const double after = mean(to - at > 1 ? at + 1 : at, to, w2);
        const double s = std::sqrt(dispersion * (1.0 / w1 + 1.0 / w2));
        const double t = t_975(static_cast<int>(x.size() - cps.size() - 1));
        drift d;
        d.window = at;
        d.ratio = std::exp(after - before);
        d.lower = std::exp(after - before - t * s);
        d.upper = std::exp(after - before + t * s);
        d.p_value = cps[c].p_value;
        // A change the segments beside it do not bear out (its ratio's
        // interval holds 1) is no drift.
        if (d.lower <= 1.0 && d.upper >= 1.0) continue;
        out.push_back(d);
    }
    return out;
}

}  // namespace workbench
