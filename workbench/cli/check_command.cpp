// urea-reactor check [--plugin PATH]: is this build of the plug-in good?
#include <iostream>

#include "cli/common.h"
#include "io/text.h"

namespace workbench::cli {

int check_command(const invocation& in) {
    const double timeout = parse_number("--timeout", in.text("--timeout", "10"), number_rule::positive);
    const std::string path = plugin_path_of(in);
    const build_info b = build_of(path);
    std::cout << b.workbench << " checks " << path << ": " << b.plugin << "\n";
    bool all = true;
    for (const verdict& v : check_plugin(path, timeout)) {
        std::cout << (v.ok ? "ok:     " : "FAILED: ") << v.text << "\n";
        all = all && v.ok;
    }
    std::cout << (all ? "The plug-in build is good.\n" : "The plug-in build is NOT good.\n");
    return all ? exit_ok : exit_input;
}

}  // namespace workbench::cli
