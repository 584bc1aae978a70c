// The tuning loop's second half as a user runs it: predictions with bands
// from an estimate file (`--estimate` on a run, a study, a sweep) and the
// design of the next test run (`design`).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_fixture.h"

namespace {

namespace fs = std::filesystem;
using cli_testing::outcome;
using cli_testing::slurp;
using LoopCli = cli_testing::cli_fixture;
using json = nlohmann::json;

const std::string example_runs = std::string("'") + UREA_EXAMPLES + "/runs-synthetic.csv'";

json parsed(const outcome& o) {
    EXPECT_EQ(o.status, 0) << o.err;
    return o.status == 0 ? json::parse(o.out) : json::object();
}

const json& band_of(const json& run, const std::string& name) {
    for (const json& r : run.at("prediction").at("results")) {
        if (r.at("name") == name) return r;
    }
    throw std::runtime_error("no band of " + name);
}

// Both factors free, with a joint region of three slices whose first lies
// on the search box's lower edge in a1 (the runs do not bound a1 from
// below), and no covariance.
constexpr const char* hand_made_region = R"({
  "parameters": {
    "a1": {"value": 1e-05, "free": true, "profile95": [null, 0.0001]},
    "a2": {"value": 0.16, "free": true, "profile95": [0.15, 0.17]}
  },
  "interval_scale_factor": 1.0, "t_quantile": 2.0, "degrees_of_freedom": 10,
  "covariance_ln": null, "search_box": {"lower": 1e-06, "upper": 1000000.0},
  "region": {"threshold": 6.0, "open_a1_low": true, "open_a1_high": false, "open_a2": false,
    "pieces": [[{"a1": 1e-06, "a2_low": 0.15, "a2_high": 0.17},
                {"a1": 1e-05, "a2_low": 0.15, "a2_high": 0.17},
                {"a1": 0.0001, "a2_low": 0.155, "a2_high": 0.165}]]}
})";

