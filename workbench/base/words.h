// Messages in the caller's words. The library names what a caller gave by
// the fields of its requests ("vary", "fix", "co2_conversion"); each client
// says them in its own words: the command line as its options ("--vary
// a2=1:0:-5", "--fix a1=VALUE"), Python as its arguments ('vary["a2"]',
// 'fix={"a1": VALUE}'). A message of the library's (an error's reason, a
// warning, a note) is an object: its text in parts, some of them fields it
// is about or advises giving, and each client writes it with its vocabulary.
#ifndef UREA_WORKBENCH_BASE_WORDS_H
#define UREA_WORKBENCH_BASE_WORDS_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace workbench {

// A field of a request as a message's subject: the field, which of its
// values when it takes several, and that value as given.
struct field_ref {
    std::string name;                    // "vary", "fix", "co2_conversion", "trays", "csv"
    std::optional<std::size_t> index{};  // which value of a field given several times, from 0
    std::string key{};                   // that value's own name where the caller gave one (a dict's key)
    std::string text{};                  // the value as given ("a2=1:0:-5"), which the command line echoes
    bool echo = false;                   // the subject shows the value as given ("--co2 5e8: ...")
    bool operator==(const field_ref&) const = default;
};

// A message: plain text and mentions of fields, in the order they are
// said. A mention is advice (a field to give, with a key and a value where
// they are part of the advice: the field's name, key and value in field.name,
// field.key and field.text) or a subject (a field the message is about, as
// given). Text as it was given is kept as it is; a client that shows it
// makes it printable. Messages join with + and +=, with each other and with
// text.
class message {
public:
    enum class kind : unsigned char { text, advice, subject };
    struct part {
        kind what = kind::text;
        std::string text{};   // plain text
        field_ref field{};    // advice and subject
        bool operator==(const part&) const = default;
    };

    message() = default;
    message(std::string text);  // NOLINT(google-explicit-constructor): text is a message
    message(const char* text);  // NOLINT(google-explicit-constructor)
    static message of_part(part p);

    message& operator+=(const message& m);
    friend message operator+(message a, const message& b) {
        a += b;
        return a;
    }
    bool operator==(const message&) const = default;

    const std::vector<part>& parts() const { return parts_; }
    bool empty() const { return parts_.empty(); }
    // Whether any part is a mention of a field.
    bool mentions() const;

private:
    std::vector<part> parts_;
};

// A field alone ("--vary: give at least one"), a field with its value as
// given ("--co2 5e8: above ..."), and one value of a field given several
// times ("--vary a2=1:0:-5: ..."; key: its own name, e.g. the quantity).
field_ref field(std::string name);
field_ref given(std::string name, std::string text);
field_ref entry(std::string name, std::size_t index, std::string text, std::string key = "");

// A field mentioned inside a message, optionally with a value to give it:
// mention("fix", "a1", "1") reads "--fix a1=1" on the command line and
// 'fix={"a1": 1}' in Python; mention("band", "", "linearised") "--band
// linearised" and "band=linearised"; mention("fix") "--fix" and "fix".
// Control characters in the parts are replaced by '?'.
message mention(std::string_view field, std::string_view key = {}, std::string_view value = {});

// A field as a subject inside a message, as the vocabulary's subject()
// says it: "--vary a2=1:0:-5, --vary t-out=180:190:3: at the point ...".
message cite(const field_ref& f);

// How a client names fields.
class vocabulary {
public:
    virtual ~vocabulary() = default;
    // A message's subject.
    virtual std::string subject(const field_ref& f) const = 0;
    // A field mentioned in a message (key, value: empty when not given).
    virtual std::string named(std::string_view field, std::string_view key, std::string_view value) const = 0;
};

// The library's own words, for what() and C++ callers: a field by its name
// ("vary[2]: ...", "co2 5e8: ..."), a mention as "fix a1=1".
const vocabulary& neutral_vocabulary();

// A message in the vocabulary's words, its text made printable (a control
// character shown as '?').
std::string in_words(const message& m, const vocabulary& v);
std::string neutral_words(const message& m);
// Not for text: it has no mentions to say, and printable() is what makes it
// fit for a terminal.
std::string in_words(const std::string& text, const vocabulary& v) = delete;
std::string neutral_words(const std::string& text) = delete;
std::string neutral_words(const field_ref& f);
std::vector<std::string> said_all(const std::vector<message>& ms, const vocabulary& v);

// A message with its text made printable, its mentions kept; a field with
// its name, key and text made printable.
message printable(const message& m);
field_ref printable(field_ref f);

}  // namespace workbench

#endif
