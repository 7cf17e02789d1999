#include "solution/grid_eval.hpp"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "solution/gauss.hpp"
#include "solution/node_terms.hpp"

namespace plumcor {

namespace {

// Node sums are formed for blocks of z values at once, so that the partial
// sums of a block stay in registers while the nodes stream past; z rows are
// padded to a whole number of the smallest block, this many values.
constexpr int kZBlock = 8;
constexpr std::size_t kStride = kMaxGauss;

// The terms of one (x, y) column: lane 1 holds nodes 1, 3, 5, ..., lane 2
// nodes 2, 4, 6, ... (surviving nodes only, in node order), p their (w*a)*Y;
// an odd last node, when present, has its Z row at zlast.
struct ColumnTerms {
    const double* zf;  // Z by node, rows of nzp
    std::size_t nzp;
    const int* lane1;
    const double* p1;
    int n1;
    const int* lane2;
    const double* p2;
    int n2;
    const double* zlast;  // null without an odd last node
    double plast;
    double* sums;  // nzp sums out
};

// The sums of NV vectors V of z values from kb: each lane is one z value,
// and forms s1 = s1 + p*Z over lane 1, s2 likewise over lane 2, then
// s1 + s2 and the odd last term, exactly as the scalar sum of one node.
template <typename V, int NV>
[[gnu::always_inline]] inline void block_sums(const ColumnTerms& c, std::size_t kb) {
    constexpr std::size_t L = sizeof(V) / sizeof(double);
    V s1[NV];
    V s2[NV];
    for (int q = 0; q < NV; ++q) {
        s1[q] = V{};
        s2[q] = V{};
    }
    const int common = std::min(c.n1, c.n2);
    int m = 0;
    for (; m < common; ++m) {
        const double* z1 = c.zf + static_cast<std::size_t>(c.lane1[m]) * c.nzp + kb;
        const double* z2 = c.zf + static_cast<std::size_t>(c.lane2[m]) * c.nzp + kb;
        const double q1 = c.p1[m];
        const double q2 = c.p2[m];
#pragma GCC unroll 8
        for (int q = 0; q < NV; ++q) {
            V a;
            V b;
            std::memcpy(&a, z1 + q * L, sizeof a);
            std::memcpy(&b, z2 + q * L, sizeof b);
            s1[q] = s1[q] + q1 * a;
            s2[q] = s2[q] + q2 * b;
        }
    }
    for (int m1 = m; m1 < c.n1; ++m1) {
        const double* z1 = c.zf + static_cast<std::size_t>(c.lane1[m1]) * c.nzp + kb;
        const double q1 = c.p1[m1];
#pragma GCC unroll 8
        for (int q = 0; q < NV; ++q) {
            V a;
            std::memcpy(&a, z1 + q * L, sizeof a);
            s1[q] = s1[q] + q1 * a;
        }
    }
    for (int m2 = m; m2 < c.n2; ++m2) {
        const double* z2 = c.zf + static_cast<std::size_t>(c.lane2[m2]) * c.nzp + kb;
        const double q2 = c.p2[m2];
#pragma GCC unroll 8
        for (int q = 0; q < NV; ++q) {
            V b;
            std::memcpy(&b, z2 + q * L, sizeof b);
            s2[q] = s2[q] + q2 * b;
        }
    }
#pragma GCC unroll 8
    for (int q = 0; q < NV; ++q) {
        V s = s1[q] + s2[q];
        if (c.zlast) {
            V z;
            std::memcpy(&z, c.zlast + kb + q * L, sizeof z);
            s = s + c.plast * z;
        }
        std::memcpy(c.sums + kb + q * L, &s, sizeof s);
    }
}

// Blocks of NV vectors, enough independent sums to keep the adder busy,
// then the rest of the padded column in blocks of kZBlock.
template <typename V, int NV>
[[gnu::always_inline]] inline void column_sums_with(const ColumnTerms& c) {
    constexpr std::size_t L = sizeof(V) / sizeof(double);
    constexpr std::size_t kBlock = L * NV;
    static_assert(kZBlock % L == 0);
    std::size_t kb = 0;
    for (; kb + kBlock <= c.nzp; kb += kBlock) block_sums<V, NV>(c, kb);
    if constexpr (kBlock > kZBlock) {
        for (; kb < c.nzp; kb += kZBlock) block_sums<V, kZBlock / L>(c, kb);
    }
}

using Vec2 = double __attribute__((vector_size(16)));
using Vec4 = double __attribute__((vector_size(32)));
using Vec8 = double __attribute__((vector_size(64)));

__attribute__((target("avx512f"))) void column_sums_512(const ColumnTerms& c) { column_sums_with<Vec8, 4>(c); }
__attribute__((target("avx2"))) void column_sums_256(const ColumnTerms& c) { column_sums_with<Vec4, 4>(c); }
void column_sums_128(const ColumnTerms& c) { column_sums_with<Vec2, 4>(c); }

using ColumnSums = void (*)(const ColumnTerms&);

ColumnSums widest_column_sums() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return column_sums_512;
    if (__builtin_cpu_supports("avx2")) return column_sums_256;
    return column_sums_128;
}

std::atomic<ColumnSums>& chosen_column_sums() {
    static std::atomic<ColumnSums> chosen{widest_column_sums()};
    return chosen;
}

}  // namespace

