// Case files and command-line values: every class of bad input gets an
// input_error naming the key (and line), good files read as written.
#include <gtest/gtest.h>

#include <string>

#include "io/case_file.h"
#include "base/digest.h"
#include "base/text.h"

namespace {

using namespace workbench;

// A complete, valid case file; tests break one thing at a time.
const std::string good = R"({
  "name": "test",
  "reactor": {
    "model": "trays",
    "trays": 5,
    "volume_m3": 100,
    "pressure_bar": 140,
    "inlet_temperature_C": 172,
    "outlet_temperature_C": 185
  },
  "feed_kmol_h": {"NH3": 3000, "CO2": 1000, "H2O": 500, "O2": 1, "N2": 4},
  "kinetics": {"a1": 1, "a2": 0.2}
})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

// The message of the input_error that parsing throws ("" when it does not).
std::string error_of(const std::string& text) {
    try {
        parse_case(text, "case.json");
    } catch (const input_error& e) {
        return e.what();
    }
    return "";
}

TEST(CaseFile, ReadsEveryKeyAndKeepsDefaultsForOptionalOnes) {
    const reactor_case c = parse_case(good, "case.json");
    EXPECT_EQ(c.name, "test");
    EXPECT_EQ(c.trays, 5);
    EXPECT_EQ(c.volume_m3, 100.0);
    EXPECT_EQ(c.pressure_bar, 140.0);
    EXPECT_EQ(c.inlet_temperature_C, 172.0);
    EXPECT_EQ(c.outlet_temperature_C, 185.0);
    EXPECT_EQ(c.feed_kmol_h[NH3], 3000.0);
    EXPECT_EQ(c.feed_kmol_h[CARB], 0.0);  // left out: none
    EXPECT_EQ(c.a2, 0.2);
    const reactor_case no_kinetics =
        parse_case(replaced(good, R"(,
  "kinetics": {"a1": 1, "a2": 0.2})", ""), "case.json");
    EXPECT_EQ(no_kinetics.a2, default_a2);
    EXPECT_EQ(no_kinetics.a1, 1.0);
}

TEST(CaseFile, AnnotatedExampleIsTheDefaultCase) {
    const reactor_case file = read_case(UREA_EXAMPLES "/default-case.json");
    const reactor_case builtin = default_case();
    EXPECT_EQ(file.trays, builtin.trays);
    EXPECT_EQ(file.volume_m3, builtin.volume_m3);
    EXPECT_EQ(file.pressure_bar, builtin.pressure_bar);
    EXPECT_EQ(file.inlet_temperature_C, builtin.inlet_temperature_C);
    EXPECT_EQ(file.outlet_temperature_C, builtin.outlet_temperature_C);
    for (std::size_t i = 0; i < component_count; ++i) {
        EXPECT_NEAR(file.feed_kmol_h[i], builtin.feed_kmol_h[i], 1e-9) << component_names[i];
    }
    EXPECT_EQ(file.a2, builtin.a2);
    EXPECT_NEAR(nh3_co2_ratio(file), 3.07, 1e-12);
    EXPECT_NEAR(h2o_co2_ratio(file), 0.41, 1e-12);
}

TEST(CaseFile, MalformedJsonNamesTheLine) {
    const std::string msg = error_of(replaced(good, R"("trays": 5,)", R"("trays": 5,,)"));
    EXPECT_NE(msg.find("case.json:5: malformed JSON"), std::string::npos) << msg;
}

TEST(CaseFile, UnknownKeysAreRefusedWithKeyAndLine) {
    std::string msg = error_of(replaced(good, R"("trays": 5)", R"("trayz": 5)"));
    EXPECT_NE(msg.find("case.json:5: reactor.trayz: unknown key"), std::string::npos) << msg;
    msg = error_of(replaced(good, R"("name": "test",)", R"("name": "test", "colour": 1,)"));
    EXPECT_NE(msg.find("colour: unknown key"), std::string::npos) << msg;
    msg = error_of(replaced(good, R"("O2": 1)", R"("AR": 1)"));
    EXPECT_NE(msg.find("feed_kmol_h.AR: unknown component"), std::string::npos) << msg;
}

// The line of a key is where the key is, not a comment or a string that
// names it; a key's control characters are not printed; and what is read
// stays within bounds, refused at once beyond them.
TEST(CaseFile, AKeyIsPlacedWhereItIsAndTheTextIsReadWithinBounds) {
    const std::string commented =
        replaced(good, R"("model": "trays",)", "// \"trays\": N trays\n    \"model\": /* \"trays\": */ \"trays\",");
    std::string msg = error_of(replaced(commented, R"("trays": 5)", R"("trays": 0)"));
    EXPECT_EQ(msg.rfind("case.json:6: reactor.trays: must be at least 1", 0), 0u) << msg;
    msg = error_of(replaced(good, R"("trays": 5)", R"("trays": 5, "\u001b]0;x\u0007": 1)"));
    EXPECT_NE(msg.find("reactor.?]0;x?: unknown key"), std::string::npos) << msg;
    EXPECT_EQ(msg.find('\x1b'), std::string::npos);
    std::string keys = "{";
    for (int k = 0; k < 60000; ++k) keys += "\"k" + std::to_string(k) + "\": 1,";
    keys.back() = '}';
    EXPECT_EQ(error_of(keys), "case.json: more than 100000 values (keys, numbers, strings): a case file holds at "
                              "most that many");
    EXPECT_EQ(error_of(std::string(100, '[') + std::string(100, ']')),
              "case.json: nested more than 64 deep: no case file is");
}

