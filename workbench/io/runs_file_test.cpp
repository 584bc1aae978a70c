// Runs files: what a spreadsheet or historian writes reads as meant, every
// class of bad input names file, line and column, and a run's settings
// change the base case as documented.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "io/runs_columns.h"
#include "io/runs_file.h"

namespace {

using namespace workbench;

std::string error_of(const std::string& text) {
    try {
        parse_runs(text, "runs.csv");
    } catch (const runs_error& e) {
        return e.what();
    }
    return "(no error)";
}

double setting_of(const plant_run& r, setting s) { return r.settings[static_cast<std::size_t>(s)].value(); }
const measurement& measured(const plant_run& r, quantity q) {
    return r.measured[static_cast<std::size_t>(q)].value();
}

// A table's column of text cells, as a CSV file holds them.
table_column text_column(std::vector<std::string> cells) {
    table_column c;
    c.text = std::move(cells);
    return c;
}

TEST(RunsFile, ReadsASpreadsheetExport) {
    // Byte-order mark, CRLF, a comment, names in another case and the command
    // line's spelling, a quoted note over two lines, empty cells, an empty
    // spreadsheet row and blank lines at the end.
    const std::string text =
        "\xEF\xBB\xBF# test runs, March\r\n"
        "Run,T-OUT,Pressure,feed_kmol_h.co2,note,co2_conversion,W_UREA,w_urea_sigma\r\n"
        "A,183.5,144,2300,\"load 96 %, \"\"steady\"\"\r\nall day\",0.581,,\r\n"
        ",,,,,,,\r\n"
        "# B was lost\r\n"
        "C,,+1.45e2,,,0.57,0.33,0.004\r\n"
        "\r\n\r\n";
    const runs_file f = parse_runs(text, "runs.csv");
    ASSERT_EQ(f.runs.size(), 2u);
    const plant_run& a = f.runs[0];
    EXPECT_EQ(a.name, "A");
    EXPECT_EQ(a.line, 3u);
    EXPECT_EQ(a.note, "load 96 %, \"steady\"\r\nall day");
    EXPECT_EQ(setting_of(a, setting::outlet_temperature_C), 183.5);
    EXPECT_EQ(setting_of(a, setting::pressure_bar), 144.0);
    EXPECT_EQ(setting_of(a, setting::feed_CO2), 2300.0);
    EXPECT_EQ(a.setting_column[static_cast<std::size_t>(setting::feed_CO2)], 4u);
    EXPECT_FALSE(a.settings[static_cast<std::size_t>(setting::inlet_temperature_C)]);
    EXPECT_EQ(measured(a, quantity::co2_conversion).value, 0.581);
    EXPECT_EQ(measured(a, quantity::co2_conversion).sigma, 0.005);  // the default
    EXPECT_FALSE(measured(a, quantity::co2_conversion).sigma_given);
    EXPECT_FALSE(a.measured[static_cast<std::size_t>(quantity::w_urea)]);
    const plant_run& c = f.runs[1];
    EXPECT_EQ(c.name, "C");
    EXPECT_EQ(c.line, 7u);
    EXPECT_EQ(setting_of(c, setting::pressure_bar), 145.0);
    EXPECT_EQ(measured(c, quantity::w_urea).sigma, 0.004);
    EXPECT_EQ(c.measured_column[static_cast<std::size_t>(quantity::w_urea)], 7u);
    EXPECT_TRUE(f.warnings.empty());
    // A row without a name is called by its line; LF and CR line ends alike.
    EXPECT_EQ(parse_runs("co2_conversion\n0.5\r0.6", "r.csv").runs[1].name, "line 3");
}

TEST(RunsFile, ExampleReadsAsTheDocsSay) {
    const runs_file f = read_runs(UREA_EXAMPLES "/runs-synthetic.csv");
    ASSERT_EQ(f.runs.size(), 8u);
    EXPECT_TRUE(f.warnings.empty());
    std::size_t measurements = 0;
    for (const plant_run& r : f.runs) {
        for (const auto& m : r.measured) measurements += m.has_value() ? 1 : 0;
        EXPECT_NO_THROW(case_of(default_case(), r, f.file)) << r.name;
    }
    EXPECT_EQ(measurements, 32u);  // conversion in all 8, the analysis in 6
    EXPECT_EQ(f.runs[6].note, "lower pressure, cooler top");
}

TEST(RunsFile, BadInputNamesFileLineAndColumn) {
    const std::string head = "run,pressure_bar,co2_conversion\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {head + "A,\"144,0.5\n", "runs.csv:2: cell 2: a quote opened here is never closed"},
        {head + "A,\"144\"x,0.5\n", "runs.csv:2: cell 2: text after the closing quote"},
        {head + "A,14\"4,0.5\n", "runs.csv:2: cell 2: a quote inside a cell"},
        {head + "A," + std::string("14\0" "4", 4) + ",0.5\n", "runs.csv:2: a NUL byte: this is not a text file"},
        {head + "A,144\n", "runs.csv:2: the row has 2 cells, the header 3"},
        {"run,pressure_bar,x_urea\nA,144,0.3\n", "runs.csv:1: column \"x_urea\" (3): unknown column: did you mean w_UREA? "
                                               "(a name this near a known one is taken for a misspelling; other columns "
                                               "are carried through unused; known: run, note, trays"},
        {"run,pressure_bar,Pressure\n", "runs.csv:1: column \"Pressure\" (3): the same as column \"pressure_bar\" (2)"},
        {"a1,co2_conversion\n", "runs.csv:1: column \"a1\" (1): a1 is what the estimate finds, not a run's setting: to hold it, use fix a1=VALUE"},
        {"co2_conversion,w_NH3_sigma\n", "runs.csv:1: column \"w_NH3_sigma\" (2): a standard deviation without its measurement column \"w_NH3\""},
        {"run;pressure_bar,co2_conversion\n", "runs.csv:1: the header has both commas and semicolons between its "
                                              "names: which of them separates the columns is unclear"},
        {head + "\n# nothing\n", "runs.csv: no runs"},
        {head + "A,1.4e2x,0.5\n", "runs.csv:2: column \"pressure_bar\" (2): not a number (got \"1.4e2x\")"},
        {head + "A,\"144,5\",0.5\n", "runs.csv:2: column \"pressure_bar\" (2): not a number (got \"144,5\"; write numbers without a thousands separator and with a decimal point: 1445 if the comma separates thousands, 144.5 if it is a decimal comma)"},
        {head + "A,inf,0.5\n", "runs.csv:2: column \"pressure_bar\" (2): must be a finite number"},
        {head + "A,0,0.5\n", "runs.csv:2: column \"pressure_bar\" (2): must be > 0"},
        {head + "A,1e-400,0.5\n", "runs.csv:2: column \"pressure_bar\" (2): a number too small for a double, which "
                                  "would read it as 0 (got \"1e-400\"; write 0 if 0 is meant)"},
        {"co2,nh3_co2,co2_conversion\n1e308,,0.5\n", "runs.csv:2: column \"co2\" (1): must be at most 1e+07 kmol/h"},
        // A cell's control characters are never printed: a terminal would obey them.
        {head + "A,\"\x1b]0;title\x07\n\",0.5\n", "runs.csv:2: column \"pressure_bar\" (2): not a number (got \"?]0;title??\")"},
        {std::string("\xFF\xFE\0\0r\0\0\0", 8), "runs.csv: UTF-32 text"},
        {head + "A," + std::string(max_cell_chars + 1, '1') + ",0.5\n", "runs.csv:2: cell 2: more than 10000 characters"},
        {head + "A,144,0.5" + std::string(1000000, ',') + "\n", "runs.csv:2: more than 1000 cells in the row"},
        {"trays,co2_conversion\n10.5,0.5\n", "runs.csv:2: column \"trays\" (1): must be a whole number of trays"},
        {"feed_kmol_h.H2O,co2_conversion\n-1,0.5\n", "runs.csv:2: column \"feed_kmol_h.H2O\" (1): must not be negative"},
        {head + "A,144,58\n", "runs.csv:2: column \"co2_conversion\" (3): must be a fraction between 0 and 1 (got 58; a percentage? write 0.58)"},
        {head + "A,144,-0.1\n", "runs.csv:2: column \"co2_conversion\" (3): must be a fraction between 0 and 1 (got -0.1)"},
        {"co2_conversion,co2_conversion_sigma\n0.5,0\n", "runs.csv:2: column \"co2_conversion_sigma\" (2): a standard deviation must be > 0"},
        {"co2_conversion,co2_conversion_sigma\n0.5,2\n", "runs.csv:2: column \"co2_conversion_sigma\" (2): a standard deviation of a fraction must be at most 1 (got 2; a percentage? write 0.02)"},
        {"feed_kmol_h.NH3,nh3_co2,co2_conversion\n7000,,0.5\n7000,3,0.5\n",
         "runs.csv:3: column \"nh3_co2\" (2): given together with column \"feed_kmol_h.NH3\" (1) in the same row"},
        {head + "A,144,0.5\n\nB,145,\n", "runs.csv:4: run \"B\" has no measurement"},
        {"co2_conversion,\n0.5,1\n", "runs.csv:2: column 2: a value in a column without a name"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string msg = error_of(text);
        EXPECT_EQ(msg.rfind(expected, 0), 0u) << "got:      " << msg << "\nexpected: " << expected;
    }
    // A column without a name and without values is what spreadsheets add: fine.
    EXPECT_EQ(parse_runs("co2_conversion,\n0.5,\n", "runs.csv").runs.size(), 1u);
    // More runs than an estimate takes, more cells than a table holds.
    std::string many = "co2_conversion\n";
    for (std::size_t k = 0; k <= max_runs; ++k) many += "0.5\n";
    EXPECT_EQ(error_of(many).rfind("runs.csv:1002: more than 1000 runs; a runs file holds at most 1000", 0), 0u);
    std::string wide = std::string(max_columns - 1, ',') + "co2_conversion\n";
    for (std::size_t k = 0; k * max_columns <= max_table_cells; ++k) wide += std::string(max_columns - 1, ',') + "0.5\n";
    EXPECT_EQ(error_of(wide).rfind("runs.csv:2001: more than 2000000 cells in all", 0), 0u) << error_of(wide);
    // Nor in a warning.
    const runs_file twice = parse_runs("run,co2_conversion\n\x1b[2J,0.5\n\x1b[2J,0.6\n", "runs.csv");
    ASSERT_EQ(twice.warnings.size(), 1u);
    EXPECT_EQ(twice.warnings[0], "runs.csv:3: run \"?[2J\" has the name of the run on line 2");
}