namespace detail {

bool use_node_sum_width(int bits) {
    __builtin_cpu_init();
    ColumnSums f = nullptr;
    if (bits == 0) f = widest_column_sums();
    if (bits == 128) f = column_sums_128;
    if (bits == 256 && __builtin_cpu_supports("avx2")) f = column_sums_256;
    if (bits == 512 && __builtin_cpu_supports("avx512f")) f = column_sums_512;
    if (!f) return false;
    chosen_column_sums().store(f, std::memory_order_relaxed);
    return true;
}

}  // namespace detail

GridEvaluator::GridEvaluator(const SolutionBlock& blk, std::span<const double> xaxis,
                             std::span<const double> yaxis, std::span<const double> zaxis)
    : blk_(blk),
      xs_(xaxis.begin(), xaxis.end()),
      ys_(yaxis.begin(), yaxis.end()),
      zs_(zaxis.begin(), zaxis.end()),
      nx_(static_cast<int>(xaxis.size())),
      ny_(static_cast<int>(yaxis.size())),
      nz_(static_cast<int>(zaxis.size())),
      nz_padded_((nz_ + kZBlock - 1) / kZBlock * kZBlock),
      quad_row_(xaxis.size()),
      xf_(xaxis.size()),
      exponent_(xaxis.size() * kStride),
      wa_(xaxis.size() * kStride),
      alive_(xaxis.size() * kStride),
      yf_(yaxis.size() * kStride),
      // The padding z values past nz_ stay 0 and their sums are never read.
      zf_(kStride * static_cast<std::size_t>(nz_padded_), 0.0) {}

GridEvaluator::Worker GridEvaluator::make_worker() const {
    Worker worker;
    worker.lane1.resize(kMaxGauss / 2);
    worker.lane2.resize(kMaxGauss / 2);
    worker.p1.resize(kMaxGauss / 2);
    worker.p2.resize(kMaxGauss / 2);
    worker.sums.resize(static_cast<std::size_t>(nz_padded_));
    worker.folded_wa.resize(kMaxGauss);
    worker.folded_alive.resize(kMaxGauss);
    return worker;
}

void GridEvaluator::evaluate(double t, double c0, std::span<double> out) {
    assert(out.size() == static_cast<std::size_t>(nx_) * ny_ * nz_);
    set_time(t);
    evaluate_columns(0, nx_, c0, out);
}

void GridEvaluator::evaluate_columns(int ix_begin, int ix_end, double c0, std::span<double> out) const {
    assert(0 <= ix_begin && ix_begin <= ix_end && ix_end <= nx_);
    assert(out.size() == static_cast<std::size_t>(ix_end - ix_begin) * ny_ * nz_);
    if (!positive_time_) {
        for (double& v : out) v = c0 * 0.0;
        return;
    }
    Worker worker = make_worker();
    sum_rows(ix_begin, ix_end, c0, worker, out);
}

void GridEvaluator::set_time(double t) {
    positive_time_ = false;
    if (!(t > 0.0)) return;
    const double gt = detail::source_exponent(blk_, t);
    gt_ = gt;
    outer_ = std::exp(gt);
    bool any_quadrature = false;
    for (int ix = 0; ix < nx_; ++ix) {
        quad_row_[ix] = detail::needs_quadrature(xs_[ix]);
        any_quadrature = any_quadrature || quad_row_[ix];
    }
    n_ = 0;
    // As with PATCH_CONC, an order that is not held stops the run only when
    // some node actually needs the quadrature.
    if (any_quadrature && ny_ > 0 && nz_ > 0) {
        DGAUSS(0.0, std::sqrt(std::sqrt(t)), u_, w_, blk_.NGAUSS);
        n_ = blk_.NGAUSS;
        prepare(gt, detail::outer_unusable(outer_));
    }
    positive_time_ = true;
}

