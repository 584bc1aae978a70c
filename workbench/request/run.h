// `run`: a case, and with an estimate each result's 95 % band. `fit`: the
// a2 that gives a conversion.
#ifndef UREA_WORKBENCH_REQUEST_RUN_H
#define UREA_WORKBENCH_REQUEST_RUN_H

#include "analysis/fit.h"
#include "request/common.h"

namespace workbench {

struct run_request {
    case_request case_;
    std::string plugin;                 // empty: the default plug-in
    estimate_given estimate;            // bands from it
    std::optional<std::string> band;    // "profile" or "linearised"
};

struct run_job {
    reactor_case c;
    std::string case_text;              // the case file as read
    std::optional<band_plan> bands;
    std::string plugin;                 // the plug-in's path
    std::vector<input_file> inputs;     // as read
};

// Checks everything: the bands, the case (its warnings, and the estimate's
// reactor if it differs, to `n`). Throws input_error.
run_job check_run(const run_request& r, const notices& n);
// The files it reads (inputs_of).
input_list inputs_of(const run_request& r);

struct fit_request {
    case_request case_;
    std::string plugin;
    given_number co2_conversion{""};    // the target, a fraction, as given
};

struct fit_job {
    reactor_case c;
    double target = 0.0;
    std::string plugin;
    std::vector<input_file> inputs;
};

fit_job check_fit(const fit_request& r, const notices& n);
input_list inputs_of(const fit_request& r);

}  // namespace workbench

#endif
