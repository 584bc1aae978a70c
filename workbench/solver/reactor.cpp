#include "solver/reactor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <type_traits>
#include <utility>

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

// The largest forward extent of reaction 1 the inlet allows.
double max_xi1(const flows& n) { return std::min(n[CO2], 0.5 * n[NH3]); }

// The extents that lead from n_in to n.
std::array<double, 2> extents_between(const flows& n_in, const flows& n) {
    return {n_in[CO2] - n[CO2], n[UREA] - n_in[UREA]};
}

// ---- Bracketed roots --------------------------------------------------------

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

// A root of f on (a, b), where f's sign at a is sign_at_a and the
// opposite at b, known from the chemistry (a species vanishes at each end)
// as above, to the rounding of what vanishes at the nearer end: the bracket
// is narrowed until its width is a few rounding errors of its distance to
// that end (or of the root itself, which a double cannot hold closer).
template <class F>
double fine_root(F f, double a, double b, double sign_at_a) {
    if (!(b > a)) return a;
    best_point best;
    const auto g = [&](double x) {
        const double v = f(x);
        best.offer(x, v);
        return v;
    };
    std::uintmax_t iterations = 400;
    const auto close_enough = [a, b](double lo, double hi) {
        return hi - lo <= 4.0 * eps * std::min(hi - a, b - lo) ||
               hi - lo <= 2.0 * eps * std::max(std::abs(lo), std::abs(hi));
    };
    const auto [lo, hi] = boost::math::tools::toms748_solve(g, a, b, sign_at_a, -sign_at_a, close_enough, iterations);
    if (!std::isfinite(best.f)) return 0.5 * (lo + hi);
    return best.x >= lo && best.x <= hi ? best.x : 0.5 * (lo + hi);
}

// ---- SUNDIALS plumbing ------------------------------------------------------
//
// Every SUNDIALS object of a solve is owned by a unique_ptr whose deleter
// frees it, so that no path frees by hand and a solve that throws leaves
// nothing behind. Each solve has a context of its own, created with it and
// freed after everything made from it: no object outlives the process's
// work, nor is shared with a thread that may still use it.

struct free_context {
    void operator()(SUNContext c) const { SUNContext_Free(&c); }
};
struct free_vector {
    void operator()(N_Vector v) const { N_VDestroy(v); }
};
struct free_matrix {
    void operator()(SUNMatrix a) const { SUNMatDestroy(a); }
};
struct free_linear_solver {
    void operator()(SUNLinearSolver s) const { SUNLinSolFree(s); }
};
struct free_kinsol {
    void operator()(void* m) const { KINFree(&m); }
};
struct free_cvode {
    void operator()(void* m) const { CVodeFree(&m); }
};
using context_ptr = std::unique_ptr<std::remove_pointer_t<SUNContext>, free_context>;
using vector_ptr = std::unique_ptr<std::remove_pointer_t<N_Vector>, free_vector>;
using matrix_ptr = std::unique_ptr<std::remove_pointer_t<SUNMatrix>, free_matrix>;
using linear_solver_ptr = std::unique_ptr<std::remove_pointer_t<SUNLinearSolver>, free_linear_solver>;
using kinsol_ptr = std::unique_ptr<void, free_kinsol>;
using cvode_ptr = std::unique_ptr<void, free_cvode>;

// What a constructor returned, or a solver failure naming it.
template <class T>
T made(T object, const char* call) {
    if (object == nullptr) {
        throw solver_error(std::string("SUNDIALS setup: ") + call + " made nothing (out of memory?)");
    }
    return object;
}

