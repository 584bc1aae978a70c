#include "report/estimate_report.h"

#include "base/text.h"
#include "report/figure.h"
#include "report/gnuplot.h"
#include "report/json_stream.h"
#include "report/palette.h"
#include "report/estimate_file.h"
#include "report/run_report.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <optional>
#include <sstream>

#include <boost/math/distributions/chi_squared.hpp>

namespace workbench {
namespace {

std::string padded(const std::string& s, std::size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// A paragraph broken between words into lines of at most `width`
// characters (a longer word stands alone), the first indented by `indent`,
// the others by two more.
std::string wrapped(const std::string& text, std::size_t indent, std::size_t width) {
    std::string out, line(indent, ' ');
    std::size_t start = 0;
    bool first_word = true;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        // A unit stays with its number.
        const bool unit = word.rfind('%', 0) == 0;
        if (!first_word && !unit && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line = std::string(indent + 2, ' ');
            first_word = true;
        }
        line += (first_word ? "" : " ") + word;
        first_word = false;
        start = end + 1;
    }
    return out + line + "\n";
}

const plant_run& run_of(const estimate_report& r, std::size_t i) { return r.runs->runs[i]; }

std::string run_named(const estimate_report& r, std::size_t i) {
    const plant_run& x = run_of(r, i);
    return "run \"" + x.name + "\" (line " + std::to_string(x.line) + ")";
}

// Why a factor is not determined, in words.
std::string why_not(const parameter_estimate& p, const estimate_result& res, const estimate_options& opt) {
    const std::string profile =
        p.profile.computed ? "its 95 % profile-likelihood interval is " + profile_text(p, opt) : "";
    const auto with_profile = [&](const std::string& s) { return profile.empty() ? s : s + "; " + profile; };
    switch (p.verdict) {
        case verdict_kind::singular:
            return with_profile(res.covariance_unsolvable
                                    ? "the reactor could not be solved next to the best fit, where the uncertainty "
                                      "is worked out"
                                    : "the runs' predictions do not change measurably with it");
        case verdict_kind::wide:
            if (p.profile.computed) {
                return profile + (p.profile.disjoint ? ": other values far from the best fit fit nearly as well"
                                                     : ", more than a decade");
            }
            return "its 95 % interval, " + linearised_text(p) + ", spans more than a decade";
        case verdict_kind::at_bound:
            return with_profile("the best fit lies at the edge of the search, " + p.name + " = " +
                                factor_text(p, p.value) + ": the data only say it is " +
                                (p.value > 1.0 ? "large" : "small"));
        case verdict_kind::combination:
            return with_profile("only a combination of a1 and a2 is, not each of them");
        case verdict_kind::open:
            return profile;
        default:
            return "";
    }
}

message short_verdict(verdict_kind k) {
    switch (k) {
        case verdict_kind::fixed: return "held (" + mention("fix") + ")";
        case verdict_kind::determined: return "determined";
        case verdict_kind::singular: return "NOT determined (the data do not depend on it)";
        case verdict_kind::wide: return "NOT determined (interval wider than a decade, or in pieces)";
        case verdict_kind::at_bound: return "NOT determined (at the edge of the search)";
        case verdict_kind::open: return "NOT determined (no bound on one side)";
        default: return "NOT determined (only a combination of a1 and a2)";
    }
}

}  // namespace

std::string profile_cell(const parameter_estimate& p) {
    const profile_interval& pr = p.profile;
    if (!pr.computed) return "-";
    std::string s = pr.lower && pr.upper ? factor_text(p, *pr.lower) + " .. " + factor_text(p, *pr.upper)
                    : pr.lower           ? "at least " + factor_text(p, *pr.lower)
                    : pr.upper           ? "at most " + factor_text(p, *pr.upper)
                                         : "no bound";
    return pr.disjoint ? s + " (in pieces)" : s;
}

namespace {

// The runs made at the same settings as run i (replicates), i among them;
// i alone when it has none.
std::vector<std::size_t> replicates_of(const estimate_report& r, std::size_t i) {
    std::vector<std::size_t> same;
    for (std::size_t j = 0; j < r.runs->runs.size(); ++j) {
        if (r.runs->runs[j].settings == r.runs->runs[i].settings) same.push_back(j);
    }
    return same;
}

// What a1's profile, open above, says about carbamate formation: where the
// plateau of fast formation begins (every a1 above it fits within 0.05 of
// the best) and how slow the runs still allow. The words follow the
// profile, not the best fit's value alone.
std::string carbamate_words(const parameter_estimate& p, const estimate_options& opt) {
    const std::vector<profile_point>& points = p.profile.points;
    const double at_edge = p.profile.computed && !points.empty() ? points.back().delta : 0.0;
    const std::string lowest = p.profile.lower ? factor_text(p, *p.profile.lower) : sig(opt.lower, 3);
    if (at_edge > 0.05) {
        return "The runs fit best with slow carbamate formation (a1 = " + factor_text(p, p.value) +
               "), but any faster nearly as well (the objective only " + sig_or_dash(at_edge, 2) +
               " higher at the edge of the search): they cannot tell slow from fast. Runs that differ more in "
               "residence time (load) or temperature could.";
    }
    // The plateau: from the lowest a1 above which every point is within 0.05.
    double plateau = NAN;
    for (auto it = points.rbegin(); it != points.rend() && std::isfinite(it->delta) && it->delta <= 0.05; ++it) {
        plateau = it->value;
    }
    if (!std::isfinite(plateau)) plateau = p.value;
    return "Any a1 from about " + sig(plateau, 2) + " up to the edge of the search fits as well as the best (the "
           "profile is flat there: carbamate formation that fast leaves the conversion and the outlet analysis "
           "unchanged), and down to " + lowest + " within the 95 % threshold; these runs say only that carbamate "
           "formation is not slower than that. This is the usual outcome, not a fault of the data.";
}

}  // namespace

// A linearised interval for a table: where it means nothing, why not
// ("none", "spans 141 decades", "unlike the profile").
std::string linearised_cell(const parameter_estimate& p) {
    const std::string caveat = linearised_caveat(p);
    if (!caveat.empty()) return caveat;
    return linearised_text(p) + (p.conditional ? " (other held)" : "");
}

// A move of a factor without a run, in per cent and against its 95 %
// profile interval (see share_of_interval); without a profile, in
// standard errors.
std::string move_text(const parameter_estimate& p, const left_out_run& x, std::size_t k) {
    const double pct = 100.0 * std::expm1(x.shift_ln[k]);
    std::string s = (pct >= 0.0 ? "+" : "") + sig_or_dash(pct, 2) + " %";
    const double share = share_of_interval(p, x, k);
    if (share > 1.0) return s + ", beyond the 95 % interval";
    if (std::isfinite(share)) return s + ", " + sig_or_dash(100.0 * share, 2) + " % of the way to its 95 % bound";
    if (p.profile.computed) return s + ", towards an open side";
    if (std::isfinite(x.shift_se[k])) s += ", " + sig_or_dash(std::abs(x.shift_se[k]), 2) + " standard errors";
    return s;
}

double share_of_interval(const parameter_estimate& p, const left_out_run& x, std::size_t k) {
    if (!p.profile.computed || !x.ok || !std::isfinite(x.value[k]) || !(x.value[k] > 0.0)) return NAN;
    const std::optional<double>& bound = x.value[k] >= p.value ? p.profile.upper : p.profile.lower;
    if (!bound) return NAN;
    const double reach = std::log(*bound / p.value);
    return reach != 0.0 ? std::log(x.value[k] / p.value) / reach : NAN;
}

std::string correlation_caveat(const estimate_result& res) {
    if (!res.parameters[0].free || !res.parameters[1].free) return "none (a factor is held)";
    if (!std::isfinite(res.correlation)) {
        return res.covariance_note.empty() ? "none" : "none (" + res.covariance_note + ")";
    }
    for (const parameter_estimate& p : res.parameters) {
        if (!linearised_caveat(p).empty()) {
            return "not given: like " + p.name + "'s linearised interval, it means nothing here";
        }
    }
    return "";
}

bool impossible_for_model(const estimate_report& r, const residual_row& row) {
    if (r.reachable == nullptr || row.what != quantity::co2_conversion || row.run >= r.reachable->size()) return false;
    const double highest = (*r.reachable)[row.run];
    return std::isfinite(highest) && row.measured - 3.0 * row.sigma > highest;
}

estimate_report report_of(const estimate_outcome& e) {
    estimate_report r{&e.problem.runs, &e.problem.options, &e.result, e.reactor_solves, &e.reachable};
    r.region = &e.region;
    r.leave_one_out = &e.leave_one_out;
    r.bootstrap = &e.bootstrap;
    r.tuned = &e.tuned;
    return r;
}

std::vector<message> verdict_lines(const estimate_report& r) {
    const estimate_result& res = *r.result;
    const estimate_options& opt = *r.options;
    std::vector<message> lines;
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = res.parameters[k];
        const parameter_estimate& other = res.parameters[1 - k];
        if (p.verdict == verdict_kind::fixed) {
            lines.push_back(p.name + " is held at " + factor_text(p, p.value) + " (" + mention("fix") + ").");
            continue;
        }
        if (p.verdict == verdict_kind::determined) {
            std::string s = p.name + " = " + factor_text(p, p.value) + " is determined by these data: 95 % between ";
            if (p.profile.computed) {
                const std::string caveat = linearised_caveat(p);
                const std::string held = p.conditional ? " with " + other.name + " held at its value" : "";
                s += factor_text(p, *p.profile.lower) + " and " + factor_text(p, *p.profile.upper) +
                     " (profile likelihood" + (other.free ? ", " + other.name + " re-optimised at each value" : "") +
                     (caveat.empty() ? "; the linearised interval is " + linearised_text(p) + (held.empty() ? "" : "," + held)
                      : caveat == "none" ? ""
                                         : "; the linearised interval, " + linearised_text(p) + held +
                                               ", is unlike it: the model is too far from linear here for it") +
                     ")";
            } else {
                s += factor_text(p, p.lower95) + " and " + factor_text(p, p.upper95) + " (a standard error of " +
                     sig_or_dash(100.0 * p.se_ln, 2) + " %)";
                if (p.conditional) s += ", with " + other.name + " held at its value";
            }
            lines.push_back(s + ".");
            continue;
        }
        message s = p.name + " is NOT determined by these data: " + why_not(p, res, opt) + ".";
        const bool open_above = p.profile.computed ? !p.profile.upper : p.value > 1.0;
        if (k == 0 && p.verdict != verdict_kind::combination && open_above) {
            s += " " + carbamate_words(p, opt);
        }
        const message fix = mention("fix", p.name, sig_or_dash(opt.initial[k], 6));
        if (other.verdict == verdict_kind::fixed) {
            s += " These runs cannot tune it; keep a value you trust (" + fix + " holds the base case's).";
        } else {
            s += " Hold it at the base case's value (add " + fix + ", or a value you trust) and "
                 "estimate " + other.name + " alone; the " + factor_text(p, p.value) +
                 " found here is no estimate of it.";
        }
        lines.push_back(s);
    }
    // A determined factor that one run alone moves out of its 95 % profile
    // interval leans on that run (without a profile: by more than two
    // standard errors); a move within the interval is no alarm.
    if (r.leave_one_out != nullptr && r.leave_one_out->computed) {
        for (std::size_t k = 0; k < 2; ++k) {
            const parameter_estimate& p = res.parameters[k];
            if (p.verdict != verdict_kind::determined) continue;
            for (const left_out_run& x : r.leave_one_out->runs) {
                const double share = share_of_interval(p, x, k);
                const bool alarm = p.profile.computed ? share > 1.0 : std::abs(x.shift_se[k]) > 2.0;
                if (!x.ok || !alarm) continue;
                const std::vector<std::size_t> same = replicates_of(r, x.run);
                lines.push_back("Without " + run_named(r, x.run) +
                                (same.size() > 1 ? ", one of " + std::to_string(same.size()) +
                                                       " runs at the same settings,"
                                                 : std::string(",")) +
                                " " + p.name + " would be " + factor_text(p, x.value[k]) + " (" + move_text(p, x, k) +
                                (same.size() > 1 ? "): the estimate leans on the runs at those settings; check them."
                                                 : "): the estimate leans on that run; check it."));
            }
        }
    }
    if (res.degrees_of_freedom > 0) {
        const boost::math::chi_squared dist(res.degrees_of_freedom);
        // With a robust loss, the scatter of the robust residuals, in which
        // a downweighted outlier counts as little as it pulls.
        const bool robust = std::isfinite(res.robust_reduced_chi_square);
        const double chi_square = robust ? res.robust_reduced_chi_square * res.degrees_of_freedom : res.chi_square;
        const std::string reduced =
            robust ? "reduced chi-square of the robust residuals " + sig_or_dash(res.robust_reduced_chi_square, 3) +
                         " (" + loss_name(res.loss) + " loss; " + sig_or_dash(res.reduced_chi_square, 3) +
                         " counting every residual in full)"
                   : "reduced chi-square " + sig_or_dash(res.reduced_chi_square, 3);
        if (boost::math::cdf(boost::math::complement(dist, chi_square)) < 0.01) {
            lines.push_back("The data scatter more about the model than their stated standard deviations "
                            "allow (" + reduced + "): the intervals are widened by " +
                            sig_or_dash(res.scale_factor, 3) + ". Check the stated sigmas and the outliers "
                            "below, or whether the model misses something in some runs.");
        } else if (boost::math::cdf(dist, chi_square) < 0.01) {
            lines.push_back("The data scatter less than their stated standard deviations (" + reduced +
                            "): the sigmas may be stated too large. The intervals are not narrowed for it.");
        } else {
            lines.push_back("The scatter matches the stated standard deviations (" + reduced + ").");
        }
    } else {
        lines.push_back("As many measurements as free parameters: the fit is exact and says nothing "
                        "about the scatter; the intervals rest on the stated standard deviations alone.");
    }
    int usable = 0;
    for (const start_outcome& s : res.starts) usable += s.usable ? 1 : 0;
    if (res.starts.size() > 1 && res.starts_agreeing == 1) {
        lines.push_back("Only one of the " + std::to_string(res.starts.size()) + " starts reached the best fit (" +
                        std::to_string(usable) + " ended usably): the others stopped elsewhere; the " + mention("json") +
                        " output lists them.");
    }
    bool any = false;
    for (const residual_row& row : res.residuals) {
        if (!impossible_for_model(r, row)) continue;
        any = true;
        lines.push_back(run_named(r, row.run) + ": the measured CO2 conversion " + sig_or_dash(row.measured, 4) +
                        " is impossible for the model: at this run's conditions no rate factors give more "
                        "than its equilibrium conversion, " + sig_or_dash((*r.reachable)[row.run], 4) +
                        ". Check the measurement and the run's settings (feed, temperatures).");
    }
    for (const residual_row& row : res.residuals) {
        if (!row.outlier || impossible_for_model(r, row)) continue;
        any = true;
        message s = run_named(r, row.run) + ": " + info(row.what).column + " measured " +
                    sig_or_dash(row.measured, 4) + ", predicted " + sig_or_dash(row.predicted, 4) + ", " +
                    sig_or_dash(std::abs(row.residual), 2) + " standard deviations off: a possible outlier; check it";
        s += res.loss == loss_kind::none ? " (" + mention("loss", "", "huber") + " or " + mention("loss", "", "cauchy") +
                                               " lessens its pull on the estimate)."
                                         : message(".");
        lines.push_back(s);
    }
    if (!any) lines.push_back("No measurement lies more than 3 standard deviations from the model.");
    if (res.model_failures > 0) {
        lines.push_back("The reactor had no solution at " + std::to_string(res.model_failures) + " of the " +
                        std::to_string(res.model_evaluations) +
                        " points the search tried; it stepped back from them.");
    }
    return lines;
}

