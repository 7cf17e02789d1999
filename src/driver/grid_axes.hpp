#pragma once
// The output grid: node counts and coordinates along each axis.
#include <cstdint>
#include <vector>

namespace plumcor {

struct GridAxes {
    std::int32_t NX = 0, NY = 0, NZ = 0;
    std::vector<double> XAXIS, YAXIS, ZAXIS;  // sizes NX, NY, NZ; element i = start + i*spacing

    std::int64_t nodes() const { return std::int64_t{NX} * NY * NZ; }
    // 0-based field index of node (i, j, k): x fastest, then y, then z.
    std::int64_t index(int i, int j, int k) const {
        return i + std::int64_t{NX} * (j + std::int64_t{NY} * k);
    }
};

}  // namespace plumcor
