#include "solution/breakthrough_eval.hpp"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "solution/gauss.hpp"
#include "solution/grid_eval.hpp"
#include "solution/node_terms.hpp"

namespace plumcor {

namespace {

// Blocks of the narrowest vector path over the largest order.
constexpr int kMaxBlocks = kMaxGauss / 4;
// Times are handed to the threads in chunks of this many (in whatever order
// the threads come for them: each time's values depend on the time alone).
constexpr std::size_t kChunk = 16;

struct alignas(64) NodeRow {
    double v[kMaxGauss];
};
struct alignas(64) MaskRow {
    std::int64_t v[kMaxGauss];
};

// The points reduced to what the node loops need: the distinct x values off
// the source plane, the distinct forms of the y and z factors, and per point
// which of them it uses. Points at equal x share exp(-E), at equal y (or
// anywhere in the centre-line band) share Y, at equal z share Z; the shared
// value is the very value each would have formed.
struct Geometry {
    double d = 0, k = 0, vr = 0, dispy = 0, dispz = 0, halfw = 0;  // node_terms' per-call constants
    std::vector<double> x;   // distinct x off the source plane
    std::vector<double> xf;  // x / (8 sqrt(pi Dx)) of each
    struct YForm {
        bool centre;
        double y, ym, yp;
        std::vector<int> xs;  // the x values of the points using the form
    };
    struct ZForm {
        double z, zt, zb;
        std::vector<int> xs;
    };
    std::vector<YForm> yforms;
    std::vector<ZForm> zforms;
    struct QuadPoint {
        std::size_t p;
        int xi, yi, zi;
    };
    std::vector<QuadPoint> quad;      // points off the source plane
    std::vector<std::size_t> plane;   // points on it
    // The nodes in ascending order, as indices into DGAUSS's order (which
    // alternates between the two halves of the interval). Neighbouring
    // nodes then have neighbouring exponents and erfc arguments, so the
    // nodes past the cut-off, and the arguments past erfc's own cut-offs,
    // fill whole vectors that are skipped. The order is that of the rule on
    // [-1, 1], the same for every time.
    std::array<int, kMaxGauss> ascending{};
};

// One thread's working storage, set aside once.
struct Scratch {
    NodeRow dgauss_u{}, dgauss_w{};  // DGAUSS's order
    NodeRow u{}, w{}, tau{}, u3{};   // ascending order
    NodeRow sy{}, sz{};              // 2*sqrt(D*tau) along y and z
    NodeRow arg1{}, arg2{};          // exp or erfc arguments of one x or form
    std::uint8_t need[kMaxBlocks]{};      // blocks one form needs
    std::uint8_t need_any[kMaxBlocks]{};  // blocks some form needs
    std::vector<NodeRow> wa;      // [x]: w*a
    std::vector<MaskRow> cut;     // [x]: node survives the cut-off
    std::vector<MaskRow> valid;   // [x]: ... and its a is not 0
    std::vector<std::uint8_t> any_cut;  // [x][block]: some node of the block survives
    std::vector<NodeRow> yf, zf;  // [form]: Y, Z
    std::vector<std::uint8_t> refold;  // [quad point]: ordinary sum not finite
    std::vector<std::uint8_t> refold_x;