TEST_F(LoopCli, ARunsBandIsTheResultOverWhatTheRunsAllowOfTheFactor) {
    // a1 held: the band is the conversion as a2 runs over its profile interval.
    const outcome e = run("estimate " + example_runs + " --fix a1=1 --json");
    ASSERT_EQ(e.status, 0) << e.err;
    write("est.json", e.out);
    const json est = json::parse(e.out);
    const json& a2 = est.at("parameters").at("a2");
    const json p = parsed(run("--estimate est.json --json"));
    const json& conv = band_of(p, "co2_conversion");
    EXPECT_EQ(p.at("prediction").at("band").at("method"), "profile");
    EXPECT_EQ(p.at("case").at("kinetics").at("a2").get<double>(), a2.at("value").get<double>());
    const auto at_a2 = [&](double v) {
        return parsed(run("--a2 " + nlohmann::json(v).dump() + " --json")).at("co2_conversion").get<double>();
    };
    EXPECT_NEAR(conv.at("value").get<double>(), at_a2(a2.at("value")), 1e-9);
    EXPECT_NEAR(conv.at("low").get<double>(), at_a2(a2.at("profile95")[0]), 1e-9);
    EXPECT_NEAR(conv.at("high").get<double>(), at_a2(a2.at("profile95")[1]), 1e-9);
    EXPECT_FALSE(conv.at("open_low").get<bool>() || conv.at("open_high").get<bool>());
    // Each tray's conversion has its band too, the last the outlet's.
    const json& last = p.at("prediction").at("conversion_profile").back();
    EXPECT_EQ(last.at("low"), conv.at("low"));
    // The delta method: nearly the same band, the conversion being nearly
    // linear in ln a2 over a few per cent.
    const json l = parsed(run("--estimate est.json --band linearised --json"));
    const json& lin = band_of(l, "co2_conversion");
    EXPECT_EQ(l.at("prediction").at("band").at("method"), "linearised");
    const double profile_width = conv.at("high").get<double>() - conv.at("low").get<double>();
    EXPECT_NEAR(lin.at("high").get<double>() - lin.at("low").get<double>(), profile_width, 0.03 * profile_width);
    // The table says which band it is, and of what.
    const outcome text = run("--estimate est.json");
    EXPECT_NE(text.out.find("Predictions with 95 % bands from the estimate in est.json"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("profile: each result's range as a2 runs over its 95 % profile-likelihood interval"),
              std::string::npos);
    EXPECT_NE(text.out.find("a1 is held at 1"), std::string::npos);
}

TEST_F(LoopCli, AnEstimateCarriesItsWholeCaseAndItsFactorsGoToAnotherOnlyWhenAsked) {
    const outcome e = run("estimate " + example_runs + " --fix a1=1 --json");
    ASSERT_EQ(e.status, 0) << e.err;
    write("est.json", e.out);
    // The estimate's base case is a case file: read back, it is the case
    // the factors were tuned on, and carries them with no word.
    json base = json::parse(e.out).at("base_case");
    write("base.json", base.dump(2));
    const outcome same = run("base.json --estimate est.json");
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.err, "");
    // Another reactor, another feed, other properties: refused, naming the
    // key and what the factors were tuned on, unless carried over.
    const auto refused = [&](const std::string& args, const std::string& says) {
        const outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args << ": " << o.err;
        EXPECT_NE(o.err.find(says), std::string::npos) << args << ": " << o.err;
        EXPECT_NE(o.err.find("--carry-factors"), std::string::npos) << o.err;
        const outcome carried = run(args + " --carry-factors");
        EXPECT_EQ(carried.status, 0) << args << ": " << carried.err;
        EXPECT_NE(carried.err.find("warning: the factors of the estimate in est.json were tuned on another case"),
                  std::string::npos) << carried.err;
    };
    refused("--estimate est.json --trays 3", "reactor.trays (tuned on 10; this case: 3)");
    json feed = base;
    feed["feed_kmol_h"]["N2"] = 2 * feed["feed_kmol_h"]["N2"].get<double>();
    write("feed.json", feed.dump());
    refused("feed.json --estimate est.json", "feed_kmol_h.N2 (tuned on ");
    json props = base;
    props["properties"] = json::parse(R"({"CARB": {"temperature_C": [150, 175, 200],
                                                     "fugacity_coefficient": [1e-3, 2e-3, 3e-3]}})");
    write("props.json", props.dump());
    refused("study props.json --estimate est.json --vary t-out=180:186:2",
            "properties.CARB (tuned on the built-in properties; this case: a table of 3 temperatures)");
    // Operating conditions are what a prediction is for: not compared.
    EXPECT_EQ(run("--estimate est.json --pressure 140 --nh3-co2 3.3").err, "");
    // An estimate file of the earlier version (its base case's reactor,
    // temperatures and ratios alone) is still read; its reactor is compared.
    write("old.json", slurp(fs::path(UREA_TESTDATA) / "report" / "estimate-previous-version.json"));
    const outcome o = run("--estimate old.json");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("written by an earlier version"), std::string::npos) << o.err;
    EXPECT_EQ(run("--estimate old.json --volume 200").status, 2);
}

TEST_F(LoopCli, ARegionsBandIsTheResultsRangeOverItAndAnEdgeThatPushesItOutIsOpen) {
    write("est.json", hand_made_region);
    const json p = parsed(run("--estimate est.json --json"));
    const json& conv = band_of(p, "co2_conversion");
    const auto at = [&](double a1, double a2) {
        return parsed(run("--a1 " + json(a1).dump() + " --a2 " + json(a2).dump() + " --json"))
            .at("co2_conversion")
            .get<double>();
    };
    std::vector<double> v = {at(1e-5, 0.16)};
    for (const auto& [a1, lo, hi] : {std::tuple{1e-6, 0.15, 0.17}, {1e-5, 0.15, 0.17}, {1e-4, 0.155, 0.165}}) {
        v.push_back(at(a1, lo));
        v.push_back(at(a1, hi));
    }
    EXPECT_NEAR(conv.at("low").get<double>(), *std::min_element(v.begin(), v.end()), 1e-9);
    EXPECT_NEAR(conv.at("high").get<double>(), *std::max_element(v.begin(), v.end()), 1e-9);
    // Slow carbamate formation: the conversion falls with a1, and the edge
    // a1 = 1e-6 sets the band's low end: open there, said so.
    EXPECT_TRUE(conv.at("open_low").get<bool>());
    EXPECT_FALSE(conv.at("open_high").get<bool>());
    EXPECT_NE(run("--estimate est.json").out.find(", open below"), std::string::npos);
    // Without a covariance there is no linearised band, and it is said why.
    const outcome lin = run("--estimate est.json --band linearised");
    EXPECT_EQ(lin.status, 2);
    EXPECT_NE(lin.err.find("holds no covariance"), std::string::npos) << lin.err;
}

