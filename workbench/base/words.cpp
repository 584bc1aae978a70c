#include "base/words.h"

#include "base/errors.h"
#include "base/text.h"

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

message::message(std::string text) {
    if (!text.empty()) parts_.push_back(part{kind::text, std::move(text)});
}

message::message(const char* text) : message(std::string(text)) {}

message message::of_part(part p) {
    message m;
    if (p.what != kind::text || !p.text.empty()) m.parts_.push_back(std::move(p));
    return m;
}

message& message::operator+=(const message& m) {
    for (const part& p : m.parts_) {
        if (p.what == kind::text && !parts_.empty() && parts_.back().what == kind::text) {
            parts_.back().text += p.text;
        } else {
            parts_.push_back(p);
        }
    }
    return *this;
}

bool message::mentions() const {
    for (const part& p : parts_) {
        if (p.what != kind::text) return true;
    }
    return false;
}

message mention(std::string_view field, std::string_view key, std::string_view value) {
    field_ref f{safe(field)};
    f.key = safe(key);
    f.text = safe(value);
    return message::of_part({message::kind::advice, "", std::move(f)});
}

message cite(const field_ref& f) { return message::of_part({message::kind::subject, "", printable(f)}); }

std::string in_words(const message& m, const vocabulary& v) {
    std::string out;
    for (const message::part& p : m.parts()) {
        switch (p.what) {
            // Text that holds marks of mentions (a result's text, see marked()) has them said too.
            case message::kind::text: out += in_words(printable(p.text), v); break;
            case message::kind::advice: out += v.named(p.field.name, p.field.key, p.field.text); break;
            case message::kind::subject: out += v.subject(p.field); break;
        }
    }
    return out;
}

std::string neutral_words(const message& m) { return in_words(m, neutral_vocabulary()); }

std::vector<std::string> said_all(const std::vector<message>& ms, const vocabulary& v) {
    std::vector<std::string> out;
    out.reserve(ms.size());
    for (const message& m : ms) out.push_back(in_words(m, v));
    return out;
}

message printable(const message& m) {
    message out;
    for (message::part p : m.parts()) {
        if (p.what == message::kind::text) p.text = printable(p.text);
        out += message::of_part(std::move(p));
    }
    return out;
}

field_ref printable(field_ref f) {
    f.name = safe(f.name);
    f.key = safe(f.key);
    f.text = safe(f.text);
    return f;
}

std::string marked(const message& m) {
    std::string s;
    for (const message::part& p : m.parts()) {
        if (p.what == message::kind::text) {
            s += p.text;
            continue;
        }
        s += mention_start;
        s += p.what == message::kind::advice ? 'a' : 's';
        const field_ref& f = p.field;
        const std::string index = f.index ? std::to_string(*f.index) : "";
        const std::vector<std::string_view> fields =
            p.what == message::kind::advice
                ? std::vector<std::string_view>{f.name, f.key, f.text}
                : std::vector<std::string_view>{f.name, index, f.key, f.text, f.echo ? "1" : ""};
        for (const std::string_view part : fields) {
            s += mention_part;
            s += part;
        }
        s += mention_end;
    }
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

message from_marked(const std::string& text) {
    message out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find(mention_start, at);
        if (start == std::string::npos) break;
        const std::size_t n = mention_at(text, start);
        if (n == 0) {
            out += text.substr(at, start + 1 - at);
            at = start + 1;
            continue;
        }
        out += text.substr(at, start - at);
        const std::vector<std::string_view> parts = split_parts(std::string_view(text).substr(start + 1, n - 2));
        if (parts[0] == "a") {
            out += mention(parts[1], parts[2], parts[3]);
        } else {
            field_ref f{std::string(parts[1])};
            std::size_t index = 0;
            if (!parts[2].empty() && index_of(parts[2], index)) f.index = index;
            f.key = parts[3];
            f.text = parts[4];
            f.echo = !parts[5].empty();
            out += cite(f);
        }
        at = start + n;
    }
    if (at < text.size()) out += text.substr(at);
    return out;
}

std::string in_words(const std::string& text, const vocabulary& v) {
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

std::string neutral_words(const std::string& text) { return in_words(text, neutral_vocabulary()); }

std::string neutral_words(const field_ref& f) { return neutral_vocabulary().subject(f); }

std::string in_words(const input_error& e, const vocabulary& v) {
    const std::optional<field_ref>& f = e.place().field;
    if (f) return v.subject(*f) + ": " + in_words(e.reason(), v);
    return in_words(e.message(), v);
}

}  // namespace workbench
