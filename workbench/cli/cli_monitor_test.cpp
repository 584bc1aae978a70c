// `urea-reactor monitor` as a user runs it: a short synthetic history (made
// here by the real reactor) through every output, and bad histories and
// options refused with exit status 2 and one line.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/synthetic_history.h"
#include "cli/cli_fixture.h"
#include "model/properties.h"

namespace {

using cli_testing::outcome;
using cli_testing::slurp;
using MonitorCli = cli_testing::cli_fixture;
using json = nlohmann::json;
using namespace workbench;

TEST_F(MonitorCli, AShortHistoryThroughEveryOutput) {
    // 12 days of hourly rows; a2 falls to 0.8 of itself on day 6; the CO2
    // feed ramps down on day 9.
    synthetic_history recipe;
    recipe.days = 12;
    recipe.step_day = 6.0;
    recipe.ramp_days = {9};
    write_synthetic_history((dir / "h.csv").string(), UREA_PLUGIN_PATH, recipe);
    const outcome j = run("monitor h.csv --fix a1=1 --json --csv w.csv --plot w.svg --report w.html");
    ASSERT_EQ(j.status, 0) << j.err;
    const json doc = json::parse(j.out);
    ASSERT_EQ(doc["windows"].size(), 12u);
    const json& w = doc["windows"][0];
    EXPECT_EQ(w["start"], "2026-01-01T00:00:00");
    EXPECT_EQ(w["end"], "2026-01-02T00:00:00");
    EXPECT_EQ(w["rows"], 24);
    EXPECT_EQ(w["steady"], true);
    EXPECT_TRUE(w["balance"]["p_value"].is_number());
    EXPECT_TRUE(w["balance"]["suspect"].is_null());
    EXPECT_NEAR(w["a2"]["value"].get<double>(), 0.16, 0.02);
    EXPECT_LT(w["a2"]["profile95"][0].get<double>(), w["a2"]["profile95"][1].get<double>());
    EXPECT_EQ(doc["windows"][9]["steady"], false);
    EXPECT_EQ(doc["windows"][9]["flags"][0], "not steady");
    ASSERT_EQ(doc["drifts"].size(), 1u);
    EXPECT_EQ(doc["drifts"][0]["factor"], "a2");
    EXPECT_EQ(doc["drifts"][0]["time"], "2026-01-07T00:00:00");
    EXPECT_EQ(doc["screening"]["feed_kmol_h.CO2"]["missing"], 0);
    EXPECT_TRUE(doc["screening"]["feed_kmol_h.CO2"]["stagnant"].is_array());
    EXPECT_EQ(doc["a1"]["how"], "held");
    const std::string csv = slurp(dir / "w.csv");
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "start,end,rows,lab_samples,steady,fitted,flags,reason,balance_p_value,balance_chi_square,balance_suspect,"
              "balance_suspect_error,a2,a2_profile95_lower,a2_profile95_upper,co2_conversion_measured,"
              "co2_conversion_predicted,co2_conversion_equilibrium,approach");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 13);
    EXPECT_NE(slurp(dir / "w.svg").find("<svg"), std::string::npos);
    const std::string html = slurp(dir / "w.html");
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_NE(html.find("a2 changed from the window of 2026-01-07T00:00:00"), std::string::npos);
    // The advice in a held a1's note, in the command line's words in every output.
    EXPECT_EQ(doc["a1"]["note"], "a1 = 1, held (--fix)");
    EXPECT_NE(html.find("a1 = 1, held (--fix)"), std::string::npos);

    const outcome table = run("monitor h.csv --fix a1=1 --window 2d --step 1d");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("windows of 2d every 24h"), std::string::npos);
    // Overlapping windows share rows: the drift test takes those that do not
    // overlap, here too few to tell a change.
    EXPECT_NE(table.out.find("a2 not tested for a drift: 5 fitted windows that do not overlap, the test needs 6"),
              std::string::npos) << table.out;

    // 36 windows of 8 h, the fits cut into chunks of 8 (the not steady
    // windows among them): the same bytes on any number of workers.
    std::string json_1, csv_1;
    for (const char* jobs : {"1", "2", "3"}) {
        const outcome o = run(std::string("monitor h.csv --fix a1=1 --window 8h --json --csv w8.csv --jobs ") + jobs);
        ASSERT_EQ(o.status, 0) << o.err;
        if (json_1.empty()) {
            json_1 = o.out;
            csv_1 = slurp(dir / "w8.csv");
            EXPECT_EQ(json::parse(o.out)["windows"].size(), 36u);
        }
        EXPECT_TRUE(o.out == json_1) << "the monitor's JSON with --jobs " << jobs;
        EXPECT_TRUE(slurp(dir / "w8.csv") == csv_1) << "the monitor's CSV with --jobs " << jobs;
    }
}

