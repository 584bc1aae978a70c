// The "NC-FLOW" property as a host's property evaluation asks for it.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "standin/standin_host.h"
#include "tests/plugin.h"

namespace {

using testing_host::upropu_call;

constexpr double untouched = -555.5;

const host_name nc_flow = {standin::word("NC-F"), standin::word("LOW")};

// kg/kmol
const std::map<std::string, double> molecular_weight = {
    {"NH3", 17.031}, {"CO2", 44.009}, {"H2O", 18.015}, {"UREA", 60.056},
    {"O2", 31.998},  {"N2", 28.014},  {"CARB", 2 * 17.031 + 44.009}, {"AR", 39.948}};

class Upropu : public ::testing::Test {
protected:
    void SetUp() override { list({"H2O", "CARB", "O2", "NH3", "UREA", "CO2", "N2"}); }

    void list(const std::vector<std::string>& list_names) {
        standin::reset();
        standin::set_components(list_names, 211);
        std::vector<double> mw;
        for (const auto& n : list_names) {
            mw.push_back(molecular_weight.at(n));
        }
        standin::set_molecular_weights(mw, 2017);
        names = list_names;
        flows.assign(names.size() + 3, 0.0);
        flows[names.size() + 1] = 460.0;  // T and P behind the flows are not flows
        flows[names.size() + 2] = 1.4e7;
    }
    host_int pos(const std::string& name) const {
        for (std::size_t k = 0; k < names.size(); ++k) {
            if (names[k] == name) return static_cast<host_int>(k + 1);
        }
        return 0;
    }
    double& flow(const std::string& name) { return flows[static_cast<std::size_t>(pos(name) - 1)]; }

    // Results for the given positions; every unwritten result stays `untouched`.
    std::vector<double> ask(const std::vector<host_int>& positions,
                            const host_name& name = nc_flow) {
        std::vector<double> out(positions.size() + 1, untouched);
        const host_int m = static_cast<host_int>(positions.size());
        testing_host::invoke(lib.upropu, upropu_call{.n_out = &m,
                                                   .out_pos = positions.data(),
                                                   .prop_name = &name,
                                                   .out_values = out.data(),
                                                   .flows = flows.data()});
        EXPECT_EQ(out.back(), untouched) << "written past m";
        out.pop_back();
        return out;
    }
    std::vector<host_int> all() const {
        std::vector<host_int> p(names.size());
        std::iota(p.begin(), p.end(), host_int{1});
        return p;
    }

