#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "standin/standin_host.h"
#include "tests/plugin.h"

namespace {

using testing_host::plugin;

std::uint64_t bits_of(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

class Cmploc : public ::testing::Test {
protected:
    void SetUp() override {
        standin::reset();
        standin::set_components({"H2O", "NH3", "CO2", "CARB", "UREA"}, 61);
    }
    struct result {
        host_int index;
        double value;
    };
    result find(const host_word& w1, const host_word& w2, const double* vec) {
        const host_name name = {w1, w2};
        result r{-99, -99.0};
        lib.cmploc(&name, vec, &r.index, &r.value);
        return r;
    }
    result find(const char* text, const double* vec) {
        return find(standin::word(text), standin::word(""), vec);
    }
    plugin& lib = testing_host::loaded_plugin();
    const double flows[5] = {10.0, 20.0, 30.0, 40.0, 50.0};
};

TEST_F(Cmploc, FindsPositionAndEntry) {
    const result r = find("CO2", flows);
    EXPECT_EQ(r.index, 3);
    EXPECT_EQ(r.value, 30.0);
    EXPECT_EQ(find("H2O", flows).index, 1);
    EXPECT_EQ(find("UREA", flows).value, 50.0);
}

TEST_F(Cmploc, MissingNameGivesLastPositionAndZero) {
    const result r = find("O2", flows);
    EXPECT_EQ(r.index, 5);
    EXPECT_EQ(r.value, 0.0);
    EXPECT_FALSE(std::signbit(r.value));
}

TEST_F(Cmploc, EmptyOrNegativeCountNeverReadsTheVector) {
    for (const host_int nc : {host_int{0}, host_int{-3}}) {
        standin::set_component_count(nc);
        const result r = find("CO2", nullptr);
        EXPECT_EQ(r.index, 0);
        EXPECT_EQ(r.value, 0.0);
    }
}

TEST_F(Cmploc, ComparesBothWordsByteForByte) {
    EXPECT_EQ(find("co2", flows).index, 5) << "lower case must not match";
    EXPECT_EQ(find(" CO2", flows).index, 5) << "a leading blank must not match";
    EXPECT_EQ(find(standin::word("CO2"), standin::word("X"), flows).index, 5)
        << "a non-blank second word must not match";
    host_word nul_padded{};
    std::memcpy(nul_padded.bytes, "CO2", 3);
    EXPECT_EQ(find(nul_padded, standin::word(""), flows).index, 5)
        << "a NUL-terminated name is not the blank-padded one";

    // A component whose second word is not blank is found only with it.
    standin::write_name(61, 2, standin::word("NH3"), standin::word("LIQUID"));
    EXPECT_EQ(find("NH3", flows).index, 5);
    EXPECT_EQ(find(standin::word("NH3"), standin::word("LIQUID"), flows).index, 2);
}

TEST_F(Cmploc, DuplicateNamesGiveTheLowerPosition) {
    standin::set_components({"H2O", "CO2", "NH3", "CO2"}, 61);
    EXPECT_EQ(find("CO2", flows).index, 2);
    EXPECT_EQ(find("CO2", flows).value, 20.0);
}

TEST_F(Cmploc, ReadsTheOffsetsOnEveryCall) {
    // A second list elsewhere in the pool; switching L_ids switches the answer.
    standin::set_components({"UREA", "CO2"}, 900);
    EXPECT_EQ(find("CO2", flows).index, 2);
    standin::set_ids_offset(61);
    standin::set_component_count(5);
    EXPECT_EQ(find("CO2", flows).index, 3);
    standin::set_ids_offset(900);
    EXPECT_EQ(find("UREA", flows).index, 1);
}

TEST_F(Cmploc, CopiesTheEntryBitsUnchanged) {
    double special[5] = {0.0, std::numeric_limits<double>::signaling_NaN(), -0.0,
                         std::numeric_limits<double>::denorm_min(), 0.0};
    std::uint64_t payload = 0x7ff0000000000abcULL;  // a signalling NaN with a payload
    std::memcpy(&special[4], &payload, sizeof payload);
    EXPECT_EQ(bits_of(find("NH3", special).value), bits_of(special[1]));
    EXPECT_EQ(bits_of(find("CO2", special).value), bits_of(-0.0));
    EXPECT_EQ(bits_of(find("CARB", special).value), bits_of(special[3]));
    EXPECT_EQ(bits_of(find("UREA", special).value), payload);
}

}  // namespace
