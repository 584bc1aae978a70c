// Studies in-process with the real plug-in: the points of a list and of a
// grid of three quantities are each the case they say, every combination
// once, and give what separate runs give; results by name are what they
// mean.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

#include "api/workbench.h"
#include "model/observation.h"
#include "model/properties.h"
#include "request/common.h"
#include "session/test_session.h"

namespace {

using namespace workbench;

class Study : public plugin_suite {};

std::vector<result_quantity> named(std::initializer_list<const char*> names) {
    std::vector<result_quantity> out;
    for (const char* n : names) out.push_back(result_named(n).value());
    return out;
}

// Agreement of a warm-started point with a run on its own: the solvers'
// tolerance, relative.
void expect_close(double study, double alone, const std::string& what) {
    if (std::isnan(alone)) {
        EXPECT_TRUE(std::isnan(study)) << what;
        return;
    }
    EXPECT_NEAR(study, alone, 1e-9 * std::max(1.0, std::abs(alone))) << what;
}

// A grid's numbers given as numbers (a Python tuple or list) count, part by
// part; the text is only quoted, and read where no numbers match its parts.
TEST(Vary, NumbersGivenAsNumbersCountAndTheTextIsOnlyQuoted) {
    const auto refusal = [](const std::string& text, const std::vector<std::optional<double>>& numbers) {
        try {
            parse_vary(given("vary", text), numbers);
        } catch (const input_error& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(parse_vary(given("vary", "t_out=a:b:c"), {180.0, 190.0, 3.0}).values, (std::vector<double>{180.0, 185.0, 190.0}));
    const study_variable logs = parse_vary(given("vary", "t_out=log:a:b:2"), {std::nullopt, 180.0, 190.0, 2.0});
    EXPECT_EQ(logs.values, (std::vector<double>{180.0, 190.0}));
    EXPECT_TRUE(logs.log_spacing);
    EXPECT_EQ(parse_vary(given("vary", "trays=x,y"), {4.0, 2.0}).values, (std::vector<double>{4.0, 2.0}));
    EXPECT_EQ(parse_vary(given("vary", "trays=4,2"), {9.0}).values, (std::vector<double>{4.0, 2.0}));
    EXPECT_EQ(refusal("a2=0.5,nan", {0.5, NAN}), "vary a2=0.5,nan: value 2 must be a finite number (got \"nan\")");
    EXPECT_EQ(refusal("a2=1:2:2.5", {1.0, 2.0, 2.5}),
              "vary a2=1:2:2.5: N must be a whole number of points from 1 to 100000 (got \"2.5\")");
}

// A case's settings given as numbers count; their text is only quoted, and
// read where no number was given (the command line's).
TEST(CaseRequest, SettingsGivenAsNumbersCountAndTheTextIsOnlyQuoted) {
    case_request r;
    r.t_out = given_number("hot", 190.0);
    r.trays = given_number("a dozen", 12.0);
    r.nh3_co2 = given_number("3.1");
    const reactor_case c = check_case(r).c;
    EXPECT_EQ(c.outlet_temperature_C, 190.0);
    EXPECT_EQ(c.trays, 12);
    EXPECT_NEAR(nh3_co2_ratio(c), 3.1, 1e-12);
    r.co2 = given_number("lots", 1e9);
    try {
        check_case(r);
        ADD_FAILURE() << "a CO2 feed above any reactor's taken";
    } catch (const input_error& e) {
        EXPECT_EQ(std::string(e.what()), "co2 lots: above 10000000 kmol/h, more than any reactor takes");
    }
}

TEST_F(Study, AListGivesItsValuesInOrderAndTheNumbersOfSeparateRuns) {
    const std::vector<result_quantity> results =
        named({"co2_conversion", "outlet_kg_h.UREA", "residence_time_min", "temperature_C@3", "x_UREA@2",
               "nh3_co2_out", "w_H2O"});
    const study_plan plan = plan_study(default_case(), {parse_vary("nh3_co2=3.4,2.9,3.1"), parse_vary("a2=0.5,0.05")},
                                       results);
    ASSERT_EQ(plan.points, 6u);
    std::vector<study_point> points;
    const study_summary s = study(*lib, plan, [&](const study_point& p) { points.push_back(p); });
    EXPECT_EQ(s.failed, 0u);
    ASSERT_EQ(points.size(), 6u);
    const double nh3[] = {3.4, 2.9, 3.1}, a2[] = {0.5, 0.05};
    for (std::size_t p = 0; p < 6; ++p) {
        EXPECT_EQ(points[p].settings, (std::vector<double>{nh3[p % 3], a2[p / 3]}));
        const reactor_case c = with_named(default_case(), {{"nh3_co2", nh3[p % 3]}, {"a2", a2[p / 3]}});
        const result alone = run(*lib, c);
        for (std::size_t k = 0; k < results.size(); ++k) {
            expect_close(points[p].values[k], results[k].value(alone, c), results[k].name + " at point " + std::to_string(p));
        }
    }
}

TEST_F(Study, AGridOfThreeHasEveryCombinationOnceAndEachPointIsItsCase) {
    const study_plan plan =
        plan_study(default_case(),
                   {parse_vary("t-out=180:190:3"), parse_vary("model=trays,pfr"), parse_vary("trays=4,2")},
                   named({"co2_conversion", "equilibrium_co2_conversion"}));
    ASSERT_EQ(plan.points, 12u);
    std::set<std::tuple<double, double, double>> seen;
    session& s = *lib;
    const study_document d = study(s, plan);
    const table& t = d.points;
    ASSERT_EQ(t.rows(), 12u);
    const auto cells = [&](const char* name) { return t.find(name)->numbers; };
    for (std::size_t p = 0; p < 12; ++p) {
        const double t_out = cells("outlet_temperature_C")[p], trays = cells("trays")[p];
        const double model = t.find("model")->texts[p] == "pfr" ? 1.0 : 0.0;
        EXPECT_TRUE(seen.insert({t_out, model, trays}).second) << "point " << p << " repeats one before";
        // The warm starts along the grid (the row before, the plane before)
        // change no answer.
        reactor_case c = default_case();
        c.outlet_temperature_C = t_out;
        c.model = model == 1.0 ? reactor_model::pfr : reactor_model::trays;
        c.trays = static_cast<int>(trays);
        const reactor_case planned = study_case(plan, p);
        EXPECT_EQ(planned.outlet_temperature_C, c.outlet_temperature_C);
        EXPECT_EQ(planned.model, c.model);
        EXPECT_EQ(planned.trays, c.trays);
        const result alone = run(s, c);
        expect_close(cells("co2_conversion")[p], alone.co2_conversion, "point " + std::to_string(p));
        expect_close(cells("equilibrium_co2_conversion")[p], alone.equilibrium_co2_conversion, "point " + std::to_string(p));
    }
    EXPECT_EQ(seen.size(), 12u);
}

TEST_F(Study, ResultsByNameMeanWhatTheySay) {
    // Names in any case, families by component and tray, the measured
    // quantities among them.
    EXPECT_EQ(result_named("OUTLET-KMOL-H.urea")->name, "outlet_kmol_h.UREA");
    EXPECT_EQ(result_named("x_nh3@12")->name, "x_NH3@12");
    EXPECT_EQ(result_named("x_nh3@12")->tray, 12u);
    EXPECT_FALSE(result_named("x_NH3@0"));
    EXPECT_FALSE(result_named("temperature_C"));  // only at a tray
    EXPECT_FALSE(result_named("outlet_kmol_h.XYZ"));
    EXPECT_NE(neutral_words(result_name_problem("co2_convrsion")).find("did you mean co2_conversion?"), std::string::npos);
    for (std::size_t q = 0; q < quantity_count; ++q) {
        const auto r = result_named(quantities[q].column);
        ASSERT_TRUE(r) << quantities[q].column;
        EXPECT_TRUE(r->measurable);
        EXPECT_EQ(r->kind->default_sigma, quantities[q].default_sigma);
    }
    std::size_t measurable = 0;
    for (const result_quantity& r : result_quantities()) measurable += r.measurable ? 1 : 0;
    EXPECT_EQ(measurable, quantity_count);

    // One stirred tank: the residence time is its volume over the
    // volumetric flow leaving it, and the flows and ratios are the outlet's.
    reactor_case c = default_case();
    c.trays = 1;
    const result r = run(*lib, c);
    const property_set props;
    double q_m3_s = 0.0;
    for (std::size_t i = 0; i < component_count; ++i) {
        q_m3_s += r.outlet[i] * props.molar_volume_of(i, r.outlet_temperature_K);
    }
    EXPECT_NEAR(result_named("residence_time_min")->value(r, c), c.volume_m3 / q_m3_s / 60.0, 1e-9);
    EXPECT_DOUBLE_EQ(result_named("outlet_kg_h.UREA")->value(r, c), r.outlet[UREA] * 3600.0 * molecular_weight[UREA]);
    EXPECT_DOUBLE_EQ(result_named("nh3_co2_out")->value(r, c),
                     (r.outlet[NH3] + 2.0 * r.outlet[CARB]) / (r.outlet[CO2] + r.outlet[CARB]));
    EXPECT_DOUBLE_EQ(result_named("temperature_C@1")->value(r, c), c.outlet_temperature_C);
    EXPECT_TRUE(std::isnan(result_named("temperature_C@2")->value(r, c)));  // no second tray
    double x = 0.0;
    for (const char* name : component_names) x += result_named(std::string("x_") + name)->value(r, c);
    EXPECT_NEAR(x, 1.0, 1e-14);
}

}  // namespace
