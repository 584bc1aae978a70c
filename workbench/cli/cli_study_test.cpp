// `urea-reactor study` as a user runs it, and `sweep`, which runs on it:
// the old sweep command lines give what they always gave, byte for byte; a
// case table's other columns come through; points written to files only get
// a summary instead of the table; results carry their units; the plots and
// maps are drawn with what they must show.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "cli/cli_fixture.h"

namespace {

namespace fs = std::filesystem;
using cli_testing::outcome;
using cli_testing::slurp;
using StudyCli = cli_testing::cli_fixture;
using json = nlohmann::json;

std::string golden(const std::string& name) { return slurp(fs::path(UREA_TESTDATA) / "sweep" / name); }

// A JSON document without its last member, the build stamp (commit, paths).
std::string without_build(const std::string& text) {
    const std::size_t at = text.rfind(",\n  \"build\": {");
    return at == std::string::npos ? text : text.substr(0, at) + "\n}\n";
}

TEST_F(StudyCli, OldSweepCommandLinesGiveWhatTheyGaveByteForByte) {
    // Written by `sweep` before it ran on the study engine.
    const outcome table = run("sweep --vary a2=0.01:10:7");
    EXPECT_EQ(table.status, 0);
    EXPECT_EQ(table.out, golden("a2-7.txt"));
    const std::string hot = "--plugin '" PLUGIN_HOT_NAN "' sweep --vary t-out=184:196:4 --vary a2=0.1:0.2:2";
    const outcome failing = run(hot);
    EXPECT_EQ(failing.status, 1);
    EXPECT_EQ(failing.out, golden("hot-table.txt"));
    EXPECT_EQ(failing.err, golden("hot-stderr.txt"));
    const outcome files = run(hot + " --json --csv s.csv");
    EXPECT_EQ(without_build(files.out), golden("hot.json"));
    EXPECT_EQ(slurp(dir / "s.csv"), golden("hot.csv"));
    const outcome clamped = run("sweep --vary t-in=140:150:3 --vary t-out=140:160:2 --json");
    EXPECT_EQ(clamped.status, 0);
    EXPECT_EQ(without_build(clamped.out), golden("clamped.json"));
    EXPECT_EQ(clamped.err, golden("clamped-stderr.txt"));
}

TEST_F(StudyCli, ACaseTablesOtherColumnsComeThroughAndMisspeltSettingsAreRefused) {
    write("cases.csv",
          "tag,date,nh3_co2,model,a2,co2_conversion\n"
          "\"A, design\",2024-01-05,3.07,,,0.58\n"
          "B,2024-01-06,3.5,pfr,,\n"
          "# a comment line\n"
          "C,2024-01-07,,,0.05,0.4\n");
    const outcome o = run("study --cases cases.csv --result co2_conversion,rate_calls --csv out.csv --json");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string csv = slurp(dir / "out.csv");
    // The carried columns first, as written (the measured conversion renamed
    // beside the result of that name), then the settings, the results.
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "tag,date,co2_conversion_given,nh3_co2,model,a2,co2_conversion,rate_calls,failure");
    EXPECT_EQ(csv.find("\n\"A, design\",2024-01-05,0.58,3.07,trays,0.124,0.58"), csv.find('\n')) << csv;
    EXPECT_NE(csv.find("\nB,2024-01-06,,3.5,pfr,0.124,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\nC,2024-01-07,0.4,3.07,trays,0.05,"), std::string::npos) << csv;
    const json j = json::parse(o.out);
    ASSERT_EQ(j.at("points").size(), 3u);
    const json& c = j.at("points").at(2);
    EXPECT_EQ(c.at("line"), 5);
    EXPECT_EQ(c.at("columns").at("tag"), "C");
    EXPECT_EQ(c.at("columns").at("co2_conversion_given"), "0.4");
    EXPECT_EQ(c.at("settings").at("a2"), 0.05);
    EXPECT_EQ(j.at("points").at(1).at("settings").at("model"), "pfr");
    EXPECT_LT(c.at("results").at("co2_conversion").get<double>(), 0.58);

