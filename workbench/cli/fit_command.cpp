// urea-reactor fit --co2-conversion X: the a2 that gives an outlet CO2
// conversion.
#include <iostream>

#include "base/text.h"
#include "cli/common.h"
#include "report/run_report.h"

namespace workbench::cli {

int fit_command(const invocation& in) {
    fit_request r;
    r.case_ = case_of(in);
    r.plugin = in.text("--plugin");
    r.co2_conversion = in.text("--co2-conversion");
    const checked_outputs out = check_outputs(outputs_of(in), inputs_of(r));
    const fit_job job = check_fit(r, on_stderr());
    const double target = job.target;
    session s(job.plugin);
    const fit_result f = fit(s, job.c, target);
    reactor_case fitted = job.c;
    fitted.a2 = f.a2;
    staged_outputs files;
    if (out.csv) files.add_text(*out.csv, profile_csv(fitted, f.run));
    if (out.plot) files.add_plot(*out.plot, plot_script(fitted, f.run));
    files.commit();
    if (out.json) {
        nlohmann::ordered_json solutions = nlohmann::ordered_json::array();
        for (const fit_point& p : f.solutions) solutions.push_back({{"a2", p.a2}, {"co2_conversion", p.co2_conversion}});
        std::cout << nlohmann::ordered_json{{"a2", f.a2},
                                            {"co2_conversion", f.co2_conversion},
                                            {"target_co2_conversion", target},
                                            {"equilibrium_co2_conversion", f.equilibrium_co2_conversion},
                                            {"solutions", solutions},
                                            {"highest_co2_conversion",
                                             {{"a2", f.highest.a2}, {"co2_conversion", f.highest.co2_conversion}}},
                                            {"reactor_runs", f.evaluations},
                                            {"build", build_json(s.plugin_path())}}
                         .dump(2)
                  << "\n";
        return finish(files, exit_ok);
    }
    if (!out.print()) return finish(files, exit_ok);
    std::cout << "a2 = " << sig(f.a2) << " gives an outlet CO2 conversion of " << sig(100.0 * f.co2_conversion)
              << " % (target " << sig(100.0 * target) << " %; equilibrium at the outlet "
              << sig(100.0 * f.equilibrium_co2_conversion) << " %; " << f.evaluations << " reactor runs)\n";
    for (const fit_point& p : f.solutions) {
        if (p.a2 == f.a2) continue;
        std::cout << "a2 = " << sig(p.a2) << " gives it too (" << sig(100.0 * p.co2_conversion)
                  << " %): conversion rises with a2 up to " << sig(100.0 * f.highest.co2_conversion)
                  << " % at a2 = " << sig(f.highest.a2)
                  << " and falls beyond; the a2 nearer the case's is reported first\n";
    }
    return finish(files, exit_ok);
}

}  // namespace workbench::cli
