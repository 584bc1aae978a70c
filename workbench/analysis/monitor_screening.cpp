// The history screened before anything is fitted: frozen sensors and spikes
// found and left out, each finding counted with its time span. Passes over
// the rows, each holding a few values a column: one for the frozen runs,
// up to four for the noise (an exact median), one for the spikes.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "analysis/monitor.h"
#include "analysis/monitor_select.h"

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

void extend(std::optional<time_span>& s, std::int64_t t) {
    if (!s) s = time_span{t, t, 0};
    s->start = std::min(s->start, t);
    s->end = std::max(s->end, t);
    ++s->rows;
}

// A run of one value in a meter's column.
struct run {
    double value = NAN;
    std::size_t from = 0, to = 0, count = 0;  // its first and last row, its values
    std::int64_t start = 0, end = 0;
};

// Frozen: a meter (not a lab column) that repeats one value, exactly, for
// longer than the threshold.
void close_run(const run& r, column_screening& s, const monitor_options& o) {
    if (r.count >= 3 && r.end - r.start > o.frozen_ms) {
        s.stagnant.push_back({r.start, r.end, r.count});
        s.stagnant_rows += r.count;
        s.frozen_rows.emplace_back(r.from, r.to);
    }
}

// A spike among the 11 values of a column's neighbourhood (`near` all of
// them in order, `at` its place there): farther from the median of the
// others than spike_sigmas robust standard deviations (the larger of their
// MAD and the column's noise, so that neither a quiet stretch nor a step
// makes one).
bool is_spike(const std::array<double, 11>& near, std::size_t at, double noise, const monitor_options& o,
              std::vector<double>& others, std::vector<double>& dev) {
    // The median of the others lies between the least and the greatest of
    // them, and the scale is at least the noise: a value within spike_sigmas
    // noises of both is no spike, the medians unneeded (the same answer, as
    // the rounding of each step keeps that order).
    double least = INFINITY, greatest = -INFINITY;
    for (std::size_t k = 0; k < near.size(); ++k) {
        if (k == at) continue;
        least = std::min(least, near[k]);
        greatest = std::max(greatest, near[k]);
    }
    const double reach = o.spike_sigmas * noise;
    if (std::abs(near[at] - least) <= reach && std::abs(near[at] - greatest) <= reach) return false;
    others.clear();
    for (std::size_t k = 0; k < near.size(); ++k) {
        if (k != at) others.push_back(near[k]);
    }
    const double level = median_of(others);
    dev.clear();
    for (const double x : others) dev.push_back(std::abs(x - level));
    const double scale = std::max(mad_scale * median_of(dev), noise);
    return scale > 0.0 && std::abs(near[at] - level) > o.spike_sigmas * scale;
}

}  // namespace

