#include "report/figure.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "report/gnuplot.h"
#include "report/json_stream.h"
#include "report/palette.h"

namespace workbench {

const char* role_colour(series_role r) {
    switch (r) {
        case series_role::estimate: return estimate_colour;
        case series_role::measured: return measured_colour;
        case series_role::prediction: return predicted_colour;
        case series_role::equilibrium: return equilibrium_colour;
        case series_role::judged_by: return judged_by_colour;
        case series_role::guide: return guide_colour;
        case series_role::best_fit: return best_fit_colour;
        case series_role::failed: return failed_style.colour;
        case series_role::other: break;
    }
    return other_style.colour;
}

std::string series::colour_or_role() const { return colour.empty() ? role_colour(role) : colour; }

std::string axis::label() const { return unit.empty() ? quantity : quantity + " (" + unit + ")"; }

// ---- Ticks ---------------------------------------------------------------------------

namespace {

using namespace std::chrono;

constexpr std::array<const char*, 12> month_names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct civil {
    int year = 1970;
    unsigned month = 1, day = 1;  // 1-based
    long long second = 0;         // of the day
};

civil civil_of(double t) {
    const auto s = static_cast<long long>(std::floor(t));
    const long long d = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
    const year_month_day ymd{sys_days{days{d}}};
    return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
            s - d * 86400};
}

double seconds_of(int year, unsigned month, unsigned day) {
    const sys_days d{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}};
    return static_cast<double>(d.time_since_epoch().count()) * 86400.0;
}

std::string two(long long v) { return (v < 10 ? "0" : "") + std::to_string(v); }

std::string day_text(const civil& c) { return std::to_string(c.day) + " " + month_names[c.month - 1]; }

}  // namespace

std::vector<tick> log_ticks(double low, double high) {
    std::vector<tick> out;
    if (!(low > 0) || !(high > low)) return out;
    const double decades = std::log10(high / low);
    const std::vector<double> mantissas = decades <= 3   ? std::vector<double>{1, 2, 5}
                                          : decades <= 6 ? std::vector<double>{1, 3}
                                                         : std::vector<double>{1};
    const int first = static_cast<int>(std::floor(std::log10(low))), last = static_cast<int>(std::ceil(std::log10(high)));
    const int every = std::max(1, static_cast<int>(std::ceil(decades / 8)));
    for (int e = first; e <= last; ++e) {
        if (mantissas.size() == 1 && e % every != 0) continue;
        for (const double m : mantissas) {
            const double v = m * std::pow(10.0, e);
            if (v < low * (1 - 1e-9) || v > high * (1 + 1e-9)) continue;
            std::ostringstream s;
            s << std::setprecision(6) << v;
            out.push_back({v, s.str()});
        }
    }
    // Within less than a few of those steps: round values a linear step
    // apart, one crowding the last (a log axis bunches them at the top) left out.
    if (out.size() < 3) {
        out.clear();
        const double step = nice_step(high - low, 6);
        for (double v = std::ceil(low / step) * step; v <= high * (1 + 1e-9); v += step) {
            const double at = std::round(v / step) * step;
            if (!out.empty() && std::log(at / out.back().at) < std::log(high / low) / 10.0) continue;
            std::ostringstream s;
            s << std::setprecision(6) << at;
            out.push_back({at, s.str()});
        }
    }
    return out;
}

std::vector<tick> linear_ticks(double low, double high, int count) {
    std::vector<tick> out;
    if (!std::isfinite(low) || !std::isfinite(high) || !(high > low)) return out;
    const double step = nice_step(high - low, count);
    for (double v = std::ceil(low / step) * step; v <= high * (1 + 1e-12) + 1e-300; v += step) {
        const double at = std::round(v / step) * step;
        std::ostringstream s;
        s << std::setprecision(6) << (std::fabs(at) < step * 1e-9 ? 0.0 : at);
        out.push_back({at, s.str()});
    }
    return out;
}

