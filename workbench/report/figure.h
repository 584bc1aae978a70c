// A plot described once, as data: its panels, each with its axes (what is
// drawn, its unit, linear, logarithmic or over time), its series (the
// numbers, how they are drawn and what they stand for), its notes and its
// key. Two renderers draw the same description: gnuplot_script() here, for
// the command line, and urea_reactor.display.draw() in Python (matplotlib),
// which reads figure_json().
//
// Labels are our own text in gnuplot's enhanced markup (NH_3, m^3), except
// where a series or note says `plain` (the user's text, a run's name).
#ifndef UREA_WORKBENCH_REPORT_FIGURE_H
#define UREA_WORKBENCH_REPORT_FIGURE_H

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace workbench {

// What a series stands for: each role its own colour from the palette, so
// that measured, predicted and equilibrium are never drawn alike.
enum class series_role { estimate, measured, prediction, equilibrium, judged_by, guide, best_fit, failed, other };

// The role's colour ('#rrggbb').
const char* role_colour(series_role r);

enum class mark {
    line,        // y against x; a NaN in y breaks the line
    points,      // markers
    error_bars,  // markers with low..high bars along y
    x_error_bars,  // markers with low..high bars along x
    band,        // shaded between low and high
    rings,       // large open circles, point labels beside them
    hline,       // a horizontal line at y[0] across the panel
    vline,       // vertical lines at each x across the panel, point labels near the top
    key_only,    // a line of the key and nothing drawn (a note told by number)
    foot,        // markers at each x along the panel's foot (failed points)
};

struct series {
    std::string title;            // its entry in the key; empty: none
    mark how = mark::line;
    series_role role = series_role::other;
    std::string colour;           // empty: the role's
    int marker = 7;               // gnuplot point type (7 filled circle, 6 open circle, ...)
    double size = 0.6;            // of the markers, in gnuplot's units
    double width = 1.5;           // of the lines
    int dash = 1;                 // 1 solid, 2 dashed, 3 dotted, 4 dash-dotted
    std::vector<double> x, y, low, high;
    std::vector<std::string> labels;  // beside each point (rings, vertical lines), when given
    bool right = false;           // on the panel's right axis
    bool plain = false;           // labels are the user's text, not markup
    bool marks = false;           // a line with a marker at each point
    int every = 1;                // with marks: a marker at every so many points
    bool sample = false;          // its line of the key alone, in its style; nothing drawn
    bool inward = false;          // rings: each label on the side towards the panel's middle (along x)
    std::string colour_or_role() const;
};

enum class axis_scale { linear, log, time };

struct tick {
    double at = 0;
    std::string text;
};

struct axis {
    std::string quantity;         // what it shows: "CO_2 conversion", "a2 (dehydration)"
    std::string unit;             // "%", "m^3"; empty: none
    axis_scale scale = axis_scale::linear;
    std::optional<double> low, high;  // the range; empty: from the data
    std::vector<tick> ticks;      // where given, these and no others
    // "quantity (unit)", or the quantity alone.
    std::string label() const;
};

struct note {
    std::string text;
    double x = 0;                 // in the data
    double y = 0;                 // a fraction of the panel's height from its foot
    series_role role = series_role::other;
    bool plain = false;
};

// A quantity over a grid, drawn under a panel's series: colour bands
// between contour lines, each line labelled with its level. Where a corner
// of a cell has no value the cell is left empty.
struct surface {
    std::vector<double> x, y;     // the grid's coordinates along each axis, ascending
    std::vector<double> z;        // at (x[i], y[j]): z[j * x.size() + i]; NaN: none
    double low = 0, high = 0;     // the colour scale's ends
    double step = 0;              // between the lines (and the bands); 0: no lines
    axis colour;                  // beside the colour bar: what the colours show
    bool bright_low = false;      // the palette from bright at low values, not high
};

enum class key_place { top_right, top_left, bottom_right, bottom_left, outside_right, below, none };

struct panel {
    std::string title;
    axis x, y;
    std::optional<axis> y2;       // the right axis, for series with `right`
    std::vector<series> drawn;    // in order: the first under the rest
    std::vector<note> notes;
    key_place key = key_place::top_right;
    bool square = false;          // x and y drawn to one scale (parity)
    std::optional<surface> map;   // under the series, with its colour bar
};

struct figure {
    std::string title;
    std::vector<panel> panels;
    int columns = 1;              // panels laid out in rows of this many
};

// Ticks for a time axis over [low, high] (seconds since 1970, UTC): a round
// step (minutes, hours, days, weeks, months or years) giving 3 to 8 of them,
// each written as much as that step needs ("06:00", "12 Mar", "Mar 2025",
// "2025"), the date said once a day on an axis of hours.
std::vector<tick> time_ticks(double low, double high);

// Ticks of a log axis over [low, high]: each decade's 1, 2 and 5 (1 and 3
// over many decades, every so many decades over very many), so that an axis
// of less than a decade is labelled too.
std::vector<tick> log_ticks(double low, double high);

// Ticks of a linear axis over [low, high]: multiples of a round step, about
// `count` of them.
std::vector<tick> linear_ticks(double low, double high, int count);

// "set xtics ("1" 1, "2" 2, ...)" for the axis named (x, y, y2, cb).
std::string gnuplot_tics(const std::string& axis_name, const std::vector<tick>& ticks);

// The figure as gnuplot commands (the terminal and output set before them).
std::string gnuplot_script(const figure& f);

// One panel's commands, into a multiplot whose origin and size the caller
// has set; `index` names its data blocks apart from the other panels'.
void gnuplot_panel(std::ostream& out, const panel& p, std::size_t index);

// The figure as JSON, for the Python renderer: the same fields, colours
// resolved, NaN as null.
nlohmann::ordered_json figure_json(const figure& f);

}  // namespace workbench

#endif
