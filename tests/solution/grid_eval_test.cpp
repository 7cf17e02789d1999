// GridEvaluator and evaluate_points must reproduce PATCH_CONC bit for bit at
// every node: they only share factors between nodes, never change how a
// node's value is formed. Grids include the source plane, the centre-line
// band, the patch edges, cut-off nodes, t <= 0, odd and even orders and
// both overflow mends.
#include "solution/grid_eval.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <xmmintrin.h>

#include "driver/fp_mode.hpp"
#include "driver/run_stop.hpp"
#include "solution/patch_conc.hpp"
#include "solution/solution_support.hpp"

namespace plumcor {
namespace {

using test::Physics;

using test::FlushToZero;
using test::same_bits;

struct GridCase {
    const char* what;
    Physics p;
    int ngauss;
    double c0;
    std::vector<double> xs, ys, zs, ts;
    bool none_downstream = false;  // a patch of no width sends nothing downstream
};

const Physics kAquifer{0.2, 5.0, 0.5, 0.05, 1e-4, 0.001, 1.0, 20.0, 0.0, 5.0, 0.002};
const Physics kLateDecay{1.0, 1.0, 0.1, 0.1, 0.0, 1e-4, 1.0, 20.0, 0.0, 10.0, 1.0};
const Physics kGrowth{1.0, 1.0, 0.1, 0.1, 0.0, -0.6, 1.0, 20.0, 0.0, 10.0, 0.5};
const Physics kNoDispersionY{0.2, 5.0, 0.0, 0.05, 0.0, 0.0, 1.0, 20.0, 0.0, 5.0, 0.0};
Physics zero_width(Physics p) {
    p.W = 0.0;
    return p;
}

// x: source plane, the 1e-6 boundary and just past it, the plume, and far
// downstream (every node cut off at early times). y: both edges, the
// centre-line band and points either side of it. z: below, both patch
// bounds, inside, above. 6 and 19 z values exercise the partial z blocks.
const std::vector<double> kX = {0.0, 1e-6, 1.0000001e-6, 0.3, 4.0, 25.0, 90.0, 400.0, 5000.0};
const std::vector<double> kY = {-10.0, -3.0, -1e-6, 0.0, 6e-7, 1.5e-6, 2.0, 10.0, 24.0};
const std::vector<double> kZ6 = {-2.0, 0.0, 1.25, 2.5, 5.0, 9.0};
const std::vector<double> kTimes = {0.0, -5.0, 1e-3, 0.7, 30.0, 400.0, 3000.0};

std::vector<double> range(double from, double step, int n) {
    std::vector<double> v;
    for (int i = 0; i < n; ++i) v.push_back(from + i * step);
    return v;
}

std::vector<GridCase> grid_cases() {
    std::vector<GridCase> cases;
    for (int n : {4, 5, 6, 10, 15, 20, 60, 104, 256}) {
        cases.push_back({"orders", kAquifer, n, 1.0, kX, kY, kZ6, kTimes});
    }
    cases.push_back({"c0 applied after the value", kAquifer, 15, 37.5, kX, kY, range(-3.0, 0.5, 19),
                     {0.7, 30.0, 400.0}});
    cases.push_back({"exp(-gamma t) underflows: all folded", kLateDecay, 256, 2.0,
                     {0.0, 1e-6, 500.0, 650.0, 700.0, 720.0, 900.0}, {-10.0, 0.0, 4.0, 10.0},
                     {0.0, 5.0, 8.0, 10.0, 14.0}, {450.0, 720.0, 800.0}});
    cases.push_back({"node sums overflow at some nodes", kGrowth, 256, 1.0,
                     {0.0, 10.0, 300.0, 800.0, 1000.0, 1100.0, 3000.0}, {0.0, 4.0, 10.0, 30.0},
                     {0.0, 5.0, 8.0, 10.0, 14.0}, {600.0, 1000.0}});
    cases.push_back({"no transverse spreading", kNoDispersionY, 20, 1.0, kX, kY, kZ6,
                     {0.0, 30.0, 400.0}});
    cases.push_back({"no transverse spreading, zero width", zero_width(kNoDispersionY), 20, 1.0, kX,
                     kY, kZ6, {30.0, 400.0}, true});
    return cases;
}

TEST(GridEvaluator, EveryNodeBitIdenticalToPatchConc) {
    for (bool flush : {false, true}) {
        const FlushToZero mode(flush);
        for (const GridCase& c : grid_cases()) {
            SolutionBlock blk = test::block(c.p, c.ngauss);
            GridEvaluator grid(blk, c.xs, c.ys, c.zs);
            const std::size_t nx = c.xs.size();
            const std::size_t ny = c.ys.size();
            std::vector<double> out(nx * ny * c.zs.size());
            int positive = 0;
            int mismatches = 0;
            for (double t : c.ts) {
                grid.evaluate(t, c.c0, out);
                for (std::size_t k = 0; k < c.zs.size(); ++k) {
                    for (std::size_t j = 0; j < ny; ++j) {
                        for (std::size_t i = 0; i < nx; ++i) {
                            const double direct = c.c0 * PATCH_CONC(blk, c.xs[i], c.ys[j], c.zs[k], t);
                            const double tabled = out[i + nx * (j + ny * k)];
                            if (!same_bits(direct, tabled) && ++mismatches <= 5) {
                                ADD_FAILURE() << c.what << " N=" << c.ngauss << " t=" << t << " at ("
                                              << c.xs[i] << ", " << c.ys[j] << ", " << c.zs[k]
                                              << "): " << tabled << " vs " << direct;
                            }
                            positive += direct > 0.0 && (c.xs[i] > 1e-6 || !c.none_downstream);
                        }
                    }
                }
            }
            EXPECT_EQ(mismatches, 0) << c.what << " N=" << c.ngauss << " flush to zero: " << flush;
            // The grids are not trivially zero (except where nothing can arrive).
            if (c.none_downstream) {
                EXPECT_EQ(positive, 0) << c.what;
            } else {
                EXPECT_GT(positive, static_cast<int>(out.size())) << c.what << " N=" << c.ngauss;
            }
        }
    }
}

TEST(EvaluatePoints, EveryPointBitIdenticalToPatchConc) {
    for (const GridCase& c : grid_cases()) {
        SolutionBlock blk = test::block(c.p, c.ngauss);
        // Up to ten observation points per time, drawn from the grid's axes.
        std::vector<double> xs, ys, zs;
        for (std::size_t p = 0; p < 10; ++p) {
            xs.push_back(c.xs[(p * 3) % c.xs.size()]);
            ys.push_back(c.ys[(p * 5 + 1) % c.ys.size()]);
            zs.push_back(c.zs[(p * 7 + 2) % c.zs.size()]);
        }
        std::vector<double> out(xs.size());
        for (double t : c.ts) {
            evaluate_points(blk, t, c.c0, xs, ys, zs, out);
            for (std::size_t p = 0; p < xs.size(); ++p) {
                const double direct = c.c0 * PATCH_CONC(blk, xs[p], ys[p], zs[p], t);
                EXPECT_TRUE(same_bits(out[p], direct))
                    << c.what << " N=" << c.ngauss << " t=" << t << " point " << p << ": " << out[p]
                    << " vs " << direct;
            }
        }
    }
}

TEST(GridEvaluator, FoldedGridsAreFiniteAndPositive) {
    SolutionBlock blk = test::block(kLateDecay, 256);
    const std::vector<double> xs = {650.0, 700.0, 750.0};
    const std::vector<double> ys = {0.0, 4.0};
    const std::vector<double> zs = {2.0, 5.0};
    GridEvaluator grid(blk, xs, ys, zs);
    std::vector<double> out(12);
    grid.evaluate(720.0, 1.0, out);
    for (double v : out) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_GT(v, 0.0);
    }
    EXPECT_NEAR(out[1 + 3 * (0 + 2 * 1)], 1.619e-3, 0.0005e-3);  // (700, 0, 5) at t = 720
}

TEST(GridEvaluator, UnsupportedOrderStopsOnlyWhenTheQuadratureIsNeeded) {
    SolutionBlock blk = test::block(kAquifer, 7);
    const std::vector<double> plane = {0.0, 1e-6};
    const std::vector<double> beyond = {0.0, 1e-6, 2e-6};
    const std::vector<double> ys = {0.0, 10.0};
    const std::vector<double> zs = {0.0, 2.5};
    std::vector<double> out(8);

    GridEvaluator on_plane(blk, plane, ys, zs);
    EXPECT_NO_THROW(on_plane.evaluate(10.0, 1.0, out));
    EXPECT_EQ(out[0], std::exp(-kAquifer.gamma * 10.0));

    out.resize(12);
    GridEvaluator off_plane(blk, beyond, ys, zs);
    EXPECT_NO_THROW(off_plane.evaluate(0.0, 1.0, out));
    std::string expected_report;
    try {
        PATCH_CONC(blk, 2e-6, 0.0, 2.5, 10.0);
    } catch (const RunStop& s) {
        expected_report = s.console_report;
    }
    ASSERT_FALSE(expected_report.empty());
    try {
        off_plane.evaluate(10.0, 1.0, out);
        ADD_FAILURE() << "no stop";
    } catch (const RunStop& s) {
        EXPECT_EQ(s.console_report, expected_report);
    }

    const std::vector<double> pxs = {0.0, 2e-6};
    const std::vector<double> pys = {0.0, 0.0};
    const std::vector<double> pzs = {2.5, 2.5};
    std::vector<double> pout(2);
    EXPECT_THROW(evaluate_points(blk, 10.0, 1.0, pxs, pys, pzs, pout), RunStop);
    EXPECT_NO_THROW(evaluate_points(blk, 10.0, 1.0, std::vector<double>{0.0}, std::vector<double>{0.0},
                                    std::vector<double>{2.5}, std::span<double>(pout).first(1)));
    EXPECT_NO_THROW(evaluate_points(blk, 0.0, 1.0, pxs, pys, pzs, pout));
}

// Selects one width of the vectorised node sums for the life of the object.
class NodeSumWidth {
public:
    explicit NodeSumWidth(int bits) : supported_(detail::use_node_sum_width(bits)) {}
    ~NodeSumWidth() { detail::use_node_sum_width(0); }
    NodeSumWidth(const NodeSumWidth&) = delete;
    NodeSumWidth& operator=(const NodeSumWidth&) = delete;
    bool supported() const { return supported_; }

private:
    bool supported_;
};

// c0 * PATCH_CONC at every node, in the evaluator's order.
std::vector<double> direct_grid(SolutionBlock& blk, const std::vector<double>& xs, const std::vector<double>& ys,
                                const std::vector<double>& zs, double t, double c0) {
    std::vector<double> out;
    out.reserve(xs.size() * ys.size() * zs.size());
    for (double z : zs)
        for (double y : ys)
            for (double x : xs) out.push_back(c0 * PATCH_CONC(blk, x, y, z, t));
    return out;
}

int count_mismatches(const std::vector<double>& got, const std::vector<double>& want) {
    int n = 0;
    for (std::size_t p = 0; p < want.size(); ++p) n += !same_bits(got[p], want[p]);
    return n;
}

// z counts around every block size of the vectorised sums (2, 4 and 8
// doubles per vector, blocks of 8, 16 and 32 z values): one value, fewer
// than a vector, not a multiple of any block, exactly one block, and the
// 80 layers of the largest grid; with odd and even orders, so that the odd
// last node and unequal lanes are both summed by every width.
TEST(GridEvaluator, EveryVectorWidthBitIdenticalToPatchConc) {
    const std::vector<double> xs = {0.0, 0.3, 4.0, 25.0, 90.0, 400.0};
    const std::vector<double> ys = {-10.0, 0.0, 1.5e-6, 2.0, 24.0};
    struct Case {
        int nz;
        int ngauss;
        double t;
    };
    const Case cases[] = {{1, 256, 400.0}, {3, 15, 30.0},   {8, 20, 400.0},  {13, 5, 3000.0},
                          {16, 256, 30.0}, {37, 104, 400.0}, {80, 256, 400.0}, {80, 15, 0.7}};
    int widths_run = 0;
    for (int bits : {128, 256, 512}) {
        const NodeSumWidth width(bits);
        if (!width.supported()) continue;
        ++widths_run;
        for (bool flush : {false, true}) {
            const FlushToZero mode(flush);
            for (const Case& c : cases) {
                SolutionBlock blk = test::block(kAquifer, c.ngauss);
                const std::vector<double> zs = range(-1.0, 12.0 / c.nz, c.nz);
                GridEvaluator grid(blk, xs, ys, zs);
                std::vector<double> out(xs.size() * ys.size() * zs.size());
                grid.evaluate(c.t, 2.0, out);
                const std::vector<double> want = direct_grid(blk, xs, ys, zs, c.t, 2.0);
                EXPECT_EQ(count_mismatches(out, want), 0)
                    << bits << "-bit sums, NZ=" << c.nz << " N=" << c.ngauss << " t=" << c.t << " flush " << flush;
                int positive = 0;
                for (double v : want) positive += v > 0.0;
                EXPECT_GT(positive, static_cast<int>(want.size() / 4)) << "NZ=" << c.nz;
            }
        }
    }
    EXPECT_GE(widths_run, 1);  // 128 bits is always there
}

// One set of tables per time, column ranges of every size evaluated from it
// by two threads at once: each range holds the bits of PATCH_CONC.
TEST(GridEvaluator, ColumnRangesOfSharedTablesBitIdenticalToPatchConc) {
    std::vector<double> xs = kX;
    for (double x = 5.0; x < 200.0; x += 17.0) xs.push_back(x);
    const std::vector<double> zs = range(-2.0, 0.5, 21);
    SolutionBlock blk = test::block(kAquifer, 60);
    GridEvaluator grid(blk, xs, kY, zs);
    const int nx = static_cast<int>(xs.size());
    const std::size_t column = kY.size() * zs.size();
    for (double t : {0.0, 30.0, 400.0}) {
        std::vector<double> want;
        {
            const FlushToZero mode(true);  // as the threads below compute
            want = direct_grid(blk, xs, kY, zs, t, 1.5);
        }
        grid.set_time(t);
        // Ranges of 1, 2, 3, ... columns, alternately to each thread.
        std::vector<std::pair<int, int>> ranges;
        for (int i0 = 0, w = 1; i0 < nx; i0 += w, ++w) ranges.push_back({i0, std::min(nx, i0 + w)});
        std::vector<std::vector<double>> outs(ranges.size());
        auto work = [&](std::size_t first) {
            enable_flush_to_zero();
            for (std::size_t r = first; r < ranges.size(); r += 2) {
                outs[r].assign(static_cast<std::size_t>(ranges[r].second - ranges[r].first) * column, -1.0);
                grid.evaluate_columns(ranges[r].first, ranges[r].second, 1.5, outs[r]);
            }
        };
        std::thread other(work, 1);
        {
            const FlushToZero mode(true);
            work(0);
        }
        other.join();
        int mismatches = 0;
        for (std::size_t r = 0; r < ranges.size(); ++r) {
            const auto [i0, i1] = ranges[r];
            const std::size_t nc = static_cast<std::size_t>(i1 - i0);
            for (std::size_t k = 0; k < zs.size(); ++k)
                for (std::size_t j = 0; j < kY.size(); ++j)
                    for (int i = i0; i < i1; ++i) {
                        const double got = outs[r][static_cast<std::size_t>(i - i0) + nc * (j + kY.size() * k)];
                        const double direct = want[static_cast<std::size_t>(i) + xs.size() * (j + kY.size() * k)];
                        if (!same_bits(got, direct) && ++mismatches <= 5)
                            ADD_FAILURE() << "t=" << t << " columns [" << i0 << ", " << i1 << ") at (" << xs[i]
                                          << ", " << kY[j] << ", " << zs[k] << "): " << got << " vs " << direct;
                    }
        }
        EXPECT_EQ(mismatches, 0) << "t=" << t;
    }
}

}  // namespace
}  // namespace plumcor