    testing_host::plugin& lib = testing_host::loaded_plugin();
    std::vector<std::string> names;
    std::vector<double> flows;
};

TEST_F(Upropu, FoldsCarbamateIntoAmmoniaAndCarbonDioxide) {
    flow("NH3") = 1.0;
    flow("CO2") = 2.0;
    flow("CARB") = 3.0;
    flow("H2O") = 0.5;
    const auto out = ask({pos("NH3"), pos("CO2"), pos("CARB"), pos("H2O"), pos("O2")});
    EXPECT_DOUBLE_EQ(out[0], 7.0 * 17.031);
    EXPECT_DOUBLE_EQ(out[1], 5.0 * 44.009);
    EXPECT_EQ(out[2], 0.0);
    EXPECT_EQ(out[3], 0.5 * 18.015);
    EXPECT_EQ(out[4], 0.0);
}

TEST_F(Upropu, WithoutCarbamateEachFlowTimesItsWeight) {
    double f = 1.0;
    for (const auto& n : names) {
        flow(n) = n == "CARB" ? 0.0 : (f += 1.25);
    }
    const auto out = ask(all());
    for (std::size_t k = 0; k < names.size(); ++k) {
        EXPECT_EQ(out[k], flows[k] * molecular_weight.at(names[k])) << names[k];
    }
}

TEST_F(Upropu, ConservesMass) {
    const double f[] = {812.5, 1203.0, 3.1, 4920.0, 1377.0, 604.0, 11.7};
    std::copy(std::begin(f), std::end(f), flows.begin());
    double mass = 0.0;
    for (std::size_t k = 0; k < names.size(); ++k) {
        mass += flows[k] * molecular_weight.at(names[k]);
    }
    const auto out = ask(all());
    const double folded = std::accumulate(out.begin(), out.end(), 0.0);
    EXPECT_NEAR(folded, mass, 1e-13 * mass + 1e-12);
}

TEST_F(Upropu, AnswersOnlyTheExactName) {
    flow("NH3") = 1.0;
    const host_name wrong[] = {
        {standin::word("NC-FLOW"), standin::word("")},  // packed into word 1
        {standin::word("nc-f"), standin::word("low")},  // lower case
        {standin::word("NC-F"), standin::word("LOWX")},
        {standin::word(" NC-F"), standin::word("LOW")},
    };
    for (const auto& name : wrong) {
        for (double v : ask(all(), name)) {
            EXPECT_EQ(v, untouched);
        }
    }
    host_name nul_padded = {nc_flow[0], nc_flow[1]};
    nul_padded[1].bytes[7] = 0;  // a NUL in the padding
    for (double v : ask(all(), nul_padded)) {
        EXPECT_EQ(v, untouched);
    }
}

TEST_F(Upropu, AnyPositionsInAnyOrderWithRepeats) {
    flow("NH3") = 2.0;
    flow("CARB") = 1.0;
    flow("UREA") = 3.0;
    const auto out = ask({pos("UREA"), pos("NH3"), pos("UREA"), pos("CARB"), pos("NH3")});
    EXPECT_EQ(out[0], 3.0 * 60.056);
    EXPECT_EQ(out[1], 4.0 * 17.031);
    EXPECT_EQ(out[2], out[0]);
    EXPECT_EQ(out[3], 0.0);
    EXPECT_EQ(out[4], out[1]);
    EXPECT_TRUE(ask({}).empty());
}

TEST_F(Upropu, FoldsOnlyWhenAllThreeAreComponents) {
    // Carbamate missing: the last component keeps its own flow.
    list({"NH3", "CO2", "H2O", "UREA", "AR"});
    flows = {1.0, 2.0, 3.0, 4.0, 5.0, 0.0, 460.0, 1.4e7};
    auto out = ask(all());
    for (std::size_t k = 0; k < names.size(); ++k) {
        EXPECT_EQ(out[k], flows[k] * molecular_weight.at(names[k])) << names[k];
    }
    // Ammonia missing: carbamate stays carbamate, the last component stays.
    list({"CARB", "CO2", "H2O", "AR"});
    flows = {1.0, 2.0, 3.0, 4.0, 0.0, 460.0, 1.4e7};
    out = ask(all());
    for (std::size_t k = 0; k < names.size(); ++k) {
        EXPECT_EQ(out[k], flows[k] * molecular_weight.at(names[k])) << names[k];
    }
}

TEST_F(Upropu, NeverReachesOutsideItsStorage) {
    flow("NH3") = 1.0;
    // Positions outside 1..nc leave their result untouched, the others are written.
    const host_int nc = static_cast<host_int>(names.size());
    const auto out = ask({0, pos("NH3"), nc + 1, -4, nc});
    EXPECT_EQ(out[0], untouched);
    EXPECT_EQ(out[1], 17.031);
    EXPECT_EQ(out[2], untouched);
    EXPECT_EQ(out[3], untouched);
    EXPECT_EQ(out[4], 0.0);
    // Component counts the working vector cannot hold: nothing written.
    for (const host_int bad : {host_int{101}, host_int{0}, host_int{-1}}) {
        standin::set_component_count(bad);
        for (double v : ask({1, 2})) {
            EXPECT_EQ(v, untouched) << "nc " << bad;
        }
    }
}

TEST_F(Upropu, LeavesTheHostsFloatingPointStateAlone) {
    flow("NH3") = 1.0e307;
    flow("CARB") = 1.0e307;  // overflows in the fold and the conversion
    flow("CO2") = std::numeric_limits<double>::quiet_NaN();
    // Overflow and invalid trap, the host flushes to zero and rounds up:
    // the call leaves MXCSR as it was (checked on each call).
    using namespace testing_host;
    constexpr std::uint32_t traps = mxcsr_invalid_mask | mxcsr_overflow_mask;
    std::vector<double> out;
    {
        const host_mxcsr trapping((mxcsr_masks & ~traps) | mxcsr_ftz | mxcsr_up);
        out = ask({pos("NH3"), pos("CO2")});
    }
    EXPECT_TRUE(std::isinf(out[0]));
    EXPECT_TRUE(std::isnan(out[1]));
}

}  // namespace