TEST_F(LoopCli, AStudysPointsHaveTheRunsBandsAndASweepWritesThemAsAStudyDoes) {
    const outcome e = run("estimate " + example_runs + " --fix a1=1 --json");
    ASSERT_EQ(e.status, 0) << e.err;
    write("est.json", e.out);
    const json s = parsed(run("study --estimate est.json --vary nh3_co2=2.9,3.3 --result co2_conversion,rate_calls "
                              "--csv s.csv --plot s.svg --json"));
    const json& point = s.at("points")[1];
    const json r = parsed(run("--estimate est.json --nh3-co2 3.3 --json"));
    const json& conv = band_of(r, "co2_conversion");
    EXPECT_NEAR(point.at("low").at("co2_conversion").get<double>(), conv.at("low").get<double>(), 1e-9);
    EXPECT_NEAR(point.at("high").at("co2_conversion").get<double>(), conv.at("high").get<double>(), 1e-9);
    EXPECT_FALSE(point.at("low").contains("rate_calls"));  // a count of the solver's has no band
    EXPECT_EQ(s.at("band").at("method"), "profile");
    const std::string csv = slurp(dir / "s.csv");
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "nh3_co2,co2_conversion,co2_conversion_low,co2_conversion_high,rate_calls,"
                                             "band_open,failure");
    EXPECT_NE(slurp(dir / "s.svg").find("95 % band (profile)"), std::string::npos);
    const outcome sweep = run("sweep --estimate est.json --vary co2=2000:2400:2 --csv w.csv");
    EXPECT_EQ(sweep.status, 0) << sweep.err;
    EXPECT_NE(slurp(dir / "w.csv").find("co2_conversion_low,co2_conversion_high"), std::string::npos);
    // The estimate sets a1 and a2: a study may not vary them.
    const outcome varied = run("study --estimate est.json --vary a2=0.1,0.2");
    EXPECT_EQ(varied.status, 2);
    EXPECT_NE(varied.err.find("the estimate sets a1 and a2"), std::string::npos) << varied.err;
}

TEST_F(LoopCli, AnEstimateFileIsReadAsCarefullyAsAnyInput) {
    const std::string case_file = std::string("'") + UREA_EXAMPLES + "/default-case.json'";
    const auto fails = [&](const std::string& args, const std::string& message) {
        const outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args;
        EXPECT_NE(o.err.find(message), std::string::npos) << args << ": " << o.err;
        EXPECT_TRUE(o.out.empty()) << args;
    };
    fails("--estimate " + case_file, "looks like a case file, not an estimate");
    write("broken.json", "{\n  \"parameters\": {\n    \"a1\": \n");
    fails("--estimate broken.json", "broken.json:3: not an estimate (malformed JSON");
    write("held.json", R"({"parameters": {"a1": {"value": 1, "free": false, "profile95": null},
      "a2": {"value": 0.16, "free": false, "profile95": null}},
      "interval_scale_factor": 1, "t_quantile": 2, "degrees_of_freedom": 3})");
    fails("--estimate held.json", "both rate factors are held");
    write("bad.json", R"({"parameters": {"a1": {"value": -1, "free": true}, "a2": {"value": 0.16, "free": true}}})");
    fails("--estimate bad.json", "bad.json: parameters.a1.value: must be a finite number > 0");
    // One written by a newer build, whose fields this one may misread.
    write("newer.json", R"({"build": {"schema_version": 99}, "parameters": {}})");
    fails("--estimate newer.json", "newer.json: build.schema_version: written by a newer urea-reactor (schema version 99");
    fails("--estimate nowhere.json", "nowhere.json");
    write("est.json", hand_made_region);
    fails("--band profile", "--band profile: bands need an estimate");
    fails("--estimate est.json --a2 0.2", "--a2 0.2 and --estimate est.json");
    fails("--estimate est.json --band wide", "--band: must be profile");
    fails("--estimate est.json --csv est.json", "est.json");
}

}  // namespace

