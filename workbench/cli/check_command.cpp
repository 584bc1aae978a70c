// urea-reactor check [--plugin PATH]: is this build of the plug-in good?
#include <iostream>

#include "cli/common.h"
#include "base/text.h"

namespace workbench::cli {

int check_command(const invocation& in) {
    const double timeout = parse_number("--timeout", in.text("--timeout", "10"), number_rule::positive);
    const std::string path = plugin_path_of(in);
    print_check_heading(std::cout, build_of(path));
    const std::vector<verdict> verdicts = check_plugin(path, timeout);
    print_verdicts(std::cout, verdicts);
    return check_passed(verdicts) ? exit_ok : exit_input;
}

}  // namespace workbench::cli
