#include "report/estimate_report.h"

#include "io/text.h"
#include "report/palette.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include <boost/math/distributions/chi_squared.hpp>

namespace workbench {
namespace {

// Four significant digits, "-" for a value that is not finite.
std::string sig4(double v, int digits = 4) { return std::isfinite(v) ? sig(v, digits) : "-"; }

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
std::string why_not(const parameter_estimate& p, const estimate_result& res) {
    switch (p.verdict) {
        case verdict_kind::singular:
            return res.covariance_unsolvable
                       ? "the reactor could not be solved next to the best fit, where the uncertainty "
                         "is worked out"
                       : "the runs' predictions do not change measurably with it";
        case verdict_kind::wide:
            return "its 95 % interval, " + sig4(p.lower95, 3) + " to " + sig4(p.upper95, 3) +
                   ", spans more than a decade";
        case verdict_kind::at_bound:
            return "the best fit lies at the edge of the search, " + p.name + " = " + sig4(p.value, 3) +
                   ": the data only say it is " + (p.value > 1.0 ? "large" : "small");
        case verdict_kind::combination:
            return "only a combination of a1 and a2 is, not each of them";
        default:
            return "";
    }
}

const char* short_verdict(verdict_kind k) {
    switch (k) {
        case verdict_kind::fixed: return "held (--fix)";
        case verdict_kind::determined: return "determined";
        case verdict_kind::singular: return "NOT determined (the data do not depend on it)";
        case verdict_kind::wide: return "NOT determined (interval wider than a decade)";
        case verdict_kind::at_bound: return "NOT determined (at the edge of the search)";
        default: return "NOT determined (only a combination of a1 and a2)";
    }
}

}  // namespace

bool impossible_for_model(const estimate_report& r, const residual_row& row) {
    if (r.reachable == nullptr || row.what != quantity::co2_conversion || row.run >= r.reachable->size()) return false;
    const double highest = (*r.reachable)[row.run];
    return std::isfinite(highest) && row.measured - 3.0 * row.sigma > highest;
}

std::vector<std::string> verdict_lines(const estimate_report& r) {
    const estimate_result& res = *r.result;
    const estimate_options& opt = *r.options;
    std::vector<std::string> lines;
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = res.parameters[k];
        const parameter_estimate& other = res.parameters[1 - k];
        if (p.verdict == verdict_kind::fixed) {
            lines.push_back(p.name + " is held at " + sig4(p.value, 6) + " (--fix).");
            continue;
        }
        if (p.verdict == verdict_kind::determined) {
            std::string s = p.name + " = " + sig4(p.value) + " is determined by these data: 95 % between " +
                            sig4(p.lower95) + " and " + sig4(p.upper95) + " (a standard error of " +
                            sig4(100.0 * p.se_ln, 2) + " %)";
            if (p.conditional) s += ", with " + other.name + " held at its value";
            lines.push_back(s + ".");
            continue;
        }
        std::string s = p.name + " is NOT determined by these data: " + why_not(p, res) + ".";
        if (k == 0 && p.verdict != verdict_kind::combination) {
            s += " Carbamate formation is fast, so the conversion and the outlet analysis hardly "
                 "depend on a1: this is the usual outcome, not a fault of the data.";
        }
        const std::string fix = "--fix " + p.name + "=" + sig4(opt.initial[k], 6);
        if (other.verdict == verdict_kind::fixed) {
            s += " These runs cannot tune it; keep a value you trust (" + fix + " holds the base case's).";
        } else {
            s += " Hold it at the base case's value (add " + fix + ", or a value you trust) and "
                 "estimate " + other.name + " alone; the " + sig4(p.value, 3) +
                 " found here is no estimate of it.";
        }
        lines.push_back(s);
    }
    if (res.degrees_of_freedom > 0) {
        const boost::math::chi_squared dist(res.degrees_of_freedom);
        const std::string reduced = "reduced chi-square " + sig4(res.reduced_chi_square, 3);
        if (boost::math::cdf(boost::math::complement(dist, res.chi_square)) < 0.01) {
            lines.push_back("The data scatter more about the model than their stated standard deviations "
                            "allow (" + reduced + "): the intervals are widened by " +
                            sig4(res.scale_factor, 3) + ". Check the stated sigmas and the outliers "
                            "below, or whether the model misses something in some runs.");
        } else if (boost::math::cdf(dist, res.chi_square) < 0.01) {
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
        lines.push_back("Only one of the " + std::to_string(res.starts.size()) +
                        " starts reached the best fit (" + std::to_string(usable) +
                        " ended usably): the others stopped elsewhere; the --json output lists them.");
    }
    bool any = false;
    for (const residual_row& row : res.residuals) {
        if (!impossible_for_model(r, row)) continue;
        any = true;
        lines.push_back(run_named(r, row.run) + ": the measured CO2 conversion " + sig4(row.measured) +
                        " is impossible for the model: at this run's conditions no rate factors give more "
                        "than its equilibrium conversion, " + sig4((*r.reachable)[row.run]) +
                        ". Check the measurement and the run's settings (feed, temperatures).");
    }
    for (const residual_row& row : res.residuals) {
        if (!row.outlier || impossible_for_model(r, row)) continue;
        any = true;
        std::string s = run_named(r, row.run) + ": " + info(row.what).column + " measured " +
                        sig4(row.measured) + ", predicted " + sig4(row.predicted) + ", " +
                        sig4(std::abs(row.residual), 2) +
                        " standard deviations off: a possible outlier; check it";
        s += res.loss == loss_kind::none ? " (--loss huber or --loss cauchy lessens its pull on the "
                                           "estimate)."
                                         : ".";
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

void print_estimate(std::ostream& out, const estimate_report& r) {
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
        << "; 95 % intervals exp(ln a -+ t se), so asymmetric)\n";
    for (const parameter_estimate& p : res.parameters) {
        out << "  " << p.name << " = " << padded(sig4(p.value, 5), 11);
        if (p.free && std::isfinite(p.lower95)) {
            out << "95 %: " << padded(sig4(p.lower95) + " .. " + sig4(p.upper95), 22);
        } else {
            out << std::string(28, ' ');
        }
        out << short_verdict(p.verdict) << (p.conditional ? ", with the other held" : "") << "\n";
    }
    if (res.parameters[0].free && res.parameters[1].free) {
        out << "  correlation of ln a1 and ln a2: "
            << (std::isfinite(res.correlation) ? sig4(res.correlation, 3)
                                                : "none (" + res.covariance_note + ")")
            << "\n";
    }
    out << "  chi-square " << sig4(res.chi_square, 4) << " on " << res.degrees_of_freedom
        << " degrees of freedom, reduced chi-square " << sig4(res.reduced_chi_square, 3) << "\n";
    out << "  " << res.starts_agreeing << " of " << res.starts.size()
        << " starts reached the best fit; " << r.reactor_solves << " reactor solves\n";
    out << "\nVerdict\n";
    for (const std::string& line : verdict_lines(r)) out << wrapped(printable(line), 2, 100);
}

nlohmann::ordered_json estimate_json(const estimate_report& r) {
    using json = nlohmann::ordered_json;
    const estimate_result& res = *r.result;
    const auto number = [](double v) { return std::isfinite(v) ? json(v) : json(nullptr); };
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
                                    {"predicted", number(row.predicted)},
                                    {"residual", number(row.residual)},
                                    {"outlier", row.outlier},
                                    {"impossible_for_model", impossible_for_model(r, row)}});
        }
        runs.push_back({{"run", x.name}, {"line", x.line}, {"note", x.note}, {"measurements", measurements}});
    }
    json parameters = json::object();
    for (const parameter_estimate& p : res.parameters) {
        parameters[p.name] = {{"value", p.value},
                              {"free", p.free},
                              {"se_ln", number(p.se_ln)},
                              {"lower95", number(p.lower95)},
                              {"upper95", number(p.upper95)},
                              {"conditional", p.conditional},
                              {"verdict", verdict_name(p.verdict)},
                              {"verdict_text", p.verdict_text}};
    }
    json starts = json::array();
    for (const start_outcome& s : res.starts) {
        starts.push_back({{"from", {{"a1", s.from[0]}, {"a2", s.from[1]}}},
                          {"to", {{"a1", s.to[0]}, {"a2", s.to[1]}}},
                          {"usable", s.usable},
                          {"converged", s.converged},
                          {"chi_square", number(s.chi_square)},
                          {"objective", number(s.objective)},
                          {"iterations", s.iterations},
                          {"reactor_failures", s.model_failures},
                          {"message", s.message}});
    }
    return {{"runs_file", r.runs->file},
            {"runs", runs},
            {"parameters", parameters},
            {"correlation", number(res.correlation)},
            {"covariance_singular", res.covariance_singular},
            {"measurements", res.measurements},
            {"free_parameters", res.free_parameters},
            {"degrees_of_freedom", res.degrees_of_freedom},
            {"chi_square", res.chi_square},
            {"reduced_chi_square", number(res.reduced_chi_square)},
            {"interval_scale_factor", res.scale_factor},
            {"t_quantile", res.t_quantile},
            {"loss", {{"kind", loss_name(res.loss)}, {"scale_sigma", res.loss_scale}}},
            {"starts", starts},
            {"starts_agreeing", res.starts_agreeing},
            {"outliers", res.outliers},
            {"reactor_solves", r.reactor_solves},
            {"reactor_failures", res.model_failures},
            {"verdict", verdict_lines(r)},
            {"warnings", r.runs->warnings}};
}

