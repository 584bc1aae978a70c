// urea-reactor: runs a urea synthesis reactor with the compiled plug-in,
// acting as its host.
//
//   urea-reactor [CASE] [options]          run a case (default: the built-in one)
//   urea-reactor fit --co2-conversion X    find the a2 that gives conversion X
//   urea-reactor check [--plugin PATH]     check a plug-in build
//
// Exit status: 0 done, 1 a solver did not converge (or a tool failed),
// 2 bad input (options, case file, plug-in that does not load).
#include <cmath>
#include <iostream>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "case.h"
#include "check.h"
#include "fit.h"
#include "workbench_host.h"
#include "reactor.h"
#include "report.h"

namespace {

using namespace workbench;

constexpr int exit_ok = 0;
constexpr int exit_solver = 1;
constexpr int exit_input = 2;

// What the command line may set on a case; NaN (or 0) = not given.
struct case_options {
    std::string case_file;
    std::string model;
    int trays = 0;
    double a1 = NAN, a2 = NAN, nh3_co2 = NAN, h2o_co2 = NAN;
    double pressure_bar = NAN, volume_m3 = NAN, t_in = NAN, t_out = NAN;
    double co2_kmol_h = NAN;
};

// A number check with a plain message ("must be > 0 (got -1)").
CLI::Validator number_check(bool zero_allowed) {
    return CLI::Validator(
        [zero_allowed](std::string& text) {
            try {
                std::size_t used = 0;
                const double v = std::stod(text, &used);
                if (used == text.size() && std::isfinite(v) && (v > 0.0 || (zero_allowed && v == 0.0))) {
                    return std::string();
                }
            } catch (const std::exception&) {
            }
            return std::string(zero_allowed ? "must be a number >= 0" : "must be a number > 0") +
                   " (got " + text + ")";
        },
        zero_allowed ? ">= 0" : "> 0");
}

void add_case_options(CLI::App& app, case_options& o) {
    const CLI::Validator positive = number_check(false);
    const CLI::Validator non_negative = number_check(true);
    app.add_option("case", o.case_file,
                   "Case file (JSON; see examples/default-case.json and docs/case-files.md). "
                   "Without one, the built-in default case runs.")
        ->check(CLI::ExistingFile);
    app.add_option("--model", o.model,
                   "Reactor model: 'trays' (N equal stirred trays in series, each solved with "
                   "KINSOL) or 'pfr' (plug flow, integrated with CVODE BDF)")
        ->check(CLI::IsMember({"trays", "pfr"}));
    app.add_option("--trays", o.trays, "Number of equal stirred trays (>= 1)")
        ->check(CLI::Range(1, 10000));
    app.add_option("--volume", o.volume_m3, "Total reacting volume, m3 (> 0)")->check(positive);
    app.add_option("--pressure", o.pressure_bar, "Reactor pressure, bar (> 0)")->check(positive);
    app.add_option("--t-in", o.t_in, "Inlet temperature, C (the plug-in clamps to 149.85-199.85 C)");
    app.add_option("--t-out", o.t_out, "Outlet temperature, C (plug flow: linear in volume; trays: evenly stepped from the first tray at the inlet temperature to the last at the outlet temperature)");
    app.add_option("--co2", o.co2_kmol_h,
                   "Free CO2 feed, kmol/h (NH3 and H2O keep their ratios to it)")
        ->check(non_negative);
    app.add_option("--nh3-co2", o.nh3_co2,
                   "Feed molar ratio NH3/CO2, carbamate counted as 2 NH3 + CO2 (sets the NH3 feed)")
        ->check(non_negative);
    app.add_option("--h2o-co2", o.h2o_co2,
                   "Feed molar ratio H2O/CO2, carbamate counted as CO2 (sets the H2O feed)")
        ->check(non_negative);
    app.add_option("--a1", o.a1, "Carbamate-formation rate factor a1 (> 0)")->check(positive);
    app.add_option("--a2", o.a2, "Dehydration rate factor a2 (> 0; default 0.124)")->check(positive);
}

// The case: built-in or from the file, then the command line's changes.
reactor_case make_case(const case_options& o) {
    reactor_case c = o.case_file.empty() ? default_case() : read_case(o.case_file);
    if (!o.model.empty()) c.model = o.model == "pfr" ? reactor_model::pfr : reactor_model::trays;
    if (o.trays != 0) c.trays = o.trays;
    if (!std::isnan(o.volume_m3)) c.volume_m3 = o.volume_m3;
    if (!std::isnan(o.pressure_bar)) c.pressure_bar = o.pressure_bar;
    if (!std::isnan(o.t_in)) c.inlet_temperature_C = o.t_in;
    if (!std::isnan(o.t_out)) c.outlet_temperature_C = o.t_out;
    if (!std::isnan(o.a1)) c.a1 = o.a1;
    if (!std::isnan(o.a2)) c.a2 = o.a2;
    if (!std::isnan(o.co2_kmol_h)) {
        const double nh3 = nh3_co2_ratio(c), h2o = h2o_co2_ratio(c);
        c.feed_kmol_h[CO2] = o.co2_kmol_h;
        if (o.co2_kmol_h > 0.0 && std::isfinite(nh3)) {
            set_nh3_co2_ratio(c, nh3);
            set_h2o_co2_ratio(c, h2o);
        }
    }
    // Ratios refer to all CO2 fed; without CO2 the check below says so.
    const bool has_co2 = c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB] > 0.0;
    if (!std::isnan(o.nh3_co2) && has_co2) set_nh3_co2_ratio(c, o.nh3_co2);
    if (!std::isnan(o.h2o_co2) && has_co2) set_h2o_co2_ratio(c, o.h2o_co2);
    return c;
}

