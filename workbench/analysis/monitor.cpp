#include "analysis/monitor.h"
#include "analysis/answers.h"
#include "analysis/messages.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <boost/math/distributions/chi_squared.hpp>

#include "analysis/monitor_select.h"
#include "analysis/runs_model.h"
#include "base/digest.h"
#include "base/text.h"
#include "io/case_file.h"
#include "io/runs_file.h"
#include "model/limits.h"
#include "model/properties.h"
#include "session/workers.h"
#include "solver/reactor.h"

namespace workbench {

void set_meter_sigma(monitor_options& o, const field_ref& source, std::optional<double> number) {
    const std::string& text = source.text;
    const std::size_t eq = text.find('=');
    const std::optional<setting> s = eq == std::string::npos ? std::nullopt : setting_named(text.substr(0, eq));
    const bool feed = s && *s >= setting::feed_NH3;
    if (!feed) {
        throw input_error(source, "write NAME=PERCENT, NAME a feed flow or ratio column (feed_kmol_h.CO2, nh3_co2, ...)");
    }
    std::string pct = text.substr(eq + 1);
    if (!pct.empty() && pct.back() == '%') pct.pop_back();
    field_ref meter = source;
    meter.text = text.substr(0, eq);
    const double v = number_given(meter, number ? given_number(pct, *number) : given_number(pct), number_rule::positive);
    if (v > 100.0) throw input_error(source, "a percentage of the reading, at most 100");
    o.meter_sigma[static_cast<std::size_t>(*s)] = v / 100.0;
}

namespace {

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

// The windows a history and a step make, counted before any is built (as
// window_history cuts them): refused past what one run follows, or when
// overlapping windows would read the rows too many times over, or reach
// past the times that can be written.
void check_window_count(const history& h, const monitor_options& o) {
    if (h.rows() == 0) return;
    const std::int64_t front = h.first_time(), back = h.last_time();
    const std::int64_t first = floor_div(front, o.step_ms), last = floor_div(back, o.step_ms);
    const std::int64_t count = last - first + 1;
    const double days = static_cast<double>(back - front) / static_cast<double>(ms_per_day);
    const message made = mention("window", "", duration_text(o.window_ms)) + " every " +
                         mention("step", "", duration_text(o.step_ms)) + " over " + h.file + "'s " + sig(days, 3) +
                         " days (" + timestamp_text(front, h.zoned) + " .. " + timestamp_text(back, h.zoned) + ") make ";
    if (count > max_monitor_windows) {
        throw input_error(made + std::to_string(count) + " windows, more than the " + std::to_string(max_monitor_windows) +
                          " one run follows: give a longer " + mention("step") + ", or a part of the history");
    }
    if (first * o.step_ms < min_timestamp_ms || last * o.step_ms > end_timestamp_ms - o.window_ms) {
        throw input_error(made + "windows reaching past the years 0000 .. 9999, which cannot be written");
    }
    if (o.step_ms >= o.window_ms) return;
    // Overlapping windows: the rows read over all of them, each row once
    // for each window it lies in (those from `first` on).
    long long reads = 0;
    history_rows rows(h);
    while (rows.next()) {
        const std::int64_t t = rows.time();
        reads += floor_div(t, o.step_ms) - std::max(first - 1, floor_div(t - o.window_ms, o.step_ms));
    }
    if (reads > max_monitor_window_rows) {
        throw input_error(made + std::to_string(count) + " windows that overlap, " + sig(static_cast<double>(reads), 3) +
                          " rows read over them, more than the " + sig(static_cast<double>(max_monitor_window_rows)) +
                          " one run reads: give a longer " + mention("step"));
    }
}

// The rows' spacing: the median of the positive steps between them (of
// an even count, the upper of the middle two).
std::int64_t spacing_of(const history& h) {
    order_statistic middle;
    std::uint64_t steps = 0;
    do {
        steps = 0;
        history_rows rows(h);
        std::int64_t before = 0;
        while (rows.next()) {
            const std::int64_t t = rows.time();
            if (rows.row() > 0 && t > before) {
                middle.add(static_cast<std::uint64_t>(t - before));
                ++steps;
            }
            before = t;
        }
        if (steps == 0) return 0;
        middle.set_rank(steps / 2);
        middle.end_pass();
    } while (!middle.done());
    return static_cast<std::int64_t>(middle.value());
}

}  // namespace

monitor_problem monitor_problem_of(history h, const reactor_case& base, monitor_options o) {
    monitor_problem p;
    p.warnings = validate(base);
    p.warnings.insert(p.warnings.end(), h.warnings.begin(), h.warnings.end());
    if (o.step_ms == 0) o.step_ms = o.window_ms;
    if (o.window_ms <= 0 || o.step_ms <= 0) {
        throw input_error(mention("window") + " and " + mention("step") + " must be positive durations");
    }
    if (o.step_ms > o.window_ms) {
        throw input_error(mention("step", "", duration_text(o.step_ms)) + " is longer than " +
                          mention("window", "", duration_text(o.window_ms)) +
                          ": the rows between the windows would be left out; give a step at most the window");
    }
    if (o.a1 && !(*o.a1 >= factor_lower && *o.a1 <= factor_upper)) {
        throw input_error(mention("fix", "a1", sig(*o.a1)) + ": must lie within " + sig(factor_lower) + " .. " +
                          sig(factor_upper));
    }
    p.spacing_ms = spacing_of(h);
    if (o.window_ms < p.spacing_ms) {
        throw input_error(mention("window", "", duration_text(o.window_ms)) + " is shorter than the rows' spacing (" +
                          duration_text(p.spacing_ms) + ", the median in " + h.file +
                          "): a window would hold one row at most; give at least " + duration_text(p.spacing_ms));
    }
    check_window_count(h, o);
    bool lab = false;
    for (const history_column& c : h.columns) {
        if (c.kind != column_kind::measured) continue;
        lab = lab || h.rows() - c.missing - c.out_of_range > 0;
    }
    if (!lab) {
        throw runs_error(h.file, 0, 0, "no lab sample: no row gives a usable value of " + quantity_columns() +
                                           ", so there is nothing to fit a2 to");
    }
    p.h = std::move(h);
    p.base = base;
    p.options = o;
    return p;
}

namespace {

// The reactor as the estimator's model for one window at a time, warm-
// started from the last solution (of this window or of the one before in
// its chunk).
class window_model final : public model {
public:
    window_model(workbench_host& h, reactor_case c) : h_(h), c_(std::move(c)) {}
    void set_case(reactor_case c) { c_ = std::move(c); }
    const reactor_case& current() const { return c_; }
    outcome predict(std::size_t, double ln_a1, double ln_a2) override {
        c_.a1 = std::exp(ln_a1);
        c_.a2 = std::exp(ln_a2);
        ++solves;
        return predict_run(c_, h_, &warm_);
    }
    bool stopped() const override { return h_.stopped(); }
    void check_stop() override { h_.check_stop(); }
    long solves = 0;

private:
    workbench_host& h_;
    reactor_case c_;
    std::vector<station> warm_;
};

// The conversion the lab's analysis gives: urea over all carbon, when the
// feed holds no urea.
double lab_conversion(const observations& m, const reactor_case& c) {
    const auto& co2 = m[static_cast<std::size_t>(quantity::w_co2)];
    const auto& urea = m[static_cast<std::size_t>(quantity::w_urea)];
    if (!co2 || !urea || c.feed_kmol_h[UREA] > 0.0) return NAN;
    const double nc = co2->value / molecular_weight[CO2], nu = urea->value / molecular_weight[UREA];
    return nc + nu > 0.0 ? nu / (nc + nu) : NAN;
}

// The window fits are cut into chunks of this many fittable windows, each
// chunk a chain of warm starts of its own (its first window started cold,
// and in the first pass from the case's a2): the same chunks for any number
// of workers, so the same answer.
constexpr std::size_t windows_per_chunk = 8;

// One pass of fits over the fittable windows, a2 alone at a1: the first
// (each window from the a2 of the one before in its chunk) or the second,
// with each window's profile interval and the lab's scatter, from the first
// pass's a2.
struct window_pass {
    std::vector<reactor_case> cases;
    std::vector<observed_run> seen;
    double a1 = NAN;
    double base_a2 = NAN;  // the case's: a chunk's first start in the first pass, and the wide starts' centre
    bool profile = false;
    std::vector<double> start;  // the second pass's starts
    std::vector<std::optional<estimate_options::known_scatter>> scatter;

