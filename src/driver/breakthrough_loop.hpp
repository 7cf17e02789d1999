#pragma once
// The breakthrough loop: the concentrations at the observation points over
// the breakthrough times, with a progress line per time.
#include "driver/grid_axes.hpp"
#include "driver/problem_input.hpp"
#include "output/output_file.hpp"
#include "solution/solution_block.hpp"

namespace plumcor {

void breakthrough_loop(OutputFile& console, OutputFile& obs, const ProblemInput& in, const SolutionBlock& blk);

}  // namespace plumcor
