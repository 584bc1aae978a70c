#include "analysis/evidence.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <boost/math/distributions/students_t.hpp>
#include <boost/math/special_functions/gamma.hpp>

namespace workbench {
namespace {

constexpr double ms_per_day = 86400000.0;

double normal_cdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

// The states of the chain: S = i w for i = 0 .. m-1, w = 2h / (2m - 1), so
// that leaving the last state's cell upwards is S > h.
constexpr std::size_t chain_states = 120;

// The 97.5 % quantile of Student's t with dof degrees of freedom; the
// normal's for none.
double t975(double dof) {
    if (!(dof >= 1.0)) return 1.959963984540054;
    return boost::math::quantile(boost::math::students_t(dof), 0.975);
}

// Weighted sums of a stretch of estimates.
struct sums {
    double w = 0.0, wx = 0.0, wxx = 0.0;
    std::size_t n = 0;
    void add(const window_estimate& e) {
        const double v = 1.0 / (e.sigma * e.sigma);
        w += v;
        wx += v * e.value;
        wxx += v * e.value * e.value;
        ++n;
    }
    double mean() const { return wx / w; }
    double chi_square() const { return std::max(0.0, wxx - wx * wx / w); }
};

sums sums_of(const std::vector<window_estimate>& x, std::size_t first, std::size_t last) {
    sums s;
    for (std::size_t k = first; k <= last; ++k) s.add(x[k]);
    return s;
}

level_span span_of(const std::vector<window_estimate>& x, std::size_t first, std::size_t last, std::size_t detected,
                   bool reference) {
    const sums s = sums_of(x, first, last);
    level_span p;
    p.first = first;
    p.last = last;
    p.start = x[first].time;
    p.end = x[last].time;
    p.detected = detected;
    p.reference = reference;
    p.level = s.mean();
    // The scatter about the level, where the windows show more of it than
    // their uncertainties say, widens the interval (with t's quantile).
    const double dof = static_cast<double>(s.n) - 1.0;
    const double dispersion = dof >= 1.0 ? s.chi_square() / dof : 1.0;
    const double se = std::sqrt(std::max(1.0, dispersion) / s.w);
    const double q = dispersion > 1.0 ? t975(dof) : t975(0.0);
    p.lower = p.level - q * se;
    p.upper = p.level + q * se;
    return p;
}

// A ramp between two levels: the value L before window t1, L + rate (t - t1)
// from t1 to t2, and L + rate (t2 - t1) after, fitted by weighted least
// squares over windows first..last for every t1 in [t1_from, t1_to] and t2
// in [t2_from, t2_to]; the best, as a trend when it fits (its chi-square
// within what the uncertainties allow, at 1 %) and its rate is not zero.
std::optional<trend> ramp_of(const std::vector<window_estimate>& x, std::size_t first, std::size_t last,
                             std::size_t t1_from, std::size_t t1_to, std::size_t t2_from, std::size_t t2_to) {
    const auto days = [&](std::size_t k) { return static_cast<double>(x[k].time - x[first].time) / ms_per_day; };
    struct fit {
        double chi = INFINITY, level = 0.0, rate = 0.0, rate_variance = 0.0;
        std::size_t t1 = 0, t2 = 0;
    } best;
    for (std::size_t t1 = t1_from; t1 <= t1_to; ++t1) {
        for (std::size_t t2 = std::max(t2_from, t1 + 3); t2 <= t2_to; ++t2) {
            const double a = days(t1), b = days(t2);
            double sw = 0.0, sg = 0.0, sgg = 0.0, sx = 0.0, sgx = 0.0, sxx = 0.0;
            for (std::size_t k = first; k <= last; ++k) {
                const double w = 1.0 / (x[k].sigma * x[k].sigma);
                const double g = std::clamp(days(k), a, b) - a;
                sw += w;
                sg += w * g;
                sgg += w * g * g;
                sx += w * x[k].value;
                sgx += w * g * x[k].value;
                sxx += w * x[k].value * x[k].value;
            }
            const double det = sw * sgg - sg * sg;
            if (!(det > 0.0)) continue;
            const double rate = (sw * sgx - sg * sx) / det;
            const double level = (sx - rate * sg) / sw;
            const double chi = std::max(0.0, sxx - level * sx - rate * sgx);
            if (chi < best.chi) best = {chi, level, rate, sw / det, t1, t2};
        }
    }
    if (!std::isfinite(best.chi)) return std::nullopt;
    const double dof = static_cast<double>(last - first + 1) - 4.0;  // level, rate and the two ends
    if (!(dof >= 1.0) || boost::math::gamma_q(dof / 2.0, best.chi / 2.0) < 0.01) return std::nullopt;
    const double se = std::sqrt(std::max(1.0, best.chi / dof) * best.rate_variance);
    const double q = best.chi / dof > 1.0 ? t975(dof) : t975(0.0);
    if (std::abs(best.rate) <= q * se) return std::nullopt;
    // A step is no trend: the ramp must fit better than the best single
    // step between two levels, by more than chance gives at 1 % (the window
    // at the step left out: it may straddle the change).
    double step = INFINITY;
    for (std::size_t c = first + 1; c < last; ++c) {
        step = std::min(step, sums_of(x, first, c - 1).chi_square() + sums_of(x, c + 1, last).chi_square());
    }
    if (!(step - best.chi > 6.635 * std::max(1.0, best.chi / dof))) return std::nullopt;
    trend d;
    d.first = best.t1;
    d.last = best.t2;
    d.start = x[best.t1].time;
    d.end = x[best.t2].time;
    d.rate_per_day = best.rate;
    d.lower = best.rate - q * se;
    d.upper = best.rate + q * se;
    d.from = best.level;
    d.to = best.level + best.rate * (days(best.t2) - days(best.t1));
    return d;
}

}  // namespace

double cusum_run_length(double r, double h, double mean) {
    const std::size_t m = chain_states;
    const double w = 2.0 * h / (2.0 * static_cast<double>(m) - 1.0);
    // (I - P) L = 1, by Gaussian elimination with partial pivoting.
    std::vector<double> a(m * (m + 1));
    const auto at = [&](std::size_t i, std::size_t j) -> double& { return a[i * (m + 1) + j]; };
    for (std::size_t i = 0; i < m; ++i) {
        const double s = static_cast<double>(i) * w;
        for (std::size_t j = 0; j < m; ++j) {
            const double hi = static_cast<double>(j) * w + 0.5 * w - s + r - mean;
            const double p = j == 0 ? normal_cdf(hi) : normal_cdf(hi) - normal_cdf(hi - w);
            at(i, j) = (i == j ? 1.0 : 0.0) - p;
        }
        at(i, m) = 1.0;
    }
    for (std::size_t c = 0; c < m; ++c) {
        std::size_t pivot = c;
        for (std::size_t i = c + 1; i < m; ++i) {
            if (std::abs(at(i, c)) > std::abs(at(pivot, c))) pivot = i;
        }
        if (pivot != c) {
            for (std::size_t j = c; j <= m; ++j) std::swap(at(c, j), at(pivot, j));
        }
        for (std::size_t i = c + 1; i < m; ++i) {
            const double f = at(i, c) / at(c, c);
            if (f == 0.0) continue;
            for (std::size_t j = c; j <= m; ++j) at(i, j) -= f * at(c, j);
        }
    }
    std::vector<double> l(m);
    for (std::size_t i = m; i-- > 0;) {
        double v = at(i, m);
        for (std::size_t j = i + 1; j < m; ++j) v -= at(i, j) * l[j];
        l[i] = v / at(i, i);
    }
    return l[0];
}

double cusum_limit(double r, double run) {
    if (!(run > 1.0)) throw std::invalid_argument("cusum_limit: the run length must be > 1");
    double lo = 0.01, hi = 1.0;
    while (cusum_run_length(r, hi) < run) {
        lo = hi;
        hi *= 2.0;
        if (hi > 1e3) throw std::invalid_argument("cusum_limit: no limit gives that run length");
    }
    for (int k = 0; k < 60 && hi - lo > 1e-6 * hi; ++k) {
        const double mid = 0.5 * (lo + hi);
        (cusum_run_length(r, mid) < run ? lo : hi) = mid;
    }
    return hi;
}

evidence accumulate(const std::vector<window_estimate>& x, const evidence_options& o) {
    for (const window_estimate& e : x) {
        if (!(e.sigma > 0.0) || !std::isfinite(e.sigma) || !std::isfinite(e.value)) {
            throw std::invalid_argument("accumulate: every estimate needs a finite value and a sigma > 0");
        }
    }
    evidence out;
    const double r = o.shift / 2.0;
    // Two one-sided tests, each false-alarming half as often as both.
    // The limit of the last options asked for, kept: finding it takes some
    // thirty solves of the chain.
    struct limit_of {
        double r, run, h;
    };
    constinit thread_local limit_of last{NAN, NAN, NAN};
    if (!(last.r == r && last.run == o.in_control_run)) last = {r, o.in_control_run, cusum_limit(r, 2.0 * o.in_control_run)};
    out.limit = last.h;
    const double h = out.limit;
    if (x.empty()) return out;

    std::size_t first = 0, detected = 0;
    bool reference = o.reference.has_value();
    sums span;
    double up = 0.0, down = 0.0;
    std::size_t up_zero = 0, down_zero = 0;  // the last window at which each sum was 0, plus 1
    const auto restart = [&](std::size_t from, std::size_t through) {
        span = sums_of(x, from, through);
        up = down = 0.0;
        up_zero = down_zero = through + 1;
    };
    up_zero = down_zero = 0;
    for (std::size_t k = 0; k < x.size(); ++k) {
        if (!reference && span.n == 0) {
            span.add(x[k]);
            up_zero = down_zero = k + 1;
            continue;
        }
        const double level = reference ? *o.reference : span.mean();
        const double level_variance = reference ? 0.0 : 1.0 / span.w;
        const double z = (x[k].value - level) / std::sqrt(x[k].sigma * x[k].sigma + level_variance);
        up = std::max(0.0, up + z - r);
        down = std::max(0.0, down - z - r);
        if (up == 0.0) up_zero = k + 1;
        if (down == 0.0) down_zero = k + 1;
        if (up > h || down > h) {
            // The change is after the last window at which the sum was 0;
            // of those windows, where the split fits best (the most
            // likely change point for a shift from the level).
            const std::size_t earliest = std::max(up > h ? up_zero : down_zero, first);
            std::size_t change = earliest;
            double best = -1.0, sw = 0.0, sd = 0.0;
            for (std::size_t c = k + 1; c-- > earliest;) {
                const double v = 1.0 / (x[c].sigma * x[c].sigma);
                sw += v;
                sd += v * (x[c].value - level);
                if (sd * sd / sw > best) {
                    best = sd * sd / sw;
                    change = c;
                }
            }
            if (change > first) out.spans.push_back(span_of(x, first, change - 1, detected, reference));
            first = change;
            detected = k;
            reference = false;
            restart(change, k);
            continue;
        }
        span.add(x[k]);
    }
    out.spans.push_back(span_of(x, first, x.size() - 1, detected, reference));
    // A change the test declared but the levels on its two sides do not
    // bear out (their difference within its 95 % interval) is none: the
    // spans are joined. (The windows that raised an alarm by chance start a
    // span whose level they bias, and its end raises another.)
    for (bool joined = true; joined;) {
        joined = false;
        for (std::size_t k = 0; k + 1 < out.spans.size(); ++k) {
            const level_span& a = out.spans[k];
            const level_span& b = out.spans[k + 1];
            const double se_a = (a.upper - a.lower) / (2.0 * 1.959963984540054);
            const double se_b = (b.upper - b.lower) / (2.0 * 1.959963984540054);
            if (std::abs(b.level - a.level) <= 1.959963984540054 * std::hypot(se_a, se_b)) {
                out.spans[k] = span_of(x, a.first, b.last, a.detected, a.reference);
                out.spans.erase(out.spans.begin() + static_cast<std::ptrdiff_t>(k) + 1);
                joined = true;
                break;
            }
        }
    }

    // Runs of spans that step the same way: one line, where one fits.
    for (std::size_t a = 0; a + 1 < out.spans.size();) {
        std::size_t b = a + 1;
        const double sign = out.spans[b].level > out.spans[a].level ? 1.0 : -1.0;
        while (b + 1 < out.spans.size() && (out.spans[b + 1].level - out.spans[b].level) * sign > 0.0) ++b;
        // Two or more steps the same way: a ramp, its ends sought in the
        // first and the last two spans of the run.
        if (b - a >= 2) {
            const std::vector<level_span>& p = out.spans;
            if (const auto d = ramp_of(x, p[a].first, p[b].last, p[a].first, p[a + 1].last, p[b - 1].first, p[b].last)) {
                out.trends.push_back(*d);
            }
        }
        a = b;
    }
    return out;
}

}  // namespace workbench
