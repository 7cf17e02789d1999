// End to end: the breakthrough and distribution loops' console lines and the
// breakthrough file, on decks whose concentrations are known exactly
// (points on the source plane hold C0*exp(-GAMMA*t) on the patch, 0 off it,
// and everything is 0 at t = 0).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/deck_builder.hpp"
#include "e2e/run_support.hpp"

namespace plumcor::testing {
namespace {

const std::string Z = "    0.000E+00";  // a zero in a 13-column field

TEST(BreakthroughLoop, ConsoleAndRecordsWrapAfterFourAndNinePoints) {
    TempDir dir;
    DeckBuilder deck;  // C0 = 100, GAMMA = 0.002, W = 20, Z1 = 0, Z2 = 5
    deck.with_points({"0 0 2.5", "0 10 0", "0 10.5 2.5", "0 0 5", "0 0 5.1", "0 -10 5"}, "0 100 50");
    dir.write("B.INP", deck.text());
    RunResult r = dir.run("B\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kConsoleStart + " CALCULATING CONCENTRATIONS FOR BTC AT TIME :\r\n\r\n" +
                         "+   0.000E+00\r\n+   5.000E+01\r\n+   1.000E+02\r\n");
    // 100*exp(-0.1) = 90.4837..., 100*exp(-0.2) = 81.8730...
    const std::string a = "    9.048E+01", b = "    8.187E+01";
    bool crlf = false;
    EXPECT_EQ(records(dir.read("B.OBS"), &crlf),
              (std::vector<std::string>{
                  "       " + Z + Z + Z + Z + Z, Z + Z,
                  "       " + std::string("    5.000E+01") + a + a + Z + a, Z + a,
                  "       " + std::string("    1.000E+02") + b + b + Z + b, Z + b,
              }));
    EXPECT_TRUE(crlf);
}

TEST(BreakthroughLoop, RecordLengthsForOneFourFiveAndTenPoints) {
    struct Case {
        int points;
        std::vector<std::size_t> lengths;
    } cases[] = {{1, {33}}, {4, {72}}, {5, {72, 13}}, {9, {72, 65}}, {10, {72, 65, 13}}};
    for (const Case& c : cases) {
        TempDir dir;
        DeckBuilder deck;
        deck.with_points(std::vector<std::string>(static_cast<std::size_t>(c.points), "0 0 1"), "7 7 1");
        dir.write("L.INP", deck.text());
        RunResult r = dir.run("L\n");
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::size_t> got;
        for (const std::string& rec : records(dir.read("L.OBS"))) got.push_back(rec.size());
        EXPECT_EQ(got, c.lengths) << c.points << " points";
    }
}

TEST(BreakthroughLoop, UnsupportedOrderStopsAfterTheTimeLineThatNeedsQuadrature) {
    TempDir dir;
    DeckBuilder deck;
    deck.set("NGAUSS", "7");
    deck.with_points({"0 0 1", "10 0 1"}, "0 10 5");
    deck.with_grid(1, "5", "0 10 10", "0 0 1", "0 0 1");
    dir.write("Q.INP", deck.text());
    RunResult r = dir.run("Q\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    // t = 0 needs no quadrature; at t = 5 the second point does.
    const std::string start = kConsoleStart + " CALCULATING CONCENTRATIONS FOR BTC AT TIME :\r\n\r\n" +
                              "+   0.000E+00\r\n+   5.000E+00\r\n\r\n\r\n\r\n\r\n\r\n" + std::string(40, ' ') +
                              "*****  ERROR FLAG FROM SUBROUTINE DGAUSS *****\r\n";
    EXPECT_EQ(r.out.substr(0, start.size()), start);
    EXPECT_EQ(records(dir.read("Q.OBS")), (std::vector<std::string>{"       " + Z + Z + Z}));
    // The grid description was written before the loops; the concentration
    // files were opened but never written.
    EXPECT_EQ(records(dir.read("Q.CNF")).size(), 6u);
    EXPECT_EQ(records(dir.read("Q.MSH")).size(), 7u);
    EXPECT_EQ(dir.read("Q.ASC"), "");
    EXPECT_EQ(dir.read("Q.UCN"), "");
}

TEST(DistributionLoop, ConsoleShowsEveryNodeZFastest) {
    TempDir dir;
    DeckBuilder deck;
    deck.with_grid(2, "0 1E-3", "0 10 10", "-25 -15 5", "0 1 1");  // NX = 2, NY = 3, NZ = 2
    dir.write("G.INP", deck.text());
    RunResult r = dir.run("G\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string nodes;
    for (const char* x : {"   0.000E+00", "   1.000E+01"})
        for (const char* y : {"  -2.500E+01", "  -2.000E+01", "  -1.500E+01"})
            for (const char* z : {"   0.000E+00", "   1.000E+00"}) nodes += std::string("+") + x + y + z + "\r\n";
    EXPECT_EQ(r.out, kConsoleStart + "\r\n\r\n CALCULATING CONCENTRATION DISTRIBUTIONS\r\n" +
                         "\r\n concentration distribution at time :    0.000E+00\r\n\r\n" + nodes +
                         "\r\n concentration distribution at time :    1.000E-03\r\n\r\n" + nodes);
}

TEST(DistributionLoop, UnsupportedOrderStopsAtTheFirstNodeThatNeedsQuadrature) {
    TempDir dir;
    DeckBuilder deck;
    deck.set("NGAUSS", "7");
    deck.with_grid(2, "0 5", "0 10 10", "0 1 1", "0 0 1");  // nodes (0,0), (0,1), (10,0), (10,1)
    dir.write("Q.INP", deck.text());
    RunResult r = dir.run("Q\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    const std::string n00 = "+   0.000E+00   0.000E+00   0.000E+00\r\n", n01 = "+   0.000E+00   1.000E+00   0.000E+00\r\n",
                      n10 = "+   1.000E+01   0.000E+00   0.000E+00\r\n", n11 = "+   1.000E+01   1.000E+00   0.000E+00\r\n";
    const std::string report =
        "\r\n\r\n\r\n\r\n\r\n" + std::string(40, ' ') + "*****  ERROR FLAG FROM SUBROUTINE DGAUSS *****\r\n\r\n" +
        std::string(20, ' ') + "SUBROUTINE  DGAUSS  DOES NOT CONTAIN THE  N=   7 ROOTS AND WEIGHT FACTORS\r\n" +
        std::string(20, ' ') + "FOR THE GAUSS-LEGENDRE QUADRADURE INTEGRATION SCHEME, THEY MUST BE ADDED \r\n" +
        std::string(30, ' ') + "PROGRAM SHALL END AFTER FORMAT 4000  IN SUBROUTINE  DGAUSS\r\n";
    // t = 0 needs no quadrature and is written in full; at t = 5 the x = 0
    // column is the source plane and the first x = 10 node needs it.
    EXPECT_EQ(r.out, kConsoleStart + "\r\n\r\n CALCULATING CONCENTRATION DISTRIBUTIONS\r\n" +
                         "\r\n concentration distribution at time :    0.000E+00\r\n\r\n" + n00 + n01 + n10 + n11 +
                         "\r\n concentration distribution at time :    5.000E+00\r\n\r\n" + n00 + n01 + n10 + report);
    EXPECT_EQ(records(dir.read("Q.ASC")).size(), 5u);  // only the first time's records
    EXPECT_EQ(dir.read("Q.UCN").size(), 1u * 1u * (60u + 4u * 2u * 2u));
}

}  // namespace
}  // namespace plumcor::testing
