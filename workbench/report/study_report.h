// A study's results as a table, CSV, JSON and plots, each written a point
// at a time as the study hands them on (nothing kept per point, but the
// points of the curves a plot draws), so that a study of any size writes
// them in little memory.
#ifndef UREA_WORKBENCH_REPORT_STUDY_REPORT_H
#define UREA_WORKBENCH_REPORT_STUDY_REPORT_H

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/study.h"
#include "report/figure.h"
#include "report/table.h"

namespace workbench {

// The names of the CSV's and the JSON's columns of a case table's other
// columns (see study_csv_head).
std::vector<std::string> carried_names(const study_plan& plan);

// A case table's other columns, worked out once for a plan (not again for
// each point): their names (carried_names) and their widths in the table
// (the widest cell, at most 24 shown, and 2 for the space). Empty without a
// case table.
struct carried_columns {
    std::vector<std::string> names;
    std::vector<std::size_t> widths;
};
carried_columns carried_columns_of(const study_plan& plan);

// The table: a head naming the study and each column with its unit, a row
// per point (a blank line where the first variable starts again), and a
// closing line with the count of points solved and of rate calls.
void print_study_head(std::ostream& out, const study_plan& plan, const vocabulary& words);
void print_study_row(std::ostream& out, const study_plan& plan, const carried_columns& carried,
                     const study_point& p);
void print_study_tail(std::ostream& out, const study_plan& plan, const study_summary& s);

// Each result's range over the points solved so far, for a summary.
class study_ranges {
public:
    explicit study_ranges(const study_plan& plan);
    void add(const study_point& p);
    // A result's lowest and highest value; NaN when no point has one.
    double low(std::size_t result) const { return low_[result]; }
    double high(std::size_t result) const { return high_[result]; }

private:
    std::vector<double> low_, high_;
};

// Instead of the table: the head's first line ("Study of ..." or, with
// what = "Sweep", "Sweep of ..."), the closing line, and each result's
// range over the points solved, a line each.
void print_study_summary(std::ostream& out, const std::string& what, const study_plan& plan, const study_summary& s,
                         const study_ranges& ranges);

// The CSV: a case table's other columns (as written; one named like a
// setting or result gets "_given" added), the settings, the results by
// name (with bands, each banded one followed by NAME_low and NAME_high),
// with bands `band_open` (the open sides: "co2_conversion low;w_UREA
// high"), and `failure`; one row per point.
void study_csv_head(std::ostream& out, const study_plan& plan);
void study_csv_row(std::ostream& out, const study_plan& plan, const study_point& p);
// The table they are written from (a row per point, added by
// add_study_point), as Python gives it too.
table study_table(const study_plan& plan);
void add_study_point(table& t, const study_plan& plan, const study_point& p);

// The JSON's members before the points ("study": what was varied or the
// case table; "results": each with its unit and meaning; with bands,
// "band"), each point ({"line" (a case table's), "settings": {...},
// "columns": {...}, "ok", "results": {...} (with bands also "low", "high",
// "open", "band_unsolved") or "failure"}), and the members after them
// (solved, failed, rate_calls, notes, warnings).
nlohmann::ordered_json study_head_json(const study_plan& plan, const vocabulary& words);
nlohmann::ordered_json study_point_json(const study_plan& plan, const carried_columns& carried,
                                        const study_point& p);
nlohmann::ordered_json study_tail_json(const study_plan& plan, const study_summary& s, const vocabulary& words);

// A study's plot, described (report/figure.h) for gnuplot and matplotlib
// alike: its results against the first varied quantity (of more than one
// value) (a case table: the case's row number), one panel per kind of axis
// (at most 4), one curve per result; with more variables, one curve per
// value of the others (at most 8 in a panel, 4 in a panel of more than 3
// results; told apart by colour, point type and dash; a panel that leaves
// values out says so in its key, and notes() says so too), failed points
// crossed at the foot of each panel, the varied quantities in words and the
// base case in the title. The points of the curves drawn are kept as they
// come (`add`), or taken from the study's table; the description is made
// from them once all are in.
class study_plot {
public:
    explicit study_plot(const study_plan& plan);
    void add(const study_point& p);
    // Every point from a table of them, row k point k: study_table()'s
    // columns, or a sweep's (the results by name, and failure).
    void add(const table& points);
    figure description() const;
    // What the plot leaves out (curves, panels), one sentence each.
    const std::vector<message>& notes() const { return notes_; }

private:
    // A point's x, whether it was solved, and each result (and band end) as drawn.
    void keep(std::size_t index, bool ok, const std::vector<double>& values, const std::vector<double>& low,
              const std::vector<double>& high);
    double x_of(std::size_t index) const;

