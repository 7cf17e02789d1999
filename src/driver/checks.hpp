#pragma once
// The checks on the deck's values and the counts derived from them. Each
// returns only when its values pass; otherwise it throws RunStop with the
// one-line message of the first test that fails.
#include <array>
#include <cstdint>
#include <optional>

#include "driver/problem_input.hpp"

namespace plumcor {

void CHECK_GAUSS(std::int32_t ngauss);
void CHECK_SOURCE(double c0);
// Values for which the solution can only give infinite, NaN or negative
// concentrations; runs right after CHECK_SOURCE.
void CHECK_TRANSPORT(const ProblemInput& in);
void CHECK_OBS(std::int32_t nobs, const std::array<double, kMaxObs>& xobs, double tmin, double tmax,
               double delt);
void CHECK_GRID_LIMITS(double xmin, double xmax, double dx, double ymin, double ymax, double dy,
                       double zmin, double zmax, double dz);
void CHECK_GRID_COUNTS(std::int32_t nt, const std::array<double, kMaxTimes>& times, std::int32_t nx,
                       std::int32_t ny, std::int32_t nz);

// trunc((hi - lo) / step + 0.5) + 1, or nothing when that is not a 32-bit
// count (including a quotient that is not a number).
std::optional<std::int32_t> node_count(double lo, double hi, double step);

// The number of breakthrough times; throws "Too many breakthrough times
// requested" when it cannot be counted in 32 bits.
std::int32_t breakthrough_count(double tmin, double tmax, double delt);

}  // namespace plumcor
