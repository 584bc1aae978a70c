// Progress of long work on the terminal: one line on stderr, rewritten in
// place, "urea-reactor: 12000 of 40000 points (30 %), 2150 a second, about
// 13 s left"; only when stderr is a terminal, and not with --quiet.
#ifndef UREA_WORKBENCH_CLI_PROGRESS_H
#define UREA_WORKBENCH_CLI_PROGRESS_H

#include <cstddef>
#include <functional>

namespace workbench::cli {

// A progress callback for worker_options::progress that draws the line
// (at most every 0.2 s, and once more when the work is done, which clears
// it); none when stderr is no terminal or quiet.
std::function<void(const char*, std::size_t, std::size_t)> terminal_progress(bool quiet);

// Clears the line if one is shown: async-signal-safe, for a handler that
// ends the process and says why.
void clear_progress_line();

}  // namespace workbench::cli

#endif
