#include "solution/patch_conc.hpp"

#include <cmath>

#include "solution/gauss.hpp"
#include "solution/node_terms.hpp"

namespace plumcor {

namespace detail {

namespace {

// The per-call constants of one point.
struct PointConstants {
    double d;      // LAMBDA - GAMMA
    double k;      // 4*DISPX
    double ym;     // y - HALFW
    double yp;     // y + HALFW
    double zt;     // z - Z2
    double zb;     // z - Z1
    bool centre;   // |y| <= 1e-6
};

// The weighted sum over the nodes. Lane 1 takes nodes 1, 3, 5, ..., lane 2
// nodes 2, 4, 6, ...; the lanes are added after the loop and an odd last
// node is added alone at the end. GridEvaluator forms the same sums from
// tables in the same order, which is what keeps the two bit-identical.
// A node dropped by the cut-off, or whose exponential factor is 0, adds
// nothing, and its erfc values are never needed.
template <bool Folded>
double node_sum(const SolutionBlock& blk, const PointConstants& pc, const double* u, const double* w,
                int n, double x, double gt) {
    auto term = [&](int i, double& s) {
        const GaussNode g = gauss_node(u[i], w[i]);
        const double e = node_exponent(pc.d, pc.k, blk.VR, x, g.tau);
        if (cut_off(e)) return;
        const double a = Folded ? folded_exp_factor(gt, e, g.u3) : exp_factor(e, g.u3);
        if (a == 0.0) return;
        const double yf = y_factor(pc.centre, blk.HALFW, pc.ym, pc.yp, spread(blk.DISPY, g.tau));
        const double zf = z_factor(pc.zt, pc.zb, spread(blk.DISPZ, g.tau));
        s = s + ((g.w * a) * yf) * zf;
    };
    double s1 = 0.0;
    double s2 = 0.0;
    const int paired = n - n % 2;
    for (int i = 0; i < paired; i += 2) {
        term(i, s1);
        term(i + 1, s2);
    }
    double s = s1 + s2;
    if (paired < n) term(paired, s);
    return s;
}

}  // namespace

double point_value(const SolutionBlock& blk, const double* u, const double* w, int n, double x,
                   double y, double z, double t) {
    const PointConstants pc{blk.LAMBDA - blk.GAMMA, 4.0 * blk.DISPX, y - blk.HALFW, y + blk.HALFW,
                            z - blk.Z2,             z - blk.Z1,      std::fabs(y) <= kCentreLineY};
    const double gt = source_exponent(blk, t);
    const double outer = std::exp(gt);
    const double xf = x_factor(x, blk.DISPX);
    if (!outer_unusable(outer)) {
        const double s = node_sum<false>(blk, pc, u, w, n, x, gt);
        if (std::isfinite(s)) return ordinary_value(outer, xf, s);
    }
    return folded_value(xf, node_sum<true>(blk, pc, u, w, n, x, gt));
}

}  // namespace detail

double PATCH_CONC(SolutionBlock& blk, double x, double y, double z, double t) {
    // t <= 0 comes first: no concentration yet, even on the patch itself.
    if (!(t > 0.0)) return 0.0;
    if (!detail::needs_quadrature(x)) {
        return detail::source_plane_value(blk, y, z, std::exp(detail::source_exponent(blk, t)));
    }
    // The fourth root as two square roots, so every evaluator of the same t
    // gets the same interval and hence the same nodes.
    DGAUSS(0.0, std::sqrt(std::sqrt(t)), blk.XGAUSS, blk.WGAUSS, blk.NGAUSS);
    return detail::point_value(blk, blk.XGAUSS.data(), blk.WGAUSS.data(), blk.NGAUSS, x, y, z, t);
}

}  // namespace plumcor
