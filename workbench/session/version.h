// Which build a result comes from: the workbench's own version and commit,
// and the plug-in's, read from the version marker in its file.
#ifndef UREA_WORKBENCH_SESSION_VERSION_H
#define UREA_WORKBENCH_SESSION_VERSION_H

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace workbench {

// "urea-reactor 1.1.0 (commit abcdef0)".
std::string workbench_version();

// The plug-in file's version marker without its "@(#)" prefix, e.g.
// "urea-plugin 1.1.0 (commit abcdef0)", found by scanning the file (the
// library is not loaded); nullopt when the file has none. Throws
// std::runtime_error when the file cannot be read.
std::optional<std::string> plugin_version(const std::string& path);

inline constexpr const char* no_version_marker =
    "no version marker (a build older than 1.1.0, or not this project's)";

// One line for a report: the marker, or why there is none.
std::string plugin_version_text(const std::string& path);

// The workbench's and a plug-in file's versions, for a report.
struct build_info {
    std::string workbench;    // "urea-reactor 1.1.0 (commit abcdef0)"
    std::string plugin;       // the plug-in's version marker, or why there is none
    std::string plugin_file;
};
build_info build_of(const std::string& plugin_path);

// A JSON result's build stamp: {"urea_reactor": ..., "plugin": ..., "plugin_file": ...,
// "schema_version": the version of the quantities' declarations it was written by}.
nlohmann::ordered_json build_json(const build_info& build);
nlohmann::ordered_json build_json(const std::string& plugin_path);

}  // namespace workbench

#endif
