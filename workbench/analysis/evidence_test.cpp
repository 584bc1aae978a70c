// Evidence over windows on seeded synthetic series: the CUSUM's run lengths
// against the published table, false alarms with nothing changing, a meter's
// bias named for its span, a step in a2 caught at once, and a slow decline
// given as one trend.
#include "analysis/evidence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using workbench::accumulate;
using workbench::evidence_options;
using workbench::window_estimate;

constexpr std::int64_t day = 86400000;

// Daily windows: value(d) + noise of sigma.
template <class F>
std::vector<window_estimate> daily(std::size_t days, double sigma, std::uint64_t seed, F value) {
    std::mt19937_64 g(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    std::vector<window_estimate> x;
    for (std::size_t d = 0; d < days; ++d) x.push_back({static_cast<std::int64_t>(d) * day, value(d) + noise(g), sigma});
    return x;
}

TEST(Evidence, TheCusumsRunLengthsAreThoseOfTheTables) {
    // Reference 0.5: two sides with h = 4 give 168 windows between false
    // alarms (one side twice as many) and 8.38 to find a shift of one
    // standard deviation; h = 5 gives 465 and 10.4.
    EXPECT_NEAR(workbench::cusum_run_length(0.5, 4.0), 2 * 168.0, 4.0);
    EXPECT_NEAR(workbench::cusum_run_length(0.5, 4.0, 1.0), 8.38, 0.1);
    EXPECT_NEAR(workbench::cusum_run_length(0.5, 5.0), 2 * 465.0, 10.0);
    EXPECT_NEAR(workbench::cusum_run_length(0.5, 5.0, 1.0), 10.4, 0.1);
    const double h = workbench::cusum_limit(0.5, 2190.0);
    EXPECT_NEAR(workbench::cusum_run_length(0.5, h), 2190.0, 1.0);
}

TEST(Evidence, NothingChangingRaisesAtMostTheStatedFalseAlarms) {
    // 200 years of daily windows of a meter that reads right, and 200 of a
    // level the test estimates itself: one false alarm in 3 years is stated.
    std::size_t alarms = 0;
    for (std::uint64_t year = 0; year < 200; ++year) {
        const auto x = daily(365, 0.02, 1000 + year, [](std::size_t) { return 0.0; });
        alarms += accumulate(x, {1.0, 3.0 * 365.0, 0.0}).spans.size() - 1;
        const auto y = daily(365, 0.03, 5000 + year, [](std::size_t) { return std::log(0.124); });
        alarms += accumulate(y).spans.size() - 1;
    }
    const double per_year = static_cast<double>(alarms) / 400.0;
    RecordProperty("false_alarms_per_year", std::to_string(per_year));
    // Measured: 139 in 400 years, 0.35 a year (the count is Poisson's: 133 -+ 12 expected).
    EXPECT_LE(per_year, 0.45) << alarms << " false alarms in 400 years";
}

TEST(Evidence, AMetersBiasIsNamedForItsSpanWithItsSize) {
    // A meter reading 5 % high from day 40 to day 69, each window's bias
    // estimate with a standard uncertainty of 2.2 % (one window alone names
    // it about one time in four).
    int found = 0;
    for (std::uint64_t seed = 0; seed < 20; ++seed) {
        const auto x = daily(110, 0.022, seed, [](std::size_t d) { return d >= 40 && d < 70 ? 0.05 : 0.0; });
        const auto e = accumulate(x, {1.0, 3.0 * 365.0, 0.0});
        for (const auto& s : e.spans) {
            if (s.reference || s.lower <= 0.0) continue;
            const bool named = s.first >= 35 && s.first <= 45 && s.detected <= 45 && s.last >= 64 && s.last <= 74;
            const double after = static_cast<double>(std::min<std::size_t>(s.last, 69) - s.detected + 1);
            const bool most = after >= 0.8 * static_cast<double>(69 - s.detected + 1);
            if (named && most && s.lower < 0.05 && 0.05 < s.upper) ++found;
        }
    }
    EXPECT_GE(found, 16) << "of 20";
}

TEST(Evidence, AfterABiasEndsAnOffsetFarBelowTheShiftIsSeldomNamed) {
    // A meter 5 % high for 30 days, then 0.4 % low (a fifth of a window's
    // uncertainty, far below the shift the test is set for) for 100 days:
    // the 5 % named, the small offset after it seldom. An interval on the
    // 100 windows alone names it in half the histories (197 of 400); the
    // test at its limit, as the reference was held before the bias, in a
    // fifth (78 of 400; here 8 and 1 of these 20).
    int named_after = 0;
    for (std::uint64_t seed = 0; seed < 20; ++seed) {
        const auto x = daily(160, 0.022, 300 + seed, [](std::size_t d) { return d < 30 ? 0.0 : d < 60 ? 0.05 : -0.004; });
        const auto e = accumulate(x, {1.0, 3.0 * 365.0, 0.0});
        bool bias = false;
        for (const auto& s : e.spans) {
            if (s.reference || (s.lower <= 0.0 && s.upper >= 0.0)) continue;
            bias = bias || (s.first >= 25 && s.first <= 35 && s.level > 0.03);
            named_after += s.first >= 55 ? 1 : 0;
        }
        EXPECT_TRUE(bias) << seed;
    }
    EXPECT_LE(named_after, 3) << "of 20";
}

TEST(Evidence, AStepInA2IsFoundWithinThreeWindows) {
    for (std::uint64_t seed = 0; seed < 10; ++seed) {
        const auto x = daily(60, 0.03, seed, [](std::size_t d) { return std::log(0.124 * (d >= 30 ? 0.8 : 1.0)); });
        const auto e = accumulate(x);
        const auto step = std::find_if(e.spans.begin(), e.spans.end(), [](const auto& s) { return s.first >= 29; });
        ASSERT_NE(step, e.spans.end()) << seed;
        EXPECT_LE(step->first, 31u) << seed;
        EXPECT_LE(step->detected, 32u) << seed;
        EXPECT_TRUE(e.trends.empty()) << seed;  // a step is no trend
    }
}

TEST(Evidence, ASlowDeclineIsOneTrendNotAStaircase) {
    // ln a2 level for 110 days, falling by 35 % over 120 days, then level:
    // long level stretches, where a chance split must not cut the trend.
    const double rate = std::log(0.65) / 120.0;
    int covered = 0;
    for (std::uint64_t seed = 0; seed < 10; ++seed) {
        const auto x = daily(365, 0.03, 100 + seed, [&](std::size_t d) {
            const double t = std::clamp(static_cast<double>(d) - 110.0, 0.0, 120.0);
            return std::log(0.124) + rate * t;
        });
        const auto e = accumulate(x);
        ASSERT_EQ(e.trends.size(), 1u) << seed << ": " << e.spans.size() << " spans";
        const auto& t = e.trends[0];
        if (t.lower <= rate && rate <= t.upper) ++covered;
        EXPECT_NEAR(static_cast<double>(t.start / day), 110.0, 5.0) << seed;
        EXPECT_NEAR(static_cast<double>(t.end / day), 230.0, 5.0) << seed;
    }
    EXPECT_GE(covered, 8) << "of 10";
}

}  // namespace