std::vector<tick> time_ticks(double low, double high) {
    std::vector<tick> out;
    if (!std::isfinite(low) || !std::isfinite(high) || high <= low) return out;
    const double span = high - low;
    constexpr int most = 7;  // steps across the axis: at most 8 ticks
    // Steps of a fixed length: minutes to weeks.
    constexpr std::array<double, 15> fixed = {60,    120,   300,   600,    900,    1800,   3600,  7200,
                                              10800, 21600, 43200, 86400,  172800, 345600, 604800};
    for (const double step : fixed) {
        if (span / step > most) continue;
        // Weeks from a Monday (1970-01-05), the rest from midnight.
        const double origin = step == 604800 ? 4 * 86400.0 : 0.0;
        double t = origin + std::ceil((low - origin) / step) * step;
        int last_day = -1;
        for (; t <= high + 1e-6; t += step) {
            const civil c = civil_of(t);
            std::string text;
            if (step < 86400) {
                text = two(c.second / 3600) + ":" + two(c.second % 3600 / 60);
                const int day = static_cast<int>(c.day + 32 * c.month);
                // The date under the first tick of each day.
                if (day != last_day) text += "\n" + day_text(c);
                last_day = day;
            } else {
                text = day_text(c);
                if (out.empty() || civil_of(out.back().at).year != c.year) text += "\n" + std::to_string(c.year);
            }
            out.push_back({t, text});
        }
        return out;
    }
    // Months (1, 2, 3 or 6) and years (1, 2, 5, 10, ...).
    const double month = 30.44 * 86400;
    for (const unsigned step : {1u, 2u, 3u, 6u}) {
        if (span / (step * month) > most) continue;
        civil c = civil_of(low);
        unsigned m = c.month;
        int y = c.year;
        if (c.day != 1 || c.second != 0) ++m;  // the first whole month's start
        while ((m - 1) % step != 0 || m > 12) {
            if (m > 12) {
                m -= 12;
                ++y;
            } else {
                ++m;
            }
        }
        for (double t = seconds_of(y, m, 1); t <= high + 1e-6; t = seconds_of(y, m, 1)) {
            const bool year_shown = out.empty() || m == 1;
            out.push_back({t, std::string(month_names[m - 1]) + (year_shown ? "\n" + std::to_string(y) : "")});
            m += step;
            if (m > 12) {
                m -= 12;
                ++y;
            }
        }
        return out;
    }
    const double years = span / (365.25 * 86400);
    int step = 1;
    for (int scale = 1;; scale *= 10) {
        if (years / scale <= most) { step = scale; break; }
        if (years / (2 * scale) <= most) { step = 2 * scale; break; }
        if (years / (5 * scale) <= most) { step = 5 * scale; break; }
    }
    const civil c = civil_of(low);
    int y = c.year + ((c.month != 1 || c.day != 1 || c.second != 0) ? 1 : 0);
    y = static_cast<int>(std::ceil(static_cast<double>(y) / step)) * step;
    for (double t = seconds_of(y, 1, 1); t <= high + 1e-6; y += step, t = seconds_of(y, 1, 1)) {
        out.push_back({t, std::to_string(y)});
    }
    return out;
}

