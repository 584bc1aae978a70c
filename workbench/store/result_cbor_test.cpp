// A monitor's result as the store keeps it: read back as written, and a
// result of the store's previous version (messages kept as texts with their
// mentions marked in them) read too.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "store/database.h"
#include "store/result_cbor.h"

namespace workbench {

// A message in a failing check, part by part.
void PrintTo(const message& m, std::ostream* os) {
    for (const message::part& p : m.parts()) {
        *os << "[" << static_cast<int>(p.what) << " '" << p.text << "' " << p.field.name << "/" << p.field.key << "/"
            << p.field.text << "]";
    }
}

namespace {

// A message as version 1 wrote it: its text with each mention marked in it.
std::string v1_text(const message& m) {
    std::string s;
    for (const message::part& p : m.parts()) {
        const field_ref& f = p.field;
        if (p.what == message::kind::text) {
            s += p.text;
        } else if (p.what == message::kind::advice) {
            s += "\x01" "a\x1f" + f.name + "\x1f" + f.key + "\x1f" + f.text + "\x02";
        } else {
            s += "\x01s\x1f" + f.name + "\x1f" + (f.index ? std::to_string(*f.index) : "") + "\x1f" + f.key + "\x1f" +
                 f.text + "\x1f" + (f.echo ? "1" : "") + "\x02";
        }
    }
    return s;
}

monitor_result with_messages() {
    monitor_result m;
    m.a1_note = "a1 = 1, held (" + mention("fix") + ")";
    monitor_window w;
    w.reason = "its case: " + cite(entry("trays", 2, "0")) + " is below 1 \x01 (a byte of the case's own)";
    m.windows.push_back(w);
    m.notes.push_back("h.csv: columns not used: x; " + mention("fix", "a1", "VALUE") + " holds another");
    return m;
}

TEST(ResultCbor, MessagesReadBackWithTheirMentionsFromThisVersionAndThePrevious) {
    const monitor_result m = with_messages();
    const monitor_result back = monitor_result_of(monitor_result_bytes(m));
    EXPECT_EQ(back.a1_note, m.a1_note);
    ASSERT_EQ(back.windows.size(), 1u);
    EXPECT_EQ(back.windows[0].reason, m.windows[0].reason);
    EXPECT_EQ(back.notes, m.notes);

    // Version 1: each message a text, its mentions marked in it.
    nlohmann::json j = nlohmann::json::from_cbor(monitor_result_bytes(m));
    ASSERT_EQ(j["version"], 2);
    j["version"] = 1;
    j["result"]["a1_note"] = v1_text(m.a1_note);
    j["result"]["windows"][0]["reason"] = v1_text(m.windows[0].reason);
    j["result"]["notes"] = nlohmann::json::array({v1_text(m.notes[0])});
    const std::vector<std::uint8_t> old = nlohmann::json::to_cbor(j);
    const monitor_result read = monitor_result_of(std::string(old.begin(), old.end()));
    EXPECT_EQ(read.a1_note, m.a1_note);
    EXPECT_EQ(read.windows[0].reason, m.windows[0].reason);
    EXPECT_EQ(read.notes, m.notes);

    // A message of a kind no build writes is refused.
    j["version"] = 2;
    const nlohmann::json field = {{"name", "fix"}, {"index", nullptr}, {"key", ""}, {"text", ""}, {"echo", false}};
    j["result"]["a1_note"] = nlohmann::json::array({{{"what", 7}, {"text", ""}, {"field", field}}});
    const std::vector<std::uint8_t> odd = nlohmann::json::to_cbor(j);
    EXPECT_THROW(monitor_result_of(std::string(odd.begin(), odd.end())), database_error);
}

}  // namespace
}  // namespace workbench
