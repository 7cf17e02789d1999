// The grid description files: the count fields and both whole files, byte
// for byte. Expected records are the worked examples of the file layouts and
// hand renderings of the same field rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "output/grid_files.hpp"
#include "output/grid_test_support.hpp"
#include "output/output_file.hpp"

namespace plumcor {
namespace {

using test::as_file;
using test::make_grid;
using test::read_bytes;
using test::ScratchDir;

TEST(CountField, BlankCountAsteriskValue) {
    struct Case {
        std::int32_t count;
        double value;
        std::string expected;
    };
    const Case cases[] = {
        {101, 1.0, "    101*0.10000E+01"},
        {51, 2.0, "     51*0.20000E+01"},
        {5151, 5.0, "   5151*0.50000E+01"},
        {56661, 0.5, "  56661*0.50000E+00"},
        // No room for the "0" before the point once the sign is there.
        {11, -2.5, "     11*-.25000E+01"},
        {1, 0.0, "      1*0.00000E+00"},
        {999999, 0.5, " 999999*0.50000E+00"},
        // Six columns cannot hold a seventh digit: the count becomes
        // asterisks, the record keeps its length.
        {1000000, 0.5, " *******0.50000E+00"},
        {10040000, 0.5, " *******0.50000E+00"},
        {-5, 0.125, "     -5*0.12500E+00"},
        {7, 1.0e-120, "      7*0.10000-119"},
    };
    for (const Case& c : cases) {
        const std::string field = COUNT_FIELD(c.count, c.value);
        EXPECT_EQ(field, c.expected) << c.count << " * " << c.value;
        EXPECT_EQ(field.size(), 19u);
    }
}

struct GridCase {
    const char* what;
    std::int32_t nx, ny, nz;
    double xmin, dx, ymin, dy, zmin, dz;
    std::vector<std::string> counts;  // records 1 to 5 of both files
    std::string origin;               // record 6 of the .MSH file
};

const std::string kConstant = "    1.000E+30";

std::vector<GridCase> grid_cases() {
    return {
        {"worked example",
         101,
         51,
         11,
         0.0,
         1.0,
         -50.0,
         2.0,
         0.0,
         0.5,
         {"   11    51   101", "    101*0.10000E+01", "     51*0.20000E+01", "   5151*0.50000E+01",
          "  56661*0.50000E+00"},
         "   -5.000E-01   -5.100E+01    0.000E+00"},
        {"one node each way: the last z node is ZMIN",
         1,
         1,
         1,
         2.0,
         1.0,
         4.0,
         1.0,
         3.0,
         1.0,
         {"    1     1     1", "      1*0.10000E+01", "      1*0.10000E+01", "      1*0.30000E+01",
          "      1*0.10000E+01"},
         "    1.500E+00    3.500E+00    0.000E+00"},
        {"negative last z node; an x origin on an exact tie",
         11,
         1,
         2,
         -10.0,
         0.25,
         7.5,
         5.0,
         -5.0,
         2.5,
         {"    2     1    11", "     11*0.25000E+00", "      1*0.50000E+01", "     11*-.25000E+01",
          "     22*0.25000E+01"},
         "   -1.012E+01    5.000E+00    0.000E+00"},
        {"last z node at 0; origin z stays 0 whatever ZMIN",
         3,
         2,
         3,
         100.0,
         20.0,
         0.0,
         0.1,
         -1.0,
         0.5,
         {"    3     2     3", "      3*0.20000E+02", "      2*0.10000E+00", "      6*0.00000E+00",
          "     18*0.50000E+00"},
         "    9.000E+01   -5.000E-02    0.000E+00"},
        {"a million nodes or more: the node count is asterisks",
         500,
         251,
         8,
         0.0,
         1.0,
         0.0,
         1.0,
         0.0,
         0.5,
         {"    8   251   500", "    500*0.10000E+01", "    251*0.10000E+01", " 125500*0.35000E+01",
          " *******0.50000E+00"},
         "   -5.000E-01   -5.000E-01    0.000E+00"},
    };
}

TEST(GridDescription, CnfAndMshFilesByteForByte) {
    ScratchDir dir;
    for (const GridCase& c : grid_cases()) {
        SCOPED_TRACE(c.what);
        const GridAxes g = make_grid(c.nx, c.xmin, c.dx, c.ny, c.ymin, c.dy, c.nz, c.zmin, c.dz);

        OutputFile cnf = OutputFile::open_result(dir.file("RUN.CNF"));
        WRITE_CNF(cnf, g, c.dx, c.dy, c.dz);
        cnf.close();
        OutputFile msh = OutputFile::open_result(dir.file("RUN.MSH"));
        WRITE_MSH(msh, g, c.dx, c.dy, c.dz, c.xmin, c.ymin);
        msh.close();

        std::vector<std::string> cnf_records = c.counts;
        cnf_records.push_back(kConstant);
        std::vector<std::string> msh_records = c.counts;
        msh_records.push_back(c.origin);
        msh_records.push_back(kConstant);
        EXPECT_EQ(read_bytes(dir.file("RUN.CNF")), as_file(cnf_records));
        EXPECT_EQ(read_bytes(dir.file("RUN.MSH")), as_file(msh_records));
    }
}

TEST(GridDescription, RecordLengths) {
    // 17 (counts), 19 (count fields), 39 (origin), 13 (constant), each + CR LF.
    ScratchDir dir;
    const GridAxes g = make_grid(101, 0.0, 1.0, 51, -50.0, 2.0, 11, 0.0, 0.5);
    OutputFile msh = OutputFile::open_result(dir.file("RUN.MSH"));
    WRITE_MSH(msh, g, 1.0, 2.0, 0.5, 0.0, -50.0);
    msh.close();
    const auto records = test::split_records(read_bytes(dir.file("RUN.MSH")));
    const std::vector<std::size_t> lengths = {17, 19, 19, 19, 19, 39, 13};
    ASSERT_EQ(records.size(), lengths.size());
    for (std::size_t n = 0; n < lengths.size(); ++n) {
        EXPECT_EQ(records[n].size(), lengths[n]) << "record " << n + 1;
    }
}

}  // namespace
}  // namespace plumcor
