// urea-reactor as a user runs it: exit status, messages, output files and
// the verdicts of `check` on good and broken plug-in builds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "model/case.h"
#include "session/session.h"
#include "model/properties.h"
#include "solver/reactor.h"
#include "cli/cli_fixture.h"
#include "urea_version.h"

namespace {

namespace fs = std::filesystem;
using cli_testing::outcome;
using cli_testing::slurp;
using Cli = cli_testing::cli_fixture;

TEST_F(Cli, DefaultCasePrintsTheTrayTableAndSummary) {
    const outcome o = run("");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    for (const char* text : {"tray", "CO2 conv %", "CO2 conversion to urea:",
                             "equilibrium at outlet T and P:", "NC-FLOW kg/h", "atom balance"}) {
        EXPECT_NE(o.out.find(text), std::string::npos) << text;
    }
    // Ten tray rows, numbered.
    EXPECT_NE(o.out.find("\n    10 "), std::string::npos);
    EXPECT_EQ(o.out.find("\n    11 "), std::string::npos);
}

TEST_F(Cli, JsonAgreesWithTheModelRunInProcess) {
    const outcome o = run("--json --trays 4 --nh3-co2 3.3");
    ASSERT_EQ(o.status, 0) << o.err;
    const auto j = nlohmann::json::parse(o.out);
    workbench::reactor_case c = workbench::default_case();
    c.trays = 4;
    workbench::set_nh3_co2_ratio(c, 3.3);
    workbench::session lib(UREA_PLUGIN_PATH);
    workbench::property_set props;
    workbench::workbench_host h(lib, props);
    const workbench::result r = workbench::simulate(c, h);
    EXPECT_NEAR(j.at("co2_conversion").get<double>(), r.co2_conversion, 1e-12);
    EXPECT_NEAR(j.at("equilibrium_co2_conversion").get<double>(), r.equilibrium_co2_conversion, 1e-12);
    EXPECT_EQ(j.at("profile").size(), 4u);
    EXPECT_EQ(j.at("case").at("reactor").at("trays").get<int>(), 4);
    EXPECT_TRUE(j.at("nc_flow_kg_h").contains("UREA"));
    EXPECT_TRUE(j.at("atom_closure").contains("N"));
}

TEST_F(Cli, WritesCsvAndPlotWhole) {
    const outcome o = run("--model pfr --csv profile.csv --plot profile.svg");
    ASSERT_EQ(o.status, 0) << o.err;
    std::istringstream csv(slurp(dir / "profile.csv"));
    std::string header, line;
    std::getline(csv, header);
    EXPECT_EQ(header.rfind("station,volume_m3,temperature_C,x_NH3", 0), 0u) << header;
    int rows = 0;
    while (std::getline(csv, line)) ++rows;
    EXPECT_EQ(rows, 20);
    const std::string svg = slurp(dir / "profile.svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_EQ(files(), 2u);  // no temporaries left
}

TEST_F(Cli, BadInputExitsTwoWithOneMessage) {
    write("broken.json", "{\n  \"reactor\": {\n    \"trays\": 10,,\n  }\n}\n");
    write("unknown.json", R"({"reactor": {"trays": 3, "volume_m3": 10, "pressure_bar": 140,
 "inlet_temperature_C": 170, "outlet_temperature_C": 180, "colour": "red"},
 "feed_kmol_h": {"CO2": 10, "NH3": 30}})");
    write("big.json", "");
    fs::resize_file(dir / "big.json", (std::size_t{64} << 20) + 1);
    const struct {
        std::string args;
        std::string expected;
    } cases[] = {
        {"broken.json", "broken.json:3: malformed JSON"},
        {"unknown.json", "unknown.json:2: reactor.colour: unknown key"},
        {"missing.json", "File does not exist: missing.json"},
        {"--trays 0", "--trays: must be a whole number from 1 to 10000 (got 0)"},
        {"--volume 0", "--volume: must be a number > 0 (got 0)"},
        {"--pressure -5", "--pressure: must be a number > 0 (got -5)"},
        {"--co2 0", "--co2 0: no CO2 in the feed"},
        {"--model cstr", "--model"},
        {"--plugin ./nothing-here.so", "does not load"},
        {"--plugin '" PLUGIN_WITHOUT_USURA "'", "does not export the routine USURA"},
        {"--plot out.pdf", "out.pdf: the plot is drawn as .svg or .png"},
        {"--csv no/such/folder/out.csv", "no/such/folder/out.csv: cannot write there"},
        {"fit --co2-conversion 0.9", "is at or above the equilibrium CO2 conversion"},
        {"big.json", "big.json: is 67108865 bytes; a case file may be at most 67108864 bytes (64 MiB)"},
        {"study --vary a2=0.1,0.2 --result x_UREA@99999999999999999999",
         "after '@' comes a tray (or station) number from 1 to 10000"},
        // An option unknown is named before the word after it is taken for a case file.
        {"--nh3co2 3.2", "--nh3co2 is no option (did you mean --nh3-co2?); urea-reactor --help lists them"},
        {"--vary a2=1:2:2", "--vary is no option of urea-reactor without a subcommand: it is one of sweep, study and "
                            "design, given after the subcommand"},
        {"fit --co2-conversion 60", "the target must be a fraction between 0 and 1 (got 60; a percentage? write 0.6)"},
        {"study --vary a_2=0.1:0.2:2", "--vary a_2=0.1:0.2:2: \"a_2\" is no quantity of a case; did you mean a2?"},
        {"study --vary a2=0.1:0.2:2 --map map.png", "--map map.png: each --map takes 2 values, --map RESULT FILE (got 1)"},
        {"study --vary a2=0.1:0.2:2 --json --table", "--table and --json both write to standard output"},
    };
    for (const auto& t : cases) {
        const outcome o = run(t.args);
        EXPECT_EQ(o.status, 2) << t.args << ": " << o.err;
        EXPECT_NE(o.err.find(t.expected), std::string::npos) << t.args << " gave: " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << t.args << ": " << o.err;
        EXPECT_EQ(o.out, "") << t.args;
    }
}

