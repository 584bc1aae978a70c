// The plug-in as the tests load it: the build's library, one handle per test
// process.
#ifndef UREA_TESTS_PLUGIN_H
#define UREA_TESTS_PLUGIN_H

#include "standin/plugin.h"

namespace testing_host {

using standin::invoke;
using standin::plugin;
using standin::upropu_call;
using standin::usura_call;

// The one loaded instance a test process shares: with a single handle,
// reload() really unloads the library.
inline plugin& loaded_plugin() {
    static plugin instance(UREA_PLUGIN_PATH);
    return instance;
}

}  // namespace testing_host

#endif
