// `urea-reactor estimate` and `urea-reactor sweep` as a user runs them: on
// runs made here by the real reactor at known rate factors, the verdicts,
// --fix, outliers and robust losses; exit statuses, messages naming file,
// line and column, the output files, and none on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_fixture.h"
#include "model/properties.h"
#include "base/digest.h"
#include "io/runs_file.h"
#include "analysis/runs_model.h"
#include "session/session.h"

namespace {

namespace fs = std::filesystem;
using cli_testing::outcome;
using cli_testing::slurp;
using EstimateCli = cli_testing::cli_fixture;
using SweepCli = cli_testing::cli_fixture;
using json = nlohmann::json;
using namespace workbench;

// Five test runs (settings as a runs file's columns) of the default case on
// 3 trays (`--trays 3`), measured as the real reactor predicts them at a1,
// a2, with normal noise of 0.005 (none for seed 0); `shift` is added to run
// `shifted`'s conversion (an outlier).
std::string made_runs(double a1, double a2, unsigned seed, double shift = 0.0, std::size_t shifted = 2) {
    const std::vector<std::string> rows = {"design,,,", "low load,2160,,", "more NH3,,3.3,", "hot,,,186",
                                           "lean,2300,2.9,"};
    std::string settings = "run,feed_kmol_h.CO2,nh3_co2,outlet_temperature_C,co2_conversion\n";
    for (const std::string& row : rows) settings += row + ",0.5\n";
    const runs_file f = parse_runs(settings, "made.csv");
    reactor_case base = default_case();
    base.trays = 3;
    session lib(UREA_PLUGIN_PATH);
    property_set props;
    workbench_host h(lib, props);
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.005);
    std::ostringstream out;
    out.precision(10);
    out << "run,feed_kmol_h.CO2,nh3_co2,outlet_temperature_C,co2_conversion,w_NH3,w_CO2,w_UREA,w_H2O\n";
    for (std::size_t i = 0; i < f.runs.size(); ++i) {
        reactor_case c = case_of(base, f.runs[i], f.file);
        c.a1 = a1;
        c.a2 = a2;
        const model::outcome o = predict_run(c, h, nullptr);
        EXPECT_TRUE(o.ok) << o.failure;
        out << rows[i];
        for (std::size_t q = 0; q < quantity_count; ++q) {
            out << "," << o.values[q] + (seed != 0 ? noise(rng) : 0.0) + (q == 0 && i == shifted ? shift : 0.0);
        }
        out << "\n";
    }
    return out.str();
}

json parsed(const outcome& o) {
    EXPECT_EQ(o.status, 0) << o.err;
    return o.status == 0 ? json::parse(o.out) : json::object();
}

double a2_of(const json& j) { return j.at("parameters").at("a2").at("value").get<double>(); }

bool a2_covers(const json& j, double a2) {
    const json& p = j.at("parameters").at("a2");
    return p.at("lower95").get<double>() < a2 && a2 < p.at("upper95").get<double>();
}

