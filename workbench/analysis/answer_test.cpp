// Answers from an executor's workers (worker_options::elsewhere, as Python's
// executor= sends work) are checked before anything of them is taken: a
// study and a monitor whose answers were tampered with on the way end with
// worker_answer_error naming the chunk and what was wrong, never with a
// table; untouched, they give every point. Runs under memcheck too.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/synthetic_history.h"
#include "api/workbench.h"
#include "model/properties.h"
#include "session/answer.h"
#include "session/wire.h"
#include "session/test_session.h"

namespace {

using namespace workbench;

// A task's answer: its chunks, each its sealed results and its end.
using task_answer = std::vector<std::vector<std::string>>;
using tamper_fn = std::function<void(task_answer&, const std::string& plan, std::size_t first)>;

// An executor in this process: the chunks of each task of four computed
// and sealed as a worker elsewhere does, then handed through tamper.
worker_options executor(const tamper_fn& tamper) {
    worker_options o;
    o.elsewhere = [tamper](const chunk_work& w) {
        const std::string plan = plan_of("builds", w.kind, w.state());
        for (std::size_t first = 0; first < w.chunks; first += 4) {
            const std::size_t last = std::min(w.chunks, first + 4);
            task_answer a;
            for (std::size_t i = first; i < last; ++i) {
                std::vector<std::string>& sealed = a.emplace_back();
                w.run(i, 0, [&](const std::string& r) { sealed.push_back(sealed_result(plan, i, sealed.size(), r)); });
                sealed.push_back(sealed_end(plan, i, sealed.size()));
            }
            tamper(a, plan, first);
            take_task_answer(w, plan, first, last, a);
        }
    };
    return o;
}

// A sealed result's own bytes.
std::string body_of(const std::string& sealed) {
    wire::tree seal;
    wire::read(sealed, "sealed answer", seal);
    return seal.back().get<std::string>();  // its fields: end, plan, chunk, n, result
}

class Answers : public plugin_suite {
protected:
    // What the work ended with ("" when it ended well): work() run with
    // answers through tamper.
    template <class Work>
    static std::string refused(const tamper_fn& tamper, Work&& work) {
        lib->set_workers(executor(tamper));
        std::string what;
        try {
            work();
        } catch (const worker_answer_error& e) {
            what = e.what();
        }
        lib->set_workers(worker_options{});
        return what;
    }
};

TEST_F(Answers, AStudyTakesOnlyTheAnswersItAskedFor) {
    const study_plan sp = plan_study(default_case(), {parse_vary("a2=0.01:1:34")}, {result_named("co2_conversion").value()});
    ASSERT_EQ(study_chunks(sp).size(), 2u);  // 17 points each, one task
    std::size_t points = 0;
    const auto run = [&] { study(*lib, sp, [&](const study_point&) { ++points; }); };
    const auto refused_with = [&](const tamper_fn& t) {
        points = 0;
        return refused(t, run);
    };
    EXPECT_EQ(refused_with([](task_answer&, const std::string&, std::size_t) {}), "");
    EXPECT_EQ(points, 34u);

    const std::string chunk1 = "a worker's answer for chunk 1 of 2 of the study: ";
    const std::string chunk2 = "a worker's answer for chunk 2 of 2 of the study: ";
    using A = task_answer;
    using P = const std::string&;
    // Chunks missing, repeated, out of place.
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a.insert(a.end(), a.begin(), a.end()); }),
              chunk1 + "its task of 2 chunks answered 4");
    EXPECT_EQ(points, 0u);
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a.pop_back(); }), chunk1 + "its task of 2 chunks answered 1");
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a.clear(); }), chunk1 + "its task of 2 chunks answered 0");
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { std::swap(a[0], a[1]); }), chunk1 + "it answers chunk 2");
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a[0].clear(); }), chunk1 + "nothing");
    // Results missing, repeated, out of place, of another plan; a chunk cut short.
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a[1].erase(a[1].begin() + 3); }),
              chunk2 + "result 5 came where 4 was due");
    EXPECT_EQ(points, 17u);  // the first chunk's, whole
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a[0].insert(a[0].begin() + 1, a[0][0]); }),
              chunk1 + "result 1 came where 2 was due");
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { std::swap(a[0][0], a[0][1]); }),
              chunk1 + "result 2 came where 1 was due");
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a[1].pop_back(); }), chunk2 + "no end of the chunk (cut short)");
    EXPECT_EQ(refused_with([](A& a, P plan, std::size_t first) {
                  a[1].erase(a[1].end() - 2, a[1].end());
                  a[1].push_back(sealed_end(plan, first + 1, a[1].size()));
              }),
              chunk2 + "expected 17 results, got 16");
    EXPECT_EQ(refused_with([](A& a, P, std::size_t first) {
                  for (std::size_t k = 0; k < a[0].size() - 1; ++k) {
                      a[0][k] = sealed_result("another plan", first, k, body_of(a[0][k]));
                  }
              }),
              chunk1 + "it answers another piece of work (not this plan)");
    // Bytes cut short or left over, in the seal and in the point.
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a[0][2].pop_back(); }).rfind(chunk1 + "its seal: a message of the workers: cut short", 0), 0u);
    EXPECT_EQ(refused_with([](A& a, P, std::size_t) { a[0][2] += 'x'; }), chunk1 + "its seal: a message of the workers: bytes past its end");
    const auto point = [](const std::function<void(std::string&)>& change) {
        return [change](A& a, P plan, std::size_t first) {
            std::string body = body_of(a[0][2]);
            change(body);
            a[0][2] = sealed_result(plan, first, 2, body);
        };
    };
    EXPECT_EQ(refused_with(point([](std::string& b) { b += 'x'; })), chunk1 + "a message of the workers: bytes past its end");
    EXPECT_EQ(refused_with(point([](std::string& b) { b.resize(b.size() / 2); })).rfind(chunk1 + "a message of the workers: cut short", 0), 0u);
    // A point that does not fit the plan: one value fewer, another number.
    const auto reworked = [&](const std::function<void(study_point&)>& change) {
        return point([change](std::string& b) {
            study_point p;
            read_study_point(b, p);
            change(p);
            b = study_point_bytes(p);
        });
    };
    EXPECT_EQ(refused_with(reworked([](study_point& p) { p.values.pop_back(); })),
              chunk1 + "point 3: expected 1 values, got 0");
    EXPECT_EQ(refused_with(reworked([](study_point& p) { p.index = 1u << 30; })),
              chunk1 + "point 3: expected 3 as its number, got 1073741825");
}

