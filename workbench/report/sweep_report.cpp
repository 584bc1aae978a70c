#include "report/sweep_report.h"

#include <iomanip>

#include "base/text.h"
#include "model/observation.h"
#include "model/results.h"
#include "report/json_stream.h"
#include "model/results.h"

namespace workbench {
namespace {

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

void print_sweep_head(std::ostream& out, const reactor_case& base, const std::vector<sweep_variable>& vars) {
    out << "Sweep of ";
    for (std::size_t k = 0; k < vars.size(); ++k) {
        const sweep_variable& v = vars[k];
        out << (k ? " and " : "") << v.name << " (" << v.values.size() << " points"
            << (v.log_spacing && v.values.size() > 2 ? ", evenly spaced in ln" : "") << ")";
    }
    out << " over the case " << printable(base.name) << "\n";
    out << "NC-FLOW mass fractions of the outlet liquid (UPROPU: carbamate counted as NH3 and CO2, air "
           "left out)\n\n";
    for (const sweep_variable& v : vars) out << std::setw(14) << short_label(v);
    out << "  CO2 conv %  equil. %    w NH3    w CO2   w UREA    w H2O\n";
}

void print_sweep_row(std::ostream& out, const std::vector<sweep_variable>& vars, std::size_t p,
                     const sweep_point& pt) {
    if (p > 0 && p % vars[0].values.size() == 0) out << "\n";  // a new value of the second
    for (const double x : pt.x) out << std::setw(14) << sig_or_dash(x, 6);
    if (!pt.ok) {
        out << "  failed: " << pt.failure << "\n";
        return;
    }
    out << fixed(100.0 * pt.co2_conversion, 12, 2) << fixed(100.0 * pt.equilibrium_co2_conversion, 10, 2);
    for (const double w : pt.w) out << fixed(w, 9, 4);
    out << "\n";
}

void print_sweep_tail(std::ostream& out, std::size_t points, std::size_t failed, long rate_calls) {
    out << "\n" << points << " points: ";
    if (failed == 0) {
        out << "all solved";
    } else {
        out << points - failed << " solved, " << failed << " failed";
    }
    out << "; " << rate_calls << " rate routine calls\n";
}

void print_sweep(std::ostream& out, const reactor_case& base, const sweep_result& r) {
    print_sweep_head(out, base, r.vars);
    for (std::size_t p = 0; p < r.points.size(); ++p) print_sweep_row(out, r.vars, p, r.points[p]);
    print_sweep_tail(out, r.points.size(), r.failed, r.rate_calls);
}

nlohmann::ordered_json sweep_vary_json(const std::vector<sweep_variable>& vars) {
    using json = nlohmann::ordered_json;
    json out = json::array();
    for (const sweep_variable& v : vars) {
        out.push_back({{"name", v.name}, {"spacing", v.log_spacing ? "log" : "linear"}, {"values", v.values}});
    }
    return out;
}

nlohmann::ordered_json sweep_point_json(const std::vector<sweep_variable>& vars, const sweep_point& pt) {
    using json = nlohmann::ordered_json;
    json p = json::object();
    for (std::size_t k = 0; k < vars.size(); ++k) p[vars[k].name] = pt.x[k];
    p["ok"] = pt.ok;
    if (pt.ok) {
        p["co2_conversion"] = json_number(pt.co2_conversion);
        p["equilibrium_co2_conversion"] = json_number(pt.equilibrium_co2_conversion);
        json w = json::object();
        for (std::size_t k = 0; k < 4; ++k) w[component_names[fraction_components[k]]] = pt.w[k];
        p["nc_mass_fractions"] = w;
        p["max_balance_residual"] = pt.max_balance_residual;
    } else {
        p["failure"] = pt.failure;
    }
    return p;
}

nlohmann::ordered_json sweep_tail_json(std::size_t points, std::size_t failed, long rate_calls,
                                       const std::vector<message>& notes, const vocabulary& words) {
    return {{"solved", points - failed}, {"failed", failed}, {"rate_calls", rate_calls}, {"notes", said_all(notes, words)}};
}

table sweep_table(const std::vector<sweep_variable>& vars) {
    table t;
    for (const sweep_variable& v : vars) t.add(field_of("study point", "<quantity>"), v.name);
    for (const result_quantity& q : default_results()) t.add(q);
    t.add(field_of("study point", "failure"));
    return t;
}

void add_sweep_point(table& t, const sweep_point& pt) {
    std::size_t i = 0;
    for (const double x : pt.x) t[i++].push(x);
    t[i++].push(pt.ok ? pt.co2_conversion : NAN);
    t[i++].push(pt.ok ? pt.equilibrium_co2_conversion : NAN);
    for (const double w : pt.w) t[i++].push(pt.ok ? w : NAN);
    t[i++].push(pt.ok ? std::string() : pt.failure);
}

void sweep_csv_head(std::ostream& out, const std::vector<sweep_variable>& vars) { write_csv_head(out, sweep_table(vars)); }

void sweep_csv_row(std::ostream& out, const std::vector<sweep_variable>& vars, const sweep_point& pt) {
    table row = sweep_table(vars);
    add_sweep_point(row, pt);
    write_csv_rows(out, row);
}

quantity_label label_of(const sweep_variable& v) {
    if (!v.which) {
        if (v.name == "model") return {"reactor model", "model", ""};
        return v.name == "a1" ? quantity_label{"carbamate-formation rate factor a1", "a1", ""}
                              : quantity_label{"dehydration rate factor a2", "a2", ""};
    }
    switch (*v.which) {
        case setting::trays: return {"number of trays", "trays", ""};
        case setting::volume_m3: return {"reacting volume", "V", "m^3"};
        case setting::pressure_bar: return {"pressure", "P", "bar"};
        case setting::inlet_temperature_C: return {"inlet temperature", "T_{in}", "°C"};
        case setting::outlet_temperature_C: return {"outlet temperature", "T_{out}", "°C"};
        case setting::nh3_co2: return {"NH_3/CO_2 fed", "NH_3/CO_2", "mol/mol"};
        case setting::h2o_co2: return {"H_2O/CO_2 fed", "H_2O/CO_2", "mol/mol"};
        default: {
            const std::size_t i = static_cast<std::size_t>(*v.which) - static_cast<std::size_t>(setting::feed_NH3);
            const std::string fed = std::string(component_title(i)) + " fed";
            return {fed, fed, "kmol/h"};
        }
    }
}

std::string sweep_axis_label(const sweep_variable& v) {
    const quantity_label l = label_of(v);
    return l.unit.empty() ? l.words : l.words + " (" + l.unit + ")";
}

}  // namespace workbench
