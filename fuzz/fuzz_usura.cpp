// Fuzz target for the urea reactor rate routine USURA.
//
// Input: a host (count -1..150, names, offsets, Gibbs energies, fugacity
// coefficients and liquid volume per position, reacting volume), then up to
// four calls, each with the present-component list (count -2..110,
// positions, mole fractions), the stream vector, the two parameters, the
// values the rate vector holds before the call, and the host's
// floating-point environment. The remembered Gibbs energies and
// coefficients are set by a fixed first call, so that an input always gives
// the same results; the target keeps its own copy of them from there on.
//
// After every call:
// - with nc outside 1..100 or n_present outside 0..100: no host routine was
//   called and nothing was read but the count and n_present, nor written;
// - with a present position outside 1..nc: no host routine was called and
//   nothing was read but the counts and the positions, nor written (the
//   stand-in host's scatter writes full(pos(k)) for any pos(k), so a
//   position let through would write outside the library's vectors);
// - otherwise: the host routines were called in order with the clamped T,
//   the stream's P and the caller's arrays; the five rates of those species in
//   the component list, at their positions, are the rate law's, worked out
//   here independently, bit for bit in whatever rounding mode the host runs
//   (library and target are both built with -frounding-math, so neither
//   compiler folds a sign into a constant); every other element of rates,
//   every input and every host data item is unchanged; stream elements other
//   than nc+2 and nc+3 and the opaque arguments are never touched;
// - the floating-point environment is as before (traps included).
#include <cstddef>
#include <cstdint>
#include <cfenv>
#include <cmath>

#include "fuzz/fuzz_host.h"
#include "standin/standin_host.h"