namespace {

bool finite_point(const series& s, std::size_t k) {
    if (!(k < s.x.size() && std::isfinite(s.x[k]))) return false;
    if (s.how == mark::foot) return true;
    if (s.how == mark::band) return k < s.low.size() && k < s.high.size() && std::isfinite(s.low[k]) && std::isfinite(s.high[k]);
    if (!(k < s.y.size() && std::isfinite(s.y[k]))) return false;
    if (s.how == mark::error_bars || s.how == mark::x_error_bars) return k < s.low.size() && k < s.high.size() && std::isfinite(s.low[k]) && std::isfinite(s.high[k]);
    return true;
}

// The range a series' values span along y (or x), positive ones only on a
// log axis.
void extend(std::optional<double>& lo, std::optional<double>& hi, const std::vector<double>& v, bool positive) {
    for (const double a : v) {
        if (!std::isfinite(a) || (positive && a <= 0)) continue;
        lo = lo ? std::min(*lo, a) : a;
        hi = hi ? std::max(*hi, a) : a;
    }
}

// The ticks each axis needs and its renderer cannot choose alike: a time
// axis's dates, and a log axis's labels between its decades.
panel completed(panel p) {
    // A series with nothing to draw has no entry in the key either.
    std::erase_if(p.drawn, [](const series& d) {
        if (d.sample) return d.title.empty();
        if (d.how == mark::key_only) return false;
        if (d.how == mark::hline) return d.y.empty() || !std::isfinite(d.y.front());
        if (d.how == mark::vline) return d.x.empty();
        for (std::size_t k = 0; k < d.x.size(); ++k) {
            if (finite_point(d, k)) return false;
        }
        return true;
    });
    const auto fill = [&](axis& a, bool along_x, bool right) {
        if (!a.ticks.empty() || a.scale == axis_scale::linear) return;
        std::optional<double> lo = a.low, hi = a.high, dlo, dhi;
        const bool positive = a.scale == axis_scale::log;
        for (const series& s : p.drawn) {
            if (s.sample) continue;
            if (!along_x && s.right != right) continue;
            if (!along_x && s.how == mark::foot) continue;
            if (along_x && (s.how == mark::hline || s.how == mark::key_only)) continue;
            if (!along_x && (s.how == mark::vline || s.how == mark::key_only)) continue;
            extend(dlo, dhi, along_x ? s.x : s.y, positive);
            // Bars along the axis: their ends too.
            if (along_x == (s.how == mark::x_error_bars)) {
                extend(dlo, dhi, s.low, positive);
                extend(dlo, dhi, s.high, positive);
            }
        }
        if (p.map && !right) extend(dlo, dhi, along_x ? p.map->x : p.map->y, positive);
        if (!lo) lo = dlo;
        if (!hi) hi = dhi;
        if (!lo || !hi) return;
        a.ticks = a.scale == axis_scale::time ? time_ticks(*lo, *hi) : log_ticks(*lo, *hi);
        // A time axis runs from its first to its last instant.
        if (a.scale == axis_scale::time) {
            a.low = lo;
            a.high = hi;
        }
    };
    fill(p.x, true, false);
    fill(p.y, false, false);
    if (p.y2) fill(*p.y2, false, true);
    return p;
}

// ---- gnuplot --------------------------------------------------------------------------

std::string number(double v) {
    std::ostringstream s;
    s << std::setprecision(10) << v;
    return s.str();
}

std::string rgb(const std::string& colour) { return "rgb '" + colour + "'"; }

std::string text_of(const std::string& t, bool plain) { return plain ? gnuplot_plain(t, 60) : gnuplot_markup(t); }

}  // namespace

std::string gnuplot_tics(const std::string& axis_name, const std::vector<tick>& ticks) {
    std::string s = "set " + axis_name + "tics (";
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        s += (k ? ", " : "") + gnuplot_markup(ticks[k].text) + " " + number(ticks[k].at);
    }
    return s + ")\n";
}

