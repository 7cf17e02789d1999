// The progress lines of the grid nodes, assembled an x column at a time, are
// the formatter's lines of the layout "+" 3(1PE12.3), node by node.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/progress.hpp"
#include "output/grid_test_support.hpp"
#include "output/output_file.hpp"
#include "output/record_writer.hpp"

namespace plumcor {
namespace {

constexpr Item kNodeLine[] = {lit("+"), P(1), group(3), E(12, 3), end_group()};

// The formatter's lines of the nodes of columns [0, NX) in the order of
// evaluation; with `last_x` >= 0 up to the first node of that column.
std::string expected_lines(const GridAxes& g, std::int32_t last_x) {
    std::string out;
    for (int i = 0; i < g.NX; ++i)
        for (int j = 0; j < g.NY; ++j)
            for (int k = 0; k < g.NZ; ++k) {
                for (const std::string& r : format_records(kNodeLine, {g.XAXIS[i], g.YAXIS[j], g.ZAXIS[k]}))
                    out += r + "\r\n";
                if (i == last_x) return out;
            }
    return out;
}

struct Case {
    const char* what;
    GridAxes grid;
};

std::vector<Case> cases() {
    GridAxes extreme;
    extreme.NX = 3;
    extreme.NY = 2;
    extreme.NZ = 3;
    extreme.XAXIS = {0.0, 1.0625, 2.5e150};
    extreme.YAXIS = {-25.0, -1.0e-100};
    extreme.ZAXIS = {9.9996, -7.25e99, 1.0e100};
    return {
        {"two by three by two", test::make_grid(2, 0.0, 10.0, 3, -25.0, 5.0, 2, 0.0, 1.0)},
        {"ties, carries and three-digit exponents", extreme},
        {"a single node", test::make_grid(1, 5.0, 1.0, 1, -25.0, 1.0, 1, 0.5, 1.0)},
        // Columns of 150 x 20 lines, past the size handed over without a copy.
        {"large columns", test::make_grid(4, 0.0, 5.0, 150, -745.0, 10.0, 20, 0.0, 0.5)},
    };
}

TEST(NodeLines, ColumnsAreTheFormattersLines) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        NodeLines lines(c.grid);
        std::string all;
        for (std::int32_t i = 0; i < c.grid.NX; ++i) {
            const std::string_view column = lines.column(i);
            EXPECT_EQ(column.size(), static_cast<std::size_t>(c.grid.NY) * c.grid.NZ * NodeLines::kLineBytes);
            all += column;
        }
        EXPECT_TRUE(all == expected_lines(c.grid, -1));
    }
}

TEST(NodeLines, WrittenWholeOrUpToTheFirstNodeOfAColumn) {
    test::ScratchDir dir;
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        for (std::int32_t last_x = -1; last_x < c.grid.NX; ++last_x) {
            SCOPED_TRACE("last_x " + std::to_string(last_x));
            NodeLines lines(c.grid);
            const std::string path = dir.file("CONSOLE");
            {
                OutputFile f = OutputFile::open_result(path);
                f.write("before\r\n");
                lines.write(f, last_x);
                f.write("after\r\n");
                f.close();
            }
            const std::string got = test::read_bytes(path);
            const std::string want = "before\r\n" + expected_lines(c.grid, last_x) + "after\r\n";
            EXPECT_EQ(got.size(), want.size());
            EXPECT_TRUE(got == want);
        }
    }
}

}  // namespace
}  // namespace plumcor
