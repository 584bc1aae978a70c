#include "report/estimate_file.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "io/case_file.h"
#include "base/input_files.h"
#include "base/text.h"
#include "model/limits.h"
#include "model/schema.h"
#include "report/estimate_report.h"
#include "report/run_report.h"

namespace workbench {
namespace {

using json = nlohmann::json;

const message how_to_write = mention("estimate_file") + " writes one";

class reader {
public:
    reader(const json& root, const std::string& file) : root_(root), file_(file) {}

    input_error wrong(const std::string& key, const message& why) const {
        const message reason = (key.empty() ? "" : key + ": ") + why;
        return input_error(file_ + ": " + reason, reason, input_place{key, file_, 0, 0});
    }

    // The member at a dotted path; null when absent and not required.
    const json& at(const std::string& path, bool required = true) const {
        static const json null_value;
        const json* j = &root_;
        std::size_t start = 0;
        for (;;) {
            const std::size_t dot = path.find('.', start);
            const std::string key = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
            if (!j->is_object() || !j->contains(key)) {
                if (required) throw wrong(path, "missing (not what `" + mention("estimate_json") + "` writes)");
                return null_value;
            }
            j = &(*j)[key];
            if (dot == std::string::npos) return *j;
            start = dot + 1;
        }
    }

    double number(const json& j, const std::string& key, bool positive) const {
        if (!j.is_number()) throw wrong(key, "must be a number");
        const double v = j.get<double>();
        if (!std::isfinite(v) || (positive && !(v > 0.0))) {
            throw wrong(key, positive ? "must be a finite number > 0" : "must be a finite number");
        }
        return v;
    }
    double number(const std::string& path, bool positive) const { return number(at(path), path, positive); }

    // A number, or nullopt for null.
    std::optional<double> maybe(const json& j, const std::string& key) const {
        if (j.is_null()) return std::nullopt;
        return number(j, key, true);
    }

