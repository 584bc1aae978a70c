#include "io/case_file.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "base/input_files.h"
#include "base/text.h"
#include "model/schema.h"
#include "model/settings.h"

namespace workbench {
namespace {


using json = nlohmann::json;

// The line of a key in the text, by its path of keys (array levels left
// out): the `occurrence`-th key with that path, 0 when there is none. The
// text is read as JSON is, in one pass: a key is a string followed by a
// colon in an object, and comments and strings are stepped over, so that a
// key's name in a comment or a string value is not taken for it.
std::size_t line_of(const std::string& text, const std::vector<std::string>& path, int occurrence = 1) {
    if (path.empty()) return 0;
    const std::size_t n = text.size();
    std::size_t line = 1;
    std::vector<std::string> open;  // by enclosing container: the key it is the value of ("" in an array)
    std::vector<bool> in_object;
    std::string last_key;           // the key whose value comes next
    int seen = 0;
    // Steps over white space and comments from i; the index of what follows.
    const auto skip = [&](std::size_t i) {
        for (;;) {
            while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
                if (text[i++] == '\n') ++line;
            }
            if (i + 1 < n && text[i] == '/' && text[i + 1] == '/') {
                while (i < n && text[i] != '\n') ++i;
            } else if (i + 1 < n && text[i] == '/' && text[i + 1] == '*') {
                i += 2;
                while (i + 1 < n && !(text[i] == '*' && text[i + 1] == '/')) {
                    if (text[i++] == '\n') ++line;
                }
                i = std::min(n, i + 2);
            } else {
                return i;
            }
        }
    };
    // Whether the keys of the open objects and `key` are the path.
    const auto at_path = [&](const std::string& key) {
        std::size_t k = 0;
        for (const std::string& o : open) {
            if (o.empty()) continue;
            if (k >= path.size() || path[k] != o) return false;
            ++k;
        }
        return k + 1 == path.size() && path[k] == key;
    };
    for (std::size_t i = skip(0); i < n; i = skip(i)) {
        const char c = text[i];
        if (c == '"') {
            const std::size_t key_line = line;
            std::string s;
            for (++i; i < n && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < n) {
                    const char e = text[++i];
                    s += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
                } else {
                    if (text[i] == '\n') ++line;
                    s += text[i];
                }
            }
            i = skip(std::min(n, i + 1));
            if (i < n && text[i] == ':' && !in_object.empty() && in_object.back()) {
                if (at_path(s) && ++seen == occurrence) return key_line;
                last_key = std::move(s);
                ++i;
            }
            continue;
        }
        if (c == '{' || c == '[') {
            open.push_back(!in_object.empty() && in_object.back() ? last_key : "");
            in_object.push_back(c == '{');
        } else if ((c == '}' || c == ']') && !open.empty()) {
            open.pop_back();
            in_object.pop_back();
        }
        last_key.clear();
        ++i;
    }
    return 0;
}

// A key path as messages write it, "reactor.volume_m3" (array levels, "",
// left out).
std::string dotted(const std::vector<std::string>& path) {
    std::string key;
    for (const std::string& part : path) {
        if (!part.empty()) key += (key.empty() ? "" : ".") + part;
    }
    return key;
}

// Follows the keys as the parser reads: the path to an error the parser
// itself raises (a number too large for a double), to a number too small
// for one (it would read as 0), and the first key given twice in one object
// (a JSON parser keeps only the last, which would silently replace the
// first); and counts the values (each key, number, string, ...) and the
// nesting, stopping past the limits, before the text takes its memory.
class key_tracker : public nlohmann::json_sax<json> {
public:
    key_tracker(std::size_t max_values, std::size_t max_depth) : max_values_(max_values), max_depth_(max_depth) {}

    std::vector<std::string> path;  // the key of each enclosing object ("" in arrays)
    std::size_t position = 0;       // byte of the error
    std::string token;
    bool duplicate = false;         // stopped at a key given twice (path ends with it)
    bool too_small = false;         // stopped at a number too small for a double (token)
    bool too_many = false, too_deep = false;

    bool null() override { return count(); }
    bool boolean(bool) override { return count(); }
    bool number_integer(number_integer_t) override { return count(); }
    bool number_unsigned(number_unsigned_t) override { return count(); }
    bool number_float(number_float_t v, const string_t& written) override {
        // 0 from digits that are not all 0 (1e-400): below the least double.
        const std::string mantissa = written.substr(0, written.find_first_of("eE"));
        if (v == 0.0 && mantissa.find_first_of("123456789") != std::string::npos) {
            too_small = true;
            token = written;
            return false;
        }
        return count();
    }
    bool string(string_t&) override { return count(); }
    bool binary(binary_t&) override { return count(); }
    bool start_object(std::size_t) override { return open(); }
    bool key(string_t& k) override {
        path.back() = k;
        duplicate = !keys_.back().insert(k).second;
        return !duplicate && count();
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t at, const std::string& t, const nlohmann::detail::exception&) override {
        position = at;
        token = t;
        return false;
    }

private:
    bool count() {
        too_many = ++values_ > max_values_;
        return !too_many;
    }
    bool open() {
        path.emplace_back();
        keys_.emplace_back();
        too_deep = path.size() > max_depth_;
        return !too_deep && count();
    }
    bool close() {
        path.pop_back();
        keys_.pop_back();
        return true;
    }
    std::vector<std::unordered_set<std::string>> keys_;  // of each enclosing object
    std::size_t values_ = 0;
    std::size_t max_values_, max_depth_;
};

