// The windows of a history: the rows of each, whether the settings held
// still, their averages and the lab's, and the atom balance of the feed
// meters against the lab analysis, reconciled where it fails.
#include <algorithm>
#include <cmath>
#include <deque>

#include <Eigen/Dense>
#include <boost/math/distributions/chi_squared.hpp>

#include "analysis/monitor.h"
#include "base/text.h"
#include "model/properties.h"

namespace workbench {
namespace {

bool is_temperature(setting s) { return s == setting::inlet_temperature_C || s == setting::outlet_temperature_C; }

// The settings a feed meter (or a ratio of two) gives.
bool is_feed(setting s) {
    return s == setting::feed_NH3 || s == setting::feed_CO2 || s == setting::feed_H2O || s == setting::feed_CARB ||
           s == setting::feed_UREA || s == setting::nh3_co2 || s == setting::h2o_co2;
}

// The smallest change of a setting's level that counts as a move: 0.5 %
// of its level, 0.5 C for a temperature.
double practical_change(setting s, double level) { return is_temperature(s) ? 0.5 : 0.005 * std::abs(level); }

// ---- The atom balance ----

// What the balance measures, in one vector: the feed meters' readings, then
// the lab's mass fractions.
struct balance_data {
    std::vector<std::string> names;
    std::vector<double> y, sigma;
    std::vector<setting> meter;          // for the first meters entries
    std::vector<quantity> lab;           // for the rest
    std::size_t meters() const { return meter.size(); }
};

constexpr std::array<quantity, 4> lab_fractions = {quantity::w_nh3, quantity::w_co2, quantity::w_urea, quantity::w_h2o};
constexpr std::array<component, 4> lab_components = {NH3, CO2, UREA, H2O};

// The balances at y: N/C and H2O/C of the feed (the meters through the base
// case, as a runs file's row sets it) minus those of the lab's analysis
// (carbamate counted as 2 NH3 + CO2, as the analysis is reported; urea as
// the CO2 and 2 NH3 it was made of, less the H2O it gave), and the
// analysis's sum minus 1. Which of them: `which` (N/C, H2O/C, sum).
Eigen::VectorXd balances(const balance_data& d, const Eigen::VectorXd& y, const reactor_case& base,
                         const settings_given& s0, const std::array<bool, 3>& which) {
    settings_given s = s0;
    for (std::size_t i = 0; i < d.meters(); ++i) s[static_cast<std::size_t>(d.meter[i])] = y[static_cast<Eigen::Index>(i)];
    const reactor_case c = with_settings(base, s);
    const flows& f = c.feed_kmol_h;
    const double carbon = f[CO2] + f[CARB] + f[UREA];
    const double nc_feed = (f[NH3] + 2.0 * f[CARB] + 2.0 * f[UREA]) / carbon;
    const double wc_feed = (f[H2O] - f[UREA]) / carbon;
    std::array<double, 4> n{};  // kmol per kg of liquid: NH3, CO2, UREA, H2O
    double sum = 0.0;
    for (std::size_t i = d.meters(); i < d.y.size(); ++i) {
        const std::size_t k = static_cast<std::size_t>(
            std::find(lab_fractions.begin(), lab_fractions.end(), d.lab[i - d.meters()]) - lab_fractions.begin());
        const double w = y[static_cast<Eigen::Index>(i)];
        n[k] = w / molecular_weight[lab_components[k]];
        sum += w;
    }
    const double carbon_lab = n[1] + n[2];
    Eigen::VectorXd g(3);
    Eigen::Index m = 0;
    if (which[0]) g[m++] = nc_feed - (n[0] + 2.0 * n[2]) / carbon_lab;
    if (which[1]) g[m++] = wc_feed - (n[3] - n[2]) / carbon_lab;
    if (which[2]) g[m++] = sum - 1.0;
    return g.head(m);
}

Eigen::MatrixXd jacobian(const balance_data& d, const Eigen::VectorXd& y, const reactor_case& base,
                         const settings_given& s, const std::array<bool, 3>& which, Eigen::Index m) {
    Eigen::MatrixXd a(m, y.size());
    for (Eigen::Index i = 0; i < y.size(); ++i) {
        const double h = 1e-6 * std::max(std::abs(y[i]), d.sigma[static_cast<std::size_t>(i)]);
        Eigen::VectorXd up = y, down = y;
        up[i] += h;
        down[i] -= h;
        a.col(i) = (balances(d, up, base, s, which) - balances(d, down, base, s, which)) / (2.0 * h);
    }
    return a;
}

// Tests the window's balance and reconciles: the least-squares change of
// the measurements within their uncertainties that closes the balances.
// When the test fails, names the measurement most likely in error and
// leaves its reading free in the reconciliation (its error estimated, not
// spread over the others). The meters' reconciled readings replace theirs
// in s; the lab's values stay as measured (the fit weighs them), but one
// named as the suspect is taken out of m.
balance_test test_balance(const reactor_case& base, settings_given& s, observations& m, const monitor_options& o,
                          const history& h) {
    balance_test t;
    balance_data d;
    for (const history_column& c : h.columns) {
        if (c.kind != column_kind::setting) continue;
        const auto which = static_cast<setting>(c.index);
        const auto& v = s[c.index];
        if (!is_feed(which) || !v || *v == 0.0) continue;
        d.names.push_back(setting_column(which));
        d.y.push_back(*v);
        d.sigma.push_back(o.meter_sigma[c.index] * std::abs(*v));
        d.meter.push_back(which);
    }
    std::array<bool, 4> has{};
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& w = m[static_cast<std::size_t>(lab_fractions[k])];
        has[k] = w.has_value();
        if (!w) continue;
        d.names.push_back(info(lab_fractions[k]).column);
        d.y.push_back(w->value);
        d.sigma.push_back(w->sigma);
        d.lab.push_back(lab_fractions[k]);
    }
    // N/C needs NH3, CO2 and urea; H2O/C water, CO2 and urea; the sum all four.
    const std::array<bool, 3> which = {has[0] && has[1] && has[2], has[3] && has[1] && has[2],
                                       has[0] && has[1] && has[2] && has[3]};
    const auto dof = static_cast<Eigen::Index>(std::count(which.begin(), which.end(), true));
    if (dof == 0) {
        t.why_not = "the lab analysis lacks what an atom balance needs (w_CO2 and w_UREA with w_NH3 or w_H2O)";
        return t;
    }
    const auto n = static_cast<Eigen::Index>(d.y.size());
    Eigen::VectorXd y(n), var(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        y[i] = d.y[static_cast<std::size_t>(i)];
        var[i] = d.sigma[static_cast<std::size_t>(i)] * d.sigma[static_cast<std::size_t>(i)];
    }
    const Eigen::VectorXd r = balances(d, y, base, s, which);
    const Eigen::MatrixXd a = jacobian(d, y, base, s, which, dof);
    const Eigen::MatrixXd v = a * var.asDiagonal() * a.transpose();
    const Eigen::LDLT<Eigen::MatrixXd> vf(v);
    if (vf.info() != Eigen::Success || !(vf.vectorD().minCoeff() > 0.0)) {
        t.why_not = "the balance's uncertainty is singular";
        return t;
    }
    t.tested = true;
    t.dof = static_cast<int>(dof);
    const Eigen::VectorXd vr = vf.solve(r);
    t.chi_square = r.dot(vr);
    t.p_value = boost::math::cdf(boost::math::complement(boost::math::chi_squared(static_cast<double>(dof)), t.chi_square));
    t.failed = t.p_value < o.balance_alpha;
    // The measurement test: the standardised adjustment of each measurement.
    const Eigen::VectorXd atvr = a.transpose() * vr;
    const Eigen::MatrixXd atva = a.transpose() * vf.solve(a);
    // Each measurement's error, were it the only one: the adjustment that
    // its reading alone would take to close the balances, with its variance.
    for (Eigen::Index i = 0; i < n; ++i) {
        const bool estimable = atva(i, i) > 0.0 && y[i] != 0.0;
        t.bias.push_back(estimable ? atvr[i] / atva(i, i) / y[i] : NAN);
        t.bias_sigma.push_back(estimable ? 1.0 / std::sqrt(atva(i, i)) / std::abs(y[i]) : NAN);
    }
    Eigen::Index best = -1;
    for (Eigen::Index i = 0; t.failed && i < n; ++i) {
        if (!(atva(i, i) > 0.0)) continue;
        const double z = std::abs(atvr[i]) / std::sqrt(atva(i, i));
        if (best < 0 || z > t.suspect_statistic) {
            best = i;
            t.suspect_statistic = z;
        }
    }
    Eigen::VectorXd free_var = var;
    if (best >= 0) {
        t.suspect = d.names[static_cast<std::size_t>(best)];
        free_var[best] *= 1e8;
    }
    // Reconciled: the balances linearised at the last estimate, a few times.
    Eigen::VectorXd x = y;
    for (int it = 0; it < 5; ++it) {
        const Eigen::MatrixXd ax = jacobian(d, x, base, s, which, dof);
        const Eigen::VectorXd rx = balances(d, x, base, s, which) + ax * (y - x);
        const Eigen::MatrixXd vx = ax * free_var.asDiagonal() * ax.transpose();
        x = y - free_var.asDiagonal() * ax.transpose() * vx.ldlt().solve(rx);
    }
    if (best >= 0) t.suspect_error = y[best] / x[best] - 1.0;
    for (Eigen::Index i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        t.names.push_back(d.names[k]);
        t.measured.push_back(y[i]);
        t.reconciled.push_back(x[i]);
        t.sigma.push_back(d.sigma[k]);
        if (k < d.meters()) s[static_cast<std::size_t>(d.meter[k])] = x[i];
    }
    // A lab value named as the suspect is left out of the fit.
    if (best >= static_cast<Eigen::Index>(d.meters())) {
        m[static_cast<std::size_t>(d.lab[static_cast<std::size_t>(best) - d.meters()])].reset();
    }
    return t;
}

}  // namespace

