// The cost of one concentration: PATCH_CONC per call, and the grid
// evaluator per node, both at 256 Gauss points on the same plume; and the
// breakthrough loop of ten wells over 20,001 times, point by point with
// PATCH_CONC against the breakthrough evaluator.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/fp_mode.hpp"
#include "driver/problem_input.hpp"
#include "solution/breakthrough_eval.hpp"
#include "solution/grid_eval.hpp"
#include "solution/patch_conc.hpp"
#include "solution/solution_block.hpp"

namespace plumcor {
namespace {

// A 20 m x 5 m patch in a 0.1 m/d flow, 256 Gauss points; the benchmarks
// differ only in the retardation factor.
ProblemInput plume_input(double r) {
    ProblemInput in;
    in.V = 0.1;
    in.ALPHAL = 10.0;
    in.ALPHATH = 1.0;
    in.ALPHATV = 0.1;
    in.DE = 8.64e-5;
    in.R = r;
    in.LAMBDA = 1e-4;
    in.GAMMA = 2e-4;
    in.WIDTH = 20.0;
    in.Z1 = 0.0;
    in.Z2 = 5.0;
    in.NGAUSS = 256;
    return in;
}

// The benchmarks' argument is the time in days (early: many nodes cut off;
// late: nearly all nodes count).
SolutionBlock plume_block() { return make_solution_block(plume_input(1.0)); }

std::vector<double> axis(double start, double step, int n) {
    std::vector<double> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = start + i * step;
    return v;
}

// 100 x 50 x 40 nodes over the plume: x 0..495, y -49..49, z -9.75..9.75.
const std::vector<double> kXAxis = axis(0.0, 5.0, 100);
const std::vector<double> kYAxis = axis(-49.0, 2.0, 50);
const std::vector<double> kZAxis = axis(-9.75, 0.5, 40);

void BM_PatchConcPerCall(benchmark::State& state) {
    SolutionBlock blk = plume_block();
    const double t = static_cast<double>(state.range(0));
    std::size_t i = 1;  // skip the source plane, which needs no quadrature
    std::size_t j = 0;
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(PATCH_CONC(blk, kXAxis[i], kYAxis[j], kZAxis[k], t));
        // Walk the grid so the cost is an average over the plume.
        if (++i == kXAxis.size()) {
            i = 1;
            if (++j == kYAxis.size()) {
                j = 0;
                if (++k == kZAxis.size()) k = 0;
            }
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_PatchConcPerCall)->Arg(2000)->Arg(20000);

void BM_GridPerNode(benchmark::State& state) {
    const SolutionBlock blk = plume_block();
    GridEvaluator grid(blk, kXAxis, kYAxis, kZAxis);
    const double t = static_cast<double>(state.range(0));
    std::vector<double> out(kXAxis.size() * kYAxis.size() * kZAxis.size());
    for (auto _ : state) {
        grid.evaluate(t, 1.0, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const double nodes = static_cast<double>(out.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
    state.counters["per_node"] =
        benchmark::Counter(nodes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GridPerNode)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// --- B1: the breakthrough loop ----------------------------------------------

// Ten monitoring wells 10 to 500 m downstream of a 20 m x 5 m patch, 256
// Gauss points, 20,001 breakthrough times over 20 years (every 0.365 d).
// Layouts (the benchmarks' first argument):
//   0  most wells on the plume axis at a few screen depths, some off it;
//   1  no two wells share x, y or z and none is on the centre line, so the
//      points share nothing but the Gauss nodes;
//   2  the wells, patch and times of bench/decks/B1.INP (60 m x 6 m patch,
//      wells 25 to 800 m, 0 to 10,000 d every 0.5 d).
struct Wells {
    ProblemInput in;
    std::vector<double> x, y, z;
    std::vector<double> times;
};

Wells b1_wells(std::int64_t layout) {
    Wells w;
    w.in = plume_input(1.5);
    ProblemInput& in = w.in;
    in.C0 = 50.0;
    double delt = 0.365;
    switch (layout) {
        case 0:
            w.x = {10.0, 25.0, 50.0, 50.0, 100.0, 100.0, 200.0, 200.0, 400.0, 500.0};
            w.y = {0.0, 0.0, 0.0, 8.0, 0.0, -15.0, 0.0, 25.0, 0.0, 0.0};
            w.z = {2.5, 2.5, 1.0, 2.5, 2.5, 4.0, 1.0, 2.5, 2.5, 2.5};
            break;
        case 1:
            w.x = {10.0, 25.0, 50.0, 75.0, 100.0, 150.0, 200.0, 300.0, 400.0, 500.0};
            w.y = {0.5, -2.0, 4.0, -6.0, 1.0, 8.0, -3.0, 12.0, -9.0, 15.0};
            w.z = {2.5, 1.0, 4.0, 3.0, 0.5, 4.5, 2.0, 3.5, 1.5, 5.5};
            break;
        default:
            in.WIDTH = 60.0;
            in.Z2 = 6.0;
            w.x = {25.0, 50.0, 100.0, 100.0, 200.0, 200.0, 200.0, 400.0, 400.0, 800.0};
            w.y = {0.0, 0.0, 0.0, 25.0, 0.0, 0.0, 40.0, 0.0, -30.0, 0.0};
            w.z = {3.0, 3.0, 3.0, 3.0, 1.0, 5.0, 3.0, 3.0, 3.0, 3.0};
            delt = 0.5;
            break;
    }
    for (int k = 1; k <= 20001; ++k) w.times.push_back(static_cast<double>(k - 1) * delt + 0.0);
    return w;
}

void per_time_counter(benchmark::State& state, std::size_t times) {
    state.counters["per_time_us"] = benchmark::Counter(
        static_cast<double>(times) * 1e-6,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The yardstick: one PATCH_CONC call per well and time, as the loop would
// run without the evaluator.
void BM_B1_PointByPoint(benchmark::State& state) {
    enable_flush_to_zero();
    const Wells w = b1_wells(state.range(0));
    SolutionBlock blk = make_solution_block(w.in);
    std::vector<double> out(w.times.size() * w.x.size());
    for (auto _ : state) {
        std::size_t i = 0;
        for (double t : w.times) {
            for (std::size_t p = 0; p < w.x.size(); ++p)
                out[i++] = w.in.C0 * PATCH_CONC(blk, w.x[p], w.y[p], w.z[p], t);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_time_counter(state, w.times.size());
}

// Arguments: layout, path (BreakthroughIsa), threads.
void BM_B1_Evaluator(benchmark::State& state) {
    enable_flush_to_zero();
    const Wells w = b1_wells(state.range(0));
    const SolutionBlock blk = make_solution_block(w.in);
    const auto isa = static_cast<BreakthroughIsa>(state.range(1));
    const int threads = static_cast<int>(state.range(2));
    BreakthroughEvaluator btc(blk, w.x, w.y, w.z, {isa, threads});
    if (btc.isa() != isa) {
        state.SkipWithError("path not available on this processor");
        return;
    }
    std::vector<double> out(w.times.size() * w.x.size());
    for (auto _ : state) {
        btc.evaluate(w.times, w.in.C0, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_time_counter(state, w.times.size());
}

// Whole runs of the loop, repeated; the medians are the figures to compare
// (run with --benchmark_enable_random_interleaving=true so that load from
// elsewhere on the machine hits all of them alike).
void b1_statistics(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(7)
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); })
        ->DisplayAggregatesOnly(true)
        ->UseRealTime();
}

constexpr int kScalar = static_cast<int>(BreakthroughIsa::scalar);
constexpr int kAvx2 = static_cast<int>(BreakthroughIsa::avx2);
constexpr int kAvx512 = static_cast<int>(BreakthroughIsa::avx512);

BENCHMARK(BM_B1_PointByPoint)->ArgName("wells")->DenseRange(0, 2)->Apply(b1_statistics);
BENCHMARK(BM_B1_Evaluator)
    ->ArgNames({"wells", "isa", "threads"})
    ->Args({0, kAvx512, 2})
    ->Args({0, kAvx512, 1})
    ->Args({0, kAvx2, 2})
    ->Args({0, kAvx2, 1})
    ->Args({0, kScalar, 2})
    ->Args({1, kAvx512, 2})
    ->Args({1, kAvx512, 1})
    ->Args({1, kAvx2, 1})
    ->Args({2, kAvx512, 2})
    ->Args({2, kAvx512, 1})
    ->Apply(b1_statistics);

}  // namespace
}  // namespace plumcor
