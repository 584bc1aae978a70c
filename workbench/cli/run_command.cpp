// urea-reactor [CASE] [options]: runs a case and prints the tray table and
// the outlet summary (or the whole result as JSON).
#include <iostream>

#include "cli/common.h"
#include "report/run_report.h"

namespace workbench::cli {

int run_command(const invocation& in) {
    std::vector<std::string> warnings;
    const reactor_case c = case_of(in, &warnings);
    warn(warnings);
    const output_request out(in, inputs_of(in));
    session s(plugin_path_of(in));
    const result r = run(s, c);
    staged_outputs files;
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
