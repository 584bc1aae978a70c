// Messages in the caller's words. The library names what a caller gave by
// the fields of its requests ("vary", "fix", "co2_conversion"); each client
// says them in its own words: the command line as its options ("--vary
// a2=1:0:-5", "--fix a1=VALUE"), Python as its arguments ('vary["a2"]',
// 'fix={"a1": VALUE}'). A message of the library's (an error's reason, a
// warning, a verdict) holds mentions of fields where it advises what to
// give, and a client writes it with in_words and its vocabulary.
#ifndef UREA_WORKBENCH_BASE_WORDS_H
#define UREA_WORKBENCH_BASE_WORDS_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace workbench {

// A field of a request as a message's subject: the field, which of its
// values when it takes several, and that value as given.
struct field_ref {
    std::string name;                    // "vary", "fix", "co2_conversion", "trays", "csv"
    std::optional<std::size_t> index{};  // which value of a field given several times, from 0
    std::string key{};                   // that value's own name where the caller gave one (a dict's key)
    std::string text{};                  // the value as given ("a2=1:0:-5"), which the command line echoes
    bool echo = false;                   // the subject shows the value as given ("--co2 5e8: ...")
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
std::string mention(std::string_view field, std::string_view key = {}, std::string_view value = {});

// A field as a subject inside a message, as the vocabulary's subject()
// says it: "--vary a2=1:0:-5, --vary t-out=180:190:3: at the point ...".
std::string cite(const field_ref& f);

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

// The length of the mention that starts at text[at], or 0 when none does;
// with a vocabulary, the mention in its words appended to *out.
std::size_t mention_at(std::string_view text, std::size_t at, const vocabulary* v = nullptr, std::string* out = nullptr);

// A text with its mentions in the vocabulary's words.
std::string in_words(std::string_view text, const vocabulary& v);
std::string neutral_words(std::string_view text);
std::string neutral_words(const field_ref& f);

}  // namespace workbench

#endif
