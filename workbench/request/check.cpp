#include "request/check.h"

#include "base/text.h"
#include "request/common.h"
#include "session/check.h"

namespace workbench {

check_job check_check(const check_request& r) {
    check_job j;
    j.timeout = parse_number(field("timeout"), r.timeout.value_or("10"), number_rule::positive);
    if (j.timeout > max_check_timeout_s) {
        throw input_error(field("timeout"), "must be at most " + sig(max_check_timeout_s) + " s (got " +
                                                 *r.timeout + ")");
    }
    j.plugin = plugin_or_default(r.plugin);
    return j;
}

}  // namespace workbench
