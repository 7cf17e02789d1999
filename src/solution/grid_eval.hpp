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
    // The same as set_time(t), then evaluate_columns over all of x.
    void evaluate(double t, double c0, std::span<double> out);

    // Sets up the tables of time t that every node shares (the Gauss nodes
    // and each factor that depends on one axis only). Throws like evaluate.
    void set_time(double t);
    // The columns x_i, ix_begin <= i < ix_end, at the time of the last
    // set_time: out[(i - ix_begin) + nc*(j + NY*k)] with nc = ix_end -
    // ix_begin, out.size() == nc*NY*NZ. Only reads the tables, so several
    // threads may evaluate different column ranges of one time at once.
    void evaluate_columns(int ix_begin, int ix_end, double c0, std::span<double> out) const;

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

    Worker make_worker() const;
    void prepare(double gt, bool folded);
    void sum_rows(int ix_begin, int ix_end, double c0, Worker& worker, std::span<double> out) const;
    double folded_node_sum(int ix, int j, int k, Worker& worker) const;

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
    bool positive_time_ = false;                  // t > 0; otherwise every value is c0*0
    double gt_ = 0;                               // -GAMMA*t
    double outer_ = 0;                            // exp(-GAMMA*t)
};

namespace detail {
// The node sums of a column run several z values per instruction, by the
// widest vector instructions the processor has; every lane repeats the
// scalar operations of its own node in the same order, so all widths give
// the same bits. Tests select each width the processor supports (128, 256
// or 512 bits; 0 restores the automatic choice) and get false for one it
// lacks.
bool use_node_sum_width(int bits);
}  // namespace detail

// out[p] = c0 * PATCH_CONC(xs[p], ys[p], zs[p], t) for the observation points
// of one breakthrough time, sharing one set of Gauss nodes.
void evaluate_points(const SolutionBlock& blk, double t, double c0, std::span<const double> xs,
                     std::span<const double> ys, std::span<const double> zs, std::span<double> out);

}  // namespace plumcor