namespace {

// The bootstrap's percentile intervals and each run left out in turn.
void print_resampling(std::ostream& out, const estimate_report& r, std::size_t width) {
    const estimate_result& res = *r.result;
    const bool boot = r.bootstrap != nullptr && r.bootstrap->resamples > 0;
    const bool loo = r.leave_one_out != nullptr && r.leave_one_out->computed;
    if (!boot && !loo) return;
    out << "\nResampling\n";
    if (boot) {
        const bootstrap_result& b = *r.bootstrap;
        out << "  bootstrap: " << b.resamples << " resamples of the " << r.runs->runs.size() << " runs (seed "
            << b.seed << "), " << b.failed << " without a usable fit\n";
        for (std::size_t k = 0; k < 2; ++k) {
            const parameter_estimate& p = res.parameters[k];
            if (!p.free || !std::isfinite(b.median[k])) continue;
            out << "    " << p.name << ": 95 % of the resamples between " << factor_text(p, b.lower95[k]) << " and "
                << factor_text(p, b.upper95[k]) << " (median " << factor_text(p, b.median[k]) << ")"
                << (p.verdict == verdict_kind::determined ? "" : "; not determined, so they mean little") << "\n";
        }
    }
    if (loo) {
        const leave_one_out_result& l = *r.leave_one_out;
        out << "  each run left out in turn (the fit without it):\n";
        out << "    " << padded("run", width);
        for (const parameter_estimate& p : res.parameters) {
            if (p.free) out << "  " << padded(p.name + " without it", 16);
        }
        for (const parameter_estimate& p : res.parameters) {
            if (p.verdict == verdict_kind::determined) out << "  " << p.name << " moves";
        }
        out << "\n";
        for (const left_out_run& x : l.runs) {
            out << "    " << padded(printable(run_of(r, x.run).name), width);
            if (!x.ok) {
                out << "  no usable fit without it\n";
                continue;
            }
            for (std::size_t k = 0; k < 2; ++k) {
                if (res.parameters[k].free) out << "  " << padded(factor_text(res.parameters[k], x.value[k]), 16);
            }
            for (std::size_t k = 0; k < 2; ++k) {
                if (res.parameters[k].verdict == verdict_kind::determined) {
                    out << "  " << move_text(res.parameters[k], x, k);
                }
            }
            out << "\n";
        }
        for (std::size_t k = 0; k < 2; ++k) {
            const parameter_estimate& p = res.parameters[k];
            if (p.verdict != verdict_kind::determined || l.influential[k].empty()) continue;
            std::string s = "most influential on " + p.name + ": ";
            for (std::size_t i = 0; i < l.influential[k].size(); ++i) {
                const left_out_run& x = l.runs[l.influential[k][i]];
                s += (i > 0 ? ", " : "") + printable(run_of(r, x.run).name) + " (" + move_text(p, x, k) + ")";
            }
            out << wrapped(s, 4, 100);
        }
        // Runs at the same settings: one left out leaves the others saying
        // the same, so it moves the estimate little.
        std::vector<bool> told(r.runs->runs.size(), false);
        for (std::size_t i = 0; i < r.runs->runs.size(); ++i) {
            const std::vector<std::size_t> same = replicates_of(r, i);
            if (same.size() < 2 || told[i]) continue;
            std::string s = "replicates (the same settings):";
            for (const std::size_t j : same) {
                s += (j == same.front() ? " " : ", ") + printable(run_of(r, j).name);
                told[j] = true;
            }
            out << wrapped(s, 4, 100);
        }
    }
}

}  // namespace