    const struct {
        std::string header, expected;
    } refused[] = {
        {"tag,presure_bar", "column \"presure_bar\" (2): no setting of a case; did you mean pressure_bar?"},
        {"tag,pressure_barg", "did you mean pressure_bar?"},
        {"tag,feed_kmol_h.NH4", "did you mean feed_kmol_h.NH3?"},
        {"tag,tag", "column \"tag\" (2): the same as column \"tag\" (1)"},
    };
    for (const auto& t : refused) {
        write("bad.csv", t.header + "\nx,1\n");
        const outcome b = run("study --cases bad.csv --csv bad-out.csv");
        EXPECT_EQ(b.status, 2) << t.header;
        EXPECT_EQ(b.err.rfind("urea-reactor: error: bad.csv:1: column ", 0), 0u) << b.err;
        EXPECT_NE(b.err.find(t.expected), std::string::npos) << b.err;
        EXPECT_FALSE(fs::exists(dir / "bad-out.csv"));
    }
    // A spreadsheet's export with semicolons and a units row: read, and said so.
    write("semicolons.csv", "tag;nh3_co2\n;mol/mol\nA;3.1\n");
    const outcome semi = run("study --cases semicolons.csv --result co2_conversion");
    EXPECT_EQ(semi.status, 0) << semi.err;
    EXPECT_NE(semi.err.find("warning: semicolons.csv: cells separated by semicolons"), std::string::npos) << semi.err;
    write("bad.csv", "tag,model,volume\nx,plug,100\n");
    EXPECT_NE(run("study --cases bad.csv").err.find("bad.csv:2: column \"model\" (2): the reactor model is trays or pfr"),
              std::string::npos);
    write("bad.csv", "tag,volume\nx,0.0001\n");
    EXPECT_NE(run("study --cases bad.csv").err.find("bad.csv:2: column \"volume_m3\" (2): reactor.volume_m3: must be from"),
              std::string::npos);
}

TEST_F(StudyCli, PointsWrittenToFilesOnlyGetASummaryNotTheTable) {
    const std::string study = "study --vary a2=0.1:0.2:3 --result co2_conversion,w_UREA ";
    const outcome o = run(study + "--csv s.csv");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.rfind("Study of a2 (3 points", 0), 0u) << o.err;
    EXPECT_NE(o.err.find("\n3 points: all solved; "), std::string::npos) << o.err;
    // Each result's range over the points, with its unit.
    const std::string csv = slurp(dir / "s.csv");
    const std::size_t first = csv.find('\n') + 1;
    const double low = std::stod(csv.substr(csv.find(',', first) + 1));
    const std::size_t last = csv.rfind('\n', csv.size() - 2) + 1;
    const double high = std::stod(csv.substr(csv.find(',', last) + 1));
    EXPECT_NE(o.err.find("\n  co2_conversion  " + workbench::sig(low) + " .. " + workbench::sig(high) + " fraction\n"),
              std::string::npos) << o.err << csv;
    EXPECT_NE(o.err.find("\n  w_UREA          "), std::string::npos) << o.err;
    const std::string hint = "(--table prints the table too)\n";
    ASSERT_GT(o.err.size(), hint.size());
    EXPECT_EQ(o.err.substr(o.err.size() - hint.size()), hint);
    // The table asked for: as without the file, and no summary.
    const outcome table = run(study + "--csv s.csv --table");
    EXPECT_EQ(table.err, "");
    EXPECT_EQ(table.out, run(study).out);
    EXPECT_NE(table.out.find("3 points: all solved"), std::string::npos);
    // The CSV on standard output: the summary beside it, without the hint.
    const outcome piped = run(study + "--csv -");
    EXPECT_EQ(piped.out, csv);
    EXPECT_EQ(piped.err, o.err.substr(0, o.err.size() - hint.size()));
    const outcome quiet = run(study + "--csv s.csv --quiet");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST_F(StudyCli, ResultsCarryTheirUnits) {
    const outcome list = run("study --list-results");
    ASSERT_EQ(list.status, 0);
    for (const std::string line : {"co2_conversion *", "outlet_kg_h.<C>             kg/h",
                                   "residence_time_min          min", "temperature_C@N             C"}) {
        EXPECT_NE(list.out.find(line), std::string::npos) << line << " in\n" << list.out;
    }
    const outcome table = run("study --vary a2=0.1,1 --result outlet_kmol_h.UREA,residence_time_min,h2o_co2_out");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("          a2  outlet_kmol_h.UREA  residence_time_min  h2o_co2_out\n"
                             "                          kmol/h                 min      mol/mol\n"),
              std::string::npos)
        << table.out;
    const json j = json::parse(run("study --vary a2=0.1,1 --result residence_time_min --json").out);
    EXPECT_EQ(j.at("results").at(0).at("unit"), "min");
    EXPECT_GT(j.at("points").at(0).at("results").at("residence_time_min").get<double>(), 20.0);
    EXPECT_EQ(run("study --vary a2=0.1,1 --result nonsense").status, 2);
}