TEST_F(EstimateCli, WithA1LargeSaysA1IsUndeterminedAndSuggestsFixingIt) {
    write("runs.csv", made_runs(100.0, 0.16, 11));
    const json j = parsed(run("estimate runs.csv --trays 3 --json"));
    const json& a1 = j.at("parameters").at("a1");
    EXPECT_NE(a1.at("verdict"), "determined") << a1;
    EXPECT_NE(a1.at("verdict_text").get<std::string>().find("--fix a1=1 "), std::string::npos) << a1;
    EXPECT_TRUE(a2_covers(j, 0.16)) << j.at("parameters");
    EXPECT_EQ(j.at("measurements"), 25);
    // The verdict says it in words, with what to do (the table prints these lines).
    const std::string verdict = j.at("verdict").at(0).get<std::string>();
    EXPECT_EQ(verdict.rfind("a1 is NOT determined by these data: ", 0), 0u) << verdict;
    EXPECT_NE(verdict.find("add --fix a1=1,"), std::string::npos) << verdict;
    EXPECT_EQ(j.at("verdict").at(1).get<std::string>().rfind("a2 = 0.1", 0), 0u) << j.at("verdict");
    // The words about carbamate formation follow a1's profile (how slow it
    // still allows), not the best fit's value alone.
    EXPECT_EQ(verdict.find("Carbamate formation is fast"), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("not slower than that"), std::string::npos) << verdict;
    // No linearised interval for a1 at the edge: null in JSON as "none" in
    // the text, and said why; nor a correlation resting on it.
    EXPECT_TRUE(a1.at("lower95").is_null() && a1.at("upper95").is_null()) << a1;
    EXPECT_FALSE(a1.at("linearised_meaningful").get<bool>()) << a1;
    EXPECT_TRUE(j.at("correlation").is_null()) << j.at("correlation_note");
    EXPECT_FALSE(j.at("correlation_note").get<std::string>().empty());
    // The table says in words where a1's interval has no bound; no "-" for it.
    const outcome text = run("estimate runs.csv --trays 3");
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.find(" .. -"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  a1 =  "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("at least "), std::string::npos) << text.out;
}

TEST_F(EstimateCli, TheExampleSetStillFitsTheFactorsItWasMadeWith) {
    // Made at a1 = 1, a2 = 0.16 (examples/make_example_runs.py): a change
    // of the model that leaves it stale shows here.
    const json j = parsed(run("estimate '" UREA_EXAMPLES "/runs-synthetic.csv' --fix a1=1 --json"));
    EXPECT_TRUE(a2_covers(j, 0.16)) << j.at("parameters");
    EXPECT_LT(j.at("reduced_chi_square").get<double>(), 2.0);
    EXPECT_EQ(j.at("outliers"), 0);
    // The set made with slow carbamate formation (a1 = 3e-6): the profile
    // intervals hold both factors, and a1's has no upper bound (the plateau
    // fits nearly as well), as docs/workbench.md shows.
    const json slow = parsed(run("estimate '" UREA_EXAMPLES "/runs-slow-carbamate.csv' --json"));
    const json& a1 = slow.at("parameters").at("a1").at("profile95");
    const json& a2 = slow.at("parameters").at("a2").at("profile95");
    EXPECT_LT(a1.at(0).get<double>(), 3e-6) << a1;
    EXPECT_TRUE(a1.at(1).is_null()) << a1;
    EXPECT_LT(a2.at(0).get<double>(), 0.16) << a2;
    EXPECT_GT(a2.at(1).get<double>(), 0.16) << a2;
    EXPECT_EQ(slow.at("parameters").at("a1").at("verdict"), "open");
    // Its linearised intervals (1.2e-06 .. 3.7e-06 for a1) are unlike the
    // profile's, and so not shown as if they meant something.
    EXPECT_EQ(slow.at("parameters").at("a1").at("linearised_note"), "unlike the profile");
    EXPECT_EQ(slow.at("parameters").at("a2").at("linearised_note"), "unlike the profile");
    // The covariance exists, but the correlation from it means no more.
    EXPECT_TRUE(slow.at("covariance_ln").is_array());
    EXPECT_TRUE(slow.at("correlation").is_null()) << slow.at("correlation_note");
    EXPECT_TRUE(slow.at("parameters").at("a1").at("lower95").is_number());
    // A run left out is an alarm only when it moves a2 out of its profile
    // interval; the held a1 example's runs all stay inside.
    std::size_t beyond = 0;
    for (const json& x : slow.at("leave_one_out").at("runs")) {
        const json& share = x.at("share_of_profile95").at("a2");
        beyond += share.is_number() && share.get<double>() > 1.0 ? 1 : 0;
    }
    const std::string verdict = slow.at("verdict").dump();
    std::size_t alarms = 0;
    for (std::size_t at = verdict.find("leans on"); at != std::string::npos; at = verdict.find("leans on", at + 1)) ++alarms;
    EXPECT_EQ(alarms, beyond) << verdict;
    EXPECT_EQ(j.at("verdict").dump().find("leans on"), std::string::npos) << j.at("verdict");
}

TEST_F(EstimateCli, FixHoldsAFactorAndEstimatesTheOther) {
    write("runs.csv", made_runs(1.0, 0.16, 12));
    const json j = parsed(run("estimate runs.csv --trays 3 --fix a1=1 --json"));
    const json& a1 = j.at("parameters").at("a1");
    EXPECT_EQ(a1.at("value"), 1.0);
    EXPECT_EQ(a1.at("verdict"), "fixed");
    EXPECT_EQ(j.at("parameters").at("a2").at("verdict"), "determined");
    EXPECT_TRUE(a2_covers(j, 0.16)) << j.at("parameters");
    EXPECT_EQ(j.at("degrees_of_freedom"), 24);
    EXPECT_EQ(j.at("starts").size(), 3u);
    // Both held: the residuals there; at the truth they are the noise.
    const json both = parsed(run("estimate runs.csv --trays 3 --fix a1=1 --fix a2=0.16 --json"));
    EXPECT_EQ(a2_of(both), 0.16);
    EXPECT_EQ(both.at("degrees_of_freedom"), 25);
    EXPECT_LT(both.at("chi_square").get<double>(), 60.0);
    // A start for a factor held: the held value counts, and the start is said to be unused.
    const outcome off_run = run("estimate runs.csv --trays 3 --fix a1=1 --fix a2=0.1 --a2 0.2 --json");
    EXPECT_EQ(off_run.err, "urea-reactor: warning: --a2 0.2: not used: a2 is held at 0.1 (--fix a2=0.1)\n");
    const json off = parsed(off_run);
    EXPECT_EQ(a2_of(off), 0.1);
    EXPECT_GT(off.at("chi_square").get<double>(), 1000.0);
}

TEST_F(EstimateCli, FlagsAnOutlierAndARobustLossKeepsTheEstimateNearTheTruth) {
    // Run "more NH3" reports a conversion 12 sigma too high.
    write("runs.csv", made_runs(1.0, 0.16, 0, 0.06));
    const json plain = parsed(run("estimate runs.csv --trays 3 --fix a1=1 --json"));
    const json& row = plain.at("runs").at(2).at("measurements").at(0);
    EXPECT_EQ(row.at("measurement"), "co2_conversion");
    EXPECT_TRUE(row.at("outlier"));
    EXPECT_GT(row.at("residual").get<double>(), 3.0);
    const std::string verdict = plain.at("verdict").dump();
    EXPECT_NE(verdict.find("run \\\"more NH3\\\" (line 4): co2_conversion measured"), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("--loss huber"), std::string::npos);
    const double pulled = std::abs(std::log(a2_of(plain) / 0.16));
    EXPECT_GT(pulled, 0.02);
    for (const char* loss : {"huber", "cauchy"}) {
        const json robust = parsed(run(std::string("estimate runs.csv --trays 3 --fix a1=1 --json --loss ") + loss));
        EXPECT_LT(std::abs(std::log(a2_of(robust) / 0.16)), 0.25 * pulled) << loss;
        EXPECT_EQ(robust.at("outliers"), 1) << loss;
        EXPECT_TRUE(robust.at("runs").at(2).at("measurements").at(0).at("outlier")) << loss;
        EXPECT_EQ(robust.at("loss").at("kind"), loss);
        // The intervals' scale from the robust residuals, in which the
        // downweighted outlier counts as little as it pulls.
        EXPECT_LT(robust.at("robust_reduced_chi_square").get<double>(), 2.0) << loss;
        EXPECT_LT(robust.at("interval_scale_factor").get<double>(), 1.5) << loss;
        EXPECT_GT(robust.at("reduced_chi_square").get<double>(), 4.0) << loss;
    }
    EXPECT_TRUE(plain.at("robust_reduced_chi_square").is_null());
}

TEST_F(EstimateCli, RunsAtTheSameSettingsAreRecognisedAsReplicates) {
    // Three runs at the design settings: one left out leaves the others.
    std::string runs = made_runs(1.0, 0.16, 12);
    const std::string design = runs.substr(runs.find("\ndesign,") + 1, runs.find('\n', runs.find("\ndesign,") + 1) -
                                                                          runs.find("\ndesign,"));
    runs += "design b" + design.substr(6) + "design c" + design.substr(6);
    write("runs.csv", runs);
    const json j = parsed(run("estimate runs.csv --trays 3 --fix a1=1 --json"));
    const json& first = j.at("leave_one_out").at("runs").at(0);
    EXPECT_EQ(first.at("run"), "design");
    EXPECT_EQ(first.at("replicates"), json::array({"design b", "design c"}));
    EXPECT_EQ(j.at("leave_one_out").at("runs").at(1).at("replicates"), json::array());
    const outcome text = run("estimate runs.csv --trays 3 --fix a1=1");
    EXPECT_NE(text.out.find("replicates (the same settings): design, design b, design c"), std::string::npos) << text.out;
}

TEST_F(EstimateCli, WritesCsvAndAParityPlotWhereARunsNameIsOnlyEverAName) {
    // A run named to be gnuplot commands, had its name been spliced in: an
    // outlier (its conversion 0.06 off), so that the plot labels it.
    std::string runs = made_runs(1.0, 0.16, 13, 0.06, 0);
    runs.replace(runs.find("design"), 6, "\"x'\nsystem \"\"touch pwned\"\"\n'`touch pwned`\"");
    write("runs.csv", runs);
    const outcome o = run("estimate runs.csv --trays 3 --fix a1=1 --csv out.csv --plot parity.svg");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string svg = slurp(dir / "parity.svg");
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_NE(svg.find("<text>x'?system \"touch pwned\"?'`touch pwned`</text>"), std::string::npos) << svg;
    EXPECT_FALSE(fs::exists(dir / "pwned"));
    EXPECT_EQ(files(), 3u);  // runs.csv, out.csv, parity.svg: no temporaries
    // One row per run and measurement; the name quoted as CSV quotes it.
    const std::string csv = slurp(dir / "out.csv");
    EXPECT_EQ(csv.rfind("run,line,measurement,measured,sigma,sigma_given,predicted,residual,outlier,impossible_for_model\n"
                        "\"x'\nsystem \"\"touch pwned\"\"\n'`touch pwned`\",2,co2_conversion,", 0), 0u) << csv;
    std::size_t rows = 0;
    for (const char* q : {",co2_conversion,", ",w_NH3,", ",w_CO2,", ",w_UREA,", ",w_H2O,"}) {
        for (std::size_t at = csv.find(q); at != std::string::npos; at = csv.find(q, at + 1)) ++rows;
    }
    EXPECT_EQ(rows, 25u);
    // On a terminal the line breaks of a name are shown as '?'.
    EXPECT_NE(o.out.find("x'?system \"touch pwned\"?'`touch pwned`"), std::string::npos) << o.out;
}

TEST_F(EstimateCli, BadInputNamesFileLineAndColumnExitsTwoAndWritesNothing) {
    const std::string good = "run,co2_conversion,w_UREA\nA,0.6,0.35\nB,0.62,0.36\n";
    const struct {
        std::string runs, args, expected;
    } cases[] = {
        {"run,co2_conversion\nA,\"0.6\n", "", "runs.csv:2: cell 2: a quote opened here is never closed"},
        {"run,x_urea\nA,0.3\n", "", "runs.csv:1: column \"x_urea\" (2): unknown column: did you mean w_UREA?"},
        {"run;co2_conversion;w_UREA\nA;0,6;0.35\n", "",
         "runs.csv:2: column \"co2_conversion\" (2): not a number (got \"0,6\"; a decimal comma: the file is "
         "separated by semicolons, and its numbers must be written with a decimal point (0.6): export it with a "
         "decimal point, or as CSV with commas)"},
        {"run,w_UREA\nA,35\n", "", "runs.csv:2: column \"w_UREA\" (2): must be a fraction between 0 and 1 "
                                   "(got 35; a percentage? write 0.35)"},
        {"run,co2_conversion\nA,0.6\n", "", "runs.csv: 1 measurement in all for 2 free parameters"},
        {"run,feed_kmol_h.CO2,co2_conversion\nA,,0.6\nB,0,0.6\n", "",
         "runs.csv:3: column \"feed_kmol_h.CO2\" (2): run \"B\": feed_kmol_h.CO2: no CO2 in the feed"},
        {"run,feed_kmol_h.CO2,feed_kmol_h.UREA,co2_conversion\nA,0.001,2400,0.5\nB,,,0.6\n", "",
         "runs.csv:2: column \"co2_conversion\" (4): run \"A\": the run feeds too little CO2"},
        {good, "--fix a3=1", "--fix a3=1: write --fix a1=VALUE or --fix a2=VALUE"},
        {good, "--fix a1=0", "--fix a1: must be a number > 0 (got 0)"},
        {good, "--fix a1=1e7", "--fix a1=1e7: must lie within 1e-06 .. 1e+06"},
        {good, "--fix a1=1 --fix a1=2", "--fix a1=2: a1 is held twice"},
        {good, "--loss l2", "--loss: must be none, huber or cauchy (got l2)"},
        {good, "--a2 1e9", "--a2 (the start of the estimate): 1e+09 lies outside the search range"},
        {good, "--volume -1", "--volume: must be a number > 0 (got -1)"},
        {good, "--fix a1=1 --fix a2=0.1 --bootstrap 5", "--bootstrap 5: both factors are held (--fix): there is nothing to refit"},
    };
    for (const auto& t : cases) {
        write("runs.csv", t.runs);
        const outcome o = run("estimate runs.csv --trays 3 --csv out.csv --plot p.svg " + t.args);
        EXPECT_EQ(o.status, 2) << t.args << ": " << o.err;
        EXPECT_EQ(o.err.rfind("urea-reactor: error: " + t.expected, 0), 0u) << t.args << " gave: " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(files(), 1u) << t.args << ": a file was written";
    }
    EXPECT_EQ(run("estimate nothere.csv").err, "urea-reactor: error: nothere.csv: cannot open the runs file (No such file or directory)\n");
    // An output that cannot be written is found before anything runs.
    write("runs.csv", good);
    const outcome o = run("estimate runs.csv --fix a1=1 --csv out.csv --plot no/such/folder/p.svg");
    EXPECT_EQ(o.err, "urea-reactor: error: --plot no/such/folder/p.svg: cannot write there (the folder "
                     "no/such/folder: No such file or directory)\n");
    EXPECT_EQ(files(), 1u);
}

TEST_F(EstimateCli, ARunTheReactorCannotSolveExitsOneNamingItsLine) {
    // This build's rates are NaN above 190 C.
    write("runs.csv", "run,outlet_temperature_C,co2_conversion\ncool,,0.6\n# the hot one\nhot,195,0.62\n");
    const outcome o = run("estimate runs.csv --trays 3 --fix a1=1 --csv out.csv --plugin '" PLUGIN_HOT_NAN "'");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.rfind("urea-reactor: solver failure: runs.csv:4: run \"hot\": the reactor has no solution "
                          "at the starting a1 = 1, a2 = 0.124: tray 3: no solution", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(files(), 1u);
}

TEST_F(EstimateCli, TheTunedCaseRunsToTheConversionTheEstimateGave) {
    write("runs.csv", made_runs(1.0, 0.16, 14));
    // a1 held: a2 estimated and written; run, the case gives the conversion
    // the estimate reported for it.
    const json held = parsed(run("estimate runs.csv --trays 3 --fix a1=1 --write-case tuned.json --json"));
    const json& t = held.at("tuned_case");
    EXPECT_EQ(t.at("a1").at("source"), "held");
    EXPECT_EQ(t.at("a2").at("source"), "estimated");
    EXPECT_EQ(t.at("a2").at("value"), held.at("parameters").at("a2").at("value"));
    const json ran = parsed(run("tuned.json --json"));
    EXPECT_NEAR(ran.at("co2_conversion").get<double>(), t.at("co2_conversion").get<double>(), 1e-12);
    EXPECT_EQ(ran.at("case").at("kinetics").at("a2"), t.at("a2").at("value"));
    EXPECT_EQ(ran.at("case").at("reactor").at("trays"), 3);  // the base case is the one the options made
    // Both free: a1 not determined (its profile has a lower bound and no
    // upper one), so the base case's a1 is kept, and the file says so; a2
    // is the best with a1 there.
    const json both = parsed(run("estimate runs.csv --trays 3 --write-case kept.json --json"));
    const json& k = both.at("tuned_case");
    const json& a1_profile = both.at("parameters").at("a1").at("profile95");
    EXPECT_TRUE(a1_profile.at(0).is_number()) << a1_profile;
    EXPECT_TRUE(a1_profile.at(1).is_null()) << a1_profile;
    EXPECT_EQ(k.at("a1").at("source"), "kept");
    EXPECT_EQ(k.at("a1").at("value"), 1.0);
    EXPECT_FALSE(k.at("a1").at("changed"));
    EXPECT_EQ(k.at("a2").at("source"), "estimated");
    EXPECT_TRUE(k.at("a2").at("with_other_kept"));
    const std::string text = slurp(dir / "kept.json");
    EXPECT_NE(text.find("// The tuned case is the base case with a1 = 1, the base case's, kept: these runs do not "
                        "determine it; a2 = "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("(SHA-256 " + sha256_hex(slurp(dir / "runs.csv")) + ")"), std::string::npos) << text;
    const json kept = parsed(run("kept.json --json"));
    EXPECT_NEAR(kept.at("co2_conversion").get<double>(), k.at("co2_conversion").get<double>(), 1e-12);
    EXPECT_EQ(kept.at("case").at("kinetics").at("a1"), 1.0);
}

TEST_F(EstimateCli, RegionPlotAndBootstrapAsAskedTheSameSeedTheSameResamples) {
    write("runs.csv", made_runs(1.0, 0.16, 16));
    const json a = parsed(run("estimate runs.csv --trays 3 --bootstrap 12 --seed 9 --region-plot region.svg --json"));
    EXPECT_NE(slurp(dir / "region.svg").find("</svg>"), std::string::npos);
    const json& b = a.at("bootstrap");
    EXPECT_EQ(b.at("resamples"), 12);
    EXPECT_EQ(b.at("seed"), 9);
    EXPECT_EQ(b.at("samples").size() + b.at("failed").get<std::size_t>(), 12u);
    EXPECT_FALSE(a.at("region").at("pieces").empty());
    EXPECT_EQ(a.at("leave_one_out").at("runs").size(), 5u);
    EXPECT_EQ(parsed(run("estimate runs.csv --trays 3 --bootstrap 12 --seed 9 --json")).at("bootstrap").at("samples"),
              b.at("samples"));
    EXPECT_NE(parsed(run("estimate runs.csv --trays 3 --bootstrap 12 --seed 10 --json")).at("bootstrap").at("samples"),
              b.at("samples"));
    // Bad values: exit status 2, one line naming the option, nothing written.
    fs::remove(dir / "region.svg");
    for (const auto& [args, expected] : std::vector<std::pair<std::string, std::string>>{
             {"--bootstrap 0", "--bootstrap: must be a number > 0 (got 0)"},
             {"--bootstrap 2.5", "--bootstrap: must be a whole number of resamples from 1 to 100000 (got 2.5)"},
             {"--bootstrap 1e6", "--bootstrap: must be a whole number of resamples from 1 to 100000 (got 1e6)"},
             {"--bootstrap 5 --seed -1", "--seed: must be a whole number from 0 to 18446744073709551615 (got -1)"},
             {"--seed 18446744073709551616", "--seed: must be a whole number from 0 to 18446744073709551615"},
             {"--fix a1=1 --fix a2=0.2 --region-plot region.svg", "--region-plot: both factors are held (--fix)"},
             {"--report runs.csv", "runs.csv"},
         }) {
        const outcome o = run("estimate runs.csv --trays 3 " + args);
        EXPECT_EQ(o.status, 2) << args << ": " << o.err;
        EXPECT_NE(o.err.find(expected), std::string::npos) << args << ": " << o.err;
        EXPECT_EQ(files(), 1u) << args;
    }
}

TEST_F(EstimateCli, TheReportIsOnePageThatOpensOfflineWithEveryPlotDrawn) {
    write("runs.csv", made_runs(1.0, 0.16, 15, 0.06, 1));  // "low load" an outlier: named in the plot
    const outcome o = run("estimate runs.csv --trays 3 --report report.html --write-case tuned.json --bootstrap 20");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string html = slurp(dir / "report.html");
    // Self-contained: no script, nothing fetched, linked or imported.
    for (const char* outside : {"<script", "http:", "https:", " src=", "<link", "@import", "<iframe", "<object"}) {
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    }
    std::size_t plots = 0;
    for (std::size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) ++plots;
    EXPECT_EQ(plots, 2u);
    // What it was made from, and what it made.
    EXPECT_NE(html.find("SHA-256 " + sha256_hex(slurp(dir / "runs.csv"))), std::string::npos);
    EXPECT_NE(html.find("the built-in default case"), std::string::npos);
    EXPECT_NE(html.find("--bootstrap 20 --trays 3"), std::string::npos);
    EXPECT_NE(html.find("(written to tuned.json)"), std::string::npos);
    EXPECT_NE(html.find("<th>bootstrap (20 resamples)</th>"), std::string::npos);
    EXPECT_NE(html.find("<text>low load</text>"), std::string::npos);
    if (std::system("command -v chromium > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps installs it)";
    }
    // Opened in headless Chromium: each plot laid out at a size, with its
    // curves, markers and labels drawn at a size of their own. The probe, added to a copy, reads
    // what the browser made of the page.
    std::string probe = html;
    probe.insert(probe.rfind("</body>"), R"(<script>
const found = [];
document.querySelectorAll('svg').forEach((s) => {
  const box = s.getBoundingClientRect();
  const seen = (list) => Array.from(list).filter((e) => {
    const b = e.getBoundingClientRect();
    return b.width > 0 || b.height > 0;
  }).length;
  found.push([Math.round(box.width), Math.round(box.height), seen(s.querySelectorAll('path, polyline, polygon, text')),
              seen(s.querySelectorAll('use'))].join(' '));
});
document.body.insertAdjacentHTML('beforeend', '<pre id="rendered">' + found.join(';') + '</pre>');
</script>)");
    write("probe.html", probe);
    const std::string command =
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync --user-data-dir='" +
        (dir / "chromium-profile").string() + "' --dump-dom 'file://" + (dir / "probe.html").string() + "' > '" +
        (dir / "dom.html").string() + "' 2> '" + (dir / "chromium.log").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << slurp(dir / "chromium.log");
    const std::string dom = slurp(dir / "dom.html");
    // The probe's own text holds the element too: the one it added is last.
    const std::size_t start = dom.rfind("<pre id=\"rendered\">"), end = dom.find("</pre>", start);
    ASSERT_NE(start, std::string::npos) << dom.substr(0, 2000);
    std::stringstream rendered(dom.substr(start + 19, end - start - 19));
    int count = 0;
    for (std::string plot; std::getline(rendered, plot, ';'); ++count) {
        std::istringstream in(plot);
        int width = 0, height = 0, drawn = 0, markers = 0;
        in >> width >> height >> drawn >> markers;
        EXPECT_GT(width, 400) << plot;
        EXPECT_GT(height, 300) << plot;
        EXPECT_GT(drawn, 30) << plot;     // axes, curves, labels
        EXPECT_GT(markers, 20) << plot;  // the measurements, the resamples
    }
    EXPECT_EQ(count, 2);
}

TEST_F(SweepCli, PrintsWritesAndPlotsOneVariableOrAFamily) {
    const outcome one = run("sweep --vary a2=0.01:10:4 --csv s.csv --plot s.svg --table");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.err, "");
    EXPECT_NE(one.out.find("CO2 conv %  equil. %    w NH3    w CO2   w UREA    w H2O"), std::string::npos);
    EXPECT_NE(one.out.find("4 points: all solved"), std::string::npos) << one.out;
    const std::string csv = slurp(dir / "s.csv");
    EXPECT_EQ(csv.rfind("a2,co2_conversion,equilibrium_co2_conversion,w_NH3,w_CO2,w_UREA,w_H2O,failure\n"
                        "0.01,", 0), 0u) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5);
    EXPECT_NE(slurp(dir / "s.svg").find("</svg>"), std::string::npos);
    const outcome family = run("sweep --vary t-out=180:190:3 --vary nh3-co2=2.8:3.6:2 --json --plot f.png");
    ASSERT_EQ(family.status, 0) << family.err;
    const json j = json::parse(family.out);
    ASSERT_EQ(j.at("points").size(), 6u);
    EXPECT_EQ(j.at("points").at(4).at("outlet_temperature_C"), 185.0);
    EXPECT_EQ(j.at("points").at(4).at("nh3_co2"), 3.6);
    const double w = j.at("points").at(4).at("nc_mass_fractions").at("UREA").get<double>();
    EXPECT_GT(w, 0.2);
    EXPECT_LT(w, 0.5);
    EXPECT_EQ(slurp(dir / "f.png").substr(1, 3), "PNG");
    EXPECT_EQ(files(), 3u);
    // A case file after a --vary is the case, not a second --vary.
    write("case.json", R"({"reactor": {"trays": 4, "volume_m3": 190, "pressure_bar": 145,
 "inlet_temperature_C": 170, "outlet_temperature_C": 183}, "feed_kmol_h": {"CO2": 2400, "NH3": 7368}})");
    const json c = parsed(run("sweep --vary a2=0.1:0.2:2 case.json --json"));
    EXPECT_EQ(c.at("base_case").at("reactor").at("trays"), 4);
}

