// urea-reactor: runs a urea synthesis reactor with the compiled plug-in,
// acting as its host.
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
// plug-in that does not load). Every option is checked before anything
// runs; output files are written only when the run succeeded.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "model/case.h"
#include "session/check.h"
#include "session/crash_report.h"
#include "analysis/estimate.h"
#include "report/estimate_report.h"
#include "analysis/fit.h"
#include "io/output_files.h"
#include "model/reactor.h"
#include "report/run_report.h"
#include "io/runs_file.h"
#include "analysis/runs_model.h"
#include "analysis/sweep.h"
#include "session/version.h"
#include "session/session.h"

namespace {

using namespace workbench;

constexpr int exit_ok = 0;
constexpr int exit_solver = 1;
constexpr int exit_input = 2;

enum class number_rule { any, positive, non_negative };

// A number as the user wrote it: decimal, finite, within the rule; the
// message names the option. (NaN, infinities and 1e999 are refused.)
double parse_number(const std::string& option, const std::string& text, number_rule rule) {
    const std::string wanted = rule == number_rule::positive       ? "a number > 0"
                               : rule == number_rule::non_negative ? "a number >= 0"
                                                                   : "a finite number";
    const auto refuse = [&](const std::string& why) -> double {
        throw input_error(option + ": must be " + wanted + " (got " + text + (why.empty() ? "" : ", " + why) + ")");
    };
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) return refuse("");
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return refuse("");
    if (errno == ERANGE && std::abs(v) > 1.0) return refuse("too large for a double");
    if (!std::isfinite(v)) return refuse("");
    if (rule == number_rule::positive && !(v > 0.0)) return refuse("");
    if (rule == number_rule::non_negative && !(v >= 0.0)) return refuse("");
    return v;
}

// The options that change the case, as given (text), by name.
struct case_option {
    const char* name;
    const char* help;
};
constexpr case_option case_options[] = {
    {"--model", "Reactor model: 'trays' (N equal stirred trays in series, each solved with KINSOL) "
                "or 'pfr' (plug flow, integrated with CVODE BDF)"},
    {"--trays", "Number of equal stirred trays (1 to 10000)"},
    {"--volume", "Total reacting volume, m3 (> 0)"},
    {"--pressure", "Reactor pressure, bar (> 0). With the built-in properties it changes no "
                   "result: their fugacity coefficients are f/P, so P cancels in the plug-in's "
                   "rates; it matters with fugacity-coefficient tables from a case file"},
    {"--t-in", "Inlet temperature, C (the plug-in clamps to 149.85-199.85 C)"},
    {"--t-out", "Outlet temperature, C (plug flow: linear in volume; trays: evenly stepped from the "
                "first tray at the inlet temperature to the last at the outlet temperature)"},
    {"--co2", "Free CO2 feed, kmol/h (>= 0; NH3 and H2O keep their ratios to it)"},
    {"--nh3-co2", "Feed molar ratio NH3/CO2, carbamate counted as 2 NH3 + CO2 (sets the NH3 feed)"},
    {"--h2o-co2", "Feed molar ratio H2O/CO2, carbamate counted as CO2 (sets the H2O feed)"},
    {"--a1", "Carbamate-formation rate factor a1 (> 0)"},
    {"--a2", "Dehydration rate factor a2 (> 0; default 0.124)"},
};
using given_options = std::map<std::string, std::string>;

struct command_line {
    std::string case_file;
    given_options given;  // case options by name
};

void add_case_options(CLI::App& app, command_line& cl, std::map<std::string, std::string>& texts) {
    app.add_option("case", cl.case_file,
                   "Case file (JSON; see examples/default-case.json and docs/case-files.md). "
                   "Without one, the built-in default case runs.")
        ->check(CLI::ExistingFile);
    for (const case_option& o : case_options) app.add_option(o.name, texts[o.name], o.help);
}

// The options of this (sub)command that were given, by name.
given_options given_in(CLI::App& app, const std::map<std::string, std::string>& texts) {
    given_options g;
    for (const auto& [name, text] : texts) {
        if (app.get_option(name)->count() > 0) g[name] = text;
    }
    return g;
}