void GridEvaluator::prepare(double gt, bool folded) {
    folded_ = folded;
    const double d = blk_.LAMBDA - blk_.GAMMA;
    const double k = 4.0 * blk_.DISPX;
    for (int i = 0; i < n_; ++i) {
        const detail::GaussNode g = detail::gauss_node(u_[i], w_[i]);
        u3_[i] = g.u3;
        tau_[i] = g.tau;
        used_[i] = 0;
    }
    // The exponential factor depends on x and the node only.
    for (int ix = 0; ix < nx_; ++ix) {
        if (!quad_row_[ix]) continue;
        const double x = xs_[ix];
        xf_[ix] = detail::x_factor(x, blk_.DISPX);
        double* e_row = &exponent_[ix * kStride];
        double* wa_row = &wa_[ix * kStride];
        std::uint8_t* alive_row = &alive_[ix * kStride];
        for (int i = 0; i < n_; ++i) {
            const double e = detail::node_exponent(d, k, blk_.VR, x, tau_[i]);
            e_row[i] = e;
            if (detail::cut_off(e)) {
                alive_row[i] = 0;
                wa_row[i] = 0.0;
                continue;
            }
            // A node that survives the cut-off may be needed by the folded
            // form even where its ordinary factor is 0.
            used_[i] = 1;
            const double a = folded ? detail::folded_exp_factor(gt, e, u3_[i])
                                    : detail::exp_factor(e, u3_[i]);
            alive_row[i] = a != 0.0;
            wa_row[i] = w_[i] * a;
        }
    }
    // Y depends on y and the node only, Z on z and the node only; nodes cut
    // off at every x are never read.
    for (int i = 0; i < n_; ++i) {
        if (!used_[i]) continue;
        const double sy = detail::spread(blk_.DISPY, tau_[i]);
        for (int j = 0; j < ny_; ++j) {
            const double y = ys_[j];
            yf_[j * kStride + i] = detail::y_factor(std::fabs(y) <= detail::kCentreLineY, blk_.HALFW,
                                                    y - blk_.HALFW, y + blk_.HALFW, sy);
        }
        const double sz = detail::spread(blk_.DISPZ, tau_[i]);
        double* z_row = &zf_[i * static_cast<std::size_t>(nz_padded_)];
        for (int kz = 0; kz < nz_; ++kz) {
            const double z = zs_[kz];
            z_row[kz] = detail::z_factor(z - blk_.Z2, z - blk_.Z1, sz);
        }
    }
}

