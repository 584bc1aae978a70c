#include "session/version.h"

#include <stdexcept>

#include "base/input_files.h"
#include "model/schema.h"
#include "urea_version.h"

namespace workbench {

std::string workbench_version() {
    return std::string("urea-reactor ") + UREA_VERSION + " (commit " UREA_GIT_COMMIT ")";
}

std::optional<std::string> plugin_version(const std::string& path) {
    const std::string image = read_input_file(path, "plug-in");
    // The file is anyone's: take only a short run of printable characters
    // up to the marker's terminating NUL.
    const std::size_t at = image.find("@(#)urea-plugin ");
    if (at == std::string::npos) return std::nullopt;
    std::string text;
    for (std::size_t k = at + 4; k < image.size() && text.size() <= 120; ++k) {
        const char ch = image[k];
        if (ch == '\0') return text;
        if (ch < ' ' || ch > '~') return std::nullopt;
        text += ch;
    }
    return std::nullopt;
}

std::string plugin_version_text(const std::string& path) {
    try {
        const auto v = plugin_version(path);
        return v.value_or(no_version_marker);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

build_info build_of(const std::string& plugin_path) {
    return {workbench_version(), plugin_version_text(plugin_path), plugin_path};
}

nlohmann::ordered_json build_json(const build_info& build) {
    return {{"urea_reactor", build.workbench},
            {"plugin", build.plugin},
            {"plugin_file", build.plugin_file},
            {"schema_version", schema_version}};
}

nlohmann::ordered_json build_json(const std::string& plugin_path) { return build_json(build_of(plugin_path)); }

}  // namespace workbench
