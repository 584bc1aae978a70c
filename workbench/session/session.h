// The workbench as the plug-in's host: lays out the component list, answers
// the property calls (through the stand-in host's data items and routines),
// and calls the library's routines with every argument by reference, as a
// simulator's reactor model and property evaluation do. The library itself
// is loaded by the project's one loader, standin::plugin.
#ifndef UREA_WORKBENCH_WORKBENCH_HOST_H
#define UREA_WORKBENCH_WORKBENCH_HOST_H

#include <unistd.h>

#include <string>

#include "model/case.h"
#include "model/properties.h"
#include "standin/plugin.h"

namespace workbench {

using standin::plugin;
using plugin_error = standin::load_error;
using standin::load_report;
using standin::routine_names;

// liburea_plugin.so beside this executable (a build folder), or else where
// the package installs it, UREA_PLUGIN_FROM_BINDIR from this executable's
// folder.
inline std::string default_plugin_path() {
    const std::string beside = standin::plugin_beside_executable();
    if (access(beside.c_str(), F_OK) == 0) {
        return beside;
    }
    const std::string folder = beside.substr(0, beside.rfind('/') + 1);
    return folder + UREA_PLUGIN_FROM_BINDIR + "/liburea_plugin.so";
}

class workbench_host {
public:
    workbench_host(plugin& lib, const property_set& properties);
    ~workbench_host();
    workbench_host(const workbench_host&) = delete;
    workbench_host& operator=(const workbench_host&) = delete;

    // Generation rates (kmol/s by component) of a liquid of the given molar
    // flows at t (K) and p (Pa) in a reacting volume v (m3): one call of
    // USURA with the components of non-zero flow as the present list.
    flows rates(const flows& n, double t, double p, double v, double a1, double a2);

    // The stream's "NC-FLOW" mass flows (kg/s by component), evaluated by
    // UPROPU as the host's property evaluation asks for a user property.
    flows nc_flow(const flows& n, double t, double p);

    long rate_calls() const { return rate_calls_; }
    plugin& library() { return lib_; }

private:
    plugin& lib_;
    property_set properties_;
    long rate_calls_ = 0;
};

}  // namespace workbench

#endif
