#include "store/result_cbor.h"

#include <optional>
#include <string>
#include <vector>
#include <utility>

#include <nlohmann/json.hpp>

#include "store/database.h"

namespace nlohmann {

template <typename T>
struct adl_serializer<std::optional<T>> {
    static void to_json(json& j, const std::optional<T>& v) {
        if (v) {
            j = *v;
        } else {
            j = nullptr;
        }
    }
    static void from_json(const json& j, std::optional<T>& v) {
        if (j.is_null()) {
            v.reset();
        } else {
            v = j.get<T>();
        }
    }
};

}  // namespace nlohmann

namespace workbench {
namespace {

// A message as a store of version 1 holds it: a text with each mention
// marked in it, as \x01, its kind ('a' advice, 's' a subject), its parts
// (advice: field, key, value; a subject: name, index, key, text, echo) each
// after \x1f, then \x02. What is no such mark is text.
message from_marked(const std::string& text) {
    message out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find('\x01', at);
        const std::size_t end = start == std::string::npos ? start : text.find('\x02', start);
        if (end == std::string::npos) break;
        std::vector<std::string> parts;
        for (std::size_t from = start + 1;;) {
            const std::size_t sep = text.find('\x1f', from);
            if (sep > end) {
                parts.push_back(text.substr(from, end - from));
                break;
            }
            parts.push_back(text.substr(from, sep - from));
            from = sep + 1;
        }
        out += text.substr(at, start - at);
        if (parts.size() == 4 && parts[0] == "a") {
            out += mention(parts[1], parts[2], parts[3]);
        } else if (parts.size() == 6 && parts[0] == "s" &&
                   (parts[2].empty() || parts[2].find_first_not_of("0123456789") == std::string::npos) &&
                   parts[2].size() < 10) {
            field_ref f{parts[1]};
            if (!parts[2].empty()) f.index = std::stoul(parts[2]);
            f.key = parts[3];
            f.text = parts[4];
            f.echo = !parts[5].empty();
            out += cite(f);
        } else {
            out += text.substr(start, end + 1 - start);
        }
        at = end + 1;
    }
    if (at < text.size()) out += text.substr(at);
    return out;
}

}  // namespace

// A message as its parts; one of a store of version 1 is a text with its
// mentions marked in it.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(field_ref, name, index, key, text, echo)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(message::part, what, text, field)
void to_json(nlohmann::json& j, const message& m) { j = m.parts(); }
void from_json(const nlohmann::json& j, message& m) {
    m = message();
    if (j.is_string()) {
        m = from_marked(j.get<std::string>());
        return;
    }
    for (message::part p : j.get<std::vector<message::part>>()) {
        if (p.what != message::kind::text && p.what != message::kind::advice && p.what != message::kind::subject) {
            throw database_error("the store's monitor result holds a message of an unknown kind");
        }
        m += message::of_part(std::move(p));
    }
}

// Written in the order of their declarations (analysis/monitor.h): a field
// added there is added here, and the version raised.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(time_span, start, end, rows)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(column_screening, column, lab, values, missing, out_of_range, out_of_range_span,
                                   stagnant, stagnant_rows, spikes, spike_span, noise, frozen_rows, spike_rows)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(measurement, value, sigma, sigma_given)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(balance_test, tested, why_not, dof, chi_square, p_value, failed, suspect,
                                   suspect_statistic, suspect_error, names, measured, reconciled, sigma, bias, bias_sigma)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(monitor_window, start, end, rows, lab_samples, first_line, steady, flags, reason, moved,
                                   settings, measured, balance, fitted, a2, a2_lower, a2_upper, se_ln_a2, chi_square, dof,
                                   conversion_measured, conversion_predicted, conversion_equilibrium, approach)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(drift, factor, time, window, ratio, lower, upper, p_value)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(bias_span, column, start, end, found, windows, bias, lower, upper)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(a2_trend, start, end, windows, from, to, rate, lower, upper)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(a2_step, start, found, ratio, lower, upper)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(monitor_result, screening, windows, drifts, trends, meters, steps, a1, a1_how, a1_note, a1_lower,
                                   a1_upper, fitted, not_steady, without_lab, unsolved, reconciled, without_rows,
                                   without_values, invalid_case, drift_windows, dispersion, lab_scatter, reactor_solves, notes)

namespace {

// Raised with any change of the fields above. Version 1 held messages as
// texts (read still).
constexpr int result_version = 2;

}  // namespace

std::string monitor_result_bytes(const monitor_result& m) {
    const nlohmann::json j = {{"version", result_version}, {"result", m}};
    const std::vector<std::uint8_t> bytes = nlohmann::json::to_cbor(j);
    return {bytes.begin(), bytes.end()};
}

monitor_result monitor_result_of(const std::string& bytes) {
    try {
        const nlohmann::json j = nlohmann::json::from_cbor(bytes);
        const int version = j.at("version").get<int>();
        if (version != result_version && version != 1) {
            throw database_error("the store holds a monitor's result of version " + std::to_string(version) +
                                 "; this build reads version " + std::to_string(result_version));
        }
        return j.at("result").get<monitor_result>();
    } catch (const nlohmann::json::exception& e) {
        throw database_error(std::string("the store's monitor result cannot be read: ") + e.what());
    }
}

}  // namespace workbench
