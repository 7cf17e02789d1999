#pragma once
// Helpers of the solution tests: a block from physical parameters, an
// evaluation of the concentration integral that shares nothing with the
// program's quadrature (adaptive Simpson over tau itself, in long double),
// bitwise comparison and a scoped flush-to-zero mode.
#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "driver/fp_mode.hpp"
#include "driver/problem_input.hpp"
#include "solution/solution_block.hpp"

namespace plumcor::test {

struct Physics {
    double V, alphaL, alphaTh, alphaTv, De, lambda, R, W, Z1, Z2, gamma;
};

inline ProblemInput deck(const Physics& p, std::int32_t ngauss) {
    ProblemInput in;
    in.V = p.V;
    in.ALPHAL = p.alphaL;
    in.ALPHATH = p.alphaTh;
    in.ALPHATV = p.alphaTv;
    in.DE = p.De;
    in.LAMBDA = p.lambda;
    in.R = p.R;
    in.WIDTH = p.W;
    in.Z1 = p.Z1;
    in.Z2 = p.Z2;
    in.GAMMA = p.gamma;
    in.NGAUSS = ngauss;
    in.C0 = 1.0;
    return in;
}

inline SolutionBlock block(const Physics& p, std::int32_t ngauss) {
    return make_solution_block(deck(p, ngauss));
}

// C/C0 = x/(8 sqrt(pi Dx)) * Int_0^t tau^(-3/2) exp(-gamma t - (lambda - gamma) tau
//        - (x - v tau)^2 / (4 Dx tau)) Y(tau) Z(tau) dtau,
// with the two exponentials combined so that no factor over- or underflows
// on its own. Coefficients are derived here in long double from the
// physical parameters.
class ReferenceIntegral {
public:
    ReferenceIntegral(const Physics& p, long double x, long double y, long double z, long double t)
        : x_(x), y_(y), z_(z), t_(t) {
        v_ = static_cast<long double>(p.V) / p.R;
        dx_ = (static_cast<long double>(p.alphaL) * p.V + p.De) / p.R;
        dy_ = (static_cast<long double>(p.alphaTh) * p.V + p.De) / p.R;
        dz_ = (static_cast<long double>(p.alphaTv) * p.V + p.De) / p.R;
        lambda_ = p.lambda;
        gamma_ = p.gamma;
        h_ = static_cast<long double>(p.W) / 2;
        z1_ = p.Z1;
        z2_ = p.Z2;
    }

    long double value() const {
        // A composite first pass fixes the scale of the tolerance; then each
        // panel is refined adaptively.
        constexpr int kPanels = 4096;
        const long double step = t_ / kPanels;
        long double coarse = 0;
        for (int i = 0; i < kPanels; ++i) {
            const long double a = i * step;
            const long double b = a + step;
            coarse += (b - a) / 6 * (f(a) + 4 * f((a + b) / 2) + f(b));
        }
        const long double eps = 1e-15L * std::fabs(coarse) / kPanels + 1e-300L;
        long double sum = 0;
        for (int i = 0; i < kPanels; ++i) {
            const long double a = i * step;
            const long double b = (i + 1 == kPanels) ? t_ : a + step;
            const long double fa = f(a);
            const long double fb = f(b);
            const long double fm = f((a + b) / 2);
            sum += adapt(a, b, fa, fm, fb, (b - a) / 6 * (fa + 4 * fm + fb), eps, 40);
        }
        const long double pi = 3.141592653589793238462643383279502884L;
        return x_ / (8 * std::sqrt(pi * dx_)) * sum;
    }

private:
    long double f(long double tau) const {
        if (tau <= 0) return 0;  // the integrand vanishes faster than any power there (x > 0)
        const long double q = x_ - v_ * tau;
        const long double expo = -gamma_ * t_ - (lambda_ - gamma_) * tau - q * q / (4 * dx_ * tau);
        const long double sy = 2 * std::sqrt(dy_ * tau);
        const long double sz = 2 * std::sqrt(dz_ * tau);
        const long double yf = std::erfc((y_ - h_) / sy) - std::erfc((y_ + h_) / sy);
        const long double zf = std::erfc((z_ - z2_) / sz) - std::erfc((z_ - z1_) / sz);
        return std::exp(expo) / (tau * std::sqrt(tau)) * yf * zf;
    }

    long double adapt(long double a, long double b, long double fa, long double fm, long double fb,
                      long double whole, long double eps, int depth) const {
        const long double m = (a + b) / 2;
        const long double lm = (a + m) / 2;
        const long double rm = (m + b) / 2;
        const long double flm = f(lm);
        const long double frm = f(rm);
        const long double left = (m - a) / 6 * (fa + 4 * flm + fm);
        const long double right = (b - m) / 6 * (fm + 4 * frm + fb);
        const long double delta = left + right - whole;
        if (depth <= 0 || std::fabs(delta) <= 15 * eps) return left + right + delta / 15;
        return adapt(a, m, fa, flm, fm, left, eps / 2, depth - 1) +
               adapt(m, b, fm, frm, fb, right, eps / 2, depth - 1);
    }

    long double x_, y_, z_, t_;
    long double v_, dx_, dy_, dz_, lambda_, gamma_, h_, z1_, z2_;
};

// Bit-for-bit equality of doubles (NaN payloads and signed zeros included).
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The run computes with subnormal results flushed to zero; identities must
// hold in that mode as well as in the default one. Restores the caller's mode.
class FlushToZero {
public:
    explicit FlushToZero(bool on) : saved_(_mm_getcsr()) {
        if (on) enable_flush_to_zero();
    }
    ~FlushToZero() { _mm_setcsr(saved_); }
    FlushToZero(const FlushToZero&) = delete;
    FlushToZero& operator=(const FlushToZero&) = delete;

private:
    unsigned saved_;
};

}  // namespace plumcor::test