// A decimal comma in a row that ends with an empty cell (the example file's
// T4 with 3,3 for NH3/CO2) made one more cell, and every value after it
// moved one column on: refused, saying why.
TEST(RunsFile, ARowWithOneCellTooManyIsRefusedAsAShiftedRow) {
    std::ifstream in(UREA_EXAMPLES "/runs-synthetic.csv");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = text.find("\nT4,,3.3,");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 9, "\nT4,,3,3,");
    EXPECT_EQ(error_of(text), "runs.csv:8: the row has 15 cells, the header 14; cells 3 and 4, 3 and 3, look like "
                              "one number written with a decimal comma: write 3.3, or quote the cell");
}

// A plant's export as it comes: a timestamp, a tag or an operator's note
// beside the runs' columns, a units row, semicolons or tabs between cells.
TEST(RunsFile, CarriesOtherColumnsThroughAndStillCatchesAMisspeltOne) {
    const runs_file f = parse_runs("timestamp,run,co2_conversion,Tag\n2026-03-01 06:00,A,0.6,x\n2026-03-02 06:00,B,0.61,\n",
                                   "runs.csv");
    ASSERT_EQ(f.runs.size(), 2u);
    EXPECT_EQ(f.runs[1].name, "B");
    EXPECT_EQ(measured(f.runs[1], quantity::co2_conversion).value, 0.61);
    EXPECT_EQ(f.warnings, (std::vector<std::string>{"runs.csv:1: columns carried through and not used: timestamp (1), Tag (4)"}));
    for (const auto& [header, meant] : {std::pair{"presure_bar", "pressure_bar"}, std::pair{"w_UREA_sgma", "w_UREA_sigma"},
                                        std::pair{"feed_kmol_h.Argon", "feed_kmol_h.<component>"}}) {
        const std::string msg = error_of(std::string("run,w_UREA,") + header + "\nA,0.3,1\n");
        EXPECT_EQ(msg.rfind("runs.csv:1: column \"" + std::string(header) + "\" (3): unknown column: did you mean " + meant, 0), 0u)
            << msg;
    }
}

