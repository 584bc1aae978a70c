#include "base/words.h"

#include "base/errors.h"

#include <charconv>
#include <utility>
#include <vector>

namespace workbench {
namespace {

// A mention: start, its kind ('a' advice, 's' a subject), then its parts
// (advice: field, key, value; a subject: name, index, key, text, echo),
// each after a separator, then the end.
constexpr char mention_start = '\x01';
constexpr char mention_part = '\x1f';
constexpr char mention_end = '\x02';

std::vector<std::string_view> split_parts(std::string_view s) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    for (;;) {
        const std::size_t next = s.find(mention_part, at);
        parts.push_back(s.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos) return parts;
        at = next + 1;
    }
}

std::string safe(std::string_view s) {
    std::string out(s);
    for (char& ch : out) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u == 0x7f) ch = '?';
    }
    return out;
}

// An index as written in a mention: digits, or nothing.
bool index_of(std::string_view s, std::size_t& index) {
    if (s.empty()) return true;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), index);
    return ec == std::errc() && end == s.data() + s.size();
}

class neutral final : public vocabulary {
public:
    std::string subject(const field_ref& f) const override {
        std::string s = f.name;
        if (f.index) s += "[" + std::to_string(*f.index) + "]";
        if (f.echo && !f.text.empty()) s += " " + f.text;
        return s;
    }
    std::string named(std::string_view field, std::string_view key, std::string_view value) const override {
        std::string s(field);
        if (!key.empty()) return s + " " + std::string(key) + "=" + std::string(value);
        if (!value.empty()) s += " " + std::string(value);
        return s;
    }
};

}  // namespace

field_ref field(std::string name) { return field_ref{std::move(name)}; }

field_ref given(std::string name, std::string text) {
    field_ref f{std::move(name)};
    f.text = std::move(text);
    f.echo = true;
    return f;
}

field_ref entry(std::string name, std::size_t index, std::string text, std::string key) {
    field_ref f{std::move(name), index, std::move(key), std::move(text), true};
    return f;
}

std::string mention(std::string_view field, std::string_view key, std::string_view value) {
    std::string s(1, mention_start);
    s += 'a';
    for (const std::string_view part : {field, key, value}) {
        s += mention_part;
        s += safe(part);
    }
    s += mention_end;
    return s;
}

std::string cite(const field_ref& f) {
    std::string s(1, mention_start);
    s += 's';
    const std::string index = f.index ? std::to_string(*f.index) : "";
    for (const std::string_view part : {std::string_view(f.name), std::string_view(index), std::string_view(f.key),
                                        std::string_view(f.text), std::string_view(f.echo ? "1" : "")}) {
        s += mention_part;
        s += safe(part);
    }
    s += mention_end;
    return s;
}

const vocabulary& neutral_vocabulary() {
    static const neutral v;
    return v;
}

std::size_t mention_at(std::string_view text, std::size_t at, const vocabulary* v, std::string* out) {
    if (at >= text.size() || text[at] != mention_start) return 0;
    const std::size_t end = text.find(mention_end, at);
    if (end == std::string_view::npos) return 0;
    const std::vector<std::string_view> parts = split_parts(text.substr(at + 1, end - at - 1));
    std::size_t index = 0;
    if (parts.size() == 4 && parts[0] == "a") {
        if (v != nullptr) *out += v->named(parts[1], parts[2], parts[3]);
    } else if (parts.size() == 6 && parts[0] == "s" && index_of(parts[2], index)) {
        if (v != nullptr) {
            field_ref f{std::string(parts[1])};
            if (!parts[2].empty()) f.index = index;
            f.key = parts[3];
            f.text = parts[4];
            f.echo = !parts[5].empty();
            *out += v->subject(f);
        }
    } else {
        return 0;
    }
    return end + 1 - at;
}

std::string in_words(std::string_view text, const vocabulary& v) {
    if (text.find(mention_start) == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find(mention_start, at);
        if (start == std::string_view::npos) break;
        out.append(text, at, start - at);
        const std::size_t n = mention_at(text, start, &v, &out);
        if (n == 0) {
            // Not one of ours: kept as it stands.
            out += text[start];
            at = start + 1;
        } else {
            at = start + n;
        }
    }
    out.append(text, at);
    return out;
}

std::string neutral_words(std::string_view text) { return in_words(text, neutral_vocabulary()); }

std::string neutral_words(const field_ref& f) { return neutral_vocabulary().subject(f); }

std::string in_words(const input_error& e, const vocabulary& v) {
    const std::optional<field_ref>& f = e.place().field;
    if (f) return v.subject(*f) + ": " + in_words(e.reason(), v);
    return in_words(e.message(), v);
}

}  // namespace workbench