    struct curve {  // a member's points, in order
        std::vector<double> x;
        std::vector<std::vector<double>> y, low, high;  // per result
    };

    const study_plan& plan_;
    std::size_t along_ = 0;              // the variable along the x axis
    std::size_t per_curve_ = 1;          // points along the x axis
    std::size_t members_ = 1;            // curves per result in all
    std::vector<std::size_t> shown_;     // the members drawn in any panel, ascending
    std::vector<std::vector<std::size_t>> panels_;         // results (indices) of each panel
    std::vector<std::vector<std::size_t>> panel_members_;  // members drawn in each panel
    std::vector<message> notes_;
    std::vector<curve> curves_;          // of each member in shown_
    std::vector<double> failed_;         // where points failed: each x once
};

// A map of one result over two varied quantities, described (report/figure.h)
// for gnuplot and matplotlib alike: colour bands between labelled contour
// lines, failed points crossed out. gnuplot draws the bands as an embedded
// raster (the grid interpolated bilinearly onto a fine one), so that an SVG
// stays small however fine the grid; the lines are vectors.
// Throws input_error (about the field "map") unless the study is a grid of exactly
// two quantities with more than one value (others may have one).
class study_map {
public:
    study_map(const study_plan& plan, const std::string& result_name);
    // A map of another quantity the points carry: p.values[value_index],
    // with its title (the first line, whole) and axis (gnuplot enhanced
    // text); `option`: the field it is drawn for, in messages (the same checks).
    study_map(const study_plan& plan, std::size_t value_index, std::string title, std::string axis,
              const field_ref& option);
    void add(const study_point& p);
    // Every point from a study's table (the result's column and failure),
    // row k point k.
    void add(const table& points);

    // The colour scale from bright at the low end to dark at the high end
    // (where low is better), not the other way round.
    void bright_low() { bright_low_ = true; }
    // More to draw over the map, last; the map keeps a margin round the grid
    // for them.
    void draw_over(std::vector<series> more) {
        for (series& d : more) over_.push_back(std::move(d));
    }
    figure description() const;

private:
    void check_axes(const field_ref& option);
    void keep(std::size_t ix, std::size_t iy, bool ok, double value);

    const study_plan& plan_;
    std::size_t result_ = 0;            // index in p.values (plan.results)
    std::string title_, axis_;          // the quantity mapped, enhanced text
    double scale_ = 1.0;                // drawn as value * scale_
    std::size_t x_ = 0, y_ = 1;         // the variables on the axes
    double lo_ = 0.0, hi_ = 0.0;        // the result's range, as drawn
    bool any_value_ = false;
    std::size_t along_x_ = 0, along_y_ = 0;  // values of each
    std::size_t stride_x_ = 1, stride_y_ = 1;  // of the point's index, along each
    std::vector<double> grid_;               // the values as drawn, x fastest; NaN: none
    std::vector<double> failed_x_, failed_y_;  // where points failed
    bool bright_low_ = false;
    std::vector<series> over_;
};

// "a2 (7 points, evenly spaced in ln) and nh3_co2 (2.8, 3.2, 3.6)", or
// "the 12 cases of FILE": what a study runs over, for headings.
std::string study_subject(const study_plan& plan);

// --list-results: every result (families with <C> and @N) with its unit
// and meaning, measured ones flagged.
void print_result_list(std::ostream& out, const vocabulary& words);

}  // namespace workbench

#endif
