// A single run, a fit of a2 and a prediction with bands: what the command
// line's run needs (a build of urea-reactor with its run command alone
// compiles only these, see UREA_RUN_ONLY).
#include "api/workbench.h"

#include "api/work.h"

namespace workbench {

using detail::work;

result run(session& s, const reactor_case& c) {
    std::vector<std::string> warnings = validate(c);
    return work(s, c, [&](workbench_host& h) {
        result r = simulate(c, h);
        r.warnings = std::move(warnings);
        return r;
    });
}

fit_result fit(session& s, const reactor_case& c, double target) {
    std::vector<std::string> warnings = validate(c);
    return work(s, c, [&](workbench_host& h) {
        fit_result f = fit_a2(c, h, target);
        f.run.warnings = std::move(warnings);
        return f;
    });
}

prediction predict(session& s, const reactor_case& c, const band_plan& bands,
                   const std::vector<result_quantity>& results) {
    const reactor_case at = at_estimate(c, bands.u);
    std::vector<std::string> warnings = validate(at);
    for (std::string& w : check_carry_over(bands.u, c, true)) warnings.push_back(std::move(w));
    return work(s, at, [&](workbench_host& h) {
        prediction p = predict_case(at, bands, results, h);
        p.run.warnings = std::move(warnings);
        return p;
    });
}

}  // namespace workbench