// A setup call's flag checked: anything but success is a solver failure
// with the call and the flag's name (`name` is the solver's own, whose
// text it allocates).
void checked(int flag, const char* call, char* (*name)(long)) {
    if (flag == 0) return;
    const std::unique_ptr<char, decltype(&std::free)> text(name(flag), &std::free);
    throw solver_error(std::string("SUNDIALS setup: ") + call + " failed: " +
                       (text ? text.get() : "flag " + std::to_string(flag)));
}
char* kinsol_name(long flag) { return KINGetReturnFlagName(flag); }
char* kinsol_ls_name(long flag) { return KINGetLinReturnFlagName(flag); }
char* cvode_name(long flag) { return CVodeGetReturnFlagName(flag); }
char* cvode_ls_name(long flag) { return CVodeGetLinReturnFlagName(flag); }
char* context_name(long flag) {
    const std::string s = "SUNContext flag " + std::to_string(flag);
    char* out = static_cast<char*>(std::malloc(s.size() + 1));
    if (out != nullptr) std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

// A solve's context and its two-component unknown with a dense Jacobian and
// linear solver: what both solvers need. Destroyed in the reverse order.
struct dense_system {
    context_ptr ctx;
    vector_ptr u;
    matrix_ptr a;
    linear_solver_ptr ls;
    dense_system() : ctx(new_context()) {
        u.reset(made(N_VNew_Serial(2, ctx.get()), "N_VNew_Serial"));
        a.reset(made(SUNDenseMatrix(2, 2, ctx.get()), "SUNDenseMatrix"));
        ls.reset(made(SUNLinSol_Dense(u.get(), a.get(), ctx.get()), "SUNLinSol_Dense"));
    }
    vector_ptr vector() const { return vector_ptr(made(N_VNew_Serial(2, ctx.get()), "N_VNew_Serial")); }
    double& operator[](sunindextype i) { return NV_Ith_S(u.get(), i); }

private:
    static context_ptr new_context() {
        SUNContext c = nullptr;
        checked(SUNContext_Create(nullptr, &c), "SUNContext_Create", context_name);
        return context_ptr(c);
    }
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
    double f_ref;     // kmol/s: the carbon fed
    call_budget calls;  // this start's
    std::exception_ptr error{};  // thrown in the residual: kept, thrown once KINSol has returned
    // Where the unknowns u are measured from, and in what: a start measures
    // them from the inlet (no extent), both in units of f_ref; a refinement
    // from a candidate outlet, each in units of the scarcest species its
    // reaction moves (see solve_tray). The outlet is base moved by u * unit.
    flows base{};
    std::array<double, 2> base_xi{};  // kmol/s: the extents at u = 0
    std::array<double, 2> unit{};     // kmol/s per unit of u
    void from_inlet() {
        base = n_in;
        base_xi = {0.0, 0.0};
        unit = {f_ref, f_ref};
    }
    // The extents and the outlet at u.
    std::array<double, 2> extents(double u1, double u2) const {
        return {base_xi[0] + u1 * unit[0], base_xi[1] + u2 * unit[1]};
    }
    flows outlet(double u1, double u2) const { return advance(base, u1 * unit[0], u2 * unit[1]); }
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
int tray_residual(N_Vector u, N_Vector f, void* data) noexcept {
    auto& pb = *static_cast<tray_problem*>(data);
    // A spent budget, or work asked to stop, ends the start.
    if (!pb.calls.take() || pb.h->stopped()) return -1;
    try {
        const auto xi = pb.extents(NV_Ith_S(u, 0), NV_Ith_S(u, 1));
        const flows n = pb.outlet(NV_Ith_S(u, 0), NV_Ith_S(u, 1));
        const auto r = net_rates(pb.h->rates(tray_trial_liquid(n), pb.t, pb.p, pb.v, pb.a1, pb.a2));
        if (!std::isfinite(r[0]) || !std::isfinite(r[1])) return 1;
        // F_out - F_in - rates(x_out) = 0, per reaction, in the unknowns' units.
        NV_Ith_S(f, 0) = (xi[0] - r[0]) / pb.unit[0];
        NV_Ith_S(f, 1) = (xi[1] - r[1]) / pb.unit[1];
        return 0;
    } catch (...) {
        // Nothing is thrown through KINSOL (C code).
        pb.error = std::current_exception();
        return -1;
    }
}

struct attempt {
    const char* what;
    std::array<double, 2> guess;  // in units of f_ref
};

// KINSOL's memory, vectors and dense linear solver for the trays of one
// reactor solve, set up once and used for every start of every tray (each
// KINSol call starts afresh from its guess, with a fresh Jacobian).
struct tray_workspace {
    dense_system sys;
    vector_ptr u_scale = sys.vector(), f_scale = sys.vector();
    kinsol_ptr kin;
    tray_workspace() : kin(made(KINCreate(sys.ctx.get()), "KINCreate")) {
        N_VConst(1.0, u_scale.get());
        N_VConst(1.0, f_scale.get());
        void* k = kin.get();
        checked(KINInit(k, tray_residual, sys.u.get()), "KINInit", kinsol_name);
        checked(KINSetLinearSolver(k, sys.ls.get(), sys.a.get()), "KINSetLinearSolver", kinsol_ls_name);
        checked(KINSetErrHandlerFn(k, quiet, nullptr), "KINSetErrHandlerFn", kinsol_name);
        // Newton runs down to the rounding floor of the rate terms: the
        // check in solve_tray, not these tolerances, decides what is a
        // solution.
        checked(KINSetFuncNormTol(k, eps), "KINSetFuncNormTol", kinsol_name);
        checked(KINSetScaledStepTol(k, 4.0 * eps), "KINSetScaledStepTol", kinsol_name);
        // A fresh Jacobian every iteration.
        checked(KINSetMaxSetupCalls(k, 1), "KINSetMaxSetupCalls", kinsol_name);
        checked(KINSetNumMaxIters(k, 100), "KINSetNumMaxIters", kinsol_name);
    }

    // One start from u: KINSol's flag and the Newton iterations it took.
    std::pair<int, long> solve(tray_problem& pb, std::array<double, 2> u) {
        sys[0] = u[0];
        sys[1] = u[1];
        checked(KINSetUserData(kin.get(), &pb), "KINSetUserData", kinsol_name);
        pb.calls = {rate_calls_per_start};
        const int flag = KINSol(kin.get(), sys.u.get(), KIN_LINESEARCH, u_scale.get(), f_scale.get());
        if (pb.error) std::rethrow_exception(std::exchange(pb.error, nullptr));
        long iterations = 0;
        checked(KINGetNumNonlinSolvIters(kin.get(), &iterations), "KINGetNumNonlinSolvIters", kinsol_name);
        return {flag, iterations};
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
    flows n;                   // the outlet, kmol/s
    double residual;
    int iterations;
};

// The unit of a reaction's unknown in a refinement: the smallest flow of a
// species it moves (reaction 1: NH3, CO2, carbamate; 2: carbamate, urea,
// water) at the candidate outlet n, within the carbon fed.
double scarce_unit(const flows& n, int reaction, double f_ref) {
    const std::array<component, 3> moved =
        reaction == 0 ? std::array<component, 3>{NH3, CO2, CARB} : std::array<component, 3>{CARB, UREA, H2O};
    double unit = f_ref;
    for (component i : moved) {
        if (n[i] > 0.0) unit = std::min(unit, n[i]);
    }
    return unit;
}

// The tray by two nested bracketed roots, as the equilibrium is found but
// with the flows, when Newton finds no solution: each root has a bracket
// whose ends are known by their chemistry (a species used up there), so it
// is found wherever Newton's starts are not close enough. The inner unknown
// is the carbamate leaving, c, so that a trace of it (fast dehydration in a
// dilute liquid) is not the difference of two extents; each root is found
// to the rounding of whichever species vanishes at the nearer end of its
// bracket. Two ways, by where the tray's solution lies:
//  - for a carbamate-formation extent xi1 >= -CARB fed, the urea balance
//    xi2 = r2 holds at one c between none left (r2 backward: xi2 above its
//    rate) and urea or water used up (r2 forward: below it); then the CO2
//    balance xi1 = r1 between the carbamate fed all decomposed (below) and
//    CO2 or NH3 used up (above; r1 backward there);
//  - where more carbamate decomposes than is fed (urea and water turned
//    back into it), so xi2 < CARB fed: for xi2, the CO2 balance at one c
//    between none left (r1 forward) and CO2 or NH3 used up; then the urea
//    balance between urea or water used up and xi2 = CARB fed.
// The one end that the chemistry does not sign is evaluated and checked.
// Returns the extents and the outlet; throws solver_error when the rates
// are not finite, its calls are spent or a bracket has no sign change.
std::pair<std::array<double, 2>, flows> tray_by_brackets(const tray_problem& pb) {
    const flows& in = pb.n_in;
    const double xi2_lo = -std::min(in[UREA], in[H2O]);
    const double xi1_hi = max_xi1(in);
    call_budget calls{rate_calls_per_bracketing};
    const auto rate = [&](const flows& n, std::size_t which) {
        if (!calls.take() || pb.h->stopped()) {
            throw solver_error("no solution within " + std::to_string(rate_calls_per_bracketing) + " rate calls");
        }
        const double r = net_rates(pb.h->rates(present_part(n), pb.t, pb.p, pb.v, pb.a1, pb.a2))[which];
        if (!std::isfinite(r)) throw solver_error("the plug-in returned a non-finite rate");
        return r;
    };
    // The outlet with the carbamate c at the extents xi1 = base1 + c1 and
    // xi2 = base2 - c2, c1 or c2 being c and the other 0: each flow computed
    // so that it is exact where it vanishes.
    const auto outlet = [&](double base1, double c1, double base2, double c2, double c) {
        flows n = in;
        n[NH3] = (in[NH3] - 2.0 * base1) - 2.0 * c1;
        n[CO2] = (in[CO2] - base1) - c1;
        n[CARB] = c;
        n[UREA] = (in[UREA] + base2) - c2;
        n[H2O] = (in[H2O] + base2) - c2;
        return n;
    };
    // A: xi1 given, xi2 = top - c.
    const auto c_at_xi1 = [&](double xi1) {
        const double top = in[CARB] + xi1;
        return fine_root([&](double c) { return (top - c) - rate(outlet(xi1, 0.0, top, c, c), 1); }, 0.0,
                         top - xi2_lo, 1.0);
    };
    const auto misfit1 = [&](double xi1) {
        const double top = in[CARB] + xi1, c = c_at_xi1(xi1);
        return xi1 - rate(outlet(xi1, 0.0, top, c, c), 0);
    };
    const auto extents_a = [&](double xi1) {
        const double top = in[CARB] + xi1, c = c_at_xi1(xi1);
        return std::pair{std::array<double, 2>{xi1, top - c}, outlet(xi1, 0.0, top, c, c)};
    };
    const double xi1_lo = -in[CARB];
    if (!(xi2_lo < 0.0) || !(xi1_hi > xi1_lo) || misfit1(xi1_lo) < 0.0) {
        return extents_a(fine_root(misfit1, xi1_lo, xi1_hi, -1.0));
    }
    // B: xi2 given, xi1 = low + c, low = xi2 - CARB fed.
    const auto c_at_xi2 = [&](double xi2) {
        const double low = xi2 - in[CARB];
        return fine_root([&](double c) { return (low + c) - rate(outlet(low, c, xi2, 0.0, c), 0); }, 0.0,
                         xi1_hi - low, -1.0);
    };
    const auto misfit2 = [&](double xi2) {
        const double low = xi2 - in[CARB], c = c_at_xi2(xi2);
        return xi2 - rate(outlet(low, c, xi2, 0.0, c), 1);
    };
    if (!(misfit2(in[CARB]) > 0.0)) throw solver_error("no bracket of the urea balance");
    const double xi2 = fine_root(misfit2, xi2_lo, in[CARB], -1.0);
    const double low = xi2 - in[CARB], c = c_at_xi2(xi2);
    return {{low + c, xi2}, outlet(low, c, xi2, 0.0, c)};
}

// Solves from each start in turn; the first start that ends at a point with
// no negative flow and a balance residual within the bound is the solution.
// When none does, the closest candidate is refined: Newton again from it,
// its unknowns now the changes of the two extents from it, each in units of
// the scarcest species its reaction moves. A start measures the extents
// from the inlet in units of the carbon fed, so a species far scarcer than
// that (in a dilute liquid, or one that a fast reaction keeps near zero)
// is only known to the rounding of the carbon fed, too coarse for its rate;
// measured from the candidate, each flow is known to its own rounding.
tray_solution solve_tray(tray_workspace& ws, tray_problem& pb, std::vector<attempt> attempts,
                         const std::function<attempt()>& last_resort, int tray) {
    std::string tried;  // what each start ended with, for the details
    double best_residual = std::numeric_limits<double>::infinity();
    std::string best_what;
    std::optional<tray_solution> best;  // the closest candidate
    bool last_resort_taken = false;
    bool only_non_finite = true;
    // Whether the point xi, n that `what` ended at (`ended`: how) is the
    // tray's solution; else what it is, in `tried`, and the closest kept.
    const auto judge = [&](const std::string& what, const std::string& ended, std::array<double, 2> xi,
                           const flows& n, long nni) -> std::optional<tray_solution> {
        bool physical = true;
        for (std::size_t i = 0; i < component_count; ++i) {
            physical = physical && n[i] >= -4.0 * eps * (pb.n_in[i] + 2.0 * std::abs(xi[0]) + std::abs(xi[1]));
        }
        if (!physical) {
            tried += "\n  from " + what + ": " + ended + ", at a negative flow";
            return std::nullopt;
        }
        if (!reacted_through(n)) {
            tried += "\n  from " + what + ": " + ended + ", at a composition missing a species its reactions form";
            return std::nullopt;
        }
        const double residual = balance_residual(*pb.h, pb.n_in, n, pb.t, pb.p, pb.v, pb.a1, pb.a2, true);
        const tray_solution sol{xi, n, residual, static_cast<int>(nni)};
        if (residual <= balance_residual_bound) return sol;
        tried += "\n  from " + what + ": " + ended + ", balance residual " + format(residual);
        if (residual < best_residual) {
            best_residual = residual;
            best_what = what;
            best = sol;
        }
        return std::nullopt;
    };
    // KINSol from u (pb's base and unit set): its solution, or as judge.
    const auto attempt_from = [&](const std::string& what, std::array<double, 2> u0) -> std::optional<tray_solution> {
        const auto [flag, nni] = ws.solve(pb, u0);
        const bool budget_spent = pb.calls.spent;
        const double u1 = ws.sys[0], u2 = ws.sys[1];
        const std::string ended = (budget_spent ? "its " + std::to_string(rate_calls_per_start) + " rate calls spent"
                                                : kinsol_flag_name(flag)) +
                                  " after " + std::to_string(nni) + " Newton iterations";
        only_non_finite = only_non_finite && !budget_spent &&
                          (flag == KIN_SYSFUNC_FAIL || flag == KIN_FIRST_SYSFUNC_ERR ||
                           flag == KIN_REPTD_SYSFUNC_ERR);
        if (!ended_at_a_candidate(flag) || !std::isfinite(u1) || !std::isfinite(u2)) {
            tried += "\n  from " + what + ": " + ended;
            return std::nullopt;
        }
        return judge(what, ended, pb.extents(u1, u2), pb.outlet(u1, u2), nni);
    };
    std::size_t starts = 0;
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
        pb.from_inlet();
        ++starts;
        if (auto sol = attempt_from(attempts[k].what, attempts[k].guess)) return *sol;
    }
    // Newton again from a candidate, measured from it (see above).
    const auto refine = [&](const tray_solution& from, const std::string& what) {
        pb.base = from.n;
        pb.base_xi = from.xi;
        pb.unit = {scarce_unit(from.n, 0, pb.f_ref), scarce_unit(from.n, 1, pb.f_ref)};
        return attempt_from(what, {0.0, 0.0});
    };
    // The closest candidate refined, again while that comes closer.
    const std::string closest = best_what;
    for (int round = 1; round <= 3 && best; ++round) {
        const tray_solution from = *best;
        if (auto sol = refine(from, closest + (round == 1 ? ", refined" : ", refined " + std::to_string(round) + " times"))) {
            return *sol;
        }
        if (!(best->residual < from.residual)) break;
    }
    // Two nested bracketed roots, refined if need be; not when every start
    // met a rate that is not finite, which they would meet too.
    if (!only_non_finite) {
        try {
            pb.from_inlet();
            const auto [xi, n] = tray_by_brackets(pb);
            const std::string what = "two nested bracketed roots";
            if (auto sol = judge(what, "found", xi, n, 0)) return *sol;
            if (best && best_what == what) {
                if (auto sol = refine(*best, what + ", refined")) return *sol;
            }
        } catch (const solver_error& e) {
            tried += std::string("\n  by two nested bracketed roots: not found (") + e.what() + ")";
        }
    }
    std::string summary = "tray " + std::to_string(tray) + ": no solution from any of " +
                          std::to_string(starts) + " starts (KINSOL, Newton with line search)";
    if (only_non_finite) summary += ": the plug-in returned a non-finite rate at every start";
    if (std::isfinite(best_residual)) {
        summary += "; the closest, from " + best_what + ", has a balance residual of " +
                   format(best_residual) + " (bound " + format(balance_residual_bound) + ")";
    }
    throw solver_error(summary, "tried:" + tried);
}

// ---- Plug flow with CVODE -----------------------------------------------

struct pfr_problem {
    workbench_host* h;
    const reactor_case* c;
    flows n_in;
    double p, f_ref;
    call_budget calls;  // the integration's
    // The second unknown: the dehydration extent, or (again, after a
    // failure) the carbamate itself, so that a trace of it (fast
    // dehydration in a dilute liquid) is not the difference of two extents.
    bool carbamate_unknown = false;
    std::exception_ptr error{};  // thrown in the right-hand side: kept, thrown once CVode has returned

    // The liquid at the state y (in units of f_ref).
    flows at(double y1, double y2) const {
        if (!carbamate_unknown) return advance(n_in, y1 * f_ref, y2 * f_ref);
        const double xi1 = y1 * f_ref, carb = y2 * f_ref;
        flows n = n_in;
        n[NH3] -= 2.0 * xi1;
        n[CO2] -= xi1;
        n[CARB] = carb;
        n[UREA] = (n_in[UREA] + n_in[CARB] + xi1) - carb;
        n[H2O] = (n_in[H2O] + n_in[CARB] + xi1) - carb;
        return n;
    }
};

// d(y)/ds, s = V / V_total in [0, 1]: the rates of the whole volume at the
// local composition, in units of f_ref (of reaction 1, and of reaction 2
// or the carbamate). -1, which stops CVODE, once the budget of rate calls
// is spent.
int pfr_rhs(double s, N_Vector y, N_Vector dy, void* data) noexcept {
    auto& pb = *static_cast<pfr_problem*>(data);
    if (!pb.calls.take() || pb.h->stopped()) return -1;
    try {
        const flows n = pb.at(NV_Ith_S(y, 0), NV_Ith_S(y, 1));
        const auto r = net_rates(pb.h->rates(present_part(n), temperature_at(*pb.c, s), pb.p,
                                             pb.c->volume_m3, pb.c->a1, pb.c->a2));
        if (!std::isfinite(r[0]) || !std::isfinite(r[1])) return 1;
        NV_Ith_S(dy, 0) = r[0] / pb.f_ref;
        NV_Ith_S(dy, 1) = (pb.carbamate_unknown ? r[0] - r[1] : r[1]) / pb.f_ref;
        return 0;
    } catch (...) {
        // Nothing is thrown through CVODE (C code).
        pb.error = std::current_exception();
        return -1;
    }
}

// The integration with pb's unknowns: the stations, or why it stopped.
struct pfr_outcome {
    std::vector<station> stations;
    std::string failure;     // empty when integrated
    bool non_finite = false;  // the plug-in's rates were not
};
pfr_outcome integrate_pfr(pfr_problem& pb) {
    const reactor_case& c = *pb.c;
    dense_system sys;
    sys[0] = 0.0;
    sys[1] = pb.carbamate_unknown ? pb.n_in[CARB] / pb.f_ref : 0.0;
    const cvode_ptr cvode(made(CVodeCreate(CV_BDF, sys.ctx.get()), "CVodeCreate"));
    void* cv = cvode.get();
    checked(CVodeInit(cv, pfr_rhs, 0.0, sys.u.get()), "CVodeInit", cvode_name);
    checked(CVodeSetUserData(cv, &pb), "CVodeSetUserData", cvode_name);
    checked(CVodeSStolerances(cv, 1e-9, 1e-13), "CVodeSStolerances", cvode_name);
    checked(CVodeSetLinearSolver(cv, sys.ls.get(), sys.a.get()), "CVodeSetLinearSolver", cvode_ls_name);
    checked(CVodeSetErrHandlerFn(cv, quiet, nullptr), "CVodeSetErrHandlerFn", cvode_name);
    checked(CVodeSetMaxNumSteps(cv, 100000), "CVodeSetMaxNumSteps", cvode_name);
    std::vector<station> out;
    for (int k = 1; k <= pfr_stations; ++k) {
        const double s = static_cast<double>(k) / pfr_stations;
        double reached = 0.0;
        const int flag = CVode(cv, s, sys.u.get(), &reached, CV_NORMAL);
        if (pb.error) std::rethrow_exception(std::exchange(pb.error, nullptr));
        if (flag < 0) {
            const std::unique_ptr<char, decltype(&std::free)> name(CVodeGetReturnFlagName(flag), &std::free);
            std::ostringstream m;
            m << "plug-flow reactor: CVODE (BDF, dense Newton) stopped at "
              << format(reached * 100.0) << " % of the volume: " << (name ? name.get() : "flag " + std::to_string(flag));
            const bool non_finite = !pb.calls.spent && (flag == CV_RHSFUNC_FAIL || flag == CV_FIRST_RHSFUNC_ERR ||
                                                         flag == CV_REPTD_RHSFUNC_ERR);
            if (pb.calls.spent) m << " (its budget of " << rate_calls_per_pfr << " rate calls spent)";
            if (non_finite) m << " (the plug-in returned a non-finite rate)";
            return {{}, m.str(), non_finite};
        }
        station st;
        st.volume_m3 = s * c.volume_m3;
        st.temperature_K = temperature_at(c, s);
        st.n = pb.at(sys[0], sys[1]);
        st.co2_conversion = co2_conversion(pb.n_in, st.n);
        out.push_back(st);
    }
    return {std::move(out), "", false};
}

// Plug flow: integrated with the two extents as unknowns; where CVODE
// fails to converge or to meet its tolerance with them, once more with the
// carbamate as the second unknown.
std::vector<station> run_pfr(const reactor_case& c, workbench_host& h, const flows& feed, double p) {
    pfr_problem pb{&h, &c, feed, p, feed[CO2] + feed[CARB], {rate_calls_per_pfr}};
    pfr_outcome first = integrate_pfr(pb);
    if (first.failure.empty()) return std::move(first.stations);
    if (!first.non_finite && !h.stopped()) {
        pb.carbamate_unknown = true;
        pb.calls = {rate_calls_per_pfr};
        pfr_outcome second = integrate_pfr(pb);
        if (second.failure.empty()) return std::move(second.stations);
    }
    throw solver_error(first.failure);
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
        st.n = sol.n;
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
    call_budget calls{rate_calls_per_bracketing};
    const auto rate_at = [&](const flows& n, int which) {
        if (!calls.take()) {
            throw solver_error("equilibrium: no composition found within " +
                               std::to_string(rate_calls_per_bracketing) + " rate calls");
        }
        const auto r = net_rates(h.rates(n, t, p, 1.0, c.a1, c.a2));
        if (!std::isfinite(r[static_cast<std::size_t>(which)])) {
            throw solver_error("equilibrium: the plug-in returned a non-finite rate");
        }
        return r[static_cast<std::size_t>(which)];
    };
    // For a dehydration extent xi2, carbamate formation is at rest at one
    // xi1: its net rate is forward where no carbamate is left (xi1 = xi2)
    // and backward where CO2 or NH3 is used up (xi1 = xi1_max).
    const auto xi1_at_rest = [&](double xi2) {
        return bracketed_root([&](double xi1) { return rate_at(advance(n0, xi1, xi2), 0); }, xi2, xi1_max, tol);
    };
    // Dehydration is forward where no urea (or no water) is left (xi2 = 0)
    // and backward where no carbamate can be left (xi2 = xi1_max).
    double residual = std::numeric_limits<double>::infinity();
    try {
        const double xi2 = bracketed_root(
            [&](double x2) { return rate_at(advance(n0, xi1_at_rest(x2), x2), 1); }, 0.0, xi1_max, tol);
        const flows n = advance(n0, xi1_at_rest(xi2), xi2);
        residual = balance_residual(h, n0, n, t, p, 1.0, c.a1, c.a2, false);
        if (residual <= balance_residual_bound) return n;
    } catch (const solver_error&) {
        // A rate that is not finite is met below too; spent calls are not.
        if (!calls.spent) throw;
    }

    // Not close enough: a species is scarce at the equilibrium (a dilute
    // liquid holds little carbamate; a feed without water little urea), and
    // the roots above, to the rounding of the carbon and nitrogen fed, leave
    // it imprecise. Again, each root to the rounding of each species it moves
    // (its distance to the nearer end of its bracket, where one vanishes),
    // and the carbamate as the inner unknown itself, so that a trace of it is
    // not the difference of two large extents.
    calls = call_budget{rate_calls_per_bracketing};
    const auto at = [&](double xi2_, double carb) {
        flows m = n0;
        m[NH3] = (n0[NH3] - 2.0 * xi2_) - 2.0 * carb;
        m[CO2] = (n0[CO2] - xi2_) - carb;
        m[CARB] = carb;
        m[UREA] = n0[UREA] + xi2_;
        m[H2O] = n0[H2O] + xi2_;
        return m;
    };
    const auto carb_at_rest = [&](double xi2_) {
        const double most = std::min(n0[CO2] - xi2_, 0.5 * n0[NH3] - xi2_);
        return fine_root([&](double carb) { return rate_at(at(xi2_, carb), 0); }, 0.0, most, 1.0);
    };
    const double fine_xi2 =
        fine_root([&](double x2) { return rate_at(at(x2, carb_at_rest(x2)), 1); }, 0.0, xi1_max, 1.0);
    const flows fine = at(fine_xi2, carb_at_rest(fine_xi2));
    bool physical = true;
    for (double f : fine) physical = physical && f >= 0.0;
    const double fine_residual =
        physical ? balance_residual(h, n0, fine, t, p, 1.0, c.a1, c.a2, false) : std::numeric_limits<double>::infinity();
    if (fine_residual <= balance_residual_bound) return fine;
    residual = std::min(residual, fine_residual);
    throw solver_error("equilibrium: no composition found where both net rates vanish "
                       "(residual " + format(residual) + ", bound " +
                       format(balance_residual_bound) + ")");
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
