// urea-reactor left alone in batch work: it never replaces a file it did not
// make, leaves nothing behind when it is stopped (by a signal, its time
// limit, or a gnuplot that hangs or fails), refuses absurd input as bad
// input, and says plainly what is wrong.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/cli_fixture.h"

namespace {

namespace fs = std::filesystem;
using cli_testing::any_process_in;
using cli_testing::outcome;
using cli_testing::slurp;
using Batch = cli_testing::cli_fixture;

// A stand-in for gnuplot on the PATH: a shell script in the test's folder.
std::string fake_gnuplot(const fs::path& dir, const std::string& body) {
    const fs::path bin = dir / "fakebin";
    fs::create_directories(bin);
    std::ofstream(bin / "gnuplot") << "#!/bin/sh\n" << body << "\n";
    fs::permissions(bin / "gnuplot", fs::perms::owner_all);
    return "PATH=" + bin.string() + ":/usr/bin:/bin";
}

// Starts urea-reactor in dir, sends it sig after `after`, and returns its
// exit status and stderr.
outcome stopped(const fs::path& dir, const std::string& args, int sig, std::chrono::milliseconds after,
                const std::string& env = "") {
    const fs::path err = dir.parent_path() / (dir.filename().string() + ".stopped.err");
    const pid_t child = fork();
    if (child == 0) {
        const std::string cmd = "cd '" + dir.string() + "' && exec " + (env.empty() ? "" : "env " + env + " ") +
                                "'" UREA_REACTOR "' " + args + " > /dev/null 2> '" + err.string() + "' < /dev/null";
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(after);
    kill(child, sig);
    int raw = 0;
    waitpid(child, &raw, 0);
    outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, "", slurp(err), WIFSIGNALED(raw) ? WTERMSIG(raw) : 0};
    fs::remove(err);
    return o;
}

// Files in dir whose names start with ".urea-reactor-": temporaries.
int temporaries(const fs::path& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().rfind(".urea-reactor-", 0) == 0;
    return n;
}

TEST_F(Batch, AnOutputIsNeverAnInputNorAnotherOutputHoweverSpelt) {
    write("runs.csv", slurp(UREA_EXAMPLES "/runs-synthetic.csv"));
    write("case.json", slurp(UREA_EXAMPLES "/default-case.json"));
    fs::create_symlink("runs.csv", dir / "link.csv");
    fs::create_hard_link(dir / "case.json", dir / "hard.json");
    fs::copy_file(UREA_PLUGIN_PATH, dir / "plugin.so");
    const std::string runs_before = slurp(dir / "runs.csv"), case_before = slurp(dir / "case.json");
    for (const std::string args : {"estimate runs.csv --fix a1=1 --csv runs.csv",
                                   "estimate runs.csv --fix a1=1 --csv ./runs.csv",
                                   "estimate runs.csv --fix a1=1 --csv link.csv",
                                   "case.json --csv hard.json",
                                   "case.json --csv case.json",
                                   "--csv x.svg --plot ./x.svg",
                                   "--plugin ./plugin.so --csv plugin.so",
                                   "--csv ''",
                                   "--csv /dev/null",
                                   "--csv - --plot -",
                                   "--json --csv -"}) {
        const outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args << ": " << o.err;
        EXPECT_EQ(o.out, "") << args;
    }
    EXPECT_EQ(slurp(dir / "runs.csv"), runs_before);
    EXPECT_EQ(slurp(dir / "case.json"), case_before);
    EXPECT_EQ(slurp(dir / "plugin.so"), slurp(UREA_PLUGIN_PATH));
    EXPECT_FALSE(fs::exists(dir / "x.svg"));
}

TEST_F(Batch, WritesThroughASymlinkKeepingItAndDashIsStandardOutput) {
    write("target.csv", "old\n");
    fs::create_symlink("target.csv", dir / "link.csv");
    ASSERT_EQ(run("--csv link.csv").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
    EXPECT_EQ(slurp(dir / "target.csv").rfind("tray,volume_m3,", 0), 0u);

    const outcome o = run("--csv -");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.rfind("tray,volume_m3,", 0), 0u) << "only the CSV goes to standard output";
}

TEST_F(Batch, AFailedWriteToStandardOutputIsAnError) {
    const fs::path err = dir / "err.txt";
    const int raw = std::system(("'" UREA_REACTOR "' --json > /dev/full 2> '" + err.string() + "'").c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
    EXPECT_NE(slurp(err).find("cannot write to standard output"), std::string::npos) << slurp(err);
}

TEST_F(Batch, InputThatIsNoRegularFileIsRefusedAtOnce) {
    for (const std::string args : {"/dev/zero", "estimate /dev/zero", "estimate .", "--plugin /dev/zero --version"}) {
        const auto start = std::chrono::steady_clock::now();
        const outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args << ": " << o.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << args;
    }
    EXPECT_NE(run("estimate .").err.find(".: is a folder, not a runs file"), std::string::npos);
}

TEST_F(Batch, StoppedAtAnyMomentItRemovesItsTemporariesAndExitsWith128PlusTheSignal) {
    // While it computes: a sweep of some seconds, on three workers.
    const std::string sweep =
        "sweep --vary t-out=175:195:100 --vary nh3_co2=2.8:3.6:100 --csv big.csv --plot big.svg --jobs 3";
    outcome o = stopped(dir, sweep, SIGINT, std::chrono::milliseconds(500));
    EXPECT_EQ(o.status, 130) << o.err;
    // After the plan's notes (the plot's curves), one line says why it ended.
    EXPECT_EQ(o.err.substr(o.err.rfind('\n', o.err.size() - 2) + 1), "urea-reactor: interrupted\n") << o.err;
    o = stopped(dir, sweep, SIGTERM, std::chrono::milliseconds(500));
    EXPECT_EQ(o.status, 143) << o.err;
    EXPECT_EQ(files(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(any_process_in(dir)) << "a worker outlived the workbench";

    // While gnuplot draws (one that never ends), with the CSV staged.
    const std::string env = fake_gnuplot(dir, "exec sleep 61.5");
    o = stopped(dir, "--csv out.csv --plot out.svg", SIGHUP, std::chrono::milliseconds(1000), env);
    EXPECT_EQ(o.status, 128 + SIGHUP) << o.err;
    EXPECT_EQ(temporaries(dir), 0);
    EXPECT_FALSE(fs::exists(dir / "out.csv"));

    // The time limit ends it the same way, gnuplot too.
    const outcome limited = run("--csv out.csv --plot out.svg --time-limit 1", env);
    EXPECT_EQ(limited.status, 124) << limited.err;
    EXPECT_NE(limited.err.find("time limit of 1 s"), std::string::npos) << limited.err;
    EXPECT_EQ(temporaries(dir), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(any_process_in(dir)) << "gnuplot outlived the workbench";
}

TEST_F(Batch, APlotThatFailsKeepsEverythingElse) {
    const outcome o = run("estimate '" UREA_EXAMPLES "/runs-synthetic.csv' --fix a1=1 --csv e.csv --plot e.svg",
                          fake_gnuplot(dir, "exit 1"));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("Rate factors"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "e.csv"));
    EXPECT_FALSE(fs::exists(dir / "e.svg"));
    EXPECT_EQ(o.err, "urea-reactor: error: gnuplot failed to draw e.svg\n");
    EXPECT_EQ(temporaries(dir), 0);
}

TEST_F(Batch, ACheckedBuildThatHangsDiesWithItsParent) {
    const outcome o = stopped(dir, "check --timeout 60 --plugin '" PLUGIN_HANGING "'", SIGTERM,
                              std::chrono::milliseconds(1500));
    EXPECT_EQ(o.status, 143) << o.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(any_process_in(dir)) << "the checked build outlived the workbench";
}

TEST_F(Batch, AbsurdValuesAreBadInputNamedByTheirOption) {
    write("dup.json", R"({"reactor": {"trays": 3, "volume_m3": 10, "pressure_bar": 140,
 "inlet_temperature_C": 170, "outlet_temperature_C": 180},
 "feed_kmol_h": {"CO2": 2400, "NH3": 7000, "CO2": 10}})");
    const struct {
        std::string args, expected;
    } cases[] = {
        {"--volume 1e308", "--volume 1e308: must be from"},
        {"--pressure 1e300", "--pressure 1e300: must be from"},
        {"--a2 1e300", "--a2 1e300: must be from"},
        {"--a1 1e-300", "--a1 1e-300: must be from"},
        {"--t-in 1e6", "--t-in 1e6: must be from 0 to 400 C"},
        {"--t-out -273", "--t-out -273: must be from 0 to 400 C"},
        {"dup.json", "dup.json:3: feed_kmol_h.CO2: given twice"},
        {"--a2 1 --a2 2", "--a2 is given 2 times (1, then 2): give it once"},
        {"estmate runs.csv", "did you mean `urea-reactor estimate`?"},
    };
    for (const auto& t : cases) {
        const outcome o = run(t.args);
        EXPECT_EQ(o.status, 2) << t.args << ": " << o.err;
        EXPECT_NE(o.err.find(t.expected), std::string::npos) << t.args << " gave: " << o.err;
    }
}

TEST_F(Batch, OptionsBeforeASubcommandCountForItUnlessGivenAgain) {
    const auto base_a2 = [&](const std::string& args) {
        const outcome o = run(args + " --json");
        EXPECT_EQ(o.status, 0) << args << ": " << o.err;
        return nlohmann::json::parse(o.out).at("base_case").at("kinetics").at("a2").get<double>();
    };
    EXPECT_EQ(base_a2("--a2 0.2 sweep --vary a1=1:2:2"), 0.2);
    EXPECT_EQ(base_a2("--a2 0.2 sweep --a2 0.3 --vary a1=1:2:2"), 0.3);
    EXPECT_EQ(base_a2("--a2 0.15 estimate '" UREA_EXAMPLES "/runs-synthetic.csv' --fix a1=1 --fix a2=0.2"), 0.15);
    // --verbose is an option of every command that solves, before or after it.
    EXPECT_EQ(run("--verbose sweep --vary a1=1:2:2").status, 0);
    EXPECT_EQ(run("sweep --verbose --vary a1=1:2:2").status, 0);
}

}  // namespace
