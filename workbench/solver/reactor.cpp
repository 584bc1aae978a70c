#include "solver/reactor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <sstream>

#include <boost/math/tools/toms748_solve.hpp>
#include <cvode/cvode.h>
#include <kinsol/kinsol.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "base/text.h"
#include "model/properties.h"

namespace workbench {
namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();

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

std::string format(double v) { return sig(v, 3); }

// A budget of rate calls for one solver start: take() is false once it is
// spent. Each solver counts its own calls against one, so that every start
// ends after a bounded number of calls whatever the solver does.
struct call_budget {
    long left;
    bool spent = false;
    bool take() {
        if (left <= 0) spent = true;
        if (spent) return false;
        --left;
        return true;
    }
};

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
    nvector(const nvector&) = delete;
    nvector& operator=(const nvector&) = delete;
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
    dense_solver(const dense_solver&) = delete;
    dense_solver& operator=(const dense_solver&) = delete;
};

struct kinsol_memory {
    void* mem = KINCreate(context().ctx);
    ~kinsol_memory() { KINFree(&mem); }
    kinsol_memory() = default;
    kinsol_memory(const kinsol_memory&) = delete;
    kinsol_memory& operator=(const kinsol_memory&) = delete;
};

void quiet(int, const char*, const char*, char*, void*) {}

std::string kinsol_flag_name(int flag) {
    switch (flag) {
        case KIN_SUCCESS: return "KIN_SUCCESS";
        case KIN_INITIAL_GUESS_OK: return "KIN_INITIAL_GUESS_OK";
        case KIN_STEP_LT_STPTOL: return "KIN_STEP_LT_STPTOL";
        case KIN_LINESEARCH_NONCONV: return "KIN_LINESEARCH_NONCONV";
        case KIN_MAXITER_REACHED: return "KIN_MAXITER_REACHED";
        case KIN_MXNEWT_5X_EXCEEDED: return "KIN_MXNEWT_5X_EXCEEDED";
        case KIN_LINESEARCH_BCFAIL: return "KIN_LINESEARCH_BCFAIL";
        case KIN_LINSOLV_NO_RECOVERY: return "KIN_LINSOLV_NO_RECOVERY";
        case KIN_LSETUP_FAIL: return "KIN_LSETUP_FAIL";
        case KIN_LSOLVE_FAIL: return "KIN_LSOLVE_FAIL";
        case KIN_SYSFUNC_FAIL:
        case KIN_FIRST_SYSFUNC_ERR:
        case KIN_REPTD_SYSFUNC_ERR: return "a non-finite rate from the plug-in";
        default: return "KINSOL flag " + std::to_string(flag);
    }
}

// ---- One tray: two extents with KINSOL -------------------------------------

struct tray_problem {
    workbench_host* h;
    flows n_in;       // kmol/s
    double t, p, v, a1, a2;
    double f_ref;     // kmol/s: the extents are solved for in units of f_ref
    call_budget calls;  // this start's
};

// The liquid whose rates a tray's residual takes at a trial point. NH3, CO2
// or carbamate stepped past zero flow is taken at a trace, this share of
// the liquid, not left out as present_part does: without it the plug-in
// takes the properties it remembers from its latest call that had that
// species (they enter carbamate's decomposition and the dehydration's back
// rate), and the residual at one point would depend on the points evaluated
// before (see tray_residual). Urea's enter only multiplied by its mole
// fraction, and water has none. A flow of exactly zero, a start on the
// edge, stays out: KINSOL evaluates that point once.
constexpr double trace_share = 1e-30;

flows tray_trial_liquid(const flows& n) {
    flows p = present_part(n);
    double total = 0.0;
    for (double f : p) total += f;
    for (component i : {NH3, CO2, CARB}) {
        if (n[i] < 0.0) p[i] = trace_share * total;
    }
    return p;
}

