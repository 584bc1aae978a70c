// A worker's answer, checked before anything of it is taken. The bytes of a
// result come from another process (a forked worker, whose plug-in may have
// written over its memory) or another machine (an executor's worker, and
// whatever lies between): each result is sealed there with what it answers
// (the plan: a digest of the work's state and the builds, or the call's own
// number for forked workers; its chunk; its place in the chunk), and each
// chunk ends with its count. Here every seal is opened and checked against
// what was asked: a result for another plan, another chunk or another
// place, a chunk with a result missing, repeated or extra, bytes cut short
// or left over, end the work with worker_answer_error (base/errors.h),
// which names the chunk and what was wrong. The seals, and the results in
// them, are messages of the workers (session/wire.h), each read bounded.
#ifndef UREA_WORKBENCH_SESSION_ANSWER_H
#define UREA_WORKBENCH_SESSION_ANSWER_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "session/workers.h"

namespace workbench {

// The plan of work that may go to other machines: a digest of the builds
// (the workbench's and the plug-in's), the work's kind and its state.
std::string plan_of(const std::string& builds, const std::string& kind, const std::string& state);

// Chunk i's result number `index` (losses counted), sealed.
std::string sealed_result(const std::string& plan, std::size_t chunk, std::size_t index, const std::string& result);
// The end of chunk i, after `count` results (losses counted).
std::string sealed_end(const std::string& plan, std::size_t chunk, std::size_t count);

// "a worker's answer for chunk 4 of 7 of the study": where an answer went wrong.
std::string answer_place(const chunk_work& w, std::size_t chunk);

// Opens a sealed item of chunk `chunk` that should come after `next`
// results: a result's bytes, or nothing for the chunk's end (its count
// checked against next, and against work.results where set). Throws
// worker_answer_error.
std::optional<std::string> open_answer(const chunk_work& w, const std::string& plan, std::size_t chunk,
                                       std::size_t next, const std::string& sealed);

// w.take(chunk, result), with a worker_answer_error of its reader (a result
// cut short, too long, with values that do not fit the work) said for
// this chunk.
void take_result(const chunk_work& w, std::size_t chunk, const std::string& result);

// A chunk's whole answer as an executor's worker gives it (its sealed
// results, then its sealed end): checked, then each result taken.
void take_answer(const chunk_work& w, const std::string& plan, std::size_t chunk,
                 const std::vector<std::string>& sealed);

// The answer of a task of chunks first .. last - 1 (each chunk's sealed
// items): as many chunks as asked, each taken with take_answer.
void take_task_answer(const chunk_work& w, const std::string& plan, std::size_t first, std::size_t last,
                      const std::vector<std::vector<std::string>>& chunks);

}  // namespace workbench

#endif
