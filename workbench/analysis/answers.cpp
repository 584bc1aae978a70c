#include "analysis/answers.h"

#include <utility>

#include "analysis/messages.h"
#include "analysis/study.h"
#include "base/text.h"

namespace workbench {

void read_study_point(const std::string& bytes, study_point& p) {
    wire::read(bytes, "study point", p);
    p.failure = printable(p.failure);
}

std::string study_point_bytes(const study_point& p) { return wire::write("study point", p); }

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

std::string window_answer_bytes(const window_answer& a) { return wire::write("monitor window", a); }

window_answer read_window_answer(const std::string& bytes) {
    auto a = wire::read<window_answer>(bytes, "monitor window");
    a.failure = printable(a.failure);
    return a;
}

std::string candidate_answer_bytes(const candidate_answer& a) { return wire::write("design candidate", a); }

candidate_answer read_candidate_answer(const std::string& bytes) {
    auto a = wire::read<candidate_answer>(bytes, "design candidate");
    a.failure = printable(a.failure);
    return a;
}

std::string piece_answer_bytes(const piece_answer& a) { return wire::write("estimate piece", a); }

piece_answer read_piece_answer(const std::string& bytes) { return wire::read<piece_answer>(bytes, "estimate piece"); }

namespace {

piece_counts printable_counts(piece_counts c) {
    c.first_failure = printable(c.first_failure);
    return c;
}

}  // namespace

std::string start_answer_bytes(const start_answer& a) { return wire::write("estimate start", a); }

start_answer read_start_answer(const std::string& bytes) {
    auto a = wire::read<start_answer>(bytes, "estimate start");
    a.counts = printable_counts(std::move(a.counts));
    return a;
}

std::string refit_answer_bytes(const std::optional<std::array<double, 2>>& u) { return wire::write("refit", u); }

std::optional<std::array<double, 2>> read_refit_answer(const std::string& bytes) {
    return wire::read<std::optional<std::array<double, 2>>>(bytes, "refit");
}

std::string map_row_bytes(const map_row_answer& a) { return wire::write("profile map row", a); }

std::vector<double> read_map_row(const std::string& bytes, std::size_t n, piece_counts& counts) {
    auto a = wire::read<map_row_answer>(bytes, "profile map row");
    if (a.row.size() != n) {
        throw worker_answer_error("a profile map row of " + std::to_string(a.row.size()) + " values, not " + std::to_string(n));
    }
    counts = printable_counts(std::move(a.counts));
    return std::move(a.row);
}

std::string scan_answer_bytes(const scan_answer& a) { return wire::write("profile scan", a); }

scan_answer read_scan_answer(const std::string& bytes) {
    auto a = wire::read<scan_answer>(bytes, "profile scan");
    a.counts = printable_counts(std::move(a.counts));
    return a;
}

std::string crossing_answer_bytes(const crossing_answer& a) { return wire::write("profile crossing", a); }

double read_crossing_answer(const std::string& bytes, piece_counts& counts) {
    auto a = wire::read<crossing_answer>(bytes, "profile crossing");
    counts = printable_counts(std::move(a.counts));
    return a.at;
}

std::string region_answer_bytes(const region_answer& a) { return wire::write("region piece", a); }

region_answer read_region_answer(const std::string& bytes) {
    auto a = wire::read<region_answer>(bytes, "region piece");
    a.counts = printable_counts(std::move(a.counts));
    return a;
}

std::string prediction_answer_bytes(const prediction_answer& a) { return wire::write("run prediction", a); }

prediction_answer read_prediction_answer(const std::string& bytes) {
    return wire::read<prediction_answer>(bytes, "run prediction");
}

std::string number_answer_bytes(double x) { return wire::write("number", x); }

double read_number_answer(const std::string& bytes) { return wire::read<double>(bytes, "number"); }

std::string runs_model_parts_bytes(const runs_model_parts& m) { return wire::write("runs model", m); }

runs_model_parts read_runs_model(const std::string& bytes) { return wire::read<runs_model_parts>(bytes, "runs model"); }

}  // namespace workbench
