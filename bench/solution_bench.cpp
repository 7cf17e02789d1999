// The cost of one concentration: PATCH_CONC per call, and the grid
// evaluator per node, both at 256 Gauss points on the same plume.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

#include "driver/problem_input.hpp"
#include "solution/grid_eval.hpp"
#include "solution/patch_conc.hpp"
#include "solution/solution_block.hpp"

namespace plumcor {
namespace {

// A 20 m x 5 m patch in a 0.1 m/d flow; the benchmarks' argument is the
// time in days (early: many nodes cut off; late: nearly all nodes count).
SolutionBlock plume_block() {
    ProblemInput in;
    in.V = 0.1;
    in.ALPHAL = 10.0;
    in.ALPHATH = 1.0;
    in.ALPHATV = 0.1;
    in.DE = 8.64e-5;
    in.R = 1.0;
    in.LAMBDA = 1e-4;
    in.GAMMA = 2e-4;
    in.WIDTH = 20.0;
    in.Z1 = 0.0;
    in.Z2 = 5.0;
    in.NGAUSS = 256;
    return make_solution_block(in);
}

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

}  // namespace
}  // namespace plumcor
