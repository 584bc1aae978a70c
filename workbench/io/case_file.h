// Case files: a reactor case as JSON (docs/case-files.md), read with every
// error placed by file, line and key.
#ifndef UREA_WORKBENCH_IO_CASE_FILE_H
#define UREA_WORKBENCH_IO_CASE_FILE_H

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/case.h"

namespace workbench {

// The most a JSON text read here may hold, so that parsing it takes time and
// memory in proportion to its text, within bounds: values in all (each key,
// number, string, object and array counts one), and how deep they nest. A
// case file's property tables hold a few thousand numbers at most.
inline constexpr std::size_t max_case_file_values = 100000;
inline constexpr std::size_t max_json_depth = 64;

// Throws input_error (naming the file) when the JSON text holds more than
// max_values values or nests deeper than max_json_depth; what: "an
// estimate file", for the message. Malformed text is left to the parser.
void check_json_size(const std::string& text, const std::string& file, const std::string& what,
                     std::size_t max_values);

// Reads a case from JSON text (file name for messages). Keys not given keep
// their default-case values, except that a "feed" replaces the whole feed.
// Throws input_error with the file, line and key where known.
reactor_case parse_case(const std::string& text, const std::string& file);
reactor_case read_case(const std::string& path);

// A case as a case file's JSON: the one shape of a case, which every
// output that shows a case writes and parse_case reads.
nlohmann::ordered_json case_file_json(const reactor_case& c);

// A case as case-file text that parse_case reads back to the same case:
// every key written, numbers to the digits that give the same doubles, the
// comments first, each a `//` line (their control characters shown as '?').
std::string case_file_text(const reactor_case& c, const std::vector<std::string>& comments = {});

// What a JSON parser said of text: the line of the byte it stopped at, and
// its message without the parser's own prefix ("[json.exception...] parse
// error at line 3, column 5: ").
struct json_complaint {
    std::size_t line = 0;
    std::string what;
};
json_complaint json_complaint_of(const std::string& text, std::size_t byte, const std::string& message);

}  // namespace workbench

#endif
