#include "model/case.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace workbench {
namespace {

using json = nlohmann::json;

// Where a key sits in the text: the line of the first match of each quoted
// key of the path in turn, each searched after the one before. 0 when the
// path is not found (a key the file does not have).
std::size_t line_of(const std::string& text, const std::vector<std::string>& path) {
    std::size_t pos = 0;
    for (const std::string& key : path) {
        // The quoted key followed by a colon: a key, not a string value.
        const std::string quoted = '"' + key + '"';
        std::size_t at = text.find(quoted, pos);
        while (at != std::string::npos) {
            const std::size_t next = text.find_first_not_of(" \t\r\n", at + quoted.size());
            if (next != std::string::npos && text[next] == ':') break;
            at = text.find(quoted, at + 1);
        }
        if (at == std::string::npos) {
            return 0;
        }
        pos = at + 1;
    }
    if (path.empty()) {
        return 0;
    }
    return static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n')) + 1;
}

// Follows the keys as the parser reads, so that an error the parser itself
// raises (a number too large for a double) can be placed at its key.
class key_tracker : public nlohmann::json_sax<json> {
public:
    std::vector<std::string> path;  // the key of each enclosing object ("" in arrays)
    std::size_t position = 0;       // byte of the error
    std::string token;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override {
        path.emplace_back();
        return true;
    }
    bool key(string_t& k) override {
        path.back() = k;
        return true;
    }
    bool end_object() override {
        path.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        path.emplace_back();
        return true;
    }
    bool end_array() override {
        path.pop_back();
        return true;
    }
    bool parse_error(std::size_t at, const std::string& t, const nlohmann::detail::exception&) override {
        position = at;
        token = t;
        return false;
    }
};

// Reads one JSON object with a fixed set of keys, reporting by key path.
class reader {
public:
    reader(const std::string& text, const std::string& file) : text_(text), file_(file) {}

    [[noreturn]] void fail(const std::vector<std::string>& path, const std::string& what) const {
        std::string key;
        for (const std::string& part : path) {
            key += (key.empty() ? "" : ".") + part;
        }
        const std::size_t line = line_of(text_, path);
        std::string where = file_;
        if (line > 0) {
            where += ":" + std::to_string(line);
        }
        throw input_error(where + ": " + (key.empty() ? "" : key + ": ") + what);
    }

    const json& object(const json& j, const std::vector<std::string>& path) const {
        if (!j.is_object()) {
            fail(path, "must be an object { ... }");
        }
        return j;
    }

    void only_keys(const json& j, const std::vector<std::string>& path,
                   const std::set<std::string>& allowed) const {
        for (const auto& [key, value] : j.items()) {
            if (allowed.count(key) == 0) {
                auto at = path;
                at.push_back(key);
                std::string list;
                for (const std::string& a : allowed) {
                    list += (list.empty() ? "" : ", ") + a;
                }
                fail(at, "unknown key (known here: " + list + ")");
            }
        }
    }

    const json* find(const json& j, const std::string& key) const {
        const auto it = j.find(key);
        return it == j.end() ? nullptr : &*it;
    }

    const json& required(const json& j, const std::vector<std::string>& path,
                         const std::string& key) const {
        const json* v = find(j, key);
        if (v == nullptr) {
            fail(path, "missing field \"" + key + "\"");
        }
        return *v;
    }

    double number(const json& v, const std::vector<std::string>& path) const {
        if (!v.is_number()) {
            fail(path, "must be a number");
        }
        const double d = v.get<double>();
        if (!std::isfinite(d)) {
            fail(path, "must be a finite number");
        }
        return d;
    }

    int integer(const json& v, const std::vector<std::string>& path) const {
        if (!v.is_number_integer()) {
            fail(path, "must be a whole number");
        }
        const auto i = v.get<long long>();
        if (i < -1000000 || i > 1000000) {
            fail(path, "is out of range");
        }
        return static_cast<int>(i);
    }