TEST(RunsFile, AUnitsRowIsCheckedAndAPercentageColumnConverted) {
    const std::string head = "run,feed_kmol_h.CO2,t-out,pressure_bar,co2_conversion,w_UREA,w_UREA_sigma,note\n";
    const runs_file f = parse_runs(head + ",[kmol/h],\xC2\xB0" "C,bar,-,%,wt%,text\nA,2300,183.5,144,0.58,35.2,0.4,\n", "runs.csv");
    ASSERT_EQ(f.runs.size(), 1u);
    const plant_run& a = f.runs[0];
    EXPECT_EQ(a.line, 3u);
    EXPECT_EQ(setting_of(a, setting::outlet_temperature_C), 183.5);
    EXPECT_EQ(measured(a, quantity::co2_conversion).value, 0.58);
    EXPECT_DOUBLE_EQ(measured(a, quantity::w_urea).value, 0.352);
    EXPECT_DOUBLE_EQ(measured(a, quantity::w_urea).sigma, 0.004);
    EXPECT_EQ(f.warnings, (std::vector<std::string>{"runs.csv:2: in % (the units row): w_UREA (6), w_UREA_sigma (7); "
                                                    "read as fractions, divided by 100"}));
    EXPECT_EQ(error_of(head + ",kmol/h,C,psi,,,,\nA,2300,183.5,144,0.58,,,\n"),
              "runs.csv:2: column \"pressure_bar\" (4): unit \"psi\" in the units row; expected bar");
    EXPECT_EQ(error_of(head + ",C,C,,,,,\nA,2300,183.5,144,0.58,,,\n"),
              "runs.csv:2: column \"feed_kmol_h.CO2\" (2): unit \"C\" in the units row; expected kmol/h");
    EXPECT_EQ(error_of(head + ",,,,kg/kg,,,\nA,2300,183.5,144,0.58,,,\n"),
              "runs.csv:2: column \"co2_conversion\" (5): unit \"kg/kg\" in the units row; expected fraction (or -, "
              "mol/mol), or %");
    EXPECT_EQ(error_of(head + ",,,,%,,,\nA,2300,183.5,144,5800,,,\n"),
              "runs.csv:3: column \"co2_conversion\" (5): must be a percentage between 0 and 100, the column being "
              "in % (got 5800)");
    // A table in memory (a data frame read from a spreadsheet) the same way.
    const runs_file t = runs_from_table({"run", "co2_conversion"}, {text_column({"", "A"}), text_column({"%", "60"})}, "frame");
    EXPECT_DOUBLE_EQ(measured(t.runs.at(0), quantity::co2_conversion).value, 0.6);
}

