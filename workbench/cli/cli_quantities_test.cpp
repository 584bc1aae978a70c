// Every column of every table the command line writes is a declared
// quantity (model/schema.h): what `urea-reactor quantities` and
// docs/reference/quantities.md list.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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
    write_synthetic_history((dir / "h.csv").string(), UREA_PLUGIN_PATH, recipe);
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

// The keys of a document that are no declared field of its type: a key
// is a field's place in documents (or its name), a table or a nested field
// of a declared type is followed into that type, and an object that no
// field names is a step of a path ("reactor" of "reactor.trays").
void undeclared_keys(const nlohmann::json& j, const std::string& type, const std::string& prefix,
                     const std::string& where, std::vector<std::string>& out) {
    if (j.is_array()) {
        for (const nlohmann::json& x : j) undeclared_keys(x, type, prefix, where + "[]", out);
        return;
    }
    if (!j.is_object()) return;
    for (const auto& [key, value] : j.items()) {
        const std::string path = prefix.empty() ? key : prefix + "." + key;
        if (const schema_field* f = document_field(type, path)) {
            if (*f->of != '\0') undeclared_keys(value, f->of, "", where + "." + key, out);
        } else if (value.is_object()) {
            undeclared_keys(value, type, path, where + "." + key, out);
        } else {
            out.push_back(type + ": " + where + "." + key);
        }
    }
}

TEST_F(QuantitiesCli, EveryKeyOfAnEstimateAndItsCaseIsDeclared) {
    // Both factors free (the region, leave one out), a bootstrap, and a case
    // with a property table, so that every part of the document is there.
    write("c.json", R"({"name": "tables", "reactor": {"model": "trays", "trays": 6, "volume_m3": 200,
        "pressure_bar": 150, "inlet_temperature_C": 175, "outlet_temperature_C": 185},
        "feed_kmol_h": {"NH3": 6000, "CO2": 2000, "H2O": 1000},
        "properties": {"H2O": {"temperature_C": [150, 200], "fugacity_coefficient": [0.9, 0.8]}}})");
    const outcome e = run("estimate " + example_runs + " c.json --bootstrap 8 --json --write-case t.json");
    ASSERT_EQ(e.status, 0) << e.err;
    const nlohmann::json estimate = nlohmann::json::parse(e.out);
    for (const char* part : {"region", "leave_one_out", "bootstrap", "tuned_case"}) {
        ASSERT_FALSE(estimate[part].is_null()) << part;
    }
    ASSERT_TRUE(estimate["base_case"].contains("properties"));
    std::vector<std::string> undeclared;
    undeclared_keys(estimate, "estimate", "", "", undeclared);
    undeclared_keys(nlohmann::json::parse(slurp(dir / "t.json"), nullptr, true, true), "case", "", "", undeclared);
    EXPECT_TRUE(undeclared.empty()) << ::testing::PrintToString(undeclared);
}

TEST_F(QuantitiesCli, EveryKeyOfARunASweepAStudyAndADesignIsDeclared) {
    const outcome e = run("estimate " + example_runs + " --fix a1=1 --json");
    ASSERT_EQ(e.status, 0) << e.err;
    write("est.json", e.out);
    // A case table with a column of the user's own (tag), carried through.
    write("cases.csv", "tag,t-out,nh3_co2\nA,182,3.0\nB,186,3.3\n");
    struct document {
        std::string args;
        const char* type;
    };
    const document documents[] = {
        {"--json", "reactor run"},
        {"--model pfr --json", "reactor run"},
        {"--estimate est.json --json", "reactor run"},
        {"sweep --vary trays=5:10:2 --vary a2=0.1:0.2:2 --json", "sweep"},
        {"study --vary t-out=180,186 --estimate est.json --result co2_conversion,x_UREA@2 --json", "study"},
        {"study --cases cases.csv --json", "study"},
        {"design " + example_runs + " --estimate est.json --vary t-out=180,186 --json", "design"},
        {"design " + example_runs + " --estimate est.json --cases cases.csv --json", "design"},
    };
    for (const document& d : documents) {
        const outcome o = run(d.args);
        ASSERT_EQ(o.status, 0) << d.args << ": " << o.err;
        std::vector<std::string> undeclared;
        undeclared_keys(nlohmann::json::parse(o.out), d.type, "", "", undeclared);
        EXPECT_TRUE(undeclared.empty()) << d.args << ": " << ::testing::PrintToString(undeclared);
    }
}

TEST_F(QuantitiesCli, EveryKeyOfAMonitorAndOfWhatWatchStoresIsDeclared) {
    // A step in a2, a biased CO2 meter, a frozen sensor and spikes, so that
    // drifts, meters, stagnant runs and spike spans are there to walk.
    synthetic_history recipe;
    recipe.days = 12;
    recipe.step_day = 6.0;
    recipe.co2_bias = synthetic_history::span{2.0, 10.0};
    recipe.frozen_t_out = synthetic_history::span{4.0, 4.5};
    recipe.spike_rate = 0.01;
    write_synthetic_history((dir / "h.csv").string(), UREA_PLUGIN_PATH, recipe);
    const outcome m = run("monitor h.csv --fix a1=1 --json");
    ASSERT_EQ(m.status, 0) << m.err;
    ASSERT_EQ(run("watch h.csv --store s.db --fix a1=1 --stale 10000d").status, 0);
    const outcome w = run("watch --store s.db --json");
    ASSERT_EQ(w.status, 0) << w.err;
    for (const outcome* o : {&m, &w}) {
        const nlohmann::json doc = nlohmann::json::parse(o->out);
        for (const char* part : {"drifts", "meters", "windows"}) ASSERT_FALSE(doc[part].empty()) << part;
        std::vector<std::string> undeclared;
        undeclared_keys(doc, "monitor", "", "", undeclared);
        EXPECT_TRUE(undeclared.empty()) << ::testing::PrintToString(undeclared);
    }
}

}  // namespace
