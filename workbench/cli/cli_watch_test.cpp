// `urea-reactor watch` as a plant's cron job runs it: a synthetic history
// (made here by the real reactor) fed to a store in pieces, killed at random
// moments, and compared with monitor over the same rows; what it must refuse.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/synthetic_history.h"
#include "cli/cli_fixture.h"
#include "model/properties.h"
#include "store/database.h"

namespace {

using cli_testing::outcome;
using cli_testing::slurp;
using WatchCli = cli_testing::cli_fixture;
using json = nlohmann::json;
using namespace workbench;

// 16 days of hourly rows: a2 falls to 0.8 of itself on day 9, the CO2 meter
// reads 5 % high from day 3 to day 7. Its lines, header and comments first.
std::vector<std::string> history_lines() {
    synthetic_history recipe;
    recipe.days = 16;
    recipe.step_day = 9.0;
    recipe.co2_bias = synthetic_history::span{3.0, 7.0};
    std::ostringstream out;
    {
        session lib(UREA_PLUGIN_PATH);
        property_set props;
        workbench_host h(lib, props);
        write_synthetic_history(out, h, default_case(), recipe);
    }
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l + "\n");
    return lines;
}

std::string joined(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
    std::string s;
    for (std::size_t k = from; k < std::min(to, lines.size()); ++k) s += lines[k];
    return s;
}

// What a store and a monitor agree on: the monitor's document without the
// history's description, the build and the rows' line numbers (a store's
// are its own history's).
json comparable(json doc) {
    json out;
    for (const char* key : {"screening", "windows", "drifts", "trends", "meters", "summary", "a1", "notes"}) out[key] = doc[key];
    for (json& w : out["windows"]) w.erase("first_line");
    return out;
}

// The first line's index whose time is at or after `day` (days from the first row's midnight).
std::size_t line_of_day(const std::vector<std::string>& lines, int day) {
    std::size_t rows = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (lines[k][0] == '#' || lines[k].rfind("time", 0) == 0) continue;
        if (rows++ == static_cast<std::size_t>(24 * day)) return k;
    }
    return lines.size();
}

TEST_F(WatchCli, FedInPiecesTheStoreHoldsWhatMonitorFindsOverTheSameRows) {
    const std::vector<std::string> lines = history_lines();
    const std::string alerts = " --fix a1=1 --stale 10000d";
    // Day by day, a row half written at the end of one piece.
    write("grow.csv", joined(lines, 0, line_of_day(lines, 5)));
    ASSERT_EQ(run("watch grow.csv --store s.db" + alerts).status, 0);
    std::string part = lines[line_of_day(lines, 5)];
    write("grow.csv", joined(lines, 0, line_of_day(lines, 5)) + part.substr(0, 20));
    const outcome half = run("watch grow.csv --store s.db" + alerts);
    ASSERT_EQ(half.status, 0) << half.err;
    EXPECT_NE(half.out.find("nothing new"), std::string::npos) << half.out;
    for (const int day : {6, 9, 12, 16}) {
        write("grow.csv", joined(lines, 0, line_of_day(lines, day)));
        const outcome o = run("watch grow.csv --store s.db" + alerts);
        ASSERT_EQ(o.status, 0) << o.err;
    }
    // Read while a pass would hold the store's write lock: reading takes none.
    const std::unique_ptr<database> writer = open_database((dir / "s.db").string(), false);
    std::optional<database_transaction> pass(std::in_place, *writer);
    const outcome stored = run("watch --store s.db --json --csv w.csv");
    pass.reset();
    ASSERT_EQ(stored.status, 0) << stored.err;
    const json doc = json::parse(stored.out);
    // The last day is not complete until a row of the next one comes.
    ASSERT_EQ(doc["windows"].size(), 15u);
    EXPECT_EQ(doc["store"]["passes"], 6);

    // monitor over the same rows; a store fed all at once.
    write("all.csv", joined(lines, 0, line_of_day(lines, 15)));
    const outcome m = run("monitor all.csv --fix a1=1 --json --csv m.csv");
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(comparable(json::parse(m.out)), comparable(doc));
    EXPECT_EQ(slurp(dir / "m.csv"), slurp(dir / "w.csv"));
    write("all.csv", joined(lines, 0, lines.size()));
    ASSERT_EQ(run("watch all.csv --store once.db" + alerts).status, 0);
    const json once = json::parse(run("watch --store once.db --json").out);
    EXPECT_EQ(comparable(once), comparable(doc));

    // The a2 step and the meter's span named, the step alerted.
    ASSERT_EQ(doc["drifts"].size(), 1u);
    ASSERT_EQ(doc["meters"].size(), 1u);
    EXPECT_EQ(doc["meters"][0]["column"], "feed_kmol_h.CO2");
    bool changed = false;
    for (const json& a : doc["alerts"]) changed |= a["kind"] == "a2 changed" && a["state"] == "firing";
    EXPECT_TRUE(changed) << doc["alerts"].dump();
}