// KINSOL's residual. SUNDIALS 6's line search, after it has found a step
// length rl_lo that decreases the residual enough (the alpha condition),
// may look for a longer one between rl_lo and a longer step that failed:
// it halves that interval for as long as the alpha condition fails, with no
// lower limit. When the residual at rl_lo is not what it was the first
// time, the halving reaches rl_lo itself and evaluates that one point for
// ever. The rates at a point with CO2 and NH3 used up beyond zero did just
// that: the plug-in's remembered properties of the missing species had
// changed in between (hence tray_trial_liquid). Past the start's budget of
// rate calls the residual is -1, which ends KINSol wherever it is: nothing
// else bounds the line search.
int tray_residual(N_Vector u, N_Vector f, void* data) {
    auto& pb = *static_cast<tray_problem*>(data);
    // A spent budget, or work asked to stop, ends the start.
    if (!pb.calls.take() || pb.h->stopped()) return -1;
    const double xi1 = NV_Ith_S(u, 0) * pb.f_ref;
    const double xi2 = NV_Ith_S(u, 1) * pb.f_ref;
    const flows n = advance(pb.n_in, xi1, xi2);
    const auto r = net_rates(pb.h->rates(tray_trial_liquid(n), pb.t, pb.p, pb.v, pb.a1, pb.a2));
    if (!std::isfinite(r[0]) || !std::isfinite(r[1])) return 1;
    // F_out - F_in - rates(x_out) = 0, per reaction, relative to the feed.
    NV_Ith_S(f, 0) = (xi1 - r[0]) / pb.f_ref;
    NV_Ith_S(f, 1) = (xi2 - r[1]) / pb.f_ref;
    return 0;
}

struct attempt {
    const char* what;
    std::array<double, 2> guess;  // in units of f_ref
};

// KINSOL's memory, vectors and dense linear solver for the trays of one
// reactor solve, set up once and used for every start of every tray (each
// KINSol call starts afresh from its guess, with a fresh Jacobian).
struct tray_workspace {
    nvector u{2}, u_scale{2}, f_scale{2};
    kinsol_memory kin;
    dense_solver lin{u.v, 2};
    tray_workspace() {
        N_VConst(1.0, u_scale.v);
        N_VConst(1.0, f_scale.v);
        KINInit(kin.mem, tray_residual, u.v);
        KINSetLinearSolver(kin.mem, lin.ls, lin.a);
        KINSetErrHandlerFn(kin.mem, quiet, nullptr);
        // Newton runs down to the rounding floor of the rate terms: the
        // check in solve_tray, not these tolerances, decides what is a
        // solution.
        KINSetFuncNormTol(kin.mem, eps);
        KINSetScaledStepTol(kin.mem, 4.0 * eps);
        KINSetMaxSetupCalls(kin.mem, 1);  // a fresh Jacobian every iteration
        KINSetNumMaxIters(kin.mem, 100);
    }
};

// Whether KINSOL ended at a point worth checking as a solution: converged,
// or stopped because no step could improve it any more (the residual is
// then at the rounding floor of the rate terms, or the start failed, which
// the check tells apart). A failure of the linear solver or of the rate
// evaluation ends the start.
bool ended_at_a_candidate(int flag) {
    switch (flag) {
        case KIN_SUCCESS:
        case KIN_INITIAL_GUESS_OK:
        case KIN_STEP_LT_STPTOL:
        case KIN_LINESEARCH_NONCONV:
        case KIN_MAXITER_REACHED:
            return true;
        default:
            return false;
    }
}

// Whether a tray's outlet holds every species its reactions form from what
// it holds: carbamate always decomposes a little and forms from NH3 and CO2,
// and dehydrates a little, so a composition that lacks one of them while
// what forms it is there is no solution, however small its
// residual. (At such a point the plug-in takes the missing species'
// remembered properties, which can make a rate vanish there.)
bool reacted_through(const flows& n) {
    const auto has = [&](component i) { return n[i] > 0.0; };
    if (has(CARB) && !(has(NH3) && has(CO2) && has(UREA) && has(H2O))) return false;
    if (!has(CARB) && ((has(NH3) && has(CO2)) || (has(UREA) && has(H2O)))) return false;
    return true;
}

struct tray_solution {
    std::array<double, 2> xi;  // kmol/s
    double residual;
    int iterations;
};

