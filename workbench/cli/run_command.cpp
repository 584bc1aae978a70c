// urea-reactor [CASE] [options]: runs a case and prints the tray table and
// the outlet summary (or the whole result as JSON); with --estimate, at the
// estimate's rate factors, each result with its 95 % band.
#include <iostream>

#include "cli/common.h"
#include "report/band_report.h"
#include "report/run_report.h"

namespace workbench::cli {

int run_command(const invocation& in) {
    run_request r;
    r.case_ = case_of(in);
    r.plugin = in.text("--plugin");
    r.estimate = estimate_of(in);
    r.band = text_of(in, "--band");
    const checked_outputs out = check_outputs(outputs_of(in), inputs_of(r));
    const run_job job = check_run(r, on_stderr());
    session s(job.plugin);
    staged_outputs files;
    if (job.bands) {
        const prediction p = predict(s, job.c, *job.bands);
        if (out.csv) files.add_text(*out.csv, profile_csv(p.c, p.run, &p.conversion_profile));
        if (out.plot) files.add_plot(*out.plot, plot_script(p.c, p.run, &p.conversion_profile, job.bands->method));
        files.commit();
        if (out.json) {
            auto j = result_json(p.c, p.run, p.run.warnings);
            j["prediction"] = prediction_json(p, *job.bands, words());
            j["build"] = build_json(s.plugin_path());
            std::cout << j.dump(2) << "\n";
        } else if (out.print()) {
            print_report(std::cout, p.c, p.run);
            print_prediction(std::cout, p, *job.bands, words());
        }
        return finish(files, exit_ok);
    }
    const result res = run(s, job.c);
    if (out.csv) files.add_text(*out.csv, profile_csv(job.c, res));
    if (out.plot) files.add_plot(*out.plot, plot_script(job.c, res));
    files.commit();
    if (out.json) {
        auto j = result_json(job.c, res, res.warnings);
        j["build"] = build_json(s.plugin_path());
        std::cout << j.dump(2) << "\n";
    } else if (out.print()) {
        print_report(std::cout, job.c, res);
    }
    return finish(files, exit_ok);
}

}  // namespace workbench::cli