namespace {

// A window as its rows are read: their count, the lab's weighted sums and
// each setting's sums by quarter, by column.
struct window_sums {
    monitor_window w;
    std::vector<double> sw, swx;         // a measurement's sum of 1/sigma^2 and of value/sigma^2
    std::vector<char> given;             // a measurement's sigma given on a row
    std::vector<std::array<double, 4>> sum, count;  // a setting's, by quarter
    std::vector<double> total, n;
    window_sums(std::int64_t start, std::int64_t length, std::size_t columns)
        : sw(columns, 0.0), swx(columns, 0.0), given(columns, 0), sum(columns), count(columns), total(columns, 0.0),
          n(columns, 0.0) {
        w.start = start;
        w.end = start + length;
    }
};

// The window its sums make: the lab averaged, each setting's mean and
// whether it held still, why it is not fitted, the balance.
monitor_window window_of(window_sums& ws, const monitor_problem& p, const std::vector<column_screening>& screening) {
    const history& h = p.h;
    const monitor_options& o = p.options;
    monitor_window& w = ws.w;
    std::vector<std::string> missing;
    w.steady = w.rows > 0;
    for (std::size_t ci = 0; ci < h.columns.size(); ++ci) {
        const history_column& c = h.columns[ci];
        if (c.kind == column_kind::sigma) continue;
        if (c.kind == column_kind::measured) {
            // The lab samples averaged, each weighed by 1/sigma^2.
            if (ws.sw[ci] > 0.0) w.measured[c.index] = measurement{ws.swx[ci] / ws.sw[ci], 1.0 / std::sqrt(ws.sw[ci]), ws.given[ci] != 0};
            continue;
        }
        // A setting: its mean, and whether it held still. The window in
        // quarters: the spread of the quarters' means against what the
        // column's noise allows, and against a practical change.
        const auto which = static_cast<setting>(c.index);
        const std::array<double, 4>& sum = ws.sum[ci];
        const std::array<double, 4>& count = ws.count[ci];
        if (ws.n[ci] == 0.0) {
            if (w.rows > 0) missing.push_back(c.name);
            continue;
        }
        const double mean = ws.total[ci] / ws.n[ci];
        w.settings[c.index] = mean;
        std::size_t lo = 4, hi = 4;
        for (std::size_t q = 0; q < 4; ++q) {
            if (count[q] == 0.0) continue;
            if (lo == 4 || sum[q] / count[q] < sum[lo] / count[lo]) lo = q;
            if (hi == 4 || sum[q] / count[q] > sum[hi] / count[hi]) hi = q;
        }
        const double spread = sum[hi] / count[hi] - sum[lo] / count[lo];
        const double noise = screening[ci].noise;
        const double allowed = 5.0 * (std::isfinite(noise) ? noise : 0.0) * std::sqrt(1.0 / count[hi] + 1.0 / count[lo]);
        if (spread > allowed && spread > practical_change(which, mean)) {
            w.steady = false;
            w.moved.push_back(c.name + " moved by " + sig(spread, 3) +
                              (mean != 0.0 && !is_temperature(which) ? " (" + sig(100.0 * spread / std::abs(mean), 2) + " %)" : ""));
        }
    }
    // Why it is not fitted, the first that holds.
    if (w.rows == 0) {
        w.reason = "no rows (a gap in the history)";
        w.flags.push_back("no rows");
        w.steady = false;
    } else if (!missing.empty()) {
        std::string list;
        for (const std::string& m : missing) list += (list.empty() ? "" : ", ") + m;
        w.reason = "no usable value of " + list + " (missing, or left out by the screening)";
        w.flags.push_back("missing values");
        w.steady = false;
    } else if (!w.steady) {
        std::string list;
        for (const std::string& m : w.moved) list += (list.empty() ? "" : "; ") + m;
        w.reason = "not steady: " + list;
        w.flags.push_back("not steady");
    } else if (w.lab_samples == 0) {
        w.reason = "no lab sample";
        w.flags.push_back("no lab sample");
    }
    if (w.reason.empty()) {
        w.balance = test_balance(p.base, w.settings, w.measured, o, h);
        if (w.balance.failed) {
            w.flags.push_back("balance failed");
        }
    } else {
        w.balance.why_not = "not tested: the window is not fitted";
    }
    return std::move(w);
}

}  // namespace