std::vector<message> tuned_case_lines(const estimate_report& r, const std::string& written_to) {
    std::vector<message> lines;
    if (r.tuned == nullptr) return lines;
    const tuned_case& t = *r.tuned;
    const estimate_result& res = *r.result;
    message s = "The tuned case" + (written_to.empty() ? std::string() : " (written to " + printable(written_to) + ")") +
                " is the base case with";
    bool any = false;
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = res.parameters[k];
        const tuned_factor& f = t.factors[k];
        s += k == 0 ? " " : "; ";
        const std::string v = p.name + " = " + factor_text(p, f.value);
        switch (f.source) {
            case tuned_factor::how::estimated:
                s += v + " as estimated";
                if (f.with_other_kept) {
                    s += " with " + res.parameters[1 - k].name + " at the base case's value";
                }
                any = any || f.changed;
                break;
            case tuned_factor::how::held:
                s += v + ", held with " + mention("fix") + (f.changed ? "" : " (the base case's)");
                any = any || f.changed;
                break;
            case tuned_factor::how::kept:
                s += v + ", the base case's, kept: these runs do not determine it";
                break;
        }
    }
    lines.push_back(s + ".");
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = res.parameters[k];
        if (!t.factors[k].ruled_out) continue;
        lines.push_back("But the runs rule out the base case's " + p.name + " = " + factor_text(p, t.factors[k].value) +
                        " (95 % profile interval: " + profile_text(p, *r.options) + "): hold " + p.name + " with " +
                        mention("fix") + " at a value within it that you trust, and estimate again.");
    }
    if (!any) lines.push_back("Nothing was changed: the case is the base case as it was.");
    if (std::isfinite(t.co2_conversion)) {
        lines.push_back("Run as urea-reactor runs it, the tuned case converts " + sig_or_dash(t.co2_conversion, 4) +
                        " of its CO2 (a fraction).");
    } else {
        lines.push_back("The tuned case's CO2 conversion is not known: the reactor had no solution for it.");
    }
    return lines;
}

