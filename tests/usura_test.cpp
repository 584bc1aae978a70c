// The rate routine as a host calls it: full argument lists through dlsym,
// host properties from the recording stand-in host.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "standin/standin_host.h"
#include "tests/plugin.h"

namespace {

using testing_host::plugin;
using testing_host::usura_call;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double sentinel = -777.25;  // what the host leaves in rates

// What the host knows of one reacting species.
struct species_props {
    double x;    // mole fraction (present when listed)
    double G;    // J/kmol
    double phi;  // liquid fugacity coefficient
};

// The reacting species' values as the rate law sees them.
struct law_inputs {
    species_props NH3, CO2, CARB, UREA, H2O;
};

struct law_terms {
    double r1, R2f, R2b;
    double r2() const { return R2f - R2b; }
};

// The rate law with the routine's grouping, evaluated here in the test.
law_terms rate_law(const law_inputs& s, double T, double P, double a1, double a2, double vl,
                   double V) {
    const double Patm = P / 101325.0;
    const double RT = 8314.0 * T;
    const double kf1 = 100000.0 * a1;
    const double k2 = ((std::exp(-(12027.904738994468 / T)) * 1.5e9) * a2) / vl;
    const double K2 = std::exp(-(((s.UREA.G - s.CARB.G) + s.H2O.G) / RT));
    const double R2f = (s.CARB.x * k2) * V;
    const double D2 = (K2 / Patm) / ((s.UREA.phi * s.H2O.phi) / s.CARB.phi);
    const double R2b = ((k2 / D2) * (s.UREA.x * s.H2O.x)) * V;
    const double K1 = std::exp(-((((s.CARB.G - s.NH3.G) - s.NH3.G) - s.CO2.G) / RT));
    const double D1 = (K1 * (Patm * Patm)) / ((s.CARB.phi / (s.NH3.phi * s.NH3.phi)) / s.CO2.phi);
    const double r1 =
        ((((s.NH3.x * s.NH3.x) * s.CO2.x) * kf1) - ((kf1 / D1) * s.CARB.x)) * V;
    return {r1, R2f, R2b};
}

// The worked example of the rate law.
const law_inputs example{
    .NH3 = {0.3, -6.0e7, 2.5},
    .CO2 = {0.1, -4.3e8, 10.0},
    .CARB = {0.15, -5.6e8, 4.0e5},
    .UREA = {0.2, -2.0e8, 0.01},
    .H2O = {0.2, -3.0e8, 0.05},
};
constexpr double example_vl = 0.03;
constexpr double example_V = 50.0;

bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

class Usura : public ::testing::Test {
protected:
    plugin& lib = testing_host::loaded_plugin();

    void SetUp() override {
        lib.reload();  // memories at their load-time values
        list({"N2", "UREA", "H2O", "AR", "NH3", "CARB", "CO2", "O2", "METHANOL"});
        standin::set_liquid_volume(example_vl);
        standin::set_reacting_volume(example_V);
        host(example);
    }

    // The host's component list; stream and rates sized to it.
    void list(const std::vector<std::string>& names, host_int l_ids = 53) {
        standin::set_components(names, l_ids);
        pos.clear();
        for (std::size_t k = 0; k < names.size(); ++k) {
            pos.emplace(names[k], static_cast<host_int>(k + 1));  // the first wins
        }
        nc = static_cast<host_int>(names.size());
        stream.assign(static_cast<std::size_t>(nc) + 5, 0.0);
        rates.assign(static_cast<std::size_t>(nc) + 2, sentinel);
        state(458.0, 1.5e7);
    }
    void state(double T, double P) {
        stream[static_cast<std::size_t>(nc) + 1] = T;  // element nc + 2
        stream[static_cast<std::size_t>(nc) + 2] = P;  // element nc + 3
    }