TEST(RunsFile, ReadsSemicolonsOrTabsWhenTheHeaderSaysSo) {
    const std::string semicolons = "run;pressure_bar;co2_conversion;note\nA;144.5;0.58;\"cool; \"\"steady\"\"\"\n";
    std::string tabs = "run\tpressure_bar\tco2_conversion\tnote\nA\t144.5\t0.58\t\"cool; \"\"steady\"\"\"\n";
    // (Blank lines before the header: the header says the separator.)
    for (const std::string& text : {semicolons, tabs, "\n\n" + semicolons}) {
        const runs_file f = parse_runs(text, "runs.csv");
        ASSERT_EQ(f.runs.size(), 1u) << text;
        EXPECT_EQ(setting_of(f.runs[0], setting::pressure_bar), 144.5);
        EXPECT_EQ(f.runs[0].note, "cool; \"steady\"");
        ASSERT_EQ(f.warnings.size(), 1u);
        EXPECT_EQ(f.warnings[0], std::string("runs.csv: cells separated by ") + (text == tabs ? "tabs" : "semicolons") +
                                     " (the header has no comma), read as such; numbers need a decimal point");
    }
    EXPECT_EQ(error_of("run;pressure_bar;co2_conversion\nA;144,5;0.58\n"),
              "runs.csv:2: column \"pressure_bar\" (2): not a number (got \"144,5\"; a decimal comma: the file is "
              "separated by semicolons, and its numbers must be written with a decimal point (144.5): export it with "
              "a decimal point, or as CSV with commas)");
    EXPECT_EQ(error_of("run;pressure_bar;co2_conversion\nA,144.5,0.58\n"), "runs.csv:2: the row has 1 cells, the header 3");
    // Tabs beside commas are blanks around a cell.
    EXPECT_EQ(parse_runs("run,\tco2_conversion\nA,\t0.58\n", "runs.csv").warnings.size(), 0u);
}

