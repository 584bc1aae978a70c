// urea-reactor quantities [--json]: every quantity the workbench reads or
// writes, by type, as declared once (model/schema.h).
#include <iostream>

#include "cli/common.h"
#include "report/schema_report.h"

namespace workbench::cli {

int quantities_command(const invocation& in) {
    if (in.flag("--json")) {
        std::cout << quantities_json().dump(2) << "\n";
    } else {
        print_quantities(std::cout);
    }
    return exit_ok;
}

}  // namespace workbench::cli
