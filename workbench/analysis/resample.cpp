// The runs resampled: bootstrap and leave-one-run-out refits.
#include "analysis/least_squares.h"
#include "analysis/answers.h"
#include "analysis/messages.h"
#include "analysis/runs_model.h"
#include "analysis/uncertainty.h"
#include "io/case_file.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace workbench {

using detail::factor_at;
using detail::offset;
using detail::point;

namespace {

// Where a refit starts: the best fit of all the runs, and the ends of the
// other starts that fit within the joint threshold but lie elsewhere (at
// least half a unit of ln a apart), at most three in all: a resample may
// prefer the other basin.
std::vector<point> refit_starts(const estimate_result& res) {
    const auto u_of = [](const std::array<double, 2>& a) { return point{std::log(a[0]) + offset, std::log(a[1]) + offset}; };
    const double threshold = res.free_parameters == 2 ? res.region_threshold : res.profile_threshold;
    std::vector<point> out{u_of(res.starts[res.best_start].to)};
    for (const start_outcome& s : res.starts) {
        if (out.size() == 3) break;
        if (!s.usable || !(s.objective - res.best_objective <= threshold)) continue;
        const point u = u_of(s.to);
        bool apart = true;
        for (const point& o : out) apart = apart && std::max(std::abs(u[0] - o[0]), std::abs(u[1] - o[1])) > 0.5;
        if (apart) out.push_back(u);
    }
    return out;
}

// The best of the refits of the weighted runs from the starts; nullopt when
// none is usable.
std::optional<point> refit(model& m, const std::vector<observed_run>& runs, const estimate_options& opt,
                           double loss_scale, const std::vector<double>& weights, const std::vector<point>& starts) {
    detail::fit_problem fp(m, runs, opt, loss_scale, &weights);
    std::optional<point> best;
    double best_objective = NAN;
    for (const point& s : starts) {
        const detail::local_fit f = fp.minimise(s);
        if (f.usable && !(f.objective >= best_objective)) {
            best = f.u;
            best_objective = f.objective;
        }
    }
    return best;
}

// Measurements the weighted runs hold.
int measurements_of(const std::vector<observed_run>& runs, const std::vector<double>& weights) {
    int n = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (!(weights[i] > 0.0)) continue;
        for (const auto& q : runs[i].measured) n += q ? 1 : 0;
    }
    return n;
}

// One resample's fit: whether it is usable, and where (as bytes).
std::string resample_fit(model& m, const std::vector<observed_run>& runs, const estimate_options& opt,
                         double loss_scale, int free_parameters, const std::vector<double>& weights,
                         const std::vector<point>& starts) {
    const int n = measurements_of(runs, weights);
    const std::optional<point> u =
        n >= std::max(1, free_parameters) ? refit(m, runs, opt, loss_scale, weights, starts) : std::nullopt;
    return refit_answer_bytes(u);
}

// A bootstrap's state, sent to other machines: the model (its bytes), the
// runs, the estimate's options and what its refits start from, and each
// resample's weights.
struct bootstrap_state {
    std::string model;
    std::vector<observed_run> runs;
    estimate_options options;
    double loss_scale = 0.0;
    int free_parameters = 0;
    std::vector<point> starts;
    std::vector<std::vector<double>> weights;
};
WIRE_FIELDS(bootstrap_state, model, runs, options, loss_scale, free_parameters, starts, weights)

// An index in 0 .. n-1, every one equally likely: the generator's bits
// above the largest multiple of n are drawn again (the standard
// distributions differ between libraries, and a seed must give the same
// resamples everywhere).
std::size_t draw(std::mt19937_64& rng, std::size_t n) {
    const std::uint64_t range = static_cast<std::uint64_t>(n);
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() - std::numeric_limits<std::uint64_t>::max() % range;
    std::uint64_t x = rng();
    while (x >= limit) x = rng();
    return static_cast<std::size_t>(x % range);
}

// The p-quantile of sorted values, interpolated linearly between order
// statistics (Hyndman and Fan's type 7, as R and numpy compute it).
double quantile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return NAN;
    const double h = (static_cast<double>(sorted.size()) - 1.0) * p;
    const std::size_t lo = static_cast<std::size_t>(std::floor(h));
    const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[hi] - sorted[lo]);
}

// A standard error of ln a to measure moves in: the linearised one, or the
// profile interval's half-width over t; NaN when neither is finite.
double se_of(const parameter_estimate& p, const estimate_result& res) {
    if (std::isfinite(p.se_ln) && p.se_ln > 0.0) return p.se_ln;
    if (p.profile.lower && p.profile.upper) {
        return (std::log(*p.profile.upper) - std::log(*p.profile.lower)) / (2.0 * res.t_quantile);
    }
    return NAN;
}

}  // namespace

