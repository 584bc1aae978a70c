// Work split among worker processes: the results come back in the order of
// the chunks whatever order the workers finish in; a worker whose plug-in
// crashes or hangs loses the one result it was on, named by the routine, and
// its chunk goes on after it; an error is raised in its chunk's turn; no
// worker outlives the call, however it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "base/errors.h"
#include "session/answer.h"
#include "session/crash_report.h"
#include "session/workers.h"

namespace {

using namespace workbench;

// This process's children, from /proc (a worker not waited for counts too).
int children() {
    int n = 0;
    for (const auto& p : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(p.path() / "stat");
        std::string pid, name, state;
        long ppid = 0;
        if (stat >> pid >> name >> state >> ppid && ppid == getpid()) ++n;
    }
    return n;
}

// Chunk i's result r: "i.r", each after a wait that makes later chunks
// finish first now and then.
chunk_work numbered(std::size_t chunks, std::vector<std::string>& got) {
    chunk_work w;
    w.chunks = chunks;
    w.run = [](std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit) {
        for (std::size_t r = from; r < 4; ++r) {
            std::this_thread::sleep_for(std::chrono::milliseconds((i * 7 + r) % 5));
            emit(std::to_string(i) + "." + std::to_string(r));
        }
    };
    w.take = [&got](std::size_t, const std::string& result) { got.push_back(result); };
    return w;
}

std::vector<std::string> expected(std::size_t chunks) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < chunks; ++i) {
        for (std::size_t r = 0; r < 4; ++r) out.push_back(std::to_string(i) + "." + std::to_string(r));
    }
    return out;
}

TEST(Workers, ResultsComeInOrderAndAFaultLosesOnlyTheResultItWasOn) {
    crash_report::install("./lib.so");
    std::vector<std::string> got;
    chunk_work w = numbered(12, got);
    const auto run = w.run;
    // Chunk 3 crashes in the rate routine at its result 1, chunk 7 hangs in
    // it at its result 2.
    w.run = [run](std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit) {
        run(i, from, [&](const std::string& r) {
            if (r == "3.1" || r == "7.2") {
                const crash_report::in_plugin in(crash_report::where::usura);
                if (r == "3.1") raise(SIGSEGV);
                for (;;) pause();
            }
            emit(r);
        });
    };
    std::vector<std::string> why;
    w.lost = [&](std::size_t, const std::string& text, bool ran) {
        EXPECT_TRUE(ran);
        got.push_back("lost");
        why.push_back(text);
    };
    worker_options o;
    o.jobs = 3;
    o.stall_s = 0.3;
    run_chunks(o, w, {});
    std::vector<std::string> want = expected(12);
    want[3 * 4 + 1] = want[7 * 4 + 2] = "lost";
    EXPECT_EQ(got, want);
    ASSERT_EQ(why.size(), 2u);
    EXPECT_EQ(why[0], "the plug-in ./lib.so crashed in its routine USURA (signal 11, SIGSEGV, a bad memory access) "
                      "in a worker process; `urea-reactor check --plugin ./lib.so` examines the build");
    EXPECT_EQ(why[1], "the plug-in ./lib.so did not return from its routine USURA within 0.3 s in a worker process "
                      "(taken to hang; the worker was ended); `urea-reactor check --plugin ./lib.so` examines the build");
    EXPECT_EQ(children(), 0);

    // One worker: the same results, here.
    got.clear();
    run_chunks(worker_options{}, numbered(12, got), {});
    EXPECT_EQ(got, expected(12));
}

