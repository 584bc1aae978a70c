#include "cli/options.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "base/text.h"
#include "model/results.h"
#include "base/errors.h"

namespace workbench::cli {

namespace {

// --result's help: every name, from the results' list.
const char* study_result_help() {
    static const std::string help = [] {
        std::string s = "Results to tabulate, by name (again or comma-separated for more; default: co2_conversion, "
                        "equilibrium_co2_conversion, w_NH3, w_CO2, w_UREA, w_H2O): ";
        bool first = true;
        for (const result_kind& k : result_kinds()) {
            s += (first ? "" : ", ") + std::string(k.name);
            first = false;
        }
        return s + " (<C>: a component, @N: a tray; --list-results says what each is)";
    }();
    return help.c_str();
}

}  // namespace

const std::vector<option_spec>& option_specs() {
    static const std::vector<option_spec> specs = {
        {"--version", nullptr, run_cmd,
         "Print the workbench's version and git commit, and the plug-in's, then exit"},
        {"--co2-conversion", "FRACTION", fit_cmd, "Wanted outlet CO2 conversion, a fraction (e.g. 0.58)", false, true},
        {"runs", "RUNS.csv", estimate_cmd | design_cmd, "Runs file (CSV; see docs/runs-files.md)", false, true},
        {"history", "HISTORY.csv", monitor_cmd,
         "Plant history (CSV): a runs file's columns plus a time column, one row per time (docs/monitor.md)", false,
         true},
        {"source", "SOURCE", watch_cmd,
         "What to follow: a plant history file that grows (rows appended), or a folder of exports (each *.csv read "
         "once); without it, the store is read back"},
        // One value a --vary (or --fix): what follows is the case file.
        {"--vary", "NAME=FROM:TO:N", sweep_cmd, "NAME=FROM:TO:N, once or twice (the second: a family of curves)",
         true, true},
        {"--plugin", "PATH", run_cmd, "Plug-in library to load (default: liburea_plugin.so beside this program)"},
        {"--plugin", "PATH", fit_cmd | estimate_cmd | sweep_cmd, "Plug-in library to load"},
        {"--plugin", "PATH", check_cmd, "Plug-in library to check (default: the one beside this program)"},
        {"case", "CASE.json", case_commands,
         "Case file (JSON; see examples/default-case.json and docs/case-files.md). Without one, the "
         "built-in default case runs."},
        {"--model", "trays|pfr", case_commands,
         "Reactor model: 'trays' (N equal stirred trays in series, each solved with KINSOL) or 'pfr' "
         "(plug flow, integrated with CVODE BDF)"},
        {"--trays", "N", case_commands, "Number of equal stirred trays (1 to 10000)"},
        {"--volume", "M3", case_commands, "Total reacting volume, m3 (> 0)"},
        {"--pressure", "BAR", case_commands,
         "Reactor pressure, bar (> 0). With the built-in properties it changes no result: their "
         "fugacity coefficients are f/P, so P cancels in the plug-in's rates; it matters with "
         "fugacity-coefficient tables from a case file"},
        {"--t-in", "CELSIUS", case_commands, "Inlet temperature, C (the plug-in clamps to 149.85-199.85 C)"},
        {"--t-out", "CELSIUS", case_commands,
         "Outlet temperature, C (plug flow: linear in volume; trays: evenly stepped from the first tray "
         "at the inlet temperature to the last at the outlet temperature)"},
        {"--co2", "KMOL/H", case_commands,
         "Free CO2 feed, kmol/h (>= 0; NH3 and H2O keep their ratios to it)"},
        {"--nh3-co2", "RATIO", case_commands,
         "Feed molar ratio NH3/CO2, carbamate counted as 2 NH3 + CO2 (sets the NH3 feed)"},
        {"--h2o-co2", "RATIO", case_commands,
         "Feed molar ratio H2O/CO2, carbamate counted as CO2 (sets the H2O feed)"},
        {"--a1", "NUMBER", case_commands, "Carbamate-formation rate factor a1 (> 0)"},
        {"--a2", "NUMBER", case_commands, "Dehydration rate factor a2 (> 0; default 0.124)"},
        {"--fix", "a1=VALUE", estimate_cmd | design_cmd,
         "Hold a rate factor and estimate the other: --fix a1=VALUE or --fix a2=VALUE (both: the "
         "residuals at those values)",
         true},
        {"--loss", "none|huber|cauchy", estimate_cmd,
         "none (least squares, default), huber or cauchy: robust losses that lessen the pull of outliers"},
        {"--bootstrap", "N", estimate_cmd,
         "Also refit N resamples of the runs (drawn with replacement, whole runs) for bootstrap percentile "
         "intervals (1 to 100000; 200 is usual)"},
        {"--seed", "S", estimate_cmd,
         "Seed of the bootstrap's draws, a whole number 0 to 2^64-1 (default 1): the same seed, the same "
         "resamples"},
        {"--region-plot", "FILE", estimate_cmd,
         "Also draw the joint 95 % region of a1 and a2 (likelihood ratio) with the linearised ellipse, and "
         "each factor's profile likelihood, with gnuplot (.svg or .png)"},
        {"--write-case", "FILE.json", estimate_cmd,
         "Also write the tuned case: the base case with the estimated factors (only a determined factor "
         "changed; the others kept, and said so in its comments), a case file urea-reactor runs"},
        {"--report", "FILE.html", estimate_cmd,
         "Also write the whole estimate as one self-contained HTML page (plots inline, no scripts, nothing "
         "fetched): runs, parity and region plots, intervals, verdict, tuned case, versions and SHA-256 of "
         "the inputs"},
        {"--estimate", "EST.json", run_cmd | sweep_cmd | study_cmd,
         "Run at the rate factors of an estimate (the JSON `urea-reactor estimate RUNS.csv --json` writes), each "
         "result with its 95 % band from the factors' uncertainty; the estimate sets a1 and a2"},
        {"--band", "profile|linearised", run_cmd | sweep_cmd | study_cmd,
         "With --estimate: the band's way: profile (default where the estimate has it: the result's range over the "
         "joint 95 % likelihood region of a1 and a2, or one factor's profile interval) or linearised (the delta "
         "method with the covariance)"},
        {"--carry-factors", nullptr, run_cmd | sweep_cmd | study_cmd,
         "With --estimate: use its factors on a case that differs from the one they were tuned on (reactor, "
         "property tables, feed beyond its NH3/CO2 and H2O/CO2 ratios), which is refused without it"},
        {"--json", nullptr, run_cmd, "Print the whole result as one JSON document instead of the table"},
        {"--json", nullptr, fit_cmd, "Print the result as JSON"},
        {"--json", nullptr, estimate_cmd, "Print the whole result as one JSON document"},
        {"--json", nullptr, sweep_cmd,
         "Print the whole result as one JSON document instead of the table"},
        {"--verbose", nullptr, case_commands,
         "After a solver failure's one-line message, list what each start ended with"},
        {"--quiet", nullptr, case_commands | check_cmd,
         "Write no warnings, notes, summary or progress line to standard error (errors still are; the progress line "
         "of the commands with workers is shown only when standard error is a terminal)"},
        {"--csv", "FILE", run_cmd, "Also write the tray (or station) profile to this CSV file"},
        {"--csv", "FILE", fit_cmd, "Also write the fitted run's profile to this CSV file"},
        {"--csv", "FILE", estimate_cmd,
         "Also write one row per run and measurement (measured, predicted, residual) to this CSV file"},
        {"--csv", "FILE", sweep_cmd,
         "Also write one row per point to this CSV file (then a summary goes to standard error instead of the "
         "table; --table prints the table too)"},
        {"--plot", "FILE", run_cmd,
         "Also draw the conversion and composition profiles with gnuplot to this file (.svg or .png)"},
        {"--plot", "FILE", fit_cmd, "Also draw the fitted run's profiles (.svg or .png)"},
        {"--plot", "FILE", estimate_cmd,
         "Also draw a parity plot, measured against predicted, with gnuplot (.svg or .png)"},
        {"--plot", "FILE", sweep_cmd,
         "Also draw the results against the first variable (one curve per value of the second) with "
         "gnuplot (.svg or .png)"},
        // urea-reactor study.
        {"--vary", "NAME=FROM:TO:N", study_cmd | design_cmd,
         "NAME=FROM:TO:N (N points; NAME=log:FROM:TO:N or lin:FROM:TO:N to choose the spacing) or "
         "NAME=V1,V2,... (those values); any number of times, every combination run. NAME: a1, a2, "
         "model (model=trays,pfr), trays, volume, pressure, t-in, t-out, co2, nh3_co2, h2o_co2, "
         "feed_kmol_h.<component>, or a runs file's setting column",
         true},
        {"--cases", "FILE.csv", study_cmd | design_cmd,
         "A case table instead of --vary: one case per row, the base case changed by the row as by a "
         "runs file's (its setting columns, and a1, a2, model); other columns (a tag, a date) are carried "
         "through to the output"},
        {"--result", "NAME[,NAME...]", study_cmd, study_result_help(), true},
        {"--list-results", nullptr, study_cmd, "List every result with its unit and meaning, then exit"},
        {"--json", nullptr, study_cmd,
         "Print the whole study as one JSON document instead of the table: each point with its settings and its "
         "results by name"},
        {"--csv", "FILE", study_cmd,
         "Also write one row per point to this CSV file, as the study goes (then a summary goes to standard error "
         "instead of the table; --table prints the table too)"},
        {"--table", nullptr, sweep_cmd | study_cmd,
         "Print the table also when the points are written to a file (--csv, --plot, --map), which otherwise "
         "prints a summary to standard error instead"},
        {"--plot", "FILE", study_cmd,
         "Also draw the results against the first varied quantity (a case table: the row), one curve per "
         "value of the others, with gnuplot (.svg or .png)"},
        {"--map", "RESULT FILE", study_cmd,
         "Also draw a map of RESULT over the two varied quantities (filled contours with labelled lines) "
         "to FILE (.svg or .png); may be given again for other results",
         true, false, 2},
        {"--plugin", "PATH", study_cmd | design_cmd, "Plug-in library to load"},
        // urea-reactor design.
        {"--estimate", "EST.json", design_cmd,
         "The current estimate (the JSON `urea-reactor estimate RUNS.csv --json` writes) of these runs; without it "
         "the runs are estimated here (the fit alone, --fix holding a factor)"},
        {"--measure", "NAME[,NAME...]", design_cmd,
         "What the next run would measure: co2_conversion, w_NH3, w_CO2, w_UREA, w_H2O, or all (default: what most "
         "of the current runs measure), each with the median of the current runs' sigmas for it"},
        {"--for", "a1|a2", design_cmd,
         "Rank by this factor's expected 95 % interval alone (default: D-optimal, both free factors)"},
        {"--top", "N", design_cmd, "Print the N best candidates (default 10) and the median one"},
        {"--json", nullptr, design_cmd, "Print the whole design as one JSON document: every candidate"},
        {"--csv", "FILE", design_cmd, "Also write every candidate (settings, rank, expected intervals) to this CSV file"},
        {"--map", "FILE", design_cmd,
         "Also draw a map of the ranked measure (the region's area or the interval's width after the run, % of "
         "now) over the two varied settings (.svg or .png)"},
        {"--jobs", "N", estimate_cmd | sweep_cmd | study_cmd | design_cmd | monitor_cmd | watch_cmd,
         "Worker processes that solve at once, each with its own copy of the plug-in (default: the cores this "
         "process may use; 1: all in this process). The results are the same, to the last bit, for any N"},
        {"--worker-timeout", "SECONDS", estimate_cmd | sweep_cmd | study_cmd | design_cmd | monitor_cmd | watch_cmd,
         "A worker that makes no call into the plug-in for this long is taken to hang, ended, and its work reported "
         "as failed (default 10)"},
        // urea-reactor monitor.
        {"--window", "DURATION", monitor_cmd | watch_cmd,
         "Length of each window, a number and a unit s, min, h, d or w (default 24h): the rows of a window are one "
         "operating point when the reactor was steady in it"},
        {"--step", "DURATION", monitor_cmd | watch_cmd, "Start of one window to the next (default: the window; at most the window)"},
        {"--sort", nullptr, monitor_cmd,
         "Put the rows in time order (without it, a time not after the row before's is refused, naming its line)"},
        {"--fix", "a1=VALUE", monitor_cmd | watch_cmd,
         "Hold a1 (default: estimated once from the steady windows, or the case's a1 when they do not determine it)"},
        {"--frozen", "DURATION", monitor_cmd | watch_cmd,
         "A meter that repeats one value for longer than this is frozen, its values left out (default 6h)"},
        {"--meter-sigma", "NAME=PERCENT", monitor_cmd | watch_cmd,
         "Standard uncertainty of a feed meter's reading, in per cent of the reading, for the atom balance: NAME a "
         "feed flow or ratio column, e.g. feed_kmol_h.CO2=2 (default 1 for each); again for another meter",
         true},
        {"--json", nullptr, monitor_cmd,
         "Print the whole monitor as one JSON document: history, screening, windows, drifts"},
        {"--csv", "FILE", monitor_cmd, "Also write one row per window to this CSV file"},
        {"--plot", "FILE", monitor_cmd,
         "Also draw a2 with its intervals and the drifts, the conversions and the balance test over time (.svg or .png)"},
        {"--report", "FILE.html", monitor_cmd,
         "Also write the whole monitor as one self-contained HTML page (the plot inline, no scripts, nothing fetched)"},
        {"--plugin", "PATH", monitor_cmd | watch_cmd, "Plug-in library to load"},
        // urea-reactor watch.
        {"--store", "STORE", watch_cmd,
         "The store: an SQLite file (made at the first pass), or a PostgreSQL server, postgresql://USER@HOST/DATABASE",
         false, true},
        {"--readings", "TABLE", watch_cmd,
         "Follow a table of readings in the store's database instead of a SOURCE: a historian's long form, the "
         "columns id (growing as readings are added), time, tag, value; each reading read once"},
        {"--tag-map", "FILE", watch_cmd,
         "The readings' tags as the history's columns: CSV with the columns tag, column, unit (C, F, K, bar, kPa, MPa, "
         "kmol/h, kmol/s, mol/s, fraction, %)"},
        {"--every", "DURATION", watch_cmd, "Keep running: a pass each DURATION (without it, one pass, for cron or a timer)"},
        {"--reread", nullptr, watch_cmd,
         "Read the source again from its start (the rows kept are dropped), where rows already read have changed"},
        {"--dry-run", nullptr, watch_cmd, "Make the pass and print what it finds and would send; keep nothing, send nothing"},
        {"--pending", "DURATION", watch_cmd,
         "An alert's condition must hold this long before it fires (default 0: at once; the evidence is already "
         "accumulated over windows)"},
        {"--lab-gap", "DURATION", watch_cmd, "Alert when no lab sample came for longer than this (default 12h)"},
        {"--stale", "DURATION", watch_cmd, "Alert when no new row came for longer than this (default two windows)"},
        {"--approach-below", "FRACTION", watch_cmd,
         "Alert when the latest window's approach to equilibrium (conversion measured / at equilibrium) is below this"},
        {"--smtp", "URL", watch_cmd, "Send the alerts by e-mail through this server: smtp://HOST:PORT or smtps://..."},
        {"--mail-from", "ADDRESS", watch_cmd, "The alerts' sender (default urea-reactor@localhost)"},
        {"--mail-to", "ADDRESS", watch_cmd, "An address to send the alerts to; again for another", true},
        {"--webhook", "URL", watch_cmd, "POST each alert's change as JSON to this URL (http:// or https://)"},
        {"--json", nullptr, watch_cmd,
         "Print what the store holds as one JSON document: monitor's (windows, drifts, trends, meters, screening) "
         "and the alerts"},
        {"--csv", "FILE", watch_cmd, "Also write the store's windows, one row each, to this CSV file"},
        {"--plot", "FILE", watch_cmd, "Also draw the store's monitor as monitor --plot does (.svg or .png)"},
        {"--report", "FILE.html", watch_cmd, "Also write the store's monitor as monitor --report does"},
        // urea-reactor serve.
        {"--store", "STORE", serve_cmd, "The store that watch keeps (an SQLite file or postgresql://...), opened read-only",
         false, true},
        {"--listen", "HOST:PORT", serve_cmd,
         "Where to listen (default 127.0.0.1:8080); an address other than the loopback needs --token-file"},
        {"--token-file", "FILE", serve_cmd,
         "Require the token on this file's first line (16 characters or more) of every request: Authorization: Bearer "
         "TOKEN, or the browser's sign-in page"},
        {"--tls-cert", "FILE", serve_cmd, "Serve HTTPS with this certificate (PEM; with --tls-key)"},
        {"--tls-key", "FILE", serve_cmd, "The certificate's private key (PEM)"},
        // urea-reactor quantities.
        {"--json", nullptr, quantities_cmd, "Print every type and its fields as one JSON document instead of the tables"},
        {"--time-limit", "SECONDS", case_commands | check_cmd,
         "Stop the whole command after this many seconds (wall clock): temporary files removed, exit "
         "status 124"},
        {"--timeout", "SECONDS", check_cmd,
         "Seconds the build may take to load and answer the reference evaluations (default 10)"},
    };
    return specs;
}

const std::vector<command_spec>& command_specs() {
    static const std::vector<command_spec> commands = {
        {fit_cmd, "fit",
         "Find the dehydration rate factor a2 that gives an outlet CO2 conversion: a2 scanned over "
         "decades, the a2 that give the target narrowed with TOMS 748 on ln a2. A target above what any "
         "a2 reaches is refused; of two a2 that reach it (a temperature falling along the reactor), the "
         "one nearer the case's is reported."},
        {check_cmd, "check",
         "Check a plug-in build: does it load into this host (and if not, which host symbol is "
         "missing), does it export CMPLOC, USURA and UPROPU, and do USURA and UPROPU reproduce known "
         "reference results? It runs the build in a child process: one that crashes or hangs, even "
         "while loading, is reported. Exit status 0 only if all hold."},
        {estimate_cmd, "estimate",
         "Tune a1 and a2 against plant test runs (a runs file: CSV, one row per run, each changing some "
         "case quantities and giving the measured CO2 conversion and/or the outlet's lab analysis; "
         "docs/runs-files.md): weighted least squares in ln a1 and ln a2 (Ceres, Levenberg-Marquardt, "
         "several starts over decades), 95 % profile-likelihood intervals (open where the data allow no "
         "bound) and linearised ones, correlation, reduced chi-square, the joint 95 % region, each run left "
         "out (and the bootstrap, --bootstrap N), standardised residuals with possible outliers flagged, a "
         "verdict in plain words drawn from the profiles saying whether the data determine each factor, and "
         "the tuned case (--write-case). Each run is the base case (the built-in one or CASE, with the case "
         "options) changed by its row; --a1 and --a2 set where the search starts. Exit status 0 with a "
         "result (also when a factor is not determined), 2 bad input (the message names file, line and "
         "column), 1 a run the reactor cannot solve at the start or no usable fit."},
        {sweep_cmd, "sweep",
         "Run the reactor over a grid of one or two case quantities: --vary NAME=FROM:TO:N (N points; a1 "
         "and a2 evenly spaced in ln, anything else evenly; NAME=log:FROM:TO:N or lin:FROM:TO:N to "
         "choose). NAME: a1, a2, trays, volume, pressure, t-in, t-out, co2, nh3_co2, h2o_co2, "
         "feed_kmol_h.<component> (a runs file's column names work too). Prints per point the CO2 "
         "conversion, the equilibrium conversion at the outlet and the outlet's NC-FLOW mass fractions "
         "(from UPROPU). A point the reactor cannot solve is reported and the sweep goes on. Exit status "
         "0 all points solved, 1 some failed (the table and files still written, failed points marked; "
         "nothing written when none solved), 2 bad input."},
        {study_cmd, "study",
         "Case study: run the reactor over a grid of any number of case quantities (--vary, each by a "
         "range or a list of values; every combination) or over the rows of a case table (--cases "
         "FILE.csv), and tabulate the results asked for by name (--result; --list-results lists them "
         "with their units; default: the CO2 conversion, the equilibrium conversion at the outlet and "
         "the outlet's NC-FLOW mass fractions). Each point is a whole run, warm-started from its nearest "
         "solved neighbour; a point the reactor cannot solve is reported and the study goes on. Output: "
         "a table, --json (each point's settings and results by name), --csv (rows written as they come), "
         "--plot (curves) and --map RESULT FILE (a map over two quantities). Exit status 0 all points "
         "solved, 1 some failed (outputs written, failed points marked; nothing written when none solved), "
         "2 bad input."},
        {design_cmd, "design",
         "Design the next test run: from the current runs (RUNS.csv) and their estimate (--estimate EST.json, or "
         "estimated here), and the settings the operator may change (--vary NAME=FROM:TO:N or NAME=V1,V2,... as a "
         "study takes them, or --cases FILE.csv), rank the candidate runs by how much adding each, measured as "
         "the current runs are (--measure), would shrink the uncertainty of a1 and a2 (D-optimal: the linearised "
         "joint region's area; --for a1|a2: one factor's interval), with the expected 95 % intervals after it; "
         "says in words when no candidate within the ranges can determine a factor. Output: the top candidates, "
         "--json, --csv (all of them), --map FILE (the measure over two settings). Exit status 0 done, 1 no "
         "candidate solved (or the map failed), 2 bad input."},
        {monitor_cmd, "monitor",
         "Follow the reactor through a plant history (HISTORY.csv: a runs file's columns plus a time column, rows at "
         "any interval, lab samples on some rows; docs/monitor.md): each column screened (missing cells, frozen "
         "meters, values out of bounds, spikes: left out and counted), the history cut into windows (--window, "
         "--step), each tested for steadiness (a load ramp is not fitted) and for the atom balance of the feed "
         "meters against the lab analysis (each reconciled; a failing window names the meter or lab value most "
         "likely wrong and leaves it out), each steady window fitted as one run for a2 with its 95 % profile-likelihood interval "
         "(a1 held with --fix, or estimated once), with the conversion measured, predicted and at equilibrium and "
         "the approach to equilibrium; then where a2 changed (drifts, with the ratio after/before and its 95 % "
         "interval). Output: a table, --json, --csv, --plot, --report. Exit status 0 done (also when no window could "
         "be fitted: each says why), 1 no window solved, 2 bad input."},
        {watch_cmd, "watch",
         "Keep a plant's monitor current in a store (--store: an SQLite file or a PostgreSQL server): each pass "
         "reads what is new in SOURCE (rows appended to a history file, or new files in a folder of exports), keeps "
         "the rows, follows the history as monitor does up to the end of the last complete window (the case and "
         "monitor's options fixed at the store's first pass), accumulates the evidence over windows, and raises "
         "alerts (a2 changed or trending, a meter biased, a sensor frozen, no lab sample, no new data, a low "
         "approach to equilibrium), pending, firing, resolved, each sent once by e-mail (--smtp) or to a webhook "
         "(--webhook). One pass is one transaction. --every keeps it running. Without SOURCE, prints what the "
         "store holds (--json, --csv, --plot, --report as monitor's, with the alerts). Exit status 0 done, 1 no "
         "window solved, 2 bad input (file, line and column named) or a store that cannot be used, 4 the store held by another watcher."},
        {serve_cmd, "serve",
         "Serve a store that watch keeps (--store), read-only, over HTTP: a live page (a2 with its intervals, the drifts "
         "and trends, the conversions and the approach, each meter's bias, the alerts, the screening; zoom, a window's "
         "detail on click, updated as watch adds windows; the windows CSV, the monitor JSON and the HTML report to "
         "download) and a JSON API under /api/v1/ (docs/reference/api.md). Listens on 127.0.0.1:8080 unless --listen "
         "says otherwise; anywhere but the loopback only with --token-file; HTTPS with --tls-cert and --tls-key. Runs "
         "until stopped. Exit status 2 bad input or a store that cannot be read or a port that cannot be had."},
        {quantities_cmd, "quantities",
         "List every quantity the workbench reads or writes, by type (a case, a result, a profile, a run, an estimate, "
         "a study point, a design candidate, a monitor window, a drift, a screening finding, ...): each field's name, "
         "unit, kind, bounds and meaning, as the tables, the CSV files and Python's DataFrames take them. --json: one "
         "JSON document (docs/reference/quantities.md is made from it)."},
    };
    return commands;
}

std::string invocation::text(const std::string& name, const std::string& otherwise) const {
    const auto it = given_.find(name);
    return it == given_.end() || it->second.empty() ? otherwise : it->second.back();
}

std::vector<std::string> invocation::texts(const std::string& name) const {
    const auto it = given_.find(name);
    return it == given_.end() ? std::vector<std::string>{} : it->second;
}

namespace {

// One command's options as CLI11 holds them.
struct parsed_command {
    CLI::App* app = nullptr;
    unsigned which = run_cmd;
    std::map<std::string, CLI::Option*> options;
    std::map<std::string, std::vector<std::string>> values;
};

void declare(parsed_command& c) {
    for (const option_spec& s : option_specs()) {
        if ((s.commands & c.which) == 0) continue;
        CLI::Option* o = nullptr;
        if (s.value == nullptr) {
            o = c.app->add_flag(s.name, s.help);
        } else {
            o = c.app->add_option(s.name, c.values[s.name], s.help)->type_name(s.value)->allow_extra_args(false);
            // One value each time; one given twice is refused below, naming it.
            if (!s.repeatable) o->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
            if (s.arity > 1) {
                o->expected(s.arity)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
                // The help shows the words it takes ("--map RESULT FILE"), not "x 2".
                o->option_text(s.value);
            }
            if (std::string(s.name) == "case") o->check(CLI::ExistingFile);
        }
        if (s.required) o->required();
        c.options[s.name] = o;
    }
}

const option_spec& spec_of(const std::string& name, unsigned which) {
    for (const option_spec& s : option_specs()) {
        if (name == s.name && (s.commands & which) != 0) return s;
    }
    throw std::logic_error("no option " + name);
}

// The options given to one command, each once unless it may repeat.
void collect(const parsed_command& c, invocation& out, const std::string& command_name) {
    for (const auto& [name, option] : c.options) {
        if (option->count() == 0) continue;
        const option_spec& s = spec_of(name, c.which);
        if (s.value == nullptr) {
            out.add(name, "");
            continue;
        }
        const std::vector<std::string>& v = c.values.at(name);
        if (s.arity > 1 && v.size() % static_cast<std::size_t>(s.arity) != 0) {
            std::string words;
            for (const std::string& t : v) words += " " + t;
            throw input_error(name + words + ": each " + name + " takes " + std::to_string(s.arity) + " values, " +
                              name + " " + s.value + " (got " + std::to_string(v.size()) + ")");
        }
        if (v.size() > 1 && !s.repeatable) {
            throw input_error(name + " is given " + std::to_string(v.size()) + " times" +
                              (command_name.empty() ? "" : " to " + command_name) + " (" + v.front() +
                              ", then " + v.back() + "): give it once");
        }
        for (const std::string& t : v) out.add(name, t);
    }
}

// The options a command has, each with the words it takes after it.
std::map<std::string, int> options_of(unsigned which) {
    std::map<std::string, int> known = {{"--help", 0}, {"-h", 0}};
    if (which == run_cmd) known["--help-all"] = 0;
    for (const option_spec& s : option_specs()) {
        if ((s.commands & which) != 0 && s.name[0] == '-') known[s.name] = s.value == nullptr ? 0 : s.arity;
    }
    return known;
}

// A word that is written as an option: --name, or -letter; "-" (standard
// output) and "-5" are values.
bool option_word(const std::string& word) {
    if (word.size() > 2 && word.compare(0, 2, "--") == 0) return true;
    return word.size() > 1 && word[0] == '-' && std::isalpha(static_cast<unsigned char>(word[1]));
}

// A command as the help calls it.
std::string command_name(unsigned which) {
    for (const command_spec& c : command_specs()) {
        if (c.which == which) return c.name;
    }
    return "urea-reactor";
}

// An option as compared with another: letters of one case, '_' as '-'.
std::string option_key(const std::string& name) {
    std::string key = name;
    for (char& ch : key) {
        ch = ch == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return key;
}

// Why `option` is none of this command's: of other commands (which), or
// of none, with the nearest of this command's options.
std::string not_an_option(const std::string& option, unsigned which, const std::map<std::string, int>& known) {
    const std::string name = which == run_cmd ? "" : command_name(which);
    std::vector<std::string> others;
    if (which != run_cmd && options_of(run_cmd).count(option) > 0) others.push_back("urea-reactor without a subcommand");
    for (const command_spec& c : command_specs()) {
        if (c.which != which && options_of(c.which).count(option) > 0) others.push_back(c.name);
    }
    const auto listed = [](const std::vector<std::string>& words, const char* last) {
        std::string s;
        for (std::size_t k = 0; k < words.size(); ++k) s += (k == 0 ? "" : k + 1 == words.size() ? last : ", ") + words[k];
        return s;
    };
    if (!others.empty()) {
        return option + " is no option of " + (name.empty() ? "urea-reactor without a subcommand" : name) +
               ": it is one of " + listed(others, " and ") + (name.empty() ? ", given after the subcommand" : "");
    }
    // The nearest: one edit in a short name (--a1), two in a longer one.
    std::vector<std::string> nearest;
    std::size_t best = 99;
    const std::string key = option_key(option);
    for (const auto& [known_name, words] : known) {
        if (known_name.size() < 3) continue;  // -h
        const std::size_t d = edit_distance(key, option_key(known_name));
        if (d > (std::min(key.size(), known_name.size()) <= 4 ? 1u : 2u) || d > best) continue;
        if (d < best) nearest.clear();
        best = d;
        nearest.push_back(known_name);
    }
    const std::string help = name.empty() ? "urea-reactor --help" : "urea-reactor " + name + " --help";
    return option + " is no option" + (name.empty() ? "" : " of " + name) +
           (nearest.empty() ? "" : " (did you mean " + listed(nearest, " or ") + "?)") + "; " + help + " lists them";
}

// A subcommand misspelt (read as a case file that does not exist), said
// so; empty when `word` is none.
std::string misspelt_subcommand(const std::string& word) {
    if (word.empty() || word[0] == '-' || access(word.c_str(), F_OK) == 0) return "";
    for (const command_spec& c : command_specs()) {
        if (word != c.name && edit_distance(word, c.name) <= 2) {
            return word + ": no such case file, nor a subcommand: did you mean `urea-reactor " + c.name + "`?";
        }
    }
    return "";
}

// The first word of the command line that is no option of the command it
// is given to (or a misspelt subcommand), said in a sentence; empty when
// every option is known. Read before any positional argument is taken for
// a file.
std::string first_unknown(int argc, char** argv) {
    unsigned which = run_cmd;
    std::map<std::string, int> known = options_of(which);
    for (int k = 1; k < argc; ++k) {
        const std::string word = argv[k];
        if (word == "--") break;
        if (!option_word(word)) {
            if (which != run_cmd) continue;
            for (const command_spec& c : command_specs()) {
                if (word == c.name) {
                    which = c.which;
                    known = options_of(which);
                }
            }
            if (which == run_cmd) {
                const std::string misspelt = misspelt_subcommand(word);
                if (!misspelt.empty()) return misspelt;
            }
            continue;
        }
        const std::size_t eq = word.find('=');
        const std::string option = word.substr(0, eq);
        const auto it = known.find(option);
        if (it == known.end()) return not_an_option(option, which, known);
        // The words it takes: after '=', one of them is in this word.
        k += eq == std::string::npos ? it->second : std::max(0, it->second - 1);
    }
    return "";
}

// An option given before the subcommand and again after it: the one after
// counts; the one before, said in a warning.
std::string given_in_vain(const std::string& option, const std::vector<std::string>& before,
                          const std::vector<std::string>& after, const std::string& command_name) {
    const auto listed = [&](const std::vector<std::string>& texts) {
        std::string s;
        for (const std::string& t : texts) s += (s.empty() ? "" : ", ") + (option == "case" ? t : option + (t.empty() ? "" : " " + t));
        return s;
    };
    return listed(before) + ", given before " + command_name + ", is replaced by " + listed(after) + " after it";
}

}  // namespace

bool parse(int argc, char** argv, invocation& out, int& exit_status) {
    CLI::App app{
        "urea-reactor: runs a urea synthesis reactor (2 NH3 + CO2 <=> carbamate <=> urea + H2O) "
        "with the compiled plug-in liburea_plugin.so, acting as its host: the reactor model calls "
        "the plug-in's rate routine USURA, the outlet's NC-FLOW comes from UPROPU. Without a "
        "subcommand it runs a case and prints the tray table and the outlet summary.\n\n"
        "Exit status: 0 done, 1 a solver did not converge (or gnuplot failed), 2 bad input, 3 an internal "
        "error (a bug), 124 --time-limit reached, 128 + N stopped by signal N (130 Ctrl-C, 143 SIGTERM). "
        "A plug-in that crashes ends the program by its signal, with one line saying where; in a worker process "
        "(--jobs) it fails only the point (or window) it was on.",
        "urea-reactor"};
    app.set_help_all_flag("--help-all", "Print the help of every subcommand");
    std::vector<std::unique_ptr<parsed_command>> commands;
    commands.push_back(std::make_unique<parsed_command>());
    commands.back()->app = &app;
    declare(*commands.back());
    for (const command_spec& c : command_specs()) {
        commands.push_back(std::make_unique<parsed_command>());
        commands.back()->app = app.add_subcommand(c.name, c.help);
        commands.back()->which = c.which;
        declare(*commands.back());
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        exit_status = app.exit(e);
        return false;
    } catch (const CLI::CallForAllHelp& e) {
        exit_status = app.exit(e);
        return false;
    } catch (const CLI::ParseError& e) {
        // An unknown option first: CLI11 would take the word after it for
        // a case file and say that it does not exist.
        const std::string unknown = first_unknown(argc, argv);
        if (!unknown.empty()) throw input_error(unknown);
        // A mistyped subcommand is read as a case file that does not exist.
        for (int k = 1; k < argc; ++k) {
            const std::string misspelt = misspelt_subcommand(argv[k]);
            if (!misspelt.empty()) throw input_error(misspelt);
        }
        throw input_error(std::string(e.what()) + " (see urea-reactor --help)");
    }
    const parsed_command& top = *commands.front();
    const parsed_command* sub = nullptr;
    for (std::size_t k = 1; k < commands.size(); ++k) {
        if (commands[k]->app->parsed()) sub = commands[k].get();
    }
    if (sub == nullptr) {
        out.which = run_cmd;
        collect(top, out, "");
        return true;
    }
    // The subcommand's own options, then those given before it that it
    // does not give again.
    const std::string name = sub->app->get_name();
    out.which = static_cast<command>(sub->which);
    collect(*sub, out, name);
    invocation before;
    collect(top, before, "");
    for (const auto& [option, texts] : before.given()) {
        if (option == "--version") continue;
        if (sub->options.count(option) == 0) throw input_error(option + ": not an option of " + name);
        if (out.has(option)) {
            if (out.texts(option) != texts) out.warnings.push_back(given_in_vain(option, texts, out.texts(option), name));
            continue;
        }
        for (const std::string& t : texts) out.add(option, t);
    }
    if (before.has("--version")) out.add("--version", "");
    return true;
}

}  // namespace workbench::cli
