// The page's files, embedded into the program at build time (the page's own
// and the chart library's, from the npm package pinned in web/package-lock.json):
// the only files `serve` ever serves.
#ifndef UREA_WORKBENCH_SERVE_ASSETS_H
#define UREA_WORKBENCH_SERVE_ASSETS_H

#include <string_view>

namespace workbench {

struct embedded_file {
    std::string_view path;          // "/", "/app.js", ...
    std::string_view content_type;
    std::string_view body;
};

// The file served at exactly this path, or nullptr.
const embedded_file* embedded_asset(std::string_view path);

}  // namespace workbench

#endif
