#pragma once
// The distribution loop: the concentration field of every output time, with
// a progress line per node, written to the ASCII and layer files.
#include "driver/grid_axes.hpp"
#include "driver/problem_input.hpp"
#include "output/output_file.hpp"
#include "solution/solution_block.hpp"

namespace plumcor {

void distribution_loop(OutputFile& console, OutputFile& asc, OutputFile& ucn, const ProblemInput& in,
                       const SolutionBlock& blk, const GridAxes& g);

}  // namespace plumcor
