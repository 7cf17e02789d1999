#include "solution/solution_block.hpp"

namespace plumcor {

SolutionBlock make_solution_block(const ProblemInput& in) {
    SolutionBlock blk;
    // Retarded coefficients: product, then sum, then quotient, so that every
    // run derives the same bits from the same deck.
    blk.VR = in.V / in.R;
    blk.DISPX = (in.ALPHAL * in.V + in.DE) / in.R;
    blk.DISPY = (in.ALPHATH * in.V + in.DE) / in.R;
    blk.DISPZ = (in.ALPHATV * in.V + in.DE) / in.R;
    // The decay constants act on the dissolved phase as read: not retarded.
    blk.LAMBDA = in.LAMBDA;
    blk.GAMMA = in.GAMMA;
    blk.HALFW = 0.5 * in.WIDTH;
    blk.Z1 = in.Z1;
    blk.Z2 = in.Z2;
    blk.NGAUSS = in.NGAUSS;
    return blk;
}

}  // namespace plumcor
