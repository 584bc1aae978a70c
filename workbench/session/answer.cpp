#include "session/answer.h"

#include "base/errors.h"

namespace workbench {
namespace {

constexpr char result_tag = 'R', end_tag = 'E';

[[noreturn]] void refuse(const chunk_work& w, std::size_t chunk, const std::string& what) {
    throw worker_answer_error(answer_place(w, chunk) + ": " + what);
}

}  // namespace

std::string sealed_result(const std::string& plan, std::size_t chunk, std::size_t index, const std::string& result) {
    wire_out o;
    o.put(result_tag).put(plan).put<std::uint64_t>(chunk).put<std::uint64_t>(index).put(result);
    return o.bytes();
}

std::string sealed_end(const std::string& plan, std::size_t chunk, std::size_t count) {
    wire_out o;
    o.put(end_tag).put(plan).put<std::uint64_t>(chunk).put<std::uint64_t>(count);
    return o.bytes();
}

std::string answer_place(const chunk_work& w, std::size_t chunk) {
    return "a worker's answer for chunk " + std::to_string(chunk + 1) + " of " + std::to_string(w.chunks) + " of the " +
           (w.kind.empty() ? std::string("work") : w.kind);
}

std::optional<std::string> open_answer(const chunk_work& w, const std::string& plan, std::size_t chunk,
                                       std::size_t next, const std::string& sealed) {
    char tag = 0;
    std::string its_plan, result;
    std::uint64_t its_chunk = 0, n = 0;
    try {
        wire_in r(sealed);
        tag = r.get<char>();
        its_plan = r.get_string();
        its_chunk = r.get<std::uint64_t>();
        n = r.get<std::uint64_t>();
        if (tag == result_tag) result = r.get_string();
        r.finish();
    } catch (const worker_answer_error& e) {
        refuse(w, chunk, std::string("its seal: ") + e.what());
    }
    if (tag != result_tag && tag != end_tag) refuse(w, chunk, "neither a result nor a chunk's end");
    if (its_plan != plan) refuse(w, chunk, "it answers another piece of work (not this plan)");
    if (its_chunk != chunk) refuse(w, chunk, "it answers chunk " + std::to_string(its_chunk + 1));
    const bool counted = static_cast<bool>(w.results);
    const std::size_t expected = counted ? w.results(chunk) : 0;
    const auto results_text = [](std::uint64_t k) { return std::to_string(k) + (k == 1 ? " result" : " results"); };
    if (tag == end_tag) {
        if (n != next) refuse(w, chunk, "it ends after " + results_text(n) + ", having sent " + std::to_string(next));
        if (counted && n != expected) refuse(w, chunk, "expected " + results_text(expected) + ", got " + std::to_string(n));
        return std::nullopt;
    }
    if (n != next) refuse(w, chunk, "result " + std::to_string(n + 1) + " came where " + std::to_string(next + 1) + " was due");
    if (counted && n >= expected) refuse(w, chunk, "expected " + results_text(expected) + ", got more");
    return result;
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
