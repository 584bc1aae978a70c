#include "report/schema_report.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/text.h"
#include "model/schema.h"
#include "report/json_stream.h"

namespace workbench {
namespace {

// "1 .. 10000", ">= 0", "<= 1"; empty without bounds.
std::string bounds_text(const schema_field& f) {
    const bool low = std::isfinite(f.lower), high = std::isfinite(f.upper);
    if (low && high) return sig(f.lower, 6) + " .. " + sig(f.upper, 6);
    if (low) return ">= " + sig(f.lower, 6);
    if (high) return "<= " + sig(f.upper, 6);
    return "";
}

std::string kind_text(const schema_field& f) {
    std::string s = kind_name(f.kind);
    if (*f.of != '\0') s += " of " + std::string(f.of);
    if (!f.column) s += ", documents only";
    return s;
}

// "trays", or "trays (reactor.trays)" where documents hold it elsewhere.
std::string name_text(const schema_field& f) {
    return *f.at == '\0' ? std::string(f.name) : std::string(f.name) + " (" + f.at + ")";
}

}  // namespace

void print_quantities(std::ostream& out) {
    out << "Quantities of the workbench (schema version " << schema_version
        << "). <C> is a component, @N a tray, <quantity> a quantity of a case, <result> a result, <factor> a1 or a2, "
           "<column> a case table's column as written.\n";
    for (const domain_type& t : domain_types()) {
        std::size_t name_width = 4, unit_width = 4, kind_width = 4, bounds_width = 6;
        for (const schema_field& f : t.fields) {
            name_width = std::max(name_width, name_text(f).size());
            unit_width = std::max(unit_width, std::string(f.unit).size());
            kind_width = std::max(kind_width, kind_text(f).size());
            bounds_width = std::max(bounds_width, bounds_text(f).size());
        }
        out << "\n" << t.name << " (version " << t.version << "): " << t.meaning << "\n";
        out << "  " << left_aligned("name", name_width + 1) << left_aligned("unit", unit_width + 1)
            << left_aligned("kind", kind_width + 1) << left_aligned("bounds", bounds_width + 1) << "meaning\n";
        for (const schema_field& f : t.fields) {
            out << "  " << left_aligned(name_text(f), name_width + 1) << left_aligned(f.unit, unit_width + 1)
                << left_aligned(kind_text(f), kind_width + 1) << left_aligned(bounds_text(f), bounds_width + 1)
                << f.meaning << "\n";
        }
    }
}

nlohmann::ordered_json quantities_json() {
    nlohmann::ordered_json j;
    j["schema_version"] = schema_version;
    j["types"] = nlohmann::ordered_json::array();
    for (const domain_type& t : domain_types()) {
        nlohmann::ordered_json fields = nlohmann::ordered_json::array();
        for (const schema_field& f : t.fields) {
            nlohmann::ordered_json x;
            x["name"] = f.name;
            x["unit"] = f.unit;
            x["kind"] = kind_name(f.kind);
            x["lower"] = json_number(f.lower);
            x["upper"] = json_number(f.upper);
            if (*f.of != '\0') x["of"] = f.of;
            if (*f.at != '\0') x["at"] = f.at;
            if (!f.column) x["column"] = false;
            x["meaning"] = f.meaning;
            fields.push_back(x);
        }
        j["types"].push_back({{"name", t.name}, {"version", t.version}, {"meaning", t.meaning}, {"fields", fields}});
    }
    return j;
}

}  // namespace workbench