    bool flag(const json& j, const std::string& key) const {
        if (!j.is_boolean()) throw wrong(key, "must be true or false");
        return j.get<bool>();
    }

private:
    const json& root_;
    const std::string& file_;
};

}  // namespace

factor_uncertainty parse_estimate(const std::string& text, const std::string& file) {
    check_json_size(text, file, "an estimate file", max_estimate_file_values);
    json j;
    try {
        j = json::parse(text, nullptr, true, /*ignore_comments=*/true);
    } catch (const json::parse_error& e) {
        const json_complaint c = json_complaint_of(text, e.byte, e.what());
        const message reason = "not an estimate (malformed JSON: " + c.what + "); " + how_to_write;
        throw input_error(file + ":" + std::to_string(c.line) + ": " + reason, reason, input_place{"", file, c.line, 0});
    } catch (const json::exception& e) {
        const message reason = std::string("not an estimate (") + e.what() + "); " + how_to_write;
        throw input_error(file + ": " + reason, reason, input_place{"", file, 0, 0});
    }
    const reader r(j, file);
    if (!j.is_object()) throw r.wrong("", std::string("not an estimate (the JSON is no object); ") + how_to_write);
    if (!j.contains("parameters")) {
        const bool case_file = j.contains("reactor") || j.contains("feed") || j.contains("kinetics");
        const bool run = j.contains("profile") && j.contains("co2_conversion");
        throw r.wrong("", std::string(case_file ? "looks like a case file, not an estimate"
                                      : run     ? "looks like a run's JSON, not an estimate"
                                                : "not an estimate (it has no \"parameters\")") +
                              "; " + how_to_write);
    }
    // A document names the schema it was written by (one without: by a
    // build before they did, which this one reads); a newer one's fields
    // may mean what this build cannot know.
    const json& written = r.at("build.schema_version", false);
    if (!written.is_null() && !(written.is_number_integer() && written.get<long long>() <= schema_version)) {
        throw r.wrong("build.schema_version", "written by a newer urea-reactor (schema version " + written.dump() +
                                                  "; this one reads up to " + std::to_string(schema_version) +
                                                  "): read it with that build");
    }
    factor_uncertainty u;
    u.source = file;
    const std::array<const char*, 2> names = {"a1", "a2"};
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string p = std::string("parameters.") + names[k];
        u.value[k] = r.number(p + ".value", true);
        u.free[k] = r.flag(r.at(p + ".free"), p + ".free");
        const json& prof = r.at(p + ".profile95", false);
        if (!prof.is_null()) {
            if (!prof.is_array() || prof.size() != 2) throw r.wrong(p + ".profile95", "must be [lower, upper] or null");
            u.has_profile[k] = u.free[k];
            u.profile_lower[k] = r.maybe(prof[0], p + ".profile95");
            u.profile_upper[k] = r.maybe(prof[1], p + ".profile95");
        }
    }
    u.scale_factor = r.number("interval_scale_factor", true);
    u.t_quantile = r.number("t_quantile", true);
    const double dof = r.number("degrees_of_freedom", false);
    if (dof < 0.0 || dof != std::floor(dof) || dof > 1e9) throw r.wrong("degrees_of_freedom", "must be a whole number >= 0");
    u.degrees_of_freedom = static_cast<int>(dof);
    const json& box = r.at("search_box", false);
    if (!box.is_null()) {
        u.lower = r.number("search_box.lower", true);
        u.upper = r.number("search_box.upper", true);
        if (!(u.upper > u.lower)) throw r.wrong("search_box", "lower must be below upper");
    }
    const json& cov = r.at("covariance_ln", false);
    if (!cov.is_null()) {
        if (!cov.is_array() || cov.size() != 2 || !cov[0].is_array() || !cov[1].is_array() || cov[0].size() != 2 ||
            cov[1].size() != 2) {
            throw r.wrong("covariance_ln", "must be a 2 x 2 matrix or null");
        }
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t jj = 0; jj < 2; ++jj) u.covariance[i][jj] = r.number(cov[i][jj], "covariance_ln", false);
        }
        if (u.covariance[0][0] < 0.0 || u.covariance[1][1] < 0.0) {
            throw r.wrong("covariance_ln", "a variance must be >= 0");
        }
        u.has_covariance = true;
    }
    const json& region = r.at("region", false);
    if (!region.is_null()) {
        likelihood_region& g = u.region;
        g.computed = true;
        g.threshold = r.number(r.at("region.threshold"), "region.threshold", true);
        g.open_a1_low = r.flag(r.at("region.open_a1_low"), "region.open_a1_low");
        g.open_a1_high = r.flag(r.at("region.open_a1_high"), "region.open_a1_high");
        g.open_a2 = r.flag(r.at("region.open_a2"), "region.open_a2");
        g.best = u.value;
        const json& pieces = r.at("region.pieces");
        if (!pieces.is_array()) throw r.wrong("region.pieces", "must be a list of lists of slices");
        for (const json& piece : pieces) {
            if (!piece.is_array()) throw r.wrong("region.pieces", "must be a list of lists of slices");
            std::vector<region_slice> slices;
            for (const json& s : piece) {
                if (!s.is_object() || !s.contains("a1") || !s.contains("a2_low") || !s.contains("a2_high")) {
                    throw r.wrong("region.pieces", "each slice needs a1, a2_low and a2_high");
                }
                region_slice x;
                x.a1 = r.number(s["a1"], "region.pieces: a1", true);
                x.a2_low = r.maybe(s["a2_low"], "region.pieces: a2_low").value_or(NAN);
                x.a2_high = r.maybe(s["a2_high"], "region.pieces: a2_high").value_or(NAN);
                if (s.contains("a2_best")) x.a2_best = r.maybe(s["a2_best"], "region.pieces: a2_best").value_or(NAN);
                if (s.contains("open_low")) x.open_low = r.flag(s["open_low"], "region.pieces: open_low");
                if (s.contains("open_high")) x.open_high = r.flag(s["open_high"], "region.pieces: open_high");
                slices.push_back(x);
            }
            g.pieces.push_back(std::move(slices));
        }
    }
    const json& runs = r.at("runs", false);
    if (runs.is_array()) {
        for (const json& x : runs) {
            if (x.is_object() && x.contains("run") && x["run"].is_string()) u.runs.push_back(x["run"].get<std::string>());
        }
    }
    const json& base = r.at("base_case", false);
    if (base.is_object() && base.contains("reactor")) {
        // The whole case, as a case file holds it.
        try {
            u.base = parse_case(base.dump(), file);
        } catch (const input_error& e) {
            const std::string& key = e.place().key;
            throw r.wrong("base_case" + (key.empty() ? std::string() : "." + key), e.reason());
        }
        u.base_whole = true;
    } else if (!base.is_null()) {
        // An estimate file of an earlier version: the case's reactor, its
        // temperatures and feed ratios, on the default case's feed.
        reactor_case b = default_case();
        b.name = file + "'s base case";
        const json& model = r.at("base_case.model");
        if (model != "trays" && model != "pfr") throw r.wrong("base_case.model", "must be \"trays\" or \"pfr\"");
        b.model = model == "pfr" ? reactor_model::pfr : reactor_model::trays;
        const double trays = r.number("base_case.trays", true);
        if (trays != std::floor(trays) || trays > max_trays) throw r.wrong("base_case.trays", "must be a whole number of trays");
        b.trays = static_cast<int>(trays);
        b.volume_m3 = r.number("base_case.volume_m3", true);
        b.pressure_bar = r.number("base_case.pressure_bar", true);
        b.inlet_temperature_C = r.number("base_case.inlet_temperature_C", false);
        b.outlet_temperature_C = r.number("base_case.outlet_temperature_C", false);
        // A ratio is null for a feed without CO2.
        const json& nh3 = r.at("base_case.nh3_co2_ratio");
        if (!nh3.is_null()) set_nh3_co2_ratio(b, r.number(nh3, "base_case.nh3_co2_ratio", false));
        const json& h2o = r.at("base_case.h2o_co2_ratio");
        if (!h2o.is_null()) set_h2o_co2_ratio(b, r.number(h2o, "base_case.h2o_co2_ratio", false));
        for (const char* k : {"a1", "a2"}) {
            const json& x = r.at(std::string("base_case.") + k, false);
            if (!x.is_null()) (k[1] == '1' ? b.a1 : b.a2) = r.number(x, std::string("base_case.") + k, false);
        }
        u.base = b;
        u.base_whole = false;
    }
    const json& runs_file = r.at("runs_file", false);
    if (runs_file.is_string()) u.runs_file = runs_file.get<std::string>();
    return u;
}

factor_uncertainty read_estimate_file(const std::string& path) {
    return parse_estimate(read_input_file(path, "estimate file"), path);
}


}  // namespace workbench
