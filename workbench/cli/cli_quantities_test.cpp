// Every column of every table the command line writes is a declared
// quantity (model/schema.h): what `urea-reactor quantities` and
// docs/reference/quantities.md list.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "analysis/synthetic_history.h"
#include "cli/cli_fixture.h"
#include "model/schema.h"

namespace {

using cli_testing::outcome;
using cli_testing::slurp;
using QuantitiesCli = cli_testing::cli_fixture;
using namespace workbench;

const std::string example_runs = std::string("'") + UREA_EXAMPLES + "/runs-synthetic.csv'";

TEST_F(QuantitiesCli, EveryColumnOfEveryTableWrittenIsDeclared) {
    const outcome e = run("estimate " + example_runs + " --fix a1=1 --json");
    ASSERT_EQ(e.status, 0) << e.err;
    write("est.json", e.out);
    // A case table with a column of the user's own (tag), carried through.
    write("cases.csv", "tag,t-out,nh3_co2\nA,182,3.0\nB,186,3.3\n");
    synthetic_history recipe;
    recipe.days = 3;
    {
        session lib(UREA_PLUGIN_PATH);
        property_set props;
        workbench_host h(lib, props);
        std::ofstream out(dir / "h.csv");
        write_synthetic_history(out, h, default_case(), recipe);
    }
    struct table_written {
        std::string args;
        const char* type;
    };
    const table_written tables[] = {
        {"--csv t.csv", "profile"},
        {"--model pfr --estimate est.json --carry-factors --csv t.csv", "profile"},
        {"estimate " + example_runs + " --fix a1=1 --csv t.csv", "residual"},
        {"sweep --vary trays=5:10:2 --vary a2=0.1:0.2:2 --csv t.csv", "study point"},
        {"study --cases cases.csv --estimate est.json --result co2_conversion,x_UREA@2,rate_calls --csv t.csv",
         "study point"},
        {"study --vary model=trays,pfr --vary feed_kmol_h.CO2=2000,2400 --csv t.csv", "study point"},
        {"design " + example_runs + " --estimate est.json --vary t-out=180,186 --csv t.csv", "design candidate"},
        {"monitor h.csv --fix a1=1 --csv t.csv", "monitor window"},
    };
    for (const table_written& t : tables) {
        const outcome o = run(t.args);
        ASSERT_EQ(o.status, 0) << t.args << ": " << o.err;
        std::istringstream header(slurp(dir / "t.csv").substr(0, slurp(dir / "t.csv").find('\n')));
        std::size_t columns = 0;
        for (std::string name; std::getline(header, name, ',');) {
            ++columns;
            if (name == "tag") continue;  // the user's
            EXPECT_NE(declared(t.type, name), nullptr) << t.args << ": column " << name << " is no " << t.type << "'s";
        }
        EXPECT_GT(columns, 3u) << t.args;
    }
}

}  // namespace
