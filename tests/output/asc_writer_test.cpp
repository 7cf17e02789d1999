// The ASCII concentration file: the worked example, node order, several
// output times, the hand-assembled records against the formatter itself, and
// the single-precision copy of the field.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "output/grid_files.hpp"
#include "output/grid_test_support.hpp"
#include "output/output_file.hpp"
#include "output/record_writer.hpp"

namespace plumcor {
namespace {

using test::as_file;
using test::make_grid;
using test::read_bytes;
using test::ScratchDir;

// 7X, 5(1X, 1PE12.3), as the file's records are defined.
constexpr Item kNodeLayout[] = {X(7), group(5), X(1), P(1), E(12, 3), end_group()};

const std::string kSeven(7, ' ');

std::string write_asc_file(const ScratchDir& dir, const GridAxes& g,
                           const std::vector<double>& times,
                           const std::vector<std::vector<double>>& fields,
                           std::vector<float>& conc4) {
    OutputFile f = OutputFile::open_result(dir.file("RUN.ASC"));
    for (std::size_t n = 0; n < times.size(); ++n) WRITE_ASC(f, times[n], g, fields[n], conc4);
    f.close();
    return read_bytes(dir.file("RUN.ASC"));
}

TEST(AscWriter, WorkedExampleTwoByOneByTwo) {
    // NX = 2, NY = 1, NZ = 2; x 0 and 10, y 0, z 0 and 1; one time, 100.
    ScratchDir dir;
    const GridAxes g = make_grid(2, 0.0, 10.0, 1, 0.0, 1.0, 2, 0.0, 1.0);
    // Field index i + 2*k (x fastest): (0,0,0) (10,0,0) (0,0,1) (10,0,1).
    const std::vector<double> conc = {0.0, 0.1, -2.5, 1.0e-40};
    std::vector<float> conc4(4, 99.0f);
    const std::string bytes = write_asc_file(dir, g, {100.0}, {conc}, conc4);

    // z varies fastest: (0,0,0), (0,0,1), (10,0,0), (10,0,1).
    const std::vector<std::string> expected = {
        std::string(11, ' ') + "1.000E+02",
        kSeven + "    0.000E+00    0.000E+00    0.000E+00    0.000E+00",
        kSeven + "    0.000E+00    0.000E+00    1.000E+00   -2.500E+00",
        kSeven + "    1.000E+01    0.000E+00    0.000E+00    1.000E-01",
        std::string(11, ' ') + "1.000E+01" + std::string(4, ' ') + "0.000E+00" +
            std::string(4, ' ') + "1.000E+00" + std::string(4, ' ') + "1.000E-40",
    };
    EXPECT_EQ(bytes, as_file(expected));

    const auto records = test::split_records(bytes);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].size(), 20u);
    for (std::size_t n = 1; n < records.size(); ++n) EXPECT_EQ(records[n].size(), 59u);

    EXPECT_EQ(std::bit_cast<std::uint32_t>(conc4[0]), 0u);
    EXPECT_EQ(conc4[1], 0.1f);
    EXPECT_EQ(conc4[2], -2.5f);
    // The text keeps the double; the single-precision copy is flushed to 0.
    EXPECT_EQ(std::bit_cast<std::uint32_t>(conc4[3]), 0u);
}

TEST(AscWriter, SecondTimeFollowsTheFirstDirectly) {
    ScratchDir dir;
    const GridAxes g = make_grid(1, 5.0, 1.0, 1, -25.0, 1.0, 1, 0.5, 1.0);
    std::vector<float> conc4(1, 99.0f);
    const std::string bytes = write_asc_file(dir, g, {1.0, 2.0}, {{3.0}, {4.0}}, conc4);
    const std::string node = kSeven + "    5.000E+00   -2.500E+01    5.000E-01";
    EXPECT_EQ(bytes, as_file({std::string(11, ' ') + "1.000E+00", node + "    3.000E+00",
                              std::string(11, ' ') + "2.000E+00", node + "    4.000E+00"}));
    EXPECT_EQ(conc4[0], 4.0f);
}

// Values that exercise every branch of the real field: signs, zero, ties,
// carries, three-digit exponents, and the non-finite words.
std::vector<double> mixed_values() {
    const double inf = std::numeric_limits<double>::infinity();
    return {0.0,      -0.0,      1.0e-40,  -1.0e-40,     1.0e-310, std::nan(""), inf, -inf,
            DBL_MAX,  -DBL_MAX,  1.1875,   1.0625,       9.9996,   -2.5,         0.1, 1.0e150,
            2.0e-120, -1.0e-100, 123456.0, -0.000999951, 1.0e100,  9.9995e99};
}

struct IdentityCase {
    const char* what;
    GridAxes grid;
    double t;
};