void print_estimate(std::ostream& out, const estimate_report& r, const vocabulary& words) {
    const estimate_result& res = *r.result;
    const runs_file& f = *r.runs;
    const auto counted = [](std::size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    out << "Estimate of a1 and a2 from " << counted(f.runs.size(), "run", "runs") << " ("
        << counted(static_cast<std::size_t>(res.measurements), "measurement", "measurements") << ") in "
        << printable(f.file) << "\n\n";
    std::size_t width = 3;
    for (const plant_run& x : f.runs) width = std::max(width, std::min<std::size_t>(printable(x.name).size(), 24));
    out << "  " << padded("run", width) << "  line  measurement     measured   sigma  predicted  (m-p)/sigma\n";
    std::size_t last = static_cast<std::size_t>(-1);
    for (const residual_row& row : res.residuals) {
        const bool first = row.run != last;
        last = row.run;
        const plant_run& x = run_of(r, row.run);
        out << "  " << padded(first ? printable(x.name) : "", width)
            << (first ? fixed(static_cast<double>(x.line), 6, 0) : std::string(6, ' ')) << "  "
            << padded(info(row.what).label, 14) << fixed(row.measured, 10, 4) << fixed(row.sigma, 8, 4)
            << fixed(row.predicted, 11, 4) << fixed(row.residual, 13, 2)
            << (impossible_for_model(r, row) ? "  impossible for the model" : row.outlier ? "  possible outlier" : "")
            << "\n";
    }
    out << "\nRate factors (least squares in ln a, loss " << loss_name(res.loss)
        << "; 95 % intervals: profile likelihood, and linearised exp(ln a -+ t se))\n";
    std::size_t value_width = 6, profile_width = 24, linear_width = 16;
    for (const parameter_estimate& p : res.parameters) {
        value_width = std::max(value_width, factor_text(p, p.value).size() + 2);
        profile_width = std::max(profile_width, profile_cell(p).size() + 2);
        linear_width = std::max(linear_width, linearised_cell(p).size() + 2);
    }
    out << "        " << padded("value", value_width) << padded("profile likelihood", profile_width)
        << padded("linearised", linear_width) << "verdict\n";
    for (const parameter_estimate& p : res.parameters) {
        out << "  " << p.name << " =  " << padded(factor_text(p, p.value), value_width)
            << padded(p.free ? profile_cell(p) : "", profile_width)
            << padded(p.free ? linearised_cell(p) : "", linear_width) << in_words(short_verdict(p.verdict), words) << "\n";
    }
    std::string not_shown;
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = res.parameters[k];
        const std::string caveat = linearised_caveat(p);
        if (!p.free || caveat.empty() || caveat == "none") continue;
        not_shown += (not_shown.empty() ? "" : "; ") + p.name + "'s, " + linearised_text(p) +
                     (p.conditional ? " with " + res.parameters[1 - k].name + " held" : "") + ", " +
                     (caveat == "unlike the profile" ? "is unlike its profile interval" : caveat);
    }
    if (!not_shown.empty()) {
        out << wrapped("linearised intervals are shown where they mean something (within a decade, and agreeing "
                       "with the profile's), not here: " + not_shown +
                           ". The model is too far from linear in the factors for them.",
                       2, 100);
    }
    if (res.parameters[0].free && res.parameters[1].free) {
        const std::string caveat = correlation_caveat(res);
        out << wrapped("correlation of ln a1 and ln a2: " + (caveat.empty() ? sig_or_dash(res.correlation, 3) : caveat),
                       2, 100);
    }
    out << wrapped("chi-square " + sig_or_dash(res.chi_square, 4) + " on " + std::to_string(res.degrees_of_freedom) +
                       " degrees of freedom, reduced chi-square " + sig_or_dash(res.reduced_chi_square, 3) +
                       (std::isfinite(res.robust_reduced_chi_square)
                            ? "; of the robust residuals " + sig_or_dash(res.robust_reduced_chi_square, 3) +
                                  ", which sets the intervals' scale"
                            : ""),
                   2, 100);
    out << "  " << res.starts_agreeing << " of " << res.starts.size()
        << " starts reached the best fit; " << r.reactor_solves << " reactor solves\n";
    print_resampling(out, r, width);
    if (r.tuned != nullptr) {
        out << "\nTuned case\n";
        for (const message& line : tuned_case_lines(r, "")) out << wrapped(in_words(line, words), 2, 100);
    }
    out << "\nVerdict\n";
    for (const message& line : verdict_lines(r)) out << wrapped(in_words(line, words), 2, 100);
}