    std::vector<double> numbers(const json& v, const std::vector<std::string>& path) const {
        if (!v.is_array()) {
            fail(path, "must be an array of numbers");
        }
        std::vector<double> out;
        for (const json& e : v) {
            out.push_back(number(e, path));
        }
        return out;
    }

private:
    const std::string& text_;
    const std::string& file_;
};

void read_reactor(const reader& r, const json& j, reactor_case& c) {
    const std::vector<std::string> at{"reactor"};
    r.object(j, at);
    r.only_keys(j, at, {"model", "trays", "volume_m3", "pressure_bar", "inlet_temperature_C",
                        "outlet_temperature_C"});
    if (const json* m = r.find(j, "model")) {
        if (*m == "trays") {
            c.model = reactor_model::trays;
        } else if (*m == "pfr") {
            c.model = reactor_model::pfr;
        } else {
            r.fail({"reactor", "model"}, "must be \"trays\" or \"pfr\"");
        }
    }
    c.trays = r.integer(r.required(j, at, "trays"), {"reactor", "trays"});
    c.volume_m3 = r.number(r.required(j, at, "volume_m3"), {"reactor", "volume_m3"});
    c.pressure_bar = r.number(r.required(j, at, "pressure_bar"), {"reactor", "pressure_bar"});
    c.inlet_temperature_C = r.number(r.required(j, at, "inlet_temperature_C"),
                                     {"reactor", "inlet_temperature_C"});
    c.outlet_temperature_C = r.number(r.required(j, at, "outlet_temperature_C"),
                                      {"reactor", "outlet_temperature_C"});
}

void read_feed(const reader& r, const json& j, reactor_case& c) {
    const std::vector<std::string> at{"feed_kmol_h"};
    r.object(j, at);
    c.feed_kmol_h.fill(0.0);
    for (const auto& [key, value] : j.items()) {
        const std::size_t i = component_index(key);
        if (i == component_count) {
            r.fail({"feed_kmol_h", key},
                   "unknown component (known: NH3, CO2, H2O, CARB, UREA, O2, N2)");
        }
        c.feed_kmol_h[i] = r.number(value, {"feed_kmol_h", key});
    }
    r.required(j, at, "CO2");
}

void read_kinetics(const reader& r, const json& j, reactor_case& c) {
    const std::vector<std::string> at{"kinetics"};
    r.object(j, at);
    r.only_keys(j, at, {"a1", "a2"});
    if (const json* v = r.find(j, "a1")) c.a1 = r.number(*v, {"kinetics", "a1"});
    if (const json* v = r.find(j, "a2")) c.a2 = r.number(*v, {"kinetics", "a2"});
}

void read_properties(const reader& r, const json& j, reactor_case& c) {
    r.object(j, {"properties"});
    for (const auto& [name, table] : j.items()) {
        const std::size_t i = component_index(name);
        const std::vector<std::string> at{"properties", name};
        if (i == component_count) {
            r.fail(at, "unknown component (known: NH3, CO2, H2O, CARB, UREA, O2, N2)");
        }
        r.object(table, at);
        r.only_keys(table, at,
                    {"temperature_C", "gibbs_J_kmol", "fugacity_coefficient",
                     "molar_volume_m3_kmol"});
        property_table t;
        const auto column = [&](const char* key, std::vector<double>& out) {
            if (const json* v = r.find(table, key)) {
                out = r.numbers(*v, {"properties", name, key});
            }
        };
        std::vector<double> t_C;
        t_C = r.numbers(r.required(table, at, "temperature_C"), {"properties", name, "temperature_C"});
        for (double tc : t_C) t.temperature_K.push_back(tc + kelvin);
        column("gibbs_J_kmol", t.gibbs);
        column("fugacity_coefficient", t.fugacity);
        column("molar_volume_m3_kmol", t.molar_volume);
        if (t.temperature_K.size() < 2) {
            r.fail({"properties", name, "temperature_C"}, "needs at least two temperatures");
        }
        for (std::size_t k = 1; k < t.temperature_K.size(); ++k) {
            if (!(t.temperature_K[k] > t.temperature_K[k - 1])) {
                r.fail({"properties", name, "temperature_C"}, "must be strictly increasing");
            }
        }
        const auto same_length = [&](const char* key, const std::vector<double>& v, bool positive) {
            if (!v.empty() && v.size() != t.temperature_K.size()) {
                r.fail({"properties", name, key},
                       "has " + std::to_string(v.size()) + " values for " +
                           std::to_string(t.temperature_K.size()) + " temperatures");
            }
            for (double d : v) {
                if (positive && !(d > 0.0)) {
                    r.fail({"properties", name, key}, "values must be > 0");
                }
            }
        };
        same_length("gibbs_J_kmol", t.gibbs, false);
        same_length("fugacity_coefficient", t.fugacity, true);
        same_length("molar_volume_m3_kmol", t.molar_volume, true);
        c.tables[i] = std::move(t);
    }
}

double co2_fed(const reactor_case& c) { return c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB]; }

}  // namespace

