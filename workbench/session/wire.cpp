#include "session/wire.h"

#include <bit>
#include <cmath>
#include <utility>

#include "base/text.h"

namespace workbench::wire {

namespace {

// nlohmann's tree builder, stopped past max_depth: its reader calls itself
// for each level, so a message nested deep enough would use up the stack.
class bounded_builder {
public:
    explicit bounded_builder(tree& root) : dom_(root, true) {}
    bool null() { return dom_.null(); }
    bool boolean(bool v) { return dom_.boolean(v); }
    bool number_integer(tree::number_integer_t v) { return dom_.number_integer(v); }
    bool number_unsigned(tree::number_unsigned_t v) { return dom_.number_unsigned(v); }
    bool number_float(tree::number_float_t v, const tree::string_t& s) { return dom_.number_float(v, s); }
    bool string(tree::string_t& v) { return dom_.string(v); }
    bool binary(tree::binary_t& v) { return dom_.binary(v); }
    bool start_object(std::size_t n) { return deeper() && dom_.start_object(n); }
    bool key(tree::string_t& v) { return dom_.key(v); }
    bool end_object() {
        --depth_;
        return dom_.end_object();
    }
    bool start_array(std::size_t n) { return deeper() && dom_.start_array(n); }
    bool end_array() {
        --depth_;
        return dom_.end_array();
    }
    template <class Exception>
    bool parse_error(std::size_t at, const std::string& token, const Exception& e) {
        return dom_.parse_error(at, token, e);
    }
    bool too_deep() const { return too_deep_; }

private:
    bool deeper() {
        if (++depth_ <= max_depth) return true;
        too_deep_ = true;
        return false;
    }
    nlohmann::detail::json_sax_dom_parser<tree> dom_;
    std::size_t depth_ = 0;
    bool too_deep_ = false;
};

std::string type_text(const tree& j) {
    switch (j.type()) {
        case tree::value_t::null: return "nothing";
        case tree::value_t::boolean: return "a yes/no";
        case tree::value_t::number_integer:
        case tree::value_t::number_unsigned: return "an integer";
        case tree::value_t::number_float: return "a number";
        case tree::value_t::string: return "text";
        case tree::value_t::binary: return "bytes";
        case tree::value_t::array: return "a list";
        case tree::value_t::object: return "a map";
        default: return "something else";
    }
}

[[noreturn]] void refuse(const std::string& why) { throw worker_answer_error("a message of the workers: " + why); }

}  // namespace

std::string encode(const std::string& kind, tree body) {
    tree j = tree::object();
    j["format"] = format;
    j["kind"] = kind;
    j["body"] = std::move(body);
    std::string out;
    tree::to_cbor(j, out);
    return out;
}

tree decode(const std::string& bytes, const std::string& kind) {
    if (bytes.size() > max_bytes) refuse(std::to_string(bytes.size()) + " bytes long");
    tree j;
    try {
        bounded_builder b(j);
        const bool whole = tree::sax_parse(bytes.begin(), bytes.end(), &b, nlohmann::detail::input_format_t::cbor, true);
        if (b.too_deep()) refuse("nested deeper than " + std::to_string(max_depth) + " levels");
        if (!whole) refuse("not read whole");
    } catch (const tree::parse_error& e) {
        // nlohmann's words, less its prefix: "[json.exception.parse_error.110] parse error at byte 3: ...".
        const std::string what = e.what();
        if (what.find("unexpected end of input") != std::string::npos) refuse("cut short");
        if (what.find("expected end of input") != std::string::npos) refuse("bytes past its end");
        const std::size_t at = what.find("] ");
        refuse(printable(at == std::string::npos ? what : what.substr(at + 2)));
    } catch (const tree::exception& e) {
        refuse(printable(std::string(e.what())));
    }
    if (!j.is_object() || !j.contains("format") || !j.contains("kind") || !j.contains("body")) {
        refuse("no envelope (format, kind and body)");
    }
    const tree& f = j["format"];
    if (!f.is_number_integer() || f.get<std::int64_t>() != format) {
        throw worker_answer_error("a worker's answer of format " + (f.is_number_integer() ? f.dump() : type_text(f)) +
                                  ", this build reads " + std::to_string(format));
    }
    const tree& k = j["kind"];
    if (!k.is_string() || k.get_ref<const std::string&>() != kind) {
        throw worker_answer_error("a worker's answer of another kind (" +
                                  (k.is_string() ? printable(k.get_ref<const std::string&>()) : type_text(k)) + "), not a " +
                                  kind);
    }
    return std::move(j["body"]);
}

void read_failed(const std::string& kind, const detail::wrong_value& e) {
    throw worker_answer_error("a " + kind + (e.path.empty() ? std::string() : " (field " + e.path + ")") + ": " + e.why);
}

namespace detail {

void wrong(const std::string& why) { throw wrong_value{"", why}; }

void wrong_type(const char* expected, const tree& got) { wrong(std::string(expected) + " expected, got " + type_text(got)); }

void in_field(const char* name, wrong_value&& e) {
    e.path = name + (e.path.empty() || e.path.front() == '[' ? e.path : "." + e.path);
    throw std::move(e);
}

void in_element(std::size_t k, wrong_value&& e) {
    e.path = "[" + std::to_string(k) + "]" + (e.path.empty() || e.path.front() == '[' ? e.path : "." + e.path);
    throw std::move(e);
}

const tree::array_t& fields_of(const tree& j, const char* const* names, std::size_t n) {
    if (!j.is_array()) wrong_type("a list of fields", j);
    const tree::array_t& a = j.get_ref<const tree::array_t&>();
    if (a.size() < n) in_field(names[a.size()], wrong_value{"", "missing"});
    if (a.size() > n) wrong(std::to_string(a.size() - n) + " fields past its last (" + names[n - 1] + ")");
    return a;
}

const tree::array_t& array_of(const tree& j, std::size_t size) {
    if (!j.is_array()) wrong_type("a list", j);
    const tree::array_t& a = j.get_ref<const tree::array_t&>();
    if (size != std::numeric_limits<std::size_t>::max() && a.size() != size) {
        wrong("a list of " + std::to_string(a.size()) + ", not " + std::to_string(size));
    }
    return a;
}

// A NaN as its 8 bytes, most significant first: CBOR's writer would make
// any NaN the one half-float NaN.
void put(tree& j, double x) {
    if (!std::isnan(x)) {
        j = x;
        return;
    }
    const auto bits = std::bit_cast<std::uint64_t>(x);
    tree::binary_t b;
    for (int k = 7; k >= 0; --k) b.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
    j = tree::binary(std::move(b));
}

void get(const tree& j, double& x) {
    if (j.is_number_float()) {
        x = j.get<double>();
    } else if (j.is_binary()) {
        const tree::binary_t& b = j.get_binary();
        if (b.size() != 8) wrong("a NaN of " + std::to_string(b.size()) + " bytes");
        std::uint64_t bits = 0;
        for (const std::uint8_t c : b) bits = bits << 8 | c;
        x = std::bit_cast<double>(bits);
        if (!std::isnan(x)) wrong("a number as bytes that is not a NaN");
    } else {
        wrong_type("a number", j);
    }
}

void put(tree& j, bool x) { j = x; }

void get(const tree& j, bool& x) {
    if (!j.is_boolean()) wrong_type("a yes/no", j);
    x = j.get<bool>();
}

void put(tree& j, const std::string& s) { j = s; }

void get(const tree& j, std::string& s) {
    if (!j.is_string()) wrong_type("text", j);
    s = j.get_ref<const std::string&>();
}

void get_integer(const tree& j, std::int64_t& x, std::int64_t least, std::uint64_t most) {
    if (j.is_number_unsigned()) {
        const auto v = j.get<std::uint64_t>();
        if (v > most) wrong("an integer of " + std::to_string(v) + ", out of range");
        x = static_cast<std::int64_t>(v);
    } else if (j.is_number_integer()) {
        x = j.get<std::int64_t>();
        if (x < least || (x >= 0 && static_cast<std::uint64_t>(x) > most)) {
            wrong("an integer of " + std::to_string(x) + ", out of range");
        }
    } else {
        wrong_type("an integer", j);
    }
}

}  // namespace detail

}  // namespace workbench::wire