// Solves from each start in turn; the first start that ends at a point with
// no negative flow and a balance residual within the bound is the solution.
tray_solution solve_tray(tray_workspace& ws, tray_problem& pb, std::vector<attempt> attempts,
                         const std::function<attempt()>& last_resort, int tray) {
    std::string tried;  // what each start ended with, for the details
    double best_residual = std::numeric_limits<double>::infinity();
    std::string best_what;
    bool last_resort_taken = false;
    bool only_non_finite = true;
    for (std::size_t k = 0;; ++k) {
        if (k == attempts.size()) {
            if (last_resort_taken) break;
            last_resort_taken = true;
            try {
                attempts.push_back(last_resort());
            } catch (const solver_error& e) {
                tried += std::string("\n  from the equilibrium at the tray's temperature: not found (") +
                         e.what() + ")";
                break;
            }
        }
        const attempt& a = attempts[k];
        nvector& u = ws.u;
        u[0] = a.guess[0];
        u[1] = a.guess[1];
        KINSetUserData(ws.kin.mem, &pb);
        pb.calls = {rate_calls_per_start};
        const int flag = KINSol(ws.kin.mem, u.v, KIN_LINESEARCH, ws.u_scale.v, ws.f_scale.v);
        const bool budget_spent = pb.calls.spent;
        long nni = 0;
        KINGetNumNonlinSolvIters(ws.kin.mem, &nni);
        const auto ended = [&] {
            return (budget_spent ? "its " + std::to_string(rate_calls_per_start) + " rate calls spent"
                                 : kinsol_flag_name(flag)) +
                   " after " + std::to_string(nni) + " Newton iterations";
        };
        only_non_finite = only_non_finite && !budget_spent &&
                          (flag == KIN_SYSFUNC_FAIL || flag == KIN_FIRST_SYSFUNC_ERR ||
                           flag == KIN_REPTD_SYSFUNC_ERR);
        if (!ended_at_a_candidate(flag) || !std::isfinite(u[0]) || !std::isfinite(u[1])) {
            tried += std::string("\n  from ") + a.what + ": " + ended();
            continue;
        }
        const double xi1 = u[0] * pb.f_ref, xi2 = u[1] * pb.f_ref;
        const flows n = advance(pb.n_in, xi1, xi2);
        bool physical = true;
        for (std::size_t i = 0; i < component_count; ++i) {
            physical = physical && n[i] >= -4.0 * eps * (pb.n_in[i] + 2.0 * std::abs(xi1) + std::abs(xi2));
        }
        if (!physical) {
            tried += std::string("\n  from ") + a.what + ": " + ended() + ", at a negative flow";
            continue;
        }
        if (!reacted_through(n)) {
            tried += std::string("\n  from ") + a.what + ": " + ended() +
                     ", at a composition missing a species its reactions form";
            continue;
        }
        const double residual =
            balance_residual(*pb.h, pb.n_in, n, pb.t, pb.p, pb.v, pb.a1, pb.a2, true);
        if (residual <= balance_residual_bound) {
            return {{xi1, xi2}, residual, static_cast<int>(nni)};
        }
        tried += std::string("\n  from ") + a.what + ": " + ended() + ", balance residual " +
                 format(residual);
        if (residual < best_residual) {
            best_residual = residual;
            best_what = a.what;
        }
    }
    std::string summary = "tray " + std::to_string(tray) + ": no solution from any of " +
                          std::to_string(attempts.size()) +
                          " starts (KINSOL, Newton with line search)";
    if (only_non_finite) summary += ": the plug-in returned a non-finite rate at every start";
    if (std::isfinite(best_residual)) {
        summary += "; the closest, from " + best_what + ", has a balance residual of " +
                   format(best_residual) + " (bound " + format(balance_residual_bound) + ")";
    }
    throw solver_error(summary, "tried:" + tried);
}

// The largest forward extent of reaction 1 the inlet allows.
double max_xi1(const flows& n) { return std::min(n[CO2], 0.5 * n[NH3]); }

// The extents that lead from n_in to n.
std::array<double, 2> extents_between(const flows& n_in, const flows& n) {
    return {n_in[CO2] - n[CO2], n[UREA] - n_in[UREA]};
}

// ---- Plug flow with CVODE -----------------------------------------------

struct pfr_problem {
    workbench_host* h;
    const reactor_case* c;
    flows n_in;
    double p, f_ref;
    call_budget calls;  // the integration's
};

// d(xi / f_ref)/ds, s = V / V_total in [0, 1]: the rates of the whole
// volume at the local composition. -1, which stops CVODE, once the budget
// of rate calls is spent.
int pfr_rhs(double s, N_Vector y, N_Vector dy, void* data) {
    auto& pb = *static_cast<pfr_problem*>(data);
    if (!pb.calls.take() || pb.h->stopped()) return -1;
    const flows n = advance(pb.n_in, NV_Ith_S(y, 0) * pb.f_ref, NV_Ith_S(y, 1) * pb.f_ref);
    const auto r = net_rates(pb.h->rates(present_part(n), temperature_at(*pb.c, s), pb.p,
                                         pb.c->volume_m3, pb.c->a1, pb.c->a2));
    if (!std::isfinite(r[0]) || !std::isfinite(r[1])) return 1;
    NV_Ith_S(dy, 0) = r[0] / pb.f_ref;
    NV_Ith_S(dy, 1) = r[1] / pb.f_ref;
    return 0;
}

