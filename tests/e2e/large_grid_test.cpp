// A grid of more than a million nodes runs like any other: every file is
// written in full, and the grid files show the node count that does not fit
// its six columns as asterisks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "e2e/deck_builder.hpp"
#include "e2e/run_support.hpp"

namespace plumcor::testing {
namespace {

TEST(LargeGrid, MillionNodesAtTimeZero) {
    TempDir dir;
    DeckBuilder deck;
    // 500 x 251 x 8 = 1,004,000 nodes; at t = 0 every value is 0 without quadrature.
    deck.with_grid(1, "0", "0 499 1", "-125 125 1", "0 3.5 0.5");
    dir.write("BIG.INP", deck.text());
    RunResult r = dir.run("BIG\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto cnf = records(dir.read("BIG.CNF"));
    ASSERT_EQ(cnf.size(), 6u);
    EXPECT_EQ(cnf[0], "    8   251   500");
    EXPECT_EQ(cnf[3], " 125500*0.35000E+01");
    EXPECT_EQ(cnf[4], " *******0.50000E+00");
    EXPECT_EQ(records(dir.read("BIG.MSH"))[4], " *******0.50000E+00");
    const std::string asc = dir.read("BIG.ASC");
    EXPECT_EQ(asc.size(), 22u + 1004000u * 61u);
    EXPECT_EQ(std::count(asc.begin(), asc.end(), '\n'), 1 + 1004000);
    EXPECT_EQ(asc.substr(asc.size() - 61), std::string(11, ' ') + "4.990E+02    1.250E+02    3.500E+00    0.000E+00\r\n");
    EXPECT_EQ(dir.read("BIG.UCN").size(), 8u * (60u + 4u * 500u * 251u));
    // One progress line per node, 39 bytes each.
    std::size_t node_lines = 0;
    for (std::size_t p = r.out.find("\n+"); p != std::string::npos; p = r.out.find("\n+", p + 1)) ++node_lines;
    EXPECT_EQ(node_lines, 1004000u);
}

}  // namespace
}  // namespace plumcor::testing
