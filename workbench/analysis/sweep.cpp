#include "analysis/sweep.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "report/estimate_report.h"
#include "model/observation.h"

namespace workbench {
namespace {

std::string sig(double v, int digits = 6) {
    std::ostringstream s;
    s.precision(digits);
    s << v;
    return s.str();
}

std::string column(double v, int width, int digits, bool fixed_point) {
    std::ostringstream s;
    if (!std::isfinite(v)) {
        s << std::setw(width) << "-";
    } else if (fixed_point) {
        s << std::fixed << std::setprecision(digits) << std::setw(width) << v;
    } else {
        s << std::setprecision(digits) << std::setw(width) << v;
    }
    return s.str();
}

// A number as written in a --vary: decimal, finite.
std::optional<double> number(const std::string& text) {
    std::string_view s = text;
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double v = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// Axis labels in gnuplot's enhanced text, by quantity: our words only.
std::string axis_label(const sweep_variable& v) {
    if (!v.which) return v.name == "a1" ? "carbamate-formation rate factor a1" : "dehydration rate factor a2";
    switch (*v.which) {
        case setting::trays: return "number of trays";
        case setting::volume_m3: return "reacting volume, m^3";
        case setting::pressure_bar: return "pressure, bar";
        case setting::inlet_temperature_C: return "inlet temperature, °C";
        case setting::outlet_temperature_C: return "outlet temperature, °C";
        case setting::nh3_co2: return "NH_3/CO_2 fed, mol/mol";
        case setting::h2o_co2: return "H_2O/CO_2 fed, mol/mol";
        default: {
            const std::size_t i = static_cast<std::size_t>(*v.which) - static_cast<std::size_t>(setting::feed_NH3);
            return std::string(component_names[i]) + " fed, kmol/h";
        }
    }
}

// Column heads of the table, at most 12 characters.
std::string short_label(const sweep_variable& v) {
    if (!v.which) return v.name;
    switch (*v.which) {
        case setting::trays: return "trays";
        case setting::volume_m3: return "V m3";
        case setting::pressure_bar: return "P bar";
        case setting::inlet_temperature_C: return "T in C";
        case setting::outlet_temperature_C: return "T out C";
        case setting::nh3_co2: return "NH3/CO2";
        case setting::h2o_co2: return "H2O/CO2";
        default: {
            const std::size_t i = static_cast<std::size_t>(*v.which) - static_cast<std::size_t>(setting::feed_NH3);
            return std::string(component_names[i]) + " kmol/h";
        }
    }
}

constexpr std::array<component, 4> fraction_components = {NH3, CO2, UREA, H2O};
constexpr std::array<const char*, 4> fraction_columns = {"w_NH3", "w_CO2", "w_UREA", "w_H2O"};

}  // namespace

sweep_variable parse_vary(const std::string& text) {
    sweep_variable v;
    v.given = text;
    const auto fail = [&](const std::string& what) -> void {
        throw input_error("--vary " + text + ": " + what);
    };
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) fail("write NAME=FROM:TO:N (e.g. a2=0.01:10:13, nh3_co2=2.8:3.6:9)");
    const std::string name = text.substr(0, eq);
    std::string key = name;
    for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (key == "a1" || key == "a2") {
        v.name = key;
        v.log_spacing = true;
    } else if (const auto s = setting_named(name)) {
        v.which = s;
        v.name = setting_column(*s);
    } else {
        fail("\"" + name + "\" is no quantity of a case (a1, a2, trays, volume, pressure, t-in, t-out, "
             "co2, nh3_co2, h2o_co2, feed_kmol_h.<component>, or a runs file's column name)");
    }
    std::vector<std::string> parts = split(text.substr(eq + 1), ':');
    if (!parts.empty() && (parts[0] == "log" || parts[0] == "lin")) {
        v.log_spacing = parts[0] == "log";
        parts.erase(parts.begin());
    }
    if (parts.size() != 3) fail("write NAME=FROM:TO:N, or NAME=log:FROM:TO:N for points evenly spaced in ln");
    const auto from = number(parts[0]), to = number(parts[1]);
    if (!from) fail("FROM must be a finite number (got \"" + parts[0] + "\")");
    if (!to) fail("TO must be a finite number (got \"" + parts[1] + "\")");
    const auto n = number(parts[2]);
    if (!n || *n != std::floor(*n) || *n < 1.0 || *n > static_cast<double>(max_sweep_points)) {
        fail("N must be a whole number of points from 1 to " + std::to_string(max_sweep_points) + " (got \"" +
             parts[2] + "\")");
    }
    const auto points = static_cast<std::size_t>(*n);
    if (points == 1 && *from != *to) fail("one point: give FROM = TO, or more points");
    if (points > 1 && *from == *to) fail("FROM = TO: give N = 1 for one point");
    if (v.log_spacing && !(*from > 0.0 && *to > 0.0)) {
        fail("points evenly spaced in ln need FROM and TO > 0" +
             std::string(v.which ? "" : " (a rate factor is > 0)") + "; lin:FROM:TO:N spaces them evenly");
    }
    for (std::size_t k = 0; k < points; ++k) {
        const double s = points == 1 ? 0.0 : static_cast<double>(k) / static_cast<double>(points - 1);
        double x = v.log_spacing ? std::exp(std::log(*from) + s * (std::log(*to) - std::log(*from)))
                                 : *from + s * (*to - *from);
        if (k == 0) x = *from;
        if (k + 1 == points) x = *to;
        if (v.which == setting::trays) {
            const double whole = std::round(x);
            if (std::abs(x - whole) > 1e-9 * std::max(1.0, std::abs(x))) {
                fail("trays must be whole numbers, and point " + std::to_string(k + 1) + " would be " + sig(x) +
                     " (choose N so that the steps are whole)");
            }
            if (whole < 1.0 || whole > 10000.0) fail("trays must be 1 to 10000 (got " + sig(whole) + ")");
            x = whole;
        }
        v.values.push_back(x);
    }
    return v;
}

std::string quantity_of_option(const std::string& option) {
    std::string name = option;
    while (!name.empty() && name.front() == '-') name.erase(name.begin());
    if (name == "a1" || name == "a2") return name;
    if (const auto s = setting_named(name)) return setting_column(*s);
    return "";
}

std::vector<reactor_case> sweep_cases(const reactor_case& base, const std::vector<sweep_variable>& vars,
                                      std::vector<std::string>* warnings) {
    if (vars.empty() || vars.size() > 2) throw input_error("--vary: give one or two (got " + std::to_string(vars.size()) + ")");
    if (vars.size() == 2) {
        if (vars[0].name == vars[1].name) {
            throw input_error("--vary " + vars[1].given + ": " + vars[1].name + " is varied twice");
        }
        for (const auto& [ratio, flow] : {std::pair{setting::nh3_co2, setting::feed_NH3},
                                          std::pair{setting::h2o_co2, setting::feed_H2O}}) {
            const bool a = vars[0].which == ratio && vars[1].which == flow;
            const bool b = vars[0].which == flow && vars[1].which == ratio;
            if (a || b) {
                throw input_error("--vary " + vars[1].given + ": " + setting_column(ratio) + " and " +
                                  setting_column(flow) + " set the same flow: vary one of them");
            }
        }
    }
    const std::size_t n1 = vars[0].values.size(), n2 = vars.size() == 2 ? vars[1].values.size() : 1;
    if (n1 * n2 > max_sweep_points) {
        throw input_error("--vary: " + std::to_string(n1 * n2) + " points in all; at most " +
                          std::to_string(max_sweep_points));
    }
    std::vector<reactor_case> cases;
    cases.reserve(n1 * n2);
    std::size_t clamped = 0;
    std::string first_warning;
    for (std::size_t i2 = 0; i2 < n2; ++i2) {
        for (std::size_t i1 = 0; i1 < n1; ++i1) {
            settings_given settings{};
            reactor_case c = base;
            std::string at;
            for (std::size_t k = 0; k < vars.size(); ++k) {
                const double x = vars[k].values[k == 0 ? i1 : i2];
                at += (at.empty() ? "" : ", ") + vars[k].name + " = " + sig(x);
                if (vars[k].which) {
                    settings[static_cast<std::size_t>(*vars[k].which)] = x;
                } else if (vars[k].name == "a1") {
                    c.a1 = x;
                } else {
                    c.a2 = x;
                }
            }
            c = with_settings(c, settings);
            try {
                const std::vector<std::string> w = validate(c);
                if (!w.empty()) {
                    if (clamped++ == 0) first_warning = "at " + at + ": " + w.front();
                }
            } catch (const input_error& e) {
                std::string option;
                for (const sweep_variable& v : vars) option += (option.empty() ? "--vary " : ", --vary ") + v.given;
                throw input_error(option + ": at the point " + at + ": " + e.what());
            }
            cases.push_back(std::move(c));
        }
    }
    if (warnings != nullptr && clamped > 0) {
        warnings->push_back(first_warning + (clamped > 1 ? " (and at " + std::to_string(clamped - 1) +
                                                               " more points)"
                                                         : ""));
    }
    return cases;
}

sweep_result run_sweep(const std::vector<reactor_case>& cases, const std::vector<sweep_variable>& vars,
                       workbench_host& h) {
    sweep_result out;
    out.vars = vars;
    const std::size_t n1 = vars.front().values.size();
    const long calls0 = h.rate_calls();
    // The last solution of the row and the first of the row before: the
    // warm starts.
    std::optional<result> previous, row_start;
    for (std::size_t p = 0; p < cases.size(); ++p) {
        const std::size_t i1 = p % n1, i2 = p / n1;
        sweep_point pt;
        pt.x.push_back(vars[0].values[i1]);
        if (vars.size() == 2) pt.x.push_back(vars[1].values[i2]);
        const result* warm = nullptr;
        if (i1 == 0 && row_start) warm = &*row_start;
        if (i1 > 0 && previous) warm = &*previous;
        run_outcome o = run_case(cases[p], h, warm);
        if (o.ok()) {
            const result& r = *o.value;
            pt.ok = true;
            pt.conversion_defined = r.co2_conversion_defined;
            pt.co2_conversion = r.co2_conversion_defined ? r.co2_conversion : NAN;
            pt.equilibrium_co2_conversion = r.co2_conversion_defined ? r.equilibrium_co2_conversion : NAN;
            predicted values{};
            set_nc_mass_fractions(r.nc_flow_kg_s, values);
            for (std::size_t k = 0; k < 4; ++k) pt.w[k] = values[static_cast<std::size_t>(quantity::w_nh3) + k];
            pt.max_balance_residual = r.max_balance_residual;
            if (i1 == 0) row_start = r;
            previous = std::move(o.value);
        } else {
            pt.failure = o.failure;
            ++out.failed;
            if (i1 == 0) row_start.reset();
        }
        out.points.push_back(std::move(pt));
    }
    out.rate_calls = h.rate_calls() - calls0;
    return out;
}

std::string point_text(const sweep_result& r, std::size_t point) {
    std::string s;
    for (std::size_t k = 0; k < r.vars.size(); ++k) {
        s += (k ? ", " : "") + r.vars[k].name + " = " + sig(r.points[point].x[k]);
    }
    return s;
}

void print_sweep(std::ostream& out, const reactor_case& base, const sweep_result& r) {
    out << "Sweep of ";
    for (std::size_t k = 0; k < r.vars.size(); ++k) {
        const sweep_variable& v = r.vars[k];
        out << (k ? " and " : "") << v.name << " (" << v.values.size() << " points"
            << (v.log_spacing && v.values.size() > 2 ? ", evenly spaced in ln" : "") << ")";
    }
    out << " over the case " << printable(base.name) << "\n";
    out << "NC-FLOW mass fractions of the outlet liquid (UPROPU: carbamate counted as NH3 and CO2, air "
           "left out)\n\n";
    for (const sweep_variable& v : r.vars) out << std::setw(14) << short_label(v);
    out << "  CO2 conv %  equil. %    w NH3    w CO2   w UREA    w H2O\n";
    for (std::size_t p = 0; p < r.points.size(); ++p) {
        const sweep_point& pt = r.points[p];
        if (p > 0 && p % r.vars[0].values.size() == 0) out << "\n";  // a new value of the second
        for (const double x : pt.x) out << column(x, 14, 6, false);
        if (!pt.ok) {
            out << "  failed: " << pt.failure << "\n";
            continue;
        }
        out << column(100.0 * pt.co2_conversion, 12, 2, true)
            << column(100.0 * pt.equilibrium_co2_conversion, 10, 2, true);
        for (const double w : pt.w) out << column(w, 9, 4, true);
        out << "\n";
    }
    out << "\n" << r.points.size() << " points: ";
    if (r.failed == 0) {
        out << "all solved";
    } else {
        out << r.points.size() - r.failed << " solved, " << r.failed << " failed";
    }
    out << "; " << r.rate_calls << " rate routine calls\n";
}

nlohmann::ordered_json sweep_json(const sweep_result& r) {
    using json = nlohmann::ordered_json;
    const auto number = [](double v) { return std::isfinite(v) ? json(v) : json(nullptr); };
    json vars = json::array();
    for (const sweep_variable& v : r.vars) {
        vars.push_back({{"name", v.name}, {"spacing", v.log_spacing ? "log" : "linear"}, {"values", v.values}});
    }
    json points = json::array();
    for (const sweep_point& pt : r.points) {
        json p = json::object();
        for (std::size_t k = 0; k < r.vars.size(); ++k) p[r.vars[k].name] = pt.x[k];
        p["ok"] = pt.ok;
        if (pt.ok) {
            p["co2_conversion"] = number(pt.co2_conversion);
            p["equilibrium_co2_conversion"] = number(pt.equilibrium_co2_conversion);
            json w = json::object();
            for (std::size_t k = 0; k < 4; ++k) w[component_names[fraction_components[k]]] = pt.w[k];
            p["nc_mass_fractions"] = w;
            p["max_balance_residual"] = pt.max_balance_residual;
        } else {
            p["failure"] = pt.failure;
        }
        points.push_back(p);
    }
    return {{"vary", vars},
            {"points", points},
            {"solved", r.points.size() - r.failed},
            {"failed", r.failed},
            {"rate_calls", r.rate_calls}};
}

std::string sweep_csv(const sweep_result& r) {
    std::ostringstream out;
    for (const sweep_variable& v : r.vars) out << v.name << ",";
    out << "co2_conversion,equilibrium_co2_conversion";
    for (const char* c : fraction_columns) out << "," << c;
    out << ",failure\n" << std::setprecision(10);
    for (const sweep_point& pt : r.points) {
        for (const double x : pt.x) out << x << ",";
        if (pt.ok) {
            const auto cell = [](double v) { return std::isfinite(v) ? sig(v, 10) : std::string(); };
            out << cell(pt.co2_conversion) << "," << cell(pt.equilibrium_co2_conversion);
            for (const double w : pt.w) out << "," << w;
            out << ",\n";
        } else {
            out << ",,,,,," << csv_cell(pt.failure) << "\n";
        }
    }
    return out.str();
}

std::string sweep_plot_script(const sweep_result& r) {
    std::ostringstream s;
    s << std::setprecision(10);
    const sweep_variable& v1 = r.vars[0];
    const bool family = r.vars.size() == 2;
    // Columns: x, conversion %, equilibrium %, w NH3, w CO2, w UREA, w H2O,
    // and the second variable's value; '-' where a point failed.
    s << "set datafile missing '-'\n$d << EOD\n";
    for (std::size_t p = 0; p < r.points.size(); ++p) {
        const sweep_point& pt = r.points[p];
        if (p > 0 && p % v1.values.size() == 0) s << "\n\n";  // the next curve
        const auto cell = [&](double v) {
            if (pt.ok && std::isfinite(v)) {
                s << " " << v;
            } else {
                s << " -";
            }
        };
        s << pt.x[0];
        cell(100.0 * pt.co2_conversion);
        cell(100.0 * pt.equilibrium_co2_conversion);
        for (const double w : pt.w) cell(w);
        s << " " << (family ? pt.x[1] : 0.0) << "\n";
    }
    s << "EOD\n";
    const double x_lo = std::min(v1.values.front(), v1.values.back());
    const double x_hi = std::max(v1.values.front(), v1.values.back());
    s << "set multiplot layout 2,1 title 'Urea reactor: sweep'\nset grid\n";
    if (x_hi > x_lo) s << "set xrange [" << x_lo << ":" << x_hi << "]\n";
    if (v1.log_spacing) s << "set logscale x\n";
    s << "set xlabel '" << axis_label(v1) << "'\n";
    const std::string style = v1.values.size() > 40 ? "lines" : "linespoints pt 7 ps 0.6";
    if (!family) {
        s << "set lmargin at screen 0.1\nset rmargin at screen 0.78\n"
          << "set key at screen 0.99, graph 1 right top\nset ylabel 'CO_2 conversion, %'\n"
          << "plot $d using 1:2 with " << style << " lw 2 lc rgb '#1f77b4' title 'CO_2 conversion', "
          << "$d using 1:3 with lines dt 2 lw 2 lc rgb '#2ca02c' title 'equilibrium'\n"
          << "set ylabel 'outlet mass fraction (NC-FLOW basis)'\n"
          << "plot $d using 1:4 with " << style << " lw 2 title 'NH_3', "
          << "$d using 1:5 with " << style << " lw 2 title 'CO_2', "
          << "$d using 1:6 with " << style << " lw 2 title 'urea', "
          << "$d using 1:7 with " << style << " lw 2 title 'H_2O'\n";
    } else {
        const sweep_variable& v2 = r.vars[1];
        double c_lo = std::min(v2.values.front(), v2.values.back());
        double c_hi = std::max(v2.values.front(), v2.values.back());
        if (!(c_hi > c_lo)) {
            c_lo = c_lo > 0.0 ? 0.9 * c_lo : c_lo - 1.0;
            c_hi = c_hi > 0.0 ? 1.1 * c_hi : c_hi + 1.0;
        }
        const std::size_t curves = v2.values.size();
        s << "set palette defined (0 '#440154', 1 '#3b528b', 2 '#21918c', 3 '#5ec962', 4 '#fde725')\n"
          << "set cbrange [" << c_lo << ":" << c_hi << "]\n"
          << (v2.log_spacing ? "set logscale cb\n" : "") << "set cblabel '" << axis_label(v2) << "'\n"
          << "set key bottom right\nset ylabel 'CO_2 conversion, %'\n"
          << "plot for [i=0:" << curves - 1 << "] $d index i using 1:2:8 with " << style
          << " lw 2 lc palette notitle, "
          << "for [i=0:" << curves - 1 << "] $d index i using 1:3:8 with lines dt 2 lw 1 lc palette notitle, "
          << "NaN with lines lw 2 lc rgb 'black' title 'CO_2 conversion', "
          << "NaN with lines dt 2 lc rgb 'black' title 'equilibrium at the outlet'\n"
          << "set ylabel 'outlet urea mass fraction (NC-FLOW basis)'\n"
          << "plot for [i=0:" << curves - 1 << "] $d index i using 1:6:8 with " << style
          << " lw 2 lc palette notitle\n";
    }
    s << "unset multiplot\n";
    return s.str();
}

}  // namespace workbench
