// The library's exponential (kinetics/exp.cpp, the object the library is
// linked from) against libm's exp, per call, over one array of arguments:
// 4096 doubles uniform in [-60, 0], where the rate law's exponents lie.
//
//   BM_libm_exp          std::exp, glibc's (its FMA variant where the CPU has one)
//   BM_library_exp       urea::exp, fast path and, rarely, the precise path
//   BM_library_exp_fast  the fast path alone
//   BM_library_exp_precise  the precise path alone (what a declined argument costs)
//
// Each call is independent of the others (a sum of the results is kept), so
// the figure is the cost per call with calls overlapping as in a loop. The
// library's runs are inside one round-to-nearest hold, as in the rate
// routine. Each benchmark checks first that urea::exp and libm's exp agree
// on most arguments (the program exits non-zero otherwise).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "host/fp_hold.h"
#include "kinetics/exp.h"
#include "kinetics/exp_internal.h"

namespace {

bool failed = false;

const std::vector<double>& arguments() {
    static const std::vector<double> args = [] {
        std::mt19937_64 rng(60);
        std::vector<double> v(4096);
        for (double& x : v) x = std::uniform_real_distribution<double>(-60.0, 0.0)(rng);
        return v;
    }();
    return args;
}

bool agrees(benchmark::State& state) {
    long differ = 0;
    const urea::nearest_hold nearest;
    for (double x : arguments()) differ += urea::exp(x) != std::exp(x) ? 1 : 0;
    if (differ > 10) {  // libm's is off by an ulp now and then, not more often
        failed = true;
        state.SkipWithError("the library's exp and libm's disagree");
        return false;
    }
    return true;
}

void per_call(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(arguments().size()));
}

void BM_libm_exp(benchmark::State& state) {
    if (!agrees(state)) return;
    const auto& args = arguments();
    for (auto _ : state) {
        double sum = 0.0;
        for (double x : args) sum += std::exp(x);
        benchmark::DoNotOptimize(sum);
    }
    per_call(state);
}

void BM_library_exp(benchmark::State& state) {
    if (!agrees(state)) return;
    const auto& args = arguments();
    const urea::nearest_hold nearest;
    for (auto _ : state) {
        double sum = 0.0;
        for (double x : args) sum += urea::exp(x);
        benchmark::DoNotOptimize(sum);
    }
    per_call(state);
}

void BM_library_exp_fast(benchmark::State& state) {
    if (!agrees(state)) return;
    const auto& args = arguments();
    const urea::nearest_hold nearest;
    for (auto _ : state) {
        double sum = 0.0;
        for (double x : args) {
            double y = 0.0;
            urea::exp_detail::exp_fast(x, y);
            sum += y;
        }
        benchmark::DoNotOptimize(sum);
    }
    per_call(state);
}

void BM_library_exp_precise(benchmark::State& state) {
    if (!agrees(state)) return;
    const auto& args = arguments();
    const urea::nearest_hold nearest;
    for (auto _ : state) {
        double sum = 0.0;
        for (double x : args) sum += urea::exp_detail::exp_precise(x).value;
        benchmark::DoNotOptimize(sum);
    }
    per_call(state);
}

}  // namespace

BENCHMARK(BM_libm_exp);
BENCHMARK(BM_library_exp);
BENCHMARK(BM_library_exp_fast);
BENCHMARK(BM_library_exp_precise);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (failed) {
        std::fprintf(stderr, "a benchmark's check failed\n");
        return 1;
    }
    return 0;
}