namespace {

// [lower, upper], null for an open end; null when there is no profile.
nlohmann::ordered_json profile_json(const profile_interval& p) {
    using json = nlohmann::ordered_json;
    if (!p.computed) return nullptr;
    return json::array({p.lower ? json(*p.lower) : json(nullptr), p.upper ? json(*p.upper) : json(nullptr)});
}

// The covariance of (ln a1, ln a2) before the scale factor, as predictions
// need it: both free, the matrix; one free, its variance with the held
// factor's row and column 0; null where there is none (both held, or a
// singular covariance with both free).
nlohmann::ordered_json covariance_json(const estimate_result& res) {
    using json = nlohmann::ordered_json;
    std::array<std::array<double, 2>, 2> c{};
    if (res.covariance.size() == 2) {
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t j = 0; j < 2; ++j) c[i][j] = res.covariance[i][j];
        }
    } else if (res.free_parameters == 1) {
        const std::size_t k = res.parameters[0].free ? 0 : 1;
        const double se = res.parameters[k].se_ln_unscaled;
        if (!std::isfinite(se)) return nullptr;
        c[k][k] = se * se;
    } else {
        return nullptr;
    }
    return json::array({json::array({c[0][0], c[0][1]}), json::array({c[1][0], c[1][1]})});
}

}  // namespace

nlohmann::ordered_json estimate_json(const estimate_report& r, const vocabulary& words) {
    using json = nlohmann::ordered_json;
    const estimate_result& res = *r.result;
    json runs = json::array();
    for (std::size_t i = 0; i < r.runs->runs.size(); ++i) {
        const plant_run& x = run_of(r, i);
        json measurements = json::array();
        for (const residual_row& row : res.residuals) {
            if (row.run != i) continue;
            measurements.push_back({{"measurement", info(row.what).column},
                                    {"measured", row.measured},
                                    {"sigma", row.sigma},
                                    {"sigma_given", x.measured[static_cast<std::size_t>(row.what)]->sigma_given},
                                    {"predicted", json_number(row.predicted)},
                                    {"residual", json_number(row.residual)},
                                    {"outlier", row.outlier},
                                    {"impossible_for_model", impossible_for_model(r, row)}});
        }
        runs.push_back({{"run", x.name}, {"line", x.line}, {"note", x.note}, {"measurements", measurements}});
    }
    json parameters = json::object();
    for (const parameter_estimate& p : res.parameters) {
        parameters[p.name] = {{"value", p.value},
                              {"free", p.free},
                              {"se_ln", json_number(p.se_ln)},
                              {"lower95", linearised_text(p) == "none" ? json(nullptr) : json_number(p.lower95)},
                              {"upper95", linearised_text(p) == "none" ? json(nullptr) : json_number(p.upper95)},
                              {"linearised_meaningful", p.free && linearised_caveat(p).empty()},
                              {"linearised_note", p.free ? linearised_caveat(p) : "held"},
                              {"conditional", p.conditional},
                              {"profile95", profile_json(p.profile)},
                              {"verdict", verdict_name(p.verdict)},
                              {"verdict_text", in_words(p.verdict_text, words)}};
        if (p.profile.computed) {
            json points = json::array();
            for (const profile_point& q : p.profile.points) {
                points.push_back({{"value", q.value}, {"other", q.other}, {"delta", json_number(q.delta)}});
            }
            parameters[p.name]["profile"] = {{"disjoint", p.profile.disjoint},
                                             {"unsolved_lower", p.profile.unsolved_lower},
                                             {"unsolved_upper", p.profile.unsolved_upper},
                                             {"points", points}};
        }
    }
    json starts = json::array();
    for (const start_outcome& s : res.starts) {
        starts.push_back({{"from", {{"a1", s.from[0]}, {"a2", s.from[1]}}},
                          {"to", {{"a1", s.to[0]}, {"a2", s.to[1]}}},
                          {"usable", s.usable},
                          {"converged", s.converged},
                          {"chi_square", json_number(s.chi_square)},
                          {"objective", json_number(s.objective)},
                          {"iterations", s.iterations},
                          {"reactor_failures", s.model_failures},
                          {"message", s.message}});
    }
    const auto by_factor = [&](const std::array<double, 2>& v) {
        return json{{"a1", json_number(v[0])}, {"a2", json_number(v[1])}};
    };
    json region = nullptr;
    if (r.region != nullptr && r.region->computed) {
        const likelihood_region& g = *r.region;
        json pieces = json::array();
        for (const auto& piece : g.pieces) {
            json slices = json::array();
            for (const region_slice& x : piece) {
                slices.push_back({{"a1", x.a1},
                                  {"a2_best", json_number(x.a2_best)},
                                  {"delta_best", json_number(x.delta_best)},
                                  {"a2_low", json_number(x.a2_low)},
                                  {"a2_high", json_number(x.a2_high)},
                                  {"open_low", x.open_low},
                                  {"open_high", x.open_high}});
            }
            pieces.push_back(slices);
        }
        json ellipse = json::array();
        for (const auto& e : g.ellipse) ellipse.push_back({e[0], e[1]});
        region = {{"threshold", g.threshold},
                  {"open_a1_low", g.open_a1_low},
                  {"open_a1_high", g.open_a1_high},
                  {"open_a2", g.open_a2},
                  {"pieces", pieces},
                  {"linearised_ellipse", ellipse}};
    }
    json loo = nullptr;
    if (r.leave_one_out != nullptr && r.leave_one_out->computed) {
        const leave_one_out_result& l = *r.leave_one_out;
        json rows = json::array();
        for (const left_out_run& x : l.runs) {
            const std::array<double, 2> share = {share_of_interval(res.parameters[0], x, 0),
                                                 share_of_interval(res.parameters[1], x, 1)};
            json replicates = json::array();
            for (const std::size_t j : replicates_of(r, x.run)) {
                if (j != x.run) replicates.push_back(run_of(r, j).name);
            }
            rows.push_back({{"run", run_of(r, x.run).name},
                            {"ok", x.ok},
                            {"without_it", by_factor(x.value)},
                            {"shift_ln", by_factor(x.shift_ln)},
                            {"shift_se", by_factor(x.shift_se)},
                            {"share_of_profile95", by_factor(share)},
                            {"replicates", replicates}});
        }
        json influential = json::object();
        for (std::size_t k = 0; k < 2; ++k) {
            json names = json::array();
            for (const std::size_t i : l.influential[k]) names.push_back(run_of(r, i).name);
            influential[res.parameters[k].name] = names;
        }
        loo = {{"runs", rows}, {"influential", influential}};
    }
    json boot = nullptr;
    if (r.bootstrap != nullptr && r.bootstrap->resamples > 0) {
        const bootstrap_result& b = *r.bootstrap;
        json samples = json::array();
        for (const auto& x : b.samples) samples.push_back({x[0], x[1]});
        boot = {{"resamples", b.resamples},
                {"seed", b.seed},
                {"failed", b.failed},
                {"lower95", by_factor(b.lower95)},
                {"median", by_factor(b.median)},
                {"upper95", by_factor(b.upper95)},
                {"samples", samples}};
    }
    json tuned = nullptr;
    if (r.tuned != nullptr) {
        const tuned_case& t = *r.tuned;
        tuned = json::object();
        for (std::size_t k = 0; k < 2; ++k) {
            const tuned_factor& f = t.factors[k];
            tuned[res.parameters[k].name] = {
                {"value", f.value},
                {"changed", f.changed},
                {"source", f.source == tuned_factor::how::estimated ? "estimated"
                           : f.source == tuned_factor::how::held    ? "held"
                                                                     : "kept"},
                {"with_other_kept", f.with_other_kept},
                {"ruled_out", f.ruled_out}};
        }
        tuned["co2_conversion"] = json_number(t.co2_conversion);
    }
    return {{"runs_file", r.runs->file},
            {"runs", runs},
            {"parameters", parameters},
            {"search_box", {{"lower", r.options->lower}, {"upper", r.options->upper}}},
            {"profile_threshold", json_number(res.profile_threshold)},
            {"region_threshold", json_number(res.region_threshold)},
            {"region", region},
            {"leave_one_out", loo},
            {"bootstrap", boot},
            {"tuned_case", tuned},
            {"correlation", correlation_caveat(res).empty() ? json_number(res.correlation) : json(nullptr)},
            {"correlation_note", correlation_caveat(res)},
            {"covariance_ln", covariance_json(res)},
            {"covariance_singular", res.covariance_singular},
            {"measurements", res.measurements},
            {"free_parameters", res.free_parameters},
            {"degrees_of_freedom", res.degrees_of_freedom},
            {"chi_square", res.chi_square},
            {"reduced_chi_square", json_number(res.reduced_chi_square)},
            {"robust_reduced_chi_square", json_number(res.robust_reduced_chi_square)},
            {"interval_scale_factor", res.scale_factor},
            {"t_quantile", res.t_quantile},
            {"loss", {{"kind", loss_name(res.loss)}, {"scale_sigma", res.loss_scale}}},
            {"starts", starts},
            {"starts_agreeing", res.starts_agreeing},
            {"outliers", res.outliers},
            {"reactor_solves", r.reactor_solves},
            {"reactor_failures", res.model_failures},
            {"verdict", said_all(verdict_lines(r), words)},
            {"warnings", r.runs->warnings}};
}

