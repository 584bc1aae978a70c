// An estimate as one self-contained HTML page: the verdict, the factors
// with their intervals of every kind, the region and parity plots inline (SVG
// drawn by gnuplot), the runs, each run left out, the tuned case, and what
// it was made from (versions, commits, SHA-256 of the inputs). Inline CSS,
// no script, nothing fetched: it opens offline in any browser.
#ifndef UREA_WORKBENCH_REPORT_HTML_REPORT_H
#define UREA_WORKBENCH_REPORT_HTML_REPORT_H

#include <optional>
#include <string>
#include <vector>

#include "io/output_files.h"
#include "report/estimate_report.h"

namespace workbench {

struct html_context {
    std::string workbench;      // "urea-reactor 1.1.0 (commit abcdef0)"
    std::string plugin;         // the plug-in's version marker
    std::string plugin_file;
    std::string runs_sha256;
    std::string case_file;      // empty: the built-in default case
    std::string case_sha256;
    std::string options;        // the options that made the base case and the estimate, as given
    std::string tuned_case_file;  // empty: not written
    // The plots as gnuplot drew them (SVG text); nullopt: not drawn, and
    // the page says so.
    std::optional<std::string> parity_svg, region_svg;
    // The words the page's advice is said in (the client's; base/words.h);
    // null: the library's own.
    const vocabulary* words = nullptr;
};

std::string estimate_html(const estimate_report& r, const html_context& c);

// The page staged as `target` among the files: its plots drawn as SVG by
// gnuplot first (a plot that cannot be drawn is left out, and the page says
// so; files.failures() names it).
void add_estimate_html(staged_outputs& files, const output_target& target, const estimate_report& r, html_context c);

// What every page of ours shares: its style sheet (inline CSS), a table's
// cell (escaped; `number`: right-aligned), and a figure with a plot drawn
// as SVG (or a line saying it could not be drawn) and its caption.
const char* html_style();
std::string html_cell(const std::string& text, bool number = false);
std::string html_figure(const std::optional<std::string>& svg, const std::string& id_prefix, const std::string& caption);

// Text made safe for HTML: & < > " ' as entities, control characters as '?'.
std::string html_escaped(const std::string& s);

// A gnuplot SVG made fit to sit inside an HTML page: its XML prologue and
// namespace declarations dropped, and each id (and every reference to one)
// prefixed, so that two plots on one page do not share ids.
std::string inline_svg(const std::string& svg, const std::string& id_prefix);

}  // namespace workbench

#endif