    // Host properties and the present list (every species listed in s, in
    // an order other than the component order).
    void host(const law_inputs& s) {
        present_pos.clear();
        x_present.clear();
        for (const auto& [name, p] : named(s)) {
            if (pos.count(name)) {
                standin::set_gibbs(pos[name], p.G);
                standin::set_fugacity(pos[name], p.phi);
                present_pos.push_back(pos[name]);
                x_present.push_back(p.x);
            }
        }
        n_present = static_cast<host_int>(present_pos.size());
    }
    // Removes a species from the present list.
    void absent(const std::string& name) {
        for (std::size_t k = 0; k < present_pos.size(); ++k) {
            if (present_pos[k] == pos[name]) {
                present_pos.erase(present_pos.begin() + static_cast<std::ptrdiff_t>(k));
                x_present.erase(x_present.begin() + static_cast<std::ptrdiff_t>(k));
            }
        }
        n_present = static_cast<host_int>(present_pos.size());
    }

    static std::vector<std::pair<std::string, species_props>> named(const law_inputs& s) {
        return {{"CO2", s.CO2}, {"H2O", s.H2O}, {"UREA", s.UREA}, {"NH3", s.NH3}, {"CARB", s.CARB}};
    }

    void run() {
        standin::clear_calls();
        testing_host::invoke(lib.usura, usura_call{
                                          .stream = stream.data(),
                                          .params = params,
                                          .host_opts = &host_opts,
                                          .rates = rates.data(),
                                          .n_present = &n_present,
                                          .present_pos = present_pos.data(),
                                          .fug_extra = fug_extra,
                                          .x_present = x_present.data(),
                                      });
    }

    double rate(const std::string& name) const { return rates[static_cast<std::size_t>(pos.at(name) - 1)]; }

    // The five rates written from the law's terms.
    void expect_rates(const law_terms& t) const {
        EXPECT_PRED2(same, rate("NH3"), -2.0 * t.r1);
        EXPECT_PRED2(same, rate("CO2"), -t.r1);
        EXPECT_PRED2(same, rate("CARB"), (t.r1 - t.R2f) + t.R2b);
        EXPECT_PRED2(same, rate("UREA"), t.r2());
        EXPECT_PRED2(same, rate("H2O"), t.r2());
    }
    void expect_others_untouched() const {
        for (const char* other : {"N2", "AR", "O2", "METHANOL"}) {
            if (pos.count(other)) {
                EXPECT_EQ(rate(other), sentinel) << other;
            }
        }
        EXPECT_EQ(rates[static_cast<std::size_t>(nc)], sentinel) << "written past nc";
    }
    law_terms law(const law_inputs& s, double T = 458.0, double P = 1.5e7) const {
        return rate_law(s, T, P, params[0], params[1], example_vl, example_V);
    }

    std::map<std::string, host_int> pos;
    host_int nc = 0;
    std::vector<double> stream, rates, x_present;
    std::vector<host_int> present_pos;
    host_int n_present = 0;
    double params[3] = {1.0, 1.0e3, 99.0};
    double host_opts = 0.0;
    double fug_extra[4] = {};
};

TEST_F(Usura, WorkedExample) {
    run();
    EXPECT_NEAR(rate("NH3"), -5.83e4, 0.005e4);
    EXPECT_NEAR(rate("CO2"), -2.92e4, 0.005e4);
    EXPECT_NEAR(rate("CARB"), 2.82e4, 0.005e4);
    EXPECT_NEAR(rate("UREA"), 967.0, 0.5);
    EXPECT_NEAR(rate("H2O"), 967.0, 0.5);
    const law_terms t = law(example);
    EXPECT_NEAR(t.R2f, 1.47e3, 0.005e3);
    EXPECT_NEAR(t.R2b, 507.0, 0.5);
    // Bit for bit the law as written.
    expect_rates(t);
    expect_others_untouched();
}

TEST_F(Usura, CallsTheHostInOrderWithItsArguments) {
    state(458.0, 1.5e7);
    run();
    using standin::routine;
    const auto& c = standin::calls();
    ASSERT_EQ(c.size(), 6u);
    const routine order[] = {routine::scatter,       routine::ideal_gas_props, routine::scatter,
                             routine::liquid_volume, routine::liquid_fugacity, routine::scatter};
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(c[k].which, order[k]) << "call " << k;
    }
    const void* const count = &HOST_STREAM_WORK[2];