std::vector<column_screening> screen_history(const history& h, const monitor_options& o) {
    const std::size_t n = h.columns.size();
    std::vector<column_screening> out(n);
    for (std::size_t ci = 0; ci < n; ++ci) {
        const history_column& c = h.columns[ci];
        column_screening& s = out[ci];
        s.column = c.name;
        s.lab = c.kind != column_kind::setting;
        s.missing = c.missing;
        s.values = h.rows() - c.missing;
        s.out_of_range = c.out_of_range;
        if (c.out_of_range > 0) s.out_of_range_span = time_span{c.out_of_range_first, c.out_of_range_last, c.out_of_range};
    }
    // The frozen runs.
    {
        std::vector<run> runs(n);
        history_rows rows(h);
        while (rows.next()) {
            for (std::size_t ci = 0; ci < n; ++ci) {
                if (h.columns[ci].kind != column_kind::setting) continue;
                const double v = rows.value(ci);
                if (!std::isfinite(v)) continue;
                run& r = runs[ci];
                if (r.count > 0 && v == r.value) {
                    r.to = rows.row();
                    r.end = rows.time();
                    ++r.count;
                    continue;
                }
                close_run(r, out[ci], o);
                r = {v, rows.row(), rows.row(), 1, rows.time(), rows.time()};
            }
        }
        for (std::size_t ci = 0; ci < n; ++ci) close_run(runs[ci], out[ci], o);
    }
    // A column's values left after the frozen runs, in order, to `take`
    // (column, row, value).
    const auto pass = [&](const auto& take) {
        std::vector<std::size_t> next_run(n, 0);
        history_rows rows(h);
        while (rows.next()) {
            for (std::size_t ci = 0; ci < n; ++ci) {
                const double v = rows.value(ci);
                if (!std::isfinite(v)) continue;
                const auto& frozen = out[ci].frozen_rows;
                std::size_t& f = next_run[ci];
                while (f < frozen.size() && frozen[f].second < rows.row()) ++f;
                if (f < frozen.size() && frozen[f].first <= rows.row()) continue;
                take(ci, rows, v);
            }
        }
    };
    // The short-term noise of each column's values: from the median absolute
    // difference of successive ones (a slow change of level barely moves it).
    // The median of an even count: the mean of the middle two.
    {
        std::vector<std::array<order_statistic, 2>> middle(n);
        bool any = false;
        for (std::size_t ci = 0; ci < n; ++ci) {
            const std::size_t present = out[ci].values - out[ci].out_of_range - out[ci].stagnant_rows;
            if (present < 2) continue;
            const std::size_t d = present - 1;
            middle[ci] = {order_statistic(d / 2), order_statistic(d % 2 == 1 ? d / 2 : d / 2 - 1)};
            any = true;
        }
        std::vector<double> last(n, NAN);
        while (any) {
            std::fill(last.begin(), last.end(), NAN);
            pass([&](std::size_t ci, const history_rows&, double v) {
                if (!std::isnan(last[ci]) && !middle[ci][0].done()) {
                    const auto key = std::bit_cast<std::uint64_t>(std::abs(v - last[ci]));
                    middle[ci][0].add(key);
                    middle[ci][1].add(key);
                }
                last[ci] = v;
            });
            any = false;
            for (std::size_t ci = 0; ci < n; ++ci) {
                if (out[ci].values - out[ci].out_of_range - out[ci].stagnant_rows < 2 || middle[ci][0].done()) continue;
                middle[ci][0].end_pass();
                middle[ci][1].end_pass();
                any = any || !middle[ci][0].done();
            }
        }
        for (std::size_t ci = 0; ci < n; ++ci) {
            if (!middle[ci][0].done()) continue;
            const double hi = std::bit_cast<double>(middle[ci][0].value()), lo = std::bit_cast<double>(middle[ci][1].value());
            const std::size_t d = out[ci].values - out[ci].out_of_range - out[ci].stagnant_rows - 1;
            out[ci].noise = mad_scale * (d % 2 == 1 ? hi : 0.5 * (hi + lo)) / std::sqrt(2.0);
        }
    }
    // Spikes: far from the median of the 10 neighbours (5 on each side, or
    // the first or last 10), each decided once the values it needs are read:
    // the last 11 held.
    {
        struct ring {
            std::array<double, 11> value{};
            std::array<std::size_t, 11> row{};
            std::array<std::int64_t, 11> time{};
            std::size_t seen = 0;
        };
        std::vector<ring> near(n);
        std::vector<double> others, dev;
        std::array<double, 11> in_order{};
        // Decides the places from .. to (0-based among the column's values)
        // on the last 11 read.
        const auto decide = [&](std::size_t ci, std::size_t from, std::size_t to) {
            ring& r = near[ci];
            const std::size_t first = r.seen - 11;
            for (std::size_t k = 0; k < 11; ++k) in_order[k] = r.value[(first + k) % 11];
            for (std::size_t p = from; p <= to; ++p) {
                if (!is_spike(in_order, p - first, out[ci].noise, o, others, dev)) continue;
                const std::size_t at = p % 11;
                out[ci].spike_rows.push_back(r.row[at]);
                extend(out[ci].spike_span, r.time[at]);
            }
        };
        pass([&](std::size_t ci, const history_rows& rows, double v) {
            ring& r = near[ci];
            const std::size_t at = r.seen % 11;
            r.value[at] = v;
            r.row[at] = rows.row();
            r.time[at] = rows.time();
            ++r.seen;
            if (r.seen == 11) {
                decide(ci, 0, 5);
            } else if (r.seen > 11) {
                decide(ci, r.seen - 6, r.seen - 6);
            }
        });
        for (std::size_t ci = 0; ci < n; ++ci) {
            if (near[ci].seen >= 11) decide(ci, near[ci].seen - 5, near[ci].seen - 1);
            out[ci].spikes = out[ci].spike_rows.size();
        }
    }
    return out;
}

}  // namespace workbench