TEST_F(WatchCli, DayByDayTheMeterAndTheStepAreAlertedSoonAfterTheyBegin) {
    // The CO2 meter 5 % high from day 3 to day 7; a2 to 0.8 of itself on day 9.
    const std::vector<std::string> lines = history_lines();
    int meter_day = 0, step_day = 0;
    for (int day = 2; day <= 16; ++day) {
        write("grow.csv", joined(lines, 0, line_of_day(lines, day) + 1));  // the day's first row: the day before is complete
        const outcome o = run("watch grow.csv --store s.db --fix a1=1 --stale 10000d");
        ASSERT_EQ(o.status, 0) << o.err;
        if (meter_day == 0 && o.out.find("firing: meter biased (feed_kmol_h.CO2)") != std::string::npos) meter_day = day;
        if (step_day == 0 && o.out.find("firing: a2 changed") != std::string::npos) step_day = day;
    }
    // Each pass follows the days before it: a day's window is there the day after.
    EXPECT_GT(meter_day, 3);
    EXPECT_LE(meter_day, 3 + 5) << "the meter's bias named more than 5 days after it began";
    EXPECT_GT(step_day, 9);
    EXPECT_LE(step_day, 9 + 3) << "a2's step alerted more than 3 windows after it";
}

TEST_F(WatchCli, KilledAtRandomMomentsItLosesAndDuplicatesNothing) {
    const std::vector<std::string> lines = history_lines();
    const std::string args = " --store s.db --fix a1=1 --stale 10000d";
    std::mt19937 random(7);
    // The kill comes within the pass's time: the longest wait shrinks after a
    // pass that ended before its kill (a quiet machine runs them quickly).
    int longest_ms = 150;
    int killed = 0;
    for (int day = 4; day <= 16; day += 1) {
        write("grow.csv", joined(lines, 0, line_of_day(lines, day)));
        // Two passes of each day killed (a pass done before its kill is tried again).
        for (int k = 0, today = 0; k < 12 && today < 2; ++k) {
            // kill -9 after a while: mid pass, or after it.
            const std::string cmd = "cd '" + dir.string() + "' && ('" UREA_REACTOR "' watch grow.csv" + args +
                                    " >/dev/null 2>&1 & p=$!; sleep " +
                                    std::to_string(std::uniform_int_distribution<int>(0, longest_ms)(random) / 1000.0) +
                                    "; kill -9 $p 2>/dev/null && echo killed; wait $p) > kill.out 2>&1";
            ASSERT_NE(std::system(cmd.c_str()), -1);
            const bool hit = slurp(dir / "kill.out").find("killed") != std::string::npos;
            killed += hit ? 1 : 0;
            today += hit ? 1 : 0;
            if (!hit) longest_ms = std::max(10, longest_ms * 2 / 3);
        }
        const outcome o = run("watch grow.csv" + args);
        ASSERT_EQ(o.status, 0) << o.err;
    }
    EXPECT_GE(killed, 20);
    write("all.csv", joined(lines, 0, lines.size()));
    ASSERT_EQ(run("watch all.csv --store once.db --fix a1=1 --stale 10000d").status, 0);
    const json a = json::parse(run("watch --store s.db --json").out), b = json::parse(run("watch --store once.db --json").out);
    EXPECT_EQ(comparable(a), comparable(b));
    // Each row once: the rows the store followed are the file's.
    EXPECT_EQ(a["history"]["rows"], b["history"]["rows"]);
    std::set<std::pair<std::string, std::string>> kinds;
    for (const json& x : a["alerts"]) {
        const bool first = kinds.insert({x["kind"].get<std::string>(), x["subject"].get<std::string>()}).second;
        EXPECT_TRUE(first || x["state"] == "resolved") << x.dump();
    }
}

