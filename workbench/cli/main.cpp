// urea-reactor: runs a urea synthesis reactor with the compiled plug-in,
// acting as its host. A thin client of the workbench's API.
//
//   urea-reactor [CASE] [options]          run a case (default: the built-in one)
//   urea-reactor fit --co2-conversion X    find the a2 that gives conversion X
//   urea-reactor check [--plugin PATH]     check a plug-in build
//   urea-reactor estimate RUNS.csv         tune a1 and a2 against plant test runs
//   urea-reactor sweep --vary NAME=FROM:TO:N [--vary ...]   the reactor over a grid
//   urea-reactor study --vary ... | --cases FILE.csv [--result NAME...]   a case study
//   urea-reactor design RUNS.csv --vary ... | --cases FILE.csv   the next test run
//   urea-reactor monitor HISTORY.csv [--window 24h]   a2 and the meters over plant history
//   urea-reactor watch SOURCE --store plant.db        the monitor kept current, alerts raised
//   urea-reactor serve --store plant.db    the store as a live page and a JSON API
//   urea-reactor quantities [--json]       every quantity with its unit and meaning
//   urea-reactor --version                 the workbench's and the plug-in's builds
//
// Exit status: 0 done, 1 a solver did not converge (or gnuplot failed; a
// sweep with failed points), 2 bad input (options, case file, runs file,
// plug-in that does not load, an output that cannot be written, no worker
// process to be had), 3 an
// internal error (a bug), 124 --time-limit reached, 128 + N stopped by
// signal N (130 SIGINT, 143 SIGTERM). Every option is checked before
// anything runs; output files are written only when the run succeeded.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "cli/common.h"
#include "cli/signals.h"
#include "base/text.h"

namespace {

// What went to standard output must have arrived: a full disk or a closed
// pipe is an error, not success.
int flushed(int status) {
    std::cout.flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout) {
        std::cerr << "urea-reactor: error: cannot write to standard output (" << std::strerror(errno) << ")\n";
        return status == 0 ? workbench::cli::exit_input : status;
    }
    return status;
}

int run_command_line(int argc, char** argv);

}  // namespace

int main(int argc, char** argv) {
    return flushed(run_command_line(argc, argv));
}

namespace {

int run_command_line(int argc, char** argv) {
    using namespace workbench;
    using namespace workbench::cli;
    bool verbose = false;
    try {
        invocation in;
        int status = exit_ok;
        if (!parse(argc, argv, in, status)) return status;
        verbose = in.flag("--verbose");
        set_quiet(in.flag("--quiet"));
        warn(in.warnings);
        handle_stop_signals(in.has("--time-limit")
                                ? parse_number(field("time_limit"), in.text("--time-limit"), number_rule::positive)
                                : 0.0);
        if (in.flag("--version")) {
            std::string subcommand;
            for (const command_spec& c : command_specs()) {
                if (c.which == in.which) subcommand = std::string("`urea-reactor ") + c.name + "`";
            }
            warn_unused(in, {"--version", "--plugin", "--time-limit", "--quiet"},
                        "--version prints the versions and nothing else", subcommand);
            const std::string path = plugin_or_default(in.text("--plugin"));
            std::cout << workbench_version() << "\n";
            const auto marker = plugin_version(path);  // throws input_error for a file it cannot read
            std::cout << "plug-in " << path << ": " << marker.value_or(no_version_marker) << "\n";
            return exit_ok;
        }
#ifdef UREA_RUN_ONLY
        if (in.which != run_cmd) {
            std::string name;
            for (const command_spec& c : command_specs()) {
                if (c.which == in.which) name = c.name;
            }
            throw input_error("this build of urea-reactor has its run command alone (UREA_RUN_ONLY: what scripts/run "
                              "builds for a first result); `urea-reactor " + name +
                              "` is in the full build: scripts/install-deps, then cmake --preset default && cmake "
                              "--build --preset default");
        }
        return run_command(in);
#else
        switch (in.which) {
            case fit_cmd: return fit_command(in);
            case check_cmd: return check_command(in);
            case estimate_cmd: return estimate_command(in);
            case sweep_cmd: return sweep_command(in);
            case study_cmd: return study_command(in);
            case design_cmd: return design_command(in);
            case monitor_cmd: return monitor_command(in);
            case watch_cmd: return watch_command(in);
            case serve_cmd: return serve_command(in);
            case quantities_cmd: return quantities_command(in);
            default: return run_command(in);
        }
#endif
    } catch (const input_error& e) {
        std::cerr << "urea-reactor: error: " << in_words(e, words()) << "\n";
        return exit_input;
    } catch (const plugin_error& e) {
        std::cerr << "urea-reactor: error: " << e.what() << "\n";
        return exit_input;
    } catch (const solver_error& e) {
        std::cerr << "urea-reactor: solver failure: " << e.what()
                  << (e.details().empty() || verbose ? "" : " (--verbose tells more)") << "\n";
        if (verbose && !e.details().empty()) std::cerr << e.details() << "\n";
        return exit_solver;
    } catch (const interrupted& e) {
        std::cerr << "urea-reactor: " << e.what() << "\n";
        return e.signal() > 0 ? 128 + e.signal() : exit_time_limit;
    } catch (const plot_error& e) {
        std::cerr << "urea-reactor: error: " << said(e.message()) << "\n";
        return exit_solver;
    } catch (const resource_error& e) {
        std::cerr << "urea-reactor: error: " << e.what() << "\n";
        return exit_input;
    } catch (const worker_answer_error& e) {
        std::cerr << "urea-reactor: error: " << e.what() << "\n";
        return exit_solver;
    } catch (const std::exception& e) {
        std::cerr << "urea-reactor: internal error (a bug of the workbench; please report it): " << e.what() << "\n";
        return exit_bug;
    }
}

}  // namespace