    explicit Scratch(const Geometry& g)
        : wa(g.x.size()),
          cut(g.x.size()),
          valid(g.x.size()),
          any_cut(g.x.size() * kMaxBlocks),
          yf(g.yforms.size()),
          zf(g.zforms.size()),
          refold(g.quad.size()),
          refold_x(g.x.size()) {}
};

struct KernelOps {
    void (*node_powers)(Scratch&, int n);
    void (*exponents)(const Geometry&, Scratch&, int xi, int n, bool folded, double gt);
    void (*factors)(const Geometry&, Scratch&, int n);
    double (*node_sum)(const Scratch&, int xi, int yi, int zi, int n);
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// The libmvec entry points (the vector function ABI names of exp and erfc).
#pragma GCC push_options
#pragma GCC target("avx2")
extern "C" __m256d _ZGVdN4v_exp(__m256d);
extern "C" __m256d _ZGVdN4v_erfc(__m256d);
namespace btc_avx2 {
#define BTC_LANES 4
#define BTC_VEC __m256d
#define BTC_EXP _ZGVdN4v_exp
#define BTC_ERFC _ZGVdN4v_erfc
#define BTC_SQRT _mm256_sqrt_pd
#define BTC_BITS(m) _mm256_movemask_pd((__m256d)(m))
#include "solution/breakthrough_kernel.inc"
#undef BTC_LANES
#undef BTC_VEC
#undef BTC_EXP
#undef BTC_ERFC
#undef BTC_SQRT
#undef BTC_BITS
}  // namespace btc_avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
extern "C" __m512d _ZGVeN8v_exp(__m512d);
extern "C" __m512d _ZGVeN8v_erfc(__m512d);
namespace btc_avx512 {
#define BTC_LANES 8
#define BTC_VEC __m512d
#define BTC_EXP _ZGVeN8v_exp
#define BTC_ERFC _ZGVeN8v_erfc
// The all-lanes zero-masked form: the same instruction, without the plain
// form's undefined pass-through operand that GCC 12 warns about.
#define BTC_SQRT(a) _mm512_maskz_sqrt_pd(0xFF, (a))
#define BTC_BITS(m) _mm512_cmpneq_epi64_mask((__m512i)(m), _mm512_setzero_si512())
#include "solution/breakthrough_kernel.inc"
#undef BTC_LANES
#undef BTC_VEC
#undef BTC_EXP
#undef BTC_ERFC
#undef BTC_SQRT
#undef BTC_BITS
}  // namespace btc_avx512
#pragma GCC pop_options

namespace {

BreakthroughIsa resolve(BreakthroughIsa wanted) {
    const bool avx512 = BreakthroughEvaluator::isa_available(BreakthroughIsa::avx512);
    const bool avx2 = BreakthroughEvaluator::isa_available(BreakthroughIsa::avx2);
    switch (wanted) {
        case BreakthroughIsa::automatic:
        case BreakthroughIsa::avx512:
            if (avx512) return BreakthroughIsa::avx512;
            [[fallthrough]];
        case BreakthroughIsa::avx2:
            if (avx2) return BreakthroughIsa::avx2;
            [[fallthrough]];
        case BreakthroughIsa::scalar:
            break;
    }
    return BreakthroughIsa::scalar;
}

Geometry make_geometry(const SolutionBlock& blk, std::span<const double> xs,
                       std::span<const double> ys, std::span<const double> zs) {
    Geometry g;
    g.d = blk.LAMBDA - blk.GAMMA;
    g.k = 4.0 * blk.DISPX;
    g.vr = blk.VR;
    g.dispy = blk.DISPY;
    g.dispz = blk.DISPZ;
    g.halfw = blk.HALFW;
    // Values are matched by their bits, so that no two values that could
    // give different factors (0 and -0 included) are ever merged.
    auto index_of = [](std::vector<double>& values, double v) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (same_bits(values[i], v)) return static_cast<int>(i);
        }
        values.push_back(v);
        return static_cast<int>(values.size() - 1);
    };
    auto add_x = [](std::vector<int>& list, int xi) {
        if (std::find(list.begin(), list.end(), xi) == list.end()) list.push_back(xi);
    };
    for (std::size_t p = 0; p < xs.size(); ++p) {
        if (!detail::needs_quadrature(xs[p])) {
            g.plane.push_back(p);
            continue;
        }
        const std::size_t nx = g.x.size();
        const int xi = index_of(g.x, xs[p]);
        if (g.x.size() != nx) g.xf.push_back(detail::x_factor(xs[p], blk.DISPX));

        // Every y in the centre-line band gives the one centre-line form.
        const bool centre = std::fabs(ys[p]) <= detail::kCentreLineY;
        int yi = -1;
        for (std::size_t f = 0; f < g.yforms.size(); ++f) {
            const Geometry::YForm& form = g.yforms[f];
            if (form.centre == centre && (centre || same_bits(form.y, ys[p]))) yi = static_cast<int>(f);
        }
        if (yi < 0) {
            g.yforms.push_back({centre, ys[p], ys[p] - blk.HALFW, ys[p] + blk.HALFW, {}});
            yi = static_cast<int>(g.yforms.size() - 1);
        }
        add_x(g.yforms[static_cast<std::size_t>(yi)].xs, xi);

        int zi = -1;
        for (std::size_t f = 0; f < g.zforms.size(); ++f) {
            if (same_bits(g.zforms[f].z, zs[p])) zi = static_cast<int>(f);
        }
        if (zi < 0) {
            g.zforms.push_back({zs[p], zs[p] - blk.Z2, zs[p] - blk.Z1, {}});
            zi = static_cast<int>(g.zforms.size() - 1);
        }
        add_x(g.zforms[static_cast<std::size_t>(zi)].xs, xi);

        g.quad.push_back({p, xi, yi, zi});
    }
    const int n = blk.NGAUSS;
    if (!g.quad.empty() && gauss_order_supported(n)) {
        std::array<double, kMaxGauss> u{}, w{};
        DGAUSS(0.0, 1.0, u, w, n);
        for (int i = 0; i < n; ++i) g.ascending[static_cast<std::size_t>(i)] = i;
        std::sort(g.ascending.begin(), g.ascending.begin() + n,
                  [&](int a, int b) { return u[static_cast<std::size_t>(a)] < u[static_cast<std::size_t>(b)]; });
    }
    return g;
}

}  // namespace

struct BreakthroughEvaluator::Impl {
    SolutionBlock blk;  // coefficients; its node arrays are not used
    std::vector<double> xs, ys, zs;
    BreakthroughIsa isa;
    int threads;
    Geometry geometry;
    const KernelOps* kernel = nullptr;  // null: the scalar path
    std::vector<std::unique_ptr<Scratch>> scratch;  // one per thread

