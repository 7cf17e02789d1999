// BreakthroughEvaluator against PATCH_CONC: the scalar path bit for bit, the
// vector paths within the accuracy of the vector exp and erfc; results that
// depend neither on the thread count, nor on the run, nor on which other
// points are evaluated alongside; DGAUSS's stop for an order it does not
// hold. Also the exact erfc results beyond the library's cut-offs that the
// evaluators rely on.
#include "solution/breakthrough_eval.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <xmmintrin.h>

#include "driver/fp_mode.hpp"
#include "driver/run_stop.hpp"
#include "solution/gauss.hpp"
#include "solution/node_terms.hpp"
#include "solution/patch_conc.hpp"
#include "solution/solution_support.hpp"

namespace plumcor {
namespace {

using test::Physics;

using test::FlushToZero;
using test::same_bits;
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

std::vector<BreakthroughIsa> vector_paths() {
    std::vector<BreakthroughIsa> paths;
    for (BreakthroughIsa isa : {BreakthroughIsa::avx2, BreakthroughIsa::avx512}) {
        if (BreakthroughEvaluator::isa_available(isa)) paths.push_back(isa);
    }
    return paths;
}

const char* name(BreakthroughIsa isa) {
    switch (isa) {
        case BreakthroughIsa::scalar: return "scalar";
        case BreakthroughIsa::avx2: return "avx2";
        case BreakthroughIsa::avx512: return "avx512";
        default: return "automatic";
    }
}

// --- erfc beyond the library's cut-offs ----------------------------------------

std::vector<double> steps_from(double start, double toward, int count) {
    std::vector<double> v{start};
    for (int i = 0; i < count; ++i) v.push_back(std::nextafter(v.back(), toward));
    return v;
}

TEST(ErfcShortcut, LibraryGivesExactlyTwoFromMinusSixDownAndZeroFrom28Up) {
    for (bool flush : {false, true}) {
        const FlushToZero mode(flush);
        const double inf = std::numeric_limits<double>::infinity();
        std::vector<double> low = steps_from(-6.0, -inf, 2000);
        std::vector<double> high = steps_from(28.0, inf, 2000);
        for (int i = 0; i <= 100000; ++i) {
            low.push_back(-6.0 - i * 1e-3);
            high.push_back(28.0 + i * 1e-3);
        }
        for (double a : {-1e3, -1e10, -1e300, -std::numeric_limits<double>::max(), -inf}) low.push_back(a);
        for (double a : {1e3, 1e10, 1e300, std::numeric_limits<double>::max(), inf}) high.push_back(a);
        int wrong = 0;
        for (double a : low) {
            if (!same_bits(std::erfc(a), 2.0) && ++wrong <= 5) ADD_FAILURE() << "erfc(" << a << ") = " << std::erfc(a);
        }
        for (double a : high) {
            if (!same_bits(std::erfc(a), 0.0) && ++wrong <= 5) ADD_FAILURE() << "erfc(" << a << ") = " << std::erfc(a);
        }
        EXPECT_EQ(wrong, 0) << "flush to zero: " << flush;
    }
}

TEST(ErfcShortcut, SameBitsAsTheLibraryEverywhere) {
    for (bool flush : {false, true}) {
        const FlushToZero mode(flush);
        std::vector<double> args;
        // Both sides of both cut-offs, one ulp at a time...
        for (double edge : {-6.0, 28.0}) {
            for (double a : steps_from(edge, -1e9, 3000)) args.push_back(a);
            for (double a : steps_from(edge, 1e9, 3000)) args.push_back(a);
        }
        // ... and the whole range between and beyond, including where the
        // library's result is subnormal (about 26.5 to 27.3).
        for (int i = 0; i <= 400000; ++i) args.push_back(-40.0 + i * 1.75e-4);
        for (double a : {0.0, -0.0, 1e-300, -1e-300, 1e300, -1e300}) args.push_back(a);
        int wrong = 0;
        for (double a : args) {
            if (!same_bits(detail::erfc_value(a), std::erfc(a)) && ++wrong <= 5) {
                ADD_FAILURE() << "at " << a << ": " << detail::erfc_value(a) << " vs " << std::erfc(a);
            }
        }
        EXPECT_EQ(wrong, 0) << "flush to zero: " << flush;
        EXPECT_TRUE(std::isnan(detail::erfc_value(std::numeric_limits<double>::quiet_NaN())));
    }
}

// --- Agreement with PATCH_CONC -------------------------------------------------

const Physics kAquifer{0.2, 5.0, 0.5, 0.05, 1e-4, 0.001, 1.0, 20.0, 0.0, 5.0, 0.002};
const Physics kWells{0.1, 10.0, 1.0, 0.1, 8.64e-5, 1e-4, 1.5, 20.0, 0.0, 5.0, 2e-4};
// gamma > lambda, late: exp(-gamma t) underflows, every sum is folded.
const Physics kLateDecay{1.0, 1.0, 0.1, 0.1, 0.0, 1e-4, 1.0, 20.0, 0.0, 10.0, 1.0};
// lambda < 0: exp(-gamma t) is fine but some node factors overflow, so only
// some points fall back to the folded sum.
const Physics kGrowth{1.0, 1.0, 0.1, 0.1, 0.0, -0.6, 1.0, 20.0, 0.0, 10.0, 0.5};

struct Point {
    double x, y, z;
};

// The source plane (inside, on the edge, outside), the 1e-6 boundary and
// just past it, the centre-line band (two y values of one form), the patch
// edges in y and z, off-axis, and far downstream where every node is cut off
// at early times.
const std::vector<Point> kPoints = {
    {12.0, 1e-6, 2.0},   {0.0, 0.0, 2.5},  {25.0, 10.0, 0.0}, {1.0000001e-6, 0.0, 2.5},
    {12.0, -7e-7, 2.0},  {1e-6, 10.0, 5.0}, {25.0, -10.0, 5.0}, {90.0, 24.0, -2.0},
    {5000.0, 0.0, 2.5},  {0.0, 10.5, 2.5},
};
const std::vector<double> kTimes = {0.0, -5.0, 1e-3, 0.7, 30.0, 400.0, 3000.0};

struct Case {
    const char* what;
    Physics p;
    int ngauss;
    double c0;
    std::vector<Point> points;
    std::vector<double> times;
};

std::vector<double> breakthrough_times(double tmin, double delt, int count) {
    std::vector<double> t;
    for (int k = 1; k <= count; ++k) t.push_back(static_cast<double>(k - 1) * delt + tmin);
    return t;
}

std::vector<Case> cases() {
    std::vector<Case> c;
    for (int n : {4, 5, 6, 10, 15, 20, 60, 104, 256}) c.push_back({"orders", kAquifer, n, 1.0, kPoints, kTimes});
    c.push_back({"wells, c0 applied", kWells, 256, 37.5,
                 {{10.0, 0.0, 2.5}, {25.0, 0.0, 2.5}, {50.0, 5.0, 1.0}, {100.0, -5.0, 4.0},
                  {150.0, 0.0, 2.5}, {200.0, 10.0, 0.5}, {300.0, 0.0, 4.5}, {400.0, -15.0, 2.5},
                  {500.0, 20.0, 2.5}, {50.0, 0.0, 2.5}},
                 breakthrough_times(0.0, 73.0, 101)});
    c.push_back({"wells, odd order", kWells, 15, 1.0, kPoints, breakthrough_times(-20.0, 150.0, 30)});
    c.push_back({"exp(-gamma t) underflows: all folded", kLateDecay, 256, 2.0,
                 {{700.0, 0.0, 5.0}, {650.0, 4.0, 8.0}, {450.0, 0.0, 5.0}, {0.0, 0.0, 5.0}, {900.0, 10.0, 14.0}},
                 {450.0, 720.0, 800.0}});
    c.push_back({"node sums overflow at some points", kGrowth, 256, 1.0,
                 {{1000.0, 0.0, 5.0}, {10.0, 0.0, 5.0}, {300.0, 4.0, 8.0}, {1100.0, 30.0, 0.0}, {800.0, 0.0, 5.0}},
                 {600.0, 1000.0}});
    return c;
}

// An upper bound on how far a vector path may stray from PATCH_CONC, from
// the definition: M = |c0 * x/(8 sqrt(pi Dx)) * 4| * sum over the nodes that
// survive the cut-off of w * exp(-gamma t - E)/u^3 * (|e1| + |e2|) * (|e3| + |e4|),
// e1..e4 the four erfc values of the node (the centre-line form 2(1 - e)
// counts 2|1 - e| + 2|e|), in long double.
//
// The vector exp and erfc are documented to within 4 ulp, a relative 4 * 2^-52
// = 8.9e-16 on each value, so a term w*a*(e1 - e2)*(e3 - e4) moves by at most
// 3 * 8.9e-16 = 2.7e-15 of its share of M; the two evaluators also add the up
// to 256 terms in different orders, each sum within 255 * 2^-53 = 2.8e-14 of
// M of the exact one. The two results thus differ by at most about
// (2.7e-15 + 2 * 2.8e-14) M = 6e-14 M; the test allows 1e-13 M, plus 1e-300
// for subnormal values flushed in one evaluator and not in the other.
long double magnitude(const SolutionBlock& blk, double c0, double x, double y, double z, double t) {
    const int n = blk.NGAUSS;
    std::vector<double> u(static_cast<std::size_t>(n)), w(static_cast<std::size_t>(n));
    DGAUSS(0.0, std::sqrt(std::sqrt(t)), u, w, n);
    const long double pi = 3.141592653589793238462643383279502884L;
    long double sum = 0;
    for (std::size_t i = 0; i < u.size(); ++i) {
        // E as the definition writes it, in the program's double arithmetic,
        // so that the same nodes are cut off.
        const double u2 = u[i] * u[i];
        const double tau = u2 * u2;
        const double q = x - blk.VR * tau;
        const double e = (blk.LAMBDA - blk.GAMMA) * tau + q * q / (4.0 * blk.DISPX * tau);
        if (!(e <= 50.0)) continue;
        const long double a = std::exp(-static_cast<long double>(blk.GAMMA) * t - e) /
                              std::pow(static_cast<long double>(u[i]), 3);
        const long double sy = 2 * std::sqrt(static_cast<long double>(blk.DISPY) * tau);
        const long double sz = 2 * std::sqrt(static_cast<long double>(blk.DISPZ) * tau);
        const long double ymag =
            std::fabs(y) <= 1e-6 ? 2 * std::fabs(1 - std::erfc(blk.HALFW / sy)) + 2 * std::erfc(blk.HALFW / sy)
                                 : std::erfc((y - blk.HALFW) / sy) + std::erfc((y + blk.HALFW) / sy);
        const long double zmag = std::erfc((z - blk.Z2) / sz) + std::erfc((z - blk.Z1) / sz);
        sum += w[i] * a * ymag * zmag;
    }
    return std::fabs(c0 * x / (8 * std::sqrt(pi * blk.DISPX)) * 4 * sum);
}

struct Columns {
    std::vector<double> x, y, z;
};
Columns columns(const std::vector<Point>& pts) {
    Columns c;
    for (const Point& p : pts) {
        c.x.push_back(p.x);
        c.y.push_back(p.y);
        c.z.push_back(p.z);
    }
    return c;
}

std::vector<double> run(const Case& c, const std::vector<Point>& pts, BreakthroughOptions options) {
    const SolutionBlock blk = test::block(c.p, c.ngauss);
    const Columns col = columns(pts);
    BreakthroughEvaluator btc(blk, col.x, col.y, col.z, options);
    EXPECT_EQ(btc.isa(), options.isa);
    EXPECT_EQ(btc.points(), pts.size());
    std::vector<double> out(c.times.size() * pts.size(), -12345.0);
    btc.evaluate(c.times, c.c0, out);
    return out;
}

std::vector<double> direct(const Case& c, const std::vector<Point>& pts) {
    SolutionBlock blk = test::block(c.p, c.ngauss);
    std::vector<double> out;
    for (double t : c.times) {
        for (const Point& p : pts) out.push_back(c.c0 * PATCH_CONC(blk, p.x, p.y, p.z, t));
    }
    return out;
}

TEST(BreakthroughEvaluator, ScalarPathIsPatchConcBitForBit) {
    for (bool flush : {false, true}) {
        const FlushToZero mode(flush);
        for (const Case& c : cases()) {
            const std::vector<double> expected = direct(c, c.points);
            for (int threads : {1, 2}) {
                const std::vector<double> got = run(c, c.points, {BreakthroughIsa::scalar, threads});
                int mismatches = 0;
                for (std::size_t i = 0; i < got.size(); ++i) {
                    if (!same_bits(got[i], expected[i]) && ++mismatches <= 5) {
                        ADD_FAILURE() << c.what << " N=" << c.ngauss << " t=" << c.times[i / c.points.size()]
                                      << " point " << i % c.points.size() << ": " << got[i] << " vs "
                                      << expected[i];
                    }
                }
                EXPECT_EQ(mismatches, 0) << c.what << " N=" << c.ngauss << " threads=" << threads;
            }
        }
    }
}

TEST(BreakthroughEvaluator, VectorPathsAgreeWithPatchConcToTheLastBits) {
    const std::vector<BreakthroughIsa> paths = vector_paths();
    long double worst = 0;  // largest |difference| / M seen
    for (bool flush : {false, true}) {
        const FlushToZero mode(flush);
        for (const Case& c : cases()) {
            const SolutionBlock blk = test::block(c.p, c.ngauss);
            const std::vector<double> expected = direct(c, c.points);
            const std::size_t np = c.points.size();
            for (BreakthroughIsa isa : paths) {
                const std::vector<double> got = run(c, c.points, {isa, 1});
                int failures = 0;
                int positive = 0;
                for (std::size_t i = 0; i < got.size(); ++i) {
                    const Point& p = c.points[i % np];
                    const double t = c.times[i / np];
                    positive += expected[i] > 0.0 && p.x > 1e-6;
                    std::string where = std::string(c.what) + " " + name(isa) + " N=" + std::to_string(c.ngauss) +
                                        " t=" + std::to_string(t) + " point " + std::to_string(i % np);
                    ASSERT_TRUE(std::isfinite(expected[i])) << where;
                    // Where no vector function is involved (t <= 0, the
                    // source plane, every node cut off) the value is exact.
                    const long double m =
                        t > 0.0 && p.x > 1e-6 ? magnitude(blk, c.c0, p.x, p.y, p.z, t) : 0.0L;
                    if (m == 0.0L) {
                        if (!same_bits(got[i], expected[i]) && ++failures <= 5)
                            ADD_FAILURE() << where << ": " << got[i] << " vs exact " << expected[i];
                        continue;
                    }
                    const long double tol = 1e-13L * m + 1e-300L;
                    worst = std::max(worst, std::fabs(got[i] - static_cast<long double>(expected[i])) / m);
                    if (!(std::fabs(got[i] - static_cast<long double>(expected[i])) <= tol) && ++failures <= 5)
                        ADD_FAILURE() << where << ": " << got[i] << " vs " << expected[i] << " (bound " << m << ")";
                }
                EXPECT_EQ(failures, 0) << c.what << " " << name(isa) << " N=" << c.ngauss;
                // Not trivially zero: most points off the plane see the plume
                // at some time.
                EXPECT_GT(positive, static_cast<int>(c.times.size())) << c.what;
            }
        }
    }
    std::printf("largest difference from PATCH_CONC on the vector paths: %.3Le of the bound M\n", worst);
}

// The bound is not loose where nothing cancels: in the plume, inside the
// patch's y and z range, it is a small multiple of the concentration (the
// z factor e3 - e4 there is about a third of e3 + e4 late in time).
TEST(BreakthroughEvaluator, MagnitudeBoundIsCloseToTheValueInThePlume) {
    SolutionBlock blk = test::block(kWells, 256);
    const Point pts[] = {{50.0, 0.0, 2.5}, {25.0, 5.0, 1.0}, {100.0, -3.0, 4.0}};
    for (const Point& p : pts) {
        for (double t : {500.0, 2000.0, 7000.0}) {
            const double c = PATCH_CONC(blk, p.x, p.y, p.z, t);
            const long double m = magnitude(blk, 1.0, p.x, p.y, p.z, t);
            EXPECT_GT(c, 1e-4) << p.x << " " << t;
            EXPECT_GE(m, 0.999999L * c) << p.x << " " << t;
            EXPECT_LE(m, 4.0L * c) << p.x << " " << t;
        }
    }
}

TEST(BreakthroughEvaluator, SameBitsWithOneOrTwoThreadsAndFromRunToRun) {
    Case c{"wells", kWells, 256, 50.0,
           {{10.0, 0.0, 2.5}, {25.0, 0.0, 2.5}, {50.0, 5.0, 1.0}, {100.0, -5.0, 4.0}, {150.0, 0.0, 2.5},
            {200.0, 10.0, 0.5}, {300.0, 0.0, 4.5}, {400.0, -15.0, 2.5}, {0.0, 0.0, 2.5},
            // So far off the axis that the y factor, and the value, are
            // subnormal at some times: 0 when flushed, not 0 otherwise.
            {100.0, 1150.0, 2.5}},
           breakthrough_times(0.0, 18.25, 401)};
    for (bool flush : {true, false}) {
        const FlushToZero mode(flush);
        // The helper threads must compute in the caller's mode, whichever it is.
        std::vector<BreakthroughIsa> paths = vector_paths();
        if (flush) paths.push_back(BreakthroughIsa::scalar);
        for (BreakthroughIsa isa : paths) {
            const SolutionBlock blk = test::block(c.p, c.ngauss);
            const Columns col = columns(c.points);
            BreakthroughEvaluator one(blk, col.x, col.y, col.z, {isa, 1});
            BreakthroughEvaluator two(blk, col.x, col.y, col.z, {isa, 2});
            EXPECT_EQ(one.threads(), 1);
            EXPECT_EQ(two.threads(), 2);
            std::vector<double> first(c.times.size() * c.points.size());
            std::vector<double> again(first.size(), -1.0);
            std::vector<double> shared(first.size(), -2.0);
            one.evaluate(c.times, c.c0, first);
            one.evaluate(c.times, c.c0, again);
            two.evaluate(c.times, c.c0, shared);
            EXPECT_TRUE(same_bits(first, again)) << name(isa);
            EXPECT_TRUE(same_bits(first, shared)) << name(isa);
            for (int repeat = 0; repeat < 3; ++repeat) {
                two.evaluate(c.times, c.c0, again);
                EXPECT_TRUE(same_bits(first, again)) << name(isa) << " repeat " << repeat;
            }
            // A block split differently (the times one by one, then in two
            // uneven calls) gives the same values too.
            std::vector<double> pieces(first.size(), -3.0);
            const std::size_t np = c.points.size();
            for (std::size_t k = 0; k < 20; ++k) {
                two.evaluate(std::span<const double>(c.times).subspan(k, 1), c.c0,
                             std::span<double>(pieces).subspan(k * np, np));
            }
            two.evaluate(std::span<const double>(c.times).subspan(20, 150), c.c0,
                         std::span<double>(pieces).subspan(20 * np, 150 * np));
            two.evaluate(std::span<const double>(c.times).subspan(170), c.c0,
                         std::span<double>(pieces).subspan(170 * np));
            EXPECT_TRUE(same_bits(first, pieces)) << name(isa);
            int positive = 0;
            int subnormal = 0;
            for (double v : first) {
                positive += v > 0.0;
                subnormal += v > 0.0 && v < DBL_MIN;
            }
            EXPECT_GT(positive, static_cast<int>(first.size() / 2)) << name(isa);
            if (flush) {
                EXPECT_EQ(subnormal, 0) << name(isa);
            } else {
                EXPECT_GT(subnormal, 0) << name(isa);
            }
        }
    }
}

// Points that share x, y or z share factors; a point's value must still be
// exactly what it is when evaluated alone, in sets of 1 to 10 points drawn
// in different orders.
TEST(BreakthroughEvaluator, PointValueDoesNotDependOnItsCompanions) {
    std::vector<BreakthroughIsa> paths = vector_paths();
    paths.push_back(BreakthroughIsa::scalar);
    Case c{"orders", kAquifer, 60, 1.0, kPoints, {0.7, 30.0, 400.0, 3000.0}};
    for (BreakthroughIsa isa : paths) {
        std::vector<std::vector<double>> alone;
        for (const Point& p : c.points) alone.push_back(run(c, {p}, {isa, 1}));
        for (std::size_t count = 1; count <= c.points.size(); ++count) {
            for (std::size_t first = 0; first < c.points.size(); first += 3) {
                std::vector<Point> pts;
                std::vector<std::size_t> which;
                for (std::size_t j = 0; j < count; ++j) {
                    which.push_back((first + j * 7) % c.points.size());
                    pts.push_back(c.points[which.back()]);
                }
                const std::vector<double> got = run(c, pts, {isa, 2});
                for (std::size_t k = 0; k < c.times.size(); ++k) {
                    for (std::size_t j = 0; j < count; ++j) {
                        EXPECT_TRUE(same_bits(got[k * count + j], alone[which[j]][k]))
                            << name(isa) << " " << count << " points, point " << which[j] << " t=" << c.times[k];
                    }
                }
            }
        }
    }
}

TEST(BreakthroughEvaluator, UnsupportedOrderStopsOnlyWhenTheQuadratureIsNeeded) {
    std::vector<BreakthroughIsa> paths = vector_paths();
    paths.push_back(BreakthroughIsa::scalar);
    SolutionBlock blk = test::block(kAquifer, 7);
    std::string expected_report;
    try {
        PATCH_CONC(blk, 2e-6, 0.0, 2.5, 10.0);
    } catch (const RunStop& s) {
        expected_report = s.console_report;
    }
    ASSERT_FALSE(expected_report.empty());
    const std::vector<double> xs = {0.0, 2e-6}, ys = {0.0, 0.0}, zs = {2.5, 2.5};
    for (BreakthroughIsa isa : paths) {
        for (int threads : {1, 2}) {
            BreakthroughEvaluator btc(blk, xs, ys, zs, {isa, threads});
            // t <= 0 needs no quadrature.
            std::vector<double> out(200, -1.0);
            EXPECT_NO_THROW(btc.evaluate(breakthrough_times(-99.0, 1.0, 100), 1.0, out));
            for (double v : out) EXPECT_EQ(v, 0.0);
            // The first t > 0 stops, before anything is written.
            std::fill(out.begin(), out.end(), -1.0);
            try {
                btc.evaluate(breakthrough_times(-50.0, 1.0, 100), 1.0, out);
                ADD_FAILURE() << name(isa) << ": no stop";
            } catch (const RunStop& s) {
                EXPECT_EQ(s.console_report, expected_report);
                EXPECT_EQ(s.message, "");
            }
            for (double v : out) EXPECT_EQ(v, -1.0);
            // Points on the source plane alone never need it.
            BreakthroughEvaluator plane(blk, std::span<const double>(xs).first(1),
                                        std::span<const double>(ys).first(1), std::span<const double>(zs).first(1),
                                        {isa, threads});
            std::vector<double> one(3);
            EXPECT_NO_THROW(plane.evaluate(std::vector<double>{0.0, 10.0, 50.0}, 2.0, one));
            EXPECT_EQ(one[0], 0.0);
            EXPECT_EQ(one[1], 2.0 * std::exp(-kAquifer.gamma * 10.0));
            EXPECT_EQ(one[2], 2.0 * std::exp(-kAquifer.gamma * 50.0));
        }
    }
}

TEST(BreakthroughEvaluator, AutomaticTakesTheWidestPathAvailable) {
    const SolutionBlock blk = test::block(kAquifer, 20);
    const std::vector<double> v = {1.0};
    BreakthroughEvaluator btc(blk, v, v, v);
    const BreakthroughIsa expected = BreakthroughEvaluator::isa_available(BreakthroughIsa::avx512) ? BreakthroughIsa::avx512
                                     : BreakthroughEvaluator::isa_available(BreakthroughIsa::avx2) ? BreakthroughIsa::avx2
                                                                                                  : BreakthroughIsa::scalar;
    EXPECT_EQ(btc.isa(), expected);
    EXPECT_EQ(btc.threads(), 2);
}

}  // namespace
}  // namespace plumcor