TEST(AscWriter, NodeRecordsMatchTheFormatter) {
    const std::vector<double> mixed = mixed_values();
    GridAxes small;
    small.NX = 3;
    small.NY = 4;
    small.NZ = 5;
    small.XAXIS = {-1.5e-120, 0.0, 2.5e150};
    small.YAXIS = {-25.0, -0.0, 9.9996, 1.0625};
    small.ZAXIS = {0.0, 0.5, 1.0e-5, -7.25e99, 1.0e100};
    const IdentityCase cases[] = {
        {"irregular axes with extreme coordinates", small, 1.0e-120},
        // More than the file's buffer holds, so records straddle flushes.
        {"a grid larger than one buffer",
         make_grid(40, -195.0, 10.0, 30, -14.5, 1.0, 20, 0.0, 0.25), 3650.0},
    };
    ScratchDir dir;
    for (const IdentityCase& c : cases) {
        SCOPED_TRACE(c.what);
        const GridAxes& g = c.grid;
        const auto nodes = static_cast<std::size_t>(g.nodes());
        std::vector<double> conc(nodes);
        for (std::size_t L = 0; L < nodes; ++L) {
            conc[L] = L < mixed.size() ? mixed[L]
                                       : (L % 2 ? -1.37 : 2.71) *
                                             std::pow(10.0, static_cast<double>(L % 300) - 150.0);
        }
        std::vector<float> conc4(nodes);
        const std::string bytes = write_asc_file(dir, g, {c.t}, {conc}, conc4);

        struct Collect final : RecordSink {
            std::vector<std::string> records;
            void put_record(std::string_view r) override { records.emplace_back(r); }
        } sink;
        write_records(sink, kNodeLayout, {c.t});
        for (int i = 0; i < g.NX; ++i)
            for (int j = 0; j < g.NY; ++j)
                for (int k = 0; k < g.NZ; ++k)
                    write_records(sink, kNodeLayout,
                                  {g.XAXIS[i], g.YAXIS[j], g.ZAXIS[k],
                                   conc[static_cast<std::size_t>(g.index(i, j, k))]});
        ASSERT_EQ(sink.records.size(), nodes + 1);
        EXPECT_EQ(bytes.size(), as_file(sink.records).size());
        EXPECT_TRUE(bytes == as_file(sink.records));
        // Point at the first difference rather than dumping megabytes.
        const auto got = test::split_records(bytes);
        ASSERT_EQ(got.size(), sink.records.size());
        for (std::size_t n = 0; n < got.size(); ++n) {
            if (got[n] != sink.records[n]) {
                ADD_FAILURE() << "record " << n + 1 << ":\n  \"" << got[n] << "\"\n  \""
                              << sink.records[n] << "\"";
                break;
            }
        }
    }
}

#if defined(__SSE__)
// The conversion as the processor does it with flush-to-zero on, the mode
// the program runs in.
float convert_flushing(double v) {
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | _MM_FLUSH_ZERO_ON);
    volatile double in = v;
    volatile float out = static_cast<float>(in);
    _mm_setcsr(saved);
    return out;
}
#endif

TEST(AscWriter, SinglePrecisionCopy) {
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* what;
        double value;
        float expected;
    };
    const Case cases[] = {
        {"nearest single", 0.1, 0.1f},
        {"exact", -2.5, -2.5f},
        {"tie to even, down", 1.0 + 0x1p-24, 1.0f},
        {"tie to even, up", 1.0 + 3 * 0x1p-24, 1.0f + 0x1p-22f},
        {"largest single", 3.4028234663852886e38, FLT_MAX},
        {"beyond the single range", 1.0e39, inf},
        {"minus infinity", -std::numeric_limits<double>::infinity(), -inf},
        {"smallest normal single", 0x1p-126, FLT_MIN},
        {"rounds up to the smallest normal", 0x1p-126 - 0x1p-151, FLT_MIN},
        {"just short of rounding up", std::nextafter(0x1p-126 - 0x1p-151, 0.0), 0.0f},
        {"largest single subnormal", 0x1p-126 - 0x1p-149, 0.0f},
        {"far below the single range", 1.0e-40, 0.0f},
        {"negative tiny keeps its sign", -1.0e-40, -0.0f},
        {"double subnormal", 1.0e-310, 0.0f},
    };
    // One node per case along x, and a NaN at the end.
    std::vector<double> conc;
    for (const Case& c : cases) conc.push_back(c.value);
    conc.push_back(std::nan(""));
    const GridAxes g =
        make_grid(static_cast<std::int32_t>(conc.size()), 0.0, 1.0, 1, 0.0, 1.0, 1, 0.0, 1.0);

    ScratchDir dir;
    std::vector<float> conc4(conc.size(), 99.0f);
    write_asc_file(dir, g, {1.0}, {conc}, conc4);
    for (std::size_t L = 0; L < std::size(cases); ++L) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(conc4[L]),
                  std::bit_cast<std::uint32_t>(cases[L].expected))
            << cases[L].what << ": " << conc4[L];
#if defined(__SSE__)
        EXPECT_EQ(std::bit_cast<std::uint32_t>(conc4[L]),
                  std::bit_cast<std::uint32_t>(convert_flushing(cases[L].value)))
            << cases[L].what << ": differs from the processor's flushing conversion";
