// urea-reactor check [--plugin PATH]: is this build of the plug-in good?
#include <iostream>

#include "cli/common.h"

namespace workbench::cli {

int check_command(const invocation& in) {
    const check_job job = check_check({in.text("--plugin"), text_of(in, "--timeout")});
    print_check_heading(std::cout, build_of(job.plugin));
    const std::vector<verdict> verdicts = check_plugin(job.plugin, job.timeout);
    print_verdicts(std::cout, verdicts, words());
    return check_passed(verdicts) ? exit_ok : exit_input;
}

}  // namespace workbench::cli
