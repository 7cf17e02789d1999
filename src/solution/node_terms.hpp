#pragma once
// The pieces of the point concentration that PATCH_CONC, evaluate_points and
// GridEvaluator share. Every concentration the program reports must come out
// bit-identical whichever of them computed it, so each quantity is formed in
// exactly one place, here, and the callers only decide how often to form it.
// -ffp-contract=off keeps the compiler from fusing any product and sum below.
#include <cfloat>
#include <cmath>

#include "solution/solution_block.hpp"

namespace plumcor::detail {

// x at or below this (an absolute length in deck units) is the source plane,
// where the concentration is the source's own.
inline constexpr double kSourcePlaneX = 1.0e-6;
// |y| at or below this takes the centre-line form of the y factor.
inline constexpr double kCentreLineY = 1.0e-6;
// A node whose exponent E exceeds this is dropped: exp(-50) is about 1.9e-22,
// far below what any result can show.
inline constexpr double kCutoffExponent = 50.0;
inline constexpr double kPi = 3.141592653589793;

inline bool needs_quadrature(double x) { return !(x <= kSourcePlaneX); }

// C/C0 on the source plane: the source concentration on the patch, edges
// included, and nothing off it. `outer` is exp(-GAMMA*t).
inline double source_plane_value(const SolutionBlock& blk, double y, double z, double outer) {
    return (std::fabs(y) <= blk.HALFW && blk.Z1 <= z && z <= blk.Z2) ? outer : 0.0;
}

// -GAMMA*t: the exponent of the source decay, shared by the outer factor and
// the folded node exponent.
inline double source_exponent(const SolutionBlock& blk, double t) { return -blk.GAMMA * t; }

// The quadrature runs over u on [0, t^(1/4)] (tau = u^4), so tau^(-3/2) dtau
// becomes 4 u^(-3) du: the per-node divisor is u^3, the 4 goes into the
// final product.
struct GaussNode {
    double w;    // weight
    double u3;   // u2*u
    double tau;  // u2*u2
};
inline GaussNode gauss_node(double u, double w) {
    const double u2 = u * u;
    return {w, u2 * u, u2 * u2};
}

// E(tau) = d*tau + (x - v*tau)^2 / (k*tau), d = LAMBDA - GAMMA, k = 4*DISPX.
inline double node_exponent(double d, double k, double vr, double x, double tau) {
    const double q = x - vr * tau;
    return d * tau + q * q / (k * tau);
}

// Written as a negated <= so that a NaN exponent (0/0 once tau underflows)
// drops the node instead of poisoning the sum.
inline bool cut_off(double e) { return !(e <= kCutoffExponent); }

// The exponential factor of a node that survives the cut-off, ordinary and
// folded with the source exponent gt = -GAMMA*t (see outer_unusable).
inline double exp_factor(double e, double u3) { return std::exp(-e) / u3; }
// A folded exponent that is not a number (-inf + inf: the source decay and
// the node's exponent both overflowed) belongs to a node whose source has
// long decayed; it adds nothing, like a node past the cut-off.
inline double folded_exp_factor(double gt, double e, double u3) {
    const double f = gt - e;
    return f == f ? std::exp(f) / u3 : 0.0;
}

// 2*sqrt(D*tau): the spreading length of the erfc arguments along one axis.
inline double spread(double disp, double tau) { return 2.0 * std::sqrt(disp * tau); }

// The C library's erfc returns exactly 0 from 28 up and exactly 2 from -6
// down (its own cut-offs; the tests check both against the library over many
// arguments), so those arguments need no call. Far-field y and z arguments
// land there often.
inline constexpr double kErfcZeroFrom = 28.0;
inline constexpr double kErfcTwoBelow = -6.0;
inline double erfc_value(double a) {
    if (a >= kErfcZeroFrom) return 0.0;
    if (a <= kErfcTwoBelow) return 2.0;
    return std::erfc(a);
}

// A zero distance is a zero argument even where the spreading length has
// underflowed to 0 (0/0 would be NaN).
inline double erfc_arg(double distance, double s) { return distance == 0.0 ? 0.0 : distance / s; }

// Y(tau). On the centre line erfc(-a) - erfc(a) is written 2*(1 - erfc(a)),
// which saves one erfc.
inline double y_factor(bool centre, double halfw, double ym, double yp, double sy) {
    if (centre) return 2.0 * (1.0 - erfc_value(erfc_arg(halfw, sy)));
    return erfc_value(erfc_arg(ym, sy)) - erfc_value(erfc_arg(yp, sy));
}

// Z(tau), zt = z - Z2, zb = z - Z1.
inline double z_factor(double zt, double zb, double sz) {
    return erfc_value(erfc_arg(zt, sz)) - erfc_value(erfc_arg(zb, sz));
}

// x / (8*sqrt(pi*Dx)).
inline double x_factor(double x, double dispx) { return x / (8.0 * std::sqrt(kPi * dispx)); }

// When the source has decayed past what a double holds (gamma > lambda, late),
// exp(-GAMMA*t) underflows while the node factors exp(-E) overflow, and the
// ordinary product gives 0 or NaN for a finite concentration. Then the two
// exponents are folded into one per node. Everywhere else the ordinary form
// is kept, bit for bit.
inline bool outer_unusable(double outer) { return !(outer >= DBL_MIN && outer <= DBL_MAX); }

// The final products, left to right: exp(-GAMMA*t) * xf * (4*S), or with the
// source decay already inside the folded sum, xf * (4*S).
// A sum of exactly 0 (every node cut off) is a concentration of 0 even where
// xf has overflowed (x near the largest double, Dx near the smallest), which
// would otherwise make 0 * inf = NaN.
inline double ordinary_value(double outer, double xf, double sum) {
    return sum == 0.0 ? 0.0 : outer * xf * (4.0 * sum);
}
inline double folded_value(double xf, double sum) { return sum == 0.0 ? 0.0 : xf * (4.0 * sum); }

// C/C0 at one point off the source plane at a time t > 0, from the n Gauss
// nodes u and weights w of [0, t^(1/4)]. Used by PATCH_CONC and
// evaluate_points.
double point_value(const SolutionBlock& blk, const double* u, const double* w, int n, double x,
                   double y, double z, double t);

}  // namespace plumcor::detail