// Reads one JSON object with a fixed set of keys, reporting by key path.
class reader {
public:
    reader(const std::string& text, const std::string& file) : text_(text), file_(file) {}

    [[noreturn]] void fail(const std::vector<std::string>& path, const message& what) const {
        const std::string key = dotted(path);
        const std::size_t line = line_of(text_, path);
        std::string where = file_;
        if (line > 0) {
            where += ":" + std::to_string(line);
        }
        throw input_error(where + ": " + (key.empty() ? "" : key + ": ") + what, what,
                          input_place{key, file_, line, 0});
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
        // 1e3 and 10.0 are whole numbers too, as JSON writers may write them.
        const bool whole = v.is_number_integer() ||
                           (v.is_number_float() && std::isfinite(v.get<double>()) &&
                            v.get<double>() == std::floor(v.get<double>()) && std::abs(v.get<double>()) <= 1e6);
        if (!whole) fail(path, "must be a whole number");
        const auto i = v.is_number_integer() ? v.get<long long>() : static_cast<long long>(v.get<double>());
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

// The case's numbers that a section of the file ("reactor", "kinetics")
// holds, each with its key there, in the file's order.
std::vector<std::pair<const case_number*, std::string>> numbers_in(std::string_view section) {
    std::vector<std::pair<const case_number*, std::string>> out;
    for (const case_number& n : case_numbers()) {
        const std::string_view at = n.field->at;
        if (at.size() > section.size() && at.substr(0, section.size()) == section && at[section.size()] == '.') {
            out.emplace_back(&n, std::string(at.substr(section.size() + 1)));
        }
    }
    return out;
}

// Reads the section's numbers into the case: each one required, or those
// given.
void read_numbers(const reader& r, const json& j, const std::string& section, bool required, reactor_case& c) {
    for (const auto& [n, key] : numbers_in(section)) {
        const json* v = required ? &r.required(j, {section}, key) : r.find(j, key);
        if (v == nullptr) continue;
        const std::vector<std::string> path{section, key};
        n->set(c, n->field->kind == field_kind::count ? r.integer(*v, path) : r.number(*v, path));
    }
}

std::set<std::string> keys_in(const std::string& section, std::set<std::string> more = {}) {
    for (const auto& [n, key] : numbers_in(section)) more.insert(key);
    return more;
}

void read_reactor(const reader& r, const json& j, reactor_case& c) {
    const std::vector<std::string> at{"reactor"};
    r.object(j, at);
    r.only_keys(j, at, keys_in("reactor", {"model"}));
    if (const json* m = r.find(j, "model")) {
        if (*m == "trays") {
            c.model = reactor_model::trays;
        } else if (*m == "pfr") {
            c.model = reactor_model::pfr;
        } else {
            r.fail({"reactor", "model"}, "must be \"trays\" or \"pfr\"");
        }
    }
    read_numbers(r, j, "reactor", true, c);
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
    r.only_keys(j, at, keys_in("kinetics"));
    read_numbers(r, j, "kinetics", false, c);
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

}  // namespace

reactor_case parse_case(const std::string& text, const std::string& file) {
    // A first pass for what the parser below cannot say: a key given twice,
    // and the key of a number too large for a double (where the pass stops).
    key_tracker keys(max_case_file_values, max_json_depth);
    json::sax_parse(text, &keys, json::input_format_t::json, true, true);
    if (keys.too_many || keys.too_deep) {
        const std::string reason =
            keys.too_many ? "more than " + std::to_string(max_case_file_values) +
                                " values (keys, numbers, strings): a case file holds at most that many"
                          : "nested more than " + std::to_string(max_json_depth) + " deep: no case file is";
        throw input_error(file + ": " + reason, reason, input_place{"", file, 0, 0});
    }
    if (keys.too_small) {
        std::vector<std::string> path;
        for (const std::string& part : keys.path) {
            if (!part.empty()) path.push_back(part);
        }
        const std::string key = dotted(path);
        const std::size_t line = line_of(text, path);
        const std::string reason = "must be a number a double can hold (got " + keys.token +
                                   ", too small for a double, which reads it as 0; write 0 if 0 is meant)";
        throw input_error(file + (line > 0 ? ":" + std::to_string(line) : "") + ": " + (key.empty() ? "" : key + ": ") +
                              reason,
                          reason, input_place{key, file, line, 0});
    }
    if (keys.duplicate) {
        std::vector<std::string> path;
        for (const std::string& part : keys.path) {
            if (!part.empty()) path.push_back(part);
        }
        const std::size_t first = line_of(text, path), second = line_of(text, path, 2);
        const std::string key = dotted(path);
        std::string reason = "given twice";
        if (first > 0 && second > first) reason += " (lines " + std::to_string(first) + " and " + std::to_string(second) + ")";
        reason += ": give it once (a JSON reader would keep the last)";
        throw input_error(file + (second > 0 ? ":" + std::to_string(second) : "") + ": " + key + ": " + reason, reason,
                          input_place{key, file, second, 0});
    }
    json j;
    try {
        j = json::parse(text, nullptr, true, /*ignore_comments=*/true);
    } catch (const json::parse_error& e) {
        const json_complaint c = json_complaint_of(text, e.byte, e.what());
        throw input_error(file + ":" + std::to_string(c.line) + ": malformed JSON: " + c.what,
                          "malformed JSON: " + c.what, input_place{"", file, c.line, 0});
    } catch (const json::out_of_range&) {
        // A number the parser cannot hold: the first pass stopped at it.
        const std::string key = dotted(keys.path);
        const std::size_t line = json_complaint_of(text, keys.position, "").line;
        const std::string reason = "must be a finite number (got " + keys.token + ", too large for a double)";
        throw input_error(file + ":" + std::to_string(line) + ": " + (key.empty() ? "" : key + ": ") + reason,
                          reason, input_place{key, file, line, 0});
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
        std::vector<std::string> path;
        std::stringstream ss(e.place().key);
        for (std::string part; std::getline(ss, part, '.');) path.push_back(part);
        r.fail(path, e.reason());
    }
    return c;
}

json_complaint json_complaint_of(const std::string& text, std::size_t byte, const std::string& message) {
    // The parser gives the byte; count the lines up to it.
    const std::size_t at = std::min<std::size_t>(byte, text.size());
    json_complaint c;
    c.line = static_cast<std::size_t>(
                 std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at > 0 ? at - 1 : 0), '\n')) + 1;
    const std::size_t colon = message.find(": ");
    c.what = colon != std::string::npos ? message.substr(colon + 2) : message;
    return c;
}

