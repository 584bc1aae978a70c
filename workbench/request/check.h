// `check`: is a build of the plug-in good?
#ifndef UREA_WORKBENCH_REQUEST_CHECK_H
#define UREA_WORKBENCH_REQUEST_CHECK_H

#include <optional>
#include <string>

#include "base/text.h"

namespace workbench {

struct check_request {
    std::string plugin;                  // empty: the default plug-in
    std::optional<given_number> timeout;  // seconds the build may take (default 10)
};

struct check_job {
    std::string plugin;
    double timeout = 10.0;
};

// Throws input_error for a timeout that is not a number > 0.
check_job check_check(const check_request& r);

}  // namespace workbench

#endif
