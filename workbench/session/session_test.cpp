// Sessions: several open at once, each with its own build of the plug-in;
// work from several threads waits its turn and gets the answer it would
// alone; a stop asked for ends the work as a stop, not as a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "api/workbench.h"

namespace {

using namespace workbench;

TEST(Session, TwoOpenAtOnceEachRunsItsOwnBuild) {
    session good(UREA_PLUGIN_PATH);
    const reactor_case c = default_case();
    const result before = run(good, c);
    session wrong(PLUGIN_WRONG_RATES);  // rates 2 % too large
    const result distorted = run(wrong, c);
    const result after = run(good, c);
    EXPECT_NE(distorted.co2_conversion, before.co2_conversion);
    EXPECT_EQ(after.co2_conversion, before.co2_conversion);
    for (std::size_t i = 0; i < component_count; ++i) EXPECT_EQ(after.outlet[i], before.outlet[i]);
}

TEST(Session, WorkFromSeveralThreadsWaitsItsTurnAndGetsItsOwnAnswer) {
    session s(UREA_PLUGIN_PATH);
    std::vector<reactor_case> cases;
    std::vector<double> alone;
    for (double a2 : {0.05, 0.124, 0.3, 1.0}) {
        cases.push_back(default_case());
        cases.back().a2 = a2;
        alone.push_back(run(s, cases.back()).co2_conversion);
    }
    std::vector<double> together(cases.size());
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        threads.emplace_back([&, k] {
            for (int repeat = 0; repeat < 3; ++repeat) together[k] = run(s, cases[k]).co2_conversion;
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(together, alone);
}

TEST(Session, AStopAskedForEndsTheWorkAsAStop) {
    session s(UREA_PLUGIN_PATH);
    std::atomic<int> checks{0};
    s.set_stop_check([&] {
        if (++checks > 3) throw interrupted("interrupted", 2);
    });
    reactor_case c = default_case();
    c.trays = 200;
    try {
        run(s, c);
        ADD_FAILURE() << "not stopped";
    } catch (const interrupted& e) {
        EXPECT_EQ(e.signal(), 2);
    }
    EXPECT_LT(checks.load(), 10) << "asked again after it said stop";
}

}  // namespace
