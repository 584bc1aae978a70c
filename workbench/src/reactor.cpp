#include "reactor.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include <cvode/cvode.h>
#include <kinsol/kinsol.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

namespace workbench {
namespace {

constexpr double seconds_per_hour = 3600.0;

// The two reactions' stoichiometry:
//   1: 2 NH3 + CO2 -> CARB        2: CARB -> UREA + H2O
// Outlet flows are the inlet flows moved by the two extents, so that C, H,
// N and O balance by construction.
flows advance(const flows& n_in, double xi1, double xi2) {
    flows n = n_in;
    n[NH3] -= 2.0 * xi1;
    n[CO2] -= xi1;
    n[CARB] += xi1 - xi2;
    n[UREA] += xi2;
    n[H2O] += xi2;
    return n;
}

// Trial points of the solvers may step past zero flow (a finite-difference
// Jacobian next to an absent species does so at every step): the rates are
// then taken at the liquid without that species, as a host does for a
// component with no flow. Only a solution must have no negative flow.
flows present_part(const flows& n) {
    flows p = n;
    for (double& f : p) f = f > 0.0 ? f : 0.0;
    return p;
}

// The net rates of the two reactions, read from the component rates as the
// plug-in writes them (CO2 is used by reaction 1 only, UREA made by 2 only).
std::array<double, 2> net_rates(const flows& r) { return {-r[CO2], r[UREA]}; }

// ---- SUNDIALS plumbing ------------------------------------------------------

struct sun_context {
    SUNContext ctx = nullptr;
    sun_context() {
        if (SUNContext_Create(nullptr, &ctx) != 0) throw solver_error("SUNDIALS: no context");
    }
    ~sun_context() { SUNContext_Free(&ctx); }
};

sun_context& context() {
    static sun_context c;
    return c;
}

struct nvector {
    N_Vector v;
    explicit nvector(sunindextype n) : v(N_VNew_Serial(n, context().ctx)) {}
    ~nvector() { N_VDestroy(v); }
    double& operator[](sunindextype i) { return NV_Ith_S(v, i); }
};

struct dense_solver {
    SUNMatrix a;
    SUNLinearSolver ls;
    dense_solver(N_Vector y, sunindextype n)
        : a(SUNDenseMatrix(n, n, context().ctx)), ls(SUNLinSol_Dense(y, a, context().ctx)) {}
    ~dense_solver() {
        SUNLinSolFree(ls);
        SUNMatDestroy(a);
    }
};

void quiet(int, const char*, const char*, char*, void*) {}

// ---- Solving for the two extents with KINSOL -------------------------------

enum class balance { tray, equilibrium };

struct extent_problem {
    workbench_host* h;
    balance kind;
    flows n_in;       // kmol/s
    double t, p, v, a1, a2;
    double f_ref;     // kmol/s: the extents are solved for in units of f_ref
    std::array<double, 2> scale{1.0, 1.0};  // equilibrium: 1 / (|d r_j / d xi_j| f_ref)
};

int extent_residual(N_Vector u, N_Vector f, void* data) {
    auto& pb = *static_cast<extent_problem*>(data);
    const double xi1 = NV_Ith_S(u, 0) * pb.f_ref;
    const double xi2 = NV_Ith_S(u, 1) * pb.f_ref;
    const flows n = advance(pb.n_in, xi1, xi2);
    const auto r = net_rates(pb.h->rates(present_part(n), pb.t, pb.p, pb.v, pb.a1, pb.a2));
    if (!std::isfinite(r[0]) || !std::isfinite(r[1])) return 1;
    if (pb.kind == balance::tray) {
        // F_out - F_in - rates(x_out) = 0, per reaction, relative to the feed.
        NV_Ith_S(f, 0) = (xi1 - r[0]) / pb.f_ref;
        NV_Ith_S(f, 1) = (xi2 - r[1]) / pb.f_ref;
    } else {
        NV_Ith_S(f, 0) = r[0] * pb.scale[0];
        NV_Ith_S(f, 1) = r[1] * pb.scale[1];
    }
    return 0;
}

struct attempt {
    std::string what;
    std::array<double, 2> guess;  // in units of f_ref
};

// Solves from each starting point in turn; returns the extents (kmol/s).
std::array<double, 2> solve_extents(extent_problem& pb, const std::vector<attempt>& attempts,
                                    const std::string& where, int* iterations) {
    std::ostringstream tried;
    for (const attempt& a : attempts) {
        nvector u(2), u_scale(2), f_scale(2);
        u[0] = a.guess[0];
        u[1] = a.guess[1];
        N_VConst(1.0, u_scale.v);
        N_VConst(1.0, f_scale.v);
        void* kin = KINCreate(context().ctx);
        dense_solver lin(u.v, 2);
        KINInit(kin, extent_residual, u.v);
        KINSetUserData(kin, &pb);
        KINSetLinearSolver(kin, lin.ls, lin.a);
        KINSetErrHandlerFn(kin, quiet, nullptr);
        KINSetFuncNormTol(kin, 1e-9);
        KINSetScaledStepTol(kin, 1e-12);  // extents to 1e-12 of the CO2 fed
        KINSetMaxSetupCalls(kin, 1);  // a fresh Jacobian every iteration
        KINSetNumMaxIters(kin, 200);
        const int flag = KINSol(kin, u.v, KIN_LINESEARCH, u_scale.v, f_scale.v);
        long nni = 0;
        KINGetNumNonlinSolvIters(kin, &nni);
        double fnorm = 0.0;
        KINGetFuncNorm(kin, &fnorm);
        KINFree(&kin);
        const flows n = advance(pb.n_in, u[0] * pb.f_ref, u[1] * pb.f_ref);
        bool physical = true;
        for (double f : n) physical = physical && f >= -1e-12 * pb.f_ref;
        if (flag >= 0 && std::isfinite(u[0]) && std::isfinite(u[1]) && !physical) {
            tried << "\n  from " << a.what << ": converged to a negative flow after " << nni
                  << " Newton iterations";
            continue;
        }
        if (flag >= 0 && std::isfinite(u[0]) && std::isfinite(u[1])) {
            if (iterations) *iterations = static_cast<int>(nni);
            return {u[0] * pb.f_ref, u[1] * pb.f_ref};
        }
        char* name = KINGetReturnFlagName(flag);
        tried << "\n  from " << a.what << ": " << (std::string(name) == "NONE" ? "flag " + std::to_string(flag) : std::string(name)) << " after " << nni
              << " Newton iterations, residual norm " << fnorm;
        free(name);
    }
    throw solver_error(where + ": KINSOL (Newton with line search) did not converge; tried:" +
                       tried.str());
}

// The largest forward extent of reaction 1 the inlet allows.
double max_xi1(const flows& n) { return std::min(n[CO2], 0.5 * n[NH3]); }

// ---- Plug flow with CVODE -----------------------------------------------

struct pfr_problem {
    workbench_host* h;
    const reactor_case* c;
    flows n_in;
    double p, f_ref;
};

// d(xi / f_ref)/ds, s = V / V_total in [0, 1]: the rates of the whole
// volume at the local composition.
int pfr_rhs(double s, N_Vector y, N_Vector dy, void* data) {
    auto& pb = *static_cast<pfr_problem*>(data);
    const flows n = advance(pb.n_in, NV_Ith_S(y, 0) * pb.f_ref, NV_Ith_S(y, 1) * pb.f_ref);
    const auto r = net_rates(pb.h->rates(present_part(n), temperature_at(*pb.c, s), pb.p,
                                         pb.c->volume_m3, pb.c->a1, pb.c->a2));
    if (!std::isfinite(r[0]) || !std::isfinite(r[1])) return 1;
    NV_Ith_S(dy, 0) = r[0] / pb.f_ref;
    NV_Ith_S(dy, 1) = r[1] / pb.f_ref;
    return 0;
}

std::vector<station> run_pfr(const reactor_case& c, workbench_host& h, const flows& feed, double p) {
    constexpr int stations = 20;
    pfr_problem pb{&h, &c, feed, p, feed[CO2] + feed[CARB]};
    nvector y(2);
    y[0] = 0.0;
    y[1] = 0.0;
    void* cv = CVodeCreate(CV_BDF, context().ctx);
    dense_solver lin(y.v, 2);
    CVodeInit(cv, pfr_rhs, 0.0, y.v);
    CVodeSetUserData(cv, &pb);
    CVodeSStolerances(cv, 1e-9, 1e-13);
    CVodeSetLinearSolver(cv, lin.ls, lin.a);
    CVodeSetErrHandlerFn(cv, quiet, nullptr);
    CVodeSetMaxNumSteps(cv, 100000);
    std::vector<station> out;
    for (int k = 1; k <= stations; ++k) {
        const double s = static_cast<double>(k) / stations;
        double reached = 0.0;
        const int flag = CVode(cv, s, y.v, &reached, CV_NORMAL);
        if (flag < 0) {
            char* name = CVodeGetReturnFlagName(flag);
            std::ostringstream m;
            m << "plug-flow reactor: CVODE (BDF, dense Newton) stopped at " << reached * 100.0
              << " % of the volume: " << name;
            free(name);
            CVodeFree(&cv);
            throw solver_error(m.str());
        }
        station st;
        st.volume_m3 = s * c.volume_m3;
        st.temperature_K = temperature_at(c, s);
        st.n = advance(feed, y[0] * pb.f_ref, y[1] * pb.f_ref);
        st.co2_conversion = co2_conversion(feed, st.n);
        out.push_back(st);
    }
    CVodeFree(&cv);
    return out;
}

std::vector<station> run_trays(const reactor_case& c, workbench_host& h, const flows& feed, double p) {
    const double v_tray = c.volume_m3 / c.trays;
    const double f_ref = feed[CO2] + feed[CARB];
    std::vector<station> out;
    flows n_in = feed;
    double last_xi2 = 0.0;
    for (int j = 1; j <= c.trays; ++j) {
        // The trays' temperatures step evenly from the inlet temperature on
        // the first tray to the outlet temperature on the last, so that the
        // outlet leaves at the outlet temperature; a single tray (a stirred
        // tank) is at its outlet temperature.
        const double t = c.trays == 1 ? temperature_at(c, 1.0)
                                      : temperature_at(c, static_cast<double>(j - 1) / (c.trays - 1));
        extent_problem pb{&h, balance::tray, n_in, t, p, v_tray, c.a1, c.a2, f_ref, {1.0, 1.0}};
        const double m1 = max_xi1(n_in) / f_ref;
        const double m2 = n_in[CARB] / f_ref;
        std::vector<attempt> attempts;
        if (j > 1) {
            attempts.push_back({"the tray above's outlet with its dehydration extent",
                                {0.0, last_xi2 / f_ref}});
        }
        attempts.push_back({"90 % of the carbamate-formation limit", {0.9 * m1, 0.0}});
        attempts.push_back({"50 % of the carbamate-formation limit", {0.5 * m1, 0.0}});
        attempts.push_back({"10 % of the carbamate-formation limit", {0.1 * m1, 0.0}});
        attempts.push_back({"0.1 % of the carbamate-formation limit", {1e-3 * m1, 0.0}});
        attempts.push_back({"the inlet composition", {0.0, 0.0}});
        attempts.push_back({"10 % of the inlet carbamate decomposed", {-0.1 * m2, 0.0}});
        attempts.push_back({"the inlet carbamate half dehydrated", {0.0, 0.5 * m2}});
        station st;
        const auto xi = solve_extents(pb, attempts, "tray " + std::to_string(j), &st.iterations);
        last_xi2 = xi[1];
        st.volume_m3 = v_tray * j;
        st.temperature_K = t;
        st.n = advance(n_in, xi[0], xi[1]);
        st.co2_conversion = co2_conversion(feed, st.n);
        // The component balance F_out - F_in - rates(x_out), all components.
        const flows r = h.rates(st.n, t, p, v_tray, c.a1, c.a2);
        double total_in = 0.0;
        for (double f : n_in) total_in += f;
        for (std::size_t i = 0; i < component_count; ++i) {
            st.balance_residual =
                std::max(st.balance_residual, std::abs(st.n[i] - n_in[i] - r[i]) / total_in);
        }
        out.push_back(st);
        n_in = st.n;
    }
    return out;
}

}  // namespace

double temperature_at(const reactor_case& c, double s) {
    return kelvin + c.inlet_temperature_C + s * (c.outlet_temperature_C - c.inlet_temperature_C);
}

flows feed_kmol_s(const reactor_case& c) {
    flows f{};
    for (std::size_t i = 0; i < component_count; ++i) f[i] = c.feed_kmol_h[i] / seconds_per_hour;
    return f;
}

double co2_conversion(const flows& feed, const flows& n) {
    return (n[UREA] - feed[UREA]) / (feed[CO2] + feed[CARB]);
}

flows equilibrium(const reactor_case& c, workbench_host& h, const flows& feed, double t, double p,
                  const flows& guess) {
    const double f_ref = feed[CO2] + feed[CARB];
    // The extents that lead from the feed to the guess.
    const double xi2_0 = guess[UREA] - feed[UREA];
    const double xi1_0 = feed[CO2] - guess[CO2];
    extent_problem pb{&h, balance::equilibrium, feed, t, p, 1.0, c.a1, c.a2, f_ref, {1.0, 1.0}};
    // Scale each net rate by its sensitivity to its own extent, so that the
    // residuals read as extents relative to the feed.
    {
        const double d = 1e-7 * f_ref;
        const auto r0 = net_rates(h.rates(advance(feed, xi1_0, xi2_0), t, p, 1.0, c.a1, c.a2));
        const auto r1 = net_rates(h.rates(advance(feed, xi1_0 - d, xi2_0), t, p, 1.0, c.a1, c.a2));
        const auto r2 = net_rates(h.rates(advance(feed, xi1_0, xi2_0 - d), t, p, 1.0, c.a1, c.a2));
        const double g1 = std::abs(r1[0] - r0[0]) / d;
        const double g2 = std::abs(r2[1] - r0[1]) / d;
        pb.scale[0] = g1 > 0.0 && std::isfinite(g1) ? 1.0 / (g1 * f_ref) : 1.0 / f_ref;
        pb.scale[1] = g2 > 0.0 && std::isfinite(g2) ? 1.0 / (g2 * f_ref) : 1.0 / f_ref;
    }
    const double m1 = max_xi1(feed) / f_ref;
    const std::vector<attempt> attempts = {
        {"the reactor outlet", {xi1_0 / f_ref, xi2_0 / f_ref}},
        {"the reactor outlet, dehydration pushed 10 % further", {xi1_0 / f_ref, 1.1 * xi2_0 / f_ref}},
        {"90 % of the carbamate-formation limit, half dehydrated", {0.9 * m1, 0.45 * m1}},
    };
    const auto xi = solve_extents(pb, attempts, "equilibrium at the outlet conditions", nullptr);
    return advance(feed, xi[0], xi[1]);
}

double outlet_conversion(const reactor_case& c, workbench_host& h) {
    const flows feed = feed_kmol_s(c);
    const double p = c.pressure_bar * 1e5;
    const auto profile = c.model == reactor_model::pfr ? run_pfr(c, h, feed, p)
                                                       : run_trays(c, h, feed, p);
    return profile.back().co2_conversion;
}

result simulate(const reactor_case& c, workbench_host& h) {
    result res;
    const long calls0 = h.rate_calls();
    res.feed = feed_kmol_s(c);
    res.pressure_Pa = c.pressure_bar * 1e5;
    res.outlet_temperature_K = temperature_at(c, 1.0);
    res.profile = c.model == reactor_model::pfr ? run_pfr(c, h, res.feed, res.pressure_Pa)
                                                : run_trays(c, h, res.feed, res.pressure_Pa);
    res.outlet = res.profile.back().n;
    res.co2_conversion = res.profile.back().co2_conversion;
    for (const station& st : res.profile) {
        res.max_balance_residual = std::max(res.max_balance_residual, st.balance_residual);
    }
    res.equilibrium =
        equilibrium(c, h, res.feed, res.outlet_temperature_K, res.pressure_Pa, res.outlet);
    res.equilibrium_co2_conversion = co2_conversion(res.feed, res.equilibrium);
    res.nc_flow_kg_s = h.nc_flow(res.outlet, res.outlet_temperature_K, res.pressure_Pa);
    for (std::size_t e = 0; e < 4; ++e) {
        double in = 0.0, out = 0.0;
        for (std::size_t i = 0; i < component_count; ++i) {
            in += atoms[i][e] * res.feed[i];
            out += atoms[i][e] * res.outlet[i];
        }
        res.atom_closure[e] = in > 0.0 ? (out - in) / in : 0.0;
    }
    res.rate_calls = h.rate_calls() - calls0;
    return res;
}

}  // namespace workbench
