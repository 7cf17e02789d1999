#pragma once
// The stored half of each Gauss-Legendre rule that DGAUSS holds; only
// DGAUSS reads these.
#include <span>

namespace plumcor::detail {

inline constexpr int kGaussOrderCount = 9;

struct GaussTable {
    int n;
    // The positive abscissae on [-1, 1], ascending: n/2 values (odd n: the
    // central abscissa 0 is not stored).
    std::span<const double> abscissae;
    // One weight per positive abscissa, in the same order; odd n: the weight
    // of the central abscissa first. (n + 1)/2 values.
    std::span<const double> weights;
};

// Ordered by n: 4, 5, 6, 10, 15, 20, 60, 104, 256.
extern const GaussTable kGaussTables[kGaussOrderCount];

}  // namespace plumcor::detail
