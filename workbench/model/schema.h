// Every quantity the workbench reads or writes, declared once: for each
// domain type (a case, a result and its profile, a run and its
// observations, an estimate, a study point, a design candidate, a monitor
// window, a drift, a screening finding, ...) its fields with their name,
// unit, meaning, kind and bounds. Tables, CSV files, Python's DataFrames and
// `urea-reactor quantities` take their columns' names, units and meanings
// from here.
//
//   const workbench::field& f = workbench::field_of("monitor window", "approach");
//
// A name may stand for a family, its members named by filling in a
// placeholder (in the name and the meaning alike):
//   <C>         a component: NH3, CO2, H2O, CARB, UREA, O2, N2
//   @N          a tray (or a station of the plug-flow profile), from 1
//   <quantity>  a quantity of a case (its unit the case's): trays, a1, model, ...
//   <result>    a result by name (urea-reactor study --list-results)
//   <factor>    a rate factor: a1 or a2
//   <column>    a column of a case table, carried through as written
#ifndef UREA_WORKBENCH_MODEL_SCHEMA_H
#define UREA_WORKBENCH_MODEL_SCHEMA_H

#include <cmath>
#include <span>
#include <string>
#include <string_view>

namespace workbench {

// The version of the declarations below: raised when a field is renamed,
// removed or changes its unit or meaning (not when one is added).
inline constexpr int schema_version = 1;

enum class field_kind {
    number,  // a real number (NaN or empty: missing)
    count,   // a whole number
    text,
    time,    // ISO 8601 text (base/timestamps.h)
    flag,    // yes or no
    table,   // rows of fields of another type
    nested,  // an object of another type's fields
    numbers, // a list of numbers
    texts,   // a list of texts
};

const char* kind_name(field_kind k);

struct schema_field {
    const char* name;
    const char* unit = "";     // "fraction", "kmol/h", "C", ...; empty: none (a count, a text, a ratio of like things)
    const char* meaning = "";  // one line
    field_kind kind = field_kind::number;
    double lower = NAN;        // bounds where the workbench holds the value to them; NaN: none
    double upper = NAN;
    const char* of = "";       // table, nested: the type of its rows or its object
    const char* at = "";       // where a document (a case file, --json) holds it, when not under its name:
                               // "reactor.trays"; a dot steps into an object
    bool column = true;        // a column of the type's tables (--csv); false: held in documents only
};

struct domain_type {
    const char* name;          // "case", "monitor window", ...
    const char* meaning;
    std::span<const schema_field> fields;
    int version = schema_version;
};

// Every type, in the order `urea-reactor quantities` lists them.
std::span<const domain_type> domain_types();

// The type of that name; throws std::logic_error for none (a bug: names
// are the workbench's own).
const domain_type& type_of(std::string_view type);

// The field of a type by its declared name ("x_<C>", "approach"); throws
// std::logic_error for none.
const schema_field& field_of(std::string_view type, std::string_view name);

// The field of the type that a column name is a member of ("x_NH3" of
// "x_<C>", "t_out_low" of "<result>_low"), or nullptr. A bare placeholder
// (<column>, <quantity>) matches what its placeholder allows: <quantity> a
// case quantity, <result> a result, <column> nothing (what a table carries
// is the user's).
const schema_field* declared(std::string_view type, std::string_view column);

// The field of a type that a document holds at `path` (its keys joined by
// dots: "reactor.trays", "parameters.a1"), by the field's place in
// documents where it has one and its name where not; or nullptr.
const schema_field* document_field(std::string_view type, std::string_view path);

// A member of a family: every placeholder in `text` replaced by `what`
// ("x_<C>", "NH3": "x_NH3").
std::string filled(std::string_view text, std::string_view what);

// The unit of a case quantity by the name a study reports it under
// ("pressure_bar": "bar", "nh3_co2": "mol/mol"); empty for the
// trays, a1, a2 and the model, and for a name that is none.
const char* case_unit(std::string_view name);

}  // namespace workbench

#endif
