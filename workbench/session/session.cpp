#include "session/session.h"

#include <array>

#include "session/crash_report.h"
#include "standin/standin_host.h"

namespace workbench {
namespace {

constexpr host_int nc = static_cast<host_int>(component_count);

// The host's stream vector: flows 1..nc, total flow at nc+1, temperature at
// nc+2, pressure at nc+3, then fields the library does not read.
constexpr std::size_t stream_length = component_count + 10;
using stream_vector = std::array<double, stream_length>;

stream_vector stream_of(const flows& n, double t, double p) {
    stream_vector s{};
    double total = 0.0;
    for (std::size_t i = 0; i < component_count; ++i) {
        s[i] = n[i];
        total += n[i];
    }
    s[component_count] = total;
    s[component_count + 1] = t;
    s[component_count + 2] = p;
    return s;
}

// Stands in for the host's work areas at the argument positions the
// library ignores, and for its two opaque values (option block and the
// fugacity routine's extra vector).
std::array<double, 64> unused_area{};
std::array<double, 64> host_opts{};
std::array<double, 64> fug_extra{};

}  // namespace

workbench_host::workbench_host(plugin& lib, const property_set& properties) : lib_(lib), properties_(properties) {
    standin::reset();
    standin::set_recording(false);
    std::vector<std::string> names(component_names.begin(), component_names.end());
    standin::set_components(names);
    standin::set_molecular_weights(std::vector<double>(molecular_weight.begin(), molecular_weight.end()));
    standin::set_property_model(&properties_);
}

workbench_host::~workbench_host() { standin::set_property_model(nullptr); }

flows workbench_host::rates(const flows& n, double t, double p, double v, double a1, double a2) {
    const stream_vector stream = stream_of(n, t, p);
    // The present list: components with a flow, with their mole fractions.
    double total = 0.0;
    for (double f : n) total += f > 0.0 ? f : 0.0;
    std::array<host_int, component_count> present_pos{};
    std::array<double, component_count> x_present{};
    host_int n_present = 0;
    for (std::size_t i = 0; i < component_count; ++i) {
        if (n[i] > 0.0) {
            present_pos[static_cast<std::size_t>(n_present)] = static_cast<host_int>(i + 1);
            x_present[static_cast<std::size_t>(n_present)] = n[i] / total;
            ++n_present;
        }
    }
    const double params[2] = {a1, a2};
    flows r{};  // the host clears its rate vector; the routine writes five entries
    standin::set_reacting_volume(v);
    HOST_STREAM_WORK[2] = n_present;
    double* u = unused_area.data();
    const crash_report::in_plugin in(crash_report::where::usura);
    lib_.usura(stream.data(), u, u, u, u, u, u, params, u, u, host_opts.data(), u, u, u, u, u,
               u, u, r.data(), u, u, u, u, u, u, u, u, u, u, &n_present, present_pos.data(),
               fug_extra.data(), x_present.data());
    ++rate_calls_;
    return r;
}

flows workbench_host::nc_flow(const flows& n, double t, double p) {
    const stream_vector stream = stream_of(n, t, p);
    const host_name name = {standin::word("NC-F"), standin::word("LOW")};
    const host_int m = nc;
    std::array<host_int, component_count> out_pos{};
    for (std::size_t i = 0; i < component_count; ++i) out_pos[i] = static_cast<host_int>(i + 1);
    flows out{};
    double* u = unused_area.data();
    const crash_report::in_plugin in(crash_report::where::upropu);
    lib_.upropu(u, u, u, u, u, &m, out_pos.data(), u, u, u, u, u, u, u, u, u, u, u, &name,
                out.data(), u, u, u, u, stream.data());
    return out;
}

}  // namespace workbench
