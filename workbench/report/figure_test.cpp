// A plot described once: the monitor's description (its lines broken where
// a window was not fitted, its roles in colours of their own, its drifts
// numbered), a study's curves (the same from its points one by one as from
// its table), a map (the same from its points as from its table, its grid
// in ascending order however its values were listed), dates that read at
// any span, and gnuplot drawing every kind of mark without a word on its
// error stream.
#include "report/figure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <unistd.h>

#include "report/monitor_report.h"
#include "report/study_report.h"

namespace {

using namespace workbench;

constexpr double day = 86400.0;
constexpr double t2026 = 1767225600.0;  // 2026-01-01T00:00:00Z

// What gnuplot says on its error stream drawing the figure into an SVG
// (empty: nothing), and the SVG's size.
std::pair<std::string, std::uintmax_t> gnuplot_drawing(const figure& f) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("figure_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "f.gp") << "set terminal svg size 900,900\nset output '" << (dir / "f.svg").string() << "'\n"
                                << gnuplot_script(f);
    const std::string command = "gnuplot '" + (dir / "f.gp").string() + "' 2>'" + (dir / "err").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::ifstream err(dir / "err");
    std::stringstream said;
    said << err.rdbuf();
    const std::uintmax_t size = std::filesystem::exists(dir / "f.svg") ? std::filesystem::file_size(dir / "f.svg") : 0;
    std::filesystem::remove_all(dir);
    return {said.str(), size};
}

TEST(Figure, TimeTicksAreFewRoundAndSayAsMuchAsTheirStepNeeds) {
    struct span_case {
        double length;
        const char* first, * second;  // the first two labels
    };
    for (const span_case& c : {span_case{5 * 3600, "00:00\n1 Jan", "01:00"},
                               span_case{6 * day, "1 Jan\n2026", "2 Jan"},
                               span_case{240 * day, "Jan\n2026", "Mar"},
                               span_case{6 * 365 * day, "2026", "2027"},
                               span_case{120 * 365 * day, "2040", "2060"}}) {
        const std::vector<tick> t = time_ticks(t2026, t2026 + c.length);
        ASSERT_GE(t.size(), 3u) << c.length;
        EXPECT_LE(t.size(), 8u) << c.length;
        EXPECT_EQ(t[0].text, c.first);
        EXPECT_EQ(t[1].text, c.second);
        for (std::size_t k = 1; k < t.size(); ++k) EXPECT_GT(t[k].at, t[k - 1].at);
        EXPECT_GE(t.front().at, t2026);
        EXPECT_LE(t.back().at, t2026 + c.length);
    }
    // Hours over midnight: the new day's date under its first tick.
    const std::vector<tick> night = time_ticks(t2026 - 4 * 3600, t2026 + 4 * 3600);
    EXPECT_EQ(night.front().text, "20:00\n31 Dec");
    std::size_t dated = 0;
    for (const tick& k : night) dated += k.text.find('\n') != std::string::npos;
    EXPECT_EQ(dated, 2u);
}

// Four windows of a day: fitted, not fitted (no rows), fitted but not
// steady, fitted; two drifts a day apart.
monitor_result four_windows() {
    monitor_result m;
    for (int k = 0; k < 4; ++k) {
        monitor_window w;
        w.start = static_cast<std::int64_t>((t2026 + k * day) * 1000);
        w.end = w.start + 86400000;
        w.fitted = k != 1;
        w.steady = k != 2;
        w.a2 = 0.4;
        w.a2_lower = 0.3;
        w.a2_upper = 0.5;
        w.conversion_measured = 0.6;
        w.conversion_predicted = 0.61;
        w.conversion_equilibrium = 0.7;
        w.balance.tested = true;
        w.balance.p_value = k == 3 ? 1e-4 : 0.5;
        w.balance.failed = k == 3;
        m.windows.push_back(w);
    }
    for (int k = 2; k < 4; ++k) {
        drift d;
        d.time = m.windows[static_cast<std::size_t>(k)].start;
        d.ratio = 0.5;
        m.drifts.push_back(d);
    }
    return m;
}

TEST(Figure, TheMonitorBreaksItsLinesAtWindowsNotFittedAndNumbersItsDrifts) {
    monitor_problem p;
    const monitor_result m = four_windows();
    const figure f = monitor_figure({&p, &m, neutral_vocabulary()});
    ASSERT_EQ(f.panels.size(), 3u);
    for (const panel& pl : f.panels) EXPECT_EQ(pl.x.scale, axis_scale::time);
    const panel& c = f.panels[1];
    std::set<std::string> colours;
    for (const series& s : c.drawn) {
        colours.insert(s.colour_or_role());
        if (s.how != mark::line) continue;
        ASSERT_EQ(s.y.size(), 4u) << s.title;
        // The gap and the unsteady window break the line; the rest draw it.
        EXPECT_TRUE(std::isfinite(s.y[0]) && std::isnan(s.y[1]) && std::isnan(s.y[2]) && std::isfinite(s.y[3]))
            << s.title;
    }
    EXPECT_EQ(colours.size(), 3u) << "measured, predicted and equilibrium each a colour of its own";
    // The drifts: short numbers on the lines, what they say in the key.
    const panel& a = f.panels[0];
    std::vector<std::string> numbers, told;
    for (const series& s : a.drawn) {
        if (s.how == mark::vline) numbers = s.labels;
        if (s.how == mark::key_only) told.push_back(s.title);
    }
    EXPECT_EQ(numbers, (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(told, (std::vector<std::string>{"1: a2 × 0.5 from 2026-01-03", "2: a2 × 0.5 from 2026-01-04"}));
    // In the script, a line broken by a blank line in its data.
    const std::string script = gnuplot_script(f);
    EXPECT_NE(script.find("$p1s1 << EOD\n1767268800 61\n\n1767528000 61\nEOD\n"), std::string::npos) << script;
    // The same numbers for Python, NaN as null.
    const auto j = figure_json(f);
    EXPECT_TRUE(j["panels"][1]["series"][1]["y"][1].is_null());
    EXPECT_EQ(j["panels"][0]["x"]["ticks"].size(), 5u);
}

TEST(Figure, GnuplotDrawsEveryKindOfMarkWithoutAWarning) {
    figure f;
    f.title = "Every mark: NH_3 \"quoted\"";
    panel p;
    p.title = "a panel";
    p.x = {"time, UTC", "", axis_scale::time, {}, {}, {}};
    p.y = {"CO_2 conversion", "%", axis_scale::linear, {}, {}, {}};
    p.y2 = axis{"p", "", axis_scale::log, {}, {}, {}};
    const std::vector<double> x = {t2026, t2026 + 3600, t2026 + 7200, t2026 + 10800};
    series line{"line", mark::line, series_role::prediction, "", 7, 0.6, 1.5, 1, x, {1, NAN, 3, 4}, {}, {}, {}, false, false, false, 1, false, false};
    line.marks = true;
    series points = line;
    points.how = mark::points;
    points.role = series_role::measured;
    series bars = line;
    bars.how = mark::error_bars;
    bars.y = {1, 2, 3, 4};
    bars.low = {0.5, 1.5, 2.5, 3.5};
    bars.high = {1.5, 2.5, 3.5, 4.5};
    series band = bars;
    band.how = mark::band;
    series rings = bars;
    rings.how = mark::rings;
    rings.labels = {"it's \"1\"", "2", "3", "4"};
    rings.plain = true;
    series level{"threshold", mark::hline, series_role::guide, "", 7, 0.6, 1, 2, {}, {2.5}, {}, {}, {}, false, false, false, 1, false, false};
    series lines{"drift", mark::vline, series_role::judged_by, "", 7, 0.6, 1, 2, {x[1], x[2]}, {}, {}, {}, {"1", "2"}, false, false, false, 1, false, false};
    series told{"1: told in the key", mark::key_only, series_role::other, "", 7, 0.6, 1, 1, {}, {}, {}, {}, {}, false, false, false, 1, false, false};
    series right{"p", mark::points, series_role::estimate, "", 9, 0.6, 1, 1, x, {1e-3, 0.02, 0.5, 0.9}, {}, {}, {}, true, false, false, 1, false};
    series foot{"failed", mark::foot, series_role::failed, "", 2, 1.3, 2, 1, {x[1]}, {}, {}, {}, {}, false, false, false, 1, false, false};
    series sample = band;
    sample.sample = true;
    sample.title = "a band, in the key alone";
    line.every = 2;
    p.drawn = {band, line, points, bars, rings, level, lines, told, right, foot, sample};
    p.notes.push_back({"a run's name'", x[0], 0.5, series_role::judged_by, true});
    p.key = key_place::outside_right;
    panel q = p;
    q.key = key_place::below;
    q.square = true;
    q.drawn = {};
    f.panels = {p, q};
    const auto [said, size] = gnuplot_drawing(f);
    EXPECT_EQ(said, "");
    EXPECT_GT(size, 5000u);
}

TEST(Figure, AStudysCurvesAreOneDescriptionFromItsPointsOrItsTable) {
    // 12 values of a2 along x, a curve for each of 3 ratios; point 5 failed.
    const study_plan plan = plan_study(default_case(), {parse_vary("a2=0.01:10:12"), parse_vary("nh3_co2=2.8,3.2,3.6")},
                                       {result_named("co2_conversion").value(), result_named("outlet_kmol_h.NH3").value()});
    study_plot streamed(plan), tabled(plan);
    table t = study_table(plan);
    for (std::size_t k = 0; k < plan.points; ++k) {
        study_point p;
        p.index = k;
        p.ok = k != 5;
        p.failure = p.ok ? "" : "no solution";
        p.settings = {plan.vars[0].values[k % 12], plan.vars[1].values[k / 12]};
        if (p.ok) p.values = {0.5 + 0.001 * static_cast<double>(k), 100.0 + static_cast<double>(k)};
        streamed.add(p);
        add_study_point(t, plan, p);
    }
    tabled.add(t);
    const figure f = streamed.description();
    EXPECT_EQ(figure_json(f), figure_json(tabled.description()));  // the command line's and Python's
    ASSERT_EQ(f.panels.size(), 2u);  // a fraction and a flow: a panel each
    const panel& p = f.panels[0];
    EXPECT_EQ(p.x.scale, axis_scale::log);
    EXPECT_EQ(p.y.quantity.find("CO_2 conversion"), 0u) << p.y.quantity;
    std::vector<const series*> curves, keys;
    for (const series& d : p.drawn) (d.sample ? keys : curves).push_back(&d);
    // A curve per ratio, in colours spread over the scale, its point 5 broken out.
    ASSERT_EQ(curves.size(), 4u);
    EXPECT_EQ(curves[0]->x, plan.vars[0].values);
    EXPECT_DOUBLE_EQ(curves[1]->y[0], 100 * (0.5 + 0.012));
    EXPECT_TRUE(std::isnan(curves[0]->y[5]));
    EXPECT_EQ(curves[0]->colour, "#440154");
    EXPECT_EQ(curves[2]->colour, "#d8b600");
    const series& failed = *curves[3];
    EXPECT_EQ(failed.how, mark::foot);
    EXPECT_EQ(failed.x, std::vector<double>{plan.vars[0].values[5]});
    ASSERT_EQ(keys.size(), 4u);  // the three ratios and the result's dash
    EXPECT_NE(keys[1]->title.find("NH_3/CO_2 = 3.2"), std::string::npos) << keys[1]->title;
    const auto [said, size] = gnuplot_drawing(f);
    EXPECT_EQ(said, "");
    EXPECT_GT(size, 5000u);
}

TEST(Figure, AMapIsOneDescriptionFromItsPointsOrItsTableItsGridAscending) {
    // t-out along x; the ratios listed high to low along y; point 4 failed.
    const study_plan plan = plan_study(default_case(), {parse_vary("t-out=176:192:5"), parse_vary("nh3_co2=3.6,3.2,2.8")},
                                       {result_named("co2_conversion").value()});
    study_map streamed(plan, "co2_conversion"), tabled(plan, "co2_conversion");
    table t = study_table(plan);
    const auto value = [](std::size_t k) { return 0.4 + 0.01 * static_cast<double>(k); };
    for (std::size_t k = 0; k < plan.points; ++k) {
        study_point p;
        p.index = k;
        p.ok = k != 4;
        p.failure = p.ok ? "" : "no solution";
        p.settings = {plan.vars[0].values[k % 5], plan.vars[1].values[k / 5]};
        if (p.ok) p.values = {value(k)};
        streamed.add(p);
        add_study_point(t, plan, p);
    }
    tabled.add(t);
    figure f = streamed.description();
    EXPECT_EQ(figure_json(f), figure_json(tabled.description()));  // the command line's and Python's
    ASSERT_EQ(f.panels.size(), 1u);
    ASSERT_TRUE(f.panels[0].map.has_value());
    const surface& m = *f.panels[0].map;
    EXPECT_EQ(m.y, (std::vector<double>{2.8, 3.2, 3.6}));
    // (t-out 180, ratio 2.8) is point 1 + 5 * 2, in %.
    EXPECT_DOUBLE_EQ(m.z[0 * 5 + 1], 100 * value(11));
    EXPECT_DOUBLE_EQ(m.z[2 * 5 + 0], 100 * value(0));
    EXPECT_TRUE(std::isnan(m.z[2 * 5 + 4]));
    EXPECT_LE(m.low, 100 * value(0));
    EXPECT_GE(m.high, 100 * value(14));
    EXPECT_GT(m.step, 0);
    const series& failed = f.panels[0].drawn.at(0);
    EXPECT_EQ(failed.x, std::vector<double>{192});
    EXPECT_EQ(failed.y, std::vector<double>{3.6});
    const nlohmann::ordered_json j = figure_json(f)["panels"][0]["map"];
    EXPECT_TRUE(j["z"][14].is_null());
    EXPECT_EQ(j["colours"][0], "#440154");
    // Rings over it, numbered on the side towards the middle.
    series rings{"the top", mark::rings, series_role::judged_by, "", 6, 2.4, 2.5, 1, {176, 192}, {2.8, 3.6}, {}, {}, {"1", "2"}, false, true, false, 1, false, true};
    f.panels[0].drawn.push_back(rings);
    const std::string script = gnuplot_script(f);
    for (const std::string part : {"set contour base", "with image", "with labels boxed", "title \"failed point\"",
                                   "set label '1' at 176, 2.8 left", "set label '2' at 192, 3.6 right"}) {
        EXPECT_NE(script.find(part), std::string::npos) << part << " in\n" << script;
    }
    // gnuplot remarks on the failed point's empty cells, as it should; nothing else.
    const auto [said, size] = gnuplot_drawing(f);
    EXPECT_NE(said.find("warning: matrix contains missing or undefined values"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_GT(size, 5000u);
}

}  // namespace
