#include "report/band_report.h"

#include <algorithm>
#include <cmath>

#include "base/text.h"
#include "report/json_stream.h"

namespace workbench {
namespace {

using json = nlohmann::ordered_json;

// The decimal place that shows a band's width to two significant digits;
// nullopt without a band of some width.
std::optional<int> place_of(const result_band& b) {
    const double width = b.high - b.low;
    if (!(width > 0.0) || !std::isfinite(width)) return std::nullopt;
    return static_cast<int>(std::floor(std::log10(width))) - 1;
}

// To the band's place: decimals below the point, a whole number rounded
// to its place above it (88960, not 8.896e+04).
std::string number_text(double v, std::optional<int> place) {
    if (!std::isfinite(v)) return "-";
    if (!place) return sig(v, 6);
    if (*place < 0) return at_place(v, *place);
    const double unit = std::pow(10.0, *place);
    return fixed(std::round(v / unit) * unit, 0, 0);
}

}  // namespace

std::vector<message> band_heading(const band_plan& p) {
    const factor_uncertainty& u = p.u;
    std::vector<message> lines;
    lines.push_back("95 % bands from " + estimate_named(u) + ", at its a1 = " + sig(u.value[0], 4) +
                    ", a2 = " + sig(u.value[1], 4));
    lines.push_back(p.description);
    for (const message& n : p.notes) lines.push_back("note: " + n);
    return lines;
}

json band_json(const band_plan& p, const vocabulary& words) {
    return {{"method", band_method_name(p.method)},
            {"description", p.description},
            {"estimate", p.u.source},
            {"a1", p.u.value[0]},
            {"a2", p.u.value[1]},
            {"free", {{"a1", p.u.free[0]}, {"a2", p.u.free[1]}}},
            {"points", p.points.size()},
            {"notes", said_all(p.notes, words)}};
}

std::string band_value_text(const result_band& b, double value) { return number_text(value, place_of(b)); }

std::string band_text(const result_band& b) {
    if (!std::isfinite(b.low) || !std::isfinite(b.high)) return "none";
    const std::optional<int> place = place_of(b);
    std::string s = number_text(b.low, place) + " .. " + number_text(b.high, place);
    if (b.open_low && b.open_high) {
        s += ", open on both sides";
    } else if (b.open_low) {
        s += ", open below";
    } else if (b.open_high) {
        s += ", open above";
    }
    return s;
}

void print_prediction(std::ostream& out, const prediction& p, const band_plan& plan, const vocabulary& words) {
    const std::vector<std::string> head = said_all(band_heading(plan), words);
    out << "\nPredictions with " << head.front() << "\n";
    for (std::size_t k = 1; k < head.size(); ++k) out << "  " << head[k] << "\n";
    if (p.unsolved > 0) {
        out << "  note: the reactor could not be solved at " << p.unsolved << " of the band's " << p.points
            << " points; the bands are over the others\n";
    }
    std::size_t name_width = 8;
    for (const result_quantity& q : p.results) name_width = std::max(name_width, q.name.size() + 2);
    out << "\n  " << left_aligned("result", name_width) << left_aligned("unit", 10) << left_aligned("value", 12) << "95 % band\n";
    for (std::size_t k = 0; k < p.results.size(); ++k) {
        const result_quantity& q = p.results[k];
        out << "  " << left_aligned(q.name, name_width) << left_aligned(q.unit, 10) << left_aligned(band_value_text(p.bands[k], p.values[k]), 12)
            << band_text(p.bands[k]) << "\n";
    }
    if (std::any_of(p.bands.begin(), p.bands.end(), [](const result_band& b) { return b.open_low || b.open_high; })) {
        out << "  (open: the search box's edge cuts the band off on that side; the runs do not bound it)\n";
    }
}

table bands_table(const prediction& p) {
    table t;
    for (const schema_field& f : type_of("band").fields) t.add(f);
    for (std::size_t k = 0; k < p.results.size(); ++k) {
        const result_band& b = p.bands[k];
        std::size_t i = 0;
        t[i++].push(p.results[k].name);
        t[i++].push(std::string(p.results[k].unit));
        t[i++].push(p.values[k]);
        t[i++].push(b.low);
        t[i++].push(b.high);
        t[i++].push(b.open_low);
        t[i++].push(b.open_high);
    }
    return t;
}

json prediction_json(const prediction& p, const band_plan& plan, const vocabulary& words) {
    const auto band = [](const result_band& b) {
        return json{{"low", json_number(b.low)}, {"high", json_number(b.high)}, {"open_low", b.open_low}, {"open_high", b.open_high}};
    };
    json results = json::array();
    for (std::size_t k = 0; k < p.results.size(); ++k) {
        const result_band& b = p.bands[k];
        results.push_back({{"name", p.results[k].name},
                           {"unit", p.results[k].unit},
                           {"value", json_number(p.values[k])},
                           {"low", json_number(b.low)},
                           {"high", json_number(b.high)},
                           {"open_low", b.open_low},
                           {"open_high", b.open_high}});
    }
    json profile = json::array();
    for (const result_band& b : p.conversion_profile) profile.push_back(band(b));
    return {{"band", band_json(plan, words)},
            {"results", results},
            {"conversion_profile", profile},
            {"points", p.points},
            {"unsolved", p.unsolved}};
}

}  // namespace workbench
