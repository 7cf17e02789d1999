// End to end: the distribution loop computes and renders slabs of x columns
// on two threads and writes them in order. Whatever the slabs and times, the
// console, the .ASC and the .UCN files must hold the bytes that follow from
// the definitions: PATCH_CONC times C0 at every node, through the formatter's
// layouts and the single-precision conversion of the flush-to-zero run.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "driver/checks.hpp"
#include "driver/deck_reader.hpp"
#include "e2e/deck_builder.hpp"
#include "e2e/run_support.hpp"
#include "output/record_writer.hpp"
#include "solution/patch_conc.hpp"
#include "solution/solution_block.hpp"

namespace plumcor::testing {
namespace {

constexpr Item kNodeLine[] = {lit("+"), P(1), group(3), E(12, 3), end_group()};
constexpr Item kTimeLines[] = {slash(), lit(" concentration distribution at time : "), P(1), E(12, 3), slash()};
constexpr Item kAscLayout[] = {X(7), group(5), X(1), P(1), E(12, 3), end_group()};

std::string lines(FieldLayout layout, std::initializer_list<FieldValue> values) {
    std::string out;
    for (const std::string& r : format_records(layout, values)) out += r + "\r\n";
    return out;
}

void put_u32(std::string& out, std::uint32_t u) {
    for (int b = 0; b < 4; ++b) out += static_cast<char>((u >> (8 * b)) & 0xFFu);
}

// What the run must show and write for a deck, from the definitions.
struct Expected {
    std::string console, asc, ucn;
};

Expected expected_run(const std::string& deck) {
    const ProblemInput in = read_deck(deck, "RUN.INP");
    SolutionBlock blk = make_solution_block(in);
    const std::int32_t nx = *node_count(in.XMIN, in.XMAX, in.DX);
    const std::int32_t ny = *node_count(in.YMIN, in.YMAX, in.DY);
    const std::int32_t nz = *node_count(in.ZMIN, in.ZMAX, in.DZ);
    auto x = [&](int i) { return in.XMIN + static_cast<double>(i) * in.DX; };
    auto y = [&](int j) { return in.YMIN + static_cast<double>(j) * in.DY; };
    auto z = [&](int k) { return in.ZMIN + static_cast<double>(k) * in.DZ; };

#if defined(__SSE__)
    // The run computes with results that would be subnormal flushed to zero.
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | _MM_FLUSH_ZERO_ON);
#endif
    Expected e;
    e.console = kConsoleStart + "\r\n\r\n CALCULATING CONCENTRATION DISTRIBUTIONS\r\n";
    for (int n = 0; n < in.NT; ++n) {
        const double t = in.TIMES[static_cast<std::size_t>(n)];
        e.console += lines(kTimeLines, {t});
        e.asc += lines(kAscLayout, {t});
        std::vector<float> conc4(static_cast<std::size_t>(nx) * ny * nz);
        for (int i = 0; i < nx; ++i)
            for (int j = 0; j < ny; ++j)
                for (int k = 0; k < nz; ++k) {
                    e.console += lines(kNodeLine, {x(i), y(j), z(k)});
                    const double c = in.C0 * PATCH_CONC(blk, x(i), y(j), z(k), t);
                    e.asc += lines(kAscLayout, {x(i), y(j), z(k), c});
                    volatile double in_double = c;
                    volatile float single = static_cast<float>(in_double);
                    conc4[static_cast<std::size_t>(i + nx * (j + ny * k))] = single;
                }
        for (int layer = 1; layer <= nz; ++layer) {
            put_u32(e.ucn, 44);
            for (int one = 0; one < 3; ++one) put_u32(e.ucn, 1);
            put_u32(e.ucn, std::bit_cast<std::uint32_t>(static_cast<float>(t)));
            e.ucn += "CONCENTRATION   ";
            put_u32(e.ucn, static_cast<std::uint32_t>(nx));
            put_u32(e.ucn, static_cast<std::uint32_t>(ny));
            put_u32(e.ucn, static_cast<std::uint32_t>(layer));
            put_u32(e.ucn, 44);
            const auto bytes = static_cast<std::uint32_t>(4 * nx * ny);
            put_u32(e.ucn, bytes);
            const int k = nz - layer;
            for (int j = ny - 1; j >= 0; --j)
                for (int i = 0; i < nx; ++i)
                    put_u32(e.ucn, std::bit_cast<std::uint32_t>(conc4[static_cast<std::size_t>(i + nx * (j + ny * k))]));
            put_u32(e.ucn, bytes);
        }
    }
#if defined(__SSE__)
    _mm_setcsr(saved);
#endif
    return e;
}

// The first difference of two long texts, instead of megabytes of both.
std::string first_difference(const std::string& got, const std::string& want) {
    std::size_t p = 0;
    while (p < got.size() && p < want.size() && got[p] == want[p]) ++p;
    const std::size_t from = p < 80 ? 0 : p - 80;
    return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size()) + ", first difference at byte " +
           std::to_string(p) + ":\n  got  \"" + got.substr(from, 160) + "\"\n  want \"" + want.substr(from, 160) + "\"";
}

TEST(DistributionPipeline, EveryByteFollowsFromTheDefinitions) {
    struct Case {
        const char* what;
        int nt;
        std::string times, x, y, z;
    };
    const Case cases[] = {
        // Nine columns: slabs of three, the first column on the source plane;
        // times in no particular order, one of them 0.
        {"several slabs and times", 4, "400 0 50 2000", "0 80 10", "-10 10 10", "0 4 4"},
        // One column per slab, columns of one node each.
        {"slabs of a single node", 2, "100 300", "5 45 10", "0 0 1", "2.5 2.5 1"},
        // One x column only: a single slab per time.
        {"a single column", 3, "10 100 1000", "20 20 1", "-30 30 5", "0 6 1.5"},
        // The tables of a time are shared by its slabs and reused for later
        // times in turn: with one or two slabs per time, slabs of three or
        // more times are in flight together, and each set of tables is set
        // up again for several times (a time repeated, and 0, among them).
        {"one slab per time, many times", 8, "10 100 0 1000 100 5000 30 100", "20 20 1", "-30 30 15", "0 6 3"},
        {"two slabs per time, many times", 6, "30 700 0 70 700 2500", "10 30 20", "-20 20 10", "1 5 2"},
        // Many nodes per column, far more bytes than one buffer holds.
        {"large columns", 2, "365 3650", "0 150 50", "-100 100 2", "0 9.5 0.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeckBuilder deck;
        deck.set("NGAUSS", "104").set("LAMBDA", "1.0E-04").set("GAMMA", "2.0E-04");
        deck.with_grid(c.nt, c.times, c.x, c.y, c.z);
        TempDir dir;
        dir.write("RUN.INP", deck.text());
        const RunResult r = dir.run("RUN\n");
        ASSERT_EQ(r.status, 0) << r.err;
        const Expected e = expected_run(deck.text());
        EXPECT_TRUE(r.out == e.console) << first_difference(r.out, e.console);
        const std::string asc = dir.read("RUN.ASC");
        EXPECT_TRUE(asc == e.asc) << first_difference(asc, e.asc);
        const std::string ucn = dir.read("RUN.UCN");
        EXPECT_TRUE(ucn == e.ucn) << "sizes " << ucn.size() << " and " << e.ucn.size();
    }
}

}  // namespace
}  // namespace plumcor::testing
