#include "report/sweep_report.h"

#include <cmath>
#include <iomanip>
#include <sstream>

#include "io/text.h"
#include "model/observation.h"

namespace workbench {
namespace {

// v right-aligned in width with `digits` significant digits; "-" for a
// value that is not finite.
std::string column(double v, int width, int digits) {
    std::ostringstream s;
    if (!std::isfinite(v)) {
        s << std::setw(width) << "-";
    } else {
        s << std::setprecision(digits) << std::setw(width) << v;
    }
    return s.str();
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
        for (const double x : pt.x) out << column(x, 14, 6);
        if (!pt.ok) {
            out << "  failed: " << pt.failure << "\n";
            continue;
        }
        out << fixed(100.0 * pt.co2_conversion, 12, 2)
            << fixed(100.0 * pt.equilibrium_co2_conversion, 10, 2);
        for (const double w : pt.w) out << fixed(w, 9, 4);
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
            {"rate_calls", r.rate_calls},
            {"notes", r.notes}};
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