// Options given before the subcommand count too, unless given again after it.
case_options merged(case_options after, const case_options& before) {
    const auto take = [](double& a, double b) {
        if (std::isnan(a)) a = b;
    };
    if (after.case_file.empty()) after.case_file = before.case_file;
    if (after.model.empty()) after.model = before.model;
    if (after.trays == 0) after.trays = before.trays;
    take(after.a1, before.a1);
    take(after.a2, before.a2);
    take(after.nh3_co2, before.nh3_co2);
    take(after.h2o_co2, before.h2o_co2);
    take(after.pressure_bar, before.pressure_bar);
    take(after.volume_m3, before.volume_m3);
    take(after.t_in, before.t_in);
    take(after.t_out, before.t_out);
    take(after.co2_kmol_h, before.co2_kmol_h);
    return after;
}

void warn(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) std::cerr << "urea-reactor: warning: " << w << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "urea-reactor: runs a urea synthesis reactor (2 NH3 + CO2 <=> carbamate <=> urea + H2O) "
        "with the compiled plug-in liburea_plugin.so, acting as its host: the reactor model calls "
        "the plug-in's rate routine USURA, the outlet's NC-FLOW comes from UPROPU. Without a "
        "subcommand it runs a case and prints the tray table and the outlet summary.\n\n"
        "Exit status: 0 done, 1 a solver did not converge (or gnuplot failed), 2 bad input.",
        "urea-reactor"};
    app.set_help_all_flag("--help-all", "Print the help of every subcommand");
    std::string plugin_path;
    case_options run_opts;
    bool json_out = false;
    std::string csv_path, plot_path;
    app.add_option("--plugin", plugin_path,
                   "Plug-in library to load (default: liburea_plugin.so beside this program)");
    add_case_options(app, run_opts);
    bool verbose = false;
    app.add_flag("--json", json_out, "Print the whole result as one JSON document instead of the table");
    app.add_flag("--verbose", verbose,
                 "After a solver failure's one-line message, list what each start ended with");
    app.add_option("--csv", csv_path, "Also write the tray (or station) profile to this CSV file");
    app.add_option("--plot", plot_path,
                   "Also draw the conversion and composition profiles with gnuplot to this file "
                   "(.svg or .png)");

    CLI::App* fit = app.add_subcommand(
        "fit", "Find the dehydration rate factor a2 that gives an outlet CO2 conversion "
               "(Boost.Math TOMS 748 on ln a2). A target at or above the equilibrium conversion "
               "at the outlet is refused.");
    case_options fit_opts;
    double target = NAN;
    bool fit_json = false;
    fit->add_option("--co2-conversion", target, "Wanted outlet CO2 conversion, a fraction (e.g. 0.58)")
        ->required();
    fit->add_option("--plugin", plugin_path, "Plug-in library to load");
    add_case_options(*fit, fit_opts);
    fit->add_flag("--json", fit_json, "Print the result as JSON");

    CLI::App* check = app.add_subcommand(
        "check", "Check a plug-in build: does it load into this host (and if not, which host "
                 "symbol is missing), does it export CMPLOC, USURA and UPROPU, and do USURA and "
                 "UPROPU reproduce known reference results? Exit status 0 only if all hold.");
    check->add_option("--plugin", plugin_path, "Plug-in library to check (default: the one beside this program)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "urea-reactor: error: " << e.what() << " (see urea-reactor --help)\n";
        return exit_input;
    }
    if (plugin_path.empty()) plugin_path = default_plugin_path();

    try {
        if (check->parsed()) {
            bool all = true;
            for (const verdict& v : check_plugin(plugin_path)) {
                std::cout << (v.ok ? "ok:     " : "FAILED: ") << v.text << "\n";
                all = all && v.ok;
            }
            std::cout << (all ? "The plug-in build is good.\n" : "The plug-in build is NOT good.\n");
            return all ? exit_ok : exit_input;
        }
        if (fit->parsed()) {
            reactor_case c = make_case(merged(fit_opts, run_opts));
            warn(validate(c));
            plugin lib(plugin_path);
            property_set props(c.tables);
            workbench_host h(lib, props);
            const fit_result f = fit_a2(c, h, target);
            if (fit_json || json_out) {
                nlohmann::ordered_json solutions = nlohmann::ordered_json::array();
                for (const fit_point& s : f.solutions) {
                    solutions.push_back({{"a2", s.a2}, {"co2_conversion", s.co2_conversion}});
                }
                std::cout << nlohmann::ordered_json{{"a2", f.a2},
                                            {"co2_conversion", f.co2_conversion},
                                            {"target_co2_conversion", target},
                                            {"equilibrium_co2_conversion", f.equilibrium_co2_conversion},
                                            {"solutions", solutions},
                                            {"highest_co2_conversion", {{"a2", f.highest.a2}, {"co2_conversion", f.highest.co2_conversion}}},
                                            {"reactor_runs", f.evaluations}}
                                 .dump(2)
                          << "\n";
            } else {
                std::cout.precision(6);
                std::cout << "a2 = " << f.a2 << " gives an outlet CO2 conversion of "
                          << 100.0 * f.co2_conversion << " % (target " << 100.0 * target
                          << " %; equilibrium at the outlet " << 100.0 * f.equilibrium_co2_conversion
                          << " %; " << f.evaluations << " reactor runs)\n";
                for (const fit_point& s : f.solutions) {
                    if (s.a2 == f.a2) continue;
                    std::cout << "a2 = " << s.a2 << " gives it too (" << 100.0 * s.co2_conversion
                              << " %): conversion rises with a2 up to " << 100.0 * f.highest.co2_conversion
                              << " % at a2 = " << f.highest.a2
                              << " and falls beyond; the a2 nearer the case's is reported first\n";
                }
            }
            return exit_ok;
        }
        reactor_case c = make_case(run_opts);
        const auto warnings = validate(c);
        warn(warnings);
        plugin lib(plugin_path);
        property_set props(c.tables);
        workbench_host h(lib, props);
        const result r = simulate(c, h);
        if (!csv_path.empty()) write_file(csv_path, profile_csv(c, r));
        if (!plot_path.empty()) write_plot(plot_path, c, r);
        if (json_out) {
            std::cout << result_json(c, r, warnings).dump(2) << "\n";
        } else {
            print_report(std::cout, c, r);
        }
        return exit_ok;
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
    } catch (const std::exception& e) {
        std::cerr << "urea-reactor: error: " << e.what() << "\n";
        return exit_solver;
    }
}
