#include "report/html_report.h"

#include "base/text.h"

#include <cmath>
#include <sstream>

namespace workbench {
namespace {

// The page's look: plain, readable, printable.
constexpr const char* style = R"(
body { font-family: sans-serif; margin: 2em auto; max-width: 62em; padding: 0 1em; color: #222; line-height: 1.4; }
h1 { font-size: 1.5em; margin-bottom: 0.2em; }
h2 { font-size: 1.2em; margin-top: 1.8em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 0.6em 0; font-size: 0.92em; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: left; vertical-align: top; }
th { background: #f0f0f0; }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
tr.flag td { background: #fde8e8; }
ul.verdict li { margin-bottom: 0.5em; }
.not { color: #a40000; font-weight: bold; }
.ok { color: #1a6b1a; font-weight: bold; }
figure { margin: 1em 0; }
figure svg { width: 100%; height: auto; max-width: 900px; border: 1px solid #ddd; }
figcaption { font-size: 0.9em; color: #555; }
code { font-size: 0.92em; }
.missing { color: #a40000; }
)";

std::string td(const std::string& text, bool number = false) {
    return std::string(number ? "<td class=\"num\">" : "<td>") + html_escaped(text) + "</td>";
}

std::string svg_figure(const std::optional<std::string>& svg, const std::string& prefix, const std::string& caption) {
    std::string out = "<figure>\n";
    out += svg ? inline_svg(*svg, prefix) : "<p class=\"missing\">This plot could not be drawn (is gnuplot installed?).</p>";
    return out + "\n<figcaption>" + html_escaped(caption) + "</figcaption>\n</figure>\n";
}

// Erases every `attr="..."` (or '...') attribute of the first tag that
// starts at `from`.
void drop_attribute(std::string& svg, std::size_t from, const std::string& attr) {
    const std::size_t end = svg.find('>', from);
    std::size_t at = svg.find(attr + "=", from);
    if (at == std::string::npos || at > end) return;
    const char quote = svg[at + attr.size() + 1];
    const std::size_t close = svg.find(quote, at + attr.size() + 2);
    if (close == std::string::npos) return;
    svg.erase(at, close + 1 - at);
}

}  // namespace

const char* html_style() { return style; }

std::string html_cell(const std::string& text, bool number) { return td(text, number); }

std::string html_figure(const std::optional<std::string>& svg, const std::string& id_prefix, const std::string& caption) {
    return svg_figure(svg, id_prefix, caption);
}

std::string html_escaped(const std::string& s) {
    std::string out;
    for (const char ch : s) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: {
                const auto u = static_cast<unsigned char>(ch);
                out += u < 0x20 || u == 0x7f ? '?' : ch;
            }
        }
    }
    return out;
}

std::string inline_svg(const std::string& svg, const std::string& id_prefix) {
    const std::size_t start = svg.find("<svg");
    if (start == std::string::npos) return "";
    std::string out = svg.substr(start);
    drop_attribute(out, 0, "xmlns:xlink");
    drop_attribute(out, 0, "xmlns");
    // ids and the references to them: id="x", href="#x", url(#x).
    std::string prefixed;
    for (std::size_t i = 0; i < out.size();) {
        bool done = false;
        for (const char* key : {"id=\"", "id='", "href=\"#", "href='#", "url(#"}) {
            const std::size_t n = std::char_traits<char>::length(key);
            if (out.compare(i, n, key) == 0 && (i == 0 || out[i - 1] == ' ' || out[i - 1] == ':' ||
                                                std::string(key).rfind("url", 0) == 0)) {
                prefixed += std::string(key) + id_prefix;
                i += n;
                done = true;
                break;
            }
        }
        if (!done) prefixed += out[i++];
    }
    return prefixed;
}

std::string estimate_html(const estimate_report& r, const html_context& c) {
    const estimate_result& res = *r.result;
    const estimate_options& opt = *r.options;
    std::ostringstream h;
    const std::string title = "Estimate of a1 and a2 from " + r.runs->file;
    h << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << html_escaped(title)
      << "</title>\n<style>" << style << "</style>\n</head>\n<body>\n";
    h << "<h1>" << html_escaped(title) << "</h1>\n<p>" << r.runs->runs.size() << " runs, " << res.measurements
      << " measurements; made by " << html_escaped(c.workbench) << ".</p>\n";

    // ---- Verdict ----
    h << "<h2>Verdict</h2>\n<ul class=\"verdict\">\n";
    const vocabulary& words = c.words != nullptr ? *c.words : neutral_vocabulary();
    for (const message& line : verdict_lines(r)) h << "<li>" << html_escaped(in_words(line, words)) << "</li>\n";
    h << "</ul>\n";

    // ---- Factors ----
    h << "<h2>Rate factors and their 95 % intervals</h2>\n<table>\n<tr><th>factor</th><th>value</th>"
         "<th>profile likelihood</th><th>linearised</th>";
    const bool boot = r.bootstrap != nullptr && r.bootstrap->resamples > 0;
    const bool loo = r.leave_one_out != nullptr && r.leave_one_out->computed;
    if (boot) h << "<th>bootstrap (" << r.bootstrap->resamples << " resamples)</th>";
    if (loo) h << "<th>one run left out: range</th>";
    h << "<th>verdict</th></tr>\n";
    for (std::size_t k = 0; k < 2; ++k) {
        const parameter_estimate& p = res.parameters[k];
        h << "<tr>" << td(p.name) << td(factor_text(p, p.value), true)
          << td(p.free ? profile_text(p, opt) : in_words("held (" + mention("fix") + ")", words))
          << td(p.free ? linearised_cell(p) : "-");
        if (boot) {
            const bootstrap_result& b = *r.bootstrap;
            h << td(p.free && std::isfinite(b.median[k])
                        ? factor_text(p, b.lower95[k]) + " .. " + factor_text(p, b.upper95[k])
                        : "-");
        }
        if (loo) {
            double lo = NAN, hi = NAN;
            for (const left_out_run& x : r.leave_one_out->runs) {
                if (!x.ok || !p.free) continue;
                lo = std::isfinite(lo) ? std::min(lo, x.value[k]) : x.value[k];
                hi = std::isfinite(hi) ? std::max(hi, x.value[k]) : x.value[k];
            }
            h << td(std::isfinite(lo) ? factor_text(p, lo) + " .. " + factor_text(p, hi) : "-");
        }
        h << "<td class=\"" << (p.verdict == verdict_kind::determined ? "ok" : p.free ? "not" : "") << "\">"
          << html_escaped(verdict_name(p.verdict)) << "</td></tr>\n";
    }
    h << "</table>\n<p>Profile likelihood: the values at which the best fit, the other factor re-optimised, is "
         "worse than the best fit overall by at most "
      << sig_or_dash(res.profile_threshold, 3)
      << " (s² t², with t the 97.5 % quantile of Student's t on " << res.degrees_of_freedom
      << " degrees of freedom and s = " << sig_or_dash(res.scale_factor, 3)
      << " the scale factor); an interval that reaches the edge of the search (" << sig(opt.lower, 3) << " .. "
      << sig(opt.upper, 3) << ") has no bound on that side. Linearised: exp(ln a ∓ t se) from the covariance "
         "at the best fit. Bootstrap: 2.5 % and 97.5 % percentiles of the refits of runs resampled with "
         "replacement.</p>\n";

    // ---- Plots ----
    h << "<h2>Plots</h2>\n";
    if (c.region_svg || res.free_parameters > 0) {
        h << svg_figure(c.region_svg, "region-",
                    res.free_parameters == 2
                        ? "The joint 95 % region of a1 and a2 from the likelihood ratio (shaded; threshold " +
                              sig_or_dash(res.region_threshold, 3) +
                              " above the best) with the linearised ellipse, on log axes; below, each factor's "
                              "profile with its 95 % threshold."
                        : "The free factor's profile likelihood with its 95 % threshold.");
    }
    h << svg_figure(c.parity_svg, "parity-",
                "Measured against predicted at the estimate; bars: one stated standard deviation; ringed and "
                "named: more than 3 standard deviations off.");

    // ---- Runs ----
    h << "<h2>Runs</h2>\n<table>\n<tr><th>run</th><th>line</th><th>measurement</th><th>measured</th>"
         "<th>σ</th><th>predicted</th><th>(m − p)/σ</th><th></th></tr>\n";
    for (const residual_row& row : res.residuals) {
        const plant_run& x = r.runs->runs[row.run];
        const bool impossible = impossible_for_model(r, row);
        h << "<tr" << (row.outlier || impossible ? " class=\"flag\"" : "") << ">" << td(x.name)
          << td(std::to_string(x.line), true) << td(info(row.what).label) << td(fixed(row.measured, 0, 4), true)
          << td(fixed(row.sigma, 0, 4), true) << td(fixed(row.predicted, 0, 4), true) << td(fixed(row.residual, 0, 2), true)
          << td(impossible ? "impossible for the model" : row.outlier ? "possible outlier" : "") << "</tr>\n";
    }
    h << "</table>\n";

    // ---- Leave one out, bootstrap ----
    if (loo) {
        h << "<h2>Each run left out</h2>\n<table>\n<tr><th>run left out</th>";
        for (const parameter_estimate& p : res.parameters) {
            if (p.free) h << "<th>" << p.name << " without it</th><th>" << p.name << " moves</th>";
        }
        h << "</tr>\n";
        for (const left_out_run& x : r.leave_one_out->runs) {
            h << "<tr>" << td(r.runs->runs[x.run].name);
            for (std::size_t k = 0; k < 2; ++k) {
                const parameter_estimate& p = res.parameters[k];
                if (!p.free) continue;
                if (!x.ok) {
                    h << td("no usable fit") << td("");
                    continue;
                }
                h << td(factor_text(p, x.value[k]), true)
                  << td(p.verdict == verdict_kind::determined ? move_text(p, x, k) : "(not determined)", true);
            }
            h << "</tr>\n";
        }
        h << "</table>\n";
    }
    if (boot) {
        const bootstrap_result& b = *r.bootstrap;
        h << "<p>Bootstrap: " << b.resamples << " resamples of the runs, seed " << b.seed << ", " << b.failed
          << " without a usable fit.</p>\n";
    }

    // ---- Tuned case ----
    h << "<h2>Tuned case</h2>\n<ul>\n";
    for (const message& line : tuned_case_lines(r, c.tuned_case_file)) {
        h << "<li>" << html_escaped(in_words(line, words)) << "</li>\n";
    }
    h << "</ul>\n";

    // ---- The fit ----
    h << "<h2>The fit</h2>\n<table>\n"
      << "<tr>" << td("loss") << td(loss_name(res.loss)) << "</tr>\n"
      << "<tr>" << td("chi-square") << td(sig_or_dash(res.chi_square, 4) + " on " + std::to_string(res.degrees_of_freedom) +
                                          " degrees of freedom (reduced " + sig_or_dash(res.reduced_chi_square, 3) +
                                          (std::isfinite(res.robust_reduced_chi_square)
                                               ? "; of the robust residuals " +
                                                     sig_or_dash(res.robust_reduced_chi_square, 3) +
                                                     ", which sets the intervals' scale"
                                               : "") +
                                          ")")
      << "</tr>\n"
      << "<tr>" << td("correlation of ln a1 and ln a2")
      << td(correlation_caveat(res).empty() ? sig_or_dash(res.correlation, 3) : correlation_caveat(res))
      << "</tr>\n"
      << "<tr>" << td("starts") << td(std::to_string(res.starts_agreeing) + " of " + std::to_string(res.starts.size()) +
                                      " reached the best fit")
      << "</tr>\n"
      << "<tr>" << td("reactor solves") << td(std::to_string(r.reactor_solves)) << "</tr>\n"
      << "</table>\n";

    // ---- Provenance ----
    h << "<h2>Made from</h2>\n<table>\n"
      << "<tr>" << td("workbench") << td(c.workbench) << "</tr>\n"
      << "<tr>" << td("plug-in") << td(c.plugin + " (" + c.plugin_file + ")") << "</tr>\n"
      << "<tr>" << td("runs file") << "<td>" << html_escaped(r.runs->file) << "<br><code>SHA-256 "
      << c.runs_sha256 << "</code></td></tr>\n"
      << "<tr>" << td("case")
      << (c.case_file.empty() ? td("the built-in default case")
                              : "<td>" + html_escaped(c.case_file) + "<br><code>SHA-256 " + c.case_sha256 +
                                    "</code></td>")
      << "</tr>\n"
      << "<tr>" << td("options") << td(c.options.empty() ? "none" : c.options) << "</tr>\n"
      << "</table>\n</body>\n</html>\n";
    return h.str();
}

void add_estimate_html(staged_outputs& files, const output_target& target, const estimate_report& r, html_context c) {
    c.parity_svg = files.svg_of(target, parity_plot_script(r), "the report's parity plot");
    const std::string region = region_plot_script(r);
    if (!region.empty()) c.region_svg = files.svg_of(target, region, "the report's region plot", "900,900");
    files.add_text(target, estimate_html(r, c));
}

}  // namespace workbench