TEST_F(WatchCli, RefusesWhatWouldMakeTheStoreWrong) {
    const std::vector<std::string> lines = history_lines();
    const std::size_t day3 = line_of_day(lines, 3);
    write("grow.csv", joined(lines, 0, day3));
    ASSERT_EQ(run("watch grow.csv --store s.db --fix a1=1").status, 0);

    // Rows already followed changed: refused, the line named; --reread reads again.
    std::vector<std::string> edited = lines;
    edited[day3 - 10].replace(edited[day3 - 10].find(','), 1, ",1");
    write("grow.csv", joined(edited, 0, day3 + 24));
    const outcome changed = run("watch grow.csv --store s.db --fix a1=1");
    EXPECT_EQ(changed.status, 2);
    EXPECT_NE(changed.err.find("grow.csv:3:"), std::string::npos) << changed.err;
    EXPECT_NE(changed.err.find("--reread"), std::string::npos) << changed.err;
    const outcome reread = run("watch grow.csv --store s.db --fix a1=1 --reread");
    EXPECT_EQ(reread.status, 0) << reread.err;

    // A bad cell in the new rows: its line and column, nothing kept.
    std::string bad = joined(edited, 0, day3 + 24) + lines[day3 + 24];
    bad.replace(bad.rfind(",") + 1, 0, "x");
    write("grow.csv", bad);
    const outcome cell = run("watch grow.csv --store s.db --fix a1=1");
    EXPECT_EQ(cell.status, 2);
    EXPECT_NE(cell.err.find("grow.csv:" + std::to_string(day3 + 25) + ":"), std::string::npos) << cell.err;

    // Another setup than the store's first pass.
    write("grow.csv", joined(edited, 0, day3 + 24));
    const outcome window = run("watch grow.csv --store s.db --fix a1=1 --window 12h");
    EXPECT_EQ(window.status, 2);
    EXPECT_NE(window.err.find("--window 12h (the store's: 24h)"), std::string::npos) << window.err;

    // A second watcher.
    const int fd = ::open((dir / "s.db.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const outcome busy = run("watch grow.csv --store s.db --fix a1=1");
    EXPECT_EQ(busy.status, 4);
    EXPECT_NE(busy.err.find("another process"), std::string::npos) << busy.err;
    ::close(fd);

    // A store of the build before (schema 1: no fits kept): migrated at its next pass, which keeps them.
    const std::unique_ptr<database> older = open_database((dir / "s.db").string(), false);
    {
        database_transaction t(*older);
        older->execute("DROP TABLE fits");
        older->execute("UPDATE store_info SET value = '1' WHERE key = 'schema_version'");
        t.commit();
    }
    write("grow.csv", joined(edited, 0, day3 + 48));
    const outcome migrated = run("watch grow.csv --store s.db --fix a1=1");
    EXPECT_EQ(migrated.status, 0) << migrated.err;
    EXPECT_FALSE(older->query("SELECT 1 FROM fits").empty());

    // A store of a newer build.
    {
        const std::unique_ptr<database> db = open_database((dir / "s.db").string(), false);
        database_transaction t(*db);
        db->execute("UPDATE store_info SET value = '99' WHERE key = 'schema_version'");
        t.commit();
    }
    const outcome newer = run("watch --store s.db --json");
    EXPECT_EQ(newer.status, 2);
    EXPECT_NE(newer.err.find("newer"), std::string::npos) << newer.err;
}

TEST_F(WatchCli, AHistoriansReadingsFollowedAndALateLabSampleReopensItsWindow) {
    const std::vector<std::string> lines = history_lines();
    // The history in the historian's long form: a reading per cell, the
    // outlet temperature in F; the 9th day's last lab sample held back.
    std::vector<std::string> header;
    {
        std::istringstream h(lines[1]);
        for (std::string c; std::getline(h, c, ',');) header.push_back(c == "" ? c : c.substr(0, c.find('\n')));
    }
    const std::unique_ptr<database> db = open_database((dir / "s.db").string(), true);
    std::string held_time, held_value;
    {
        database_transaction t(*db);
        db->execute("CREATE TABLE readings (id BIGINT PRIMARY KEY, time TEXT, tag TEXT, value DOUBLE PRECISION)");
        std::int64_t id = 0;
        const std::size_t late = line_of_day(lines, 9) - 4;  // a row with a lab sample on day 8 (every 4 h)
        for (std::size_t k = 2; k < line_of_day(lines, 12); ++k) {
            std::istringstream row(lines[k]);
            std::vector<std::string> cells;
            for (std::string c; std::getline(row, c, ',');) cells.push_back(c);
            for (std::size_t c = 1; c < cells.size() && c < header.size(); ++c) {
                std::string cell = cells[c];
                if (!cell.empty() && cell.back() == '\n') cell.pop_back();
                if (cell.empty()) continue;
                double v = std::stod(cell);
                if (header[c] == "outlet_temperature_C") v = v * 9.0 / 5.0 + 32.0;
                if (k == late && header[c] == "w_UREA") {
                    held_time = cells[0];
                    held_value = cell;
                    continue;
                }
                db->execute("INSERT INTO readings VALUES (?, ?, ?, ?)", {++id, cells[0], "PLANT." + header[c], v});
            }
        }
        t.commit();
    }
    ASSERT_FALSE(held_time.empty());
    // The same readings with the late one among them from the start, for a store fed them at once.
    std::filesystem::copy_file(dir / "s.db", dir / "once.db");
    std::string map = "tag,column,unit\n";
    for (std::size_t c = 1; c < header.size(); ++c) {
        map += "PLANT." + header[c] + "," + header[c] + "," + (header[c] == "outlet_temperature_C" ? "F" : "") + "\n";
    }
    write("tags.csv", map);
    const std::string args = "watch --store s.db --readings readings --tag-map tags.csv --fix a1=1 --stale 10000d";
    const outcome first = run(args);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find("11 windows, 11 new"), std::string::npos) << first.out;

    // The lab's sample comes late: its window is followed again.
    {
        database_transaction t(*db);
        db->execute("INSERT INTO readings VALUES (?, ?, ?, ?)", {std::int64_t{1000000}, held_time, "PLANT.w_UREA", std::stod(held_value)});
        t.commit();
    }
    const outcome late = run(args);
    ASSERT_EQ(late.status, 0) << late.err;
    EXPECT_NE(late.out.find("11 windows, 0 new,"), std::string::npos) << late.out;
    EXPECT_EQ(late.out.find(" 0 changed"), std::string::npos) << late.out;
    const json stored = json::parse(run("watch --store s.db --json").out);
    // The window fits kept from the first pass are not taken where a late
    // row changed what made them: the store holds what one fed every
    // reading at once does, to the last bit.
    {
        const std::unique_ptr<database> once = open_database((dir / "once.db").string(), false);
        database_transaction t(*once);
        once->execute("INSERT INTO readings VALUES (?, ?, ?, ?)", {std::int64_t{1000000}, held_time, "PLANT.w_UREA", std::stod(held_value)});
        t.commit();
    }
    std::string once_args = args;
    once_args.replace(once_args.find("s.db"), 4, "once.db");
    ASSERT_EQ(run(once_args).status, 0);
    EXPECT_EQ(comparable(json::parse(run("watch --store once.db --json").out)), comparable(stored));
    write("h.csv", joined(lines, 0, line_of_day(lines, 11)));
    const json m = json::parse(run("monitor h.csv --fix a1=1 --json").out);
    ASSERT_EQ(stored["windows"].size(), m["windows"].size());
    for (std::size_t i = 0; i < m["windows"].size(); ++i) {
        EXPECT_EQ(stored["windows"][i]["lab_samples"], m["windows"][i]["lab_samples"]);
        // The temperature read in F and converted: equal to its last bits or so.
        EXPECT_NEAR(stored["windows"][i]["a2"]["value"].get<double>(), m["windows"][i]["a2"]["value"].get<double>(),
                    1e-9 * m["windows"][i]["a2"]["value"].get<double>());
    }
    // A tag map in a unit its column cannot take: its line and column.
    write("bad.csv", "tag,column,unit\nT,pressure_bar,C\n");
    const outcome bad = run("watch --store b.db --readings readings --tag-map bad.csv");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.csv:2: the unit C is not one the column pressure_bar can be read in (bar, kPa, MPa)"),
              std::string::npos) << bad.err;
}

}  // namespace
