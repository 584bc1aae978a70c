// Where this client of the workbench looks for the default plug-in (see
// default_plugin_path): compiled into each client, not into the workbench's
// library, so that each gives its own folders. A program in bin/ looks
// beside itself (a build folder), then where the package installs the
// plug-in; a client elsewhere (the Python module) defines
// UREA_PLUGIN_FOLDERS for its own place.
#include "session/session.h"

#ifndef UREA_PLUGIN_FOLDERS
#define UREA_PLUGIN_FOLDERS ".:" UREA_PLUGIN_FROM_BINDIR
#endif

const char* workbench::plugin_folders() { return UREA_PLUGIN_FOLDERS; }
