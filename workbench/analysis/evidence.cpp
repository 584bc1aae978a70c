#include "analysis/evidence.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <boost/math/distributions/students_t.hpp>

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

// Prefix sums over windows first..last (times in days from the first,
// values less their weighted mean, so that the sums do not cancel), from
// which any stretch's weighted sums come in constant time.
class prefix_sums {
public:
    prefix_sums(const std::vector<window_estimate>& x, std::size_t first, std::size_t last) : first_(first) {
        const sums all = sums_of(x, first, last);
        const double mean = all.mean();
        const std::size_t n = last - first + 1;
        t_.resize(n);
        p_.assign(n + 1, {});
        for (std::size_t k = 0; k < n; ++k) {
            const window_estimate& e = x[first + k];
            const double w = 1.0 / (e.sigma * e.sigma), t = static_cast<double>(e.time - x[first].time) / ms_per_day;
            const double v = e.value - mean;
            t_[k] = t;
            p_[k + 1] = {p_[k].w + w, p_[k].wt + w * t, p_[k].wtt + w * t * t, p_[k].wx + w * v, p_[k].wtx + w * t * v,
                         p_[k].wxx + w * v * v};
        }
    }
    struct totals {
        double w = 0.0, wt = 0.0, wtt = 0.0, wx = 0.0, wtx = 0.0, wxx = 0.0;
    };
    // The sums over windows i..j (indices into the estimates), inclusive; none when j < i.
    totals over(std::size_t i, std::size_t j) const {
        if (j + 1 <= i) return {};
        const totals& a = p_[i - first_];
        const totals& b = p_[j - first_ + 1];
        return {b.w - a.w, b.wt - a.wt, b.wtt - a.wtt, b.wx - a.wx, b.wtx - a.wtx, b.wxx - a.wxx};
    }
    double days(std::size_t k) const { return t_[k - first_]; }
    // The chi-square of windows i..j about their weighted mean.
    double level_chi(std::size_t i, std::size_t j) const {
        const totals s = over(i, j);
        return s.w > 0.0 ? std::max(0.0, s.wxx - s.wx * s.wx / s.w) : 0.0;
    }

private:
    std::size_t first_;
    std::vector<double> t_;
    std::vector<totals> p_;
};

