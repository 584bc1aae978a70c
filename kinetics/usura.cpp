// The urea reactor's rate routine.
//
//   reaction 1, carbamate formation:   2 NH3 + CO2 <=> CARB,        net rate r1
//   reaction 2, carbamate dehydration: CARB <=> UREA + H2O,          net rate r2
//
// The host supplies the composition of the components present, their
// ideal-gas Gibbs energies, the liquid molar volume and liquid fugacity
// coefficients; the routine returns the generation rates of NH3, CO2, CARB,
// UREA and H2O by component position.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "host/fp_hold.h"
#include "kinetics/exp.h"
#include "species/species.h"

namespace {

using urea::species;
using urea::host::capacity;

// Clamped temperature (K) and pressure (Pa), passed by reference to the host.
constinit double T = 0.0;
constinit double P = 0.0;

// Working vectors, by packed index or by component position.
constinit double x_full[capacity] = {};
constinit double g_packed[capacity] = {};
constinit double g_full[capacity] = {};
constinit double phi_packed[capacity] = {};
constinit double phi_full[capacity] = {};

// Positions and mole fractions of the seven species found on the latest call.
constinit std::array<urea::location, urea::species_count> located = {};

// Gibbs energy (J/kmol) and fugacity coefficient of NH3, CO2, CARB and UREA
// as last taken from the host while that species was present: they stand in
// while it is absent. Shared by every reactor and call, never reset.
constexpr std::size_t remembered[] = {urea::NH3, urea::CO2, urea::CARB, urea::UREA};
constinit double g_memory[4] = {0.0, 0.0, 0.0, 0.0};
constinit double phi_memory[4] = {0.001, 0.1, 1.0e-8, 1.0e-8};

// Liquid molar volume of the mixture, m3/kmol.
constinit double vl = 0.0;

// Arguments for the host routines; scratch and err_flag receive what the
// routine never reads.
constinit host_int diag_level = 0;
constinit host_int ideal_gas_flags[7] = {1, 0, 0, 1, 0, 0, 0};
constinit host_int one = 1;
constinit double scratch = 0.0;
constinit host_int err_flag = 0;

// The stream temperature held to 423..473 K by two comparisons, t > 423 and
// then t < 473, so that a NaN gives 423 K. They compare bit patterns, which
// order as the values do for positive doubles up to +inf; a negative value or
// a NaN is above +inf as a pattern, and fails t > 423 as it should. No
// floating-point comparison means no flag and no trap for the host, a
// signalling NaN included, and no hold of its environment.
double clamped(double t_stream) noexcept {
    constexpr auto bits_423 = std::bit_cast<std::uint64_t>(423.0);
    constexpr auto bits_473 = std::bit_cast<std::uint64_t>(473.0);
    constexpr auto bits_inf = std::bit_cast<std::uint64_t>(std::numeric_limits<double>::infinity());
    const auto b = std::bit_cast<std::uint64_t>(t_stream);
    const double t = (b > bits_423 && b <= bits_inf) ? t_stream : 423.0;
    return std::bit_cast<std::uint64_t>(t) < bits_473 ? t : 473.0;
}

// Every present position k = 1..n lies in the component list 1..nc.
// As unsigned numbers, pos - 1 < nc holds for pos in 1..nc alone (0 and
// negative positions wrap to the top); no branch per position.
bool within_list(const host_int* present_pos, host_int n, host_int nc) noexcept {
    const auto count = static_cast<std::uint64_t>(nc);
    std::uint64_t highest = 0;
#pragma GCC unroll 4
    for (host_int k = 1; k <= n; ++k) {
        const auto pos = static_cast<std::uint64_t>(urea::host::element(present_pos, k)) - 1u;
        highest = pos > highest ? pos : highest;
    }
    return highest < count;
}

struct rates_of_reactions {
    double r1;   // net rate of carbamate formation
    double R2f;  // forward and backward terms of the dehydration
    double R2b;
};

// Every value by species, in table order.
using by_species = std::array<double, urea::species_count>;

// The rate law. Units: G in J/kmol, T in K, P in Pa, vl in m3/kmol, V in m3;
// the rates take the unit of V times the host's rate basis.
//
//   r1 = V kf1 (x_NH3^2 x_CO2 - x_CARB phi_CARB / (K1 Patm^2 phi_NH3^2 phi_CO2)),  kf1 = 1e5 a1
//   r2 = V k2 (x_CARB - x_UREA x_H2O Patm phi_UREA phi_H2O / (K2 phi_CARB)),
//        k2 = 1.5e9 a2 exp(-1e8 / (8314 T)) / vl
//   K1 = exp(-(G_CARB - 2 G_NH3 - G_CO2) / RT),  K2 = exp(-(G_UREA - G_CARB + G_H2O) / RT)
//
// Each expression keeps its grouping as written: the rates are reproduced
// bit for bit. Everything is computed in the host's rounding mode but the
// three exponentials, which are the library's own (kinetics/exp.h), correctly
// rounded to nearest whatever the host's mode: their arguments come first, in
// the host's mode, then the exponentials in round to nearest (a hold nested
// in the caller's, `hold`).
rates_of_reactions rate_terms(const by_species& x, const by_species& G, const by_species& phi,
                              double a1, double a2, double V, const urea::fp_hold& hold) noexcept {
    using namespace urea;
    const double Patm = P / 101325.0;
    const double RT = 8314.0 * T;
    const double kf1 = 100000.0 * a1;
    // 12027.904738994468 = 1.0e8 / 8314: activation energy over the gas constant.
    double arg_k2 = -(12027.904738994468 / T);
    double arg_K2 = -(((G[UREA] - G[CARB]) + G[H2O]) / RT);
    double arg_K1 = -((((G[CARB] - G[NH3]) - G[NH3]) - G[CO2]) / RT);
    double exp_k2, exp_K2, exp_K1;
    {
        fp_fence(arg_k2);
        fp_fence(arg_K2);
        fp_fence(arg_K1);
        const nearest_hold nearest(hold);
        exp_k2 = urea::exp(arg_k2);
        exp_K2 = urea::exp(arg_K2);
        exp_K1 = urea::exp(arg_K1);
    }
    fp_fence(exp_k2);
    fp_fence(exp_K2);
    fp_fence(exp_K1);
    const double k2 = ((exp_k2 * 1.5e9) * a2) / vl;
    const double K2 = exp_K2;
    const double R2f = (x[CARB] * k2) * V;
    const double D2 = (K2 / Patm) / ((phi[UREA] * phi[H2O]) / phi[CARB]);
    const double R2b = ((k2 / D2) * (x[UREA] * x[H2O])) * V;
    const double K1 = exp_K1;
    const double D1 = (K1 * (Patm * Patm)) / ((phi[CARB] / (phi[NH3] * phi[NH3])) / phi[CO2]);
    const double r1 = ((((x[NH3] * x[NH3]) * x[CO2]) * kf1) - ((kf1 / D1) * x[CARB])) * V;
    return {r1, R2f, R2b};
}

// One rate evaluation, from the arguments the routine uses.
[[gnu::noinline]] void evaluate(const double* stream, const double* params, const void* host_opts,
                                double* rates, const host_int* n_present,
                                const host_int* present_pos, const void* fug_extra,
                                const double* x_present) noexcept {
    namespace host = urea::host;
    using namespace urea;

    // Counts outside what our vectors hold, and present positions outside
    // the component list, come from no conforming host: a host's scatter
    // would write full(pos(k)) past our vectors. Refuse them before anything
    // is called or written.
    const host_int nc = host::component_count();
    if (nc < 1 || nc > capacity || *n_present < 0 || *n_present > capacity ||
        !within_list(present_pos, *n_present, nc)) {
        return;
    }

    P = host::element(stream, nc + 3);
    T = clamped(host::element(stream, nc + 2));

    host::bound.scatter(x_present, n_present, present_pos, x_full);
    locate_species(x_full, located);

    host::bound.ideal_gas_props(&T, x_present, n_present, present_pos, &diag_level,
                                &ideal_gas_flags[0], &ideal_gas_flags[1], &ideal_gas_flags[2],
                                &ideal_gas_flags[3], &ideal_gas_flags[4], &ideal_gas_flags[5],
                                &ideal_gas_flags[6], &scratch, &scratch, g_packed, &scratch,
                                &scratch, &scratch, &scratch, &scratch, &scratch, &scratch,
                                &scratch, &scratch, &err_flag);
    host::bound.scatter(g_packed, host::packed_count(), present_pos, g_full);
    host::bound.liquid_volume(&T, &P, x_present, n_present, present_pos, host_opts,
                              &diag_level, &one, &vl, &scratch, &err_flag);
    host::bound.liquid_fugacity(&T, &P, x_present, fug_extra, n_present, present_pos,
                                host_opts, &diag_level, &one, phi_packed, &scratch, &err_flag);
    host::bound.scatter(phi_packed, host::packed_count(), present_pos, phi_full);

    // From here on only our own arithmetic: hold the host's floating-point
    // environment, so that a zero volume, pressure or coefficient gives
    // inf or NaN in the rates instead of a trap.
    const fp_hold hold;

    // A species missing from the component list has mole fraction 0.0 and
    // neither Gibbs energy nor fugacity coefficient of its own. O2 and N2
    // take part in nothing.
    by_species x{}, G{}, phi{};
    const auto take = [&](species s) {
        if (located[s].found()) {
            x[s] = located[s].value;
            G[s] = host::element(g_full, located[s].index);
            phi[s] = host::element(phi_full, located[s].index);
        }
    };
    take(H2O);
    take(NH3);
    take(CO2);
    take(CARB);
    take(UREA);
    // Water has no memory: absent, it keeps the 0.0 of a cleared vector.
    // The others take their remembered Gibbs energy where x = 0 (either
    // sign) and their remembered coefficient where x <= 0; NaN is fresh.
    for (std::size_t m = 0; m < std::size(remembered); ++m) {
        const std::size_t s = remembered[m];
        if (x[s] == 0.0) {
            G[s] = g_memory[m];
        } else {
            g_memory[m] = G[s];
        }
        if (std::islessequal(x[s], 0.0)) {
            phi[s] = phi_memory[m];
        } else {
            phi_memory[m] = phi[s];
        }
    }

    const double a1 = host::element(params, 1);
    const double a2 = host::element(params, 2);
    const auto [r1, R2f, R2b] = rate_terms(x, G, phi, a1, a2, host::reacting_volume(), hold);
    const double r2 = R2f - R2b;

    // Five writes in this order; none for a species not in the component list.
    const auto write = [&](species s, double rate) {
        if (located[s].found()) {
            host::element(rates, located[s].index) = rate;
        }
    };
    write(NH3, -2.0 * r1);
    write(CO2, -r1);
    write(CARB, (r1 - R2f) + R2b);
    write(UREA, r2);
    write(H2O, r2);
}

}  // namespace

extern "C" UREA_ENTRY void USURA(const double* stream, const void*, const void*, const void*,
                                 const void*, const void*, const void*, const double* params,
                                 const void*, const void*, const void* host_opts, const void*,
                                 const void*, const void*, const void*, const void*, const void*,
                                 const void*, double* rates, const void*, const void*,
                                 const void*, const void*, const void*, const void*, const void*,
                                 const void*, const void*, const void*,
                                 const host_int* n_present, const host_int* present_pos,
                                 const void* fug_extra, const double* x_present) {
    if (urea::host::bind()) {
        evaluate(stream, params, host_opts, rates, n_present, present_pos, fug_extra, x_present);
    }
}
