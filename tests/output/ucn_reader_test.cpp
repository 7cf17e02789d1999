// The two concentration files of a run must say the same thing: every layer
// of the unformatted file, read back both by an independent little-endian
// decoder and by a Fortran program doing plain sequential unformatted READs,
// is compared with the ASCII file's records for the same times and nodes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/deck_builder.hpp"
#include "e2e/run_support.hpp"
#include "output/grid_files.hpp"
#include "output/grid_test_support.hpp"
#include "output/output_file.hpp"

namespace plumcor {
namespace {

using test::le_f32;
using test::le_i32;
using test::make_grid;
using test::read_bytes;
using test::ScratchDir;

// ---- the ASCII side --------------------------------------------------------

using Node = std::array<int, 3>;  // i, j, k counted from 0

struct AscTime {
    double t = 0;
    int nx = 0, ny = 0, nz = 0;
    std::map<Node, double> conc;
};

double field_at(const std::string& record, std::size_t column) {
    // Columns of the fields: 8-20, 21-33, 34-46, 47-59 (1X + 1PE12.3 each).
    return std::strtod(record.substr(column, 13).c_str(), nullptr);
}

// Rank of each distinct coordinate: the node indices along that axis.
std::map<double, int> ranks(const std::vector<double>& coords) {
    std::vector<double> sorted = coords;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::map<double, int> out;
    for (std::size_t n = 0; n < sorted.size(); ++n) out[sorted[n]] = static_cast<int>(n);
    return out;
}

std::vector<AscTime> parse_asc(const std::string& bytes) {
    struct Raw {
        double x, y, z, c;
    };
    std::vector<std::pair<double, std::vector<Raw>>> raw;
    for (const std::string& r : test::split_records(bytes)) {
        if (r.size() == 20) {
            raw.push_back({field_at(r, 7), {}});
        } else if (r.size() == 59 && !raw.empty()) {
            raw.back().second.push_back(
                {field_at(r, 7), field_at(r, 20), field_at(r, 33), field_at(r, 46)});
        } else {
            ADD_FAILURE() << "unexpected record \"" << r << "\"";
        }
    }
    std::vector<AscTime> out;
    for (const auto& [t, nodes] : raw) {
        std::vector<double> xs, ys, zs;
        for (const Raw& n : nodes) {
            xs.push_back(n.x);
            ys.push_back(n.y);
            zs.push_back(n.z);
        }
        const auto xr = ranks(xs), yr = ranks(ys), zr = ranks(zs);
        AscTime a;
        a.t = t;
        a.nx = static_cast<int>(xr.size());
        a.ny = static_cast<int>(yr.size());
        a.nz = static_cast<int>(zr.size());
        for (const Raw& n : nodes) {
            const bool fresh = a.conc.emplace(Node{xr.at(n.x), yr.at(n.y), zr.at(n.z)}, n.c).second;
            EXPECT_TRUE(fresh) << "node (" << n.x << ", " << n.y << ", " << n.z << ") twice";
        }
        EXPECT_EQ(a.conc.size(), static_cast<std::size_t>(a.nx) * a.ny * a.nz)
            << "time " << t << ": the nodes do not fill the grid";
        out.push_back(std::move(a));
    }
    return out;
}

// ---- the unformatted side, as a list of layers -------------------------------

struct Layer {
    std::int32_t k1 = 0, k2 = 0, k3 = 0;
    float t = 0;
    std::string text;
    std::int32_t ncol = 0, nrow = 0, layer = 0;
    std::vector<float> values;
};

std::vector<Layer> decode_ucn(const std::string& bytes) {
    const auto records = test::split_framed(bytes);
    EXPECT_EQ(records.size() % 2, 0u);
    std::vector<Layer> out;
    for (std::size_t r = 0; r + 1 < records.size(); r += 2) {
        const std::string& h = records[r].data;
        const std::string& d = records[r + 1].data;
        if (h.size() != 44) {
            ADD_FAILURE() << "header record " << r << " has " << h.size() << " bytes";
            break;
        }
        Layer l{le_i32(h, 0),  le_i32(h, 4),     le_i32(h, 8),
                le_f32(h, 12), h.substr(16, 16), le_i32(h, 32),
                le_i32(h, 36), le_i32(h, 40),    {}};
        EXPECT_EQ(d.size(),
                  4u * static_cast<std::size_t>(l.ncol) * static_cast<std::size_t>(l.nrow));
        for (std::size_t n = 0; n + 4 <= d.size(); n += 4) l.values.push_back(le_f32(d, n));
        out.push_back(std::move(l));
    }
    return out;
}

// The single-precision value of an ASCII concentration as the program's
// flush-to-zero conversion leaves it (no value here is near the boundary).
float single_of(double v) {
    return std::fabs(v) < FLT_MIN ? std::copysign(0.0f, static_cast<float>(v))
                                  : static_cast<float>(v);
}

// `relative` = 0 asks for the exact single-precision value of the ASCII
// number; a run's ASCII file holds only four significant digits of the
// double, so the run's check allows their rounding.
void expect_same_contents(const std::vector<AscTime>& asc, const std::vector<Layer>& layers,
                          double relative = 0) {
    std::size_t expected_layers = 0;
    for (const AscTime& a : asc) expected_layers += static_cast<std::size_t>(a.nz);
    ASSERT_EQ(layers.size(), expected_layers);
    std::size_t next = 0;
    for (std::size_t n = 0; n < asc.size(); ++n) {
        const AscTime& a = asc[n];
        for (int L = 1; L <= a.nz; ++L) {
            const Layer& l = layers[next++];
            SCOPED_TRACE("time " + std::to_string(n + 1) + ", layer " + std::to_string(L));
            EXPECT_EQ(l.k1, 1);
            EXPECT_EQ(l.k2, 1);
            EXPECT_EQ(l.k3, 1);
            EXPECT_EQ(l.t, static_cast<float>(a.t));
            EXPECT_EQ(l.text, "CONCENTRATION   ");
            EXPECT_EQ(l.ncol, a.nx);
            EXPECT_EQ(l.nrow, a.ny);
            EXPECT_EQ(l.layer, L);
            ASSERT_EQ(l.values.size(), static_cast<std::size_t>(a.nx) * a.ny);
            // Layer 1 is the top plane; rows start at the largest y.
            const int k = a.nz - L;
            for (int row = 0; row < a.ny; ++row) {
                for (int col = 0; col < a.nx; ++col) {
                    const double c = a.conc.at(Node{col, a.ny - 1 - row, k});
                    const float got = l.values[static_cast<std::size_t>(row * a.nx + col)];
                    if (relative == 0) {
                        EXPECT_EQ(got, single_of(c))
                            << "node (" << col + 1 << ", " << a.ny - row << ", " << k + 1 << ") = " << c;
                    } else {
                        EXPECT_NEAR(got, c, std::max(relative * std::fabs(c), double{FLT_MIN}))
                            << "node (" << col + 1 << ", " << a.ny - row << ", " << k + 1 << ") = " << c;
                    }
                }
            }
        }
    }
}

// ---- the run being checked --------------------------------------------------

// Four x, three y (below zero) and three z nodes, two output times, and a
// value with four significant digits at every node, different at each node
// and time: the ASCII text then carries the value exactly.
struct TwoFiles {
    std::string asc, ucn;
};

TwoFiles write_both(const ScratchDir& dir) {
    const GridAxes g = make_grid(4, 0.0, 10.0, 3, -25.0, 12.5, 3, 0.0, 0.5);
    const std::vector<double> times = {0.1, 250.0};
    const auto nodes = static_cast<std::size_t>(g.nodes());
    std::vector<float> conc4(nodes);
    OutputFile asc = OutputFile::open_result(dir.file("RUN.ASC"));
    OutputFile ucn = OutputFile::open_result(dir.file("RUN.UCN"));
    for (std::size_t n = 0; n < times.size(); ++n) {
        std::vector<double> conc(nodes);
        for (std::size_t L = 0; L < nodes; ++L) {
            const int mantissa = 1000 + static_cast<int>(7 * L + 300 * n);
            const int exponent = static_cast<int>((13 * L + 5 * n) % 60) - 30;
            char text[32];
            std::snprintf(text, sizeof text, "%s%d.%03dE%+03d", L % 5 == 1 ? "-" : "",
                          mantissa / 1000, mantissa % 1000, exponent);
            conc[L] = std::strtod(text, nullptr);
        }
        conc[0] = n == 0 ? 0.0 : 1.0e-40;  // zero, and a value too small for single
        conc[nodes - 1] = -3.0e38;         // close to the single-precision limit
        WRITE_ASC(asc, times[n], g, conc, conc4);
        WRITE_UCN(ucn, times[n], g, conc4);
    }
    asc.close();
    ucn.close();
    return {read_bytes(dir.file("RUN.ASC")), read_bytes(dir.file("RUN.UCN"))};
}

TEST(ConcentrationFiles, LayerFileMatchesAsciiFile) {
    ScratchDir dir;
    const TwoFiles files = write_both(dir);
    const auto asc = parse_asc(files.asc);
    ASSERT_EQ(asc.size(), 2u);
    EXPECT_EQ(asc[0].nx, 4);
    EXPECT_EQ(asc[0].ny, 3);
    EXPECT_EQ(asc[0].nz, 3);
    EXPECT_EQ(files.ucn.size(), 2u * 3u * (60u + 4u * 12u));
    expect_same_contents(asc, decode_ucn(files.ucn));
}

// ---- the Fortran reader -----------------------------------------------------

std::vector<Layer> parse_reader_output(const std::string& text) {
    std::istringstream in(text);
    std::vector<Layer> out;
    std::string line;
    bool ended = false;
    while (std::getline(in, line)) {
        if (line.rfind("HEADER", 0) == 0) {
            Layer l;
            const auto q1 = line.find('"');
            const auto q2 = line.find('"', q1 + 1);
            if (q1 == std::string::npos || q2 == std::string::npos) {
                ADD_FAILURE() << "header without its text: " << line;
                break;
            }
            l.text = line.substr(q1 + 1, q2 - q1 - 1);
            std::istringstream before(line.substr(6, q1 - 6)), after(line.substr(q2 + 1));
            std::string t;
            before >> l.k1 >> l.k2 >> l.k3 >> t;
            l.t = static_cast<float>(std::strtod(t.c_str(), nullptr));
            after >> l.ncol >> l.nrow >> l.layer;
            EXPECT_FALSE(before.fail() || after.fail()) << line;
            out.push_back(std::move(l));
        } else if (line.rfind("END", 0) == 0) {
            EXPECT_EQ(std::stoul(line.substr(3)), out.size());
            ended = true;
        } else if (!out.empty()) {
            // ES16.8E3 carries nine significant digits: enough to get the
            // single-precision value back exactly.
            out.back().values.push_back(static_cast<float>(std::strtod(line.c_str(), nullptr)));
        } else {
            ADD_FAILURE() << "value before any header: " << line;
        }
    }
    EXPECT_TRUE(ended) << "the reader did not finish";
    return out;
}

std::string run_reader(const std::string& ucn, const std::string& listing) {
    const std::string command = std::string("'") + PLUMCOR_READ_UCN + "' '" + ucn + "' > '" + listing + "'";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << " -> " << status;
    return read_bytes(listing);
}

TEST(ConcentrationFiles, FortranSequentialReaderSeesTheAsciiValues) {
    ScratchDir dir;
    const TwoFiles files = write_both(dir);
    const auto layers = parse_reader_output(run_reader(dir.file("RUN.UCN"), dir.file("read_ucn.txt")));
    expect_same_contents(parse_asc(files.asc), layers);
}

// The same check on the files of a real run: a plume on a 6 x 5 x 4 grid at
// three times, read by the Fortran program.
TEST(ConcentrationFiles, FortranReaderOnARealRun) {
    plumcor::testing::TempDir dir;
    plumcor::testing::DeckBuilder deck;
    deck.with_grid(3, "0 40 400", "0 100 20", "-10 10 5", "0 6 2");
    dir.write("PLUME.INP", deck.text());
    const auto r = dir.run("PLUME\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto asc = parse_asc(dir.read("PLUME.ASC"));
    ASSERT_EQ(asc.size(), 3u);
    EXPECT_EQ(asc[2].nx, 6);
    EXPECT_EQ(asc[2].ny, 5);
    EXPECT_EQ(asc[2].nz, 4);
    int plume_nodes = 0;  // the comparison means little on an empty grid
    for (const auto& [node, c] : asc[2].conc) plume_nodes += c > 1.0e-3 ? 1 : 0;
    EXPECT_GT(plume_nodes, 20);
    const auto layers = parse_reader_output(run_reader((dir / "PLUME.UCN").string(), (dir / "read.txt").string()));
    expect_same_contents(asc, layers, 5.0e-4);
    expect_same_contents(asc, decode_ucn(dir.read("PLUME.UCN")), 5.0e-4);
}

}  // namespace
}  // namespace plumcor
