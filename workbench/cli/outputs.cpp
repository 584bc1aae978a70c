#include "cli/outputs.h"

#include "base/errors.h"
#include "cli/common.h"
#include "base/words.h"

namespace workbench::cli {

outputs_request outputs_of(const invocation& in) {
    outputs_request r;
    r.csv = text_of(in, "--csv");
    r.plot = text_of(in, "--plot");
    r.region_plot = text_of(in, "--region-plot");
    r.write_case = text_of(in, "--write-case");
    r.report = text_of(in, "--report");
    r.json = in.flag("--json");
    if (in.which == design_cmd) {
        r.map = text_of(in, "--map");
    } else {
        const std::vector<std::string> maps = in.texts("--map");
        for (std::size_t k = 0; k + 1 < maps.size(); k += 2) r.maps.emplace_back(maps[k], maps[k + 1]);
    }
    return r;
}

bool checked_outputs::print() const {
    for (const auto* o : {&csv, &plot, &region_plot, &written_case, &report}) {
        if (*o && (*o)->to_stdout) return false;
    }
    return true;
}

namespace {

// A study's maps (or a design's map): each a file, none the same as an
// input or the other outputs, gnuplot there.
void check_maps(const outputs_request& r, checked_outputs& out, const input_list& inputs) {
    if (!r.map && r.maps.empty()) return;
    const auto target = [](field_ref named, const std::string& path) {
        output_target t = check_output_path("map", path, output_kind::plot);
        if (t.to_stdout) {
            named.text += (named.text.empty() ? "" : " ") + std::string("-");
            throw input_error(named, "a map is drawn to a file (.svg or .png)");
        }
        return t;
    };
    std::vector<output_target> all;
    if (r.map) {
        // A design's: checked before the CSV.
        out.map = target(given("map", ""), *r.map);
        all.push_back(*out.map);
        if (out.csv) all.push_back(*out.csv);
    } else {
        if (out.csv) all.push_back(*out.csv);
        if (out.plot) all.push_back(*out.plot);
    }
    for (const auto& [result, path] : r.maps) {
        const output_target t = target(given("map", result), path);
        out.maps.emplace_back(result, t);
        all.push_back(t);
    }
    check_distinct(all, inputs);
    require_gnuplot("map");
}

}  // namespace

checked_outputs check_outputs(const outputs_request& r, const input_list& inputs) {
    checked_outputs out;
    out.json = r.json;
    std::vector<output_target> all;
    const auto check = [&](const char* name, const std::optional<std::string>& path, output_kind kind,
                           std::optional<output_target>& target) {
        if (!path) return;
        target = check_output_path(name, *path, kind);
        all.push_back(*target);
    };
    check("csv", r.csv, output_kind::text, out.csv);
    check("plot", r.plot, output_kind::plot, out.plot);
    check("region_plot", r.region_plot, output_kind::plot, out.region_plot);
    check("write_case", r.write_case, output_kind::text, out.written_case);
    check("report", r.report, output_kind::text, out.report);
    check_distinct(all, inputs);
    for (const output_target& t : all) {
        if (t.to_stdout && out.json) {
            throw input_error(mention("json") + " and " + mention(t.option, "", "-") +
                              " both write to standard output: give " + mention(t.option) + " a file");
        }
    }
    if (out.plot) require_gnuplot("plot");
    if (out.region_plot) require_gnuplot("region_plot");
    check_maps(r, out, inputs);
    return out;
}

void require_gnuplot(const std::string& name) {
    if (!gnuplot_available()) {
        throw plot_error(mention(name) + ": gnuplot is not installed (scripts/install-deps installs it)");
    }
}

}  // namespace workbench::cli
