// What the benchmark and the callgrind driver both run: the plug-in loaded as
// a host loads it, and one host state per component count with the seven
// species at the end of the component list (every lookup scans the whole
// list), filler components before them.
#ifndef UREA_BENCH_SCENARIO_H
#define UREA_BENCH_SCENARIO_H

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_interface.h"
#include "standin/plugin.h"
#include "standin/standin_host.h"

namespace bench {

// The three routines, resolved by name from a library opened by path.
using plugin = standin::plugin;

// The plug-in next to the executable, unless UREA_PLUGIN names another.
inline std::string plugin_path() {
    const char* path = std::getenv("UREA_PLUGIN");
    return path != nullptr && *path != '\0' ? path : UREA_PLUGIN_PATH;
}

inline std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// A fresh stand-in host whose component list is nc - 7 fillers and then the
// seven species: the worst case for every lookup.
inline void lay_out_worst_case(host_int nc) {
    std::vector<std::string> names;
    for (host_int k = 1; k + 7 <= nc; ++k) {
        names.push_back("FILL" + std::to_string(k));  // a blank second word, like every species name
    }
    for (const char* s : {"O2", "N2", "H2O", "NH3", "CO2", "CARB", "UREA"}) {
        names.emplace_back(s);
    }
    standin::reset();
    standin::set_components(names);
}

// The reactor's worked example (458 K, 1.5e7 Pa, a1 = 1, a2 = 1e3, vl = 0.03,
// V = 50), every component present; the fillers, O2 and N2 share a mole
// fraction of 0.05 and take no part in the rates.
struct reactor_state {
    explicit reactor_state(host_int nc_) : nc(nc_) {
        const auto n = static_cast<std::size_t>(nc);
        const std::size_t fillers = n - 7;
        lay_out_worst_case(nc);
        standin::set_reacting_volume(50.0);
        standin::set_liquid_volume(0.03);

        stream.assign(n + 3, 0.0);
        stream[n + 1] = 458.0;
        stream[n + 2] = 1.5e7;
        rates.assign(n, 0.0);
        pos.resize(n);
        x.resize(n);
        const double others = 0.05 / static_cast<double>(fillers + 2);
        for (std::size_t k = 0; k < n; ++k) {
            pos[k] = static_cast<host_int>(k + 1);
            x[k] = others;
            standin::set_gibbs(pos[k], -1.0e8);
            standin::set_fugacity(pos[k], 1.0);
        }
        // H2O, NH3, CO2, CARB, UREA: mole fraction, G (J/kmol), phi.
        const double species[5][3] = {{0.2, -3.0e8, 0.05},
                                      {0.3, -6.0e7, 2.5},
                                      {0.1, -4.3e8, 10.0},
                                      {0.15, -5.6e8, 4.0e5},
                                      {0.2, -2.0e8, 0.01}};
        for (std::size_t s = 0; s < 5; ++s) {
            const host_int at = position(s);
            x[static_cast<std::size_t>(at - 1)] = species[s][0];
            standin::set_gibbs(at, species[s][1]);
            standin::set_fugacity(at, species[s][2]);
        }
        n_present = nc;
        standin::set_recording(false);
    }

    // Position of H2O, NH3, CO2, CARB, UREA (s = 0..4): the last five.
    host_int position(std::size_t s) const { return nc - 4 + static_cast<host_int>(s); }

    void call(decltype(&USURA) usura) {
        standin::invoke(usura, {.stream = stream.data(),
                                .params = params,
                                .host_opts = &host_opts,
                                .rates = rates.data(),
                                .n_present = &n_present,
                                .present_pos = pos.data(),
                                .fug_extra = &fug_extra,
                                .x_present = x.data()});
    }

    // The six calls the rate routine makes into the host, with its arguments:
    // the host's share of a rate call, to tell the library's own cost apart.
    void host_calls() {
        const auto n = static_cast<std::size_t>(nc);
        if (x_full.size() != n) {
            x_full.resize(n);
            g_packed.resize(n);
            g_full.resize(n);
            phi_packed.resize(n);
            phi_full.resize(n);
        }
        double t = 458.0, p = 1.5e7, scratch = 0.0;
        host_int diag = 0, one = 1, err = 0;
        const host_int flags[7] = {1, 0, 0, 1, 0, 0, 0};
        const host_int* count = &HOST_STREAM_WORK[2];
        HOST_SCATTER(x.data(), &n_present, pos.data(), x_full.data());
        HOST_IDEAL_GAS_PROPS(&t, x.data(), &n_present, pos.data(), &diag, &flags[0], &flags[1],
                             &flags[2], &flags[3], &flags[4], &flags[5], &flags[6], &scratch,
                             &scratch, g_packed.data(), &scratch, &scratch, &scratch, &scratch,
                             &scratch, &scratch, &scratch, &scratch, &scratch, &err);
        HOST_SCATTER(g_packed.data(), count, pos.data(), g_full.data());
        HOST_LIQUID_VOLUME(&t, &p, x.data(), &n_present, pos.data(), &host_opts, &diag, &one, &vl,
                           &scratch, &err);
        HOST_LIQUID_FUGACITY(&t, &p, x.data(), &fug_extra, &n_present, pos.data(), &host_opts,
                             &diag, &one, phi_packed.data(), &scratch, &err);
        HOST_SCATTER(phi_packed.data(), count, pos.data(), phi_full.data());
    }

