// urea-reactor [CASE] [options]: runs a case and prints the tray table and
// the outlet summary (or the whole result as JSON); with --estimate, at the
// estimate's rate factors, each result with its 95 % band.
#include <iostream>

#include "cli/common.h"
#include "report/band_report.h"
#include "report/run_report.h"

namespace workbench::cli {

int run_command(const invocation& in) {
    std::vector<std::string> warnings;
    const std::optional<band_plan> bands = bands_of(in);
    const reactor_case c = case_of(in, &warnings);
    if (bands) {
        const std::string mismatch = reactor_mismatch(bands->u, c);
        if (!mismatch.empty()) warnings.push_back(mismatch);
    }
    warn(warnings);
    const output_request out(in, inputs_of(in));
    session s(plugin_path_of(in));
    staged_outputs files;
    if (bands) {
        const prediction p = predict(s, c, *bands);
        if (out.csv) files.add_text(*out.csv, profile_csv(p.c, p.run, &p.conversion_profile));
        if (out.plot) files.add_plot(*out.plot, plot_script(p.c, p.run, &p.conversion_profile, bands->method));
        files.commit();
        if (out.json) {
            auto j = result_json(p.c, p.run, p.run.warnings);
            j["prediction"] = prediction_json(p, *bands);
            j["build"] = build_json(s.plugin_path());
            std::cout << j.dump(2) << "\n";
        } else if (out.print()) {
            print_report(std::cout, p.c, p.run);
            print_prediction(std::cout, p, *bands);
        }
        return finish(files, exit_ok);
    }
    const result r = run(s, c);
    if (out.csv) files.add_text(*out.csv, profile_csv(c, r));
    if (out.plot) files.add_plot(*out.plot, plot_script(c, r));
    files.commit();
    if (out.json) {
        auto j = result_json(c, r, r.warnings);
        j["build"] = build_json(s.plugin_path());
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        print_report(std::cout, c, r);
    }
    return finish(files, exit_ok);
}

}  // namespace workbench::cli
