#pragma once
// The concentrations of the observation points over many breakthrough times.
// Per time, whatever the points share (the Gauss nodes, the spreading
// lengths, the exponential factor of equal x, the y and z factors of equal y
// and z) is formed once; exp and erfc run on whole vectors of Gauss nodes; a
// block of times is shared out between threads.
//
// Values: the scalar path gives c0 * PATCH_CONC bit for bit. The vector paths
// use the vector exp and erfc of the C library's vector maths library
// (documented to within 4 ulp of the exact values) and their own fixed order
// of summation, so they agree with c0 * PATCH_CONC to the last few bits only.
// On every path a point's value at a time depends on nothing but the point,
// the time and the path: not on the other points, on the thread count, on
// which thread took the time, nor on the run.
#include <memory>
#include <span>

#include "solution/solution_block.hpp"

namespace plumcor {

enum class BreakthroughIsa {
    automatic,  // the widest of the paths below that the processor runs
    scalar,     // one node at a time, the C library's scalar exp and erfc
    avx2,       // four nodes at a time
    avx512,     // eight nodes at a time
};

struct BreakthroughOptions {
    BreakthroughIsa isa = BreakthroughIsa::automatic;
    int threads = 2;  // at most this many threads share a block of times
};

class BreakthroughEvaluator {
public:
    // The point coordinates are copied (any number of points, all three spans
    // of one size). A path the processor cannot run falls back to the next
    // narrower one; isa() tells which path is in use.
    BreakthroughEvaluator(const SolutionBlock& blk, std::span<const double> xs,
                          std::span<const double> ys, std::span<const double> zs,
                          BreakthroughOptions options = {});
    ~BreakthroughEvaluator();
    BreakthroughEvaluator(const BreakthroughEvaluator&) = delete;
    BreakthroughEvaluator& operator=(const BreakthroughEvaluator&) = delete;

    // out[k * points + p] = c0 * PATCH_CONC(xs[p], ys[p], zs[p], times[k]);
    // out.size() == times.size() * points. When some time t > 0 needs the
    // quadrature (some point lies off the source plane) and DGAUSS holds no
    // rule of the block's order, throws DGAUSS's RunStop before any value is
    // written. Nothing is allocated per time; threads are started once per
    // call, so a call should carry many times. One evaluator serves one
    // call at a time.
    void evaluate(std::span<const double> times, double c0, std::span<double> out);

    BreakthroughIsa isa() const;
    int threads() const;
    std::size_t points() const;

    // Whether this processor runs the path (automatic and scalar: always).
    static bool isa_available(BreakthroughIsa isa);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace plumcor