    // Empty when the host's calls answered as the stand-in was set up.
    std::string check_host_calls() const {
        const auto n = static_cast<std::size_t>(nc);
        if (vl != 0.03 || g_full.size() != n || g_full[n - 1] != -2.0e8 ||
            phi_full[n - 1] != 0.01) {
            return "the stand-in's property routines did not answer";
        }
        return {};
    }

    // Empty when the rates are those of the worked example (three significant
    // figures), otherwise what is wrong.
    std::string check() const {
        const double want[5] = {967.0, -5.83e4, -2.92e4, 2.82e4, 967.0};
        const char* names[5] = {"H2O", "NH3", "CO2", "CARB", "UREA"};
        for (std::size_t s = 0; s < 5; ++s) {
            const double got = rates[static_cast<std::size_t>(position(s) - 1)];
            if (!(std::fabs(got - want[s]) <= 2.0e-3 * std::fabs(want[s]))) {
                return std::string("rate of ") + names[s] + " is " + std::to_string(got) +
                       ", want " + std::to_string(want[s]) + " (nc " + std::to_string(nc) + ")";
            }
        }
        return {};
    }

    host_int nc;
    std::vector<double> stream, rates, x;
    std::vector<host_int> pos;
    host_int n_present = 0;
    double params[2] = {1.0, 1.0e3};
    int host_opts = 0;
    int fug_extra = 0;
    // What host_calls() receives.
    std::vector<double> x_full, g_packed, g_full, phi_packed, phi_full;
    double vl = 0.0;
};

// "NC-FLOW" of a stream with NH3 = 1, CO2 = 2, CARB = 3 and 0.5 of every other
// component, every component's result asked for.
struct property_state {
    explicit property_state(host_int nc_) : nc(nc_) {
        const auto n = static_cast<std::size_t>(nc);
        lay_out_worst_case(nc);
        mw.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            mw[k] = 10.0 + 0.25 * static_cast<double>(k);
        }
        mw[n - 4] = 17.031;  // NH3
        mw[n - 3] = 44.009;  // CO2
        mw[n - 2] = 78.07;   // CARB
        standin::set_molecular_weights(mw);
        flows.assign(n + 3, 0.5);
        flows[n - 4] = 1.0;
        flows[n - 3] = 2.0;
        flows[n - 2] = 3.0;
        flows[n + 1] = 400.0;
        flows[n + 2] = 1.0e6;
        out_pos.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            out_pos[k] = static_cast<host_int>(k + 1);
        }
        out.assign(n, 0.0);
        m = nc;
        name[0] = standin::word("NC-F");
        name[1] = standin::word("LOW");
        standin::set_recording(false);
    }

    void call(decltype(&UPROPU) upropu) {
        standin::invoke(upropu, {.n_out = &m,
                                 .out_pos = out_pos.data(),
                                 .prop_name = &name,
                                 .out_values = out.data(),
                                 .flows = flows.data()});
    }

    // Empty when every result is the folded flow times its molecular weight.
    std::string check() const {
        const auto n = static_cast<std::size_t>(nc);
        for (std::size_t k = 0; k < n; ++k) {
            double want = flows[k] * mw[k];
            if (k == n - 4) want = ((2.0 * 3.0) + 1.0) * mw[k];
            if (k == n - 3) want = (2.0 + 3.0) * mw[k];
            if (k == n - 2) want = 0.0;
            if (bits(out[k]) != bits(want)) {
                return "NC-FLOW of position " + std::to_string(k + 1) + " is " +
                       std::to_string(out[k]) + ", want " + std::to_string(want) + " (nc " +
                       std::to_string(nc) + ")";
            }
        }
        return {};
    }

    host_int nc;
    std::vector<double> mw, flows, out;
    std::vector<host_int> out_pos;
    host_int m = 0;
    host_name name{};
};

// The locator asked for "UREA", the last component: a scan of the whole list.
struct locator_state {
    explicit locator_state(host_int nc_) : nc(nc_) {
        const auto n = static_cast<std::size_t>(nc);
        lay_out_worst_case(nc);
        vec.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            vec[k] = 1.0 + static_cast<double>(k);
        }
        name[0] = standin::word("UREA");
        name[1] = standin::word("");
        standin::set_recording(false);
    }

    void call(decltype(&CMPLOC) cmploc) { cmploc(&name, vec.data(), &index, &value); }

    std::string check() const {
        if (index != nc || bits(value) != bits(vec.back())) {
            return "UREA located at " + std::to_string(index) + " with " + std::to_string(value) +
                   ", want " + std::to_string(nc) + " with " + std::to_string(vec.back());
        }
        return {};
    }

    host_int nc;
    std::vector<double> vec;
    host_name name{};
    host_int index = -1;
    double value = -1.0;
};

}  // namespace bench

#endif