void GridEvaluator::sum_rows(int ix_begin, int ix_end, double c0, Worker& worker,
                             std::span<double> out) const {
    const std::size_t nzp = static_cast<std::size_t>(nz_padded_);
    // out holds the columns [ix_begin, ix_end) only.
    const int nc = ix_end - ix_begin;
    const std::size_t plane = static_cast<std::size_t>(nc) * ny_;
    const ColumnSums column_sums = chosen_column_sums().load(std::memory_order_relaxed);
    const int paired = n_ - n_ % 2;
    worker.folded_row = -1;

    for (int ix = ix_begin; ix < ix_end; ++ix) {
        if (!quad_row_[ix]) {
            for (int kz = 0; kz < nz_; ++kz) {
                for (int j = 0; j < ny_; ++j) {
                    out[(ix - ix_begin) + nc * static_cast<std::size_t>(j) + plane * kz] =
                        c0 * detail::source_plane_value(blk_, ys_[j], zs_[kz], outer_);
                }
            }
            continue;
        }
        const double* wa = &wa_[ix * kStride];
        const std::uint8_t* alive = &alive_[ix * kStride];
        // The lanes of the node sum: nodes 1, 3, 5, ... and 2, 4, 6, ...
        // (0-based even and odd), each in node order, dropped nodes left out;
        // an odd last node is added alone after the lanes are combined.
        int* lane1 = worker.lane1.data();
        int* lane2 = worker.lane2.data();
        int n1 = 0;
        int n2 = 0;
        for (int i = 0; i < paired; i += 2) {
            if (alive[i]) lane1[n1++] = i;
            if (alive[i + 1]) lane2[n2++] = i + 1;
        }
        const bool last = paired < n_ && alive[paired];
        const double xf = xf_[ix];
        double* p1 = worker.p1.data();
        double* p2 = worker.p2.data();
        double* sums = worker.sums.data();
        const double* zlast = last ? &zf_[paired * nzp] : nullptr;

        for (int j = 0; j < ny_; ++j) {
            const double* yrow = &yf_[j * kStride];
            // (w*a)*Y, the first two factors of every term of this column.
            for (int m = 0; m < n1; ++m) p1[m] = wa[lane1[m]] * yrow[lane1[m]];
            for (int m = 0; m < n2; ++m) p2[m] = wa[lane2[m]] * yrow[lane2[m]];
            const double plast = last ? wa[paired] * yrow[paired] : 0.0;

            column_sums(ColumnTerms{zf_.data(), nzp, lane1, p1, n1, lane2, p2, n2, zlast, plast, sums});

            double* col = &out[(ix - ix_begin) + nc * static_cast<std::size_t>(j)];
            for (int kz = 0; kz < nz_; ++kz) {
                const double s = sums[kz];
                double c;
                if (folded_) {
                    c = detail::folded_value(xf, s);
                } else if (std::isfinite(s)) {
                    c = detail::ordinary_value(outer_, xf, s);
                } else {
                    c = detail::folded_value(xf, folded_node_sum(ix, j, kz, worker));
                }
                col[plane * kz] = c0 * c;
            }
        }
    }
}

// The folded sum of one node whose ordinary sum overflowed, term for term as
// PATCH_CONC forms it; the folded factors of the row are kept for the other
// nodes of the row, which usually overflow as well.
double GridEvaluator::folded_node_sum(int ix, int j, int k, Worker& worker) const {
    const double gt = gt_;
    double* wa = worker.folded_wa.data();
    std::uint8_t* alive = worker.folded_alive.data();
    if (worker.folded_row != ix) {
        const double* e_row = &exponent_[ix * kStride];
        for (int i = 0; i < n_; ++i) {
            if (detail::cut_off(e_row[i])) {
                alive[i] = 0;
                continue;
            }
            const double a = detail::folded_exp_factor(gt, e_row[i], u3_[i]);
            alive[i] = a != 0.0;
            wa[i] = w_[i] * a;
        }
        worker.folded_row = ix;
    }
    const std::size_t nzp = static_cast<std::size_t>(nz_padded_);
    const double* yrow = &yf_[j * kStride];
    auto term = [&](int i) { return (wa[i] * yrow[i]) * zf_[i * nzp + k]; };
    const int paired = n_ - n_ % 2;
    double s1 = 0.0;
    double s2 = 0.0;
    for (int i = 0; i < paired; i += 2) {
        if (alive[i]) s1 = s1 + term(i);
        if (alive[i + 1]) s2 = s2 + term(i + 1);
    }
    double s = s1 + s2;
    if (paired < n_ && alive[paired]) s = s + term(paired);
    return s;
}

void evaluate_points(const SolutionBlock& blk, double t, double c0, std::span<const double> xs,
                     std::span<const double> ys, std::span<const double> zs, std::span<double> out) {
    assert(ys.size() == xs.size() && zs.size() == xs.size() && out.size() == xs.size());
    if (!(t > 0.0)) {
        for (double& v : out) v = c0 * 0.0;
        return;
    }
    const bool any_quadrature = std::any_of(xs.begin(), xs.end(), detail::needs_quadrature);
    std::array<double, kMaxGauss> u{};
    std::array<double, kMaxGauss> w{};
    if (any_quadrature) DGAUSS(0.0, std::sqrt(std::sqrt(t)), u, w, blk.NGAUSS);
    const double outer = std::exp(detail::source_exponent(blk, t));
    for (std::size_t p = 0; p < xs.size(); ++p) {
        const double c =
            detail::needs_quadrature(xs[p])
                ? detail::point_value(blk, u.data(), w.data(), blk.NGAUSS, xs[p], ys[p], zs[p], t)
                : detail::source_plane_value(blk, ys[p], zs[p], outer);
        out[p] = c0 * c;
    }
}

}  // namespace plumcor