TEST_F(Cli, ClampedTemperatureWarnsAndRuns) {
    const outcome o = run("--t-out 205");
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.err.find("warning: reactor.outlet_temperature_C = 205 C is outside"),
              std::string::npos) << o.err;
    EXPECT_NE(o.out.find("CO2 conversion to urea"), std::string::npos);
}

TEST_F(Cli, SolverFailureExitsOneSaysWhatItTriedAndWritesNothing) {
    const outcome o = run("--plugin '" PLUGIN_NAN_RATES "' --csv out.csv --plot out.svg");
    EXPECT_EQ(o.status, 1);
    // One line, a whole sentence; what each start ended with behind --verbose.
    EXPECT_EQ(o.err.rfind("urea-reactor: solver failure: tray 1: no solution from any of ", 0), 0u)
        << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(o.err.find("from 90 % of the carbamate-formation limit"), std::string::npos);
    EXPECT_EQ(files(), 0u);
    const outcome verbose = run("--plugin '" PLUGIN_NAN_RATES "' --verbose");
    EXPECT_EQ(verbose.status, 1);
    EXPECT_EQ(verbose.err.rfind("urea-reactor: solver failure: tray 1: no solution", 0), 0u);
    EXPECT_NE(verbose.err.find("\n  from 90 % of the carbamate-formation limit: "), std::string::npos)
        << verbose.err;
    const outcome pfr = run("--plugin '" PLUGIN_NAN_RATES "' --model pfr");
    EXPECT_EQ(pfr.status, 1);
    EXPECT_NE(pfr.err.find("CVODE"), std::string::npos) << pfr.err;
}

