#include "cli/common.h"

#include <cmath>
#include <iostream>
#include <sstream>

#include "cli/progress.h"
#include "io/case_file.h"
#include "base/input_files.h"
#include "base/text.h"

namespace workbench::cli {
namespace {

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

}  // namespace

void warn(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) std::cerr << "urea-reactor: warning: " << w << "\n";
}

void note(const std::vector<std::string>& notes) {
    for (const std::string& n : notes) std::cerr << "urea-reactor: note: " << n << "\n";
}

std::string plugin_path_of(const invocation& in) {
    const std::string p = in.text("--plugin");
    return p.empty() ? default_plugin_path() : p;
}

namespace {

// The option that sets a key of the case.
const char* option_of(const std::string& key) {
    static const std::pair<const char*, const char*> options[] = {
        {"reactor.trays", "--trays"},
        {"reactor.volume_m3", "--volume"},
        {"reactor.pressure_bar", "--pressure"},
        {"reactor.inlet_temperature_C", "--t-in"},
        {"reactor.outlet_temperature_C", "--t-out"},
        {"kinetics.a1", "--a1"},
        {"kinetics.a2", "--a2"},
        {"feed_kmol_h.CO2", "--co2"},
    };
    for (const auto& [k, o] : options) {
        if (key == k) return o;
    }
    return "";
}

reactor_case changed_case(const invocation& in, std::string* case_text);

}  // namespace

reactor_case case_of(const invocation& in, std::vector<std::string>* warnings, std::string* case_text) {
    const reactor_case c = changed_case(in, case_text);
    try {
        const std::vector<std::string> w = validate(c);
        if (warnings != nullptr) warnings->insert(warnings->end(), w.begin(), w.end());
    } catch (const input_error& e) {
        // A value the command line set is named by its option.
        const std::string option = option_of(e.place().key);
        if (!option.empty() && in.has(option)) throw input_error(option + " " + in.text(option) + ": " + e.reason());
        throw;
    }
    return c;
}

namespace {

reactor_case changed_case(const invocation& in, std::string* case_text) {
    reactor_case c = default_case();
    if (in.has("case")) {
        const std::string text = read_input_file(in.text("case"), "case file");
        c = parse_case(text, in.text("case"));
        if (case_text != nullptr) *case_text = text;
    }
    const auto has = [&](const char* name) { return in.has(name); };
    const auto given = [&](const char* name) { return std::string(name) + " " + in.text(name); };
    const auto number = [&](const char* name, number_rule rule) { return parse_number(name, in.text(name), rule); };
    if (has("--model")) {
        const std::string m = in.text("--model");
        const std::optional<reactor_model> model = model_named(m);
        if (!model) throw input_error("--model: must be 'trays' or 'pfr' (got " + m + ")");
        c.model = *model;
    }
    if (has("--trays")) {
        const double t = number("--trays", number_rule::any);
        if (t != std::floor(t) || t < min_trays || t > max_trays) {
            throw input_error("--trays: must be a whole number from " + std::to_string(min_trays) + " to " +
                              std::to_string(max_trays) + " (got " + in.text("--trays") + ")");
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
            throw input_error(given("--co2") + ": above " + std::to_string(static_cast<long>(max_flow_kmol_h)) +
                              " kmol/h, more than any reactor takes");
        }
        const double nh3 = nh3_co2_ratio(c), h2o = h2o_co2_ratio(c);
        c.feed_kmol_h[CO2] = co2;
        if (co2 + c.feed_kmol_h[CARB] > 0.0 && std::isfinite(nh3)) {
            set_nh3_co2_ratio(c, nh3);
            set_h2o_co2_ratio(c, h2o);
            check_derived_flow(given("--co2"), c, NH3);
            check_derived_flow(given("--co2"), c, H2O);
        }
    }
    // Ratios refer to all CO2 fed; without CO2 the check of the case says so.
    const bool has_co2 = c.feed_kmol_h[CO2] + c.feed_kmol_h[CARB] > 0.0;
    if (has("--nh3-co2")) {
        const double r = number("--nh3-co2", number_rule::non_negative);
        if (has_co2) {
            set_nh3_co2_ratio(c, r);
            check_derived_flow(given("--nh3-co2"), c, NH3);
        }
    }
    if (has("--h2o-co2")) {
        const double r = number("--h2o-co2", number_rule::non_negative);
        if (has_co2) {
            set_h2o_co2_ratio(c, r);
            check_derived_flow(given("--h2o-co2"), c, H2O);
        }
    }
    return c;
}

}  // namespace