std::vector<station> run_pfr(const reactor_case& c, workbench_host& h, const flows& feed, double p) {
    constexpr int stations = pfr_stations;
    pfr_problem pb{&h, &c, feed, p, feed[CO2] + feed[CARB], {rate_calls_per_pfr}};
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
            m << "plug-flow reactor: CVODE (BDF, dense Newton) stopped at "
              << format(reached * 100.0) << " % of the volume: " << name;
            if (pb.calls.spent) {
                m << " (its budget of " << rate_calls_per_pfr << " rate calls spent)";
            } else if (flag == CV_RHSFUNC_FAIL || flag == CV_FIRST_RHSFUNC_ERR ||
                       flag == CV_REPTD_RHSFUNC_ERR) {
                m << " (the plug-in returned a non-finite rate)";
            }
            std::free(name);
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

std::vector<station> run_trays(const reactor_case& c, workbench_host& h, const flows& feed,
                               double p, const std::vector<station>* warm) {
    const double v_tray = c.volume_m3 / c.trays;
    // Extents in units of the carbon fed: neither can exceed it.
    const double f_ref = feed[CO2] + feed[CARB] + feed[UREA];
    const bool use_warm = warm != nullptr && warm->size() == static_cast<std::size_t>(c.trays);
    std::vector<station> out;
    out.reserve(static_cast<std::size_t>(c.trays));
    flows n_in = feed;
    double last_xi2 = 0.0;
    tray_workspace ws;
    for (int j = 1; j <= c.trays; ++j) {
        // The trays' temperatures step evenly from the inlet temperature on
        // the first tray to the outlet temperature on the last, so that the
        // outlet leaves at the outlet temperature; a single tray (a stirred
        // tank) is at its outlet temperature.
        const double t = c.trays == 1 ? temperature_at(c, 1.0)
                                      : temperature_at(c, static_cast<double>(j - 1) / (c.trays - 1));
        tray_problem pb{&h, n_in, t, p, v_tray, c.a1, c.a2, f_ref, {rate_calls_per_start}};
        const double m1 = max_xi1(n_in) / f_ref;
        const double m2 = n_in[CARB] / f_ref;
        std::vector<attempt> attempts;
        attempts.reserve(12);
        if (use_warm) {
            // The earlier solution's outlet, but with carbamate formation
            // taken half-way on to the limit the inlet allows. From the
            // earlier outlet itself, which sits at the fast carbamate
            // formation's balance for the earlier dehydration, Newton's full
            // step would overshoot that steep balance when the dehydration
            // has changed, and the line search crawls (some 20-80 iterations
            // for a2 changed by 10 % to a factor e, against 4 from here).
            auto xi = extents_between(n_in, (*warm)[static_cast<std::size_t>(j - 1)].n);
            xi[0] += 0.5 * std::max(0.0, max_xi1(n_in) - xi[0]);
            attempts.push_back({"the earlier solution's outlet", {xi[0] / f_ref, xi[1] / f_ref}});
        }
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
        attempts.push_back({"10 % of the inlet urea turned back into carbamate",
                            {0.0, -0.1 * n_in[UREA] / f_ref}});
        // Last, the equilibrium at the tray's temperature: the tray's outlet
        // lies on the way to it.
        const auto at_equilibrium = [&] {
            const auto xi = extents_between(n_in, equilibrium(c, h, n_in, t, p));
            return attempt{"the equilibrium at the tray's temperature", {xi[0] / f_ref, xi[1] / f_ref}};
        };
        const tray_solution sol = solve_tray(ws, pb, std::move(attempts), at_equilibrium, j);
        station st;
        st.volume_m3 = v_tray * j;
        st.temperature_K = t;
        st.n = advance(n_in, sol.xi[0], sol.xi[1]);
        st.co2_conversion = co2_conversion(feed, st.n);
        st.balance_residual = sol.residual;
        st.iterations = sol.iterations;
        last_xi2 = sol.xi[1];
        out.push_back(st);
        n_in = st.n;
    }
    return out;
}

// ---- Equilibrium: two nested bracketed roots -------------------------------

// The best point a bracketing search evaluated: a root of a function of
// rounding noise is where |f| is least, not an end of the last bracket.
struct best_point {
    double x = 0.0;
    double f = std::numeric_limits<double>::infinity();
    void offer(double x_, double f_) {
        if (std::abs(f_) < std::abs(f)) {
            x = x_;
            f = f_;
        }
    }
};

// A root of f on [a, b], where f(a) > 0 > f(b) is known from the chemistry
// (a species vanishes at each end), without evaluating f at the ends: there
// the plug-in takes an absent species' remembered properties, which depend on
// what ran before. tol: absolute, in x.
template <class F>
double bracketed_root(F f, double a, double b, double tol) {
    if (!(b - a > tol)) return 0.5 * (a + b);
    best_point best;
    const auto g = [&](double x) {
        const double v = f(x);
        best.offer(x, v);
        return v;
    };
    std::uintmax_t iterations = 200;
    const auto close_enough = [tol](double lo, double hi) { return hi - lo <= tol; };
    const auto [lo, hi] = boost::math::tools::toms748_solve(g, a, b, 1.0, -1.0, close_enough, iterations);
    if (!std::isfinite(best.f)) return 0.5 * (lo + hi);
    return best.x >= lo && best.x <= hi ? best.x : 0.5 * (lo + hi);
}

}  // namespace