    std::size_t chunks() const { return (cases.size() + windows_per_chunk - 1) / windows_per_chunk; }
    std::size_t begin(std::size_t chunk) const { return chunk * windows_per_chunk; }
    std::size_t end(std::size_t chunk) const { return std::min(cases.size(), begin(chunk) + windows_per_chunk); }
};

// The fit of one window at a1 from `start`: a2 alone; with a profile
// interval and a known scatter when asked. Empty when no start solves it
// (failure says why).
std::optional<estimate_result> fit_window(window_model& wm, workbench_host& h, const window_pass& w, std::size_t k,
                                          double start, std::string& failure) {
    wm.set_case(w.cases[k]);
    const std::vector<observed_run> seen{w.seen[k]};
    estimate_options eo;
    eo.fixed[0] = w.a1;
    eo.initial = {w.a1, start};
    eo.start_decades = {0.0};
    eo.profile = w.profile;
    eo.region = eo.leave_one_out = false;
    if (w.profile) eo.scatter = w.scatter[k];
    for (const bool wide : {false, true}) {
        if (wide) {
            eo.initial[1] = w.base_a2;
            eo.start_decades = {-2.0, 0.0, 2.0};
        }
        try {
            return std::optional<estimate_result>(estimate(wm, seen, eo));
        } catch (const solver_error& x) {
            failure = x.what();
        }
        h.check_stop();
    }
    return std::optional<estimate_result>();
}

// Fits the chunk's windows from its `from`-th on, handing each one's result
// to emit as bytes (window_answer): the solves it took, whether it was
// fitted, and then its numbers or why not.
void run_window_chunk(const window_pass& w, std::size_t chunk, std::size_t from, workbench_host& h,
                      const std::function<void(const std::string&)>& emit) {
    window_model wm(h, w.cases[w.begin(chunk)]);
    double a2 = w.base_a2;
    for (std::size_t k = w.begin(chunk) + from; k < w.end(chunk); ++k) {
        const long solves0 = wm.solves;
        std::string failure;
        const std::optional<estimate_result> e = fit_window(wm, h, w, k, w.profile ? w.start[k] : a2, failure);
        window_answer out;
        out.solves = wm.solves - solves0;
        if (!e) {
            out.failure = failure;
            emit(window_answer_bytes(out));
            h.check_stop();
            continue;
        }
        const parameter_estimate& pa = e->parameters[1];
        out.fitted = true;
        out.a2 = pa.value;
        out.chi_square = e->chi_square;
        out.dof = e->degrees_of_freedom;
        if (!w.profile) {
            a2 = pa.value;
            emit(window_answer_bytes(out));
            h.check_stop();
            continue;
        }
        reactor_case c = w.cases[k];
        c.a1 = w.a1;
        c.a2 = pa.value;
        const run_outcome r = run_case(c, h);
        ++out.solves;
        out.lower = pa.profile.lower;
        out.upper = pa.profile.upper;
        out.se_ln = pa.se_ln;
        out.conversions = r.ok();
        if (r.ok()) {
            out.predicted = r.value->co2_conversion;
            out.equilibrium = r.value->equilibrium_co2_conversion;
        }
        emit(window_answer_bytes(out));
        h.check_stop();
    }
}

WIRE_FIELDS(window_pass, cases, seen, a1, base_a2, profile, start, scatter)

// A pass as bytes, for work sent to other machines (run_sent_monitor_chunk).
std::string window_pass_bytes(const window_pass& w) { return wire::write("monitor pass", w); }

window_pass window_pass_of(const std::string& bytes) {
    auto w = wire::read<window_pass>(bytes, "monitor pass");
    const std::size_t n = w.cases.size();
    if (w.seen.size() != n || (w.profile && (w.start.size() != n || w.scatter.size() != n))) {
        throw worker_answer_error("a monitor pass of " + std::to_string(w.cases.size()) + " cases, " +
                                  std::to_string(w.seen.size()) + " runs and " + std::to_string(w.start.size()) +
                                  " starts");
    }
    return w;
}

// Fits a pass's every window on the session's workers (run_window_pass).
void run_window_pass_fitted(const window_pass& w, workbench_host& h,
                            const std::function<void(std::size_t, const std::string&)>& take,
                            const std::function<void(std::size_t, const std::string&)>& lost) {
    std::size_t done = 0;  // windows taken
    chunk_work work;
    work.chunks = w.chunks();
    work.run = [&](std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit) {
        run_window_chunk(w, i, from, h, emit);
    };
    work.take = [&](std::size_t, const std::string& bytes) {
        if (done >= w.cases.size()) {
            throw worker_answer_error("window " + std::to_string(done + 1) + " of " + std::to_string(w.cases.size()));
        }
        take(done++, bytes);
    };
    work.results = [&w](std::size_t i) { return w.end(i) - w.begin(i); };
    work.lost = [&](std::size_t i, const std::string& why, bool ran) {
        const std::size_t end = ran ? std::min(done + 1, w.end(i)) : w.end(i);
        while (done < end) lost(done++, why);
    };
    work.kind = "monitor";
    work.state = [&w] { return window_pass_bytes(w); };
    run_chunks(h.owner().workers(), work, [&h] { h.check_stop(); });
    // Every window answered, each once: the windows said are those fitted or not.
    if (done != w.cases.size()) {
        throw worker_answer_error("the monitor's workers answered " + std::to_string(done) + " of its " +
                                  std::to_string(w.cases.size()) + " windows");
    }
}

// A cache's key: the digest of its inputs as the workers' messages write
// them (every number by its bits), under the kind of what it keys.
struct key_inputs {
    wire::tree list = wire::tree::array();
    template <class T>
    key_inputs& add(const T& x) {
        wire::detail::put(list.get_ref<wire::tree::array_t&>().emplace_back(), x);
        return *this;
    }
    std::string key(const std::string& kind) const { return sha256_hex(wire::encode(kind, list)); }
};

// The a1 estimate as the cache keeps it.
struct kept_a1 {
    bool determined = false;
    double value = NAN;
    std::optional<double> lower, upper;
    message note;
    long solves = 0;
};
WIRE_FIELDS(kept_a1, determined, value, lower, upper, note, solves)

// The cache's key of each window's fit in a pass (monitor_fit_cache): a
// digest of the pass's own inputs and of the window's and those before it
// in its chunk, every number by its bits.
std::vector<std::string> fit_keys(const window_pass& w) {
    std::vector<std::string> keys(w.cases.size());
    for (std::size_t c = 0; c < w.chunks(); ++c) {
        key_inputs chain;
        chain.add(w.profile).add(w.a1).add(w.base_a2);
        for (std::size_t k = w.begin(c); k < w.end(c); ++k) {
            chain.add(w.cases[k]).add(w.seen[k]);
            if (w.profile) chain.add(w.start[k]).add(w.scatter[k]);
            keys[k] = chain.key("window fit");
        }
    }
    return keys;
}

// Runs a pass on the session's workers: take(k, bytes) gets each fittable
// window's result here, in order; lost(k, why) each window a worker could
// not finish (its plug-in crashed or hung). With a cache, a chunk whose
// every window's answer it holds is taken from it; the others are fitted
// (whole: each fit is warm-started from the one before), and kept in it.
void run_window_pass(const window_pass& w, workbench_host& h, monitor_fit_cache* cache,
                     const std::function<void(std::size_t, const std::string&)>& take,
                     const std::function<void(std::size_t, const std::string&)>& lost) {
    if (cache == nullptr || w.cases.empty()) {
        run_window_pass_fitted(w, h, take, lost);
        return;
    }
    const std::vector<std::string> keys = fit_keys(w);
    std::vector<std::optional<std::string>> found(w.cases.size());
    window_pass rest;  // the chunks to fit: whole chunks, so cut at the same places
    rest.a1 = w.a1;
    rest.base_a2 = w.base_a2;
    rest.profile = w.profile;
    std::vector<std::size_t> index;  // rest's windows in w
    for (std::size_t c = 0; c < w.chunks(); ++c) {
        bool all = true;
        for (std::size_t k = w.begin(c); k < w.end(c) && all; ++k) {
            found[k] = cache->find(keys[k]);
            all = found[k].has_value();
        }
        if (all) continue;
        for (std::size_t k = w.begin(c); k < w.end(c); ++k) {
            found[k].reset();
            index.push_back(k);
            rest.cases.push_back(w.cases[k]);
            rest.seen.push_back(w.seen[k]);
            if (w.profile) {
                rest.start.push_back(w.start[k]);
                rest.scatter.push_back(w.scatter[k]);
            }
        }
    }
    std::vector<std::optional<std::string>> why_lost(w.cases.size());
    if (!rest.cases.empty()) {
        run_window_pass_fitted(
            rest, h,
            [&](std::size_t k, const std::string& bytes) {
                found[index[k]] = bytes;
                cache->keep(keys[index[k]], bytes);
            },
            [&](std::size_t k, const std::string& why) { why_lost[index[k]] = why; });
    }
    for (std::size_t k = 0; k < w.cases.size(); ++k) {
        if (found[k]) {
            take(k, *found[k]);
        } else {
            lost(k, why_lost[k].value_or("not fitted"));
        }
    }
}

}  // namespace

void run_sent_monitor_chunk(session& s, const std::string& state, std::size_t chunk,
                            const std::function<void(const std::string&)>& emit) {
    const window_pass w = window_pass_of(state);
    if (chunk >= w.chunks()) throw std::logic_error("a monitor's chunk past its last");
    const property_set props(w.cases.front().tables);
    workbench_host h(s, props);
    run_window_chunk(w, chunk, 0, h, emit);
}

std::string window_counts(const monitor_result& m) {
    std::string out = std::to_string(m.not_steady) + " not steady, " + std::to_string(m.without_lab) +
                      " without a lab sample, " + std::to_string(m.unsolved) + " without a solution";
    if (m.without_rows > 0) out += ", " + std::to_string(m.without_rows) + " without rows";
    if (m.without_values > 0) out += ", " + std::to_string(m.without_values) + " without usable measurements";
    if (m.invalid_case > 0) out += ", " + std::to_string(m.invalid_case) + " with an invalid case";
    return out;
}

monitor_result run_monitor(workbench_host& h, monitor_problem& p,
                           const std::function<void(std::size_t, std::size_t)>& progress) {
    const monitor_options& o = p.options;
    monitor_result out;
    if (!p.h.carried.empty()) {
        // A column of no known name may be a setting misspelt: say which
        // settings then hold the case's value throughout.
        std::string names, kept;
        for (const std::string& c : p.h.carried) names += (names.empty() ? "" : ", ") + c;
        for (const setting s : {setting::feed_CO2, setting::feed_NH3, setting::feed_H2O, setting::inlet_temperature_C,
                                setting::outlet_temperature_C, setting::pressure_bar}) {
            const bool ratio = (s == setting::feed_NH3 && p.h.of_setting(setting::nh3_co2) != nullptr) ||
                               (s == setting::feed_H2O && p.h.of_setting(setting::h2o_co2) != nullptr);
            if (p.h.of_setting(s) == nullptr && !ratio) kept += (kept.empty() ? "" : ", ") + std::string(setting_column(s));
        }
        out.notes.push_back(p.h.file + ": columns not used: " + names +
                            (kept.empty() ? "" : "; the case's value in every window for " + kept +
                                                     ", which the history has no column of: is one of them misspelt?"));
    }
    out.screening = screen_history(p.h, o);
    out.windows = window_history(p, out.screening);

    // Each fittable window's case and lab samples, checked as a runs file's row.
    std::vector<std::size_t> fittable;
    std::vector<reactor_case> cases(out.windows.size());
    for (std::size_t i = 0; i < out.windows.size(); ++i) {
        monitor_window& w = out.windows[i];
        if (!w.reason.empty()) continue;
        plant_run r;
        r.name = "window " + timestamp_text(w.start, p.h.zoned);
        r.line = w.first_line;
        r.settings = w.settings;
        for (const history_column& c : p.h.columns) {
            if (c.kind == column_kind::setting) r.setting_column[c.index] = c.number;
        }
        try {
            cases[i] = case_of(p.base, r, p.h.file);
        } catch (const input_error& e) {
            w.reason = "its case: " + e.reason();
            w.flags.push_back("invalid case");
            continue;
        }
        auto& conv = w.measured[static_cast<std::size_t>(quantity::co2_conversion)];
        if (conv && !co2_conversion_defined(feed_kmol_s(cases[i]))) conv.reset();
        w.conversion_measured = conv ? conv->value : lab_conversion(w.measured, cases[i]);
        fittable.push_back(i);
    }
    const auto observed_of = [&](std::size_t i) { return observed_run{"window " + timestamp_text(out.windows[i].start, p.h.zoned), out.windows[i].measured}; };

    // Every window's a2 at a1, and the drifts.
    const worker_options& workers = h.owner().workers();
    long solves = 0;
    std::size_t lost = 0;  // windows a worker could not finish, in the last fit
    std::string first_lost;
    const auto fit_windows = [&](double a1_held) {
        out.drifts.clear();
        lost = 0;
        // a2 window by window, each warm-started from the one before in its
        // chunk: first the fits alone, whose scatter pooled over the windows
        // is the lab's (a property of the lab, known far better from many
        // windows than from the few samples of one); then each window's
        // profile interval with the scatter pooled over it and the windows
        // before it. So a window is as it was fitted when later days come
        // (a watch keeps it and fits only the new ones).
        const std::size_t n = fittable.size();
        std::size_t done = 0;  // fits of both passes, for the progress line
        const auto tick = [&] {
            ++done;
            if (workers.progress) workers.progress("window fits", done, 2 * n);
        };
        const auto unsolved = [&](std::size_t i, const std::string& why) {
            out.windows[i].reason = "no solution: " + why;
            out.windows[i].flags.push_back("unsolved");
            ++out.unsolved;
        };
        std::vector<double> first_a2(out.windows.size(), NAN);
        std::vector<double> chi(out.windows.size(), NAN);
        std::vector<int> dof(out.windows.size(), 0);
        out.unsolved = 0;
        window_pass first;
        first.a1 = a1_held;
        first.base_a2 = p.base.a2;
        for (const std::size_t i : fittable) {
            first.cases.push_back(cases[i]);
            first.seen.push_back(observed_of(i));
        }
        run_window_pass(
            first, h, p.fits,
            [&](std::size_t k, const std::string& bytes) {
                const window_answer a = read_window_answer(bytes);
                const std::size_t i = fittable[k];
                solves += a.solves;
                if (a.fitted) {
                    first_a2[i] = a.a2;
                    chi[i] = a.chi_square;
                    dof[i] = a.dof;
                } else {
                    unsolved(i, a.failure);
                }
                tick();
            },
            [&](std::size_t k, const std::string& why) {
                unsolved(fittable[k], why);
                if (lost++ == 0) first_lost = why;
                tick();
            });
        // The pooled scatter, without the windows whose own scatter is far
        // beyond the lab's (p < 0.001): those keep their own. Each window's
        // interval takes the pool up to it; the result keeps the whole
        // history's.
        const auto beyond = [&](std::size_t i) {
            return dof[i] > 0 &&
                   boost::math::cdf(boost::math::complement(boost::math::chi_squared(static_cast<double>(dof[i])), chi[i])) < 0.001;
        };
        window_pass second;
        second.a1 = a1_held;
        second.base_a2 = p.base.a2;
        second.profile = true;
        std::vector<std::size_t> fitted_first;
        double chi_so_far = 0.0;
        int dof_so_far = 0;
        for (const std::size_t i : fittable) {
            if (std::isfinite(chi[i]) && !beyond(i)) {
                chi_so_far += chi[i];
                dof_so_far += dof[i];
            }
            if (!std::isfinite(first_a2[i])) {
                tick();
                continue;
            }
            std::optional<estimate_options::known_scatter> scatter;
            if (dof_so_far > 0 && !beyond(i)) scatter = estimate_options::known_scatter{std::max(1.0, std::sqrt(chi_so_far / dof_so_far)), dof_so_far};
            if (beyond(i)) out.windows[i].flags.push_back("lab scatter");
            fitted_first.push_back(i);
            second.cases.push_back(cases[i]);
            second.seen.push_back(observed_of(i));
            second.start.push_back(first_a2[i]);
            second.scatter.push_back(scatter);
        }
        if (dof_so_far > 0) out.lab_scatter = std::sqrt(chi_so_far / dof_so_far);
        std::size_t intervals = 0;
        run_window_pass(
            second, h, p.fits,
            [&](std::size_t k, const std::string& bytes) {
                const window_answer a = read_window_answer(bytes);
                monitor_window& w = out.windows[fitted_first[k]];
                solves += a.solves;
                if (a.fitted) {
                    w.fitted = true;
                    w.a2 = a.a2;
                    w.a2_lower = a.lower;
                    w.a2_upper = a.upper;
                    w.se_ln_a2 = a.se_ln;
                    w.chi_square = a.chi_square;
                    w.dof = a.dof;
                    if (a.conversions) {
                        w.conversion_predicted = a.predicted;
                        w.conversion_equilibrium = a.equilibrium;
                        w.approach = w.conversion_measured / w.conversion_equilibrium;
                    }
                } else {
                    unsolved(fitted_first[k], a.failure);
                }
                tick();
                if (progress) progress(++intervals, n);
            },
            [&](std::size_t k, const std::string& why) {
                unsolved(fitted_first[k], why);
                if (lost++ == 0) first_lost = why;
                tick();
                if (progress) progress(++intervals, n);
            });
        // Drifts of a2, over windows that do not overlap: overlapping ones
        // share rows, their a2 are not independent, and the test would
        // take their likeness for evidence (each window from the first
        // fitted one on that starts where the one before it ended, or later).
        std::vector<std::size_t> series;
        std::vector<double> x, se;
        for (std::size_t i = 0; i < out.windows.size(); ++i) {
            const monitor_window& w = out.windows[i];
            if (!series.empty() && w.start < out.windows[series.back()].end) continue;
            if (w.fitted && std::isfinite(w.se_ln_a2) && w.se_ln_a2 > 0.0) {
                series.push_back(i);
                x.push_back(std::log(w.a2));
                se.push_back(w.se_ln_a2);
            }
        }
        out.drift_windows = series.size();
        for (drift d : find_drifts(x, se, o, out.dispersion)) {
            d.window = series[d.window];
            d.time = out.windows[d.window].start;
            out.drifts.push_back(d);
        }
    };

    // a1: held; or estimated once, from the steady windows of the longest
    // stretch without a drift (a2 the same in them: a single operating
    // point cannot tell a1 from a2, several can), after the windows were
    // fitted at the case's a1; when it is determined there, the windows are
    // fitted again with it.
    out.a1 = o.a1.value_or(p.base.a1);
    const std::vector<monitor_window> unfitted = out.windows;
    fit_windows(out.a1);
    if (o.a1) {
        out.a1_how = monitor_result::a1_source::held;
        out.a1_note = "a1 = " + sig(out.a1) + ", held (" + mention("fix") + ")";
    } else {
        out.a1_how = monitor_result::a1_source::kept;
        // The stretches between drifts, in windows.
        std::size_t from = 0, to = out.windows.size(), best_from = 0, best_to = 0;
        for (std::size_t d = 0; d <= out.drifts.size(); ++d) {
            to = d < out.drifts.size() ? out.drifts[d].window : out.windows.size();
            if (to - from > best_to - best_from) {
                best_from = from;
                best_to = to;
            }
            from = to;
        }
        std::vector<std::size_t> stretch;
        for (const std::size_t i : fittable) {
            if (i >= best_from && i < best_to && out.windows[i].fitted) stretch.push_back(i);
        }
        const std::size_t n = std::min<std::size_t>(16, stretch.size());
        if (n < 2) {
            out.a1_note = "a1 = " + sig(out.a1) + ", the case's: too few steady windows to estimate it from";
        } else {
            std::vector<reactor_case> some;
            std::vector<observed_run> seen;
            std::vector<double> a2s;
            for (std::size_t k = 0; k < n; ++k) {
                const std::size_t i = stretch[k * stretch.size() / n];
                some.push_back(cases[i]);
                seen.push_back(observed_of(i));
                a2s.push_back(out.windows[i].a2);
            }
            std::nth_element(a2s.begin(), a2s.begin() + static_cast<std::ptrdiff_t>(n / 2), a2s.end());
            runs_model m(h, some);
            estimate_options eo;
            eo.initial = {p.base.a1, a2s[n / 2]};
            eo.region = eo.leave_one_out = false;
            const std::string where = " from " + std::to_string(n) + " steady windows of " +
                                      timestamp_text(out.windows[stretch.front()].start, p.h.zoned) + " .. " +
                                      timestamp_text(out.windows[stretch.back()].end, p.h.zoned) + ", a2 common to them";
            // The estimate's outcome, taken from the cache when made from
            // the same windows, starts and settings.
            std::string key;
            std::optional<std::string> kept;
            if (p.fits != nullptr) {
                key_inputs k;
                k.add(where).add(eo.initial[0]).add(eo.initial[1]);
                for (std::size_t j = 0; j < n; ++j) k.add(some[j]).add(seen[j]);
                key = k.key("a1 estimate");
                kept = p.fits->find(key);
            }
            long kept_solves = 0;
            try {
                bool determined = false;
                double value = NAN;
                message note;
                if (kept) {
                    const auto a = wire::read<kept_a1>(*kept, "a1 estimate");
                    determined = a.determined;
                    value = a.value;
                    out.a1_lower = a.lower;
                    out.a1_upper = a.upper;
                    note = a.note;
                    kept_solves = a.solves;
                } else {
                    // Its pieces (starts, profile scans) on the workers.
                    const estimate_result e = estimate(m, seen, eo, estimate_split{workers, [&h] { h.check_stop(); }});
                    const parameter_estimate& a1 = e.parameters[0];
                    out.a1_lower = a1.profile.lower;
                    out.a1_upper = a1.profile.upper;
                    determined = a1.verdict == verdict_kind::determined;
                    value = a1.value;
                    note = determined ? "a1 = " + factor_text(a1, a1.value) + ", estimated once" + where + " (95 % profile " +
                                            profile_text(a1, eo) + "), then held"
                                      : "a1 = " + sig(out.a1) + ", the case's: the history does not determine a1 (95 % profile" +
                                            where + ": " + profile_text(a1, eo) + "); " + mention("fix", "a1", "VALUE") +
                                            " holds another";
                    if (p.fits != nullptr) {
                        p.fits->keep(key, wire::write("a1 estimate",
                                                      kept_a1{determined, value, out.a1_lower, out.a1_upper, note, m.solves()}));
                    }
                }
                out.a1_note = note;
                if (determined) {
                    out.a1 = value;
                    out.a1_how = monitor_result::a1_source::estimated;
                    out.windows = unfitted;
                    fit_windows(out.a1);
                }
            } catch (const solver_error& x) {
                if (dynamic_cast<const worker_lost*>(&x) != nullptr && workers.undone) {
                    workers.undone(std::string("monitor: a1 not estimated") + where + ": " + x.what());
                }
                out.a1_note = "a1 = " + sig(out.a1) + ", the case's: no fit of a1" + where + " (" + x.what() + ")";
            }
            out.reactor_solves += kept ? kept_solves : m.solves();
            h.check_stop();
        }
    }
    out.reactor_solves += solves;
    say_undone(workers, "monitor", lost, fittable.size(), "windows", first_lost);
    accumulate_evidence(out, o.window_ms);

    for (const monitor_window& w : out.windows) {
        out.fitted += w.fitted ? 1 : 0;
        out.reconciled += w.balance.failed ? 1 : 0;
        if (std::find(w.flags.begin(), w.flags.end(), "not steady") != w.flags.end()) ++out.not_steady;
        if (std::find(w.flags.begin(), w.flags.end(), "no lab sample") != w.flags.end()) ++out.without_lab;
        if (std::find(w.flags.begin(), w.flags.end(), "no rows") != w.flags.end()) ++out.without_rows;
        if (std::find(w.flags.begin(), w.flags.end(), "missing values") != w.flags.end()) ++out.without_values;
        if (std::find(w.flags.begin(), w.flags.end(), "invalid case") != w.flags.end()) ++out.invalid_case;
    }
    if (out.fitted == 0) {
        out.notes.push_back("no window was fitted: " + std::to_string(out.windows.size()) + " windows, of which " +
                            window_counts(out) + " (each window says why)");
    }
    return out;
}

}  // namespace workbench
