// What every command's request shares: values as the caller gave them, the
// case asked for, the files read, the bands of an estimate, and where the
// warnings and notes go. Each command's request (request/*.h) holds what the
// user asked in neutral terms, and one function checks it all, in the order
// the command line has always reported, before anything runs; the command
// line and Python only translate into a request and say its errors in their
// own words (base/words.h).
#ifndef UREA_WORKBENCH_REQUEST_COMMON_H
#define UREA_WORKBENCH_REQUEST_COMMON_H

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/bands.h"
#include "analysis/study.h"
#include "base/words.h"
#include "model/case.h"

namespace workbench {

// A value as the caller gave it: its text (the command line's as typed;
// Python's numbers written as the shortest text that reads back the same,
// only to quote), its own name where the caller gave one (a dict's key:
// fix={"a1": 1.5}), and the numbers after NAME= where the caller gave
// numbers, part by part as the text has them (fix's VALUE; a grid's FROM,
// TO and N, or its values; none for a part given as text).
struct given_value {
    std::string text;
    std::string key = "";
    std::vector<std::optional<double>> numbers = {};
    // The one number after NAME= (fix=, meter_sigma=), where given as one.
    std::optional<double> number() const { return numbers.size() == 1 ? numbers[0] : std::nullopt; }
};

// Where warnings and notes go as the checks and the work find them, a line
// each, their mentions of fields still to be said in the client's words.
struct notices {
    std::function<void(const message&)> warning = [](const message&) {};
    std::function<void(const message&)> note = [](const message&) {};
    void warn(const std::vector<std::string>& lines) const;
    void tell(const std::vector<std::string>& lines) const;
    void tell(const std::vector<message>& lines) const;
};

// An input file as it was read: what it is ("case file", "runs file",
// "estimate file", "case table"), its path, and the SHA-256 of its bytes.
struct input_file {
    std::string what;
    std::string path;
    std::string sha256;
};
input_file input_read(std::string what, std::string path, const std::string& bytes);

// The case asked for: the built-in default case, a case file or a case made
// in code, changed by settings as given (none: not given).
struct case_request {
    std::optional<std::string> file;    // a case file
    std::optional<reactor_case> given;  // a case made in code, instead of a file
    std::optional<std::string> model;   // "trays" or "pfr"
    std::optional<given_number> trays, volume, pressure, t_in, t_out, a1, a2, co2, nh3_co2, h2o_co2;
};

struct checked_case {
    reactor_case c;
    std::string text;                   // the case file as read, for its SHA-256; empty without one
    std::vector<std::string> warnings;  // the check's (temperatures the plug-in clamps)
};

// The case, checked (validate); a value a setting set named by its field.
// Throws input_error.
checked_case check_case(const case_request& r);

// A case's model and trays as given ("trays" or "pfr"; a whole number of
// trays within the bounds), and a feed's component by its name; throws
// input_error about the field.
reactor_model model_given(const field_ref& f, const std::string& text);
int trays_given(const field_ref& f, const given_number& g);
std::size_t component_given(const std::string& name);

// A case with quantities set by name, each value as given (a1, a2, model:
// trays or pfr, or any setting by a runs file's or the command line's name),
// as with_named sets them. Throws input_error naming the quantity for a
// value that is no number (or no model), an unknown name, or one given twice.
reactor_case with_named_given(const reactor_case& base, const std::vector<std::pair<std::string, given_number>>& values);

// The quantity each of the case's settings sets, as a study names it, for
// the settings given; a study's variable must not set one of them.
void check_vary_against_case(const case_request& r, const std::vector<study_variable>& vars);

// An estimate's bands, asked for by an estimate file or an estimate in
// memory and the band's way ("profile" or "linearised"; none: the profile's
// where the estimate has it). None without an estimate. Throws input_error
// for a band's way without an estimate, a1 or a2 set with one (the estimate
// sets them), and an estimate file that is no estimate.
struct estimate_given {
    std::optional<std::string> file;
    std::optional<factor_uncertainty> given;
    // Its factors used on a case that differs from the one they were tuned
    // on (analysis/bands.h check_carry_over), which is refused without it.
    bool carry_factors = false;
    bool any() const { return file || given; }
};
std::optional<band_plan> check_bands(const estimate_given& e, const std::optional<std::string>& band,
                                     const case_request& c, std::vector<input_file>& read);

// With an estimate, a1 and a2 given as settings: an input_error (the
// estimate sets them).
void check_factors_with_estimate(const estimate_given& e, const case_request& c);

// Whether a study's points differ in their model (a grid's variable, a case
// table's column).
bool model_varies(const study_plan& plan);

// Warnings for settings given that cannot take effect: trays for a
// plug-flow case (unless the model varies: a study's grid or case table).
void warn_without_effect(const case_request& r, const reactor_case& c, bool model_varies, const notices& n);

// A warning for a1 or a2 given as a setting and held too (fix): the held
// value counts.
void warn_held(const case_request& r, const std::array<std::optional<double>, 2>& held, const notices& n);

// The files a request reads, which an output must not replace, as (what,
// path): the case file, `more`, the plug-in and the program.
using input_list = std::vector<std::pair<std::string, std::string>>;
input_list inputs_of(const case_request& c, const std::string& plugin, input_list more = {});

// How the work is split among worker processes (session/workers.h): how
// many at most (none: as many as the cores this process may use; 1: all in
// this process), and the seconds a worker may make no call into the plug-in
// before it is taken to hang (none: default_stall_s).
struct workers_request {
    std::optional<given_number> jobs;
    std::optional<given_number> worker_timeout;
};

// Throws input_error naming the field.
worker_options check_workers(const workers_request& r);

// The plug-in asked for, or the default one.
std::string plugin_or_default(const std::string& plugin);

// The whole numbers a field takes: from 1 to `most`. Throws input_error.
std::size_t whole_count(const field_ref& f, const std::string& text, std::size_t most, const std::string& what);

}  // namespace workbench

#endif