// A ramp between two levels: the value L before window t1, L + rate (t - t1)
// from t1 to t2, and L + rate (t2 - t1) after, fitted by weighted least
// squares over windows first..last for t1 in [t1_from, t1_to] and t2 in
// [t2_from, t2_to] (over long ranges first on a grid of at most some 300
// points each, then window by window about the best); the best, as a trend
// when it describes the windows better than the staircase does and its rate
// is not zero. steps, steps_chi: the staircase's spans over the same windows
// and its chi-square about their levels.
std::optional<trend> ramp_of(const std::vector<window_estimate>& x, std::size_t first, std::size_t last,
                             std::size_t t1_from, std::size_t t1_to, std::size_t t2_from, std::size_t t2_to,
                             std::size_t steps, double steps_chi) {
    const prefix_sums p(x, first, last);
    const prefix_sums::totals all = p.over(first, last);
    struct fit {
        double chi = INFINITY, level = 0.0, rate = 0.0, rate_variance = 0.0;
        std::size_t t1 = 0, t2 = 0;
    } best;
    const auto try_ends = [&](std::size_t t1, std::size_t t2) {
        const double a = p.days(t1), d = p.days(t2) - a;
        const prefix_sums::totals m = p.over(t1, t2), after = p.over(t2 + 1, last);
        // g = 0 before t1, t - a on the ramp, d after it.
        const double sg = (m.wt - a * m.w) + d * after.w;
        const double sgg = (m.wtt - 2.0 * a * m.wt + a * a * m.w) + d * d * after.w;
        const double sgx = (m.wtx - a * m.wx) + d * after.wx;
        const double det = all.w * sgg - sg * sg;
        if (!(det > 0.0)) return;
        const double rate = (all.w * sgx - sg * all.wx) / det;
        const double level = (all.wx - rate * sg) / all.w;
        const double chi = std::max(0.0, all.wxx - level * all.wx - rate * sgx);
        if (chi < best.chi) best = {chi, level, rate, all.w / det, t1, t2};
    };
    const auto grid = [](std::size_t from, std::size_t to) {
        return std::max<std::size_t>(1, (to - from) / 300 + 1);
    };
    const std::size_t s1 = grid(t1_from, t1_to), s2 = grid(t2_from, t2_to);
    for (std::size_t t1 = t1_from; t1 <= t1_to; t1 += s1) {
        for (std::size_t t2 = std::max(t2_from, t1 + 3); t2 <= t2_to; t2 += s2) try_ends(t1, t2);
    }
    if (!std::isfinite(best.chi)) return std::nullopt;
    if (s1 > 1 || s2 > 1) {
        const std::size_t b1 = best.t1, b2 = best.t2;
        for (std::size_t t1 = b1 > t1_from + s1 ? b1 - s1 : t1_from; t1 <= std::min(t1_to, b1 + s1); ++t1) {
            const std::size_t lo = std::max(t2_from, t1 + 3);
            for (std::size_t t2 = std::max(lo, b2 > s2 ? b2 - s2 : 0); t2 <= std::min(t2_to, b2 + s2); ++t2) try_ends(t1, t2);
        }
    }
    const double dof = static_cast<double>(last - first + 1) - 4.0;  // level, rate and the two ends
    if (!(dof >= 1.0)) return std::nullopt;
    // The ramp must describe the windows better than the staircase of spans
    // does, by the Bayesian information criterion: chi-square plus the
    // parameters times ln n (a ramp has 4: its level, rate and two ends; a
    // staircase of k spans 2k - 1: its levels and where each step is), the
    // chi-squares in units of the staircase's scatter where the windows
    // scatter more than their uncertainties say.
    const double n = static_cast<double>(last - first + 1);
    const double steps_params = 2.0 * static_cast<double>(steps) - 1.0;
    const double scatter = n > steps_params ? std::max(1.0, steps_chi / (n - steps_params)) : 1.0;
    if (best.chi / scatter + 4.0 * std::log(n) > steps_chi / scatter + steps_params * std::log(n)) return std::nullopt;
    const double se = std::sqrt(std::max(1.0, best.chi / dof) * best.rate_variance);
    const double q = best.chi / dof > 1.0 ? t975(dof) : t975(0.0);
    if (std::abs(best.rate) <= q * se) return std::nullopt;
    // A step is no trend: the ramp must fit better than the best single
    // step between two levels, by more than chance gives at 1 % (the window
    // at the step left out: it may straddle the change).
    double step = INFINITY;
    for (std::size_t c = first + 1; c < last; ++c) step = std::min(step, p.level_chi(first, c - 1) + p.level_chi(c + 1, last));
    if (!(step - best.chi > 6.635 * std::max(1.0, best.chi / dof))) return std::nullopt;
    trend d;
    d.first = best.t1;
    d.last = best.t2;
    d.start = x[best.t1].time;
    d.end = x[best.t2].time;
    d.rate_per_day = best.rate;
    d.lower = best.rate - q * se;
    d.upper = best.rate + q * se;
    // The level is of the values less their mean: add it back.
    const double mean = sums_of(x, first, last).mean();
    d.from = mean + best.level;
    d.to = mean + best.level + best.rate * (p.days(best.t2) - p.days(best.t1));
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

    // With a reference, a span after a change is judged against it as the
    // first span was, by the test at its limit: where the reference would
    // have raised no alarm over the span's windows, the level is back at the
    // reference (an interval on many windows would tell an offset far below
    // the shift the test is set for, and name it at 5 %), and it joins a
    // reference span beside it.
    if (o.reference) {
        for (level_span& s : out.spans) {
            if (s.reference) continue;
            double up_ref = 0.0, down_ref = 0.0;
            bool alarm = false;
            for (std::size_t k = s.first; k <= s.last && !alarm; ++k) {
                const double z = (x[k].value - *o.reference) / x[k].sigma;
                up_ref = std::max(0.0, up_ref + z - r);
                down_ref = std::max(0.0, down_ref - z - r);
                alarm = up_ref > h || down_ref > h;
            }
            if (!alarm) s.reference = true;
        }
        for (std::size_t k = 0; k + 1 < out.spans.size();) {
            const level_span& a = out.spans[k];
            const level_span& b = out.spans[k + 1];
            if (a.reference && b.reference) {
                out.spans[k] = span_of(x, a.first, b.last, a.detected, true);
                out.spans.erase(out.spans.begin() + static_cast<std::ptrdiff_t>(k) + 1);
            } else {
                ++k;
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
            double steps_chi = 0.0;
            for (std::size_t k = a; k <= b; ++k) steps_chi += sums_of(x, p[k].first, p[k].last).chi_square();
            if (const auto d = ramp_of(x, p[a].first, p[b].last, p[a].first, p[a + 1].last, p[b - 1].first, p[b].last,
                                       b - a + 1, steps_chi)) {
                out.trends.push_back(*d);
            }
        }
        a = b;
    }
    return out;
}

}  // namespace workbench
