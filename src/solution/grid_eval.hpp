#pragma once
// Concentrations of many points that share one time, evaluated from factors
// shared along each axis; every value is bit-identical to PATCH_CONC.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

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

private:
    // Scratch of whoever sums a range of x rows; the per-time tables are only
    // read while summing, so rows can be split between workers that each own
    // one of these.
    struct Worker {
        std::vector<int> lane1, lane2;  // surviving nodes of the row, by lane
        std::vector<double> p1, p2;     // (w*a)*Y of those nodes for one y
        std::vector<double> sums;       // node sums of one (x, y) column, all z
        int folded_row = -1;            // row whose folded factors are below
        std::vector<double> folded_wa;
        std::vector<std::uint8_t> folded_alive;
    };

    void prepare(double gt, bool folded);
    void sum_rows(int ix_begin, int ix_end, double t, double c0, Worker& worker,
                  std::span<double> out) const;
    double folded_node_sum(int ix, int j, int k, double gt, Worker& worker) const;

    SolutionBlock blk_;  // coefficients; its node arrays are not used
    std::vector<double> xs_, ys_, zs_;
    int nx_ = 0, ny_ = 0, nz_ = 0;
    int nz_padded_ = 0;  // row length of the z table, a whole number of blocks
    int n_ = 0;          // Gauss points of the current time

    // Per-time tables. Index i is the Gauss node (stride kMaxGauss).
    std::array<double, kMaxGauss> u_{}, w_{};
    std::array<double, kMaxGauss> u3_{}, tau_{};
    std::array<std::uint8_t, kMaxGauss> used_{};  // node survives the cut-off somewhere
    std::vector<std::uint8_t> quad_row_;          // [ix]: x off the source plane
    std::vector<double> xf_;                      // [ix]: x / (8 sqrt(pi Dx))
    std::vector<double> exponent_;                // [ix][i]: E
    std::vector<double> wa_;                      // [ix][i]: w*a
    std::vector<std::uint8_t> alive_;             // [ix][i]: term present (a != 0)
    std::vector<double> yf_;                      // [j][i]: Y
    std::vector<double> zf_;                      // [i][k]: Z, transposed for runs over z
    bool folded_ = false;                         // exp(-GAMMA*t) unusable: all folded
    double outer_ = 0;                            // exp(-GAMMA*t)

    Worker worker_;
};

// out[p] = c0 * PATCH_CONC(xs[p], ys[p], zs[p], t) for the observation points
// of one breakthrough time, sharing one set of Gauss nodes.
void evaluate_points(const SolutionBlock& blk, double t, double c0, std::span<const double> xs,
                     std::span<const double> ys, std::span<const double> zs, std::span<double> out);

}  // namespace plumcor