table residuals_table(const estimate_report& r) {
    table t;
    for (const schema_field& f : type_of("residual").fields) t.add(f);
    for (const residual_row& row : r.result->residuals) {
        const plant_run& x = run_of(r, row.run);
        std::size_t i = 0;
        t[i++].push(x.name);
        t[i++].push(static_cast<double>(x.line));
        t[i++].push(std::string(info(row.what).column));
        t[i++].push(row.measured);
        t[i++].push(row.sigma);
        t[i++].push(x.measured[static_cast<std::size_t>(row.what)]->sigma_given);
        t[i++].push(row.predicted);
        t[i++].push(row.residual);
        t[i++].push(row.outlier);
        t[i++].push(impossible_for_model(r, row));
    }
    return t;
}

std::string estimate_csv(const estimate_report& r) { return csv_text(residuals_table(r)); }

std::vector<std::string> tuned_case_comments(const estimate_report& r, const std::string& runs_sha256,
                                             const std::string& writer, const vocabulary& words) {
    std::vector<std::string> lines = {"The tuned case, written by " + writer + ".",
                                      "Runs file: " + r.runs->file +
                                          (runs_sha256.empty() ? " (a table, no file)." : " (SHA-256 " + runs_sha256 + ").")};
    for (const message& line : tuned_case_lines(r, "")) lines.push_back(in_words(line, words));
    return lines;
}

std::string estimate_factors_text(const estimate_report& r) {
    std::string s;
    for (const parameter_estimate& p : r.result->parameters) {
        s += s.empty() ? "" : ", ";
        if (p.verdict == verdict_kind::fixed) {
            s += p.name + " = " + factor_text(p, p.value) + " (held)";
        } else if (p.verdict == verdict_kind::determined) {
            s += p.name + " = " + factor_text(p, p.value);
        } else {
            s += p.name + " not determined";
        }
    }
    return s;
}

figure parity_figure(const estimate_report& r) {
    const estimate_result& res = *r.result;
    // A panel per kind of measurement, each with its own range, so that
    // the scatter about y = x and the bars are seen at their own scale.
    std::vector<std::size_t> kinds;
    for (std::size_t q = 0; q < quantity_count; ++q) {
        if (std::any_of(res.residuals.begin(), res.residuals.end(),
                        [&](const residual_row& row) { return static_cast<std::size_t>(row.what) == q; })) {
            kinds.push_back(q);
        }
    }
    const std::size_t n = kinds.size();
    bool any_outlier = false;
    for (const residual_row& row : res.residuals) any_outlier = any_outlier || row.outlier;
    figure f;
    f.columns = static_cast<int>(n <= 3 ? std::max<std::size_t>(n, 1) : n == 4 ? 2 : 3);
    f.title = "Measured against predicted at the best fit: " + estimate_factors_text(r) +
              "\nbars: ± one stated standard deviation" +
              (any_outlier ? "; ringed: more than 3 standard deviations off" : "");
    for (const std::size_t q : kinds) {
        double lo = INFINITY, hi = -INFINITY;
        const curve_style st = measured_style(static_cast<quantity>(q));
        series bars, rings;
        bars.how = mark::x_error_bars;
        bars.colour = st.colour;
        bars.marker = st.marker;
        bars.size = 0.8;
        bars.width = 1.2;
        rings.how = mark::rings;
        rings.role = series_role::judged_by;
        rings.size = 2.6;
        rings.width = 2;
        rings.plain = true;
        for (const residual_row& row : res.residuals) {
            if (static_cast<std::size_t>(row.what) != q) continue;
            lo = std::min({lo, row.measured - row.sigma, row.predicted});
            hi = std::max({hi, row.measured + row.sigma, row.predicted});
            bars.x.push_back(row.measured);
            bars.y.push_back(row.predicted);
            bars.low.push_back(row.measured - row.sigma);
            bars.high.push_back(row.measured + row.sigma);
            if (row.outlier) {
                // Each ringed measurement labelled with its run's name.
                rings.x.push_back(row.measured);
                rings.y.push_back(row.predicted);
                rings.labels.push_back(run_of(r, row.run).name + (impossible_for_model(r, row) ? " (impossible)" : ""));
            }
        }
        const double margin = std::max(0.08 * (hi - lo), 1e-4);
        lo -= margin;
        hi += margin;
        const std::string unit = quantities[q].in_analysis ? "kg/kg" : "fraction";
        panel p;
        p.title = std::string(quantities[q].plot_title) + " (" + unit + ")";
        p.x = {"measured", "", axis_scale::linear, lo, hi, linear_ticks(lo, hi, 4)};
        p.y = {"predicted", "", axis_scale::linear, lo, hi, linear_ticks(lo, hi, 4)};
        p.square = true;
        p.key = key_place::none;
        series diagonal;
        diagonal.role = series_role::guide;
        diagonal.dash = 2;
        diagonal.width = 1;
        diagonal.x = diagonal.y = {lo, hi};
        p.drawn = {diagonal, bars, rings};
        f.panels.push_back(p);
    }
    return f;
}