// Flows set from an option must be flows: named after the option.
void check_derived_flow(const std::string& option, const reactor_case& c, component i) {
    const double f = c.feed_kmol_h[i];
    std::ostringstream m;
    m << option << ": the " << component_names[i] << " feed would be " << f << " kmol/h";
    if (!(f >= 0.0)) {
        m << "; with the carbamate fed, which holds 2 NH3 per CO2, NH3/CO2 cannot be below "
          << 2.0 * c.feed_kmol_h[CARB] / (c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB]);
        throw input_error(m.str());
    }
    if (f > max_flow_kmol_h) {
        m << ", above " << max_flow_kmol_h << " kmol/h, more than any reactor takes";
        throw input_error(m.str());
    }
}

// The case: built-in or from the file, then the command line's changes.
reactor_case make_case(const command_line& cl) {
    reactor_case c = cl.case_file.empty() ? default_case() : read_case(cl.case_file);
    const auto has = [&](const char* name) { return cl.given.count(name) > 0; };
    const auto text = [&](const char* name) { return std::string(name) + " " + cl.given.at(name); };
    const auto number = [&](const char* name, number_rule rule) {
        return parse_number(name, cl.given.at(name), rule);
    };
    if (has("--model")) {
        const std::string& m = cl.given.at("--model");
        if (m != "trays" && m != "pfr") {
            throw input_error("--model: must be 'trays' or 'pfr' (got " + m + ")");
        }
        c.model = m == "pfr" ? reactor_model::pfr : reactor_model::trays;
    }
    if (has("--trays")) {
        const double t = number("--trays", number_rule::any);
        if (t != std::floor(t) || t < 1.0 || t > 10000.0) {
            throw input_error("--trays: must be a whole number from 1 to 10000 (got " +
                              cl.given.at("--trays") + ")");
        }
        c.trays = static_cast<int>(t);
    }
    if (has("--volume")) c.volume_m3 = number("--volume", number_rule::positive);
    if (has("--pressure")) c.pressure_bar = number("--pressure", number_rule::positive);
    if (has("--t-in")) c.inlet_temperature_C = number("--t-in", number_rule::any);
    if (has("--t-out")) c.outlet_temperature_C = number("--t-out", number_rule::any);
    if (has("--a1")) c.a1 = number("--a1", number_rule::positive);
    if (has("--a2")) c.a2 = number("--a2", number_rule::positive);
    if (has("--co2")) {
        const double co2 = number("--co2", number_rule::non_negative);
        if (co2 > max_flow_kmol_h) {
            throw input_error(text("--co2") + ": above " + std::to_string(static_cast<long>(max_flow_kmol_h)) +
                              " kmol/h, more than any reactor takes");
        }
        const double nh3 = nh3_co2_ratio(c), h2o = h2o_co2_ratio(c);
        c.feed_kmol_h[CO2] = co2;
        if (co2 + c.feed_kmol_h[CARB] > 0.0 && std::isfinite(nh3)) {
            set_nh3_co2_ratio(c, nh3);
            set_h2o_co2_ratio(c, h2o);
            check_derived_flow(text("--co2"), c, NH3);
            check_derived_flow(text("--co2"), c, H2O);
        }
    }
    // Ratios refer to all CO2 fed; without CO2 the check of the case says so.
    const bool has_co2 = c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB] > 0.0;
    if (has("--nh3-co2")) {
        const double r = number("--nh3-co2", number_rule::non_negative);
        if (has_co2) {
            set_nh3_co2_ratio(c, r);
            check_derived_flow(text("--nh3-co2"), c, NH3);
        }
    }
    if (has("--h2o-co2")) {
        const double r = number("--h2o-co2", number_rule::non_negative);
        if (has_co2) {
            set_h2o_co2_ratio(c, r);
            check_derived_flow(text("--h2o-co2"), c, H2O);
        }
    }
    return c;
}

void warn(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) std::cerr << "urea-reactor: warning: " << w << "\n";
}

