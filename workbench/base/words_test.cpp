// Messages as objects: what each client says of the same message, and what
// a message keeps through an error.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/words.h"

namespace workbench {
namespace {

// A client's words unlike the library's own, so that a mention said in the
// wrong vocabulary shows.
class shouting final : public vocabulary {
public:
    std::string subject(const field_ref& f) const override {
        return "<" + f.name + (f.index ? "#" + std::to_string(*f.index) : "") + (f.echo ? " " + f.text : "") + ">";
    }
    std::string named(std::string_view field, std::string_view key, std::string_view value) const override {
        return "[" + std::string(field) + (key.empty() ? "" : "." + std::string(key)) +
               (value.empty() ? "" : "=" + std::string(value)) + "]";
    }
};

TEST(Words, EachClientSaysTheMentionsOfOneMessageInItsOwnWords) {
    const message m = cite(entry("vary", 1, "a2=1:0:-5")) + ": give " + mention("fix", "a1", "VALUE") + " or " +
                      mention("band", "", "profile") + ".";
    EXPECT_EQ(in_words(m, shouting()), "<vary#1 a2=1:0:-5>: give [fix.a1=VALUE] or [band=profile].");
    EXPECT_EQ(neutral_words(m), "vary[1] a2=1:0:-5: give fix a1=VALUE or band profile.");
    // Text joined to text is one part; each mention one of its own.
    ASSERT_EQ(m.parts().size(), 6u);
    EXPECT_EQ(m.parts()[1].text, ": give ");
    EXPECT_EQ(m.parts()[2].what, message::kind::advice);
    EXPECT_EQ(m.parts()[2].field.text, "VALUE");
    EXPECT_TRUE(m.mentions());
    EXPECT_FALSE(message("plain").mentions());
}

TEST(Words, WhatAFileOrACallerGaveIsShownPrintable) {
    // A line break and an escape in text from a file, and in a value given.
    const message m = std::string("run \"a\nb\x1b[2J\": ") + mention("fix", "a\x01", "1\x02");
    EXPECT_EQ(in_words(m, shouting()), "run \"a?b?[2J\": [fix.a?=1?]");
    const input_error e(given("co2", "5\n8"), "above " + mention("co2", "", "1e8"));
    EXPECT_EQ(std::string(e.what()), "co2 5?8: above co2 1e8");
    EXPECT_EQ(in_words(e, shouting()), "<co2 5?8>: above [co2=1e8]");
    EXPECT_EQ(in_words(e.reason(), shouting()), "above [co2=1e8]");
    // The whole message of an error about no field keeps its mentions too.
    const input_error plain("no runs\r: " + mention("csv", "", "-"));
    EXPECT_EQ(in_words(plain, shouting()), "no runs?: [csv=-]");
    EXPECT_EQ(std::string(plain.what()), "no runs?: csv -");
}

}  // namespace
}  // namespace workbench
