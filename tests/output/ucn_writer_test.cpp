// The unformatted concentration file: exact bytes of the worked 2 x 3 x 2
// example, the layer/row/column order, the time as single precision, full
// 500 x 251 layers and several output times.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "output/grid_files.hpp"
#include "output/grid_test_support.hpp"
#include "output/output_file.hpp"

namespace plumcor {
namespace {

using test::hex_bytes;
using test::le_f32;
using test::le_i32;
using test::make_grid;
using test::read_bytes;
using test::ScratchDir;

std::string write_ucn_file(const ScratchDir& dir, const GridAxes& g,
                           const std::vector<double>& times, const std::vector<float>& conc4) {
    OutputFile f = OutputFile::open_result(dir.file("RUN.UCN"));
    for (double t : times) WRITE_UCN(f, t, g, conc4);
    f.close();
    return read_bytes(dir.file("RUN.UCN"));
}

// Field of a grid where node (i, j, k), counted from 1, holds 100i + 10j + k.
std::vector<float> coded_field(const GridAxes& g) {
    std::vector<float> conc4(static_cast<std::size_t>(g.nodes()));
    for (int k = 0; k < g.NZ; ++k)
        for (int j = 0; j < g.NY; ++j)
            for (int i = 0; i < g.NX; ++i)
                conc4[static_cast<std::size_t>(g.index(i, j, k))] =
                    static_cast<float>(100 * (i + 1) + 10 * (j + 1) + (k + 1));
    return conc4;
}

std::vector<float> floats_of(const std::string& bytes, std::size_t at, std::size_t count) {
    std::vector<float> out;
    for (std::size_t n = 0; n < count; ++n) out.push_back(le_f32(bytes, at + 4 * n));
    return out;
}

TEST(UcnWriter, WorkedExampleTwoByThreeByTwo) {
    ScratchDir dir;
    const GridAxes g = make_grid(2, 0.0, 1.0, 3, 0.0, 1.0, 2, 0.0, 1.0);
    const std::string bytes = write_ucn_file(dir, g, {10.0}, coded_field(g));
    ASSERT_EQ(bytes.size(), 168u);

    const std::string header_text = "43 4F 4E 43 45 4E 54 52 41 54 49 4F 4E 20 20 20";
    const std::string layer1 =
        hex_bytes("2C 00 00 00 01 00 00 00 01 00 00 00 01 00 00 00 00 00 20 41 " + header_text +
                  " 02 00 00 00 03 00 00 00 01 00 00 00 2C 00 00 00");
    const std::string layer2 =
        hex_bytes("2C 00 00 00 01 00 00 00 01 00 00 00 01 00 00 00 00 00 20 41 " + header_text +
                  " 02 00 00 00 03 00 00 00 02 00 00 00 2C 00 00 00");
    const std::string length24 = hex_bytes("18 00 00 00");

    EXPECT_EQ(bytes.substr(0, 52), layer1);
    EXPECT_EQ(bytes.substr(52, 4), length24);
    // Plane k = 2, rows from j = 3 down to 1, x along each row.
    EXPECT_EQ(floats_of(bytes, 56, 6), (std::vector<float>{132, 232, 122, 222, 112, 212}));
    EXPECT_EQ(bytes.substr(80, 4), length24);
    EXPECT_EQ(bytes.substr(84, 52), layer2);
    EXPECT_EQ(bytes.substr(136, 4), length24);
    EXPECT_EQ(floats_of(bytes, 140, 6), (std::vector<float>{131, 231, 121, 221, 111, 211}));
    EXPECT_EQ(bytes.substr(164, 4), length24);
}

TEST(UcnWriter, TimeAsNearestSingleAndHeadersOfLaterTimes) {
    // One node: each time adds a 52-byte header and a 12-byte data record.
    ScratchDir dir;
    const GridAxes g = make_grid(1, 0.0, 1.0, 1, 0.0, 1.0, 1, 0.0, 1.0);
    const std::vector<double> times = {10.0, 0.1, 1.0e10};
    const std::string bytes = write_ucn_file(dir, g, times, {0.1f});
    ASSERT_EQ(bytes.size(), 64u * times.size());
    const char* time_bytes[] = {"00 00 20 41", "CD CC CC 3D", "F9 02 15 50"};
    for (std::size_t n = 0; n < times.size(); ++n) {
        SCOPED_TRACE("time " + std::to_string(n + 1));
        const std::string rec = bytes.substr(64 * n, 64);
        EXPECT_EQ(rec.substr(0, 16), hex_bytes("2C 00 00 00 01 00 00 00 01 00 00 00 01 00 00 00"));
        EXPECT_EQ(rec.substr(16, 4), hex_bytes(time_bytes[n]));
        EXPECT_EQ(rec.substr(20, 16), "CONCENTRATION   ");
        EXPECT_EQ(rec.substr(36, 16), hex_bytes("01 00 00 00 01 00 00 00 01 00 00 00 2C 00 00 00"));
        EXPECT_EQ(rec.substr(52, 12), hex_bytes("04 00 00 00 CD CC CC 3D 04 00 00 00"));
    }
}

TEST(UcnWriter, FullLayerIsOneRecord) {
    ScratchDir dir;
    const GridAxes g = make_grid(500, 0.0, 1.0, 251, 0.0, 1.0, 1, 0.0, 1.0);
    std::vector<float> conc4(static_cast<std::size_t>(g.nodes()));
    for (std::size_t p = 0; p < conc4.size(); ++p) conc4[p] = static_cast<float>(p);
    const std::string bytes = write_ucn_file(dir, g, {1.0}, conc4);
    ASSERT_EQ(bytes.size(), 52u + 8u + 502000u);
    EXPECT_EQ(bytes.substr(36, 12), hex_bytes("F4 01 00 00 FB 00 00 00 01 00 00 00"));
    EXPECT_EQ(bytes.substr(52, 4), hex_bytes("F0 A8 07 00"));
    EXPECT_EQ(bytes.substr(52 + 4 + 502000, 4), hex_bytes("F0 A8 07 00"));
    // Value n of the record is row n / 500 from the top (y index 250 down),
    // column n % 500; its field index is column + 500 * y index.
    std::size_t wrong = 0;
    for (std::size_t n = 0; n < conc4.size(); ++n) {
        const std::size_t expected = n % 500 + 500 * (250 - n / 500);
        if (le_f32(bytes, 56 + 4 * n) != static_cast<float>(expected)) ++wrong;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(UcnWriter, SeveralTimesAndLayers) {
    ScratchDir dir;
    const GridAxes g = make_grid(4, 0.0, 1.0, 3, 0.0, 1.0, 5, 0.0, 1.0);
    const std::vector<double> times = {0.5, 2.0};
    const std::string bytes = write_ucn_file(dir, g, times, coded_field(g));
    // NT * NZ * (60 + 4 * NX * NY)
    ASSERT_EQ(bytes.size(), 2u * 5u * (60u + 4u * 12u));
    const auto records = test::split_framed(bytes);
    ASSERT_EQ(records.size(), 2u * 5u * 2u);
    std::size_t r = 0;
    for (float t : {0.5f, 2.0f}) {
        for (int layer = 1; layer <= 5; ++layer) {
            SCOPED_TRACE("time " + std::to_string(t) + " layer " + std::to_string(layer));
            const std::string& h = records[r++].data;
            ASSERT_EQ(h.size(), 44u);
            EXPECT_EQ(le_i32(h, 0), 1);
            EXPECT_EQ(le_i32(h, 4), 1);
            EXPECT_EQ(le_i32(h, 8), 1);
            EXPECT_EQ(le_f32(h, 12), t);
            EXPECT_EQ(h.substr(16, 16), "CONCENTRATION   ");
            EXPECT_EQ(le_i32(h, 32), 4);
            EXPECT_EQ(le_i32(h, 36), 3);
            EXPECT_EQ(le_i32(h, 40), layer);
            const std::string& d = records[r++].data;
            ASSERT_EQ(d.size(), 48u);
            const int k = 5 + 1 - layer;  // counted from 1
            std::size_t n = 0;
            for (int j = 3; j >= 1; --j)
                for (int i = 1; i <= 4; ++i, ++n)
                    EXPECT_EQ(le_f32(d, 4 * n), static_cast<float>(100 * i + 10 * j + k))
                        << "row " << j << " column " << i;
        }
    }
}

}  // namespace
}  // namespace plumcor