TEST_F(StudyCli, PlotsAndMapsAreDrawnWithWhatTheyMustShow) {
    // A gnuplot on the PATH that keeps each script it is given, then draws it.
    const fs::path bin = dir / "fakebin";
    fs::create_directories(bin);
    std::ofstream(bin / "gnuplot") << "#!/bin/sh\ncat > \"" << (dir / "script").string()
                                   << "-$$\"\nexec /usr/bin/gnuplot < \"" << (dir / "script").string() << "-$$\"\n";
    fs::permissions(bin / "gnuplot", fs::perms::owner_all);
    const std::string env = "PATH=" + bin.string() + ":/usr/bin:/bin";
    const auto scripts = [&] {
        std::string all;
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.path().filename().string().rfind("script-", 0) == 0) {
                all += slurp(e.path());
                fs::remove(e.path());
            }
        }
        return all;
    };
    // This build's rates are NaN above 190 C: some points fail, and are marked.
    const outcome o = run("--plugin '" PLUGIN_HOT_NAN "' study --vary t-out=180:194:8 --vary nh3_co2=2.8,3.2,3.6 "
                          "--map co2_conversion map.png",
                          env);
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_GT(fs::file_size(dir / "map.png"), 10000u);
    const std::string map = scripts();
    for (const std::string part : {"set contour base", "with image", "with labels boxed", "title \"failed point\"",
                                   "over the outlet temperature and the NH_3/CO_2&{i}fed", "base case: 10 trays"}) {
        EXPECT_NE(map.find(part), std::string::npos) << part << " in\n" << map;
    }
    // Families: each value of the others its own colour and point type.
    const outcome p = run("study --vary a2=0.01:10:12 --vary nh3_co2=2.8,3.2,3.6 --result co2_conversion --plot p.svg",
                          env);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(slurp(dir / "p.svg").find("</svg>"), std::string::npos);
    const std::string plot = scripts();
    EXPECT_NE(plot.find("Urea reactor study: dehydration rate factor a2 (12 points) and NH_3/CO_2&{i}fed (3 values)"),
              std::string::npos)
        << plot;
    for (const std::string member : {"pt 7 ps 0.8 lw 2 dt 1 lc rgb '#440154'", "pt 5 ps 0.8 lw 2 dt 1 lc rgb '#1fa187'",
                                     "pt 9 ps 0.8 lw 2 dt 1 lc rgb '#d8b600'"}) {
        EXPECT_NE(plot.find(member), std::string::npos) << member << " in\n" << plot;
    }
    // A map needs two varied quantities.
    const outcome one = run("study --vary a2=0.01:10:3 --map co2_conversion m.png");
    EXPECT_EQ(one.status, 2);
    EXPECT_NE(one.err.find("a map draws a result over two varied quantities"), std::string::npos) << one.err;
}

}  // namespace
