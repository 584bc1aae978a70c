// The workbench as the plug-in's host: loads the library, lays out the
// component list and answers the property calls (through the stand-in
// host's data items and routines), and calls the library's routines with
// every argument by reference, as a simulator's reactor model and property
// evaluation do.
#ifndef UREA_WORKBENCH_HOST_H
#define UREA_WORKBENCH_HOST_H

#include <array>
#include <stdexcept>
#include <string>

#include "case.h"
#include "host/host_interface.h"
#include "properties.h"

namespace workbench {

// A plug-in that does not load or lacks a routine.
class plugin_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What loading a plug-in found, for `check` and for the error messages.
struct load_report {
    bool loaded = false;
    std::string error;                // dlerror's text when it did not load
    std::string missing_host_symbol;  // the host item or routine it needs and we lack
    std::array<bool, 3> exported{};   // CMPLOC, USURA, UPROPU
};
inline constexpr std::array<const char*, 3> routine_names = {"CMPLOC", "USURA", "UPROPU"};

// liburea_plugin.so beside this executable.
std::string default_plugin_path();

class plugin {
public:
    // Loads the library with dlopen and resolves the three routines with
    // dlsym; throws plugin_error naming what failed.
    explicit plugin(const std::string& path);
    ~plugin();
    plugin(const plugin&) = delete;
    plugin& operator=(const plugin&) = delete;

    // Loads, looks for the three routines and unloads, without throwing.
    static load_report probe(const std::string& path);

    const std::string& path() const { return path_; }
    decltype(&CMPLOC) cmploc = nullptr;
    decltype(&USURA) usura = nullptr;
    decltype(&UPROPU) upropu = nullptr;

private:
    std::string path_;
    void* handle_ = nullptr;
};

// The simulation the plug-in runs in: the seven components at positions
// 1..7 with their molecular weights, and the property set.
class host {
public:
    host(plugin& lib, const property_set& properties);
    ~host();
    host(const host&) = delete;
    host& operator=(const host&) = delete;

    // Generation rates (kmol/s by component) of a liquid of the given molar
    // flows at t (K) and p (Pa) in a reacting volume v (m3): one call of
    // USURA with the components of non-zero flow as the present list.
    flows rates(const flows& n, double t, double p, double v, double a1, double a2);

    // The stream's "NC-FLOW" mass flows (kg/s by component), evaluated by
    // UPROPU as the host's property evaluation asks for a user property.
    flows nc_flow(const flows& n, double t, double p);

    long rate_calls() const { return rate_calls_; }

private:
    plugin& lib_;
    property_set properties_;
    long rate_calls_ = 0;
};

}  // namespace workbench

#endif