double balance_residual(workbench_host& h, const flows& n_in, const flows& n, double t, double p,
                        double v, double a1, double a2, bool tray) {
    const flows at = present_part(n);
    const flows r = h.rates(at, t, p, v, a1, a2);
    // The rates' sensitivity to each flow, by a forward difference of a
    // millionth of it: only its size matters here.
    flows scale{};
    for (std::size_t j = 0; j < component_count; ++j) {
        const double size = std::abs(n_in[j]) + std::abs(n[j]);
        if (size == 0.0) continue;
        flows moved = at;
        const double step = 1e-6 * (at[j] > 0.0 ? at[j] : size);
        moved[j] += step;
        const flows r_moved = h.rates(moved, t, p, v, a1, a2);
        for (std::size_t i = 0; i < component_count; ++i) {
            scale[i] += std::abs(r_moved[i] - r[i]) / step * size;
        }
    }
    double worst = 0.0;
    for (std::size_t i = 0; i < component_count; ++i) {
        const double residual = tray ? n[i] - n_in[i] - r[i] : r[i];
        const double s = scale[i] + std::abs(r[i]) + (tray ? std::abs(n_in[i]) + std::abs(n[i]) : 0.0);
        if (!std::isfinite(residual) || !std::isfinite(s)) return std::numeric_limits<double>::infinity();
        if (residual != 0.0) worst = std::max(worst, s > 0.0 ? std::abs(residual) / s
                                                             : std::numeric_limits<double>::infinity());
    }
    return worst;
}

flows equilibrium(const reactor_case& c, workbench_host& h, const flows& feed, double t, double p) {
    // What the feed's atoms allow: carbon, nitrogen and water (H2O - UREA)
    // are kept by both reactions. The reference composition has neither
    // carbamate nor, if water allows, urea; every composition with the same
    // atoms is reached from it by the two extents.
    const double carbon = feed[CO2] + feed[CARB] + feed[UREA];
    const double nitrogen = feed[NH3] + 2.0 * feed[CARB] + 2.0 * feed[UREA];
    const double water = feed[H2O] - feed[UREA];
    flows n0 = feed;
    n0[UREA] = std::max(0.0, -water);
    n0[H2O] = water + n0[UREA];
    n0[NH3] = std::max(0.0, nitrogen - 2.0 * n0[UREA]);
    n0[CO2] = std::max(0.0, carbon - n0[UREA]);
    n0[CARB] = 0.0;
    // Every flow >= 0: 0 <= xi2 <= xi1 <= xi1_max.
    const double xi1_max = max_xi1(n0);
    const double tol = 4.0 * eps * std::max(carbon, nitrogen);
    // TOMS 748 takes at most 200 steps in each root, the inner one inside
    // each step of the outer: the budget bounds the two together far below
    // 200 x 200 calls.
    call_budget calls{rate_calls_per_equilibrium};
    const auto rate = [&](double xi1, double xi2, int which) {
        if (!calls.take()) {
            throw solver_error("equilibrium: no composition found within " +
                               std::to_string(rate_calls_per_equilibrium) + " rate calls");
        }
        const auto r = net_rates(h.rates(advance(n0, xi1, xi2), t, p, 1.0, c.a1, c.a2));
        if (!std::isfinite(r[static_cast<std::size_t>(which)])) {
            throw solver_error("equilibrium: the plug-in returned a non-finite rate");
        }
        return r[static_cast<std::size_t>(which)];
    };
    // For a dehydration extent xi2, carbamate formation is at rest at one
    // xi1: its net rate is forward where no carbamate is left (xi1 = xi2)
    // and backward where CO2 or NH3 is used up (xi1 = xi1_max).
    const auto xi1_at_rest = [&](double xi2) {
        return bracketed_root([&](double xi1) { return rate(xi1, xi2, 0); }, xi2, xi1_max, tol);
    };
    // Dehydration is forward where no urea (or no water) is left (xi2 = 0)
    // and backward where no carbamate can be left (xi2 = xi1_max).
    const double xi2 = bracketed_root([&](double x2) { return rate(xi1_at_rest(x2), x2, 1); },
                                      0.0, xi1_max, tol);
    const flows n = advance(n0, xi1_at_rest(xi2), xi2);
    const double residual = balance_residual(h, n0, n, t, p, 1.0, c.a1, c.a2, false);
    if (!(residual <= balance_residual_bound)) {
        throw solver_error("equilibrium: no composition found where both net rates vanish "
                           "(residual " + format(residual) + ", bound " +
                           format(balance_residual_bound) + ")");
    }
    return n;
}

