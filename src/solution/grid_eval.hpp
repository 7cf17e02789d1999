#pragma once
// Concentrations of many points that share one time, evaluated from factors
// shared along each axis; every value is bit-identical to PATCH_CONC.
#include <span>

#include "solution/solution_block.hpp"

namespace plumcor {

class GridEvaluator {
public:
    // The axes are copied; their sizes are at most 500, 251 and 80 in a run
    // but the evaluator itself accepts any sizes.
    GridEvaluator(const SolutionBlock& blk, std::span<const double> xaxis,
                  std::span<const double> yaxis, std::span<const double> zaxis);

    // out[(i) + (j)*NX + (k)*NX*NY] = c0 * PATCH_CONC(x_i, y_j, z_k, t)
    // (0-based i, j, k); out.size() == NX*NY*NZ. Throws RunStop like DGAUSS
    // when the time needs the quadrature and the order is not held.
    void evaluate(double t, double c0, std::span<double> out);
};

// out[p] = c0 * PATCH_CONC(xs[p], ys[p], zs[p], t) for the observation points
// of one breakthrough time, sharing one set of Gauss nodes.
void evaluate_points(const SolutionBlock& blk, double t, double c0, std::span<const double> xs,
                     std::span<const double> ys, std::span<const double> zs, std::span<double> out);

}  // namespace plumcor
