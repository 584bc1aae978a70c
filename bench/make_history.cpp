// Writes a synthetic plant history for the monitor's benchmark (NOT plant
// data; see workbench/analysis/synthetic_history.h): the default case's
// reactor at a1 = 1, a2 = 0.16, noisy meters, a lab sample every 4 h, and,
// with `events`, a step of a2 by 0.8 at 55 % of the span, the CO2 meter 5 %
// high from 20 % to 35 %, load ramps at 40 % and 75 %, the outlet
// temperature frozen for 2 days at 45 %, a 2-day gap at 60 % and spikes on
// 0.1 % of the rows; times on a clock one hour ahead of UTC, with the offset.
//
//   workbench_make_history OUT.csv DAYS ROW_INTERVAL [events] [SEED]
//   workbench_make_history year-minutes.csv 365 1min events
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>

#include "analysis/synthetic_history.h"
#include "api/workbench.h"
#include "model/properties.h"

int main(int argc, char** argv) {
    using namespace workbench;
    if (argc < 4) {
        std::cerr << "usage: workbench_make_history OUT.csv DAYS ROW_INTERVAL [events] [SEED]\n";
        return 2;
    }
    try {
        synthetic_history recipe;
        recipe.days = std::stod(argv[2]);
        recipe.row_ms = parse_duration("ROW_INTERVAL", argv[3]);
        if (argc > 4 && std::string(argv[4]) == "events") {
            const double d = recipe.days;
            recipe.step_day = 0.55 * d;
            recipe.co2_bias = synthetic_history::span{0.20 * d, 0.35 * d};
            recipe.ramp_days = {0.40 * d, 0.75 * d};
            recipe.frozen_t_out = synthetic_history::span{0.45 * d, 0.45 * d + 2.0};
            recipe.gap = synthetic_history::span{0.60 * d, 0.60 * d + 2.0};
            recipe.spike_rate = 0.001;
        }
        if (argc > 5) recipe.seed = std::stoull(argv[5]);
        recipe.utc_offset_minutes = 60;
        std::ofstream out(argv[1]);
        session s;
        const std::lock_guard<std::recursive_mutex> lock(session::work_lock());
        const property_set props;
        workbench_host h(s, props);
        write_synthetic_history(out, h, default_case(), recipe);
        out.close();
        if (!out) throw std::runtime_error(std::string("cannot write ") + argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "workbench_make_history: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