TEST(Workers, AnErrorOrAStopEndsTheWorkAndEveryWorker) {
    std::vector<std::string> got;
    chunk_work w = numbered(40, got);
    const auto run = w.run;
    w.run = [run](std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit) {
        if (i == 5) throw solver_error("no solution in chunk 5");
        run(i, from, emit);
    };
    worker_options o;
    o.jobs = 4;
    EXPECT_THROW(
        {
            try {
                run_chunks(o, w, {});
            } catch (const solver_error& e) {
                EXPECT_STREQ(e.what(), "no solution in chunk 5");
                throw;
            }
        },
        solver_error);
    // Every result of the chunks before it, none after.
    EXPECT_EQ(got, std::vector<std::string>(expected(5)));
    EXPECT_EQ(children(), 0);

    got.clear();
    const chunk_work slow = numbered(1000, got);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(run_chunks(o, slow,
                            [&] {
                                if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300)) {
                                    throw interrupted("stopped");
                                }
                            }),
                 interrupted);
    EXPECT_LT(got.size(), 4000u);
    EXPECT_EQ(children(), 0);
}

// In a worker: writes a record to this process as the worker's own socket
// carries it (a kind, a length, the bytes), past the seals a worker puts
// on what it sends: what a plug-in that writes over its worker's memory
// could make of it.
void forge(char kind, std::uint64_t length, const std::string& body) {
    std::string r(1, kind);
    r.append(reinterpret_cast<const char*>(&length), sizeof length);
    r += body;
    for (const auto& f : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(f.path().filename().string());
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) {
            ASSERT_EQ(send(fd, r.data(), r.size(), MSG_NOSIGNAL), static_cast<ssize_t>(r.size()));
        }
    }
}

TEST(Workers, AnAnswerNotAskedForEndsTheWorkWithNothingOfItTaken) {
    const auto forged = [](const std::function<void(const std::function<void(const std::string&)>&)>& chunk2) {
        auto got = std::make_shared<std::vector<std::string>>();
        chunk_work w = numbered(6, *got);
        const auto run = w.run;
        w.run = [run, chunk2](std::size_t i, std::size_t from, const std::function<void(const std::string&)>& emit) {
            if (i == 1) return chunk2(emit);
            run(i, from, emit);
        };
        // Each result three characters, and nothing after them.
        w.take = [got](std::size_t, const std::string& result) {
            if (result.size() != 3) throw worker_answer_error(std::to_string(result.size()) + " bytes, not 3");
            got->push_back(result);
        };
        w.results = [](std::size_t) { return std::size_t{4}; };
        worker_options o;
        o.jobs = 2;
        std::string what;
        try {
            run_chunks(o, w, {});
        } catch (const worker_answer_error& e) {
            what = e.what();
        }
        EXPECT_EQ(children(), 0);
        // Only chunk 1's results, whole, are ever taken.
        EXPECT_LE(got->size(), 4u);
        for (const std::string& r : *got) EXPECT_EQ(r[0], '0') << r;
        return what;
    };
    const std::string chunk = "a worker's answer for chunk 2 of 6 of the work: ";
    EXPECT_EQ(forged([](auto&) { forge('X', 3, "1.0"); }), chunk + "a record of an unknown kind (88)");
    EXPECT_EQ(forged([](auto&) { forge('R', std::uint64_t{1} << 60, ""); }), chunk + "a record of 1152921504606846976 bytes");
    EXPECT_EQ(forged([](auto&) { forge('R', 3, "1.0"); }), chunk + "its seal: a message of the workers: bytes past its end");
    const std::string other = sealed_result("another plan", 1, 0, "1.0");
    EXPECT_EQ(forged([&](auto&) { forge('R', other.size(), other); }),
              chunk + "it answers another piece of work (not this plan)");
    EXPECT_EQ(forged([](auto& emit) {
                  emit("1.0");
                  emit("1.1");
              }),
              chunk + "expected 4 results, got 2");
    EXPECT_EQ(forged([](auto& emit) {
                  for (const char* r : {"1.0", "1.1", "1.2", "1.3", "1.4"}) emit(r);
              }),
              chunk + "expected 4 results, got more");
    EXPECT_EQ(forged([](auto& emit) {
                  for (const char* r : {"1.0x", "1.1", "1.2", "1.3"}) emit(r);
              }),
              chunk + "4 bytes, not 3");
}

}  // namespace
