// `urea-reactor quantities`: every declared type with its fields (model/
// schema.h) as a table, or as one JSON document; docs/reference/quantities.md
// is generated from the JSON.
#ifndef UREA_WORKBENCH_REPORT_SCHEMA_REPORT_H
#define UREA_WORKBENCH_REPORT_SCHEMA_REPORT_H

#include <ostream>

#include <nlohmann/json.hpp>

namespace workbench {

// By type: its name, version and meaning, then a row a field: name, unit,
// kind, bounds and meaning.
void print_quantities(std::ostream& out);

// {"schema_version", "types": [{"name", "version", "meaning", "fields":
// [{"name", "unit", "kind", "lower", "upper", "of", "at", "meaning"}]}]}; a
// bound that does not exist is null, "of" only for a table or a nested
// field, "at" only for a field that documents hold elsewhere than under its
// name ("reactor.trays"), "column": false only for a field that documents
// hold and the type's tables do not.
nlohmann::ordered_json quantities_json();

}  // namespace workbench

#endif
