// Per-call cost of the plug-in's three routines, called through the addresses
// dlsym gives, as a host calls them, at 7, 30 and 100 components with the
// seven species at the end of the component list.
//
// The host is the stand-in with its call record off. Its share of a rate
// call (three scatters and three property routines, each reaching the
// property model through a virtual call per component) is measured on its
// own, and so are the pieces of the library's own work: the floating-point
// environment hold and the three exponentials (the library's own exp, linked
// in here from the object the library is linked from).
//
// Each benchmark checks the routine's results before and after timing; the
// program exits non-zero when a check fails.
#include <benchmark/benchmark.h>

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <memory>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "bench/scenario.h"
#include "host/fp_hold.h"
#include "kinetics/exp.h"

namespace {

std::unique_ptr<bench::plugin> lib;
bool failed = false;

// Fails the benchmark (and the run) when a check has something to say.
bool ok(benchmark::State& state, const std::string& problem) {
    if (problem.empty()) {
        return true;
    }
    failed = true;
    state.SkipWithError(problem.c_str());
    return false;
}

// Calls per second besides the time per call. (No user counters: the CSV
// report wants the same counters in every benchmark.)
void per_call(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_USURA(benchmark::State& state) {
    bench::reactor_state s(state.range(0));
    s.call(lib->usura);
    if (!ok(state, s.check())) return;
    const std::vector<double> first = s.rates;
    for (auto _ : state) {
        s.call(lib->usura);
        benchmark::ClobberMemory();
    }
    for (std::size_t k = 0; k < first.size(); ++k) {
        if (bench::bits(first[k]) != bench::bits(s.rates[k])) {
            ok(state, "the rates changed from call to call");
            return;
        }
    }
    per_call(state);
}

// The host routines a rate call makes, with the arguments it passes: the
// stand-in's share of BM_USURA.
void BM_host_share_of_USURA(benchmark::State& state) {
    bench::reactor_state s(state.range(0));
    s.call(lib->usura);
    if (!ok(state, s.check())) return;
    for (auto _ : state) {
        s.host_calls();
        benchmark::ClobberMemory();
    }
    if (!ok(state, s.check_host_calls())) return;
    per_call(state);
}

void BM_UPROPU(benchmark::State& state) {
    bench::property_state s(state.range(0));
    s.call(lib->upropu);
    if (!ok(state, s.check())) return;
    for (auto _ : state) {
        s.call(lib->upropu);
        benchmark::ClobberMemory();
    }
    if (!ok(state, s.check())) return;
    per_call(state);
}

void BM_CMPLOC(benchmark::State& state) {
    bench::locator_state s(state.range(0));
    s.call(lib->cmploc);
    if (!ok(state, s.check())) return;
    for (auto _ : state) {
        s.call(lib->cmploc);
        benchmark::ClobberMemory();
    }
    if (!ok(state, s.check())) return;
    per_call(state);
}

// The hold the routines put around their own arithmetic: feholdexcept on the
// way in, fesetenv on the way out (x87 and SSE environments both).
void BM_fenv_hold_pair(benchmark::State& state) {
    std::fenv_t saved;
    for (auto _ : state) {
        std::feholdexcept(&saved);
        benchmark::DoNotOptimize(saved);
        std::fesetenv(&saved);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

#if defined(__x86_64__)
// The same hold on the SSE control and status register alone: all traps
// masked and the flags cleared on the way in, the register put back as it was
// on the way out.
void BM_mxcsr_hold_pair(benchmark::State& state) {
    for (auto _ : state) {
        const unsigned saved = _mm_getcsr();
        _mm_setcsr((saved | 0x1f80u) & ~0x3fu);
        benchmark::DoNotOptimize(saved);
        _mm_setcsr(saved);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_mxcsr_hold_pair);
#endif

// The three exponentials of a rate call, at the worked example's arguments:
// the library's own, in the hold that sets round to nearest.
void BM_three_exponentials(benchmark::State& state) {
    double a = -(12027.904738994468 / 458.0);
    double b = -((((-2.0e8) - (-5.6e8)) + (-3.0e8)) / (8314.0 * 458.0));
    double c = -(((((-5.6e8) - (-6.0e7)) - (-6.0e7)) - (-4.3e8)) / (8314.0 * 458.0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(c);
        double sum;
        {
            const urea::nearest_hold nearest;
            sum = urea::exp(a) + urea::exp(b) + urea::exp(c);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void component_counts(benchmark::internal::Benchmark* b) {
    b->ArgName("nc")->Arg(7)->Arg(30)->Arg(100);
}

}  // namespace

BENCHMARK(BM_USURA)->Apply(component_counts);
BENCHMARK(BM_host_share_of_USURA)->Apply(component_counts);
BENCHMARK(BM_UPROPU)->Apply(component_counts);
BENCHMARK(BM_CMPLOC)->Apply(component_counts);
BENCHMARK(BM_fenv_hold_pair);
BENCHMARK(BM_three_exponentials);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    try {
        lib = std::make_unique<bench::plugin>(bench::plugin_path());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    benchmark::AddCustomContext("plugin", bench::plugin_path());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    lib.reset();
    if (failed) {
        std::fprintf(stderr, "a benchmark's check failed\n");
        return 1;
    }
    return 0;
}
