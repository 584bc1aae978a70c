// The history reader: times in every form it takes, the runs file's columns
// and checks, values out of bounds counted (not refused), order, and every
// refusal naming its line and column.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "base/timestamps.h"
#include "io/history_file.h"
#include "io/runs_file.h"

namespace {

using namespace workbench;

// The message of the runs_error the text makes, or "no error".
std::string refusal(const std::string& text, bool sort = false) {
    try {
        parse_history(text, "h.csv", sort);
    } catch (const runs_error& e) {
        return e.what();
    }
    return "no error";
}

TEST(Timestamps, ReadWriteAndDurations) {
    const std::int64_t six = read_timestamp("2026-03-01T06:00:00").ms;
    EXPECT_EQ(timestamp_text(six, false), "2026-03-01T06:00:00");
    EXPECT_EQ(read_timestamp("2026-03-01 06:00").ms, six);
    EXPECT_FALSE(read_timestamp("2026-03-01 06:00").zoned);
    EXPECT_EQ(read_timestamp("2026-03-01T07:30:00+01:30").ms, six);
    EXPECT_EQ(read_timestamp("2026-03-01T05:00:00-0100").ms, six);
    EXPECT_TRUE(read_timestamp("2026-03-01T06:00:00Z").zoned);
    EXPECT_EQ(read_timestamp("2026-03-01T06:00:00.25Z").ms, six + 250);
    EXPECT_EQ(timestamp_text(read_timestamp("2028-02-29T23:59:59").ms, true), "2028-02-29T23:59:59Z");
    EXPECT_EQ(read_timestamp("1969-12-31T23:00:00Z").ms, -ms_per_hour);
    for (const char* bad : {"2026-02-29", "2026-03-01T24:00", "2026-3-1 06:00", "01.03.2026 06:00", "2026-03-01T06:00:00 UTC"}) {
        EXPECT_FALSE(read_timestamp(bad).error.empty()) << bad;
    }
    EXPECT_EQ(parse_duration("window", "24h"), ms_per_day);
    EXPECT_EQ(parse_duration("window", "1.5h"), 90 * ms_per_minute);
    EXPECT_EQ(duration_text(7 * ms_per_day), "7d");
    EXPECT_EQ(duration_text(90 * ms_per_minute), "90min");
    EXPECT_THROW(parse_duration("window", "30m"), input_error);
    EXPECT_THROW(parse_duration("window", "0h"), input_error);
    // Given as a value (a timedelta's seconds, a float), the value counts and
    // its text is only quoted; as text, the text is read.
    const auto refusal = [](const auto& call) {
        try {
            call();
        } catch (const input_error& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(duration_given("window", given_number("a day", 86400.0)), ms_per_day);
    EXPECT_EQ(duration_given("window", given_number("1.5h")), 90 * ms_per_minute);
    EXPECT_EQ(refusal([] { duration_given("window", given_number("0.5s", 0.5)); }),
              "window 0.5s: must be at least a second, and at most some thousand years");
    EXPECT_EQ(number_given(field("a1"), given_number("three", 3.0), number_rule::positive), 3.0);
    EXPECT_EQ(refusal([] { number_given(field("a1"), given_number("nan", NAN), number_rule::any); }),
              "a1: must be a finite number (got nan)");
    EXPECT_EQ(refusal([] { number_given(field("a1"), given_number("-0.0", -0.0), number_rule::positive); }),
              "a1: must be a number > 0 (got -0.0)");
}

TEST(HistoryFile, ColumnsBoundsOrderAndRefusals) {
    const history h = parse_history(
        "# a historian's export\n"
        "Time,feed_kmol_h.CO2,pressure_bar,w_UREA,w_UREA_sigma\n"
        "2026-03-01T06:00:00,2400,145,,\n"
        "2026-03-01 07:00,-3,0.5,0.35,0.004\n"
        "2026-03-01T08:00,2390,,35,\n",
        "h.csv", false);
    ASSERT_EQ(h.rows(), 3u);
    EXPECT_EQ(h.line[1], 4u);
    EXPECT_EQ(h.time[2] - h.time[0], 2 * ms_per_hour);
    const history_column& co2 = *h.of_setting(setting::feed_CO2);
    EXPECT_EQ(co2.values[0], 2400.0);
    EXPECT_TRUE(std::isnan(co2.values[1]));  // negative: out of bounds, left out and counted
    EXPECT_EQ(co2.out_of_range, 1u);
    EXPECT_EQ(h.of_setting(setting::pressure_bar)->out_of_range, 1u);  // below the case's 1 bar
    EXPECT_EQ(h.of_setting(setting::pressure_bar)->missing, 1u);
    const history_column& urea = *h.of_quantity(quantity::w_urea);
    EXPECT_EQ(urea.values[1], 0.35);
    EXPECT_EQ(urea.out_of_range, 1u);  // 35: no fraction
    EXPECT_EQ(h.sigma_of(quantity::w_urea)->values[1], 0.004);
    EXPECT_EQ(h.sha256.size(), 64u);

    // Out of order: refused with the line, or sorted with --sort.
    const std::string shuffled = "time,pressure_bar,w_UREA\n2026-03-01T08:00,145,0.35\n2026-03-01T06:00,146,\n"
                                 "2026-03-01T06:00,147,\n";
    EXPECT_EQ(refusal(shuffled), "h.csv:3: column \"time\" (1): earlier than the row before (line 2, "
                                 "2026-03-01T08:00:00): the rows must be in time order, each time once (--sort sorts them)");
    const history sorted = parse_history(shuffled, "h.csv", true);
    EXPECT_EQ(sorted.line, (std::vector<std::size_t>{3, 4, 2}));
    EXPECT_EQ(sorted.of_setting(setting::pressure_bar)->values, (std::vector<double>{146, 147, 145}));
    ASSERT_EQ(sorted.warnings.size(), 1u);  // the repeated time

    EXPECT_EQ(refusal("time,pressure_bar\n2026-03-01T06:00,145\n2026-03-01T06:00:00,146\n").substr(0, 59),
              "h.csv:3: column \"time\" (1): the same time as the row before");
    EXPECT_EQ(refusal("tme,pressure_bar\n2026-03-01,145\n").rfind("h.csv:1: column \"tme\" (1): unknown column: did you mean time?", 0), 0u);
    EXPECT_EQ(refusal("pressure_bar,w_UREA\n145,0.3\n").substr(0, 26), "h.csv:1: no time column: a");
    EXPECT_EQ(refusal("pressure_bar,time\n145,2026-03-01T06:00\n146,1.3.2026 07:00\n").substr(0, 42),
              "h.csv:3: column \"time\" (2): not a time (wr");
    EXPECT_EQ(refusal("time,pressure_bar\n2026-03-01T06:00Z,145\n2026-03-01T07:00,146\n").substr(0, 60),
              "h.csv:3: column \"time\" (1): a time without a UTC offset afte");
    EXPECT_EQ(refusal("time,pressure_bar\n2026-03-01T06:00,14,5\n"), "h.csv:2: the row has 3 cells, the header 2; cells 2 and 3, 14 and 5, look like one number written "
              "with a decimal comma: write 14.5, or quote the cell");
    EXPECT_EQ(refusal("time,nh3_co2,feed_kmol_h.NH3\n2026-03-01T06:00,3.1,7400\n").substr(0, 44),
              "h.csv:2: column \"nh3_co2\" (2): given togethe");
}

TEST(HistoryFile, ReadsAnExportWithSemicolonsAUnitsRowAndOtherColumns) {
    const history h = parse_history(
        "time;feed_kmol_h.CO2;w_UREA;operator\n;kmol/h;%;\n2026-03-01T06:00;2400;35;anna\n2026-03-01T07:00;2410;;\n",
        "h.csv", false);
    ASSERT_EQ(h.rows(), 2u);
    EXPECT_EQ(h.line[0], 3u);
    EXPECT_EQ(h.of_setting(setting::feed_CO2)->values[1], 2410.0);
    EXPECT_DOUBLE_EQ(h.of_quantity(quantity::w_urea)->values[0], 0.35);
    EXPECT_EQ(h.columns.size(), 2u);
    EXPECT_EQ(h.warnings, (std::vector<std::string>{
                              "h.csv: cells separated by semicolons (the header has no comma), read as such; numbers "
                              "need a decimal point",
                              "h.csv:1: columns carried through and not used: operator (4)",
                              "h.csv:2: in % (the units row): w_UREA (3); read as fractions, divided by 100"}));
    EXPECT_EQ(refusal("time;pressure_bar\n;barg\n2026-03-01T06:00;145\n"),
              "h.csv:2: column \"pressure_bar\" (2): unit \"barg\" in the units row; expected bar");
    // A row with a time is no units row, whatever else it holds.
    EXPECT_EQ(refusal("time,pressure_bar\n2026-03-01T06:00,n/a\n").rfind("h.csv:2: column \"pressure_bar\" (2): not a number", 0), 0u);
}

// What would make a run of tens of thousands of empty windows, or fit the
// windows without a column, refused naming the line: a date decades off the
// rest, a time past the year 9999, a column in another unit.
TEST(HistoryFile, WrongDatesAndUnitsRefusedWithTheirLine) {
    const std::string rows = "2026-03-01T06:00,145,0.35\n2026-03-01T07:00,146,\n2026-03-01T08:00,145,0.36\n";
    EXPECT_EQ(refusal("time,pressure_bar,w_UREA\n1900-01-01T00:00,145,\n" + rows),
              "h.csv:2: column \"time\" (1): 1900-01-01T00:00:00 lies 126 years before the next time (line 3, "
              "2026-03-01T06:00:00): a wrong date (a spreadsheet's zero date, a mistyped year)? successive rows may "
              "be at most 10 years apart");
    EXPECT_EQ(refusal("time,pressure_bar,w_UREA\n" + rows + "3026-03-01T09:00,145,\n").substr(0, 105),
              "h.csv:5: column \"time\" (1): 3026-03-01T09:00:00 lies 1000 years after the time before (line 4, "
              "2026-03-01");
    // Sorted, the 1900 row is the first wherever it was written.
    EXPECT_EQ(refusal("time,pressure_bar,w_UREA\n" + rows + "1900-01-01T00:00,145,\n", true).substr(0, 62),
              "h.csv:5: column \"time\" (1): 1900-01-01T00:00:00 lies 126 years");
    EXPECT_EQ(read_timestamp("9999-12-31T23:30:00-01:00").error,
              "outside the years 0000 to 9999 once its UTC offset is taken off");
    EXPECT_TRUE(read_timestamp("9999-12-31T23:30:00+01:00").error.empty());

    // Most of a column out of bounds the way a unit mistake puts it: refused
    // naming the column, the line of its first such value and the likely
    // unit. A few such values are screened out (HistoryFile.ColumnsBounds...).
    EXPECT_EQ(refusal("time,pressure_bar,w_UREA\n2026-03-01T06:00,145,35.2\n2026-03-01T07:00,146,\n"
                      "2026-03-01T08:00,145,36\n"),
              "h.csv:2: column \"w_UREA\" (3): 2 of its 2 values out of bounds, as a column in another unit puts "
              "them: this one, 35.2, looks like a percentage (0.352): give the column as a fraction, or mark it % "
              "in a units row");
    EXPECT_EQ(refusal("time,pressure_bar,w_UREA\n2026-03-01T06:00,145,0.35\n2026-03-01T07:00,2103,\n"
                      "2026-03-01T08:00,2110,0.36\n"),
              "h.csv:3: column \"pressure_bar\" (2): 2 of its 3 values out of bounds, as a column in another unit "
              "puts them: this one, 2103, looks like psi (145 bar) or kPa (21.03 bar): give the column in bar");
    EXPECT_EQ(refusal("time,outlet_temperature_C,w_UREA\n2026-03-01T06:00,456.2,0.35\n"),
              "h.csv:2: column \"outlet_temperature_C\" (2): 1 of its 1 values out of bounds, as a column in another "
              "unit puts them: this one, 456.2, looks like K (183.1 C) or F (235.7 C): give the column in C");
    // Degrees Fahrenheit lie within the bounds (302-392 F for a reactor's
    // 150-200 C) but above the plug-in's range: most of a column so, refused.
    EXPECT_EQ(refusal("time,outlet_temperature_C,w_UREA\n2026-03-01T06:00,183,0.35\n2026-03-01T07:00,361.4,\n"
                      "2026-03-01T08:00,361.9,0.36\n"),
              "h.csv:3: column \"outlet_temperature_C\" (2): 2 of its 3 values lie above the plug-in's 149.85-199.85 C "
              "where degrees Fahrenheit put a reactor's temperatures: this one, 361.4, looks like F (183 C): give the "
              "column in C");
    // Out of bounds in no unit's way (below 1 bar in any): screened, not refused.
    EXPECT_EQ(parse_history("time,pressure_bar,w_UREA\n2026-03-01T06:00,0.5,0.35\n", "h.csv", false)
                  .of_setting(setting::pressure_bar)->out_of_range, 1u);
}

}  // namespace

namespace {

using namespace workbench;

// A table in memory gives its columns of numbers as numbers: the history is
// the one its CSV text gives, value for value, and a number is checked as a
// file's cell is (here: one out of bounds counted; infinity refused).
TEST(HistoryFile, ATableOfNumbersReadsAsItsCsvText) {
    const std::vector<std::string> header = {"time", "feed_kmol_h.CO2", "pressure_bar", "w_UREA", "note"};
    std::vector<table_column> columns(header.size());
    columns[0].text = {"2026-03-01T06:00:00Z", "2026-03-01T07:00:00Z", "2026-03-01T08:00:00Z"};
    columns[1] = {{}, {2400.125, 2401.0 / 3.0 * 3.0, 0.1 + 0.2}, true};
    columns[2] = {{}, {145.0, NAN, 1e6}, true};  // empty; out of bounds
    columns[3] = {{}, {0.35, NAN, 1.0 / 3.0}, true};
    columns[4].text = {"a", "", "b, c"};
    table_source source(header, columns);
    const history t = history_of(source, "<table>", false);
    std::string text = "time,feed_kmol_h.CO2,pressure_bar,w_UREA,note\n";
    for (std::size_t i = 0; i < 3; ++i) {
        text += columns[0].text[i];
        for (std::size_t k = 1; k < 4; ++k) text += "," + number_cell(columns[k].numbers[i]);
        text += ",\"" + columns[4].text[i] + "\"\n";
    }
    const history f = parse_history(text, "<table>", false);
    ASSERT_EQ(t.rows(), 3u);
    EXPECT_EQ(t.time, f.time);
    EXPECT_EQ(t.line, f.line);
    EXPECT_TRUE(t.zoned);
    EXPECT_EQ(t.carried, f.carried);
    ASSERT_EQ(t.columns.size(), f.columns.size());
    for (std::size_t k = 0; k < t.columns.size(); ++k) {
        EXPECT_EQ(t.columns[k].missing, f.columns[k].missing) << k;
        EXPECT_EQ(t.columns[k].out_of_range, f.columns[k].out_of_range) << k;
        for (std::size_t i = 0; i < 3; ++i) {
            const double a = t.columns[k].values[i], b = f.columns[k].values[i];
            EXPECT_TRUE(std::isnan(a) ? std::isnan(b) : std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b))
                << k << "," << i;
        }
    }
    EXPECT_EQ(t.columns[1].out_of_range, 1u);
    EXPECT_EQ(t.sha256, "(a table, no file)");
    columns[3].numbers[2] = INFINITY;
    table_source bad(header, columns);
    try {
        history_of(bad, "<table>", false);
        ADD_FAILURE() << "infinity read";
    } catch (const runs_error& e) {
        EXPECT_NE(std::string(e.what()).find("<table>:4"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("must be a finite number (got \"inf\")"), std::string::npos) << e.what();
    }
}

}  // namespace
