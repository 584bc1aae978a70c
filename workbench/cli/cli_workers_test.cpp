// Commands on several worker processes, as a user runs them: the outputs of a
// study, an estimate with its bootstrap and a design are the same bytes for
// any number of workers; a plug-in that crashes or hangs in a worker fails
// the points it was on, named by its routine, the others solve, and nothing
// is left behind; one that hangs everywhere ends the command.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "cli/cli_fixture.h"

namespace {

namespace fs = std::filesystem;
using cli_testing::any_process_in;
using cli_testing::outcome;
using cli_testing::slurp;
using WorkersCli = cli_testing::cli_fixture;

TEST_F(WorkersCli, TheOutputsAreTheSameBytesForAnyNumberOfJobs) {
    // Two runs of the example set: both factors free, every piece of the
    // estimate (starts, profiles, region, each run left out, resamples).
    std::ifstream example(UREA_EXAMPLES "/runs-synthetic.csv");
    std::ofstream runs(dir / "runs.csv");
    std::string line;
    for (int k = 0; k < 6 && std::getline(example, line); ++k) runs << line << "\n";
    runs.close();
    std::string study, csv, estimate, design;
    for (const char* jobs : {"1", "2", "3"}) {
        const std::string j = std::string(" --jobs ") + jobs;
        // 120 points in rows of 40: six chunks, each half a row.
        const outcome s = run("study --vary t-out=170:194:40 --vary nh3_co2=2.8,3.2,3.6 --result "
                              "co2_conversion,x_UREA@5,rate_calls --json --csv s.csv" + j);
        const outcome e = run("estimate runs.csv --bootstrap 4 --json" + j);
        const outcome d = run("design runs.csv --vary t-out=176:195:20 --vary co2=1700:3000:4 --json" + j);
        ASSERT_EQ(s.status, 0) << s.err;
        ASSERT_EQ(e.status, 0) << e.err;
        ASSERT_EQ(d.status, 0) << d.err;
        if (study.empty()) {
            study = s.out;
            csv = slurp(dir / "s.csv");
            estimate = e.out;
            design = d.out;
            continue;
        }
        EXPECT_TRUE(s.out == study) << "the study's JSON with --jobs " << jobs;
        EXPECT_TRUE(slurp(dir / "s.csv") == csv) << "the study's CSV with --jobs " << jobs;
        EXPECT_TRUE(e.out == estimate) << "the estimate's JSON with --jobs " << jobs;
        EXPECT_TRUE(d.out == design) << "the design's JSON with --jobs " << jobs;
    }
}

TEST_F(WorkersCli, APluginThatCrashesOrHangsInAWorkerFailsItsPointsAndLeavesNothing) {
    // 191 and 192 C are hot: four points of 34, in two chunks.
    const std::string grid = " study --vary t-out=176:192:17 --vary nh3_co2=3,3.4 --result co2_conversion --csv c.csv";
    const auto failed_at = [](const outcome& o, const std::string& why) {
        const std::string heads[] = {"point 16 of 34 (outlet_temperature_C = 191, nh3_co2 = 3): ",
                                     "point 17 of 34 (outlet_temperature_C = 192, nh3_co2 = 3): ",
                                     "point 33 of 34 (outlet_temperature_C = 191, nh3_co2 = 3.4): ",
                                     "point 34 of 34 (outlet_temperature_C = 192, nh3_co2 = 3.4): "};
        int n = 0;
        for (const std::string& h : heads) n += o.err.find("urea-reactor: solver failure at " + h + why) != std::string::npos;
        return n;
    };
    const auto solved_rows = [&] {
        int n = 0;
        std::ifstream in(dir / "c.csv");
        for (std::string row; std::getline(in, row);) n += !row.empty() && row.back() == ',';
        return n;
    };
    const outcome crash = run("--plugin '" PLUGIN_HOT_CRASH "'" + grid + " --jobs 2");
    EXPECT_EQ(crash.status, 1) << crash.err;
    EXPECT_EQ(failed_at(crash, "the plug-in " PLUGIN_HOT_CRASH " crashed in its routine USURA (signal 11, SIGSEGV, a "
                               "bad memory access) in a worker process; `urea-reactor check --plugin " PLUGIN_HOT_CRASH
                               "` examines the build\n"),
              4)
        << crash.err;
    EXPECT_EQ(solved_rows(), 30);

    const outcome hang = run("--plugin '" PLUGIN_HOT_HANG "'" + grid + " --jobs 2 --worker-timeout 0.5");
    EXPECT_EQ(hang.status, 1) << hang.err;
    EXPECT_EQ(failed_at(hang, "the plug-in " PLUGIN_HOT_HANG " did not return from its routine USURA within 0.5 s in a "
                              "worker process (taken to hang; the worker was ended)"),
              4)
        << hang.err;
    EXPECT_EQ(solved_rows(), 30);

    // Hanging everywhere: the command ends after a few workers.
    const auto start = std::chrono::steady_clock::now();
    const outcome stuck = run("--plugin '" PLUGIN_HANGING "'" + grid + " --jobs 2 --worker-timeout 0.5");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(stuck.status, 1) << stuck.err;
    EXPECT_NE(stuck.err.find(" worker processes were taken to hang, with 0 results back"), std::string::npos)
        << stuck.err;
    EXPECT_NE(stuck.err.find("no point of the study was solved; nothing written"), std::string::npos) << stuck.err;

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(any_process_in(dir)) << "a worker outlived the workbench";
    EXPECT_EQ(files(), 1u);  // c.csv, written by the first two
}

}  // namespace