    void evaluate_time(Scratch& s, double t, double c0, double* out) const;
    void evaluate_range(Scratch& s, std::span<const double> times, double c0, std::span<double> out,
                        std::atomic<std::size_t>& next_chunk) const;
};

// One time on a vector path, the steps of PATCH_CONC with the node loops
// shared between the points.
void BreakthroughEvaluator::Impl::evaluate_time(Scratch& s, double t, double c0, double* out) const {
    const std::size_t np = xs.size();
    // t <= 0 comes first: nothing anywhere, the patch included.
    if (!(t > 0.0)) {
        for (std::size_t p = 0; p < np; ++p) out[p] = c0 * 0.0;
        return;
    }
    const Geometry& g = geometry;
    const double gt = detail::source_exponent(blk, t);
    const double outer = std::exp(gt);
    for (std::size_t p : g.plane) out[p] = c0 * detail::source_plane_value(blk, ys[p], zs[p], outer);
    if (g.quad.empty()) return;

    // The same interval as PATCH_CONC, hence the same nodes.
    DGAUSS(0.0, std::sqrt(std::sqrt(t)), s.dgauss_u.v, s.dgauss_w.v, blk.NGAUSS);
    const int n = blk.NGAUSS;
    for (int i = 0; i < n; ++i) {
        const int from = g.ascending[static_cast<std::size_t>(i)];
        s.u.v[i] = s.dgauss_u.v[from];
        s.w.v[i] = s.dgauss_w.v[from];
    }
    kernel->node_powers(s, n);
    const bool folded = detail::outer_unusable(outer);
    for (std::size_t xi = 0; xi < g.x.size(); ++xi) kernel->exponents(g, s, static_cast<int>(xi), n, folded, gt);
    // Y and Z are formed wherever a node survives the cut-off, so the folded
    // sums below find them as well.
    kernel->factors(g, s, n);

    bool any_refold = false;
    for (std::size_t q = 0; q < g.quad.size(); ++q) {
        const Geometry::QuadPoint& pt = g.quad[q];
        const double sum = kernel->node_sum(s, pt.xi, pt.yi, pt.zi, n);
        const double xf = g.xf[static_cast<std::size_t>(pt.xi)];
        s.refold[q] = 0;
        if (folded) {
            out[pt.p] = c0 * detail::folded_value(xf, sum);
        } else if (std::isfinite(sum)) {
            out[pt.p] = c0 * detail::ordinary_value(outer, xf, sum);
        } else {
            s.refold[q] = 1;
            any_refold = true;
        }
    }
    if (!any_refold) return;
    // Node factors that overflowed the ordinary sum: fold the source decay
    // into each node's exponent, as PATCH_CONC does, for the points concerned.
    std::fill(s.refold_x.begin(), s.refold_x.end(), std::uint8_t{0});
    for (std::size_t q = 0; q < g.quad.size(); ++q) {
        if (s.refold[q]) s.refold_x[static_cast<std::size_t>(g.quad[q].xi)] = 1;
    }
    for (std::size_t xi = 0; xi < g.x.size(); ++xi) {
        if (s.refold_x[xi]) kernel->exponents(g, s, static_cast<int>(xi), n, true, gt);
    }
    for (std::size_t q = 0; q < g.quad.size(); ++q) {
        if (!s.refold[q]) continue;
        const Geometry::QuadPoint& pt = g.quad[q];
        const double sum = kernel->node_sum(s, pt.xi, pt.yi, pt.zi, n);
        out[pt.p] = c0 * detail::folded_value(g.xf[static_cast<std::size_t>(pt.xi)], sum);
    }
}

void BreakthroughEvaluator::Impl::evaluate_range(Scratch& s, std::span<const double> times, double c0,
                                                 std::span<double> out,
                                                 std::atomic<std::size_t>& next_chunk) const {
    const std::size_t np = xs.size();
    for (;;) {
        const std::size_t begin = next_chunk.fetch_add(kChunk, std::memory_order_relaxed);
        if (begin >= times.size()) return;
        const std::size_t end = std::min(times.size(), begin + kChunk);
        for (std::size_t k = begin; k < end; ++k) {
            double* row = out.data() + k * np;
            if (kernel != nullptr) {
                evaluate_time(s, times[k], c0, row);
            } else {
                // The scalar path is evaluate_points itself, bit for bit
                // PATCH_CONC.
                evaluate_points(blk, times[k], c0, xs, ys, zs, std::span<double>(row, np));
            }
        }
    }
}

BreakthroughEvaluator::BreakthroughEvaluator(const SolutionBlock& blk, std::span<const double> xs,
                                             std::span<const double> ys, std::span<const double> zs,
                                             BreakthroughOptions options)
    : impl_(std::make_unique<Impl>()) {
    assert(ys.size() == xs.size() && zs.size() == xs.size());
    Impl& m = *impl_;
    m.blk = blk;
    m.xs.assign(xs.begin(), xs.end());
    m.ys.assign(ys.begin(), ys.end());
    m.zs.assign(zs.begin(), zs.end());
    m.isa = resolve(options.isa);
    m.threads = std::max(1, options.threads);
    m.geometry = make_geometry(blk, xs, ys, zs);
    switch (m.isa) {
        case BreakthroughIsa::avx512: m.kernel = &btc_avx512::kKernel; break;
        case BreakthroughIsa::avx2: m.kernel = &btc_avx2::kKernel; break;
        default: m.kernel = nullptr; break;
    }
    for (int i = 0; i < m.threads; ++i) m.scratch.push_back(std::make_unique<Scratch>(m.geometry));
}

BreakthroughEvaluator::~BreakthroughEvaluator() = default;

BreakthroughIsa BreakthroughEvaluator::isa() const { return impl_->isa; }
int BreakthroughEvaluator::threads() const { return impl_->threads; }
std::size_t BreakthroughEvaluator::points() const { return impl_->xs.size(); }

bool BreakthroughEvaluator::isa_available(BreakthroughIsa isa) {
    switch (isa) {
        case BreakthroughIsa::avx512: return __builtin_cpu_supports("avx512f");
        case BreakthroughIsa::avx2: return __builtin_cpu_supports("avx2");
        default: return true;
    }
}

void BreakthroughEvaluator::evaluate(std::span<const double> times, double c0, std::span<double> out) {
    const Impl& m = *impl_;
    assert(out.size() == times.size() * m.xs.size());
    // An order DGAUSS does not hold stops the run at the first time that
    // needs the quadrature, with DGAUSS's own report; here that is found
    // before any thread starts.
    if (!m.geometry.quad.empty() && !gauss_order_supported(m.blk.NGAUSS)) {
        for (double t : times) {
            if (t > 0.0) {
                DGAUSS(0.0, std::sqrt(std::sqrt(t)), m.scratch[0]->dgauss_u.v, m.scratch[0]->dgauss_w.v,
                       m.blk.NGAUSS);
            }
        }
    }
    if (m.xs.empty()) return;

    std::atomic<std::size_t> next_chunk{0};
    const std::size_t chunks = (times.size() + kChunk - 1) / kChunk;
    const std::size_t helpers =
        std::min(static_cast<std::size_t>(m.threads), std::max<std::size_t>(chunks, 1)) - 1;
    if (helpers == 0) {
        m.evaluate_range(*m.scratch[0], times, c0, out, next_chunk);
        return;
    }
    // Each helper computes in the caller's floating-point mode (the run's
    // flush to zero above all), which is per thread: a value must not depend
    // on which thread formed it.
    const unsigned csr = _mm_getcsr();
    std::vector<std::exception_ptr> errors(helpers + 1);
    {
        std::vector<std::jthread> pool;
        pool.reserve(helpers);
        for (std::size_t h = 1; h <= helpers; ++h) {
            pool.emplace_back([&, h] {
                _mm_setcsr(csr);
                try {
                    m.evaluate_range(*m.scratch[h], times, c0, out, next_chunk);
                } catch (...) {
                    errors[h] = std::current_exception();
                }
            });
        }
        try {
            m.evaluate_range(*m.scratch[0], times, c0, out, next_chunk);
        } catch (...) {
            errors[0] = std::current_exception();
        }
    }  // the helpers are joined here
    for (const std::exception_ptr& e : errors) {
        if (e) std::rethrow_exception(e);
    }
}

}  // namespace plumcor