// The outputs a run asks for, checked before it runs.
struct output_request {
    std::string csv, plot;
    void check() const {
        if (!csv.empty()) check_output_path("--csv", csv, output_kind::text);
        if (!plot.empty()) check_output_path("--plot", plot, output_kind::plot);
        if (!csv.empty() && csv == plot) throw input_error("--csv and --plot name the same file");
        if (!plot.empty() && !gnuplot_available()) {
            throw std::runtime_error("--plot: gnuplot is not installed (scripts/install-deps installs it)");
        }
    }
    // Writes them, all or none, after the run succeeded.
    void write(const reactor_case& c, const result& r) const {
        staged_outputs out;
        if (!csv.empty()) out.add_text(csv, profile_csv(c, r));
        if (!plot.empty()) out.add_plot(plot, plot_script(c, r));
        out.commit();
    }
};

nlohmann::ordered_json build_json(const std::string& plugin_path) {
    return {{"urea_reactor", workbench_version()},
            {"plugin", plugin_version_text(plugin_path)},
            {"plugin_file", plugin_path}};
}

// Loads the plug-in, with a crash while loading reported as such.
void load_plugin(std::optional<plugin>& lib, const std::string& plugin_path) {
    crash_report::install(plugin_path);
    const crash_report::in_plugin loading(crash_report::where::loading);
    lib.emplace(plugin_path);
}

std::string shown(double v) {
    std::ostringstream s;
    s.precision(6);
    s << v;
    return s.str();
}

// ---- estimate -------------------------------------------------------------

struct estimate_request {
    std::string runs_path;
    std::vector<std::string> fix;  // "a1=VALUE"
    std::string loss = "none";
    bool json = false;
    output_request out;
};

void parse_fix(const std::string& text, estimate_options& o) {
    const std::size_t eq = text.find('=');
    const std::string name = text.substr(0, eq);
    if (eq == std::string::npos || (name != "a1" && name != "a2")) {
        throw input_error("--fix " + text + ": write --fix a1=VALUE or --fix a2=VALUE");
    }
    const double v = parse_number("--fix " + name, text.substr(eq + 1), number_rule::positive);
    const std::size_t k = name == "a1" ? 0 : 1;
    if (o.fixed[k]) throw input_error("--fix " + text + ": " + name + " is held twice");
    if (v < o.lower || v > o.upper) {
        throw input_error("--fix " + text + ": must lie within " + shown(o.lower) + " .. " + shown(o.upper));
    }
    o.fixed[k] = v;
}

