// How the command line ends when it is told to stop: on SIGINT, SIGTERM,
// SIGHUP or SIGPIPE (standard output closed by its reader) at any moment, and when --time-limit passes (SIGALRM), every
// temporary file is removed, every child process (gnuplot, the plug-in under
// check, the worker processes) is ended, one line says why, and the process exits with 128 + the
// signal (130 for SIGINT, 143 for SIGTERM, 141 for SIGPIPE), or 124 for the time limit.
#ifndef UREA_WORKBENCH_CLI_SIGNALS_H
#define UREA_WORKBENCH_CLI_SIGNALS_H

namespace workbench::cli {

inline constexpr int exit_time_limit = 124;

// Installs the handlers. time_limit_s > 0: the whole command may take at
// most that many seconds (wall clock).
void handle_stop_signals(double time_limit_s);

}  // namespace workbench::cli

#endif
