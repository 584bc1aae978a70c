// The library's version and the commit it was built from, as a read-only
// string in its image: a host or a person finds it by scanning the file
// (e.g. `strings liburea_plugin.so | grep @(#)`), without loading it. It is
// constant data: no export, no code run at load.
#include "urea_version.h"

namespace {

[[gnu::used]] constexpr char version_marker[] =
    "@(#)urea-plugin " UREA_VERSION " (commit " UREA_GIT_COMMIT ")";

}  // namespace