std::string estimate_csv(const estimate_report& r) {
    std::ostringstream out;
    out << "run,line,measurement,measured,sigma,sigma_given,predicted,residual,outlier,impossible_for_model\n";
    out << std::setprecision(10);
    for (const residual_row& row : r.result->residuals) {
        const plant_run& x = run_of(r, row.run);
        out << csv_cell(x.name) << "," << x.line << "," << info(row.what).column << "," << row.measured
            << "," << row.sigma << "," << (x.measured[static_cast<std::size_t>(row.what)]->sigma_given ? 1 : 0)
            << "," << row.predicted << "," << row.residual << "," << (row.outlier ? 1 : 0) << ","
            << (impossible_for_model(r, row) ? 1 : 0) << "\n";
    }
    return out.str();
}

std::string parity_plot_script(const estimate_report& r) {
    const estimate_result& res = *r.result;
    std::ostringstream s;
    s << std::setprecision(10);
    double lo = 1.0, hi = 0.0;
    for (const residual_row& row : res.residuals) {
        lo = std::min({lo, row.measured - row.sigma, row.predicted});
        hi = std::max({hi, row.measured + row.sigma, row.predicted});
    }
    const double margin = std::max(0.05 * (hi - lo), 0.01);
    lo = std::max(0.0, lo - margin);
    hi = std::min(1.0, hi + margin);
    // One block per kind of measurement: measured, predicted, sigma.
    std::vector<std::size_t> kinds;
    for (std::size_t q = 0; q < quantity_count; ++q) {
        bool any = false;
        for (const residual_row& row : res.residuals) any = any || static_cast<std::size_t>(row.what) == q;
        if (!any) continue;
        kinds.push_back(q);
        s << "$q" << q << " << EOD\n";
        for (const residual_row& row : res.residuals) {
            if (static_cast<std::size_t>(row.what) == q) {
                s << row.measured << " " << row.predicted << " " << row.sigma << "\n";
            }
        }
        s << "EOD\n";
    }
    s << "$outliers << EOD\n";
    bool outliers = false;
    for (const residual_row& row : res.residuals) {
        if (row.outlier) {
            s << row.measured << " " << row.predicted << "\n";
            outliers = true;
        }
    }
    s << "EOD\n";
    s << "set title 'Measured against predicted at a1 = " << sig4(res.parameters[0].value) << ", a2 = "
      << sig4(res.parameters[1].value) << "'\n"
      << "set grid\nset key top left\nset size ratio -1\n"
      << "set xrange [" << lo << ":" << hi << "]\nset yrange [" << lo << ":" << hi << "]\n"
      << "set xlabel 'measured (fraction; bars: ± one stated standard deviation)'\n"
      << "set ylabel 'predicted by the reactor at the estimate'\n"
      << "plot x with lines lc rgb '#555555' dt 2 title 'y = x'";
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        const curve_style st = measured_style(static_cast<quantity>(kinds[k]));
        s << ", $q" << kinds[k] << " using 1:2:3 with xerrorbars pt " << st.marker << " ps 1.2 lc rgb '" << st.colour
          << "' title '" << quantities[kinds[k]].plot_title << "'";
    }
    if (outliers) {
        s << ", $outliers using 1:2 with points pt 6 ps 3 lw 2 lc rgb '#d62728' "
             "title 'more than 3 standard deviations off'";
    }
    s << "\n";
    return s.str();
}

}  // namespace workbench
