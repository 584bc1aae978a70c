#include "session/answer.h"

#include <cstdint>

#include "base/errors.h"
#include "session/wire.h"

namespace workbench {
namespace {

// A result of a chunk (its number n in the chunk, and its bytes), or the
// chunk's end (after n results), with the plan it answers.
struct seal {
    bool end = false;
    std::string plan;
    std::uint64_t chunk = 0, n = 0;
    std::string result;
};
WIRE_FIELDS(seal, end, plan, chunk, n, result)

constexpr const char* seal_kind = "sealed answer";

[[noreturn]] void refuse(const chunk_work& w, std::size_t chunk, const std::string& what) {
    throw worker_answer_error(answer_place(w, chunk) + ": " + what);
}

}  // namespace

std::string sealed_result(const std::string& plan, std::size_t chunk, std::size_t index, const std::string& result) {
    return wire::write(seal_kind, seal{false, plan, chunk, index, result});
}

std::string sealed_end(const std::string& plan, std::size_t chunk, std::size_t count) {
    return wire::write(seal_kind, seal{true, plan, chunk, count, {}});
}

std::string answer_place(const chunk_work& w, std::size_t chunk) {
    return "a worker's answer for chunk " + std::to_string(chunk + 1) + " of " + std::to_string(w.chunks) + " of the " +
           (w.kind.empty() ? std::string("work") : w.kind);
}

std::optional<std::string> open_answer(const chunk_work& w, const std::string& plan, std::size_t chunk,
                                       std::size_t next, const std::string& sealed) {
    seal sealed_as;
    try {
        wire::read(sealed, seal_kind, sealed_as);
    } catch (const worker_answer_error& e) {
        refuse(w, chunk, std::string("its seal: ") + e.what());
    }
    const std::string& its_plan = sealed_as.plan;
    const std::uint64_t its_chunk = sealed_as.chunk, n = sealed_as.n;
    if (sealed_as.end && !sealed_as.result.empty()) refuse(w, chunk, "a chunk's end with a result");
    if (its_plan != plan) refuse(w, chunk, "it answers another piece of work (not this plan)");
    if (its_chunk != chunk) refuse(w, chunk, "it answers chunk " + std::to_string(its_chunk + 1));
    const bool counted = static_cast<bool>(w.results);
    const std::size_t expected = counted ? w.results(chunk) : 0;
    const auto results_text = [](std::uint64_t k) { return std::to_string(k) + (k == 1 ? " result" : " results"); };
    if (sealed_as.end) {
        if (n != next) refuse(w, chunk, "it ends after " + results_text(n) + ", having sent " + std::to_string(next));
        if (counted && n != expected) refuse(w, chunk, "expected " + results_text(expected) + ", got " + std::to_string(n));
        return std::nullopt;
    }
    if (n != next) refuse(w, chunk, "result " + std::to_string(n + 1) + " came where " + std::to_string(next + 1) + " was due");
    if (counted && n >= expected) refuse(w, chunk, "expected " + results_text(expected) + ", got more");
    return std::move(sealed_as.result);
}

void take_result(const chunk_work& w, std::size_t chunk, const std::string& result) {
    try {
        w.take(chunk, result);
    } catch (const worker_answer_error& e) {
        refuse(w, chunk, e.what());
    }
}

void take_answer(const chunk_work& w, const std::string& plan, std::size_t chunk,
                 const std::vector<std::string>& sealed) {
    // Every seal first: nothing of a chunk is taken before all of it is known good.
    std::vector<std::string> results;
    bool ended = false;
    for (const std::string& s : sealed) {
        if (ended) refuse(w, chunk, "more after the chunk's end");
        std::optional<std::string> r = open_answer(w, plan, chunk, results.size(), s);
        if (!r) {
            ended = true;
        } else {
            results.push_back(std::move(*r));
        }
    }
    if (!ended) refuse(w, chunk, sealed.empty() ? "nothing" : "no end of the chunk (cut short)");
    for (const std::string& r : results) take_result(w, chunk, r);
}

void take_task_answer(const chunk_work& w, const std::string& plan, std::size_t first, std::size_t last,
                      const std::vector<std::vector<std::string>>& chunks) {
    if (chunks.size() != last - first) {
        refuse(w, first, "its task of " + std::to_string(last - first) + " chunks answered " +
                             std::to_string(chunks.size()));
    }
    for (std::size_t j = 0; j < chunks.size(); ++j) take_answer(w, plan, first + j, chunks[j]);
}

}  // namespace workbench