TEST_F(LoopCli, ADesignRanksTheCandidatesAndSaysWhatNoRunCanDetermine) {
    // a1 held: the runs ranked by a2's expected interval, from the current
    // one (the estimate's linearised interval) down.
    const outcome e = run("estimate " + example_runs + " --fix a1=1 --json");
    ASSERT_EQ(e.status, 0) << e.err;
    write("est.json", e.out);
    const json est = json::parse(e.out);
    const outcome design = run("design " + example_runs +
                               " --estimate est.json --vary t-out=176:192:5 --vary nh3_co2=2.8,3.6 --json --csv d.csv "
                               "--map d.svg --top 3");
    EXPECT_EQ(design.err, "urea-reactor: warning: --top 3: not used: only the table printed has a top; --json gives "
                          "every candidate\n");
    const json d = parsed(design);
    EXPECT_EQ(d.at("criterion"), "one_factor");
    EXPECT_EQ(d.at("ranked_factor"), "a2");
    const json& a2 = est.at("parameters").at("a2");
    EXPECT_NEAR(d.at("now95").at("a2")[0].get<double>(), a2.at("lower95").get<double>(), 1e-3 * a2.at("lower95").get<double>());
    EXPECT_NEAR(d.at("now95").at("a2")[1].get<double>(), a2.at("upper95").get<double>(), 1e-3 * a2.at("upper95").get<double>());
    const json& candidates = d.at("candidates");
    ASSERT_EQ(candidates.size(), 10u);
    const json& top = candidates[d.at("ranking")[0].get<std::size_t>()];
    EXPECT_EQ(top.at("rank"), 1);
    for (const json& c : candidates) {
        const auto width = [](const json& x) { return x.at("expected95").at("a2")[1].get<double>() / x.at("expected95").at("a2")[0].get<double>(); };
        EXPECT_LE(width(top), width(c));
        EXPECT_LT(c.at("relative").get<double>(), 1.0);  // any run narrows it
    }
    const std::string csv = slurp(dir / "d.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 11);  // a head and every candidate
    EXPECT_TRUE(fs::exists(dir / "d.svg"));
    // The runs' cases are the estimate's only on its base case.
    const outcome other = run("design " + example_runs + " --estimate est.json --trays 3 --vary t-out=176:192:3");
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("made on another base case (trays differ)"), std::string::npos) << other.err;
    // Both free, estimated here: a1 is at the plateau of fast carbamate
    // formation, where nothing any run measures depends on it; said so, and
    // the runs ranked for a2 with a1 held.
    const outcome free = run("design " + example_runs + " --vary t-out=176:192:3");
    ASSERT_EQ(free.status, 0) << free.err;
    EXPECT_NE(free.out.find("No run within these ranges can determine a1"), std::string::npos) << free.out;
    EXPECT_NE(free.out.find("ranked by a2's expected 95 % interval, a1 held"), std::string::npos) << free.out;
}

TEST_F(LoopCli, ADesignRefusesWhatItCannotDoBeforeItSolvesAnything) {
    const auto fails = [&](const std::string& args, const std::string& message) {
        const outcome o = run("design " + example_runs + " " + args);
        EXPECT_EQ(o.status, 2) << args;
        EXPECT_NE(o.err.find(message), std::string::npos) << args << ": " << o.err;
        EXPECT_TRUE(o.out.empty()) << args;
    };
    fails("", "give the settings the operator may change");
    fails("--vary a2=0.1,0.2", "--vary a2: the next run's a1 and a2 are the plant's");
    fails("--vary t-out=176:190:3 --fix a1=1 --for a1", "--for a1: a1 is held");
    fails("--vary t-out=176:190:3 --measure w_NH4", "--measure w_NH4: \"w_NH4\" is not measured in a test run");
    fails("--vary t-out=176:190:3 --map m.svg", "--map: a map draws a result over two varied quantities");
    write("other.json", R"({"runs": [{"run": "A"}], "runs_file": "other.csv",
      "parameters": {"a1": {"value": 1, "free": false, "profile95": null},
                     "a2": {"value": 0.16, "free": true, "profile95": [0.15, 0.17]}},
      "interval_scale_factor": 1, "t_quantile": 2, "degrees_of_freedom": 3})");
    fails("--vary t-out=176:190:3 --estimate other.json", "made from other runs (1, of other.csv)");
}
