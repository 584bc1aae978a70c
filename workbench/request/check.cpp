#include "request/check.h"

#include "base/text.h"
#include "request/common.h"
#include "session/check.h"

namespace workbench {

check_job check_check(const check_request& r) {
    check_job j;
    if (r.timeout) j.timeout = number_given(field("timeout"), *r.timeout, number_rule::positive);
    if (j.timeout > max_check_timeout_s) {
        throw input_error(field("timeout"), "must be at most " + sig(max_check_timeout_s) + " s (got " +
                                                 r.timeout->text + ")");
    }
    j.plugin = plugin_or_default(r.plugin);
    return j;
}

}  // namespace workbench
