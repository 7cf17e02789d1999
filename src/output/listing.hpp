#pragma once
// The listing: the run's echo of its input deck, written in two stages so
// that the Gauss-point check can stop the run between them.
#include "driver/problem_input.hpp"
#include "output/record_writer.hpp"

namespace plumcor {

// Banner, title, transport parameters, aquifer thickness, solute
// properties, solution parameters and patch dimensions (42 records).
void LIST_INPUT(RecordSink& lst, const ProblemInput& in);
// Inflow concentration history (6 records).
void LIST_SOURCE(RecordSink& lst, const ProblemInput& in);

}  // namespace plumcor