TEST(RunsFile, ATableInMemoryReadsAsTheCsvItWouldBeWrittenAs) {
    const std::vector<std::string> header = {"run", "nh3_co2", "co2_conversion", "note"};
    // nh3_co2 a column of numbers (NaN: empty), the others text.
    const auto numbers = [](std::vector<double> v) {
        table_column c;
        c.numeric = true;
        c.numbers = std::move(v);
        return c;
    };
    const runs_file t = runs_from_table(header,
                                        {text_column({"A", "", ""}), numbers({3.1, NAN, NAN}), text_column({"0.6", "", "0.61"}),
                                         text_column({"a, \"b\"", "", ""})},
                                        "frame");
    const runs_file f = parse_runs("run,nh3_co2,co2_conversion,note\nA,3.1,0.6,\"a, \"\"b\"\"\"\n,,,\n,,0.61,\n", "frame");
    ASSERT_EQ(t.runs.size(), 2u);
    ASSERT_EQ(f.runs.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(t.runs[k].name, f.runs[k].name);
        EXPECT_EQ(t.runs[k].line, f.runs[k].line);
        EXPECT_EQ(t.runs[k].note, f.runs[k].note);
        EXPECT_EQ(t.runs[k].settings, f.runs[k].settings);
        EXPECT_EQ(t.runs[k].setting_column, f.runs[k].setting_column);
        EXPECT_EQ(measured(t.runs[k], quantity::co2_conversion).value, measured(f.runs[k], quantity::co2_conversion).value);
    }
    EXPECT_EQ(t.runs[1].name, "line 4");
    const auto table_error = [&](const std::vector<table_column>& c) {
        try {
            runs_from_table(header, c, "frame");
        } catch (const runs_error& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    // A number is quoted as its shortest text, as the CSV would hold it.
    EXPECT_EQ(table_error({text_column({"A", "B"}), numbers({3.1, -0.25}), text_column({"0.6", "0.6"}), text_column({"", ""})}),
              "frame:3: column \"nh3_co2\" (2): must not be negative (got -0.25)");
    EXPECT_EQ(table_error({text_column({"A"}), numbers({INFINITY}), text_column({"0.6"}), text_column({""})}),
              "frame:2: column \"nh3_co2\" (2): must be a finite number (got \"inf\")");
    EXPECT_EQ(table_error({text_column({}), numbers({}), text_column({}), text_column({})}),
              "frame: no runs: the header must be followed by at least one row");
}

TEST(RunsFile, RunSettingsChangeTheBaseCaseAsDocumented) {
    const reactor_case base = default_case();  // NH3/CO2 3.07, H2O/CO2 0.41, 2400 kmol/h CO2
    const runs_file f = parse_runs(
        "run,co2,feed_kmol_h.NH3,nh3_co2,h2o_co2,t_in,co2_conversion\n"
        "load,2000,,,,,0.5\n"         // NH3 and H2O follow at the base case's ratios
        "ratio,,,3.4,,,0.5\n"         // the ratio to the base case's CO2
        "nh3,2000,6500,,,,0.5\n"      // NH3 as given; H2O at its ratio
        "both,2000,,3.4,0.5,,0.5\n"
        "cold,,,,,140,0.5\n"
        "none,0,,,,,0.5\n",
        "runs.csv");
    std::vector<std::string> warnings;
    const auto c = [&](std::size_t i) { return case_of(base, f.runs[i], f.file, &warnings); };
    EXPECT_DOUBLE_EQ(c(0).feed_kmol_h[CO2], 2000.0);
    EXPECT_DOUBLE_EQ(c(0).feed_kmol_h[NH3], 3.07 * 2000.0);
    EXPECT_DOUBLE_EQ(c(0).feed_kmol_h[H2O], 0.41 * 2000.0);
    EXPECT_DOUBLE_EQ(c(1).feed_kmol_h[NH3], 3.4 * 2400.0);
    EXPECT_DOUBLE_EQ(c(1).feed_kmol_h[H2O], base.feed_kmol_h[H2O]);
    EXPECT_DOUBLE_EQ(c(2).feed_kmol_h[NH3], 6500.0);
    EXPECT_DOUBLE_EQ(c(2).feed_kmol_h[H2O], 0.41 * 2000.0);
    EXPECT_DOUBLE_EQ(c(3).feed_kmol_h[NH3], 3.4 * 2000.0);
    EXPECT_DOUBLE_EQ(c(3).feed_kmol_h[H2O], 0.5 * 2000.0);
    EXPECT_EQ(c(3).feed_kmol_h[O2], base.feed_kmol_h[O2]);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(c(4).inlet_temperature_C, 140.0);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("runs.csv:6: run \"cold\": reactor.inlet_temperature_C = 140 C is outside", 0), 0u)
        << warnings[0];
    try {
        c(5);
        ADD_FAILURE() << "no error";
    } catch (const runs_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("runs.csv:7: column \"feed_kmol_h.CO2\" (2): run \"none\": "
                                              "feed_kmol_h.CO2: no CO2 in the feed", 0), 0u) << e.what();
    }
}