TEST_F(Cli, FitPrintsTheRateFactor) {
    const outcome o = run("fit --co2-conversion 0.5 --json");
    ASSERT_EQ(o.status, 0) << o.err;
    const auto j = nlohmann::json::parse(o.out);
    const double a2 = j.at("a2").get<double>();
    EXPECT_NEAR(j.at("co2_conversion").get<double>(), 0.5, 1e-8);
    // Running with that a2 gives the target back.
    const outcome back = run("--json --a2 " + std::to_string(a2));
    ASSERT_EQ(back.status, 0);
    EXPECT_NEAR(nlohmann::json::parse(back.out).at("co2_conversion").get<double>(), 0.5, 1e-5);
    // Case options count before or after the subcommand alike.
    const outcome after = run("fit --co2-conversion 0.5 --trays 4 --json");
    const outcome before = run("--trays 4 --json fit --co2-conversion 0.5");
    ASSERT_EQ(after.status, 0);
    ASSERT_EQ(before.status, 0);
    const double a2_4 = nlohmann::json::parse(after.out).at("a2").get<double>();
    EXPECT_EQ(nlohmann::json::parse(before.out).at("a2").get<double>(), a2_4);
    EXPECT_GT(std::abs(a2_4 - a2), 1e-3 * a2);  // four trays need another a2
}

TEST_F(Cli, CheckPassesTheGoodBuild) {
    const outcome o = run("check");
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(o.out.find("FAILED"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("It exports USURA."), std::string::npos);
    EXPECT_NE(o.out.find("USURA reproduces the reference evaluation"), std::string::npos);
    EXPECT_NE(o.out.find("The plug-in build is good."), std::string::npos);
}

TEST_F(Cli, CheckNamesWhatIsWrongWithBrokenBuilds) {
    const struct {
        const char* plugin;
        const char* expected;
    } cases[] = {
        {PLUGIN_WITHOUT_USURA, "FAILED: It does not export USURA."},
        {PLUGIN_WRONG_RATES, "FAILED: USURA does not reproduce the reference evaluation"},
        {PLUGIN_NAN_RATES, "FAILED: USURA does not reproduce the reference evaluation"},
        {PLUGIN_FOREIGN_HOST, "It needs the host symbol HOST_UNIT_SYSTEM, which this host does not define."},
        {"./nothing-here.so", "FAILED: The plug-in ./nothing-here.so does not load"},
        {PLUGIN_CRASHING, "FAILED: The plug-in crashed its host during the USURA reference evaluation"},
    };
    for (const auto& t : cases) {
        const outcome o = run(std::string("check --plugin '") + t.plugin + "'");
        EXPECT_NE(o.status, 0) << t.plugin;
        EXPECT_NE(o.out.find(t.expected), std::string::npos) << t.plugin << ":\n" << o.out;
        EXPECT_NE(o.out.find("The plug-in build is NOT good."), std::string::npos);
    }
    // The slightly wrong build still exports everything and loads.
    const outcome wrong = run(std::string("check --plugin '") + PLUGIN_WRONG_RATES + "'");
    EXPECT_NE(wrong.out.find("ok:     It exports USURA."), std::string::npos);
    EXPECT_NE(wrong.out.find("ok:     UPROPU gives the known NC-FLOW"), std::string::npos);
}

TEST_F(Cli, HelpExplainsTheOptions) {
    const outcome o = run("--help");
    EXPECT_EQ(o.status, 0);
    for (const char* text : {"--plugin", "--model", "--trays", "--json", "--csv", "--plot",
                             "fit", "check", "Exit status"}) {
        EXPECT_NE(o.out.find(text), std::string::npos) << text;
    }
    const outcome fit = run("fit --help");
    EXPECT_NE(fit.out.find("--co2-conversion"), std::string::npos);
    // An option of two words shows them, not CLI11's count.
    const outcome study = run("study --help");
    EXPECT_NE(study.out.find("  --map RESULT FILE  "), std::string::npos) << study.out;
    EXPECT_EQ(study.out.find(" x 2"), std::string::npos) << study.out;
    EXPECT_NE(study.out.find("--quiet"), std::string::npos);
}

TEST_F(Cli, AnOptionThatCannotTakeEffectIsNamedInAWarningThatQuietSilences) {
    const outcome pfr = run("--model pfr --trays 3");
    EXPECT_EQ(pfr.status, 0);
    EXPECT_EQ(pfr.err, "urea-reactor: warning: --trays 3: not used: the case is plug flow, which has no trays\n");
    const outcome quiet = run("--model pfr --trays 3 --quiet");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, pfr.out);
    EXPECT_EQ(run("--quiet --trays 0").err, "urea-reactor: error: --trays: must be a whole number from 1 to 10000 (got 0)\n");
    const outcome version = run("--version --trays 3");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.err, "urea-reactor: warning: --version prints the versions and nothing else: --trays 3 not used\n");
    const outcome twice = run("--trays 3 study --trays 4 --vary a2=0.1,0.2 --json");
    EXPECT_EQ(twice.status, 0) << twice.err;
    EXPECT_EQ(twice.err, "urea-reactor: warning: --trays 3, given before study, is replaced by --trays 4 after it\n");
    EXPECT_EQ(nlohmann::json::parse(twice.out).at("base_case").at("reactor").at("trays"), 4);
}