TEST(CaseFile, MissingFieldsAreNamed) {
    std::string msg = error_of(replaced(good, R"("pressure_bar": 140,)", ""));
    EXPECT_NE(msg.find("reactor: missing field \"pressure_bar\""), std::string::npos) << msg;
    msg = error_of(replaced(good, R"("CO2": 1000, )", ""));
    EXPECT_NE(msg.find("feed_kmol_h: missing field \"CO2\""), std::string::npos) << msg;
    msg = error_of(R"({"reactor": {}})");
    EXPECT_NE(msg.find("missing field"), std::string::npos) << msg;
}

TEST(CaseFile, ValuesOutOfRangeNameTheirKey) {
    const struct {
        const char* from;
        const char* to;
        const char* expected;
    } cases[] = {
        {R"("NH3": 3000)", R"("NH3": -3000)", "case.json:11: feed_kmol_h.NH3: a flow must not be negative"},
        {R"("CO2": 1000)", R"("CO2": 0)", "feed_kmol_h.CO2: no CO2 in the feed"},
        {R"("pressure_bar": 140)", R"("pressure_bar": 0)", "case.json:7: reactor.pressure_bar: must be > 0"},
        {R"("pressure_bar": 140)", R"("pressure_bar": -3)", "reactor.pressure_bar: must be > 0"},
        {R"("trays": 5)", R"("trays": 0)", "case.json:5: reactor.trays: must be at least 1"},
        {R"("trays": 5)", R"("trays": 2.5)", "reactor.trays: must be a whole number"},
        {R"("volume_m3": 100)", R"("volume_m3": 0)", "reactor.volume_m3: must be > 0"},
        {R"("volume_m3": 100)", R"("volume_m3": "big")", "reactor.volume_m3: must be a number"},
        {R"("a2": 0.2)", R"("a2": -1)", "kinetics.a2: must be > 0"},
        {R"("model": "trays")", R"("model": "cstr")", "reactor.model: must be \"trays\" or \"pfr\""},
        {R"("volume_m3": 100)", R"("volume_m3": 1e-400)",
         "case.json:6: reactor.volume_m3: must be a number a double can hold (got 1e-400, too small for a double"},
        {R"("NH3": 3000, "CO2": 1000, "H2O": 500, "O2": 1, "N2": 4)", R"("CO2": 1e-6, "N2": 1e7)",
         "case.json:11: feed_kmol_h: the reacting components (NH3, CO2, H2O, CARB, UREA) are 1e-13 of the feed"},
    };
    for (const auto& t : cases) {
        const std::string msg = error_of(replaced(good, t.from, t.to));
        EXPECT_NE(msg.find(t.expected), std::string::npos) << t.to << " gave: " << msg;
    }
}

TEST(CaseFile, CarbamateAloneCountsAsCo2Fed) {
    const std::string text = replaced(good, R"("CO2": 1000)", R"("CO2": 0, "CARB": 800)");
    EXPECT_EQ(error_of(text), "");
}

TEST(CaseFile, TemperaturesThePluginClampsWarnButRun) {
    const reactor_case c = parse_case(replaced(good, R"("outlet_temperature_C": 185)",
                                               R"("outlet_temperature_C": 205)"), "case.json");
    const auto warnings = validate(c);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("reactor.outlet_temperature_C = 205 C is outside 149.85-199.85 C"),
              std::string::npos);
    EXPECT_NE(warnings[0].find("clamps"), std::string::npos);
    EXPECT_TRUE(validate(parse_case(good, "case.json")).empty());
}