namespace {

void axis_commands(std::ostream& s, const axis& a, const std::string& name) {
    s << "set " << name << "label " << gnuplot_markup(a.label()) << "\n";
    if (a.scale == axis_scale::log) s << "set logscale " << name << "\n";
    s << "set " << name << "range [" << (a.low ? number(*a.low) : "*") << ":" << (a.high ? number(*a.high) : "*")
      << "]\n";
    if (!a.ticks.empty()) s << gnuplot_tics(name, a.ticks);
}

const char* key_commands(key_place k) {
    switch (k) {
        case key_place::top_right: return "set key inside top right opaque box\n";
        case key_place::top_left: return "set key inside top left opaque box\n";
        case key_place::bottom_right: return "set key inside bottom right opaque box\n";
        case key_place::bottom_left: return "set key inside bottom left opaque box\n";
        // Every panel the same width, however long its key.
        case key_place::outside_right:
            return "set lmargin at screen 0.1\nset rmargin at screen 0.66\nset key at screen 0.67, graph 1 left top "
                   "vertical Left reverse\n";
        case key_place::below: return "set key outside bottom center horizontal\n";
        case key_place::none: return "unset key\n";
    }
    return "";
}


// A series' numbers as a data block: a blank line where a point has no
// value, which breaks a line or a band there.
void data_block(std::ostream& s, const std::string& name, const series& d) {
    s << name << " << EOD\n";
    bool broken = true;
    for (std::size_t k = 0; k < d.x.size(); ++k) {
        if (!finite_point(d, k)) {
            if (!broken) s << "\n";
            broken = true;
            continue;
        }
        broken = false;
        s << number(d.x[k]) << " " << (k < d.y.size() ? number(d.y[k]) : "0");
        if (d.how == mark::band || d.how == mark::error_bars || d.how == mark::x_error_bars) s << " " << number(d.low[k]) << " " << number(d.high[k]);
        s << "\n";
    }
    s << "EOD\n";
}

std::string title_clause(const series& d) {
    return d.title.empty() ? std::string(" notitle") : " title " + gnuplot_markup(d.title);
}

// The middle of a panel along x, as drawn: where labels turn inwards.
double middle_x(const panel& p, const series& d) {
    std::optional<double> lo = p.x.low, hi = p.x.high, dlo, dhi;
    extend(dlo, dhi, d.x, p.x.scale == axis_scale::log);
    if (!lo) lo = dlo;
    if (!hi) hi = dhi;
    if (!lo || !hi) return 0.0;
    return p.x.scale == axis_scale::log && *lo > 0 ? std::sqrt(*lo * *hi) : 0.5 * (*lo + *hi);
}

// A map's colour bands and lines (the data blocks and settings before the
// plot); its clauses, which the plot draws first.
std::string map_commands(std::ostream& s, const panel& p, std::size_t index) {
    const surface& m = *p.map;
    const std::size_t nx = m.x.size(), ny = m.y.size();
    if (nx < 2 || ny < 2 || m.z.size() != nx * ny) throw std::logic_error("a map needs a grid of at least 2 x 2 values");
    const std::string name = "$p" + std::to_string(index);
    s << "unset grid\nset view map\n";
    s << "set cblabel " << gnuplot_markup(m.colour.label()) << "\nset palette defined (";
    for (std::size_t k = 0; k < map_colours.size(); ++k) {
        s << (k ? ", " : "") << k << " '" << map_colours[m.bright_low ? map_colours.size() - 1 - k : k] << "'";
    }
    s << ")\n";
    std::string clauses;
    if (m.step > 0 && m.high > m.low) {
        s << name << "grid << EOD\n";
        for (std::size_t j = 0; j < ny; ++j) {
            for (std::size_t i = 0; i < nx; ++i) {
                const double z = m.z[j * nx + i];
                s << number(m.x[i]) << " " << number(m.y[j]) << " " << (std::isfinite(z) ? number(z) : "NaN") << "\n";
            }
            s << "\n";
        }
        s << "EOD\n";
        const long bands = std::lround((m.high - m.low) / m.step);
        // The lines between the grid's points drawn as B-splines of order
        // 2 (straight pieces, 8 to a cell), so that each line has points
        // enough for its labels however coarse the grid.
        s << "set contour base\nset cntrparam bspline points 8 order 2\nset cntrparam levels incremental "
          << number(m.low) << "," << number(m.step) << "," << number(m.high) << "\nunset surface\nset table " << name
          << "lines\nsplot " << name << "grid using 1:2:3\nunset table\nunset contour\nset surface\n"
          << "set cbrange [" << number(m.low) << ":" << number(m.high) << "]\nset palette maxcolors "
          << std::max(1L, bands) << "\nset style textbox opaque noborder margins 1,1\n";
        // A label every so many points along each line, staggered by level
        // so that neighbouring lines' labels do not sit side by side.
        const std::size_t interval = std::max<std::size_t>(40, 3 * (nx + ny));
        clauses = ", " + name + "lines using 1:2 with lines lc rgb 'black' lw 1 notitle, " + name +
                  "lines using ((int(column(0)) % " + std::to_string(interval) + ") == 4 + (int(floor($3/" +
                  number(m.step) + " + 0.5)) % 4) * 6 ? $1 : NaN):2:(sprintf('%g', $3)) with labels boxed font ',9' notitle";
    } else {
        s << "set cbrange [" << number(m.low - 1.0) << ":" << number(m.high + 1.0) << "]\n";
    }
    // The colour bands: the grid interpolated bilinearly (in the axes'
    // scales, ln on a log axis) onto a raster of 320 x 256 cells, empty
    // where a corner of the grid's cell has no value, drawn on the second
    // axes, which run linearly over the same range.
    const auto scaled = [](const axis& a, double v) { return a.scale == axis_scale::log ? std::log(v) : v; };
    std::vector<double> ax(nx), ay(ny);
    for (std::size_t i = 0; i < nx; ++i) ax[i] = scaled(p.x, m.x[i]);
    for (std::size_t j = 0; j < ny; ++j) ay[j] = scaled(p.y, m.y[j]);
    constexpr std::size_t width = 320, height = 256;
    const double x0 = ax.front(), x1 = ax.back(), y0 = ay.front(), y1 = ay.back();
    // Where a coordinate falls among the values: the cell's lower corner
    // and the fraction of the way to the next.
    const auto locate = [](const std::vector<double>& a, double t) {
        std::size_t k = 0;
        while (k + 2 < a.size() && a[k + 1] < t) ++k;
        const double lo = a[k], hi = a[k + 1];
        return std::pair<std::size_t, double>{k, hi > lo ? std::clamp((t - lo) / (hi - lo), 0.0, 1.0) : 0.0};
    };
    s << name << "image << EOD\n" << std::setprecision(6);
    for (std::size_t j = 0; j < height; ++j) {
        const auto [ky, fy] = locate(ay, y0 + (static_cast<double>(j) + 0.5) * (y1 - y0) / height);
        for (std::size_t i = 0; i < width; ++i) {
            const auto [kx, fx] = locate(ax, x0 + (static_cast<double>(i) + 0.5) * (x1 - x0) / width);
            const auto at = [&](std::size_t dx, std::size_t dy) { return m.z[(ky + dy) * nx + kx + dx]; };
            const double v = (1 - fy) * ((1 - fx) * at(0, 0) + fx * at(1, 0)) + fy * ((1 - fx) * at(0, 1) + fx * at(1, 1));
            s << (i ? " " : "");
            if (std::isfinite(v)) {
                s << v;
            } else {
                s << "NaN";
            }
        }
        s << "\n";
    }
    s << "EOD\n" << std::setprecision(10);
    const auto range = [&](const axis& a, double lo, double hi) {
        return "[" + number(a.low ? scaled(a, *a.low) : lo) + ":" + number(a.high ? scaled(a, *a.high) : hi) + "]";
    };
    s << "set x2range " << range(p.x, x0, x1) << "\nset y2range " << range(p.y, y0, y1) << "\n"
      << "unset x2tics\nunset y2tics\nset xtics nomirror out\nset ytics nomirror out\n";
    return name + "image matrix using (" + number(x0) + " + ($1 + 0.5) * " + number((x1 - x0) / width) + "):(" +
           number(y0) + " + ($2 + 0.5) * " + number((y1 - y0) / height) + "):3 axes x2y2 with image notitle" + clauses;
}

void panel_commands(std::ostream& s, const panel& given, std::size_t index, const std::string& figure_title) {
    const panel p = completed(given);
    s << "unset arrow\nunset label\nunset logscale\nunset y2tics\nunset y2label\nset ytics mirror\n"
      << "set lmargin -1\nset rmargin -1\n"
      << "set xtics autofreq\nset ytics autofreq\nset size noratio\nset grid\n";
    std::string title = p.title;
    if (!figure_title.empty()) title = figure_title + (title.empty() ? "" : "\n" + title);
    s << "set title " << gnuplot_markup(title) << "\n";
    axis_commands(s, p.x, "x");
    axis_commands(s, p.y, "y");
    const bool right = std::any_of(p.drawn.begin(), p.drawn.end(), [](const series& d) { return d.right; });
    if (p.y2 && right) {
        s << "set ytics nomirror\nset y2tics\n";
        axis_commands(s, *p.y2, "y2");
    }
    if (p.square) s << "set size ratio -1\n";
    s << key_commands(p.key);
    std::string clauses = p.map ? map_commands(s, p, index) : std::string();
    // Vertical lines and their labels, staggered in height so that labels
    // of neighbouring lines do not print over each other.
    for (const series& d : p.drawn) {
        if (d.how != mark::vline) continue;
        for (std::size_t k = 0; k < d.x.size(); ++k) {
            const std::string at = number(d.x[k]);
            s << "set arrow from " << at << ", graph 0 to " << at << ", graph 1 nohead front dt " << d.dash << " lw "
              << number(d.width) << " lc " << rgb(d.colour_or_role()) << "\n";
            if (k < d.labels.size()) {
                s << "set label " << text_of(d.labels[k], d.plain) << " at " << at << ", graph "
                  << (k % 2 ? "0.86" : "0.94") << " offset 0.4,0 front textcolor " << rgb(d.colour_or_role())
                  << (d.plain ? " noenhanced" : "") << "\n";
            }
        }
    }
    for (const note& n : p.notes) {
        s << "set label " << text_of(n.text, n.plain) << " at " << number(n.x) << ", graph " << number(n.y)
          << " front textcolor " << rgb(role_colour(n.role)) << (n.plain ? " noenhanced" : "") << "\n";
    }
    // Marks along the foot: a point each, at its x and a little above the
    // panel's foot whatever the y axis.
    for (const series& d : p.drawn) {
        if (d.how != mark::foot || d.sample) continue;
        for (std::size_t k = 0; k < d.x.size(); ++k) {
            if (!std::isfinite(d.x[k])) continue;
            s << "set label '' at first " << number(d.x[k]) << ", graph 0.04 point pt " << d.marker << " ps "
              << number(d.size) << " lw " << number(d.width) << " lc " << rgb(d.colour_or_role()) << " front\n";
        }
    }
    for (std::size_t k = 0; k < p.drawn.size(); ++k) {
        const series& d = p.drawn[k];
        const std::string block = "$p" + std::to_string(index) + "s" + std::to_string(k);
        const std::string axes = d.right ? " axes x1y2" : "";
        const std::string colour = rgb(d.colour_or_role());
        std::string c;
        if (d.sample || d.how == mark::foot) {
            if (d.title.empty()) continue;
            std::string style;
            switch (d.how) {
                case mark::band: style = "filledcurves fc " + colour + " fs transparent solid 0.3 noborder"; break;
                case mark::points:
                case mark::rings:
                case mark::error_bars:
                case mark::x_error_bars:
                case mark::foot:
                    style = "points pt " + std::to_string(d.how == mark::rings ? 6 : d.marker) + " ps " + number(d.size) +
                            " lw " + number(d.width) + " lc " + colour;
                    break;
                case mark::key_only: style = "lines lt nodraw"; break;
                case mark::line:
                case mark::hline:
                case mark::vline:
                    style = (d.marks ? "linespoints pt " + std::to_string(d.marker) + " ps " + number(d.size) : "lines") +
                            " lw " + number(d.width) + " dt " + std::to_string(d.dash) + " lc " + colour;
                    break;
            }
            clauses += (clauses.empty() ? "" : ", ") + ("keyentry with " + style + title_clause(d));
            continue;
        }
        switch (d.how) {
            case mark::line:
                c = block + " using 1:2" + axes + " with " +
                    (d.marks ? "linespoints pt " + std::to_string(d.marker) + " ps " + number(d.size) +
                                   (d.every > 1 ? " pi " + std::to_string(d.every) : "")
                             : "lines") +
                    " lw " + number(d.width) + " dt " + std::to_string(d.dash) +
                    " lc " + colour + title_clause(d);
                break;
            case mark::points:
                c = block + " using 1:2" + axes + " with points pt " + std::to_string(d.marker) + " ps " +
                    number(d.size) + " lw " + number(d.width) + " lc " + colour + title_clause(d);
                break;
            case mark::error_bars:
                c = block + " using 1:2:3:4" + axes + " with yerrorbars pt " + std::to_string(d.marker) + " ps " +
                    number(d.size) + " lc " + colour + title_clause(d);
                break;
            case mark::x_error_bars:
                c = block + " using 1:2:3:4" + axes + " with xerrorbars pt " + std::to_string(d.marker) + " ps " +
                    number(d.size) + " lw " + number(d.width) + " lc " + colour + title_clause(d);
                break;
            case mark::band:
                c = block + " using 1:3:4" + axes + " with filledcurves fc " + colour +
                    " fs transparent solid 0.22 noborder" + title_clause(d);
                break;
            case mark::rings:
                c = block + " using 1:2" + axes + " with points pt 6 ps " + number(d.size) + " lw " + number(d.width) +
                    " lc " + colour + title_clause(d);
                // Each label beside its ring, as a label of its own: the
                // user's text quoted as gnuplot quotes, expanded never.
                for (std::size_t j = 0; j < d.x.size() && j < d.labels.size(); ++j) {
                    if (!finite_point(d, j)) continue;
                    const bool left_of = d.inward && d.x[j] > middle_x(p, d);
                    s << "set label " << text_of(d.labels[j], d.plain) << " at " << (d.right ? "first " : "")
                      << number(d.x[j]) << ", " << (d.right ? "second " : "") << number(d.y[j])
                      << (left_of ? " right offset " : " left offset ") << number((left_of ? -1 : 1) * (0.8 + d.size / 2))
                      << ",0 front textcolor " << colour << (d.plain ? " noenhanced" : "") << "\n";
                }
                break;
            case mark::hline:
                c = (d.y.empty() ? std::string("NaN") : number(d.y.front())) + axes + " with lines lw " +
                    number(d.width) + " dt " + std::to_string(d.dash) + " lc " + colour + title_clause(d);
                break;
            case mark::foot:  // drawn above, as labels
            case mark::vline:
            case mark::key_only:
                if (d.title.empty()) break;
                c = d.how == mark::vline ? "keyentry with lines lw " + number(d.width) + " dt " + std::to_string(d.dash) +
                                               " lc " + colour + title_clause(d)
                                         : "keyentry with lines lt nodraw" + title_clause(d);
                break;
        }
        if (c.empty()) continue;
        if (d.how != mark::hline && d.how != mark::vline && d.how != mark::key_only) data_block(s, block, d);
        clauses += (clauses.empty() ? "" : ", ") + c;
    }
    // A panel with nothing to draw still shows its axes: two points drawn
    // transparent, at the ranges' ends where given (else 1 and 10, which a
    // log axis takes too).
    if (clauses.empty()) {
        s << "$p" << index << "empty << EOD\n" << number(p.x.low.value_or(1.0)) << " " << number(p.y.low.value_or(1.0))
          << "\n" << number(p.x.high.value_or(10.0)) << " " << number(p.y.high.value_or(10.0)) << "\nEOD\n";
        clauses = "$p" + std::to_string(index) + "empty using 1:2 with points lc rgb '#FFFFFFFF' notitle";
    }
    s << "plot " << clauses << "\n";
}

// ---- JSON ---------------------------------------------------------------------------

nlohmann::ordered_json numbers(const std::vector<double>& v) {
    nlohmann::ordered_json a = nlohmann::ordered_json::array();
    for (const double x : v) a.push_back(json_number(x));
    return a;
}

const char* scale_name(axis_scale s) {
    switch (s) {
        case axis_scale::log: return "log";
        case axis_scale::time: return "time";
        case axis_scale::linear: break;
    }
    return "linear";
}

const char* mark_name(mark m) {
    switch (m) {
        case mark::line: return "line";
        case mark::points: return "points";
        case mark::error_bars: return "error_bars";
        case mark::x_error_bars: return "x_error_bars";
        case mark::band: return "band";
        case mark::rings: return "rings";
        case mark::hline: return "hline";
        case mark::vline: return "vline";
        case mark::key_only: return "key_only";
        case mark::foot: return "foot";
    }
    return "line";
}

const char* role_name(series_role r) {
    switch (r) {
        case series_role::estimate: return "estimate";
        case series_role::measured: return "measured";
        case series_role::prediction: return "prediction";
        case series_role::equilibrium: return "equilibrium";
        case series_role::judged_by: return "judged_by";
        case series_role::guide: return "guide";
        case series_role::best_fit: return "best_fit";
        case series_role::failed: return "failed";
        case series_role::other: break;
    }
    return "other";
}

const char* key_name(key_place k) {
    switch (k) {
        case key_place::top_right: return "upper right";
        case key_place::top_left: return "upper left";
        case key_place::bottom_right: return "lower right";
        case key_place::bottom_left: return "lower left";
        case key_place::outside_right: return "outside right";
        case key_place::below: return "below";
        case key_place::none: return "none";
    }
    return "best";
}

// A gnuplot point type as matplotlib's marker, and whether it is filled.
std::pair<const char*, bool> marker_of(int pt) {
    switch (pt) {
        case 1: return {"+", true};
        case 2: return {"x", true};
        case 3: return {"*", true};
        case 4: return {"s", false};
        case 5: return {"s", true};
        case 6: return {"o", false};
        case 8: return {"^", false};
        case 9: return {"^", true};
        case 10: return {"v", false};
        case 11: return {"v", true};
        case 12: return {"D", false};
        case 13: return {"D", true};
        case 14: return {"p", false};
        case 15: return {"p", true};
        default: return {"o", true};
    }
}

nlohmann::ordered_json axis_json(const axis& a) {
    nlohmann::ordered_json j;
    j["quantity"] = a.quantity;
    j["unit"] = a.unit;
    j["label"] = a.label();
    j["scale"] = scale_name(a.scale);
    j["low"] = a.low ? json_number(*a.low) : nlohmann::ordered_json(nullptr);
    j["high"] = a.high ? json_number(*a.high) : nlohmann::ordered_json(nullptr);
    j["ticks"] = nlohmann::ordered_json::array();
    for (const tick& t : a.ticks) j["ticks"].push_back({{"at", json_number(t.at)}, {"text", t.text}});
    return j;
}

}  // namespace