TEST_F(Cli, PlotFileNamesNeverBecomeGnuplotCommands) {
    // A newline in the file's name, and in its folder's, with a gnuplot
    // command after it: the plot is drawn under that name, nothing is run.
    const std::string name = "x\nsystem \"touch pwned\"\n.svg";
    const outcome o = run(R"sh(--plot "$(printf 'x\nsystem "touch pwned"\n.svg')")sh");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(fs::exists(dir / "pwned"));
    EXPECT_NE(slurp(dir / name).find("</svg>"), std::string::npos);
    // (X: the shell's $(...) would strip a newline at the end)
    const std::string folder = "d\nsystem \"touch pwned2\"\nX";
    fs::create_directory(dir / folder);
    const outcome in_folder =
        run(R"(--plot "$(printf 'd\nsystem "touch pwned2"\nX')/p.svg")");
    EXPECT_EQ(in_folder.status, 0) << in_folder.err;
    EXPECT_FALSE(fs::exists(dir / "pwned2"));
    EXPECT_TRUE(fs::exists(dir / folder / "p.svg"));
    // A quote in the name is just a quote.
    EXPECT_EQ(run("--plot \"it's.png\"").status, 0);
    EXPECT_TRUE(fs::exists(dir / "it's.png"));
}

TEST_F(Cli, NothingIsWrittenUnlessTheWholeRunSucceeds) {
    const struct {
        std::string args, env;
        int status;
    } cases[] = {
        {"--csv x.csv --plot p.pdf", "", 2},                   // a bad extension
        {"--csv x.csv --plot no/such/folder/p.svg", "", 2},    // no such folder
        {"--plot p.svg --csv no/such/folder/x.csv", "", 2},
        {"--csv x.csv --plot x.csv", "", 2},                   // one file twice
        {"--csv x.csv --volume -1", "", 2},                    // a bad option after the output
        {"--csv x.csv --plot p.svg", "PATH=/nowhere", 1},      // gnuplot missing
        {"--csv x.csv --plot p.svg --plugin '" PLUGIN_NAN_RATES "'", "", 1},  // no solution
    };
    for (const auto& t : cases) {
        const outcome o = run(t.args, t.env);
        EXPECT_EQ(o.status, t.status) << t.args << ": " << o.err;
        EXPECT_EQ(files(), 0u) << t.args << ": a file, or a temporary, was left";
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << t.args << ": " << o.err;
    }
    // A folder given as the file, or a pipe that a rename would replace.
    fs::create_directory(dir / "folder");
    EXPECT_EQ(run("--csv folder").status, 2);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(run("--csv pipe").status, 2);
    EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
    fs::remove(dir / "pipe");
    // The file standard input reads is an input, however the output names it.
    const std::string input = slurp(write("case.json", slurp(UREA_EXAMPLES "/default-case.json")));
    const std::string cmd = "cd '" + dir.string() + "' && '" UREA_REACTOR "' --csv /proc/self/fd/0 < case.json 2> err.txt";
    EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 2);
    EXPECT_EQ(slurp(dir / "case.json"), input);
    EXPECT_NE(slurp(dir / "err.txt").find("is the file standard input reads"), std::string::npos);
    fs::remove(dir / "case.json");
    fs::remove(dir / "err.txt");
    // A file already there is replaced whole.
    write("x.csv", "old");
    ASSERT_EQ(run("--csv x.csv").status, 0);
    EXPECT_EQ(slurp(dir / "x.csv").rfind("tray,volume_m3", 0), 0u);
}