namespace {

using namespace fuzz;

// Remembered values of NH3, CO2, CARB and UREA, as the target tracks them.
struct memory {
    double g[4];
    double phi[4];
};
memory remembered;
constexpr int with_memory[4] = {NH3, CO2, CARB, UREA};

// One call's arguments.
struct call_args {
    guarded<double>* stream;
    guarded<double>* params;
    guarded<std::uint64_t>* host_opts;
    guarded<double>* rates;
    guarded<host_int>* n_present;
    guarded<host_int>* present_pos;
    guarded<std::uint64_t>* fug_extra;
    guarded<double>* x_present;
};

void call_usura(const call_args& a) {
    const void* const u = unused();
    plugin().usura(a.stream->data(), u, u, u, u, u, u, a.params->data(), u, u,
                   a.host_opts->data(), u, u, u, u, u, u, u, a.rates->data(), u, u, u, u, u, u,
                   u, u, u, u, a.n_present->data(), a.present_pos->data(),
                   a.fug_extra->data(), a.x_present->data());
}

// The rates by species (table order) and where they go; 0 = not written.
struct expected_rates {
    double T = 0.0, P = 0.0;
    host_int at[7] = {};
    double rate[7] = {};
};

// The rate law worked out from the host state, under the host's flush-to-zero
// and denormals-are-zero modes.
// Scatter as the host does it: the last packed entry for a position wins,
// everything else is 0.0.
expected_rates expect(const host_state& host, guarded<double>& stream, guarded<double>& params,
                      host_int n, guarded<host_int>& pos, guarded<double>& x, memory& mem) {
    expected_rates e;
    const std::size_t nc = host.count;
    e.P = stream(nc + 3);
    const double ts = stream(nc + 2);
    const double t = ts > 423.0 ? ts : 423.0;
    e.T = t < 473.0 ? t : 473.0;

    double xs[7] = {}, G[7] = {}, phi[7] = {};
    for (int s = 0; s < 7; ++s) {
        const auto name = species_name(s);
        e.at[s] = host.find(name.data());
        if (e.at[s] == 0) continue;
        for (host_int k = 1; k <= n; ++k) {
            if (pos(static_cast<std::size_t>(k)) == e.at[s]) {
                xs[s] = x(static_cast<std::size_t>(k));
                G[s] = host.gibbs[static_cast<std::size_t>(e.at[s])];
                phi[s] = host.fugacity[static_cast<std::size_t>(e.at[s])];
            }
        }
    }
    for (int m = 0; m < 4; ++m) {
        const int s = with_memory[m];
        if (xs[s] == 0.0) {
            G[s] = mem.g[m];
        } else {
            mem.g[m] = G[s];
        }
        if (xs[s] <= 0.0) {
            phi[s] = mem.phi[m];
        } else {
            mem.phi[m] = phi[s];
        }
    }

    const double T = e.T;
    const double a1 = params(1), a2 = params(2);
    const double V = host.reacting_volume, vl = host.liquid_volume;
    const double Patm = e.P / 101325.0;
    const double RT = 8314.0 * T;
    const double kf1 = 100000.0 * a1;
    const double k2 = ((std::exp(-(12027.904738994468 / T)) * 1.5e9) * a2) / vl;
    const double K2 = std::exp(-(((G[UREA] - G[CARB]) + G[H2O]) / RT));
    const double R2f = (xs[CARB] * k2) * V;
    const double D2 = (K2 / Patm) / ((phi[UREA] * phi[H2O]) / phi[CARB]);
    const double R2b = ((k2 / D2) * (xs[UREA] * xs[H2O])) * V;
    const double K1 = std::exp(-((((G[CARB] - G[NH3]) - G[NH3]) - G[CO2]) / RT));
    const double D1 = (K1 * (Patm * Patm)) / ((phi[CARB] / (phi[NH3] * phi[NH3])) / phi[CO2]);
    const double r1 = ((((xs[NH3] * xs[NH3]) * xs[CO2]) * kf1) - ((kf1 / D1) * xs[CARB])) * V;
    const double r2 = R2f - R2b;
    e.rate[NH3] = -2.0 * r1;
    e.rate[CO2] = -r1;
    e.rate[CARB] = (r1 - R2f) + R2b;
    e.rate[UREA] = r2;
    e.rate[H2O] = r2;
    return e;
}

// The first call of every input: all four remembered species present, with
// the worked example's values, so that the memory holds them afterwards.
void prime() {
    constexpr double g[4] = {-6.0e7, -4.3e8, -5.6e8, -2.0e8};
    constexpr double phi[4] = {2.5, 10.0, 4.0e5, 0.01};
    standin::reset();
    standin::set_recording(false);
    standin::set_components({"NH3", "CO2", "CARB", "UREA"});
    for (host_int i = 1; i <= 4; ++i) {
        standin::set_gibbs(i, g[i - 1]);
        standin::set_fugacity(i, phi[i - 1]);
    }
    standin::set_liquid_volume(0.03);
    standin::set_reacting_volume(50.0);
    guarded<double> stream(7), params(2), rates(4), x(4);
    guarded<host_int> n(1), pos(4);
    guarded<std::uint64_t> opaque(0);
    stream(6) = 458.0;
    stream(7) = 1.5e7;
    params(1) = 1.0;
    params(2) = 1.0e3;
    n(1) = 4;
    for (std::size_t k = 1; k <= 4; ++k) {
        pos(k) = static_cast<host_int>(k);
        x(k) = 0.25;
    }
    call_usura({&stream, &params, &opaque, &rates, &n, &pos, &opaque, &x});
    for (int m = 0; m < 4; ++m) {
        remembered.g[m] = g[m];
        remembered.phi[m] = phi[m];
    }
}

void check_host_calls(const expected_rates& e, const call_args& a) {
    using standin::routine;
    const auto& c = standin::calls();
    check(c.size() == 6, "USURA: not six host calls", static_cast<long long>(c.size()));
    const routine order[6] = {routine::scatter, routine::ideal_gas_props, routine::scatter,
                              routine::liquid_volume, routine::liquid_fugacity, routine::scatter};
    for (std::size_t k = 0; k < 6; ++k) {
        check(c[k].which == order[k], "USURA: host calls out of order", static_cast<long long>(k));
    }
    const void* x = a.x_present->data();
    const void* n = a.n_present->data();
    const void* pos = a.present_pos->data();
    const void* opts = a.host_opts->data();
    const void* count = &HOST_STREAM_WORK[2];
    const host_int nv = (*a.n_present)(1);
    check(c[0].args[0] == x && c[0].args[1] == n && c[0].args[2] == pos,
          "USURA: mole fractions not scattered from the caller's list");
    check(c[1].args[1] == x && c[1].args[2] == n && c[1].args[3] == pos,
          "USURA: ideal-gas call not on the caller's list");
    check(c[1].ints == std::vector<host_int>{nv, 0, 1, 0, 0, 1, 0, 0, 0},
          "USURA: ideal-gas call's count, level or flags");
    check(c[2].args[0] == c[1].args[14] && c[2].args[1] == count && c[2].args[2] == pos,
          "USURA: Gibbs energies not scattered with the host's count");
    check(c[3].args[2] == x && c[3].args[3] == n && c[3].args[4] == pos && c[3].args[5] == opts,
          "USURA: liquid-volume call's arguments");
    check(c[3].ints == std::vector<host_int>{nv, 0, 1}, "USURA: liquid-volume call's integers");
    check(c[4].args[2] == x && c[4].args[3] == a.fug_extra->data() && c[4].args[4] == n &&
              c[4].args[5] == pos && c[4].args[6] == opts,
          "USURA: fugacity call's arguments");
    check(c[4].ints == std::vector<host_int>{nv, 0, 1}, "USURA: fugacity call's integers");
    check(c[5].args[0] == c[4].args[9] && c[5].args[1] == count && c[5].args[2] == pos,
          "USURA: fugacity coefficients not scattered with the host's count");
    for (std::size_t k : {1u, 3u, 4u}) {
        check(bits(c[k].reals[0]) == bits(e.T), "USURA: temperature passed to the host",
              static_cast<long long>(k));
    }
    for (std::size_t k : {3u, 4u}) {
        check(bits(c[k].reals[1]) == bits(e.P), "USURA: pressure passed to the host",
              static_cast<long long>(k));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::plugin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    prime();
    input in(data, size);
    const host_state host = build_host(in);
    const std::size_t nc = host.count;

    for (int round = 0; round < 4 && (round == 0 || !in.empty()); ++round) {
        guarded<host_int> n_present(1);
        n_present(1) = in.flag() ? in.integer<host_int>(0, host.nc < 0 ? 0 : host.nc)
                                 : in.integer<host_int>(-2, 110);
        const host_int n = n_present(1);
        const std::size_t packed = n > 0 ? static_cast<std::size_t>(n) : 0;
        guarded<host_int> present_pos(packed);
        guarded<double> x_present(packed);
        for (std::size_t k = 1; k <= packed; ++k) {
            present_pos(k) = in.integer<int>(0, 15) == 0
                                 ? static_cast<host_int>(in.raw())
                                 : in.integer<host_int>(-1, host.nc + 1);
            x_present(k) = in.flag() ? in.positive() : in.real();
        }
        guarded<double> stream(nc + 5);
        for (std::size_t i = 1; i <= stream.size(); ++i) stream(i) = in.real();
        guarded<double> params(2);
        params(1) = in.real();
        params(2) = in.real();
        guarded<double> rates(nc);
        for (std::size_t i = 1; i <= nc; ++i) rates(i) = in.real();
        guarded<std::uint64_t> host_opts(2), fug_extra(2);
        const fp_choice fp = consume_fp(in);

        const bool counts_ok = host.nc >= 1 && host.nc <= 100 && n >= 0 && n <= 100;
        bool positions_ok = true;
        for (std::size_t k = 1; counts_ok && k <= packed; ++k) {
            positions_ok = positions_ok && present_pos(k) >= 1 && present_pos(k) <= host.nc;
        }
        const bool in_contract = counts_ok && positions_ok;
        expected_rates e;
        if (in_contract) {
            enter_fp(fp, false);
            e = expect(host, stream, params, n, present_pos, x_present, remembered);
            leave_fp();
        }

        const call_args args{&stream, &params, &host_opts, &rates,
                             &n_present, &present_pos, &fug_extra, &x_present};
        for (auto* g : {&stream, &params, &rates, &x_present}) g->seal();
        for (auto* g : {&n_present, &present_pos}) g->seal();
        for (auto* g : {&host_opts, &fug_extra}) g->seal();
        host_opts.forbid_all();
        fug_extra.forbid_all();
        rates.forbid_all();
        if (in_contract) {
            stream.forbid(1, nc + 1);
            stream.forbid(nc + 4, stream.size());
            for (const int s : {H2O, NH3, CO2, CARB, UREA}) {
                if (e.at[s] != 0) {
                    ASAN_UNPOISON_MEMORY_REGION(&rates(static_cast<std::size_t>(e.at[s])), 8);
                }
            }
        } else {
            // Refused at once: nothing but the two counts (and, with those
            // in range, the positions) is looked at.
            stream.forbid_all();
            params.forbid_all();
            if (!counts_ok) present_pos.forbid_all();
            x_present.forbid_all();
        }
        guard_host_items(host, {.names = in_contract,
                                .property_count = in_contract,
                                .volume = in_contract});
        standin::set_recording(true);
        standin::clear_calls();

        enter_fp(fp, true);
        const fp_state env_before = read_fp();
        call_usura(args);
        const fp_state env_after = read_fp();
        leave_fp();

        release_host_items("USURA changed a host data item");
        stream.release("USURA wrote around the stream vector");
        params.release("USURA wrote around params");
        rates.release("USURA wrote around rates");
        n_present.release("USURA wrote around n_present");
        present_pos.release("USURA wrote around present_pos");
        x_present.release("USURA wrote around x_present");
        host_opts.release("USURA wrote around host_opts");
        fug_extra.release("USURA wrote around fug_extra");
        check(env_after == env_before, "USURA changed the floating-point environment");
        stream.check_unchanged("USURA changed the stream vector");
        params.check_unchanged("USURA changed params");
        n_present.check_unchanged("USURA changed n_present");
        present_pos.check_unchanged("USURA changed present_pos");
        x_present.check_unchanged("USURA changed x_present");

        if (!in_contract) {
            check(standin::calls().empty(), "USURA called the host on a refused call");
            rates.check_unchanged("USURA wrote rates on a refused call");
            continue;
        }
        check_host_calls(e, args);
        for (std::size_t i = 1; i <= nc; ++i) {
            int written = -1;
            for (int s = 0; s < 7; ++s) {
                if (s != O2 && s != N2 && e.at[s] == static_cast<host_int>(i)) written = s;
            }
            if (written < 0) {
                check(rates.unchanged(i), "USURA wrote the rate of a component it has no rate for",
                      static_cast<long long>(i));
            } else {
                check(same_result(e.rate[written], rates(i)), "USURA rate differs from the rate law",
                      written);
            }
        }
    }
    return 0;
}
