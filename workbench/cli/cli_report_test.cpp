// What the estimate and the design write, held to golden files byte for
// byte: the table, the CSV, the JSON and the HTML report's text (its plots,
// drawn by gnuplot, and the builds' versions left out). A change to any of
// them shows here; when it is meant, write the files anew with
// UREA_WRITE_GOLDEN=1 and read the difference before committing it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "cli/cli_fixture.h"
#include "session/version.h"

namespace {

namespace fs = std::filesystem;
using cli_testing::outcome;
using cli_testing::slurp;
using ReportCli = cli_testing::cli_fixture;

// The text without what differs from build to build: the versions, the
// plug-in's path and the plots gnuplot draws.
std::string steady(std::string text) {
    const auto replace_all = [&](const std::string& what, const std::string& with) {
        for (std::size_t at = text.find(what); !what.empty() && at != std::string::npos; at = text.find(what, at)) {
            text.replace(at, what.size(), with);
            at += with.size();
        }
    };
    replace_all(workbench::workbench_version(), "WORKBENCH");
    replace_all(workbench::plugin_version_text(UREA_PLUGIN_PATH), "PLUGIN");
    replace_all(UREA_PLUGIN_PATH, "PLUGIN_FILE");
    for (std::size_t at = text.find("<svg"); at != std::string::npos; at = text.find("<svg", at + 6)) {
        const std::size_t end = text.find("</svg>", at);
        if (end == std::string::npos) break;
        text.replace(at, end + 6 - at, "<svg/>");
    }
    const std::size_t build = text.rfind(",\n  \"build\": {");
    return build == std::string::npos ? text : text.substr(0, build) + "\n}\n";
}

void expect_golden(const std::string& name, const std::string& text) {
    const fs::path path = fs::path(UREA_TESTDATA) / "report" / name;
    if (std::getenv("UREA_WRITE_GOLDEN") != nullptr) std::ofstream(path) << steady(text);
    EXPECT_EQ(steady(text), slurp(path)) << name << " differs from its golden file";
}

TEST_F(ReportCli, AnEstimateAndADesignWriteWhatTheyWroteByteForByte) {
    write("runs.csv", slurp(fs::path(UREA_EXAMPLES) / "runs-synthetic.csv"));
    const outcome e = run("estimate runs.csv --fix a1=1 --bootstrap 20 --csv e.csv --report e.html");
    ASSERT_EQ(e.status, 0) << e.err;
    expect_golden("estimate.txt", e.out);
    expect_golden("estimate.csv", slurp(dir / "e.csv"));
    expect_golden("estimate.html", slurp(dir / "e.html"));
    const outcome j = run("estimate runs.csv --fix a1=1 --bootstrap 20 --json");
    ASSERT_EQ(j.status, 0) << j.err;
    expect_golden("estimate.json", j.out);
    write("est.json", j.out);
    const outcome d = run("design runs.csv --estimate est.json --vary t-out=176:195:5 --vary co2=1700:3000:3 --csv d.csv");
    ASSERT_EQ(d.status, 0) << d.err;
    expect_golden("design.txt", d.out);
    expect_golden("design.csv", slurp(dir / "d.csv"));
    const outcome dj = run("design runs.csv --estimate est.json --vary t-out=176:195:5 --vary co2=1700:3000:3 --json");
    ASSERT_EQ(dj.status, 0) << dj.err;
    expect_golden("design.json", dj.out);
}

}  // namespace