TEST_F(Cli, CheckSurvivesABuildThatCrashesWhileLoadingOrHangs) {
    const outcome crash = run("check --plugin '" PLUGIN_CRASH_ON_LOAD "'");
    EXPECT_EQ(crash.status, 2) << crash.out << crash.err;
    EXPECT_NE(crash.out.find("FAILED: The plug-in " PLUGIN_CRASH_ON_LOAD " crashed while loading (signal 11"),
              std::string::npos) << crash.out;
    EXPECT_NE(crash.out.find("The plug-in build is NOT good."), std::string::npos);
    const outcome hang = run("check --timeout 0.5 --plugin '" PLUGIN_HANGING "'");
    EXPECT_EQ(hang.status, 2) << hang.out << hang.err;
    EXPECT_NE(hang.out.find("ok:     It exports USURA."), std::string::npos) << hang.out;
    EXPECT_NE(hang.out.find("FAILED: The plug-in " PLUGIN_HANGING
                            " timed out during the USURA reference evaluation (no end within 0.5 s"),
              std::string::npos) << hang.out;
    for (const char* bad : {"0", "-1", "nan", "1e999"}) {
        EXPECT_EQ(run(std::string("check --timeout ") + bad).status, 2) << bad;
    }
    EXPECT_EQ(run("--csv x.csv check").status, 2);  // an option check does not use
}

TEST_F(Cli, APluginThatCrashesSaysWhereInOneLine) {
    const outcome o = run("--plugin '" PLUGIN_CRASHING "' --csv x.csv");
    EXPECT_EQ(o.signal, SIGSEGV);
    EXPECT_EQ(o.err, "urea-reactor: error: the plug-in " PLUGIN_CRASHING " crashed in its routine "
                     "USURA (signal 11, SIGSEGV, a bad memory access); `urea-reactor check --plugin "
                     PLUGIN_CRASHING "` examines the build\n");
    EXPECT_EQ(files(), 0u);
    const outcome loading = run("--plugin '" PLUGIN_CRASH_ON_LOAD "'");
    EXPECT_EQ(loading.signal, SIGSEGV);
    EXPECT_NE(loading.err.find("crashed while loading (signal 11"), std::string::npos) << loading.err;
}

TEST_F(Cli, NumbersMustBeFiniteAndFlowsPhysical) {
    write("huge.json", R"({"reactor": {"trays": 3, "volume_m3": 10,
 "pressure_bar": 1e999, "inlet_temperature_C": 170, "outlet_temperature_C": 180},
 "feed_kmol_h": {"CO2": 10, "NH3": 30}})");
    write("flow.json", R"({"reactor": {"trays": 3, "volume_m3": 10, "pressure_bar": 140,
 "inlet_temperature_C": 170, "outlet_temperature_C": 180},
 "feed_kmol_h": {"CO2": 10, "NH3": 1e308}})");
    const struct {
        std::string args;
        std::string expected;
    } cases[] = {
        {"--t-in nan", "--t-in: must be a finite number (got nan)"},
        {"--t-out inf", "--t-out: must be a finite number (got inf)"},
        {"--t-out -inf", "--t-out: must be a finite number (got -inf)"},
        {"--a2 1e999", "--a2: must be a number > 0 (got 1e999"},
        {"--a1 1e-400", "--a1: must be a number > 0 (got 1e-400, too small for a double, which reads it as 0)"},
        {"--volume NaN", "--volume: must be a number > 0 (got NaN)"},
        {"--nh3-co2 nan", "--nh3-co2: must be a number >= 0 (got nan)"},
        {"fit --co2-conversion nan", "--co2-conversion: must be a number > 0 (got nan)"},
        {"fit --co2-conversion 0.5 --t-in nan", "--t-in: must be a finite number (got nan)"},
        {"huge.json", "huge.json:2: reactor.pressure_bar: must be a finite number (got 1e999"},
        {"flow.json", "flow.json:3: feed_kmol_h.NH3: 1e+308 kmol/h is above 1e+07 kmol/h"},
        {"--co2 1e8", "--co2 1e8: above 10000000 kmol/h"},
        {"--nh3-co2 1e300", "--nh3-co2 1e300: the NH3 feed would be 2.4e+303 kmol/h, above"},
    };
    for (const auto& t : cases) {
        const outcome o = run(t.args);
        EXPECT_EQ(o.status, 2) << t.args << ": " << o.err;
        EXPECT_NE(o.err.find(t.expected), std::string::npos) << t.args << " gave: " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << t.args << ": " << o.err;
    }
}