TEST_F(MonitorCli, BadInputExitsTwoWithOneLine) {
    write("notime.csv", "pressure_bar,w_UREA\n145,0.35\n");
    write("badtime.csv", "time,pressure_bar,w_UREA\n2026-03-01T06:00,145,0.35\n2026-03-01 7h,145,\n");
    write("nolab.csv", "time,pressure_bar\n2026-03-01T06:00,145\n2026-03-01T07:00,146\n");
    write("hourly.csv", "time,pressure_bar,w_UREA\n2026-03-01T06:00,145,0.35\n2026-03-01T07:00,146,\n");
    write("zero.csv", "time,pressure_bar,w_UREA\n1899-12-30T00:00,145,0.35\n2026-03-01T07:00,146,\n"
                      "2026-03-01T08:00,146,\n");
    write("psi.csv", "time,pressure_bar,w_UREA\n2026-03-01T06:00,2103,0.35\n2026-03-01T07:00,2110,\n");
    const std::pair<const char*, const char*> cases[] = {
        {"monitor notime.csv", "notime.csv:1: no time column"},
        {"monitor badtime.csv", "badtime.csv:3: column \"time\" (1): not a time"},
        {"monitor nolab.csv", "nolab.csv: no lab sample"},
        {"monitor hourly.csv --window 30min", "--window 30min is shorter than the rows' spacing (1h"},
        {"monitor hourly.csv --window 1day", "--window 1day: write a duration"},
        {"monitor hourly.csv --fix a2=0.1", "--fix a2=0.1: a2 is what the monitor follows"},
        {"monitor hourly.csv --meter-sigma pressure_bar=2", "--meter-sigma pressure_bar=2: write NAME=PERCENT"},
        {"monitor hourly.csv --csv hourly.csv", "hourly.csv"},
        {"monitor hourly.csv --jobs 2.5", "--jobs: must be a whole number of worker processes"},
        {"monitor ramp.csv --step 1s", "make 255601 windows, more than the 100000"},
        {"monitor zero.csv", "zero.csv:2: column \"time\" (1): 1899-12-30T00:00:00 lies 126 years before"},
        {"monitor psi.csv", "psi.csv:2: column \"pressure_bar\" (2): 2 of its 2 values out of bounds, as a "
                            "column in another unit puts them: this one, 2103, looks like psi (145 bar)"},
    };
    // A history that ramps all the time: read and screened, no window fitted,
    // each saying why, exit status 0.
    std::string ramp = "time,feed_kmol_h.CO2,w_UREA\n";
    for (int h = 0; h < 72; ++h) {
        ramp += "2026-03-0" + std::to_string(1 + h / 24) + "T" + (h % 24 < 10 ? "0" : "") + std::to_string(h % 24) +
                ":00," + std::to_string(2400 - 5 * h) + (h % 4 == 0 ? ",0.35\n" : ",\n");
    }
    write("ramp.csv", ramp);
    const outcome r = run("monitor ramp.csv --fix a1=1 --meter-sigma feed_kmol_h.NH3=1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "urea-reactor: warning: --meter-sigma feed_kmol_h.NH3=1: not used: ramp.csv has no column "
                     "feed_kmol_h.NH3\n");
    EXPECT_NE(r.out.find("no window was fitted: 3 windows, of which 3 not steady"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("not steady: feed_kmol_h.CO2 moved by"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a2 not tested for a drift: 0 fitted windows"), std::string::npos) << r.out;

    // A column of no known name (CO2_flow: the CO2 meter misspelt past a
    // guess) said in the summary with the settings left at the case's value;
    // a pressure below 1 bar throughout (in no unit's way) screened out, its
    // windows counted as without usable measurements.
    std::string odd = "time,CO2_flow,pressure_bar,w_UREA\n";
    for (int h = 0; h < 48; ++h) {
        odd += "2026-03-0" + std::to_string(1 + h / 24) + "T" + (h % 24 < 10 ? "0" : "") + std::to_string(h % 24) +
               ":00,2400,0.5" + (h % 4 == 0 ? ",0.35\n" : ",\n");
    }
    write("odd.csv", odd);
    const outcome u = run("monitor odd.csv --fix a1=1");
    EXPECT_EQ(u.status, 0) << u.err;
    EXPECT_NE(u.out.find("odd.csv: columns not used: CO2_flow (2); the case's value in every window for "
                         "feed_kmol_h.CO2, feed_kmol_h.NH3, feed_kmol_h.H2O, inlet_temperature_C, "
                         "outlet_temperature_C, which the history has no column of: is one of them misspelt?"),
              std::string::npos) << u.out;
    EXPECT_NE(u.out.find("2 windows: 0 fitted, 0 not steady, 0 without a lab sample, 0 without a solution, 2 without "
                         "usable measurements;"),
              std::string::npos) << u.out;

    for (const auto& [args, message] : cases) {
        const outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args;
        EXPECT_EQ(o.out, "") << args;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << args << ": " << o.err;
        EXPECT_NE(o.err.find(message), std::string::npos) << args << ": " << o.err;
    }
}

}  // namespace
