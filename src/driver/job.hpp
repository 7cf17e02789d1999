#pragma once
// The run from start to end, on the process's standard streams.

namespace plumcor {

// Returns the exit status: 0 after a normal end, 1 after any stop.
int run_job();

}  // namespace plumcor