TEST_F(Answers, AMonitorAnsweredTwiceOrNotAtAllIsRefused) {
    synthetic_history recipe;
    recipe.days = 2;
    recipe.seed = 5;
    std::ostringstream csv;
    const reactor_case base = default_case();
    {
        const property_set props;
        workbench_host h(*lib, props);
        write_synthetic_history(csv, h, base, recipe);
    }
    monitor_options o;
    o.a1 = 1.0;
    const auto run = [&] {
        monitor_problem p = monitor_problem_of(parse_history(csv.str(), "synthetic.csv", false), base, o);
        return monitor(*lib, p);
    };
    const std::string first = "a worker's answer for chunk 1 of 1 of the monitor: ";
    EXPECT_EQ(refused([](task_answer& a, const std::string&, std::size_t) { a.insert(a.end(), a.begin(), a.end()); }, run),
              first + "its task of 1 chunks answered 2");
    EXPECT_EQ(refused([](task_answer& a, const std::string&, std::size_t) { a[0].erase(a[0].begin()); }, run),
              first + "result 2 came where 1 was due");
    EXPECT_EQ(refused([](task_answer& a, const std::string& plan, std::size_t) { a[0] = {sealed_end(plan, 0, 0)}; }, run),
              first + "expected 2 results, got 0");
}

}  // namespace