std::size_t component_index(const std::string& name) {
    for (std::size_t i = 0; i < component_count; ++i) {
        if (name == component_names[i]) return i;
    }
    return component_count;
}

reactor_case default_case() {
    reactor_case c;
    c.a2 = default_a2;
    c.feed_kmol_h[CO2] = 2400.0;
    set_nh3_co2_ratio(c, 3.07);
    set_h2o_co2_ratio(c, 0.41);
    // Passivation air, about 0.6 vol% of the CO2 feed's gas.
    c.feed_kmol_h[O2] = 3.0;
    c.feed_kmol_h[N2] = 11.3;
    return c;
}

void set_nh3_co2_ratio(reactor_case& c, double ratio) {
    c.feed_kmol_h[NH3] = ratio * co2_fed(c) - 2.0 * c.feed_kmol_h[CARB];
}
void set_h2o_co2_ratio(reactor_case& c, double ratio) {
    c.feed_kmol_h[H2O] = ratio * co2_fed(c);
}
double nh3_co2_ratio(const reactor_case& c) {
    return (c.feed_kmol_h[NH3] + 2.0 * c.feed_kmol_h[CARB]) / co2_fed(c);
}
double h2o_co2_ratio(const reactor_case& c) { return c.feed_kmol_h[H2O] / co2_fed(c); }

reactor_case parse_case(const std::string& text, const std::string& file) {
    json j;
    try {
        j = json::parse(text, nullptr, true, /*ignore_comments=*/true);
    } catch (const json::parse_error& e) {
        // The parser gives the byte; count the lines up to it.
        const std::size_t byte = std::min<std::size_t>(e.byte, text.size());
        const std::size_t line =
            static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(byte > 0 ? byte - 1 : 0), '\n')) + 1;
        std::string what = e.what();
        // nlohmann's text: "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
        const std::size_t colon = what.find(": ");
        if (colon != std::string::npos) what = what.substr(colon + 2);
        throw input_error(file + ":" + std::to_string(line) + ": malformed JSON: " + what);
    } catch (const json::out_of_range&) {
        // A number the parser cannot hold: find its key.
        key_tracker keys;
        json::sax_parse(text, &keys, json::input_format_t::json, true, true);
        std::string key;
        for (const std::string& part : keys.path) {
            if (!part.empty()) key += (key.empty() ? "" : ".") + part;
        }
        const std::size_t byte = std::min<std::size_t>(keys.position, text.size());
        const std::size_t line = static_cast<std::size_t>(std::count(
                                     text.begin(), text.begin() + static_cast<std::ptrdiff_t>(byte > 0 ? byte - 1 : 0), '\n')) + 1;
        throw input_error(file + ":" + std::to_string(line) + ": " + (key.empty() ? "" : key + ": ") +
                          "must be a finite number (got " + keys.token + ", too large for a double)");
    }
    const reader r(text, file);
    r.object(j, {});
    r.only_keys(j, {}, {"name", "reactor", "feed_kmol_h", "kinetics", "properties"});
    reactor_case c = default_case();
    c.name = file;
    if (const json* v = r.find(j, "name")) {
        if (!v->is_string()) r.fail({"name"}, "must be a string");
        c.name = v->get<std::string>();
    }
    read_reactor(r, r.required(j, {}, "reactor"), c);
    read_feed(r, r.required(j, {}, "feed_kmol_h"), c);
    if (const json* v = r.find(j, "kinetics")) read_kinetics(r, *v, c);
    if (const json* v = r.find(j, "properties")) read_properties(r, *v, c);

    // Range checks, reported with the key and line of the file.
    try {
        validate(c);
    } catch (const input_error& e) {
        const std::string msg = e.what();
        const std::size_t colon = msg.find(": ");
        const std::string key = msg.substr(0, colon);
        std::vector<std::string> path;
        std::stringstream ss(key);
        for (std::string part; std::getline(ss, part, '.');) path.push_back(part);
        r.fail(path, msg.substr(colon + 2));
    }
    return c;
}

