// End to end: the console dialogue, the listing, and what each check leaves
// on disk, by running the built program on small decks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/deck_builder.hpp"
#include "e2e/run_support.hpp"

namespace plumcor::testing {
namespace {

const std::string T10(10, ' ');

// The whole listing of the default deck, written out from the listing's
// record table by hand.
std::vector<std::string> expected_listing(const std::string& title70) {
    return {
        T10 + "Plumcor",
        T10 + "********",
        T10 + "ANALYTICAL SOLUTION FOR 3-D SOLUTE TRANSPORT",
        T10 + "FROM A PATCH SOURCE WITH EXPONENTIALLY-DECAYING CONCENTRATION",
        "",
        T10 + "SEMI-INFINITE IN X: X>=0",
        T10 + "INFINITE IN Y",
        T10 + "SEMI-INFINITE IN Z: Z>=0",
        "",
        "",
        "",
        T10 + title70,
        "",
        "",
        T10 + "INPUT DATA",
        T10 + "==========",
        "",
        T10 + "TRANSPORT PARAMETERS",
        T10 + "--------------------",
        T10 + "AVERAGE LINEAR GROUNDWATER VELOCITY =    1.000E-01",
        T10 + "LONGITUDINAL DISPERSIVITY           =    1.000E+01",
        T10 + "HORIZONTAL TRANSVERSE DISPERSIVITY  =    1.000E+00",
        T10 + "VERTICAL TRANSVERSE DISPERSIVITY    =    1.000E-01",
        T10 + "EFFECTIVE DIFFUSION COEFFICIENT     =    8.640E-05",
        T10 + "AQUIFER THICKNESS (not used)        =    2.000E+01",
        "",
        T10 + "SOLUTE PROPERTIES",
        T10 + "-----------------",
        T10 + "CONTAMINANT DECAY CONSTANT          =    0.000E+00",
        T10 + "RETARDATION FACTOR                  =    1.000E+00",
        "",
        T10 + "SOLUTION PARAMETERS",
        T10 + "-------------------",
        T10 + "NUMBER OF GAUSS POINTS              =   20",
        T10 + "NUMBER OF TERMS IN SERIES (not used)=   50",
        "",
        T10 + "PATCH DIMENSIONS",
        T10 + "----------------",
        T10 + "SOURCE WIDTH                        =    2.000E+01",
        T10 + "BOTTOM OF SOURCE LOCATED AT Z1      =    0.000E+00",
        T10 + "TOP OF SOURCE LOCATED AT Z2         =    5.000E+00",
        "",
        "",
        T10 + "INFLOW CONCENTRATION HISTORY",
        T10 + "----------------------------",
        T10 + "INITIAL CONCENTRATION CO            =    1.000E+02",
        T10 + "SOURCE DECAY CONSTANT               =    2.000E-03",
        "",
    };
}

std::string pad(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
}

TEST(Listing, WholeListingOfAListingOnlyRun) {
    TempDir dir;
    DeckBuilder deck;
    // 85 characters: the listing shows 70 of them, the deck keeps 80.
    deck.title = "Solvent plume beneath the former dry cleaner, 20-year scenario, site B (rev. 3) - xyz";
    dir.write("RUN1.INP", deck.text());
    RunResult r = dir.run("RUN1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kConsoleStart);  // no progress lines without points or times
    bool crlf = false;
    EXPECT_EQ(records(dir.read("RUN1.LST"), &crlf), expected_listing(pad(deck.title.substr(0, 70), 70)));
    EXPECT_TRUE(crlf);
    for (const char* ext : {".OBS", ".CNF", ".MSH", ".ASC", ".UCN"}) EXPECT_FALSE(dir.exists(std::string("RUN1") + ext)) << ext;
}

TEST(Listing, ValuesThatDoNotFitAndOddValues) {
    TempDir dir;
    DeckBuilder deck;
    deck.title = "short";
    deck.set("NGAUSS", "20").set("NTERMS", "-1000").set("V", "1.0E+150").set("ALPHAL", "2.0D-120");
    deck.set("ALPHATH", "1.0625").set("ALPHATV", "1.1875").set("DE", "9.9996").set("THICK", "-2.5");
    dir.write("R.INP", deck.text());
    RunResult r = dir.run("R\n");
    EXPECT_EQ(r.status, 0) << r.err;
    auto lst = records(dir.read("R.LST"));
    ASSERT_EQ(lst.size(), 48u);
    EXPECT_EQ(lst[11], T10 + pad("short", 70));
    EXPECT_EQ(lst[19], T10 + "AVERAGE LINEAR GROUNDWATER VELOCITY =    1.000+150");
    EXPECT_EQ(lst[20], T10 + "LONGITUDINAL DISPERSIVITY           =    2.000-120");
    EXPECT_EQ(lst[21], T10 + "HORIZONTAL TRANSVERSE DISPERSIVITY  =    1.062E+00");
    EXPECT_EQ(lst[22], T10 + "VERTICAL TRANSVERSE DISPERSIVITY    =    1.188E+00");
    EXPECT_EQ(lst[23], T10 + "EFFECTIVE DIFFUSION COEFFICIENT     =    1.000E+01");
    EXPECT_EQ(lst[24], T10 + "AQUIFER THICKNESS (not used)        =   -2.500E+00");
    EXPECT_EQ(lst[34], T10 + "NUMBER OF TERMS IN SERIES (not used)= ****");
}

struct StopCase {
    const char* what;
    DeckBuilder deck;
    std::string message;
    std::size_t listing_records;
    std::vector<std::string> files_present;  // besides .LST
};

DeckBuilder with_obs(DeckBuilder d, std::vector<std::string> pts, std::string range) {
    d.with_points(std::move(pts), std::move(range));
    return d;
}
DeckBuilder with_grid(DeckBuilder d, int nt, std::string t, std::string x, std::string y = "0 0 1",
                      std::string z = "0 0 1") {
    d.with_grid(nt, std::move(t), std::move(x), std::move(y), std::move(z));
    return d;
}
DeckBuilder set(DeckBuilder d, const std::string& k, const std::string& v) {
    d.set(k, v);
    return d;
}

TEST(Checks, EachStopLeavesItsFiles) {
    const DeckBuilder base;
    const std::vector<std::string> grid4 = {".CNF", ".MSH", ".ASC", ".UCN"};
    const std::vector<StopCase> cases = {
        {"no Gauss points", set(base, "NGAUSS", "0"), "No Gauss points requested", 42, {}},
        {"Gauss points beyond 256, shown as asterisks", set(base, "NGAUSS", "10000"), "Too many Gauss points requested", 42, {}},
        {"257 Gauss points", set(base, "NGAUSS", "257"), "Too many Gauss points requested", 42, {}},
        {"zero patch concentration", set(base, "C0", "0"), "PATCH CONCENTRATION MUST BE > 0.0", 48, {}},
        {"zero retardation", set(base, "R", "0"), "RETARDATION FACTOR MUST BE > 0.0", 48, {}},
        {"no dispersion along z", set(set(base, "ALPHATV", "0"), "DE", "0"), "DISPERSION COEFFICIENTS MUST BE > 0.0", 48, {}},
        {"negative width", set(base, "WIDTH", "-1"), "SOURCE WIDTH MUST BE >= 0.0", 48, {}},
        {"reversed source depth", set(base, "Z2", "-1"), "TOP OF SOURCE Z2 MUST BE >= Z1", 48, {}},
        {"eleven observation points",
         with_obs(base, std::vector<std::string>(11, "10 0 2"), "0 10 1"), "Too many observation points requested", 48, {".OBS"}},
        {"first negative x-location stops",
         with_obs(base, {"-1 0 0", "-2 0 0"}, "0 10 1"), "Invalid x-location", 48, {".OBS"}},
        {"negative tMIN before the time step",
         with_obs(base, {"10 0 0"}, "-1 10 0"), "tMIN must be >= 0", 48, {".OBS"}},
        {"reversed breakthrough times", with_obs(base, {"10 0 0"}, "5 4 1"), "tMAX must be >= tMIN", 48, {".OBS"}},
        {"zero time step", with_obs(base, {"10 0 0"}, "0 10 0"), "DELt must be > 0", 48, {".OBS"}},
        {"breakthrough count beyond 32 bits", with_obs(base, {"10 0 0"}, "0 1E300 1E-10"),
         "Too many breakthrough times requested", 48, {".OBS"}},
        {"negative XMIN", with_grid(base, 1, "10", "-1 10 1"), "XMIN must be >= 0", 48, grid4},
        {"XMAX below XMIN", with_grid(base, 1, "10", "5 4 1"), "XMAX must be >= XMIN", 48, grid4},
        {"zero DX", with_grid(base, 1, "10", "0 10 0"), "DX must be > 0", 48, grid4},
        {"YMAX below YMIN", with_grid(base, 1, "10", "0 10 1", "0 -1 1"), "YMAX must be >= YMIN", 48, grid4},
        {"zero DY", with_grid(base, 1, "10", "0 10 1", "0 1 0"), "DY must be > 0", 48, grid4},
        {"ZMAX below ZMIN", with_grid(base, 1, "10", "0 10 1", "0 0 1", "0 -1 1"), "ZMAX must be >= ZMIN", 48, grid4},
        {"zero DZ", with_grid(base, 1, "10", "0 10 1", "0 0 1", "0 1 0"), "DZ must be > 0", 48, grid4},
        {"eleven times", with_grid(base, 11, "1 2 3 4 5 6 7 8 9 10 -11", "0 10 1"), "Too many times requested", 48, grid4},
        {"negative time", with_grid(base, 2, "1 -2", "0 10 1"), "Invalid time value", 48, grid4},
        {"1001 x nodes", with_grid(base, 1, "1", "0 10 0.01"), "Too many X points requested", 48, grid4},
        {"x count beyond 32 bits", with_grid(base, 1, "1", "0 1E300 1E-300"), "Too many X points requested", 48, grid4},
        {"252 y nodes", with_grid(base, 1, "1", "0 0 1", "0 251 1"), "Too many Y points requested", 48, grid4},
        {"y span that overflows", with_grid(base, 1, "1", "0 0 1", "-1E308 1E308 1"), "Too many Y points requested", 48, grid4},
        {"81 z nodes", with_grid(base, 1, "1", "0 0 1", "0 0 1", "0 80 1"), "Too many Z points requested", 48, grid4},
        {"grid check after the observation step",
         with_grid(with_obs(base, {"10 0 0"}, "0 10 5"), 1, "1", "0 0 0"), "DX must be > 0", 48,
         {".OBS", ".CNF", ".MSH", ".ASC", ".UCN"}},
    };
    for (const StopCase& c : cases) {
        TempDir dir;
        dir.write("JOB.INP", c.deck.text());
        RunResult r = dir.run("JOB\n");
        SCOPED_TRACE(c.what);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message + "\r\n");
        EXPECT_EQ(r.out, kConsoleStart);
        EXPECT_EQ(records(dir.read("JOB.LST")).size(), c.listing_records);
        for (const char* ext : {".OBS", ".CNF", ".MSH", ".ASC", ".UCN"}) {
            const bool expected = std::find(c.files_present.begin(), c.files_present.end(), ext) != c.files_present.end();
            EXPECT_EQ(dir.exists(std::string("JOB") + ext), expected) << ext;
            if (expected) {
                EXPECT_EQ(dir.read(std::string("JOB") + ext), "") << ext;
            }
        }
    }
}

TEST(Checks, LimitsAreInclusiveAtTheValidEnd) {
    TempDir dir;
    DeckBuilder deck;
    deck.set("NGAUSS", "256").set("DE", "0");
    deck.with_points(std::vector<std::string>(10, "0 0 0"), "0 0 1");  // tMAX = tMIN: one time
    deck.with_grid(10, "0 0 0 0 0 0 0 0 0 0", "0 499 1", "0 0 1", "5 5 1");
    dir.write("E.INP", deck.text());
    RunResult r = dir.run("E\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(Files, OldFilesKeptUntilWrittenAndReplacedOnceWritten) {
    TempDir dir;
    const std::string stale = "stale contents of an earlier run\r\n";
    for (const char* ext : {".LST", ".OBS", ".CNF", ".MSH", ".ASC", ".UCN"}) dir.write(std::string("S") + ext, stale);

    // A grid check stops the run: every result file but the listing keeps
    // its old contents.
    DeckBuilder stops;
    stops.with_points({"10 0 2.5"}, "0 10 5");
    stops.with_grid(1, "10", "0 10 0", "0 0 1", "0 0 1");
    dir.write("S.INP", stops.text());
    RunResult r = dir.run("S\n");
    EXPECT_EQ(r.err, "DX must be > 0\r\n");
    EXPECT_EQ(records(dir.read("S.LST")).size(), 48u);
    for (const char* ext : {".OBS", ".CNF", ".MSH", ".ASC", ".UCN"}) EXPECT_EQ(dir.read(std::string("S") + ext), stale) << ext;

    // A complete run replaces each of them with exactly this run's records.
    DeckBuilder full = stops;
    full.with_grid(1, "10", "0 10 10", "0 0 1", "0 0 1");
    dir.write("S.INP", full.text());
    r = dir.run("S\n");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* ext : {".OBS", ".CNF", ".MSH", ".ASC", ".UCN"}) {
        const std::string now = dir.read(std::string("S") + ext);
        EXPECT_EQ(now.find("stale"), std::string::npos) << ext;
        EXPECT_FALSE(now.empty()) << ext;
    }
    EXPECT_EQ(records(dir.read("S.OBS")).size(), 3u);  // times 0, 5, 10
}

TEST(Files, BadDeckLeavesTheListingUntouched) {
    TempDir dir;
    dir.write("B.LST", "old listing\r\n");
    DeckBuilder deck;
    deck.set("NGAUSS", "10.5");
    dir.write("B.INP", deck.text());
    RunResult r = dir.run("B\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "B.INP line 10: NGAUSS: expected an integer, found \"10.5\"\r\n");
    EXPECT_EQ(dir.read("B.LST"), "old listing\r\n");

    TempDir fresh;
    fresh.write("B.INP", "title only\n0.1\n");
    r = fresh.run("B\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "B.INP ends before ALPHAL\r\n");
    EXPECT_TRUE(fresh.exists("B.LST"));
    EXPECT_EQ(fresh.read("B.LST"), "");
}

TEST(Files, MissingDeckCreatesNothing) {
    TempDir dir;
    RunResult r = dir.run("NONE\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "NONE.INP: No such file or directory\r\n");
    EXPECT_EQ(r.out, kConsoleStart);
    EXPECT_FALSE(dir.exists("NONE.LST"));
}

TEST(Identifier, StemRules) {
    struct Case {
        const char* what;
        std::string typed;
        std::string stem;
    } cases[] = {
        {"first word of two", "RUN2 second word\n", "RUN2"},
        {"carriage return dropped", "RUN3\r\n", "RUN3"},
        {"no line end at the end of input", "RUN4", "RUN4"},
        {"empty line gives an empty stem", "\n", ""},
        {"leading blank gives an empty stem", " RUN5\n", ""},
        {"80 characters without a blank give an empty stem", std::string(80, 'Q') + "\n", ""},
        {"79 characters and a blank", std::string(79, 'Q') + " \n", std::string(79, 'Q')},
        {"characters beyond 80 are ignored", std::string(80, 'Q') + " X\n", ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write(c.stem + ".INP", DeckBuilder().text());
        RunResult r = dir.run(c.typed);
        EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
        EXPECT_TRUE(dir.exists(c.stem + ".LST")) << c.what;
    }
}

TEST(Identifier, ClosedInputStopsBeforeAnyFile) {
    TempDir dir;
    dir.write(".INP", DeckBuilder().text());
    for (bool closed : {false, true}) {
        RunResult r = dir.run("", closed);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("standard input"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
        EXPECT_FALSE(dir.exists(".LST"));
    }
}

}  // namespace
}  // namespace plumcor::testing
