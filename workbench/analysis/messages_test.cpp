// The workers' messages (session/wire.h, analysis/messages.h): every kind
// read back as it was written, to the last bit of every number; and bytes
// of another build, cut short, nested too deep or with a field wrong are
// refused with worker_answer_error naming what was wrong.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "analysis/answers.h"
#include "analysis/study.h"
#include "session/answer.h"
#include "session/wire.h"

namespace {

using namespace workbench;
using wire::tree;

// Numbers a format could lose: signed zero, infinities, a subnormal, NaNs
// with a payload and a sign, one that needs all of a double's bits, and
// one a float holds exactly.
const double nan_payload = std::bit_cast<double>(std::uint64_t{0x7ff4000000000123});
const double negative_nan = std::bit_cast<double>(std::uint64_t{0xfff8000000000000});
const std::vector<double> awkward{-0.0,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::denorm_min(),
                                  nan_payload,
                                  negative_nan,
                                  0.1,
                                  0.5,
                                  std::numeric_limits<double>::max()};
// Text with a NUL, a byte that is not UTF-8, and a line break.
const std::string awkward_text = std::string("a\0b\xff\n", 5);

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

double at(std::size_t k) { return awkward[k % awkward.size()]; }

piece_counts counts() { return {std::numeric_limits<long>::max(), std::numeric_limits<long>::min(), "first"}; }

TEST(Messages, EveryKindReadsBackAsWrittenToTheLastBit) {
    // Each writer and its reader: the bytes written again from what was
    // read are the bytes read (the same tree), and every number keeps its
    // bits.
    const auto same = [](const std::string& kind, const std::string& bytes, const std::string& again) {
        EXPECT_EQ(again, bytes) << kind;
    };

    study_point p;
    p.index = std::numeric_limits<std::size_t>::max();
    p.settings = awkward;
    p.ok = true;
    p.failure = "not printable: \x01";  // read back printable
    p.details = awkward_text;
    p.values = awkward;
    p.conversion_defined = false;
    p.max_balance_residual = nan_payload;
    p.rate_calls = std::numeric_limits<long>::min();
    p.bands = {{-0.0, negative_nan, true, false}, {1e-310, 2.0, false, true}};
    p.band_unsolved = 3;
    study_point q;
    read_study_point(study_point_bytes(p), q);
    EXPECT_EQ(q.index, p.index);
    ASSERT_EQ(q.values.size(), awkward.size());
    for (std::size_t k = 0; k < awkward.size(); ++k) {
        EXPECT_EQ(bits(q.values[k]), bits(awkward[k])) << k;
        EXPECT_EQ(bits(q.settings[k]), bits(awkward[k])) << k;
    }
    EXPECT_EQ(bits(q.max_balance_residual), bits(nan_payload));
    EXPECT_EQ(bits(q.bands[0].high), bits(negative_nan));
    EXPECT_EQ(q.failure, "not printable: ?");
    EXPECT_EQ(q.details, awkward_text);
    EXPECT_EQ(q.rate_calls, p.rate_calls);
    q.failure = p.failure;
    same("study point", study_point_bytes(p), study_point_bytes(q));

    window_answer w;
    w.solves = 7;
    w.fitted = true;
    w.a2 = -0.0;
    w.lower = nan_payload;
    w.se_ln = std::numeric_limits<double>::infinity();
    w.dof = std::numeric_limits<int>::min();
    w.conversions = true;
    w.equilibrium = std::numeric_limits<double>::denorm_min();
    same("monitor window", window_answer_bytes(w), window_answer_bytes(read_window_answer(window_answer_bytes(w))));
    EXPECT_EQ(bits(read_window_answer(window_answer_bytes(w)).lower.value()), bits(nan_payload));

    candidate_answer c;
    c.ok = true;
    for (std::size_t k = 0; k < c.values.size(); ++k) c.values[k] = c.slope[1][k] = at(k);
    c.solves = -1;
    same("design candidate", candidate_answer_bytes(c), candidate_answer_bytes(read_candidate_answer(candidate_answer_bytes(c))));

    const piece_answer piece{awkward_text + candidate_answer_bytes(c), 12};
    same("estimate piece", piece_answer_bytes(piece), piece_answer_bytes(read_piece_answer(piece_answer_bytes(piece))));

    start_answer s;
    s.start.from = {negative_nan, -0.0};
    s.start.to = {1e-320, 3.0};
    s.start.usable = true;
    s.start.iterations = 99;
    s.start.message = awkward_text;
    s.counts = counts();
    same("estimate start", start_answer_bytes(s), start_answer_bytes(read_start_answer(start_answer_bytes(s))));

    for (const std::optional<std::array<double, 2>>& u :
         {std::optional<std::array<double, 2>>{}, std::optional<std::array<double, 2>>{{nan_payload, -0.0}}}) {
        same("refit", refit_answer_bytes(u), refit_answer_bytes(read_refit_answer(refit_answer_bytes(u))));
    }

    const map_row_answer row{awkward, counts()};
    piece_counts got;
    same("profile map row", map_row_bytes(row), map_row_bytes({read_map_row(map_row_bytes(row), awkward.size(), got), got}));

    scan_answer scan;
    scan.points = {{-0.0, nan_payload, 1.0}, {2.0, 3.0, negative_nan}};
    scan.better = std::array<double, 2>{0.25, -1e300};
    scan.counts = counts();
    same("profile scan", scan_answer_bytes(scan), scan_answer_bytes(read_scan_answer(scan_answer_bytes(scan))));

    const crossing_answer cross{negative_nan, counts()};
    const double x = read_crossing_answer(crossing_answer_bytes(cross), got);
    EXPECT_EQ(bits(x), bits(negative_nan));
    same("profile crossing", crossing_answer_bytes(cross), crossing_answer_bytes({x, got}));

    region_answer region{true, {{1.0, -0.0, nan_payload, 0.5, 2.0, true, false}}, counts()};
    same("region piece", region_answer_bytes(region), region_answer_bytes(read_region_answer(region_answer_bytes(region))));

    prediction_answer pred;
    pred.outcome.ok = true;
    for (std::size_t k = 0; k < pred.outcome.values.size(); ++k) pred.outcome.values[k] = at(k);
    pred.outcome.details = awkward_text;
    station st{};
    st.volume_m3 = -0.0;
    st.temperature_K = nan_payload;
    st.n = {1, 2, 3, 4, 5, 6, 7};
    st.iterations = std::numeric_limits<int>::max();
    pred.warm = std::vector<station>{st, st};
    same("run prediction", prediction_answer_bytes(pred),
         prediction_answer_bytes(read_prediction_answer(prediction_answer_bytes(pred))));
    EXPECT_EQ(bits(read_number_answer(number_answer_bytes(nan_payload))), bits(nan_payload));

    const runs_model_parts m{{awkward_text, "b"}, {{st}, {}}};
    same("runs model", runs_model_parts_bytes(m), runs_model_parts_bytes(read_runs_model(runs_model_parts_bytes(m))));

    // A study's plan, as sent to other machines.
    study_plan plan = plan_study(default_case(), {parse_vary("a2=0.01:1:5"), parse_vary("model=trays,pfr")},
                                 {result_named("co2_conversion").value()});
    const std::string sent = study_plan_bytes(plan);
    EXPECT_EQ(study_plan_bytes(study_plan_of(sent)), sent);

    // A seal and the result in it.
    chunk_work work;
    work.chunks = 3;
    const std::string body = study_point_bytes(p);
    EXPECT_EQ(open_answer(work, "plan", 1, 4, sealed_result("plan", 1, 4, body)), body);
    EXPECT_EQ(open_answer(work, "plan", 1, 5, sealed_end("plan", 1, 5)), std::nullopt);
}

// A message by hand: the envelope around body, as CBOR.
std::string message(const tree& format, const tree& kind, const tree& body) {
    std::string out;
    tree::to_cbor(tree{{"format", format}, {"kind", kind}, {"body", body}}, out);
    return out;
}

std::string refusal(const std::function<void()>& read) {
    try {
        read();
    } catch (const worker_answer_error& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("another exception: ") + e.what();
    }
    return "taken";
}

TEST(Messages, BytesOfAnotherBuildOrGarbledAreRefusedNamingWhy) {
    const std::string bytes = window_answer_bytes(window_answer{});
    const auto window = [](const std::string& b) { return refusal([&] { read_window_answer(b); }); };
    tree body;
    wire::read(bytes, "monitor window", body);

    // Another format, another kind, not an envelope at all.
    EXPECT_EQ(window(message(wire::format + 1, "monitor window", body)),
              "a worker's answer of format " + std::to_string(wire::format + 1) + ", this build reads " +
                  std::to_string(wire::format));
    EXPECT_EQ(window(message(wire::format, "study point", body)),
              "a worker's answer of another kind (study point), not a monitor window");
    EXPECT_EQ(window("\x01"), "a message of the workers: no envelope (format, kind and body)");
    EXPECT_EQ(window(""), "a message of the workers: cut short");

    // Cut short anywhere, or with a byte past its end.
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_NE(window(bytes.substr(0, n)).find("a message of the workers: "), std::string::npos) << n;
    }
    EXPECT_EQ(window(bytes + 'x'), "a message of the workers: bytes past its end");