std::string parity_plot_script(const estimate_report& r) {
    return "set errorbars small\n" + gnuplot_script(parity_figure(r));
}

namespace {

// A log axis's range lo .. hi cut at the search box, then, where it was
// cut, taken past the edge by a thirtieth of its span: a point on the edge
// is seen whole, and little beyond it.
void beyond_edges(const estimate_options& opt, double lo, double hi, double& out_lo, double& out_hi) {
    out_lo = std::max(lo, opt.lower);
    out_hi = std::min(hi, opt.upper);
    const double margin = std::log(out_hi / out_lo) / 30.0;
    if (lo < opt.lower) out_lo = std::max(lo, opt.lower * std::exp(-margin));
    if (hi > opt.upper) out_hi = std::min(hi, opt.upper * std::exp(margin));
}

// One factor's profile: the objective above the best against the factor
// (log axis), the 95 % threshold, the interval's ends, the search box's
// edges and the linearised parabola for comparison.
panel profile_panel(const estimate_report& r, std::size_t k) {
    const estimate_result& res = *r.result;
    const estimate_options& opt = *r.options;
    const parameter_estimate& p = res.parameters[k];
    const double thr = res.profile_threshold, top = 3.0 * thr;
    // The x range: where the profile lies below the top of the plot, with
    // a margin; the box's edge where it reaches it.
    double lo = p.value, hi = p.value;
    for (const profile_point& q : p.profile.points) {
        if (q.delta <= top) {
            lo = std::min(lo, q.value);
            hi = std::max(hi, q.value);
        }
    }
    // Past the search box's edge by the margin, so that a point on it is
    // seen whole, with the edge marked.
    const double pad = std::max(std::log(hi / lo) * 0.15, 0.02);
    beyond_edges(opt, lo * std::exp(-pad), hi * std::exp(pad), lo, hi);
    panel pl;
    pl.x = {p.name + ", 95 % profile: " + profile_cell(p), "", axis_scale::log, lo, hi, {}};
    pl.y = {"objective above the best", "", axis_scale::linear, 0.0, top, {}};
    pl.key = key_place::below;
    series profile;
    profile.title = "profile";
    profile.role = series_role::estimate;
    profile.marks = true;
    profile.size = 0.5;
    profile.width = 2;
    for (const profile_point& q : p.profile.points) {
        if (!std::isfinite(q.delta)) continue;
        profile.x.push_back(q.value);
        profile.y.push_back(q.delta);
    }
    series threshold;
    threshold.title = "95 % threshold";
    threshold.how = mark::hline;
    threshold.role = series_role::judged_by;
    threshold.dash = 2;
    threshold.width = 1;
    threshold.y = {thr};
    // The interval's ends, from the foot up to the threshold.
    series ends;
    ends.role = series_role::estimate;
    ends.dash = 3;
    ends.width = 1;
    for (const std::optional<double>& b : {p.profile.lower, p.profile.upper}) {
        if (!b) continue;
        ends.x.insert(ends.x.end(), {*b, *b, *b});
        ends.y.insert(ends.y.end(), {0.0, thr, NAN});
    }
    series edges;
    edges.how = mark::vline;
    edges.role = series_role::guide;
    edges.dash = 3;
    for (const double edge : {opt.lower, opt.upper}) {
        if (edge > lo && edge < hi) edges.x.push_back(edge);
    }
    pl.drawn = {profile, threshold, ends, edges};
    if (std::isfinite(p.se_ln_unscaled) && p.se_ln_unscaled > 0.0) {
        series parabola;
        parabola.title = "linearised";
        parabola.role = series_role::guide;
        parabola.dash = 4;
        parabola.width = 1;
        for (int j = 0; j <= 200; ++j) {
            const double x = lo * std::pow(hi / lo, j / 200.0);
            parabola.x.push_back(x);
            parabola.y.push_back(std::min(std::pow(std::log(x / p.value) / p.se_ln_unscaled, 2), 2.0 * top));
        }
        pl.drawn.push_back(parabola);
    }
    return pl;
}

}  // namespace

figure profiles_figure(const estimate_report& r) {
    figure f;
    f.title = "Profile likelihood of each free factor";
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = r.result->parameters[k];
        if (p.free && p.profile.computed) f.panels.push_back(profile_panel(r, k));
    }
    f.columns = static_cast<int>(std::max<std::size_t>(f.panels.size(), 1));
    return f;
}