void check_json_size(const std::string& text, const std::string& file, const std::string& what,
                     std::size_t max_values) {
    key_tracker counter(max_values, max_json_depth);
    json::sax_parse(text, &counter, json::input_format_t::json, true, true);
    if (counter.too_many || counter.too_deep) {
        const std::string reason =
            counter.too_many
                ? "more than " + std::to_string(max_values) + " values (keys, numbers, strings): " + what +
                      " holds at most that many"
                : "nested more than " + std::to_string(max_json_depth) + " deep: no " + what + " is";
        throw input_error(file + ": " + reason, reason, input_place{"", file, 0, 0});
    }
}

reactor_case read_case(const std::string& path) {
    return parse_case(read_input_file(path, "case file"), path);
}

nlohmann::ordered_json case_file_json(const reactor_case& c) {
    using ordered = nlohmann::ordered_json;
    ordered feed = ordered::object();
    for (std::size_t i = 0; i < component_count; ++i) feed[component_names[i]] = c.feed_kmol_h[i];
    const auto numbers = [&](const char* section, ordered out) {
        for (const auto& [n, key] : numbers_in(section)) {
            const double v = n->get(c);
            out[key] = n->field->kind == field_kind::count ? ordered(static_cast<int>(v)) : ordered(v);
        }
        return out;
    };
    ordered j = {{"name", c.name},
                 {"reactor", numbers("reactor", {{"model", model_name(c.model)}})},
                 {"feed_kmol_h", feed},
                 {"kinetics", numbers("kinetics", ordered::object())}};
    if (!c.tables.empty()) {
        ordered properties = ordered::object();
        for (const auto& [i, t] : c.tables) {
            ordered table = ordered::object();
            ordered celsius = ordered::array();
            // Exact both ways for any temperature from 136.6 K up (Sterbenz:
            // tk - kelvin is exact from kelvin / 2 to 2 kelvin).
            for (const double tk : t.temperature_K) celsius.push_back(tk - kelvin);
            table["temperature_C"] = celsius;
            if (!t.gibbs.empty()) table["gibbs_J_kmol"] = t.gibbs;
            if (!t.fugacity.empty()) table["fugacity_coefficient"] = t.fugacity;
            if (!t.molar_volume.empty()) table["molar_volume_m3_kmol"] = t.molar_volume;
            properties[component_names[i]] = table;
        }
        j["properties"] = properties;
    }
    return j;
}

std::string case_file_text(const reactor_case& c, const std::vector<std::string>& comments) {
    const nlohmann::ordered_json j = case_file_json(c);
    std::string out;
    for (const std::string& line : comments) out += "// " + printable(line) + "\n";
    // nlohmann writes each double with the fewest digits that read back
    // to the same double.
    return out + j.dump(2) + "\n";
}

}  // namespace workbench
