#pragma once
// Results that would be subnormal are flushed to zero, as the program's
// numbers have always been computed. The mode is per thread: every thread
// that computes concentrations sets it first.
#include <xmmintrin.h>

namespace plumcor {

inline void enable_flush_to_zero() { _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_ON); }

}  // namespace plumcor
