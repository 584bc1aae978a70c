#include "analysis/design.h"
#include "analysis/answers.h"
#include "analysis/messages.h"

#include <algorithm>


#include "base/text.h"

namespace workbench {
namespace {

const double ln10 = std::log(10.0);

double det(const information& f) { return f[0][0] * f[1][1] - f[0][1] * f[1][0]; }

information sum(const information& a, const information& b) {
    information s{};
    for (std::size_t i = 0; i < 2; ++i) {
        for (std::size_t j = 0; j < 2; ++j) s[i][j] = a[i][j] + b[i][j];
    }
    return s;
}

// The predicted measurements of a case at the estimate, and their slopes in
// ln a of each free factor (forward differences), each solve warm-started:
// the point from `warm` (replaced by its solution), the steps from the point.
struct sensitivities {
    bool ok = false;
    std::string failure;
    predicted values{};
    std::array<predicted, 2> slope{};
};

sensitivities sensitivities_of(reactor_case c, const factor_uncertainty& u, double step, workbench_host& h,
                               std::vector<station>& warm, long& solves) {
    sensitivities s;
    c.a1 = u.value[0];
    c.a2 = u.value[1];
    ++solves;
    const model::outcome at = predict_run(c, h, &warm);
    if (!at.ok) {
        s.failure = at.failure;
        return s;
    }
    s.values = at.values;
    for (std::size_t k = 0; k < 2; ++k) {
        if (!u.free[k]) continue;
        reactor_case d = c;
        (k == 0 ? d.a1 : d.a2) *= std::exp(step);
        std::vector<station> from = warm;
        ++solves;
        const model::outcome moved = predict_run(d, h, &from);
        if (!moved.ok) {
            s.failure = "with " + std::string(factor_names[k]) + " a little larger: " + moved.failure;
            return s;
        }
        for (std::size_t q = 0; q < quantity_count; ++q) s.slope[k][q] = (moved.values[q] - at.values[q]) / step;
    }
    s.ok = true;
    return s;
}

// F of one run: sum over its measured quantities of g g' / sigma^2.
information information_of(const sensitivities& s, const std::array<bool, quantity_count>& measured,
                           const std::array<double, quantity_count>& sigma) {
    information f{};
    for (std::size_t q = 0; q < quantity_count; ++q) {
        if (!measured[q]) continue;
        const double w = 1.0 / (sigma[q] * sigma[q]);
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t j = 0; j < 2; ++j) f[i][j] += s.slope[i][q] * s.slope[j][q] * w;
        }
    }
    return f;
}

// The standard errors of ln a with information f: marginal (both free:
// from s^2 F^-1) and with the other factor held (s^2 / F_kk); NaN where
// singular.
std::array<double, 2> marginal_se(const factor_uncertainty& u, const information& f) {
    std::array<double, 2> se{NAN, NAN};
    const double s = u.scale_factor;
    if (u.free[0] && u.free[1]) {
        const double d = det(f);
        // Singular when the smaller eigenvalue (about det / trace) is lost
        // beside the larger (about the trace).
        const double trace = f[0][0] + f[1][1];
        if (!(d > 1e-12 * trace * trace) || !(d > 0.0)) return se;
        se[0] = s * std::sqrt(f[1][1] / d);
        se[1] = s * std::sqrt(f[0][0] / d);
        return se;
    }
    for (std::size_t k = 0; k < 2; ++k) {
        if (u.free[k] && f[k][k] > 0.0) se[k] = s / std::sqrt(f[k][k]);
    }
    return se;
}

std::string interval_words(double lo, double hi) {
    if (!std::isfinite(lo) || !std::isfinite(hi)) return "none (singular: the runs do not determine it)";
    return sig(lo, 4) + " .. " + sig(hi, 4);
}