double highest_equilibrium_conversion(const reactor_case& c, workbench_host& h) {
    const flows feed = feed_kmol_s(c);
    if (!co2_conversion_defined(feed)) return std::numeric_limits<double>::quiet_NaN();
    double highest = -std::numeric_limits<double>::infinity();
    for (int k = 0; k <= 4; ++k) {
        try {
            const double t = temperature_at(c, k / 4.0);
            highest = std::max(highest, co2_conversion(feed, equilibrium(c, h, feed, t, c.pressure_bar * 1e5)));
        } catch (const solver_error&) {
            return std::numeric_limits<double>::quiet_NaN();
        }
    }
    return highest;
}

std::vector<station> run_profile(const reactor_case& c, workbench_host& h,
                                 const std::vector<station>* warm_start) {
    const flows feed = feed_kmol_s(c);
    const double p = c.pressure_bar * 1e5;
    return c.model == reactor_model::pfr ? run_pfr(c, h, feed, p)
                                         : run_trays(c, h, feed, p, warm_start);
}

double outlet_conversion(const reactor_case& c, workbench_host& h) {
    return run_profile(c, h).back().co2_conversion;
}

result simulate(const reactor_case& c, workbench_host& h, const result* warm_start) {
    result res;
    const long calls0 = h.rate_calls();
    res.feed = feed_kmol_s(c);
    res.pressure_Pa = c.pressure_bar * 1e5;
    res.outlet_temperature_K = temperature_at(c, 1.0);
    res.profile = run_profile(c, h, warm_start ? &warm_start->profile : nullptr);
    res.outlet = res.profile.back().n;
    res.co2_conversion_defined = co2_conversion_defined(res.feed);
    res.co2_conversion = res.profile.back().co2_conversion;
    for (const station& st : res.profile) {
        res.max_balance_residual = std::max(res.max_balance_residual, st.balance_residual);
    }
    try {
        res.equilibrium = equilibrium(c, h, res.feed, res.outlet_temperature_K, res.pressure_Pa);
    } catch (const solver_error& e) {
        throw solver_error(std::string("at the outlet conditions: ") + e.what(), e.details());
    }
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
    // Nothing non-finite leaves the solver as a result.
    bool finite = true;
    for (const station& st : res.profile) {
        for (double f : st.n) finite = finite && std::isfinite(f);
    }
    for (double f : res.equilibrium) finite = finite && std::isfinite(f);
    for (double f : res.nc_flow_kg_s) finite = finite && std::isfinite(f);
    for (double f : res.atom_closure) finite = finite && std::isfinite(f);
    if (!finite) {
        throw solver_error("the run produced a non-finite flow (the plug-in's rates or NC-FLOW "
                           "overflowed)");
    }
    res.rate_calls = h.rate_calls() - calls0;
    return res;
}

run_outcome run_case(const reactor_case& c, workbench_host& h, const result* warm_start) {
    run_outcome out;
    try {
        out.value = simulate(c, h, warm_start);
    } catch (const solver_error& e) {
        out.failure = e.what();
        out.details = e.details();
    }
    return out;
}

}  // namespace workbench