    // Nested far deeper than any message: refused, not a stack used up.
    std::string deep = std::string("\xa3\x66") + "format" + "\x01" + "\x64" + "kind" + "\x6e" + "monitor window" + "\x64" +
                       "body" + std::string(1000000, '\x81') + '\x00';
    EXPECT_EQ(window(deep), "a message of the workers: nested deeper than 16 levels");

    // A field missing, of the wrong type, out of its type's range; a NaN's
    // bytes of another length; an enum past its choices.
    const auto changed = [&](const std::function<void(tree&)>& change) {
        tree b = body;
        change(b);
        return window(message(wire::format, "monitor window", b));
    };
    // Its fields, in order: solves, fitted, failure, a2, lower, upper, se_ln,
    // chi_square, dof, conversions, predicted, equilibrium.
    EXPECT_EQ(changed([](tree& b) { b.get_ref<tree::array_t&>().resize(8); }), "a monitor window (field dof): missing");
    EXPECT_EQ(changed([](tree& b) { b.push_back(1); }), "a monitor window: 1 fields past its last (equilibrium)");
    EXPECT_EQ(changed([](tree& b) { b[1] = 1; }), "a monitor window (field fitted): a yes/no expected, got an integer");
    EXPECT_EQ(changed([](tree& b) { b[3] = "1.0"; }), "a monitor window (field a2): a number expected, got text");
    EXPECT_EQ(changed([](tree& b) { b[8] = std::int64_t{1} << 40; }),
              "a monitor window (field dof): an integer of 1099511627776, out of range");
    EXPECT_EQ(changed([](tree& b) { b[4] = tree::binary({0x7f, 0xf8}); }), "a monitor window (field lower): a NaN of 2 bytes");
    EXPECT_EQ(changed([](tree& b) { b = tree::object(); }), "a monitor window: a list of fields expected, got a map");

    scan_answer scan;
    scan.points = {{1, 2, 3}};
    tree s;
    wire::read(scan_answer_bytes(scan), "profile scan", s);
    s[0][0].erase(2);  // the first of its points
    EXPECT_EQ(refusal([&] { read_scan_answer(message(wire::format, "profile scan", s)); }),
              "a profile scan (field points[0]): a list of 2, not 3");
    const study_plan sp = plan_study(default_case(), {parse_vary("nh3_co2=3:4:2")}, {result_named("co2_conversion").value()});
    tree plan;
    wire::read(study_plan_bytes(sp), "study plan", plan);
    plan[1][0][2] = setting_count;  // the first variable's setting
    EXPECT_EQ(refusal([&] { study_plan_of(message(wire::format, "study plan", plan)); }),
              "a study plan (field vars[0].which): a choice numbered 14, of 14");
}

}  // namespace