TEST(RunsFile, NeedsAsManyMeasurementsAsFreeParameters) {
    const runs_file one = parse_runs("run,co2_conversion\nA,0.5\n", "runs.csv");
    EXPECT_NO_THROW(check_measurement_count(one, 1));
    try {
        check_measurement_count(one, 2);
        ADD_FAILURE() << "no error";
    } catch (const runs_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("runs.csv: 1 measurement in all for 2 free parameters", 0), 0u)
            << e.what();
    }
}

}  // namespace

namespace {

TEST(CaseTable, SetsWhatARunsFileSetsAndCarriesTheRest) {
    const case_table t = parse_case_table(
        "run,Date,T-OUT,a1,A2,model,co2_conversion,w_urea_sigma,note\n"
        "r1,2024-01-05,185,2,,PFR,0.58,,\"steady, all day\"\n"
        "r2,,,,0.5,,,,\n",
        "cases.csv", 10);
    EXPECT_EQ(t.settings, (std::vector<std::string>{"outlet_temperature_C", "a1", "a2", "model"}));
    EXPECT_EQ(t.carried, (std::vector<std::string>{"run", "Date", "co2_conversion", "w_urea_sigma", "note"}));
    ASSERT_EQ(t.rows.size(), 2u);
    const case_row& r1 = t.rows[0];
    EXPECT_EQ(r1.carried, (std::vector<std::string>{"r1", "2024-01-05", "0.58", "", "steady, all day"}));
    EXPECT_EQ(r1.settings[static_cast<std::size_t>(setting::outlet_temperature_C)], 185.0);
    EXPECT_EQ(r1.a1, 2.0);
    EXPECT_FALSE(r1.a2);
    EXPECT_EQ(r1.model, reactor_model::pfr);
    const reactor_case c = case_of(default_case(), t.rows[1], t);
    EXPECT_EQ(c.a2, 0.5);
    EXPECT_EQ(c.outlet_temperature_C, default_case().outlet_temperature_C);

    const auto error = [](const std::string& text) {
        try {
            parse_case_table(text, "cases.csv", 2);
        } catch (const runs_error& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(error("tag,trays,Trays\nx,1,2\n"), "cases.csv:1: column \"Trays\" (3): the same as column \"trays\" (2)");
    EXPECT_EQ(error("tag,nh3_co2,feed_kmol_h.NH3\nx,3,7000\n"),
              "cases.csv:2: column \"nh3_co2\" (2): given together with column \"feed_kmol_h.NH3\" (3) in the "
              "same row: give either the flow or the ratio");
    EXPECT_EQ(error("tag,a2\nx,-1\n"), "cases.csv:2: column \"a2\" (2): a rate factor must be > 0 (got -1)");
    EXPECT_EQ(error("tag,trays\nx,1\ny,2\nz,3\n"), "cases.csv:4: more than 2 cases: at most 2 in one study");
    EXPECT_EQ(error("tag,volume\n"), "cases.csv: no cases: the header must be followed by at least one row");
    EXPECT_NE(error("tag,t_ot\nx,1\n").find("did you mean t_out?"), std::string::npos);

    // A runs file's units row and separator as a case table: the units of its
    // settings checked, carried columns taken as they are.
    const case_table s = parse_case_table("tag;t_out;co2_conversion\n;degC;%\nx;185;58\n", "cases.csv", 2);
    ASSERT_EQ(s.rows.size(), 1u);
    EXPECT_EQ(s.rows[0].settings[static_cast<std::size_t>(setting::outlet_temperature_C)], 185.0);
    EXPECT_EQ(s.rows[0].carried, (std::vector<std::string>{"x", "58"}));
    EXPECT_EQ(s.warnings.size(), 1u);
    EXPECT_EQ(error("tag,t_out\n,bar\nx,185\n"), "cases.csv:2: column \"t_out\" (2): unit \"bar\" in the units row; "
                                                "expected \xC2\xB0" "C (or C, degC)");
}

}  // namespace
