#include "analysis/answers.h"

#include "analysis/study.h"
#include "base/text.h"

namespace workbench {

void read_study_point(const std::string& bytes, study_point& p) {
    wire_in r(bytes);
    p.index = static_cast<std::size_t>(r.get<std::uint64_t>());
    p.settings = r.get_vector<double>();
    p.ok = r.get<bool>();
    p.failure = printable(r.get_string());
    p.details = r.get_string();
    p.values = r.get_vector<double>();
    p.conversion_defined = r.get<bool>();
    p.max_balance_residual = r.get<double>();
    p.rate_calls = r.get<long>();
    p.bands.resize(r.get_count(2 * sizeof(double) + 2));
    for (result_band& b : p.bands) {
        b.low = r.get<double>();
        b.high = r.get<double>();
        b.open_low = r.get<bool>();
        b.open_high = r.get<bool>();
    }
    p.band_unsolved = static_cast<std::size_t>(r.get<std::uint64_t>());
    r.finish();
}

std::string study_point_bytes(const study_point& p) {
    wire_out w;
    w.put<std::uint64_t>(p.index).put(p.settings).put(p.ok).put(p.failure).put(p.details).put(p.values);
    w.put(p.conversion_defined).put(p.max_balance_residual).put(p.rate_calls);
    w.put<std::uint64_t>(p.bands.size());
    for (const result_band& b : p.bands) w.put(b.low).put(b.high).put(b.open_low).put(b.open_high);
    w.put<std::uint64_t>(p.band_unsolved);
    return w.bytes();
}

void check_study_point(const study_plan& plan, std::size_t index, const study_point& p) {
    const auto wrong = [&](const std::string& what, std::size_t expected, std::size_t got) {
        throw worker_answer_error("point " + std::to_string(index + 1) + ": expected " + std::to_string(expected) + " " +
                                  what + ", got " + std::to_string(got));
    };
    if (p.index != index) wrong("as its number", index + 1, p.index + 1);
    const std::size_t settings = plan.table ? plan.settings.size() : plan.vars.size();
    if (p.settings.size() != settings) wrong("settings", settings, p.settings.size());
    const std::size_t values = p.ok ? plan.results.size() : 0;
    if (p.values.size() != values) wrong("values", values, p.values.size());
    const std::size_t bands = p.ok && plan.bands ? plan.results.size() : 0;
    if (p.bands.size() != bands) wrong("bands", bands, p.bands.size());
}

window_answer read_window_answer(const std::string& bytes, bool profile) {
    wire_in r(bytes);
    window_answer a;
    a.solves = r.get<long>();
    a.fitted = r.get<bool>();
    if (!a.fitted) {
        a.failure = printable(r.get_string());
    } else {
        a.a2 = r.get<double>();
        if (profile) {
            for (std::optional<double>* v : {&a.lower, &a.upper}) {
                const bool has = r.get<bool>();
                const double x = r.get<double>();
                if (has) *v = x;
            }
            a.se_ln = r.get<double>();
        }
        a.chi_square = r.get<double>();
        a.dof = r.get<int>();
        if (profile && (a.conversions = r.get<bool>())) {
            a.predicted = r.get<double>();
            a.equilibrium = r.get<double>();
        }
    }
    r.finish();
    return a;
}

candidate_answer read_candidate_answer(const std::string& bytes) {
    wire_in r(bytes);
    candidate_answer a;
    a.ok = r.get<bool>();
    a.failure = printable(r.get_string());
    a.values = r.get<predicted>();
    a.slope = r.get<std::array<predicted, 2>>();
    a.solves = r.get<long>();
    r.finish();
    return a;
}

piece_answer read_piece_answer(const std::string& bytes) {
    wire_in r(bytes);
    piece_answer a;
    a.result = r.get_string();
    a.predictions = r.get<long>();
    r.finish();
    return a;
}

piece_counts read_piece_counts(wire_in& r) {
    piece_counts c;
    c.evaluations = r.get<long>();
    c.failures = r.get<long>();
    c.first_failure = printable(r.get_string());
    r.finish();
    return c;
}

std::optional<std::array<double, 2>> read_refit_answer(const std::string& bytes) {
    wire_in r(bytes);
    const bool usable = r.get<bool>();
    const auto u = r.get<std::array<double, 2>>();
    r.finish();
    return usable ? std::optional<std::array<double, 2>>(u) : std::nullopt;
}

std::vector<double> read_map_row(const std::string& bytes, std::size_t n, piece_counts& counts) {
    wire_in r(bytes);
    std::vector<double> row;
    for (std::size_t k = 0; k < n; ++k) row.push_back(r.get<double>());
    counts = read_piece_counts(r);
    return row;
}

scan_answer read_scan_answer(const std::string& bytes) {
    wire_in r(bytes);
    scan_answer a;
    a.points = r.get_vector<std::array<double, 3>>();
    const bool has = r.get<bool>();
    const auto b = r.get<std::array<double, 2>>();
    if (has) a.better = b;
    a.counts = read_piece_counts(r);
    return a;
}

double read_crossing_answer(const std::string& bytes, piece_counts& counts) {
    wire_in r(bytes);
    const double x = r.get<double>();
    counts = read_piece_counts(r);
    return x;
}

runs_model_parts read_runs_model(const std::string& bytes) {
    wire_in r(bytes);
    runs_model_parts m;
    m.cases.resize(r.get_count(sizeof(std::uint64_t)));
    for (std::string& c : m.cases) c = r.get_string();
    m.warm.resize(r.get_count(sizeof(std::uint64_t)));
    for (std::vector<station>& profile : m.warm) profile = r.get_vector<station>();
    r.finish();
    return m;
}

}  // namespace workbench
