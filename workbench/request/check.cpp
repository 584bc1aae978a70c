#include "request/check.h"

#include "base/text.h"
#include "request/common.h"

namespace workbench {

check_job check_check(const check_request& r) {
    check_job j;
    j.timeout = parse_number(field("timeout"), r.timeout.value_or("10"), number_rule::positive);
    j.plugin = plugin_or_default(r.plugin);
    return j;
}

}  // namespace workbench