bootstrap_result bootstrap(model& m, const std::vector<observed_run>& runs, const estimate_options& opt,
                           const estimate_result& res, int resamples, std::uint64_t seed, const estimate_split& split) {
    if (resamples < 1) throw input_error(field("bootstrap"), "at least 1 resample (got " + std::to_string(resamples) + ")");
    const detail::quiet_ceres quiet;
    bootstrap_result out;
    out.resamples = resamples;
    out.seed = seed;
    const std::vector<point> starts = refit_starts(res);
    // Every resample drawn first, in order: the same draws whoever fits them.
    std::mt19937_64 rng(seed);
    std::vector<std::vector<double>> weights(static_cast<std::size_t>(resamples), std::vector<double>(runs.size(), 0.0));
    for (std::vector<double>& w : weights) {
        for (std::size_t i = 0; i < runs.size(); ++i) w[draw(rng, runs.size())] += 1.0;
    }
    // Each resample a piece of work, fitted from the model as it is now; it
    // may go to other machines with the model (what run_sent_bootstrap_chunk
    // reads).
    const std::string model_bytes = split.workers.elsewhere ? m.bytes() : std::string();
    const auto state = [&] {
        return wire::write("bootstrap state",
                           bootstrap_state{model_bytes, runs, opt, res.loss_scale, res.free_parameters, starts, weights});
    };
    detail::run_pieces(
        m, split, weights.size(),
        [&](std::size_t b, model& own) {
            return resample_fit(own, runs, opt, res.loss_scale, res.free_parameters, weights[b], starts);
        },
        [&](std::size_t, const std::string& bytes) {
            const std::optional<point> refit = read_refit_answer(bytes);
            const bool usable = refit.has_value();
            const point u = refit.value_or(point{});
            if (!usable) {
                ++out.failed;
                return;
            }
            out.samples.push_back({res.parameters[0].free ? factor_at(u[0]) : res.parameters[0].value,
                                   res.parameters[1].free ? factor_at(u[1]) : res.parameters[1].value});
        },
        "bootstrap resamples", model_bytes.empty() ? nullptr : "bootstrap", state);
    // The resamples said are the resamples used.
    if (out.samples.size() + static_cast<std::size_t>(out.failed) != weights.size()) {
        throw worker_answer_error("the bootstrap's workers answered " +
                                  std::to_string(out.samples.size() + static_cast<std::size_t>(out.failed)) + " of its " +
                                  std::to_string(weights.size()) + " resamples");
    }
    for (std::size_t k = 0; k < 2; ++k) {
        if (!res.parameters[k].free || out.samples.empty()) continue;
        std::vector<double> ln;
        for (const auto& s : out.samples) ln.push_back(std::log(s[k]));
        std::sort(ln.begin(), ln.end());
        out.lower95[k] = std::exp(quantile(ln, 0.025));
        out.median[k] = std::exp(quantile(ln, 0.5));
        out.upper95[k] = std::exp(quantile(ln, 0.975));
    }
    return out;
}

leave_one_out_result leave_one_out(model& m, const std::vector<observed_run>& runs, const estimate_options& opt,
                                   const estimate_result& res, const estimate_split& split) {
    const detail::quiet_ceres quiet;
    leave_one_out_result out;
    out.computed = true;
    const std::vector<point> starts = refit_starts(res);
    // Each run left out a piece of work, fitted from the model as it is now.
    detail::run_pieces(
        m, split, runs.size(),
        [&](std::size_t i, model& own) {
            std::vector<double> weights(runs.size(), 1.0);
            weights[i] = 0.0;
            const int n = measurements_of(runs, weights);
            const std::optional<point> u =
                n >= std::max(1, res.free_parameters) ? refit(own, runs, opt, res.loss_scale, weights, starts) : std::nullopt;
            return refit_answer_bytes(u);
        },
        [&](std::size_t i, const std::string& bytes) {
            const std::optional<point> refit = read_refit_answer(bytes);
            left_out_run row;
            row.run = i;
            const bool usable = refit.has_value();
            const point u = refit.value_or(point{});
            if (usable) {
                row.ok = true;
                for (std::size_t k = 0; k < 2; ++k) {
                    const parameter_estimate& p = res.parameters[k];
                    row.value[k] = p.free ? factor_at(u[k]) : p.value;
                    if (!p.free) continue;
                    row.shift_ln[k] = std::log(row.value[k]) - std::log(p.value);
                    row.shift_se[k] = row.shift_ln[k] / se_of(p, res);
                }
            }
            out.runs.push_back(row);
        });
    for (std::size_t k = 0; k < 2; ++k) {
        if (!res.parameters[k].free) continue;
        std::vector<std::size_t> order;
        for (const left_out_run& r : out.runs) {
            if (r.ok) order.push_back(r.run);
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return std::abs(out.runs[a].shift_ln[k]) > std::abs(out.runs[b].shift_ln[k]);
        });
        if (order.size() > 3) order.resize(3);
        out.influential[k] = order;
    }
    return out;
}

void run_sent_bootstrap_chunk(session& s, const std::string& state, std::size_t chunk,
                              const std::function<void(const std::string&)>& emit) {
    const auto st = wire::read<bootstrap_state>(state, "bootstrap state");
    if (chunk >= st.weights.size()) throw std::logic_error("a bootstrap's chunk past its last");
    if (st.weights[chunk].size() != st.runs.size()) {
        throw worker_answer_error("a bootstrap's resample of " + std::to_string(st.weights[chunk].size()) +
                                  " weights for " + std::to_string(st.runs.size()) + " runs");
    }
    // The host with the runs' properties (every run's case is the base
    // case's, changed by its settings).
    const runs_model_parts parts = read_runs_model(st.model);
    if (parts.cases.empty()) throw worker_answer_error("a bootstrap's runs model of no runs");
    const property_set props(parse_case(parts.cases.front(), "a run's case").tables);
    workbench_host h(s, props);
    runs_model m = runs_model::of_bytes(h, st.model);
    const detail::quiet_ceres quiet;
    const std::string result =
        resample_fit(m, st.runs, st.options, st.loss_scale, st.free_parameters, st.weights[chunk], st.starts);
    emit(detail::piece_bytes(result, m.predictions()));
}

}  // namespace workbench