std::vector<monitor_window> window_history(const monitor_problem& p, const std::vector<column_screening>& screening) {
    const history& h = p.h;
    const monitor_options& o = p.options;
    const std::int64_t step = o.step_ms > 0 ? o.step_ms : o.window_ms;
    std::vector<monitor_window> out;
    if (h.rows() == 0) return out;
    const auto floor_div = [](std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); };
    const std::size_t columns = h.columns.size();
    // Each measurement's sigma column (columns: none).
    std::vector<std::size_t> sigma_column(columns, columns);
    for (std::size_t ci = 0; ci < columns; ++ci) {
        if (h.columns[ci].kind != column_kind::measured) continue;
        const history_column* sc = h.sigma_of(static_cast<quantity>(h.columns[ci].index));
        if (sc != nullptr) sigma_column[ci] = static_cast<std::size_t>(sc - h.columns.data());
    }
    // The windows open at the row being read (start <= its time < end), in order.
    std::deque<window_sums> open;
    std::int64_t next = floor_div(h.first_time(), step);  // the next window to open, in steps
    std::vector<std::size_t> next_run(columns, 0), next_spike(columns, 0);
    std::vector<double> v(columns);
    history_rows rows(h);
    while (rows.next()) {
        const std::int64_t t = rows.time();
        const std::size_t row = rows.row();
        for (; next <= floor_div(t, step); ++next) open.emplace_back(next * step, o.window_ms, columns);
        while (!open.empty() && open.front().w.end <= t) {
            out.push_back(window_of(open.front(), p, screening));
            open.pop_front();
        }
        // The row as screened.
        bool lab = false;
        for (std::size_t ci = 0; ci < columns; ++ci) {
            v[ci] = rows.value(ci);
            if (!std::isfinite(v[ci])) continue;
            const column_screening& s = screening[ci];
            std::size_t& f = next_run[ci];
            while (f < s.frozen_rows.size() && s.frozen_rows[f].second < row) ++f;
            std::size_t& k = next_spike[ci];
            while (k < s.spike_rows.size() && s.spike_rows[k] < row) ++k;
            if ((f < s.frozen_rows.size() && s.frozen_rows[f].first <= row) || (k < s.spike_rows.size() && s.spike_rows[k] == row)) {
                v[ci] = NAN;
                continue;
            }
            lab = lab || h.columns[ci].kind == column_kind::measured;
        }
        for (window_sums& ws : open) {
            monitor_window& w = ws.w;
            if (w.rows++ == 0) w.first_line = rows.line();
            if (lab) ++w.lab_samples;
            const auto quarter = static_cast<std::size_t>(std::min<std::int64_t>(3, 4 * (t - w.start) / o.window_ms));
            for (std::size_t ci = 0; ci < columns; ++ci) {
                const history_column& c = h.columns[ci];
                if (!std::isfinite(v[ci])) continue;
                if (c.kind == column_kind::measured) {
                    double sg = info(static_cast<quantity>(c.index)).default_sigma;
                    if (sigma_column[ci] < columns && std::isfinite(v[sigma_column[ci]])) {
                        sg = v[sigma_column[ci]];
                        ws.given[ci] = 1;
                    }
                    ws.sw[ci] += 1.0 / (sg * sg);
                    ws.swx[ci] += v[ci] / (sg * sg);
                } else if (c.kind == column_kind::setting) {
                    ws.sum[ci][quarter] += v[ci];
                    ws.count[ci][quarter] += 1.0;
                    ws.total[ci] += v[ci];
                    ws.n[ci] += 1.0;
                }
            }
        }
    }
    for (window_sums& ws : open) out.push_back(window_of(ws, p, screening));
    return out;
}

}  // namespace workbench