// The ranking: D with both factors free and both (or neither) within
// reach of some candidate; one factor's expected interval when asked for,
// or when only one is free; that factor's with the other held when no
// candidate can determine the other (D would then rank by the noise in a
// direction no run informs).
void rank(design_result& out, const design_problem& p, const factor_uncertainty& u, double t_now, double t_after) {
    const bool both = out.estimate.free[0] && out.estimate.free[1];
    if (p.for_factor) {
        out.criterion = u.free[1 - *p.for_factor] || !both ? design_criterion::one_factor : design_criterion::conditional;
        out.ranked_factor = *p.for_factor;
    } else if (!(u.free[0] && u.free[1])) {
        out.criterion = both ? design_criterion::conditional : design_criterion::one_factor;
        out.ranked_factor = u.free[0] ? 0 : 1;
    } else {
        out.criterion = design_criterion::d_optimal;
    }
    const std::size_t k = out.ranked_factor;
    const std::array<double, 2> se_now = marginal_se(u, out.now);
    const double det_now = det(out.now);
    const double trace_now = out.now[0][0] + out.now[1][1];
    const bool now_regular = det_now > 1e-12 * trace_now * trace_now && det_now > 0.0;
    for (design_candidate& d : out.candidates) {
        if (!d.ok) continue;
        const information f = sum(out.now, d.info);
        switch (out.criterion) {
            case design_criterion::d_optimal:
                d.criterion = det(f);
                if (now_regular) d.relative = std::sqrt(det_now / d.criterion);
                break;
            case design_criterion::one_factor:
            case design_criterion::conditional: {
                const double se = marginal_se(u, f)[k];
                d.criterion = std::isfinite(se) ? 1.0 / (se * se) : 0.0;
                if (std::isfinite(se_now[k])) d.relative = t_after * se / (t_now * se_now[k]);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < out.candidates.size(); ++i) {
        if (out.candidates[i].ok) out.ranking.push_back(i);
    }
    std::stable_sort(out.ranking.begin(), out.ranking.end(), [&](std::size_t a, std::size_t b) {
        return out.candidates[a].criterion > out.candidates[b].criterion;
    });
    for (std::size_t r = 0; r < out.ranking.size(); ++r) out.candidates[out.ranking[r]].rank = r + 1;
}

// What the design says, in plain words.
void say(design_result& out) {
    const factor_uncertainty& u = out.estimate;
    std::vector<message>& v = out.verdict;
    if (out.ranking.empty()) {
        v.push_back("No candidate could be solved at the estimate: there is nothing to rank.");
        return;
    }
    const design_candidate& top = out.candidates[out.ranking.front()];
    const design_candidate& median = out.candidates[out.ranking[out.ranking.size() / 2]];
    const std::array<const char*, 2> process = {"carbamate formation", "the dehydration to urea"};
    for (std::size_t k = 0; k < 2; ++k) {
        if (!u.free[k]) continue;
        const std::string name = factor_names[k];
        if (out.determinable[k]) {
            v.push_back("With the top-ranked run, " + name + "'s 95 % interval is expected to narrow from " +
                        interval_words(out.now_lower[k], out.now_upper[k]) + " to " +
                        interval_words(top.lower[k], top.upper[k]) + " (with the median candidate: " +
                        interval_words(median.lower[k], median.upper[k]) + ").");
            continue;
        }
        if (out.no_effect[k]) {
            v.push_back("No run within these ranges can determine " + name + ": at the estimate (" + name + " = " +
                        sig(u.value[k], 3) + ") changing it tenfold moves what any candidate measures by at most " +
                        sig(out.largest_effect[k], 2) + " standard deviations: " + process[k] +
                        " is at its equilibrium throughout. Hold it (estimate with " + mention("fix", name, "VALUE") +
                        ", the value you trust) until a run outside these ranges can tell.");
        } else {
            const design_candidate* best = &top;
            for (const std::size_t i : out.ranking) {
                const design_candidate& d = out.candidates[i];
                if (std::isfinite(d.lower[k]) && (!std::isfinite(best->lower[k]) ||
                                                  d.upper[k] / d.lower[k] < best->upper[k] / best->lower[k])) {
                    best = &d;
                }
            }
            v.push_back("No run within these ranges brings " + name + "'s 95 % interval within a decade: the best " +
                        "for it leaves " + interval_words(best->lower[k], best->upper[k]) +
                        (std::isfinite(best->lower[k]) ? " (" + sig(best->upper[k] / best->lower[k], 2) + " times)"
                                                       : std::string()) +
                        ". Wider ranges, or more runs, are needed to pin it down.");
        }
    }
    if (out.criterion == design_criterion::conditional) {
        const std::string held = factor_names[1 - out.ranked_factor];
        v.push_back(std::string("So the runs are ranked by ") + factor_names[out.ranked_factor] +
                    "'s expected interval with " + held + " held at its value, as the estimate would hold it.");
    } else if (out.criterion == design_criterion::d_optimal && !out.determinable[0] && !out.determinable[1]) {
        v.push_back("Neither factor can be determined by one more run within these ranges; the runs are ranked "
                    "by D all the same (how much each shrinks the joint region).");
    }
    if (std::isfinite(top.relative) && std::isfinite(median.relative)) {
        const std::string what = out.criterion == design_criterion::d_optimal
                                     ? "the joint region's area"
                                     : std::string(factor_names[out.ranked_factor]) + "'s interval";
        v.push_back("The top-ranked run leaves " + what + " at " + sig(100.0 * top.relative, 2) +
                    " % of now, the median candidate at " + sig(100.0 * median.relative, 2) + " %.");
    }
    // Linearised: where the profile interval is far wider than the linearised
    // one, a run may do less than promised.
    for (std::size_t k = 0; k < 2; ++k) {
        if (!u.free[k] || !u.has_profile[k] || !std::isfinite(out.now_lower[k])) continue;
        const auto& lo = u.profile_lower[k];
        const auto& hi = u.profile_upper[k];
        const bool wider = !lo || !hi ||
                           std::log(*hi / *lo) > 1.5 * std::log(out.now_upper[k] / out.now_lower[k]);
        if (wider) {
            v.push_back(std::string("The expected intervals are linearised at the estimate; ") + factor_names[k] +
                        "'s profile-likelihood interval is far wider than its linearised one, so the run may narrow "
                        "it less than this says: estimate again with the run.");
        }
    }
    if (out.failed > 0) {
        v.push_back(std::to_string(out.failed) + " candidate" + (out.failed == 1 ? "" : "s") +
                    " could not be solved at the estimate and " + (out.failed == 1 ? "is" : "are") + " left out.");
    }
}

}  // namespace

void run_design_chunk(const study_plan& candidates, const factor_uncertainty& u, double step, point_range range,
                      workbench_host& h, const std::function<void(const std::string&)>& emit) {
    std::vector<station> warm;
    for (std::size_t c = range.begin; c < range.end; ++c) {
        const reactor_case cc = study_case(candidates, c);
        long n = 0;
        const sensitivities s = sensitivities_of(cc, u, step, h, warm, n);
        h.check_stop();
        if (!s.ok) warm.clear();
        candidate_answer a;
        a.ok = s.ok;
        a.failure = s.failure;
        a.values = s.values;
        a.slope = s.slope;
        a.solves = n;
        emit(candidate_answer_bytes(a));
    }
}

namespace {

// A design's state, sent to other machines: the candidates (a study's plan,
// study_plan_bytes), the step and the estimate's uncertainty.
struct design_state {
    std::string candidates;
    double step = 0.0;
    factor_uncertainty u;
};
WIRE_FIELDS(design_state, candidates, step, u)

}  // namespace

std::string design_state_bytes(const study_plan& candidates, const factor_uncertainty& u, double step) {
    return wire::write("design state", design_state{study_plan_bytes(candidates), step, u});
}

void run_sent_design_chunk(session& s, const std::string& state, std::size_t chunk,
                           const std::function<void(const std::string&)>& emit) {
    const auto d = wire::read<design_state>(state, "design state");
    const study_plan candidates = study_plan_of(d.candidates);
    const property_set props(candidates.base.tables);
    workbench_host h(s, props);
    run_design_chunk(candidates, d.u, d.step, study_chunks(candidates).at(chunk), h, emit);
}

void expected_intervals(const factor_uncertainty& u, const information& f, double t, std::array<double, 2>& lower,
                        std::array<double, 2>& upper) {
    const std::array<double, 2> se = marginal_se(u, f);
    for (std::size_t k = 0; k < 2; ++k) {
        lower[k] = upper[k] = NAN;
        if (!u.free[k] || !std::isfinite(se[k])) continue;
        lower[k] = u.value[k] * std::exp(-t * se[k]);
        upper[k] = u.value[k] * std::exp(t * se[k]);
    }
}

std::array<bool, quantity_count> measured_named(const std::string& names) {
    std::array<bool, quantity_count> m{};
    if (names == "all") {
        m.fill(true);
        return m;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = names.find(',', start);
        const std::string name = names.substr(start, at == std::string::npos ? std::string::npos : at - start);
        const auto q = result_named(name);
        std::size_t found = quantity_count;
        for (std::size_t k = 0; k < quantity_count && q; ++k) {
            if (q->name == quantities[k].column) found = k;
        }
        if (found == quantity_count) {
            throw input_error(given("measure", names),
                              "\"" + name + "\" is not measured in a test run (" + quantity_columns() + ", or all)");
        }
        m[found] = true;
        if (at == std::string::npos) return m;
        start = at + 1;
    }
}

design_problem design_problem_of(estimate_problem runs, std::optional<factor_uncertainty> estimate,
                                 study_plan candidates, std::optional<std::array<bool, quantity_count>> measure,
                                 std::optional<std::size_t> for_factor) {
    design_problem p;
    if (estimate) {
        if (!estimate->runs.empty()) {
            std::vector<std::string> names;
            for (const plant_run& r : runs.runs.runs) names.push_back(r.name);
            if (names != estimate->runs) {
                throw input_error(given("estimate", estimate->source), "made from other runs (" +
                                  std::to_string(estimate->runs.size()) + ", of " +
                                  (estimate->runs_file.empty() ? std::string("another file") : estimate->runs_file) +
                                  ") than the " + std::to_string(names.size()) + " of " + runs.runs.file +
                                  ": give the runs file it was made from, or leave " + mention("estimate") +
                                  " out to estimate these runs");
            }
        }
        if (estimate->base) {
            // The runs' cases are the base case changed by each row: the
            // estimate's must be these runs' base case.
            const reactor_case& b = *estimate->base;
            const reactor_case& c = runs.base;
            const auto same = [](double x, double y) {
                return (std::isnan(x) && std::isnan(y)) || std::abs(x - y) <= 1e-9 * std::max(1.0, std::abs(y));
            };
            std::vector<std::string> differ;
            if (b.model != c.model) differ.push_back("the model");
            if (b.trays != c.trays) differ.push_back("trays");
            if (!same(b.volume_m3, c.volume_m3)) differ.push_back("volume");
            if (!same(b.pressure_bar, c.pressure_bar)) differ.push_back("pressure");
            if (!same(b.inlet_temperature_C, c.inlet_temperature_C)) differ.push_back("inlet temperature");
            if (!same(b.outlet_temperature_C, c.outlet_temperature_C)) differ.push_back("outlet temperature");
            if (estimate->base_whole) {
                // The whole case: its feed and property tables too.
                for (std::size_t i = 0; i < component_count; ++i) {
                    if (!same(b.feed_kmol_h[i], c.feed_kmol_h[i])) differ.push_back(std::string("the feed's ") + component_names[i]);
                }
                for (const tuned_difference& d : tuned_differences(*estimate, c)) {
                    if (d.key.rfind("properties.", 0) == 0) differ.push_back(d.key);
                }
            } else {
                if (!same(nh3_co2_ratio(b), nh3_co2_ratio(c))) differ.push_back("NH3/CO2");
                if (!same(h2o_co2_ratio(b), h2o_co2_ratio(c))) differ.push_back("H2O/CO2");
            }
            if (!differ.empty()) {
                std::string what;
                for (std::size_t k = 0; k < differ.size(); ++k) what += (k ? ", " : "") + differ[k];
                throw input_error(given("estimate", estimate->source),
                                  "made on another base case (" + what +
                                      " differ): give the case and case options the estimate was made with");
            }
        }
        if (!estimate->free[0] && !estimate->free[1]) {
            throw input_error(given("estimate", estimate->source),
                              "both rate factors are held in this estimate: there is nothing to design for");
        }
    } else if (runs.options.fixed[0] && runs.options.fixed[1]) {
        throw input_error(field("fix"), "both rate factors are held: there is nothing to design for");
    }
    const std::array<bool, 2> free = estimate ? estimate->free
                                              : std::array<bool, 2>{!runs.options.fixed[0], !runs.options.fixed[1]};
    if (for_factor && !free[*for_factor]) {
        throw input_error(given("for_factor", factor_names[*for_factor]),
                          std::string(factor_names[*for_factor]) + " is held in this estimate (" + mention("fix") +
                              "): design for the free factor");
    }
    for (const std::string& name : candidates.settings) {
        if (name == "a1" || name == "a2") {
            field_ref what = field("cases");
            if (!candidates.table) {
                for (const study_variable& v : candidates.vars) {
                    if (v.name == name) what = v.source;
                }
                what.text = name;
            }
            throw input_error(cite(what) + (candidates.table ? ": the column " + name : std::string()) +
                              ": the next run's a1 and a2 are the plant's, which the estimate stands for; vary "
                              "what the operator may change");
        }
    }
    // What the next run measures, and how well: by default what most of the
    // current runs measure, each with the median of its runs' sigmas.
    std::array<std::size_t, quantity_count> count{};
    std::array<std::vector<double>, quantity_count> sigmas;
    for (const plant_run& r : runs.runs.runs) {
        for (std::size_t q = 0; q < quantity_count; ++q) {
            if (!r.measured[q]) continue;
            ++count[q];
            sigmas[q].push_back(r.measured[q]->sigma);
        }
    }
    if (measure) {
        p.measure = *measure;
        p.measure_chosen = true;
    } else {
        const std::size_t most = *std::max_element(count.begin(), count.end());
        for (std::size_t q = 0; q < quantity_count; ++q) {
            p.measure[q] = 2 * count[q] > runs.runs.runs.size() || (most > 0 && count[q] == most);
        }
    }
    for (std::size_t q = 0; q < quantity_count; ++q) {
        std::vector<double>& v = sigmas[q];
        if (v.empty()) {
            p.sigma[q] = quantities[q].default_sigma;
            continue;
        }
        std::sort(v.begin(), v.end());
        p.sigma[q] = v.size() % 2 == 1 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
    }
    p.candidates = std::move(candidates);
    p.runs = std::move(runs);
    p.estimate = std::move(estimate);
    p.for_factor = for_factor;
    return p;
}

design_result run_design(workbench_host& h, const design_problem& p) {
    design_result out;
    long solves = 0;
    // ---- The estimate the design is linearised at ----
    if (p.estimate) {
        out.estimate = *p.estimate;
    } else {
        estimate_problem fit = p.runs;
        fit.options.profile = false;
        fit.options.region = false;
        fit.options.leave_one_out = false;
        fit.options.bootstrap = 0;
        const estimate_outcome e = estimate_runs(h, fit);
        out.estimate = uncertainty_of(e);
        out.estimated_here = true;
        solves += e.reactor_solves;
    }
    const factor_uncertainty& u = out.estimate;
    out.measure = p.measure;
    out.measure_chosen = p.measure_chosen;
    out.sigma = p.sigma;

    // ---- F_now: the current runs, with their own sigmas ----
    for (std::size_t i = 0; i < p.runs.cases.size(); ++i) {
        std::vector<station> warm;
        const sensitivities s = sensitivities_of(p.runs.cases[i], u, p.step, h, warm, solves);
        h.check_stop();
        const plant_run& r = p.runs.runs.runs[i];
        if (!s.ok) {
            throw solver_error(p.runs.runs.file + ":" + std::to_string(r.line) + ": run \"" + r.name +
                               "\": the reactor has no solution at the estimate a1 = " + sig(u.value[0]) +
                               ", a2 = " + sig(u.value[1]) + ": " + s.failure);
        }
        std::array<bool, quantity_count> measured{};
        std::array<double, quantity_count> sigma{};
        for (std::size_t q = 0; q < quantity_count; ++q) {
            measured[q] = r.measured[q].has_value();
            sigma[q] = measured[q] ? r.measured[q]->sigma : 1.0;
        }
        out.now = sum(out.now, information_of(s, measured, sigma));
    }
    const double t_now = std::isfinite(u.t_quantile) ? u.t_quantile : t_975(u.degrees_of_freedom);

    // ---- Each candidate ----
    std::size_t measured_count = 0;
    for (const bool m : p.measure) measured_count += m ? 1 : 0;
    const double t_after = t_975(u.degrees_of_freedom + static_cast<int>(measured_count));
    // The candidates in the chunks a study of them would be cut into (the
    // same for any number of workers), each chunk a chain of warm starts.
    const std::vector<point_range> chunks = study_chunks(p.candidates);
    const worker_options& workers = h.owner().workers();
    const auto add = [&](design_candidate d) {
        if (!d.ok) {
            ++out.failed;
        } else {
            d.info = information_of(sensitivities{true, "", d.values, d.slope}, p.measure, p.sigma);
            for (std::size_t k = 0; k < 2; ++k) {
                out.largest_effect[k] = std::max(out.largest_effect[k], ln10 * std::sqrt(std::max(0.0, d.info[k][k])));
            }
        }
        out.candidates.push_back(std::move(d));
        if (workers.progress) workers.progress("candidates", out.candidates.size(), p.candidates.points);
    };
    chunk_work work;
    work.chunks = chunks.size();
    work.run = [&](std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit) {
        run_design_chunk(p.candidates, u, p.step, {chunks[i].begin + from, chunks[i].end}, h, emit);
    };
    work.kind = "design";
    work.state = [&] { return design_state_bytes(p.candidates, u, p.step); };
    const auto candidate = [&](std::size_t c) {
        design_candidate d;
        d.index = c;
        d.settings = study_settings(p.candidates, c, study_case(p.candidates, c));
        if (p.candidates.table) d.carried = &p.candidates.table->rows[c].carried;
        return d;
    };
    work.take = [&](std::size_t, const std::string& bytes) {
        if (out.candidates.size() >= p.candidates.points) {
            throw worker_answer_error("candidate " + std::to_string(out.candidates.size() + 1) + " of " +
                                      std::to_string(p.candidates.points));
        }
        candidate_answer a = read_candidate_answer(bytes);
        design_candidate d = candidate(out.candidates.size());
        d.ok = a.ok;
        d.failure = std::move(a.failure);
        d.values = a.values;
        d.slope = a.slope;
        solves += a.solves;
        add(std::move(d));
    };
    work.results = [&chunks](std::size_t i) { return chunks[i].end - chunks[i].begin; };
    // A candidate a worker could not finish (its plug-in crashed or hung):
    // failed, with why; or the rest of a chunk not run.
    std::size_t lost = 0;
    std::string first_lost;
    work.lost = [&](std::size_t i, const std::string& why, bool ran) {
        const std::size_t end = ran ? std::min(out.candidates.size() + 1, chunks[i].end) : chunks[i].end;
        if (first_lost.empty()) first_lost = why;
        lost += end - out.candidates.size();
        while (out.candidates.size() < end) {
            design_candidate d = candidate(out.candidates.size());
            d.failure = why;
            add(std::move(d));
        }
    };
    run_chunks(workers, work, [&h] { h.check_stop(); });
    say_undone(workers, "design", lost, p.candidates.points, "candidates", first_lost);
    out.reactor_solves = solves;

    // A free factor that changes nothing any run measures, now or with any
    // candidate, is as good as held: its information is the rounding of the
    // solver's, and its covariance with the other would be noise.
    factor_uncertainty held = u;
    for (std::size_t k = 0; k < 2; ++k) {
        const double now = ln10 * std::sqrt(std::max(0.0, out.now[k][k]));
        out.no_effect[k] = u.free[k] && std::max(now, out.largest_effect[k]) < 0.1;
        if (out.no_effect[k] && (u.free[0] && u.free[1])) held.free[k] = false;
    }
    expected_intervals(held, out.now, t_now, out.now_lower, out.now_upper);
    for (design_candidate& d : out.candidates) {
        if (!d.ok) continue;
        expected_intervals(held, sum(out.now, d.info), t_after, d.lower, d.upper);
        for (std::size_t k = 0; k < 2; ++k) {
            if (std::isfinite(d.lower[k]) && d.upper[k] / d.lower[k] <= 10.0) out.determinable[k] = true;
        }
    }
    rank(out, p, held, t_now, t_after);
    say(out);
    return out;
}

}  // namespace workbench