output_request::output_request(const invocation& in, const std::vector<std::pair<std::string, std::string>>& inputs)
    : json(in.flag("--json")) {
    std::vector<output_target> all;
    if (in.has("--csv")) all.push_back(*(csv = check_output_path("--csv", in.text("--csv"), output_kind::text)));
    if (in.has("--plot")) all.push_back(*(plot = check_output_path("--plot", in.text("--plot"), output_kind::plot)));
    if (in.has("--region-plot")) {
        all.push_back(*(region_plot = check_output_path("--region-plot", in.text("--region-plot"), output_kind::plot)));
    }
    if (in.has("--write-case")) {
        all.push_back(*(written_case = check_output_path("--write-case", in.text("--write-case"), output_kind::text)));
    }
    if (in.has("--report")) all.push_back(*(report = check_output_path("--report", in.text("--report"), output_kind::text)));
    check_distinct(all, inputs);
    for (const output_target& t : all) {
        if (t.to_stdout && json) {
            throw input_error("--json and " + t.option + " - both write to standard output: give " + t.option +
                              " a file");
        }
    }
    if (plot) require_gnuplot("--plot");
    if (region_plot) require_gnuplot("--region-plot");
}

output_target map_target(const std::string& named, const std::string& path) {
    output_target t = check_output_path("--map", path, output_kind::plot);
    if (t.to_stdout) throw input_error(named + " -: a map is drawn to a file (.svg or .png)");
    return t;
}

void require_gnuplot(const std::string& option) {
    if (!gnuplot_available()) throw plot_error(option + ": gnuplot is not installed (scripts/install-deps installs it)");
}

std::vector<std::pair<std::string, std::string>> inputs_of(const invocation& in) {
    std::vector<std::pair<std::string, std::string>> inputs;
    if (in.has("case")) inputs.emplace_back("the case file", in.text("case"));
    if (in.has("runs")) inputs.emplace_back("the runs file", in.text("runs"));
    if (in.has("--estimate")) inputs.emplace_back("the estimate file", in.text("--estimate"));
    inputs.emplace_back("the plug-in", plugin_path_of(in));
    inputs.emplace_back("this program", "/proc/self/exe");
    return inputs;
}

std::optional<band_plan> bands_of(const invocation& in) {
    if (!in.has("--estimate")) {
        if (in.has("--band")) throw input_error("--band " + in.text("--band") + ": bands need an estimate (--estimate EST.json)");
        return std::nullopt;
    }
    for (const char* factor : {"--a1", "--a2"}) {
        if (in.has(factor)) {
            throw input_error(std::string(factor) + " " + in.text(factor) + " and --estimate " + in.text("--estimate") +
                              ": the estimate sets a1 and a2: give one of them");
        }
    }
    std::optional<band_method> method;
    if (in.has("--band")) method = band_method_named(in.text("--band"));
    return plan_bands(read_estimate_file(in.text("--estimate")), method);
}

worker_options workers_of(const invocation& in) {
    worker_options o;
    o.jobs = available_cores();
    if (in.has("--jobs")) {
        const double n = parse_number("--jobs", in.text("--jobs"), number_rule::positive);
        if (n != std::floor(n) || n > max_jobs) {
            throw input_error("--jobs " + in.text("--jobs") + ": must be a whole number of worker processes from 1 to " +
                              std::to_string(max_jobs));
        }
        o.jobs = static_cast<unsigned>(n);
    }
    if (in.has("--worker-timeout")) o.stall_s = parse_number("--worker-timeout", in.text("--worker-timeout"), number_rule::positive);
    o.progress = terminal_progress(in.flag("--quiet"));
    return o;
}

int finish(const staged_outputs& files, int status) {
    for (const std::string& f : files.failures()) std::cerr << "urea-reactor: error: " << f << "\n";
    return files.failures().empty() ? status : exit_solver;
}

}  // namespace workbench::cli