    // Mole fractions scattered from the host's own arrays.
    EXPECT_EQ(c[0].args[0], x_present.data());
    EXPECT_EQ(c[0].args[1], &n_present);
    EXPECT_EQ(c[0].args[2], present_pos.data());

    // Ideal-gas Gibbs energies at T, flags 1,0,0,1,0,0,0, diagnostic level 0.
    const auto& ig = c[1];
    EXPECT_EQ(ig.reals[0], 458.0);
    EXPECT_EQ(ig.args[1], x_present.data());
    EXPECT_EQ(ig.args[2], &n_present);
    EXPECT_EQ(ig.args[3], present_pos.data());
    EXPECT_EQ(ig.ints, (std::vector<host_int>{n_present, 0, 1, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(c[2].args[0], ig.args[14]) << "g_packed scattered";
    EXPECT_EQ(c[2].args[1], count) << "count by reference from the stream work vector";
    EXPECT_EQ(c[2].args[2], present_pos.data());

    // Liquid volume and fugacity at the same T and the raw P.
    for (const auto* call : {&c[3], &c[4]}) {
        EXPECT_EQ(call->args[0], ig.args[0]) << "one T for every host call";
        EXPECT_EQ(call->reals, (std::vector<double>{458.0, 1.5e7}));
        EXPECT_EQ(call->ints, (std::vector<host_int>{n_present, 0, 1}));
    }
    EXPECT_EQ(c[3].args[2], x_present.data());
    EXPECT_EQ(c[3].args[3], &n_present);
    EXPECT_EQ(c[3].args[4], present_pos.data());
    EXPECT_EQ(c[3].args[5], &host_opts);
    EXPECT_EQ(c[4].args[2], x_present.data());
    EXPECT_EQ(c[4].args[3], fug_extra);
    EXPECT_EQ(c[4].args[4], &n_present);
    EXPECT_EQ(c[4].args[5], present_pos.data());
    EXPECT_EQ(c[4].args[6], &host_opts);
    EXPECT_EQ(c[5].args[0], c[4].args[9]) << "phi_packed scattered";
    EXPECT_EQ(c[5].args[1], count);

    // Three different full vectors, none of them the host's.
    EXPECT_NE(c[0].args[3], c[2].args[3]);
    EXPECT_NE(c[2].args[3], c[5].args[3]);
    EXPECT_NE(c[0].args[3], c[5].args[3]);
}

TEST_F(Usura, ClampsTheTemperatureTo423To473) {
    struct {
        double stream_T, used_T;
    } cases[] = {{400.0, 423.0}, {500.0, 473.0}, {nan, 423.0}, {-nan, 423.0},
                 {std::numeric_limits<double>::infinity(), 473.0}, {423.0, 423.0}, {472.5, 472.5}};
    for (const auto& c : cases) {
        state(c.stream_T, 1.5e7);
        const std::vector<double> before = stream;
        run();
        const auto& calls = standin::calls();
        ASSERT_EQ(calls.size(), 6u);
        for (std::size_t k : {1, 3, 4}) {
            EXPECT_EQ(calls[k].reals[0], c.used_T) << "stream T " << c.stream_T;
        }
        expect_rates(law(example, c.used_T));
        EXPECT_EQ(std::memcmp(stream.data(), before.data(), stream.size() * sizeof(double)), 0)
            << "the stream vector was changed";
    }
}

TEST_F(Usura, FirstCallUsesTheLoadTimeMemories) {
    absent("UREA");
    run();
    law_inputs s = example;
    s.UREA = {0.0, 0.0, 1.0e-8};
    const law_terms t = law(s);
    EXPECT_EQ(t.R2b, 0.0);
    expect_rates(t);
    EXPECT_EQ(rate("UREA"), t.R2f);
    EXPECT_EQ(rate("H2O"), t.R2f);
    expect_others_untouched();
}

TEST_F(Usura, AbsentSpeciesTakeTheirLastPresentValues) {
    // A first call with every species present sets the memories; then each
    // species in turn is absent while the host's values have moved on.
    run();
    for (const char* name : {"NH3", "CO2", "CARB", "UREA"}) {
        law_inputs moved = example;
        for (auto* p : {&moved.NH3, &moved.CO2, &moved.CARB, &moved.UREA, &moved.H2O}) {
            p->G *= 1.01;
            p->phi *= 2.0;
        }
        host(moved);
        absent(name);
        run();
        law_inputs used = moved;
        species_props& s = name == std::string("NH3")    ? used.NH3
                           : name == std::string("CO2")  ? used.CO2
                           : name == std::string("CARB") ? used.CARB
                                                         : used.UREA;
        const species_props& first = name == std::string("NH3")    ? example.NH3
                                     : name == std::string("CO2")  ? example.CO2
                                     : name == std::string("CARB") ? example.CARB
                                                                   : example.UREA;
        s = {0.0, first.G, first.phi};
        SCOPED_TRACE(name);
        expect_rates(law(used));
        host(example);
        run();  // present again: memories back to the example's values
    }
}

TEST_F(Usura, ZeroOfEitherSignIsAbsentAndNegativeKeepsOnlyTheCoefficient) {
    run();  // memories from the example
    law_inputs next = example;
    next.CO2 = {-0.0, -4.0e8, 20.0};
    next.NH3 = {-0.01, -7.0e7, 3.5};
    host(next);
    run();
    law_inputs used = next;
    used.CO2 = {-0.0, example.CO2.G, example.CO2.phi};  // both remembered
    used.NH3 = {-0.01, -7.0e7, example.NH3.phi};        // fresh G, remembered phi
    expect_rates(law(used));

    // The negative fraction stored NH3's fresh G, but not its phi.
    host(example);
    absent("NH3");
    run();
    used = example;
    used.NH3 = {0.0, -7.0e7, example.NH3.phi};
    expect_rates(law(used));
}

TEST_F(Usura, MemoriesAreSharedAcrossComponentLists) {
    run();  // first reactor: the example
    // A second reactor with another component list and no carbamate.
    list({"H2O", "CO2", "UREA", "NH3"}, 700);
    law_inputs second = example;
    second.CARB = {0.0, -1.0, 7.0};
    host(second);
    run();
    law_inputs used = second;
    used.CARB = {0.0, example.CARB.G, example.CARB.phi};
    // CARB is not in this list: no rate of its own, the others from memory.
    const law_terms t = law(used);
    EXPECT_PRED2(same, rate("NH3"), -2.0 * t.r1);
    EXPECT_PRED2(same, rate("UREA"), t.r2());
    expect_others_untouched();
}

TEST_F(Usura, WaterAbsentMeansNoBackwardDehydration) {
    absent("H2O");
    run();
    law_inputs s = example;
    s.H2O = {0.0, 0.0, 0.0};
    const law_terms t = law(s);
    EXPECT_EQ(t.R2b, 0.0);
    expect_rates(t);
    EXPECT_EQ(rate("UREA"), t.R2f);
}

TEST_F(Usura, NothingPresentGivesZeroRates) {
    run();
    present_pos.clear();
    x_present.clear();
    n_present = 0;
    run();
    for (const char* name : {"NH3", "CO2", "CARB", "UREA", "H2O"}) {
        EXPECT_EQ(rate(name), 0.0) << name;
    }
    expect_others_untouched();
}

TEST_F(Usura, RateFactorsSwitchTheirReactionOff) {
    params[0] = 0.0;
    run();
    const law_terms t = law(example);
    EXPECT_EQ(rate("NH3"), 0.0);
    EXPECT_EQ(rate("CO2"), 0.0);
    EXPECT_EQ(rate("CARB"), -t.r2());
    EXPECT_NE(t.r2(), 0.0);

    params[0] = 1.0;
    params[1] = 0.0;
    run();
    EXPECT_EQ(rate("UREA"), 0.0);
    EXPECT_EQ(rate("H2O"), 0.0);
    EXPECT_EQ(rate("CARB"), law(example).r1);
    EXPECT_NE(rate("CARB"), 0.0);
}

TEST_F(Usura, NetRatesVanishAtEquilibrium) {
    // x_CARB and x_CO2 from the two equilibrium conditions of the law.
    law_inputs s = example;
    const double T = 458.0, P = 1.5e7, RT = 8314.0 * T, Patm = P / 101325.0;
    const double K2 = std::exp(-((s.UREA.G - s.CARB.G + s.H2O.G) / RT));
    const double K1 = std::exp(-((s.CARB.G - 2.0 * s.NH3.G - s.CO2.G) / RT));
    s.CARB.x = s.UREA.x * s.H2O.x * Patm * s.UREA.phi * s.H2O.phi / (K2 * s.CARB.phi);
    s.CO2.x = s.CARB.x * s.CARB.phi /
              (K1 * Patm * Patm * s.NH3.phi * s.NH3.phi * s.CO2.phi * s.NH3.x * s.NH3.x);
    host(s);
    run();
    const law_terms t = law(s);
    const double forward1 = s.NH3.x * s.NH3.x * s.CO2.x * 1.0e5 * example_V;
    EXPECT_NEAR(rate("CO2"), 0.0, 1e-12 * forward1);
    EXPECT_NEAR(rate("UREA"), 0.0, 1e-12 * t.R2f);
    EXPECT_GT(t.R2f, 0.0);
}

TEST_F(Usura, MissingSpeciesWritesNoRate) {
    // The last component is not a species: a missing species must not land there.
    for (const char* missing : {"CARB", "UREA", "H2O", "NH3", "CO2"}) {
        SCOPED_TRACE(missing);
        lib.reload();
        std::vector<std::string> names = {"O2", "NH3", "CO2", "H2O", "CARB", "UREA", "ARGON"};
        std::erase(names, std::string(missing));
        list(names);
        host(example);
        run();
        EXPECT_EQ(rates[static_cast<std::size_t>(nc - 1)], sentinel) << "rates(nc) overwritten";
        expect_others_untouched();

        // The others as if the missing species were absent: memories at their
        // load values, water at the cleared 0.0.
        law_inputs used = example;
        const std::string m = missing;
        if (m == "H2O") used.H2O = {0.0, 0.0, 0.0};
        if (m == "CARB") used.CARB = {0.0, 0.0, 1.0e-8};
        if (m == "UREA") used.UREA = {0.0, 0.0, 1.0e-8};
        if (m == "NH3") used.NH3 = {0.0, 0.0, 0.001};
        if (m == "CO2") used.CO2 = {0.0, 0.0, 0.1};
        const law_terms t = law(used);
        if (m != "NH3") {
            EXPECT_PRED2(same, rate("NH3"), -2.0 * t.r1);
        }
        if (m != "CARB") {
            EXPECT_PRED2(same, rate("CARB"), (t.r1 - t.R2f) + t.R2b);
        }
        if (m != "UREA") {
            EXPECT_PRED2(same, rate("UREA"), t.r2());
        }
    }
}

TEST_F(Usura, FindsSpeciesAsTheLocatorDoes) {
    // A duplicate name: the lower position is that species, the other an
    // ordinary component. A non-blank second word is another name.
    list({"N2", "UREA", "H2O", "NH3", "CARB", "CO2", "CO2", "METHANOL"});
    standin::write_name(53, 8, standin::word("NH3"), standin::word("VAPOUR"));
    host(example);
    run();
    expect_rates(law(example));
    EXPECT_EQ(rates[6], sentinel) << "the second CO2 got a rate";
    EXPECT_EQ(rates[7], sentinel) << "NH3 VAPOUR got a rate";

    const host_name co2 = {standin::word("CO2"), standin::word("")};
    host_int index = 0;
    double value = 0.0;
    lib.cmploc(&co2, x_present.data(), &index, &value);
    EXPECT_EQ(index, pos["CO2"]);
}

TEST_F(Usura, CountsAndPositionsOutsideTheListAreRefused) {
    const auto expect_refused = [&](const std::string& what) {
        EXPECT_TRUE(standin::calls().empty()) << what;
        for (double r : rates) {
            EXPECT_EQ(r, sentinel) << what;
        }
    };
    // A present position outside 1..nc, anywhere in the list: the host's
    // scatter would write it past the component list.
    for (const host_int bad : {host_int{0}, host_int{-1}, nc + 1, host_int{101},
                               std::numeric_limits<host_int>::min(),
                               std::numeric_limits<host_int>::max()}) {
        for (const std::size_t k : {std::size_t{0}, present_pos.size() - 1}) {
            const host_int kept = present_pos[k];
            present_pos[k] = bad;
            run();
            present_pos[k] = kept;
            expect_refused("position " + std::to_string(bad) + " at " + std::to_string(k + 1));
        }
    }
    struct {
        host_int nc, n_present;
    } cases[] = {{101, 5}, {0, 5}, {-1, 5}, {9, -1}, {9, 101}};
    for (const auto& c : cases) {
        standin::set_component_count(c.nc);
        n_present = c.n_present;
        run();
        expect_refused("nc " + std::to_string(c.nc) + ", n " + std::to_string(c.n_present));
    }
    // A full list of 100 is still served.
    std::vector<std::string> names;
    for (int k = 0; k < 93; ++k) {
        names.push_back("FILL" + std::to_string(k));
    }
    for (const char* s : {"O2", "N2", "H2O", "NH3", "CO2", "CARB", "UREA"}) {
        names.push_back(s);
    }
    list(names);
    host(example);
    run();
    expect_rates(law(example));
}

TEST_F(Usura, KeepsTheGroupingInEveryHostMode) {
    // The host's rounding mode and its flush-to-zero and denormals-are-zero
    // bits are its own: the rates must be the law as grouped, worked out the
    // host's way, and every call leaves MXCSR as it was (checked on each call).
    using namespace testing_host;
    for (const std::uint32_t rounding : {0u, mxcsr_down, mxcsr_up, mxcsr_toward_zero}) {
        for (const std::uint32_t denormals : {0u, mxcsr_ftz, mxcsr_daz, mxcsr_ftz | mxcsr_daz}) {
            const host_mxcsr mode(mxcsr_masks | rounding | denormals);
            const law_terms t = law(example);
            const double want[] = {-2.0 * t.r1, -t.r1, (t.r1 - t.R2f) + t.R2b, t.r2()};
            run();
            SCOPED_TRACE(testing::Message() << "MXCSR 0x" << std::hex << mxcsr());
            EXPECT_PRED2(same, rate("NH3"), want[0]);
            EXPECT_PRED2(same, rate("CO2"), want[1]);
            EXPECT_PRED2(same, rate("CARB"), want[2]);
            EXPECT_PRED2(same, rate("UREA"), want[3]);
            EXPECT_PRED2(same, rate("H2O"), want[3]);
        }
    }
}

TEST_F(Usura, TrappingHostIsNeverSignalled) {
    // IEEE results the law gives, worked out with traps off.
    struct {
        double T, P, vl;
    } cases[] = {{458.0, 1.5e7, 0.0},
                 {458.0, 0.0, 0.03},
                 {nan, 1.5e7, 0.03},
                 {std::numeric_limits<double>::signaling_NaN(), 1.5e7, 0.03},
                 {458.0, 0.0, 0.0}};
    // Invalid, divide-by-zero and overflow trap; the host had raised inexact
    // before the call and flushes to zero. The call must leave all of it.
    using namespace testing_host;
    constexpr std::uint32_t traps = mxcsr_invalid_mask | mxcsr_zero_mask | mxcsr_overflow_mask;
    constexpr std::uint32_t host_mode = (mxcsr_masks & ~traps) | mxcsr_ftz | mxcsr_inexact_flag;
    for (const auto& c : cases) {
        standin::set_liquid_volume(c.vl);
        state(c.T, c.P);
        const law_terms t = rate_law(example, std::isnan(c.T) ? 423.0 : c.T, c.P, params[0],
                                     params[1], c.vl, example_V);
        {
            const host_mxcsr trapping(host_mode);
            run();
        }
        expect_rates(t);
        if (c.P == 0.0 || c.vl == 0.0) {
            EXPECT_FALSE(std::isfinite(rate("UREA")) && std::isfinite(rate("NH3")))
                << "a zero divisor should reach inf or NaN";
        }
    }
}

}  // namespace
