#pragma once
// The coefficients of the analytical solution, set up once per run.
#include <array>
#include <cstdint>

#include "driver/problem_input.hpp"

namespace plumcor {

inline constexpr int kMaxGauss = 256;

struct SolutionBlock {
    double VR = 0;      // retarded velocity V / R
    double DISPX = 0;   // (ALPHAL*V + DE) / R
    double DISPY = 0;   // (ALPHATH*V + DE) / R
    double DISPZ = 0;   // (ALPHATV*V + DE) / R
    double LAMBDA = 0;  // contaminant decay constant, as read
    double GAMMA = 0;   // source decay constant, as read
    double HALFW = 0;   // 0.5 * WIDTH
    double Z1 = 0;      // bottom of the source
    double Z2 = 0;      // top of the source
    std::int32_t NGAUSS = 0;
    std::array<double, kMaxGauss> WGAUSS{};  // scratch of one evaluation
    std::array<double, kMaxGauss> XGAUSS{};
};

SolutionBlock make_solution_block(const ProblemInput& in);

}  // namespace plumcor
