#include "session/version.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "urea_version.h"

namespace workbench {

std::string workbench_version() {
    return std::string("urea-reactor ") + UREA_VERSION + " (commit " UREA_GIT_COMMIT ")";
}

std::optional<std::string> plugin_version(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot read it (" + std::strerror(errno) + ")");
    constexpr std::size_t largest = std::size_t{1} << 28;  // far more than any build of the plug-in
    std::string image;
    std::vector<char> block(std::size_t{1} << 16);
    while (in && image.size() <= largest) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        image.append(block.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (image.size() > largest) throw std::runtime_error(path + ": too large to be a plug-in");
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
        return v ? *v : "no version marker (a build older than 1.1.0, or not this project's)";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

}  // namespace workbench