void gnuplot_panel(std::ostream& out, const panel& p, std::size_t index) { panel_commands(out, p, index, ""); }

std::string gnuplot_script(const figure& f) {
    std::ostringstream s;
    s << "set encoding utf8\n";
    // A title over the whole page, not over a panel narrowed for its key.
    const bool several = f.panels.size() > 1 || std::any_of(f.panels.begin(), f.panels.end(), [](const panel& p) {
                             return p.key == key_place::outside_right;
                         });
    if (several) {
        const std::size_t columns = static_cast<std::size_t>(std::max(1, f.columns));
        const std::size_t rows = (f.panels.size() + columns - 1) / columns;
        s << "set multiplot layout " << rows << "," << columns;
        if (!f.title.empty()) s << " title " << gnuplot_markup(f.title);
        s << "\n";
    }
    for (std::size_t k = 0; k < f.panels.size(); ++k) panel_commands(s, f.panels[k], k, several ? "" : f.title);
    if (several) s << "unset multiplot\n";
    return s.str();
}

nlohmann::ordered_json figure_json(const figure& f) {
    nlohmann::ordered_json j;
    j["title"] = f.title;
    j["columns"] = f.columns;
    j["panels"] = nlohmann::ordered_json::array();
    for (const panel& given : f.panels) {
        const panel p = completed(given);
        nlohmann::ordered_json pj;
        pj["title"] = p.title;
        pj["x"] = axis_json(p.x);
        pj["y"] = axis_json(p.y);
        pj["y2"] = p.y2 ? axis_json(*p.y2) : nlohmann::ordered_json(nullptr);
        pj["series"] = nlohmann::ordered_json::array();
        for (const series& d : p.drawn) {
            nlohmann::ordered_json sj;
            const auto [marker, filled] = marker_of(d.how == mark::rings ? 6 : d.marker);
            sj["title"] = d.title;
            sj["how"] = mark_name(d.how);
            sj["role"] = role_name(d.role);
            sj["colour"] = d.colour_or_role();
            sj["marker"] = marker;
            sj["filled"] = filled;
            sj["size"] = d.size;
            sj["width"] = d.width;
            sj["dash"] = d.dash;
            sj["x"] = numbers(d.x);
            sj["y"] = numbers(d.y);
            sj["low"] = numbers(d.low);
            sj["high"] = numbers(d.high);
            sj["labels"] = d.labels;
            sj["right"] = d.right;
            sj["plain"] = d.plain;
            sj["marks"] = d.marks;
            sj["every"] = d.every;
            sj["sample"] = d.sample;
            sj["inward"] = d.inward;
            pj["series"].push_back(sj);
        }
        pj["notes"] = nlohmann::ordered_json::array();
        for (const note& n : p.notes) {
            pj["notes"].push_back({{"text", n.text}, {"x", json_number(n.x)}, {"y", json_number(n.y)},
                                   {"colour", role_colour(n.role)}, {"plain", n.plain}});
        }
        pj["key"] = key_name(p.key);
        pj["square"] = p.square;
        if (p.map) {
            const surface& m = *p.map;
            nlohmann::ordered_json mj;
            mj["x"] = numbers(m.x);
            mj["y"] = numbers(m.y);
            mj["z"] = numbers(m.z);
            mj["low"] = json_number(m.low);
            mj["high"] = json_number(m.high);
            mj["step"] = json_number(m.step);
            mj["colour"] = axis_json(m.colour);
            mj["colours"] = nlohmann::ordered_json::array();
            for (std::size_t k = 0; k < map_colours.size(); ++k) {
                mj["colours"].push_back(map_colours[m.bright_low ? map_colours.size() - 1 - k : k]);
            }
            pj["map"] = mj;
        } else {
            pj["map"] = nullptr;
        }
        j["panels"].push_back(pj);
    }
    return j;
}

}  // namespace workbench
