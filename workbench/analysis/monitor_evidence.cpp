// The monitor's evidence over windows: a2's trends and the meters' bias
// spans (analysis/evidence.h), from the windows already fitted.
#include <algorithm>
#include <cmath>
#include <map>

#include "analysis/evidence.h"
#include "analysis/monitor.h"
#include "base/timestamps.h"

namespace workbench {
namespace {

constexpr double days_per_3_years = 3.0 * 365.25;

// The windows that do not overlap (each from the first on that starts
// where the one before it ended, or later): overlapping ones share rows,
// and their estimates are not independent.
template <class Keep>
std::vector<std::size_t> apart(const std::vector<monitor_window>& windows, Keep keep) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (!out.empty() && windows[i].start < windows[out.back()].end) continue;
        if (keep(windows[i])) out.push_back(i);
    }
    return out;
}

std::int64_t middle(const monitor_window& w) { return w.start + (w.end - w.start) / 2; }

// The test over x, made again with x's uncertainties scaled by the scatter
// about the levels it found, where the windows scatter more than they say.
evidence at_own_scatter(std::vector<window_estimate>& x, const evidence_options& o) {
    evidence e = accumulate(x, o);
    double chi = 0.0;
    for (const level_span& s : e.spans) {
        for (std::size_t k = s.first; k <= s.last; ++k) chi += std::pow((x[k].value - s.level) / x[k].sigma, 2);
    }
    const double dof = static_cast<double>(x.size()) - static_cast<double>(e.spans.size());
    const double own = dof > 0.0 ? std::sqrt(chi / dof) : 1.0;
    if (own > 1.0) {
        for (window_estimate& v : x) v.sigma *= own;
        e = accumulate(x, o);
    }
    return e;
}

}  // namespace

void accumulate_evidence(monitor_result& m, std::int64_t window_ms) {
    m.trends.clear();
    m.meters.clear();
    evidence_options o;
    o.in_control_run = std::max(2.0, days_per_3_years * static_cast<double>(ms_per_day) / static_cast<double>(window_ms));
    const std::vector<monitor_window>& w = m.windows;

    // a2: ln a2 with its standard error, scaled by the scatter the drift
    // test found about its segments.
    const double scale = std::isfinite(m.dispersion) ? std::max(1.0, m.dispersion) : 1.0;
    const std::vector<std::size_t> fitted =
        apart(w, [](const monitor_window& x) { return x.fitted && x.a2 > 0.0 && std::isfinite(x.se_ln_a2) && x.se_ln_a2 > 0.0; });
    std::vector<window_estimate> a2;
    for (const std::size_t i : fitted) a2.push_back({middle(w[i]), std::log(w[i].a2), scale * w[i].se_ln_a2});
    m.steps.clear();
    if (a2.size() >= 4) {
        const evidence e = accumulate(a2, o);
        // Steps: the same test, its errors scaled by the scatter about the
        // levels it finds itself (the drift test's scatter is about its own
        // segments, which a change not yet confirmed does not split).
        std::vector<window_estimate> raw;
        for (const std::size_t i : fitted) raw.push_back({middle(w[i]), std::log(w[i].a2), w[i].se_ln_a2});
        const evidence levels = at_own_scatter(raw, o);
        // Each new level not within a trend: a step, a2 after over before.
        for (std::size_t k = 1; k < levels.spans.size(); ++k) {
            const level_span& before = levels.spans[k - 1];
            const level_span& after = levels.spans[k];
            const bool in_trend = std::any_of(e.trends.begin(), e.trends.end(), [&](const trend& t) {
                return after.first >= t.first && after.first <= t.last;
            });
            if (in_trend) continue;
            const double z = 1.959963984540054;
            const double se = std::hypot((before.upper - before.lower) / (2.0 * z), (after.upper - after.lower) / (2.0 * z));
            const double d = after.level - before.level;
            m.steps.push_back({w[fitted[after.first]].start, w[fitted[after.detected]].end, std::exp(d), std::exp(d - z * se),
                               std::exp(d + z * se)});
        }
        for (const trend& t : e.trends) {
            a2_trend x;
            x.start = w[fitted[t.first]].start;
            x.end = w[fitted[t.last]].end;
            x.windows = t.last - t.first + 1;
            x.from = std::exp(t.from);
            x.to = std::exp(t.to);
            x.rate = std::expm1(t.rate_per_day);
            x.lower = std::expm1(t.lower);
            x.upper = std::expm1(t.upper);
            m.trends.push_back(x);
        }
    }

    // Each measurement of the balance, against a reading that is right.
    o.reference = 0.0;
    const std::vector<std::size_t> tested = apart(w, [](const monitor_window& x) { return x.balance.tested; });
    std::map<std::string, std::pair<std::vector<window_estimate>, std::vector<std::size_t>>> series;
    for (const std::size_t i : tested) {
        const balance_test& b = w[i].balance;
        for (std::size_t k = 0; k < b.names.size() && k < b.bias.size(); ++k) {
            if (!std::isfinite(b.bias[k]) || !(b.bias_sigma[k] > 0.0) || !std::isfinite(b.bias_sigma[k])) continue;
            auto& [x, at] = series[b.names[k]];
            x.push_back({middle(w[i]), b.bias[k], b.bias_sigma[k]});
            at.push_back(i);
        }
    }
    struct candidate {
        bias_span span;
        double strength = 0.0;  // |bias| over its standard error
    };
    std::vector<candidate> found;
    for (auto& [name, s] : series) {
        auto& [x, at] = s;
        if (x.size() < 2) continue;
        // At its own scatter, as a2's steps: a measurement whose balance is
        // looser than stated is not named for its scatter.
        for (const level_span& p : at_own_scatter(x, o).spans) {
            if (p.reference || (p.lower <= 0.0 && p.upper >= 0.0)) continue;
            bias_span b;
            b.column = name;
            b.start = w[at[p.first]].start;
            b.end = w[at[p.last]].end;
            b.found = w[at[p.detected]].end;
            b.windows = p.last - p.first + 1;
            b.bias = p.level;
            b.lower = p.lower;
            b.upper = p.upper;
            found.push_back({b, std::abs(p.level) / ((p.upper - p.lower) / (2.0 * 1.959963984540054))});
        }
    }
    // One error shows in every measurement its balances hold: of spans that
    // overlap, the strongest is named.
    std::sort(found.begin(), found.end(), [](const candidate& a, const candidate& b) { return a.strength > b.strength; });
    for (const candidate& c : found) {
        const bool overlaps = std::any_of(m.meters.begin(), m.meters.end(), [&](const bias_span& b) {
            return c.span.start < b.end && b.start < c.span.end;
        });
        if (!overlaps) m.meters.push_back(c.span);
    }
    std::sort(m.meters.begin(), m.meters.end(), [](const bias_span& a, const bias_span& b) {
        return a.start != b.start ? a.start < b.start : a.column < b.column;
    });
}

}  // namespace workbench