figure region_figure(const estimate_report& r) {
    figure f;
    if (r.region == nullptr || !r.region->computed) return f;
    const estimate_result& res = *r.result;
    const estimate_options& opt = *r.options;
    const likelihood_region& g = *r.region;
    const parameter_estimate& p1 = res.parameters[0];
    const parameter_estimate& p2 = res.parameters[1];
    // The outline of each piece: its slices along a1 from the lower edge to
    // the upper; a run of slices outside the threshold splits a piece.
    std::vector<std::vector<const region_slice*>> outlines;
    for (const auto& piece : g.pieces) {
        outlines.emplace_back();
        for (const region_slice& x : piece) {
            if (std::isfinite(x.a2_low) && std::isfinite(x.a2_high)) {
                outlines.back().push_back(&x);
            } else if (!outlines.back().empty()) {
                outlines.emplace_back();
            }
        }
    }
    double x_lo = p1.value, x_hi = p1.value, y_lo = p2.value, y_hi = p2.value;
    const auto widen = [&](double a1, double a2) {
        if (!(a1 > 0.0) || !(a2 > 0.0)) return;
        x_lo = std::min(x_lo, std::max(a1, opt.lower));
        x_hi = std::max(x_hi, std::min(a1, opt.upper));
        y_lo = std::min(y_lo, std::max(a2, opt.lower));
        y_hi = std::max(y_hi, std::min(a2, opt.upper));
    };
    panel pl;
    pl.key = key_place::outside_right;
    // Each piece shaded, and its edge drawn round it; one entry in the key.
    series edge;
    edge.role = series_role::estimate;
    edge.width = 2;
    for (const auto& o : outlines) {
        if (o.empty()) continue;
        series shade;
        shade.how = mark::band;
        shade.role = series_role::estimate;
        for (const region_slice* x : o) {
            shade.x.push_back(x->a1);
            shade.low.push_back(x->a2_low);
            shade.high.push_back(x->a2_high);
            edge.x.push_back(x->a1);
            edge.y.push_back(x->a2_high);
            widen(x->a1, x->a2_high);
            widen(x->a1, x->a2_low);
        }
        for (auto it = o.rbegin(); it != o.rend(); ++it) {
            edge.x.push_back((*it)->a1);
            edge.y.push_back((*it)->a2_low);
        }
        edge.x.insert(edge.x.end(), {o.front()->a1, o.front()->a1});
        edge.y.insert(edge.y.end(), {o.front()->a2_high, NAN});
        shade.title = pl.drawn.empty() ? "95 % region" : "";
        pl.drawn.push_back(std::move(shade));
    }
    pl.drawn.push_back(std::move(edge));
    series valley;
    valley.title = "best a2 at each a1";
    valley.role = series_role::estimate;
    valley.dash = 3;
    valley.width = 1;
    for (const auto& piece : g.pieces) {
        for (const region_slice& x : piece) {
            if (std::isfinite(x.a2_best) && x.delta_best <= g.threshold) {
                valley.x.push_back(x.a1);
                valley.y.push_back(x.a2_best);
            }
        }
        valley.x.push_back(NAN);
        valley.y.push_back(NAN);
    }
    pl.drawn.push_back(std::move(valley));
    series ellipse;
    ellipse.title = "linearised ellipse";
    ellipse.role = series_role::judged_by;
    ellipse.dash = 2;
    ellipse.width = 2;
    for (const auto& e : g.ellipse) {
        ellipse.x.push_back(e[0]);
        ellipse.y.push_back(e[1]);
        widen(e[0], e[1]);
    }
    pl.drawn.push_back(std::move(ellipse));
    if (r.bootstrap != nullptr) {
        series boot;
        boot.title = "bootstrap resamples";
        boot.how = mark::points;
        boot.role = series_role::guide;
        boot.marker = 1;
        boot.size = 0.5;
        boot.width = 1;
        for (const auto& x : r.bootstrap->samples) {
            boot.x.push_back(x[0]);
            boot.y.push_back(x[1]);
        }
        pl.drawn.push_back(std::move(boot));
    }
    series best;
    best.title = "best fit";
    best.how = mark::points;
    best.role = series_role::best_fit;
    best.size = 1.5;
    best.x = {p1.value};
    best.y = {p2.value};
    pl.drawn.push_back(std::move(best));
    // Log axes with a margin of a fifth of the span (at least 5 % of the
    // value), past the search box's edge by as much, the edge marked, so
    // that a best fit on it is seen whole.
    const auto padded_range = [&](double lo, double hi, double& out_lo, double& out_hi) {
        const double pad = std::max(0.2 * std::log(hi / lo), 0.05);
        beyond_edges(opt, lo * std::exp(-pad), hi * std::exp(pad), out_lo, out_hi);
    };
    double xa = 0, xb = 0, ya = 0, yb = 0;
    padded_range(x_lo, x_hi, xa, xb);
    padded_range(y_lo, y_hi, ya, yb);
    pl.x = {"a1 (carbamate formation)", "", axis_scale::log, xa, xb, log_ticks(xa, xb)};
    pl.y = {"a2 (dehydration)", "", axis_scale::log, ya, yb, log_ticks(ya, yb)};
    series x_edges;
    x_edges.how = mark::vline;
    x_edges.role = series_role::guide;
    x_edges.dash = 3;
    for (const double e : {opt.lower, opt.upper}) {
        if (e > xa && e < xb) x_edges.x.push_back(e);
        if (!(e > ya && e < yb)) continue;
        series y_edge;
        y_edge.how = mark::hline;
        y_edge.role = series_role::guide;
        y_edge.dash = 3;
        y_edge.y = {e};
        pl.drawn.insert(pl.drawn.begin(), std::move(y_edge));
    }
    pl.drawn.insert(pl.drawn.begin(), std::move(x_edges));
    std::string notes;
    if (g.open_a1_high || g.open_a1_low || g.open_a2) {
        notes += "open where it meets the edge of the search (dotted)";
    }
    // A line each: the title stands over a panel narrowed for its key.
    if (g.ellipse.empty()) notes += (notes.empty() ? "" : "\n") + std::string("no linearised ellipse (singular covariance)");
    // The title names the ellipse only where there is one to draw.
    pl.title = "Joint 95 % region of a1 and a2 (likelihood ratio)" +
               std::string(g.ellipse.empty() ? "" : " and the linearised ellipse") + (notes.empty() ? "" : "\n" + notes);
    f.panels.push_back(std::move(pl));
    return f;
}

std::string region_plot_script(const estimate_report& r) {
    const estimate_result& res = *r.result;
    std::vector<std::size_t> free;
    for (std::size_t k = 0; k < 2; ++k) {
        if (res.parameters[k].free && res.parameters[k].profile.computed) free.push_back(k);
    }
    if (free.empty()) return "";
    std::ostringstream s;
    s << std::setprecision(10);
    s << "set multiplot\n";
    const bool region = r.region != nullptr && r.region->computed && free.size() == 2;
    if (!region) {
        gnuplot_panel(s, profile_panel(r, free.front()), 0);
        s << "unset multiplot\n";
        return s.str();
    }
    s << "set origin 0,0.42\nset size 1,0.58\n";
    gnuplot_panel(s, region_figure(r).panels.front(), 2);
    s << "set origin 0,0\nset size 0.5,0.42\n";
    gnuplot_panel(s, profile_panel(r, 0), 0);
    s << "set origin 0.5,0\nset size 0.5,0.42\n";
    gnuplot_panel(s, profile_panel(r, 1), 1);
    s << "unset multiplot\n";
    return s.str();
}

nlohmann::ordered_json estimate_file_json(const estimate_report& r, const reactor_case& base, const build_info& build,
                                          const vocabulary& words) {
    auto j = estimate_json(r, words);
    j["base_case"] = case_json(base);
    j["build"] = build_json(build);
    return j;
}

}  // namespace workbench
