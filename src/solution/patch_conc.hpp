#pragma once
// C/C0 at one point and time.
#include "solution/solution_block.hpp"

namespace plumcor {

// Overwrites blk.XGAUSS / blk.WGAUSS when it reaches the quadrature; may
// throw RunStop from DGAUSS for an unsupported order.
double PATCH_CONC(SolutionBlock& blk, double x, double y, double z, double t);

}  // namespace plumcor
