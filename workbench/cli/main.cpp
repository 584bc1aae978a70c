// urea-reactor: runs a urea synthesis reactor with the compiled plug-in,
// acting as its host. A thin client of the workbench's API.
//
//   urea-reactor [CASE] [options]          run a case (default: the built-in one)
//   urea-reactor fit --co2-conversion X    find the a2 that gives conversion X
//   urea-reactor check [--plugin PATH]     check a plug-in build
//   urea-reactor estimate RUNS.csv         tune a1 and a2 against plant test runs
//   urea-reactor sweep --vary NAME=FROM:TO:N [--vary ...]   the reactor over a grid
//   urea-reactor --version                 the workbench's and the plug-in's builds
//
// Exit status: 0 done, 1 a solver did not converge (or gnuplot failed; a
// sweep with failed points), 2 bad input (options, case file, runs file,
// plug-in that does not load), 3 an internal error (a bug). Every option is
// checked before anything runs; output files are written only when the run
// succeeded.
#include <exception>
#include <iostream>

#include "cli/common.h"

int main(int argc, char** argv) {
    using namespace workbench;
    using namespace workbench::cli;
    bool verbose = false;
    try {
        invocation in;
        int status = exit_ok;
        if (!parse(argc, argv, in, status)) return status;
        verbose = in.flag("--verbose");
        if (in.flag("--version")) {
            const build_info b = build_of(plugin_path_of(in));
            std::cout << b.workbench << "\n"
                      << "plug-in " << b.plugin_file << ": " << b.plugin << "\n";
            return exit_ok;
        }
        switch (in.which) {
            case fit_cmd: return fit_command(in);
            case check_cmd: return check_command(in);
            case estimate_cmd: return estimate_command(in);
            case sweep_cmd: return sweep_command(in);
            default: return run_command(in);
        }
    } catch (const input_error& e) {
        std::cerr << "urea-reactor: error: " << e.what() << "\n";
        return exit_input;
    } catch (const plugin_error& e) {
        std::cerr << "urea-reactor: error: " << e.what() << "\n";
        return exit_input;
    } catch (const solver_error& e) {
        std::cerr << "urea-reactor: solver failure: " << e.what()
                  << (e.details().empty() || verbose ? "" : " (--verbose tells more)") << "\n";
        if (verbose && !e.details().empty()) std::cerr << e.details() << "\n";
        return exit_solver;
    } catch (const plot_error& e) {
        std::cerr << "urea-reactor: error: " << e.what() << "\n";
        return exit_solver;
    } catch (const std::exception& e) {
        std::cerr << "urea-reactor: internal error (a bug of the workbench; please report it): " << e.what() << "\n";
        return exit_bug;
    }
}