reactor_case read_case(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw input_error(path + ": cannot open the case file");
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_case(text.str(), path);
}

std::vector<std::string> validate(const reactor_case& c) {
    // Each message starts with the key it is about, then ": ".
    if (c.trays < 1) {
        throw input_error("reactor.trays: must be at least 1 (got " + std::to_string(c.trays) + ")");
    }
    if (c.trays > 10000) {
        throw input_error("reactor.trays: at most 10000 trays (got " + std::to_string(c.trays) + ")");
    }
    const auto positive = [](const char* key, double v, const char* unit) {
        if (!(v > 0.0) || !std::isfinite(v)) {
            std::ostringstream m;
            m << key << ": must be > 0 " << unit << " (got " << v << ")";
            throw input_error(m.str());
        }
    };
    positive("reactor.volume_m3", c.volume_m3, "m3");
    positive("reactor.pressure_bar", c.pressure_bar, "bar");
    positive("kinetics.a1", c.a1, "");
    positive("kinetics.a2", c.a2, "");
    for (std::size_t i = 0; i < component_count; ++i) {
        if (!(c.feed_kmol_h[i] >= 0.0) || !std::isfinite(c.feed_kmol_h[i])) {
            std::ostringstream m;
            m << "feed_kmol_h." << component_names[i] << ": a flow must not be negative (got "
              << c.feed_kmol_h[i] << " kmol/h)";
            throw input_error(m.str());
        }
        if (c.feed_kmol_h[i] > max_flow_kmol_h) {
            std::ostringstream m;
            m << "feed_kmol_h." << component_names[i] << ": " << c.feed_kmol_h[i]
              << " kmol/h is above " << max_flow_kmol_h << " kmol/h, more than any reactor takes";
            throw input_error(m.str());
        }
    }
    if (!(co2_fed(c) > 0.0)) {
        throw input_error(
            "feed_kmol_h.CO2: no CO2 in the feed (neither free nor as CARB): nothing to convert");
    }
    std::vector<std::string> warnings;
    const auto temperature = [&](const char* key, double t_C) {
        if (!std::isfinite(t_C) || t_C + kelvin <= 0.0) {
            throw input_error(std::string(key) + ": not a temperature");
        }
        const double t = t_C + kelvin;
        if (t < plugin_t_min_K || t > plugin_t_max_K) {
            std::ostringstream m;
            m << key << " = " << t_C << " C is outside 149.85-199.85 C (423-473 K): the plug-in "
              << "clamps temperatures to that range, so rates and properties there are taken at "
              << (t < plugin_t_min_K ? "149.85 C" : "199.85 C");
            warnings.push_back(m.str());
        }
    };
    temperature("reactor.inlet_temperature_C", c.inlet_temperature_C);
    temperature("reactor.outlet_temperature_C", c.outlet_temperature_C);
    // Tables must cover the temperatures the plug-in asks for.
    for (const auto& [i, t] : c.tables) {
        const double lo = std::clamp(std::min(c.inlet_temperature_C, c.outlet_temperature_C) + kelvin,
                                     plugin_t_min_K, plugin_t_max_K);
        const double hi = std::clamp(std::max(c.inlet_temperature_C, c.outlet_temperature_C) + kelvin,
                                     plugin_t_min_K, plugin_t_max_K);
        if (t.temperature_K.front() > lo + 1e-9 || t.temperature_K.back() < hi - 1e-9) {
            std::ostringstream m;
            m << "properties." << component_names[i] << ".temperature_C: the grid "
              << t.temperature_K.front() - kelvin << " .. " << t.temperature_K.back() - kelvin
              << " C does not cover the reactor's " << lo - kelvin << " .. " << hi - kelvin << " C";
            throw input_error(m.str());
        }
    }
    return warnings;
}

}  // namespace workbench
