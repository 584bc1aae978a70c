#include "analysis/sweep.h"

#include "base/text.h"

namespace workbench {

sweep_plan plan_sweep(const reactor_case& base, std::vector<sweep_variable> vars) {
    if (vars.empty() || vars.size() > 2) {
        throw input_error(field("vary"), "give one or two (got " + std::to_string(vars.size()) + ")");
    }
    for (const sweep_variable& v : vars) {
        if (v.name == "model") throw input_error(v.source, "the model is varied by " + mention("command", "", "study"));
    }
    sweep_plan plan;
    plan.study = plan_study(base, vars, default_results());
    plan.base = base;
    plan.vars = std::move(vars);
    plan.warnings = plan.study.warnings;
    plan.notes = plan.study.notes;
    return plan;
}

sweep_point sweep_point_of(const study_point& p) {
    sweep_point pt;
    pt.x = p.settings;
    pt.ok = p.ok;
    if (!p.ok) {
        pt.failure = p.failure;
        pt.details = p.details;
        return pt;
    }
    // The values in the order of default_results().
    pt.conversion_defined = p.conversion_defined;
    pt.co2_conversion = p.values[0];
    pt.equilibrium_co2_conversion = p.values[1];
    for (std::size_t k = 0; k < 4; ++k) pt.w[k] = p.values[2 + k];
    pt.max_balance_residual = p.max_balance_residual;
    return pt;
}

sweep_result run_sweep(const sweep_plan& plan, workbench_host& h) {
    sweep_result out;
    out.vars = plan.vars;
    out.points.reserve(plan.study.points);
    const study_summary s = run_study(plan.study, h, [&](const study_point& p) { out.points.push_back(sweep_point_of(p)); });
    out.failed = s.failed;
    out.rate_calls = s.rate_calls;
    out.warnings = plan.warnings;
    out.notes = plan.notes;
    return out;
}

std::string point_text(const sweep_result& r, std::size_t point) {
    std::string s;
    for (std::size_t k = 0; k < r.vars.size(); ++k) {
        s += (k ? ", " : "") + r.vars[k].name + " = " + sig(r.points[point].x[k]);
    }
    return s;
}

}  // namespace workbench