int estimate_command(const command_line& cl, const estimate_request& req, const std::string& plugin_path) {
    estimate_options opt;
    for (const std::string& f : req.fix) parse_fix(f, opt);
    if (req.loss == "none") {
        opt.loss = loss_kind::none;
    } else if (req.loss == "huber") {
        opt.loss = loss_kind::huber;
    } else if (req.loss == "cauchy") {
        opt.loss = loss_kind::cauchy;
    } else {
        throw input_error("--loss: must be none, huber or cauchy (got " + req.loss + ")");
    }
    const reactor_case base = make_case(cl);
    warn(validate(base));
    opt.initial = {base.a1, base.a2};
    for (std::size_t k = 0; k < 2; ++k) {
        const double v = opt.initial[k];
        if (!opt.fixed[k] && (v < opt.lower || v > opt.upper)) {
            const std::string name = k == 0 ? "a1" : "a2";
            throw input_error("--" + name + " (the start of the estimate): " + shown(v) +
                              " lies outside the search range " + shown(opt.lower) + " .. " +
                              shown(opt.upper));
        }
    }
    const int free = (opt.fixed[0] ? 0 : 1) + (opt.fixed[1] ? 0 : 1);
    const runs_file f = read_runs(req.runs_path);
    warn(f.warnings);
    check_measurement_count(f, free);
    std::vector<reactor_case> cases;
    std::vector<std::string> warnings;
    std::vector<observed_run> observed;
    for (const run& r : f.runs) {
        reactor_case c = case_of(base, r, f.file, &warnings);
        const std::size_t conv = static_cast<std::size_t>(quantity::co2_conversion);
        if (r.measured[conv] && !co2_conversion_defined(feed_kmol_s(c))) {
            throw runs_error(f.file + ":" + std::to_string(r.line) + ": column \"co2_conversion\" (" +
                             std::to_string(r.measured_column[conv]) + "): run \"" + r.name +
                             "\": the run feeds too little CO2 (free and as carbamate) for a conversion "
                             "per CO2 fed to mean anything");
        }
        cases.push_back(std::move(c));
        observed.push_back({r.name, r.measured});
    }
    warn(warnings);
    req.out.check();

    std::optional<plugin> lib;
    load_plugin(lib, plugin_path);
    property_set props(base.tables);
    workbench_host h(*lib, props);
    runs_model m(h, cases);
    // Every run must be solvable where the estimate starts (this also gives
    // each its first warm start).
    const double a1 = opt.fixed[0].value_or(opt.initial[0]), a2 = opt.fixed[1].value_or(opt.initial[1]);
    for (std::size_t i = 0; i < f.runs.size(); ++i) {
        const model::outcome o = m.predict(i, std::log(a1), std::log(a2));
        if (!o.ok) {
            throw solver_error(f.file + ":" + std::to_string(f.runs[i].line) + ": run \"" + f.runs[i].name +
                               "\": the reactor has no solution at the starting a1 = " + shown(a1) +
                               ", a2 = " + shown(a2) + ": " + o.failure);
        }
    }
    estimate_result res;
    try {
        res = estimate(m, observed, opt);
    } catch (const estimate_error& e) {
        throw solver_error(std::string("estimate: ") + e.what());
    } catch (const std::invalid_argument& e) {
        throw input_error(e.what());
    }
    const estimate_report report{&f, &opt, &res, m.solves()};
    {
        staged_outputs out;
        if (!req.out.csv.empty()) out.add_text(req.out.csv, estimate_csv(report));
        if (!req.out.plot.empty()) out.add_plot(req.out.plot, parity_plot_script(report));
        out.commit();
    }
    if (req.json) {
        auto j = estimate_json(report);
        j["base_case"] = case_json(base);
        j["build"] = build_json(plugin_path);
        std::cout << j.dump(2) << "\n";
    } else {
        print_estimate(std::cout, report);
    }
    return exit_ok;
}

// ---- sweep ----------------------------------------------------------------

