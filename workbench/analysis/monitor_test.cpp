#include <gtest/gtest.h>

#include <sstream>

#include "analysis/monitor.h"
#include "analysis/synthetic_history.h"
#include "model/properties.h"
#include "session/test_session.h"

namespace {

using namespace workbench;

class Monitor : public plugin_suite {
protected:
    property_set props;
    monitor_result run(const synthetic_history& spec, monitor_options o = {}) {
        workbench_host h(*lib, props);
        reactor_case base = default_case();
        std::ostringstream csv;
        write_synthetic_history(csv, h, base, spec);
        monitor_problem p = monitor_problem_of(parse_history(csv.str(), "synthetic.csv", false), base, o);
        return run_monitor(h, p);
    }
};

TEST_F(Monitor, Explore) {
    synthetic_history spec;
    spec.days = 60;
    spec.step_day = 30.5;
    spec.co2_bias = synthetic_history::span{10, 20};
    spec.ramp_days = {40};
    spec.frozen_t_out = synthetic_history::span{45, 47};
    spec.spike_rate = 0.005;
    monitor_options o;
    o.a1 = 1.0;
    const monitor_result r = run(spec, o);
    for (const column_screening& s : r.screening) {
        std::cout << s.column << " missing " << s.missing << " oor " << s.out_of_range << " stagnant " << s.stagnant_rows << " spikes " << s.spikes << " noise " << s.noise << "\n";
    }
    for (const monitor_window& w : r.windows) {
        std::cout << timestamp_text(w.start, false) << " rows " << w.rows << " lab " << w.lab_samples << " steady " << w.steady
                  << " p " << w.balance.p_value << " " << w.balance.suspect << " " << w.balance.suspect_error << " a2 " << w.a2 << " ["
                  << w.a2_lower.value_or(-1) << "," << w.a2_upper.value_or(-1) << "] conv " << w.conversion_measured << " "
                  << w.conversion_predicted << " " << w.conversion_equilibrium << " " << w.reason << "\n";
    }
    for (const drift& d : r.drifts) std::cout << "drift " << timestamp_text(d.time, false) << " " << d.ratio << " " << d.lower << " " << d.upper << " p " << d.p_value << "\n";
    std::cout << "solves " << r.reactor_solves << " dispersion " << r.dispersion << " " << r.a1_note << "\n";
}

}  // namespace