#endif
    }
    EXPECT_TRUE(std::isnan(conc4.back()));

#if defined(__SSE__)
    // The writer itself running in that mode gives the same copy.
    std::vector<float> flushed(conc.size(), 99.0f);
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | _MM_FLUSH_ZERO_ON);
    write_asc_file(dir, g, {1.0}, {conc}, flushed);
    _mm_setcsr(saved);
    for (std::size_t L = 0; L < conc.size(); ++L) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(flushed[L]), std::bit_cast<std::uint32_t>(conc4[L]))
            << "node " << L;
    }
#endif
}

// The pipeline of the distribution loop renders the node records of a slab
// of x columns at a time, from a field that holds only that slab, and copies
// the slab into CONC4. Whatever the slabs, the records must be the
// formatter's and the copy the processor's conversion.
TEST(AscWriter, SlabsOfColumnsGiveTheFormattersRecords) {
    const std::vector<double> mixed = mixed_values();
    GridAxes extreme;
    extreme.NX = 3;
    extreme.NY = 2;
    extreme.NZ = 4;
    extreme.XAXIS = {-1.5e-120, 0.0, 2.5e150};
    extreme.YAXIS = {-25.0, 9.9996};
    extreme.ZAXIS = {0.0, 1.0e-5, -7.25e99, 1.0e100};
    struct Case {
        const char* what;
        GridAxes grid;
        int columns;  // per slab; the last slab takes what is left
    };
    const GridAxes five = make_grid(5, 0.0, 12.5, 4, -15.0, 10.0, 3, 0.0, 0.5);
    const Case cases[] = {
        {"one column per slab", five, 1},
        {"slabs of two, the last of one", five, 2},
        {"slabs of three, the last of two", five, 3},
        {"the whole field as one slab", five, 5},
        {"extreme values and coordinates, slabs of two", extreme, 2},
        {"a single node", make_grid(1, 5.0, 1.0, 1, -25.0, 1.0, 1, 0.5, 1.0), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const GridAxes& g = c.grid;
        const auto nodes = static_cast<std::size_t>(g.nodes());
        std::vector<double> conc(nodes);
        for (std::size_t L = 0; L < nodes; ++L)
            conc[L] = L < mixed.size() ? mixed[(L * 7) % mixed.size()]
                                       : (L % 2 ? -1.37 : 2.71) * std::pow(10.0, static_cast<double>(L % 60) - 30.0);

        const AscNodeRecords records(g);
        std::string text;
        std::vector<float> conc4(nodes, 99.0f);
        for (int i0 = 0; i0 < g.NX; i0 += c.columns) {
            const int i1 = std::min(i0 + c.columns, g.NX);
            const int cols = i1 - i0;
            // The slab's own field: x fastest within the slab.
            std::vector<double> slab(static_cast<std::size_t>(cols) * g.NY * g.NZ);
            for (int i = i0; i < i1; ++i)
                for (int j = 0; j < g.NY; ++j)
                    for (int k = 0; k < g.NZ; ++k)
                        slab[static_cast<std::size_t>((i - i0) + cols * (j + g.NY * k))] =
                            conc[static_cast<std::size_t>(g.index(i, j, k))];
            std::string block(slab.size() * AscNodeRecords::kRecordBytes, '?');
            const char* end = records.render(block.data(), i0, i1, slab.data(), i0, cols);
            EXPECT_EQ(end, block.data() + block.size());
            text += block;
            records.copy_single(conc4.data(), i0, i1, slab.data(), i0, cols);
        }

        std::vector<std::string> expected;
        for (int i = 0; i < g.NX; ++i)
            for (int j = 0; j < g.NY; ++j)
                for (int k = 0; k < g.NZ; ++k)
                    for (const std::string& r :
                         format_records(kNodeLayout, {g.XAXIS[i], g.YAXIS[j], g.ZAXIS[k],
                                                      conc[static_cast<std::size_t>(g.index(i, j, k))]}))
                        expected.push_back(r);
        ASSERT_EQ(expected.size(), nodes);
        EXPECT_TRUE(text == as_file(expected));
        const auto got = test::split_records(text);
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t n = 0; n < got.size(); ++n) {
            if (got[n] != expected[n]) {
                ADD_FAILURE() << "record " << n + 1 << ":\n  \"" << got[n] << "\"\n  \"" << expected[n] << "\"";
                break;
            }
        }
#if defined(__SSE__)
        for (std::size_t L = 0; L < nodes; ++L) {
            if (std::isnan(conc[L])) {
                EXPECT_TRUE(std::isnan(conc4[L])) << "node " << L;
                continue;
            }
            EXPECT_EQ(std::bit_cast<std::uint32_t>(conc4[L]), std::bit_cast<std::uint32_t>(convert_flushing(conc[L])))
                << "node " << L << ": " << conc[L];
        }
#endif
    }
}

}  // namespace
}  // namespace plumcor