TEST_F(SweepCli, PointsThatFailAreReportedAndTheSweepGoesOn) {
    // This build's rates are NaN above 190 C: the last two points fail.
    const outcome o = run("--plugin '" PLUGIN_HOT_NAN "' sweep --vary t-out=184:196:4 --csv s.csv");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.rfind("urea-reactor: solver failure at point 3 of 4 (outlet_temperature_C = 192): tray ", 0), 0u)
        << o.err;
    EXPECT_NE(o.err.find("\nurea-reactor: solver failure at point 4 of 4 (outlet_temperature_C = 196): "),
              std::string::npos) << o.err;
    // The points went to a file: a summary after the failures, no table.
    EXPECT_NE(o.err.find("\n4 points: 2 solved, 2 failed"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
    const std::string csv = slurp(dir / "s.csv");
    EXPECT_NE(csv.find("\n188,0."), std::string::npos) << csv;
    EXPECT_NE(csv.find("\n196,,,,,,,\"tray 8: no solution"), std::string::npos) << csv;
    // None solved: nothing written.
    fs::remove(dir / "s.csv");
    const outcome none = run("sweep --vary a2=1:2:2 --csv s.csv --plugin '" PLUGIN_NAN_RATES "'");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no point of the sweep was solved; nothing written"), std::string::npos);
    EXPECT_EQ(files(), 0u);
}

TEST_F(SweepCli, BadVaryExitsTwoWithOneLineAndWritesNothing) {
    const struct {
        std::string args, expected;
    } cases[] = {
        {"--vary x=1:2:3", "--vary x=1:2:3: \"x\" is no quantity of a case"},
        {"--vary a2=1:2", "--vary a2=1:2: write NAME=FROM:TO:N"},
        {"--vary a2=nan:1:3", "--vary a2=nan:1:3: FROM must be a finite number"},
        {"--vary a2=0:1:3", "--vary a2=0:1:3: points evenly spaced in ln need FROM and TO > 0"},
        {"--vary a2=1:2:0", "--vary a2=1:2:0: N must be a whole number of points from 1 to 100000"},
        {"--vary a2=1:1:3", "--vary a2=1:1:3: FROM = TO: give N = 1 for one point"},
        {"--vary trays=1:10:3", "--vary trays=1:10:3: trays must be whole numbers, and point 2 would be 5.5"},
        {"--vary a2=0.1:1:2 --vary A2=1:2:2", "--vary A2=1:2:2: a2 is varied twice"},
        {"--a2 0.2 --vary a2=0.1:1:2", "--vary a2=0.1:1:2 and --a2 0.2 both set a2"},
        {"--vary co2=1000:2000:2 --co2 1500", "both set feed_kmol_h.CO2"},
        {"--vary nh3_co2=2:3:2 --vary feed_kmol_h.NH3=100:200:2", "nh3_co2 and feed_kmol_h.NH3 set the same flow"},
        {"--vary volume=0:100:3", "--vary volume=0:100:3: at the point volume_m3 = 0: reactor.volume_m3: must be > 0"},
        {"--vary a1=1:2:2 --vary a2=1:2:2 --vary trays=1:2:2", "--vary: give one or two (got 3)"},
    };
    for (const auto& t : cases) {
        const outcome o = run("sweep --csv s.csv --plot s.svg " + t.args);
        EXPECT_EQ(o.status, 2) << t.args << ": " << o.err;
        EXPECT_NE(o.err.find(t.expected), std::string::npos) << t.args << " gave: " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
        EXPECT_EQ(files(), 0u) << t.args;
    }
    const outcome o = run("sweep --vary a2=1:2:2 --csv s.csv --plot no/such/folder/p.svg");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(files(), 0u);
}

}  // namespace
