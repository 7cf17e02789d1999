// Node and time counts round to the nearest whole number of steps; counts
// that cannot be 32-bit integers are reported as such, never converted.
#include <gtest/gtest.h>

#include <limits>

#include "driver/checks.hpp"
#include "driver/job_files.hpp"
#include "driver/run_stop.hpp"

namespace plumcor {
namespace {

TEST(NodeCount, RoundsToTheNearestStep) {
    struct Case {
        double lo, hi, step;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {0, 10, 3, 4},                       // nodes 0, 3, 6, 9
        {0, 10, 4, 4},                       // nodes 0, 4, 8, 12: the last lies beyond the end
        {5, 5, 1, 1},                        // one node
        {0, 10, 0.01, 1001},                 // the definition's "too many X points" example
        {0, 499, 1, 500},
        {0, 2147483646.4, 1, 2147483647},    // the largest 32-bit count
        {0, 2147483646.6, 1, std::nullopt},  // trunc + 1 would be 2^31
        {0, 1e300, 1e-300, std::nullopt},    // quotient overflows to infinity
        {-1e308, 1e308, 1, std::nullopt},    // difference overflows
    };
    for (const Case& c : cases) EXPECT_EQ(node_count(c.lo, c.hi, c.step), c.expected) << c.lo << " " << c.hi << " " << c.step;
}

TEST(NodeCount, BreakthroughCountBeyond32BitsStops) {
    EXPECT_EQ(breakthrough_count(0, 10, 4), 4);
    try {
        breakthrough_count(0, 1e20, 1);
        FAIL() << "no stop";
    } catch (const RunStop& s) {
        EXPECT_EQ(s.message, "Too many breakthrough times requested");
        EXPECT_EQ(s.status, 1);
    }
}

TEST(JobFiles, IdentifierAndStem) {
    EXPECT_EQ(job_identifier("RUN1\r"), "RUN1" + std::string(76, ' '));
    EXPECT_EQ(job_identifier(std::string(90, 'A')).size(), 80u);
    EXPECT_EQ(job_stem(job_identifier("dir/RUN1 rest")), "dir/RUN1");
    EXPECT_EQ(job_stem(job_identifier(std::string(80, 'A'))), "");
    EXPECT_EQ(job_stem(job_identifier("")), "");
    EXPECT_EQ(JobFiles("R").UCN, "R.UCN");
}

}  // namespace
}  // namespace plumcor
