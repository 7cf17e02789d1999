#pragma once
// Gauss-Legendre nodes and weights for the nine orders the program holds.
#include <span>

namespace plumcor {

bool gauss_order_supported(int n);

// Fills x[0..n) and w[0..n) with the n-point rule on [a, b] (a <= -1e20 or
// b >= 1e20 selects the logarithmic half-line mappings). Elements from n on
// are left untouched. On a reversed interval, an unsupported order or a
// doubly infinite interval it throws RunStop carrying the console report
// (status 1, no standard-error message).
void DGAUSS(double a, double b, std::span<double> x, std::span<double> w, int n);

}  // namespace plumcor