TEST(CaseFile, PropertyTablesAreChecked) {
    const std::string with_table = replaced(good, R"("kinetics")", R"("properties": {
    "CARB": {"temperature_C": [150, 175, 200], "fugacity_coefficient": [1e-3, 2e-3, 3e-3]}
  },
  "kinetics")");
    const reactor_case c = parse_case(with_table, "case.json");
    ASSERT_EQ(c.tables.count(CARB), 1u);
    EXPECT_NEAR(c.tables.at(CARB).temperature_K[1], 448.15, 1e-12);
    EXPECT_TRUE(c.tables.at(CARB).gibbs.empty());

    std::string msg = error_of(replaced(with_table, "[150, 175, 200]", "[150, 200, 175]"));
    EXPECT_NE(msg.find("properties.CARB.temperature_C: must be strictly increasing"), std::string::npos) << msg;
    msg = error_of(replaced(with_table, "[1e-3, 2e-3, 3e-3]", "[1e-3, 2e-3]"));
    EXPECT_NE(msg.find("properties.CARB.fugacity_coefficient: has 2 values for 3 temperatures"), std::string::npos) << msg;
    msg = error_of(replaced(with_table, "[1e-3, 2e-3, 3e-3]", "[1e-3, 0, 3e-3]"));
    EXPECT_NE(msg.find("values must be > 0"), std::string::npos) << msg;
    msg = error_of(replaced(with_table, "[150, 175, 200]", "[175, 180, 200]"));
    EXPECT_NE(msg.find("does not cover the reactor's 172 .. 185 C"), std::string::npos) << msg;
    msg = error_of(replaced(with_table, R"("CARB": {)", R"("CARBAMATE": {)"));
    EXPECT_NE(msg.find("properties.CARBAMATE: unknown component"), std::string::npos) << msg;
}

TEST(FeedRatios, CountCarbamateAsItsNh3AndCo2) {
    reactor_case c = default_case();
    c.feed_kmol_h[CARB] = 100.0;
    set_nh3_co2_ratio(c, 3.5);
    set_h2o_co2_ratio(c, 0.5);
    EXPECT_NEAR((c.feed_kmol_h[NH3] + 200.0) / (c.feed_kmol_h[CO2] + 100.0), 3.5, 1e-12);
    EXPECT_NEAR(c.feed_kmol_h[H2O] / 2500.0, 0.5, 1e-12);
    EXPECT_NEAR(nh3_co2_ratio(c), 3.5, 1e-12);
}

TEST(CaseFile, WrittenCaseReadsBackAsTheSameCase) {
    // Every key away from the default, numbers that need all their digits,
    // property tables at temperatures whose Celsius value rounds, and
    // comments that try to break out of their line.
    reactor_case c = parse_case(good, "case.json");
    c.name = "tuned \"case\" \\ 2";
    c.model = reactor_model::pfr;
    c.a1 = 1.0 / 3.0;
    c.a2 = 0.15949666952582012;
    c.feed_kmol_h[CARB] = 0.1 + 0.2;
    c.tables = parse_case(replaced(good, R"("kinetics")", R"("properties": {"H2O": {"temperature_C": [150, 175.3, 200.1],
        "molar_volume_m3_kmol": [0.0203, 0.0204, 0.0206], "fugacity_coefficient": [1.1, 1.2, 1.3]}},
  "kinetics")"), "case.json").tables;
    const property_table t = c.tables.at(H2O);
    const std::string text = case_file_text(c, {"a2 estimated from runs.csv", "line\n} {\"name\": \"broken\""});
    EXPECT_EQ(text.rfind("// a2 estimated from runs.csv\n// line?} {\"name\": \"broken\"\n{", 0), 0u) << text;
    const reactor_case back = parse_case(text, "tuned.json");
    EXPECT_EQ(back.name, c.name);
    EXPECT_EQ(back.model, c.model);
    EXPECT_EQ(back.trays, c.trays);
    EXPECT_EQ(back.volume_m3, c.volume_m3);
    EXPECT_EQ(back.pressure_bar, c.pressure_bar);
    EXPECT_EQ(back.inlet_temperature_C, c.inlet_temperature_C);
    EXPECT_EQ(back.outlet_temperature_C, c.outlet_temperature_C);
    EXPECT_EQ(back.feed_kmol_h, c.feed_kmol_h);
    EXPECT_EQ(back.a1, c.a1);
    EXPECT_EQ(back.a2, c.a2);
    ASSERT_EQ(back.tables.size(), 1u);
    const property_table& u = back.tables.at(H2O);
    EXPECT_EQ(u.temperature_K, t.temperature_K);
    EXPECT_EQ(u.molar_volume, t.molar_volume);
    EXPECT_EQ(u.fugacity, t.fugacity);
    EXPECT_TRUE(u.gibbs.empty());
}

TEST(Text, DigestsAndDecimalPlaces) {
    // FIPS 180-2's examples.
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // A factor to a decimal place, its trailing zeros kept.
    EXPECT_EQ(at_place(0.16, -4), "0.1600");
    EXPECT_EQ(at_place(0.15949666, -4), "0.1595");
    EXPECT_EQ(at_place(0.2063, -4), "0.2063");
    EXPECT_EQ(at_place(3.1e-5, -6), "3.1e-05");
    EXPECT_EQ(at_place(2.0e-5, -6), "2.0e-05");
    EXPECT_EQ(at_place(1595.3, 0), "1595");
    EXPECT_EQ(at_place(0.0996, -3), "0.100");
}

}  // namespace
