// Commands on several worker processes, as a user runs them: the outputs of a
// study, an estimate with its bootstrap and a design are the same bytes for
// any number of workers; a plug-in that crashes or hangs in a worker fails
// the points it was on, named by its routine, the others solve, and nothing
// is left behind; one that hangs everywhere ends the command. With workers,
// no call into the plug-in runs unwatched in the command's own process: a
// single chunk, an estimate's and a design's solves outside their chunks.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "analysis/synthetic_history.h"
#include "cli/cli_fixture.h"
#include "model/properties.h"

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

TEST_F(WorkersCli, EveryCommandEndsWhenItsPluginHangsOrCrashesAndSaysWhatIsUndone) {
    const auto has = [](const outcome& o, const std::string& text) { return o.err.find(text) != std::string::npos; };
    const std::string hung = " did not return from its routine USURA within 0.5 s in a worker process";
    const std::string crashed = " crashed in its routine USURA (signal 11, SIGSEGV, a bad memory access) in a worker process";
    const std::string jobs = " --jobs 2 --worker-timeout 0.5";
    // A command that would never end fails the test instead.
    const std::string bounded = "timeout -s KILL 120";

    // One chunk of ten points, nine of them hot.
    const outcome study =
        run("--plugin '" PLUGIN_HOT_HANG "' study --vary t-out=190:199:10 --result co2_conversion" + jobs, bounded);
    EXPECT_EQ(study.status, 1) << study.err;
    EXPECT_TRUE(has(study, "urea-reactor: study: 9 of 10 points not solved: the plug-in " PLUGIN_HOT_HANG + hung)) << study.err;
    EXPECT_FALSE(any_process_in(dir)) << "a worker outlived the study";

    // The estimate's first solves, outside any chunk.
    std::ifstream example(UREA_EXAMPLES "/runs-synthetic.csv");
    std::ofstream runs(dir / "runs.csv");
    std::string line;
    for (int k = 0; k < 6 && std::getline(example, line); ++k) runs << line << "\n";
    runs.close();
    const outcome crash = run("--plugin '" PLUGIN_CRASHING "' estimate runs.csv" + jobs, bounded);
    EXPECT_EQ(crash.status, 1) << crash.err;
    EXPECT_TRUE(has(crash, "the plug-in " PLUGIN_CRASHING + crashed)) << crash.err;
    const outcome hang = run("--plugin '" PLUGIN_HANGING "' estimate runs.csv" + jobs, bounded);
    EXPECT_EQ(hang.status, 1) << hang.err;
    EXPECT_TRUE(has(hang, "the plug-in " PLUGIN_HANGING + hung)) << hang.err;
    EXPECT_FALSE(any_process_in(dir)) << "a worker outlived the estimate";

    // A design whose runs are cool and half of whose six candidates (one
    // chunk) are hot: it ends, and says which are missing.
    const outcome design = run("--plugin '" PLUGIN_HOT_HANG "' design runs.csv --vary t-out=188:193:6" + jobs, bounded);
    EXPECT_TRUE(has(design, "urea-reactor: design: 3 of 6 candidates not solved: the plug-in " PLUGIN_HOT_HANG + hung))
        << design.err;

    // A monitor of three windows, one chunk.
    workbench::synthetic_history recipe;
    recipe.days = 3;
    workbench::write_synthetic_history((dir / "h.csv").string(), UREA_PLUGIN_PATH, recipe);
    const outcome monitor = run("--plugin '" PLUGIN_HANGING "' monitor h.csv" + jobs, bounded);
    EXPECT_TRUE(has(monitor, "urea-reactor: monitor: 3 of 3 windows not solved: the plug-in " PLUGIN_HANGING + hung))
        << monitor.err;
    EXPECT_FALSE(any_process_in(dir)) << "a worker outlived the monitor";
}

TEST_F(WorkersCli, AReaderThatClosesEarlyEndsTheRunAsCtrlCDoes) {
    // Far more CSV than a pipe holds, written while the plot is still a
    // temporary file.
    const std::string cmd = "cd '" + dir.string() + "' && '" UREA_REACTOR "' study --vary t-out=170:194:60 "
                            "--vary nh3_co2=2.8:3.6:20 --csv - --plot p.svg --jobs 2 2> err "
                            "| head -c 1 > /dev/null; echo ${PIPESTATUS[0]} > status";
    write("pipe.sh", cmd + "\n");
    ASSERT_EQ(std::system(("bash '" + (dir / "pipe.sh").string() + "'").c_str()), 0);
    fs::remove(dir / "pipe.sh");
    EXPECT_EQ(slurp(dir / "status"), "141\n") << slurp(dir / "err");
    const std::string err = slurp(dir / "err");
    EXPECT_EQ(err.substr(err.rfind("urea-reactor: ")), "urea-reactor: stopped: standard output was closed\n");
    EXPECT_FALSE(any_process_in(dir)) << "a worker outlived the workbench";
    EXPECT_EQ(files(), 2u);  // err and status: no plot, whole or temporary
}

TEST_F(WorkersCli, AForkThatFailsIsAResourceProblem) {
    // Root is not held to a process limit: the run is nobody's.
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr || geteuid() != 0) GTEST_SKIP() << "no unprivileged user to run as";
    fs::permissions(dir, fs::perms::all);
    const auto as_nobody = [&](const std::string& limit, const std::string& args) {
        // Under the sanitizers, the leak check's own thread would meet the process limit at exit.
        const std::string cmd = "cd '" + dir.string() +
                                "' && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" setpriv --reuid=" +
                                std::to_string(nobody->pw_uid) +
                                " --regid=" + std::to_string(nobody->pw_gid) + " --clear-groups " + limit + " '" +
                                UREA_REACTOR "' " + args + " > out 2> err";
        const int raw = std::system(cmd.c_str());
        return outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir / "out"), slurp(dir / "err")};
    };
    const std::string study = "study --vary t-out=176:192:17 --vary nh3_co2=3,3.4 --result co2_conversion --jobs 2";
    // A build in a folder that nobody may enter (a private checkout) cannot be run so.
    const outcome free = as_nobody("", study);
    if (free.status != 0) GTEST_SKIP() << "the build cannot be run as nobody: " << free.err;
    // None to be had.
    const outcome none = as_nobody("prlimit --nproc=1", study);
    EXPECT_EQ(none.status, 2) << none.err;
    EXPECT_EQ(none.err, "urea-reactor: error: no worker process could be started (fork: Resource temporarily unavailable)\n");
    // One of two: the study is solved with it.
    const outcome one = as_nobody("prlimit --nproc=2", study);
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_NE(one.err.find("urea-reactor: warning: only 1 of 2 worker processes could be started (fork: "), std::string::npos)
        << one.err;
}

TEST_F(WorkersCli, WorkersAreAWholeNumberAndTheirTimeoutIsBounded) {
    for (const char* n : {"1e3", "0", "-1"}) {
        const outcome jobs = run(std::string("study --vary t-out=176:192:3 --jobs ") + n);
        EXPECT_EQ(jobs.status, 2);
        EXPECT_NE(jobs.err.find(std::string("must be a whole number of worker processes from 1 to 1024 (got ") + n + ")"),
                  std::string::npos)
            << jobs.err;
    }
    const outcome timeout = run("study --vary t-out=176:192:3 --worker-timeout 1e308");
    EXPECT_EQ(timeout.status, 2);
    EXPECT_NE(timeout.err.find("must be at most 86400 s (got 1e308)"), std::string::npos) << timeout.err;
}

}  // namespace
