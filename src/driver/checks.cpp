#include "driver/checks.hpp"

#include <cmath>

#include "driver/run_stop.hpp"

namespace plumcor {

namespace {

[[noreturn]] void stop(const char* message) { throw RunStop{message, "", 1}; }

}  // namespace

void CHECK_GAUSS(std::int32_t ngauss) {
    if (ngauss <= 0) stop("No Gauss points requested");
    if (ngauss > 256) stop("Too many Gauss points requested");
}

void CHECK_SOURCE(double c0) {
    if (c0 <= 0) stop("PATCH CONCENTRATION MUST BE > 0.0");
}

void CHECK_TRANSPORT(const ProblemInput& in) {
    if (in.R <= 0) stop("RETARDATION FACTOR MUST BE > 0.0");
    // Formed as in the solution's set-up: product first, then the sum.
    if (in.ALPHAL * in.V + in.DE <= 0 || in.ALPHATH * in.V + in.DE <= 0 || in.ALPHATV * in.V + in.DE <= 0)
        stop("DISPERSION COEFFICIENTS MUST BE > 0.0");
    if (in.WIDTH < 0) stop("SOURCE WIDTH MUST BE >= 0.0");
    if (in.Z2 < in.Z1) stop("TOP OF SOURCE Z2 MUST BE >= Z1");
}

void CHECK_OBS(std::int32_t nobs, const std::array<double, kMaxObs>& xobs, double tmin, double tmax,
               double delt) {
    if (nobs > kMaxObs) stop("Too many observation points requested");
    for (int i = 0; i < nobs; ++i)
        if (xobs[static_cast<std::size_t>(i)] < 0) stop("Invalid x-location");
    if (tmin < 0) stop("tMIN must be >= 0");
    if (tmin > tmax) stop("tMAX must be >= tMIN");
    if (delt <= 0) stop("DELt must be > 0");
}

void CHECK_GRID_LIMITS(double xmin, double xmax, double dx, double ymin, double ymax, double dy,
                       double zmin, double zmax, double dz) {
    if (xmin < 0) stop("XMIN must be >= 0");
    if (xmin > xmax) stop("XMAX must be >= XMIN");
    if (dx <= 0) stop("DX must be > 0");
    if (ymin > ymax) stop("YMAX must be >= YMIN");
    if (dy <= 0) stop("DY must be > 0");
    if (zmin > zmax) stop("ZMAX must be >= ZMIN");
    if (dz <= 0) stop("DZ must be > 0");
}

void CHECK_GRID_COUNTS(std::int32_t nt, const std::array<double, kMaxTimes>& times, std::int32_t nx,
                       std::int32_t ny, std::int32_t nz) {
    if (nt > kMaxTimes) stop("Too many times requested");
    for (int i = 0; i < nt; ++i)
        if (times[static_cast<std::size_t>(i)] < 0) stop("Invalid time value");
    if (nx > 500) stop("Too many X points requested");
    if (nx < 1) stop("No X points requested");
    if (ny > 251) stop("Too many Y points requested");
    if (ny < 1) stop("No Y points requested");
    if (nz > 80) stop("Too many Z points requested");
    if (nz < 1) stop("No Z points requested");
}

std::optional<std::int32_t> node_count(double lo, double hi, double step) {
    const double q = (hi - lo) / step + 0.5;
    // trunc(q) + 1 must itself be a 32-bit count; a NaN fails both tests.
    if (!(q < 2147483647.0 && q > -2147483649.0)) return std::nullopt;
    return static_cast<std::int32_t>(std::trunc(q)) + 1;
}

std::int32_t breakthrough_count(double tmin, double tmax, double delt) {
    const auto n = node_count(tmin, tmax, delt);
    if (!n) stop("Too many breakthrough times requested");
    return *n;
}

}  // namespace plumcor
