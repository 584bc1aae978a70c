#include "base/words.h"

#include "base/errors.h"
#include "base/text.h"

#include <utility>
#include <vector>

namespace workbench {
namespace {

std::string safe(std::string_view s) {
    std::string out(s);
    for (char& ch : out) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u == 0x7f) ch = '?';
    }
    return out;
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
            case message::kind::text: out += printable(p.text); break;
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

const vocabulary& neutral_vocabulary() {
    static const neutral v;
    return v;
}

std::string neutral_words(const field_ref& f) { return neutral_vocabulary().subject(f); }

std::string in_words(const input_error& e, const vocabulary& v) {
    const std::optional<field_ref>& f = e.place().field;
    if (f) return v.subject(*f) + ": " + in_words(e.reason(), v);
    return in_words(e.message(), v);
}

}  // namespace workbench
