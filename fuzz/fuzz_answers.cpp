// Fuzz target for the readers of workers' answers: the seals around each
// result (session/answer.h) and each result's own message (analysis/
// answers.h, a study's point), all read by session/wire.h.
//
// Input: a first byte that chooses the reader, then the bytes it reads. For
// the seals, the bytes are cut at each "|~" into a task's sealed items (a
// ";~" starts its next chunk) and taken as a task of chunks 2 and 3 of 4,
// of up to two results each; a well-sealed one is taken by a reader that
// checks its bytes are 3 long.
//
// Whatever the bytes, a reader returns or throws worker_answer_error (a
// result sealed right, or a message read whole, is what it was); it never
// reads or allocates past what the bytes hold (ASan), never runs out of
// stack on a message nested deep, nor loads a bool that is not 0 or 1
// (UBSan).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/answers.h"
#include "analysis/study.h"
#include "session/answer.h"

namespace {

using namespace workbench;

std::vector<std::string> cut(const std::string& s, const std::string& at) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t k; (k = s.find(at, from)) != std::string::npos; from = k + at.size()) out.push_back(s.substr(from, k - from));
    out.push_back(s.substr(from));
    return out;
}

void take_task(const std::string& bytes) {
    chunk_work w;
    w.chunks = 4;
    w.kind = "study";
    w.results = [](std::size_t) { return std::size_t{2}; };
    w.take = [](std::size_t, const std::string& r) {
        if (r.size() != 3) throw worker_answer_error("not 3 bytes");
    };
    std::vector<std::vector<std::string>> chunks;
    for (const std::string& c : cut(bytes, ";~")) chunks.push_back(cut(c, "|~"));
    take_task_answer(w, "plan", 1, 3, chunks);
}

void read_point(const std::string& bytes) {
    study_point p;
    read_study_point(bytes, p);
    study_plan plan;
    plan.vars.resize(2);
    plan.results.resize(1);
    check_study_point(plan, 5, p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    piece_counts counts;
    try {
        switch (data[0] % 15) {
            case 0: take_task(bytes); break;
            case 1: read_point(bytes); break;
            case 2: read_window_answer(bytes); break;
            case 3: read_candidate_answer(bytes); break;
            case 4: read_piece_answer(bytes); break;
            case 5: read_start_answer(bytes); break;
            case 6: read_refit_answer(bytes); break;
            case 7: read_map_row(bytes, 4, counts); break;
            case 8: read_scan_answer(bytes); break;
            case 9: read_crossing_answer(bytes, counts); break;
            case 10: read_region_answer(bytes); break;
            case 11: read_prediction_answer(bytes); break;
            case 12: read_number_answer(bytes); break;
            case 13: read_runs_model(bytes); break;
            default: {
                // A seal read whole, the result in it read as a point.
                chunk_work w;
                w.chunks = 1;
                if (const std::optional<std::string> r = open_answer(w, "plan", 0, 0, bytes)) read_point(*r);
                break;
            }
        }
    } catch (const worker_answer_error&) {
    }
    return 0;
}