TEST_F(Cli, ARatioTheFeedCannotHaveNamesItsOption) {
    write("carbamate.json", R"({"reactor": {"trays": 1, "volume_m3": 190, "pressure_bar": 145,
 "inlet_temperature_C": 170, "outlet_temperature_C": 183}, "feed_kmol_h": {"CO2": 0, "CARB": 2400}})");
    const outcome o = run("carbamate.json --nh3-co2 1.5");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("urea-reactor: error: --nh3-co2 1.5: the NH3 feed would be -1200 kmol/h", 0), 0u)
        << o.err;
    EXPECT_EQ(run("carbamate.json --nh3-co2 2.5").status, 0);
}

TEST_F(Cli, FitWritesTheFittedRunsProfile) {
    const outcome o = run("--csv before.csv fit --co2-conversion 0.5 --csv after.csv --plot p.svg");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(fs::exists(dir / "before.csv"));  // given again after fit: that one counts
    std::istringstream csv(slurp(dir / "after.csv"));
    std::string line, last;
    while (std::getline(csv, line)) last = line;
    EXPECT_NEAR(std::stod(last.substr(last.rfind(',') + 1)), 0.5, 1e-8) << last;
    EXPECT_TRUE(fs::exists(dir / "p.svg"));
    ASSERT_EQ(run("--csv before.csv fit --co2-conversion 0.5").status, 0);
    EXPECT_TRUE(fs::exists(dir / "before.csv"));
}

TEST_F(Cli, VersionsOfTheWorkbenchAndThePluginAreReported) {
    const std::string workbench = "urea-reactor " UREA_VERSION " (commit " UREA_GIT_COMMIT ")";
    const std::string plugin = "urea-plugin " UREA_VERSION " (commit " UREA_GIT_COMMIT ")";
    const outcome o = run("--version");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, workbench + "\nplug-in " UREA_PLUGIN_PATH ": " + plugin + "\n");
    const outcome json = run("--json --trays 2");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j.at("build").at("urea_reactor"), workbench);
    EXPECT_EQ(j.at("build").at("plugin"), plugin);
    EXPECT_EQ(j.at("build").at("schema_version"), 1);  // the document names what it was written by
    EXPECT_EQ(run("check").out.rfind(workbench + " checks " UREA_PLUGIN_PATH ": " + plugin + "\n", 0), 0u);
    // A build without the marker says so; the workbench's own version still prints.
    const outcome old = run("--version --plugin '" PLUGIN_WITHOUT_USURA "'");
    EXPECT_EQ(old.status, 0);
    EXPECT_NE(old.out.find(": no version marker"), std::string::npos) << old.out;
}

TEST_F(Cli, HelpSaysPressureCancelsWithTheBuiltInProperties) {
    const outcome o = run("--help");
    EXPECT_NE(o.out.find("P cancels"), std::string::npos) << o.out;
}

}  // namespace