int sweep_command(const command_line& cl, const std::vector<std::string>& vary, bool json,
                  const output_request& outputs, const std::string& plugin_path) {
    std::vector<sweep_variable> vars;
    for (const std::string& v : vary) vars.push_back(parse_vary(v));
    for (const auto& [option, text] : cl.given) {
        const std::string q = quantity_of_option(option);
        for (const sweep_variable& v : vars) {
            if (!q.empty() && q == v.name) {
                throw input_error("--vary " + v.given + " and " + option + " " + text + " both set " + q +
                                  ": give one of them");
            }
        }
    }
    const reactor_case base = make_case(cl);
    warn(validate(base));
    std::vector<std::string> warnings;
    const std::vector<reactor_case> cases = sweep_cases(base, vars, &warnings);
    warn(warnings);
    outputs.check();

    std::optional<plugin> lib;
    load_plugin(lib, plugin_path);
    property_set props(base.tables);
    workbench_host h(*lib, props);
    const sweep_result r = run_sweep(cases, vars, h);
    // Each failed point in one line (the first few), then the table.
    constexpr std::size_t listed = 20;
    std::size_t shown_failures = 0;
    for (std::size_t p = 0; p < r.points.size(); ++p) {
        if (r.points[p].ok) continue;
        if (shown_failures++ == listed) {
            std::cerr << "urea-reactor: solver failure at " << r.failed - listed
                      << " more points (each named in the table)\n";
            break;
        }
        std::cerr << "urea-reactor: solver failure at point " << p + 1 << " of " << r.points.size() << " ("
                  << point_text(r, p) << "): " << r.points[p].failure << "\n";
    }
    if (r.failed == r.points.size()) {
        std::cerr << "urea-reactor: solver failure: no point of the sweep was solved; nothing written\n";
        return exit_solver;
    }
    {
        staged_outputs out;
        if (!outputs.csv.empty()) out.add_text(outputs.csv, sweep_csv(r));
        if (!outputs.plot.empty()) out.add_plot(outputs.plot, sweep_plot_script(r));
        out.commit();
    }
    if (json) {
        auto j = sweep_json(r);
        j["base_case"] = case_json(base);
        j["build"] = build_json(plugin_path);
        std::cout << j.dump(2) << "\n";
    } else {
        print_sweep(std::cout, base, r);
    }
    return r.failed == 0 ? exit_ok : exit_solver;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "urea-reactor: runs a urea synthesis reactor (2 NH3 + CO2 <=> carbamate <=> urea + H2O) "
        "with the compiled plug-in liburea_plugin.so, acting as its host: the reactor model calls "
        "the plug-in's rate routine USURA, the outlet's NC-FLOW comes from UPROPU. Without a "
        "subcommand it runs a case and prints the tray table and the outlet summary.\n\n"
        "Exit status: 0 done, 1 a solver did not converge (or gnuplot failed), 2 bad input. "
        "A plug-in that crashes ends the program by its signal, with one line saying where.",
        "urea-reactor"};
    app.set_help_all_flag("--help-all", "Print the help of every subcommand");
    std::string plugin_path;
    command_line run_cl;
    std::map<std::string, std::string> run_texts;
    bool json_out = false, verbose = false, version = false;
    output_request run_out;
    app.add_flag("--version", version,
                 "Print the workbench's version and git commit, and the plug-in's, then exit");
    app.add_option("--plugin", plugin_path,
                   "Plug-in library to load (default: liburea_plugin.so beside this program)");
    add_case_options(app, run_cl, run_texts);
    app.add_flag("--json", json_out, "Print the whole result as one JSON document instead of the table");
    app.add_flag("--verbose", verbose,
                 "After a solver failure's one-line message, list what each start ended with");
    app.add_option("--csv", run_out.csv, "Also write the tray (or station) profile to this CSV file");
    app.add_option("--plot", run_out.plot,
                   "Also draw the conversion and composition profiles with gnuplot to this file "
                   "(.svg or .png)");

    CLI::App* fit = app.add_subcommand(
        "fit", "Find the dehydration rate factor a2 that gives an outlet CO2 conversion: a2 "
               "scanned over decades, the a2 that give the target narrowed with TOMS 748 on ln a2. "
               "A target above what any a2 reaches is refused; of two a2 that reach it (a "
               "temperature falling along the reactor), the one nearer the case's is reported.");
    command_line fit_cl;
    std::map<std::string, std::string> fit_texts;
    std::string target_text;
    bool fit_json = false;
    output_request fit_out;
    fit->add_option("--co2-conversion", target_text,
                    "Wanted outlet CO2 conversion, a fraction (e.g. 0.58)")
        ->required();
    fit->add_option("--plugin", plugin_path, "Plug-in library to load");
    add_case_options(*fit, fit_cl, fit_texts);
    fit->add_flag("--json", fit_json, "Print the result as JSON");
    fit->add_option("--csv", fit_out.csv, "Also write the fitted run's profile to this CSV file");
    fit->add_option("--plot", fit_out.plot, "Also draw the fitted run's profiles (.svg or .png)");

    CLI::App* check = app.add_subcommand(
        "check", "Check a plug-in build: does it load into this host (and if not, which host "
                 "symbol is missing), does it export CMPLOC, USURA and UPROPU, and do USURA and "
                 "UPROPU reproduce known reference results? It runs the build in a child process: "
                 "one that crashes or hangs, even while loading, is reported. Exit status 0 only "
                 "if all hold.");
    check->add_option("--plugin", plugin_path, "Plug-in library to check (default: the one beside this program)");
    std::string timeout_text = "10";
    check->add_option("--timeout", timeout_text,
                      "Seconds the build may take to load and answer the reference evaluations "
                      "(default 10)");

    CLI::App* est = app.add_subcommand(
        "estimate",
        "Tune a1 and a2 against plant test runs (a runs file: CSV, one row per run, each changing "
        "some case quantities and giving the measured CO2 conversion and/or the outlet's lab "
        "analysis; docs/runs-files.md): weighted least squares in ln a1 and ln a2 (Ceres, "
        "Levenberg-Marquardt, several starts over decades), 95 % intervals, correlation, reduced "
        "chi-square, standardised residuals with possible outliers flagged, and a verdict in plain "
        "words saying whether the data determine each factor. Each run is the base case (the "
        "built-in one or CASE, with the case options) changed by its row; --a1 and --a2 set where "
        "the search starts. Exit status 0 with a result (also when a factor is not determined), "
        "2 bad input (the message names file, line and column), 1 a run the reactor cannot solve "
        "at the start or no usable fit.");
    estimate_request est_req;
    command_line est_cl;
    std::map<std::string, std::string> est_texts;
    est->add_option("runs", est_req.runs_path, "Runs file (CSV; see docs/runs-files.md)")->required();
    est->add_option("--plugin", plugin_path, "Plug-in library to load");
    add_case_options(*est, est_cl, est_texts);
    est->add_option("--fix", est_req.fix,
                    "Hold a rate factor and estimate the other: --fix a1=VALUE or --fix a2=VALUE "
                    "(both: the residuals at those values)")
        ->allow_extra_args(false);
    est->add_option("--loss", est_req.loss,
                    "none (least squares, default), huber or cauchy: robust losses that lessen the "
                    "pull of outliers");
    est->add_flag("--json", est_req.json, "Print the whole result as one JSON document");
    est->add_option("--csv", est_req.out.csv,
                    "Also write one row per run and measurement (measured, predicted, residual) to "
                    "this CSV file");
    est->add_option("--plot", est_req.out.plot,
                    "Also draw a parity plot, measured against predicted, with gnuplot (.svg or .png)");

    CLI::App* sweep = app.add_subcommand(
        "sweep",
        "Run the reactor over a grid of one or two case quantities: --vary NAME=FROM:TO:N (N "
        "points; a1 and a2 evenly spaced in ln, anything else evenly; NAME=log:FROM:TO:N or "
        "lin:FROM:TO:N to choose). NAME: a1, a2, trays, volume, pressure, t-in, t-out, co2, "
        "nh3_co2, h2o_co2, feed_kmol_h.<component> (a runs file's column names work too). Prints "
        "per point the CO2 conversion, the equilibrium conversion at the outlet and the outlet's "
        "NC-FLOW mass fractions (from UPROPU). A point the reactor cannot solve is reported and "
        "the sweep goes on. Exit status 0 all points solved, 1 some failed (the table and files "
        "still written, failed points marked; nothing written when none solved), 2 bad input.");
    command_line sweep_cl;
    std::map<std::string, std::string> sweep_texts;
    std::vector<std::string> vary;
    bool sweep_json_out = false;
    output_request sweep_out;
    // One value a --vary (or --fix): what follows is the case file.
    sweep->add_option("--vary", vary, "NAME=FROM:TO:N, once or twice (the second: a family of curves)")
        ->required()
        ->allow_extra_args(false);
    sweep->add_option("--plugin", plugin_path, "Plug-in library to load");
    add_case_options(*sweep, sweep_cl, sweep_texts);
    sweep->add_flag("--json", sweep_json_out, "Print the whole result as one JSON document");
    sweep->add_option("--csv", sweep_out.csv, "Also write one row per point to this CSV file");
    sweep->add_option("--plot", sweep_out.plot,
                      "Also draw the results against the first variable (one curve per value of "
                      "the second) with gnuplot (.svg or .png)");

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
        if (version) {
            std::cout << workbench_version() << "\n"
                      << "plug-in " << plugin_path << ": " << plugin_version_text(plugin_path) << "\n";
            return exit_ok;
        }
        if (check->parsed()) {
            // Options of a run do nothing here: say so rather than ignore them.
            for (const CLI::Option* o : app.get_options()) {
                const std::string name = o->get_name();
                if (o->count() > 0 && name != "--plugin" && name != "--help" && name != "--help-all") {
                    throw input_error(name + ": not an option of check");
                }
            }
            const double timeout = parse_number("--timeout", timeout_text, number_rule::positive);
            std::cout << workbench_version() << " checks " << plugin_path << ": "
                      << plugin_version_text(plugin_path) << "\n";
            bool all = true;
            for (const verdict& v : check_plugin(plugin_path, timeout)) {
                std::cout << (v.ok ? "ok:     " : "FAILED: ") << v.text << "\n";
                all = all && v.ok;
            }
            std::cout << (all ? "The plug-in build is good.\n" : "The plug-in build is NOT good.\n");
            return all ? exit_ok : exit_input;
        }
        if (est->parsed() || sweep->parsed()) {
            // As with fit: options given before the subcommand count too,
            // unless given again after it.
            CLI::App& sub = est->parsed() ? *est : *sweep;
            command_line cl = est->parsed() ? est_cl : sweep_cl;
            if (cl.case_file.empty()) cl.case_file = run_cl.case_file;
            cl.given = given_in(sub, est->parsed() ? est_texts : sweep_texts);
            for (const auto& [name, text] : given_in(app, run_texts)) cl.given.emplace(name, text);
            output_request out = est->parsed() ? est_req.out : sweep_out;
            if (out.csv.empty()) out.csv = run_out.csv;
            if (out.plot.empty()) out.plot = run_out.plot;
            if (est->parsed()) {
                estimate_request req = est_req;
                req.out = out;
                req.json = req.json || json_out;
                return estimate_command(cl, req, plugin_path);
            }
            return sweep_command(cl, vary, sweep_json_out || json_out, out, plugin_path);
        }
        if (fit->parsed()) {
            // Options given before the subcommand count too, unless given again after it.
            command_line cl = fit_cl;
            if (cl.case_file.empty()) cl.case_file = run_cl.case_file;
            cl.given = given_in(*fit, fit_texts);
            for (const auto& [name, text] : given_in(app, run_texts)) cl.given.emplace(name, text);
            output_request out = fit_out;
            if (out.csv.empty()) out.csv = run_out.csv;
            if (out.plot.empty()) out.plot = run_out.plot;
            const double target = parse_number("--co2-conversion", target_text, number_rule::positive);
            if (!(target < 1.0)) {
                throw input_error("--co2-conversion: the target must be a fraction between 0 and 1 (got " +
                                  target_text + ")");
            }
            reactor_case c = make_case(cl);
            warn(validate(c));
            out.check();
            crash_report::install(plugin_path);
            std::optional<plugin> lib;
            {
                const crash_report::in_plugin loading(crash_report::where::loading);
                lib.emplace(plugin_path);
            }
            property_set props(c.tables);
            workbench_host h(*lib, props);
            const fit_result f = fit_a2(c, h, target);
            reactor_case fitted = c;
            fitted.a2 = f.a2;
            out.write(fitted, f.run);
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
                                            {"reactor_runs", f.evaluations},
                                            {"build", build_json(plugin_path)}}
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
        command_line cl = run_cl;
        cl.given = given_in(app, run_texts);
        reactor_case c = make_case(cl);
        const auto warnings = validate(c);
        warn(warnings);
        run_out.check();
        crash_report::install(plugin_path);
        std::optional<plugin> lib;
        {
            const crash_report::in_plugin loading(crash_report::where::loading);
            lib.emplace(plugin_path);
        }
        property_set props(c.tables);
        workbench_host h(*lib, props);
        const result r = simulate(c, h);
        run_out.write(c, r);
        if (json_out) {
            auto j = result_json(c, r, warnings);
            j["build"] = build_json(plugin_path);
            std::cout << j.dump(2) << "\n";
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
