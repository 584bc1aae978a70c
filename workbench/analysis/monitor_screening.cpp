// The history screened before anything is fitted: frozen sensors and spikes
// found and left out, each finding counted with its time span.
#include <algorithm>
#include <cmath>

#include "analysis/monitor.h"

namespace workbench {
namespace {

// The median of v (reordered).
double median_of(std::vector<double>& v) {
    if (v.empty()) return NAN;
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    if (v.size() % 2 == 1) return *mid;
    return 0.5 * (*mid + *std::max_element(v.begin(), mid));
}

// 1.4826 MAD: the standard deviation of normal data, robustly.
constexpr double mad_scale = 1.4826;

// The short-term noise of a column's present values: from the median
// absolute difference of successive values (a slow change of level barely
// moves it).
double noise_of(const std::vector<double>& v, const std::vector<std::size_t>& present) {
    std::vector<double> d;
    d.reserve(present.size());
    for (std::size_t k = 1; k < present.size(); ++k) d.push_back(std::abs(v[present[k]] - v[present[k - 1]]));
    return mad_scale * median_of(d) / std::sqrt(2.0);
}

void extend(std::optional<time_span>& s, std::int64_t t) {
    if (!s) s = time_span{t, t, 0};
    s->start = std::min(s->start, t);
    s->end = std::max(s->end, t);
    ++s->rows;
}

}  // namespace

std::vector<column_screening> screen_history(history& h, const monitor_options& o) {
    std::vector<column_screening> out;
    constexpr std::size_t half = 5;  // neighbours on each side for a spike's local level
    for (history_column& c : h.columns) {
        column_screening s;
        s.column = c.name;
        s.lab = c.kind != column_kind::setting;
        s.missing = c.missing;
        s.values = h.rows() - c.missing;
        s.out_of_range = c.out_of_range;
        if (c.out_of_range > 0) s.out_of_range_span = time_span{c.out_of_range_first, c.out_of_range_last, c.out_of_range};
        std::vector<double>& v = c.values;
        std::vector<std::size_t> present;
        for (std::size_t k = 0; k < v.size(); ++k) {
            if (std::isfinite(v[k])) present.push_back(k);
        }
        // Frozen: a meter (not a lab column) that repeats one value, exactly,
        // for longer than the threshold.
        if (c.kind == column_kind::setting) {
            for (std::size_t a = 0; a < present.size();) {
                std::size_t b = a + 1;
                while (b < present.size() && v[present[b]] == v[present[a]]) ++b;
                const std::int64_t from = h.time[present[a]], to = h.time[present[b - 1]];
                if (b - a >= 3 && to - from > o.frozen_ms) {
                    s.stagnant.push_back({from, to, b - a});
                    s.stagnant_rows += b - a;
                    for (std::size_t k = a; k < b; ++k) v[present[k]] = NAN;
                }
                a = b;
            }
            if (s.stagnant_rows > 0) {
                present.erase(std::remove_if(present.begin(), present.end(), [&](std::size_t k) { return !std::isfinite(v[k]); }),
                              present.end());
            }
        }
        s.noise = noise_of(v, present);
        // Spikes: far from the median of the neighbours, in robust standard
        // deviations (the larger of the neighbours' MAD and the column's
        // noise, so that neither a quiet stretch nor a step makes one).
        std::vector<std::size_t> spikes;
        std::vector<double> near, dev;
        if (present.size() >= 2 * half + 1) {
            for (std::size_t p = 0; p < present.size(); ++p) {
                const std::size_t from = p < half ? 0 : std::min(p - half, present.size() - 2 * half - 1);
                near.clear();
                for (std::size_t k = from; k < from + 2 * half + 1; ++k) {
                    if (k != p) near.push_back(v[present[k]]);
                }
                const double level = median_of(near);
                dev.clear();
                for (const double x : near) dev.push_back(std::abs(x - level));
                const double scale = std::max(mad_scale * median_of(dev), s.noise);
                if (scale > 0.0 && std::abs(v[present[p]] - level) > o.spike_sigmas * scale) spikes.push_back(present[p]);
            }
        }
        for (const std::size_t k : spikes) {
            extend(s.spike_span, h.time[k]);
            v[k] = NAN;
        }
        s.spikes = spikes.size();
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace workbench
