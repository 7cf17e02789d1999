// The deck reader: every accepted form of a deck gives the values it spells,
// and every refused one stops the run with its exact one-line message.
#include "driver/deck_reader.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "driver/run_stop.hpp"

namespace plumcor {
namespace {

// Title and entries V to GAMMA, one per line: the first 16 lines of most
// decks below, so NOBS is on line 17.
const std::vector<std::string> kHead = {"Plume test deck", "1.5",  "10.0", "2.0",  "0.5",  "0.25",
                                        "30.0",            "0.001", "1.25", "64",   "20",   "40.0",
                                        "10.0",            "20.0", "100.0", "0.002"};

std::string join(const std::vector<std::string>& head, const std::vector<std::string>& tail,
                 const std::string& eol = "\n") {
    std::string text;
    for (const auto* part : {&head, &tail})
        for (const std::string& line : *part) text += line + eol;
    return text;
}

std::string deck(const std::vector<std::string>& tail) { return join(kHead, tail); }

// kHead with its line `line` (1-based) written differently.
std::vector<std::string> head_with(std::size_t line, std::string text) {
    std::vector<std::string> head = kHead;
    head.at(line - 1) = std::move(text);
    return head;
}

std::string padded(std::string title) {
    title.resize(80, ' ');
    return title;
}

// What kHead holds; everything after GAMMA still at its initial value.
ProblemInput head_values() {
    ProblemInput in;
    in.TITLE = padded("Plume test deck");
    in.V = 1.5;
    in.ALPHAL = 10.0;
    in.ALPHATH = 2.0;
    in.ALPHATV = 0.5;
    in.DE = 0.25;
    in.THICK = 30.0;
    in.LAMBDA = 0.001;
    in.R = 1.25;
    in.NGAUSS = 64;
    in.NTERMS = 20;
    in.WIDTH = 40.0;
    in.Z1 = 10.0;
    in.Z2 = 20.0;
    in.C0 = 100.0;
    in.GAMMA = 0.002;
    return in;
}

ProblemInput head_values_and(const std::function<void(ProblemInput&)>& change) {
    ProblemInput in = head_values();
    change(in);
    return in;
}

void set_grid(ProblemInput& in, double xmin, double xmax, double dx, double ymin, double ymax, double dy,
              double zmin, double zmax, double dz) {
    in.XMIN = xmin, in.XMAX = xmax, in.DX = dx;
    in.YMIN = ymin, in.YMAX = ymax, in.DY = dy;
    in.ZMIN = zmin, in.ZMAX = zmax, in.DZ = dz;
}

// Doubles must match in sign too: an underflow keeps the sign it was written with.
void expect_field(const char* name, double got, double want) {
    EXPECT_TRUE(got == want && std::signbit(got) == std::signbit(want))
        << name << ": got " << got << ", want " << want;
}
void expect_field(const char* name, std::int32_t got, std::int32_t want) { EXPECT_EQ(got, want) << name; }
void expect_field(const char* name, const std::string& got, const std::string& want) {
    EXPECT_EQ(got, want) << name;
}
template <std::size_t N>
void expect_field(const char* name, const std::array<double, N>& got, const std::array<double, N>& want) {
    for (std::size_t i = 0; i < N; ++i) {
        const std::string element = std::string(name) + "(" + std::to_string(i + 1) + ")";
        expect_field(element.c_str(), got[i], want[i]);
    }
}

#define EXPECT_FIELD(f) expect_field(#f, got.f, want.f)

void expect_same(const ProblemInput& got, const ProblemInput& want) {
    EXPECT_FIELD(TITLE);
    EXPECT_FIELD(V), EXPECT_FIELD(ALPHAL), EXPECT_FIELD(ALPHATH), EXPECT_FIELD(ALPHATV);
    EXPECT_FIELD(DE), EXPECT_FIELD(THICK), EXPECT_FIELD(LAMBDA), EXPECT_FIELD(R);
    EXPECT_FIELD(NGAUSS), EXPECT_FIELD(NTERMS);
    EXPECT_FIELD(WIDTH), EXPECT_FIELD(Z1), EXPECT_FIELD(Z2), EXPECT_FIELD(C0), EXPECT_FIELD(GAMMA);
    EXPECT_FIELD(NOBS), EXPECT_FIELD(XOBS), EXPECT_FIELD(YOBS), EXPECT_FIELD(ZOBS);
    EXPECT_FIELD(tMIN), EXPECT_FIELD(tMAX), EXPECT_FIELD(DELt);
    EXPECT_FIELD(NT), EXPECT_FIELD(TIMES);
    EXPECT_FIELD(XMIN), EXPECT_FIELD(XMAX), EXPECT_FIELD(DX);
    EXPECT_FIELD(YMIN), EXPECT_FIELD(YMAX), EXPECT_FIELD(DY);
    EXPECT_FIELD(ZMIN), EXPECT_FIELD(ZMAX), EXPECT_FIELD(DZ);
}

#undef EXPECT_FIELD

// The three grid lines used after every time read below.
const std::vector<std::string> kGridLines = {"0 100 10", "-50 50 5", "0 20 2"};

std::vector<std::string> then(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// NT = 3 with the times 1.0, 2.0, 5.0 and the grid lines.
ProblemInput three_times() {
    return head_values_and([](ProblemInput& in) {
        in.NT = 3;
        in.TIMES = {1.0, 2.0, 5.0};
        set_grid(in, 0, 100, 10, -50, 50, 5, 0, 20, 2);
    });
}

struct ReadCase {
    const char* what;
    std::string text;
    ProblemInput expected;
};

std::vector<ReadCase> read_cases() {
    std::vector<std::string> twelve_points;
    for (int i = 1; i <= 12; ++i)
        twelve_points.push_back(std::to_string(i) + " " + std::to_string(100 + i) + " " + std::to_string(200 + i));
    const std::string long_title = std::string(70, 'a') + "0123456789" + "XYZ";

    return {
        {"minimal 18-line deck", deck({"0", "0"}), head_values()},
        {"the rest of a value's line is ignored, a slash in it too",
         join(head_with(2, "1.5   m/d / velocity, along x"), {"0 points", "0, none"}), head_values()},
        {"2.5,7 gives V = 2.5", join(head_with(2, "2.5,7"), {"0", "0"}),
         head_values_and([](ProblemInput& in) { in.V = 2.5; })},
        {"NOBS = 0: a time-range line starting with a whole number is read as NT", deck({"0", "0 100.0 10.0"}),
         head_values()},
        {"negative NOBS and NT read like zero; the lines after NT are never read",
         deck({"-3", "-1", "not a number", "1.0 2.0 3.0"}), head_values_and([](ProblemInput& in) {
             in.NOBS = -3;
             in.NT = -1;
         })},
        {"three points on one line after NOBS = 3 are the first point only",
         deck({"3", "1 2 3 4 5 6 7 8 9", "10 11 12", "13 14 15", "0 100 10", "0"}),
         head_values_and([](ProblemInput& in) {
             in.NOBS = 3;
             in.XOBS = {1, 10, 13};
             in.YOBS = {2, 11, 14};
             in.ZOBS = {3, 12, 15};
             in.tMIN = 0, in.tMAX = 100, in.DELt = 10;
         })},
        {"NT = 3, times on one line; the grid starts on the next line",
         deck(then({"0", "3", "1.0 2.0 5.0 9.0"}, kGridLines)), three_times()},
        {"NT = 3, times on three lines", deck(then({"0", "3", "1.0", "2.0", "5.0"}, kGridLines)), three_times()},
        {"NT = 3, two times on one line and one on the next, more values after it",
         deck(then({"0", "3", "1.0 2.0", "5.0 7.0 8.0"}, kGridLines)), three_times()},
        {"blank lines, even of blanks and tabs, are skipped before and inside a read",
         join(head_with(2, "\n   \n\t\n1.5"), then({"0", "", "3", "1.0", "", "  \t ", "2.0 5.0"}, kGridLines)),
         three_times()},
        {"commas between values, with blanks around them and across line ends",
         deck({"1", "1,", "2", ",3", "0.0, 100.0 ,10.0", "0"}), head_values_and([](ProblemInput& in) {
             in.NOBS = 1;
             in.XOBS[0] = 1, in.YOBS[0] = 2, in.ZOBS[0] = 3;
             in.tMIN = 0, in.tMAX = 100, in.DELt = 10;
         })},
        {"a title longer than 80 characters keeps its first 80", join(head_with(1, long_title), {"0", "0"}),
         head_values_and([&](ProblemInput& in) { in.TITLE = long_title.substr(0, 80); })},
        {"an empty title line is 80 blanks", join(head_with(1, ""), {"0", "0"}),
         head_values_and([](ProblemInput& in) { in.TITLE = std::string(80, ' '); })},
        {"the title keeps blanks, tabs and other bytes as they are",
         join(head_with(1, "  Plume\tdeck \xC3\xA9 1,2 / 3  "), {"0", "0"}),
         head_values_and([](ProblemInput& in) { in.TITLE = padded("  Plume\tdeck \xC3\xA9 1,2 / 3  "); })},
        {"forms of numbers: point, exponent letters E e D d, signs, edge magnitudes",
         join({"Numbers", "5", ".5", "5.", "+5.0E-03", "5.0D-03", "2.5d2", "-1.5e-4", "1E0", "-2147483648",
               "+2147483647", "007.50", "1.7976931348623157E308", "1e-310", "1E-400", "-1d-999"},
              {"0", "0"}),
         [] {
             ProblemInput in;
             in.TITLE = padded("Numbers");
             in.V = 5, in.ALPHAL = 0.5, in.ALPHATH = 5, in.ALPHATV = 5.0E-03, in.DE = 5.0E-03;
             in.THICK = 250, in.LAMBDA = -1.5e-4, in.R = 1;
             in.NGAUSS = INT32_MIN, in.NTERMS = INT32_MAX;
             in.WIDTH = 7.5, in.Z1 = DBL_MAX, in.Z2 = 1e-310, in.C0 = 0, in.GAMMA = -0.0;
             return in;
         }()},
        {"CR LF line ends", join(kHead, then({"1", "1 2 3", "0 10 1", "1", "5.0"}, kGridLines), "\r\n"),
         head_values_and([](ProblemInput& in) {
             in.NOBS = 1;
             in.XOBS[0] = 1, in.YOBS[0] = 2, in.ZOBS[0] = 3;
             in.tMIN = 0, in.tMAX = 10, in.DELt = 1;
             in.NT = 1;
             in.TIMES[0] = 5.0;
             set_grid(in, 0, 100, 10, -50, 50, 5, 0, 20, 2);
         })},
        {"a last line ending in CR without LF", deck({"0"}) + "0\r", head_values()},
        {"tabs are blanks", join(head_with(2, "\t1.5\tm/d"), {"1", "\t1\t2\t3", "0\t10\t1", "0"}),
         head_values_and([](ProblemInput& in) {
             in.NOBS = 1;
             in.XOBS[0] = 1, in.YOBS[0] = 2, in.ZOBS[0] = 3;
             in.tMIN = 0, in.tMAX = 10, in.DELt = 1;
         })},
        {"a UTF-8 byte-order mark before the title is dropped", "\xEF\xBB\xBF" + deck({"0", "0"}), head_values()},
        {"repeat counts: r copies, the unused ones ignored with the rest of the line",
         join(head_with(10, "2*16"), then({"2", "3*0.25", "2*4.5 1.0", "0 2*50", "2", "3*7.5"}, kGridLines)),
         head_values_and([](ProblemInput& in) {
             in.NGAUSS = 16;
             in.NOBS = 2;
             in.XOBS[0] = 0.25, in.YOBS[0] = 0.25, in.ZOBS[0] = 0.25;
             in.XOBS[1] = 4.5, in.YOBS[1] = 4.5, in.ZOBS[1] = 1.0;
             in.tMIN = 0, in.tMAX = 50, in.DELt = 50;
             in.NT = 2;
             in.TIMES[0] = 7.5, in.TIMES[1] = 7.5;
             set_grid(in, 0, 100, 10, -50, 50, 5, 0, 20, 2);
         })},
        {"repeat counts as large as the largest NT and beyond",
         deck({"0", "2147483647", "2147483647*7.5", "99999999999999999999999*1.0", "-50 50 5", "0 20 2"}),
         head_values_and([](ProblemInput& in) {
             in.NT = INT32_MAX;
             in.TIMES.fill(7.5);
             set_grid(in, 1, 1, 1, -50, 50, 5, 0, 20, 2);
         })},
        {"NOBS = 12 reads 12 point lines and keeps the first 10",
         deck(then(then({"12"}, twelve_points), {"0 100 10", "0"})), head_values_and([](ProblemInput& in) {
             in.NOBS = 12;
             for (int i = 0; i < 10; ++i) in.XOBS[i] = 1 + i, in.YOBS[i] = 101 + i, in.ZOBS[i] = 201 + i;
             in.tMIN = 0, in.tMAX = 100, in.DELt = 10;
         })},
        {"NT = 12 reads 12 times and keeps the first 10",
         deck(then({"0", "12", "1 2 3 4 5 6", "7 8 9 10 11 12"}, kGridLines)), head_values_and([](ProblemInput& in) {
             in.NT = 12;
             in.TIMES = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
             set_grid(in, 0, 100, 10, -50, 50, 5, 0, 20, 2);
         })},
    };
}

TEST(DeckReader, ReadsEveryAcceptedForm) {
    for (const ReadCase& c : read_cases()) {
        SCOPED_TRACE(c.what);
        try {
            expect_same(read_deck(c.text, "RUN1.INP"), c.expected);
        } catch (const RunStop& stop) {
            ADD_FAILURE() << "refused: " << stop.message;
        }
    }
}

TEST(DeckReader, ReadsFixtureDeckWithUnitsAfterValues) {
    const std::string path = std::string(PLUMCOR_TEST_DATA) + "/decks/two_points_two_times.inp";
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path;
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};

    ProblemInput want = head_values();
    want.TITLE = padded("Two observation points and two output times, with units after each value");
    want.NOBS = 2;
    want.XOBS[0] = 100.0, want.YOBS[0] = 0.0, want.ZOBS[0] = 15.0;
    want.XOBS[1] = 250.0, want.YOBS[1] = -5.0, want.ZOBS[1] = 12.5;
    want.tMIN = 0.0, want.tMAX = 3650.0, want.DELt = 30.0;
    want.NT = 2;
    want.TIMES[0] = 365.0, want.TIMES[1] = 730.0;
    set_grid(want, 0.0, 500.0, 10.0, -100.0, 100.0, 5.0, 0.0, 30.0, 2.5);
    expect_same(read_deck(text, "two_points_two_times.inp"), want);
}

struct RefusalCase {
    const char* what;
    std::string text;
    std::string message;
};

std::vector<RefusalCase> refusal_cases() {
    std::vector<std::string> eleven_points(11, "1 2 3");
    std::vector<std::string> point_eleven_bad(10, "1 2 3");
    point_eleven_bad.push_back("1 2 x");

    return {
        // The deck ends early: the first entry still missing is named.
        {"empty file", "", "RUN1.INP ends before TITLE"},
        {"a byte-order mark alone", "\xEF\xBB\xBF", "RUN1.INP ends before TITLE"},
        {"title only", "Title\n", "RUN1.INP ends before V"},
        {"ends after NGAUSS", join({kHead.begin(), kHead.begin() + 10}, {}), "RUN1.INP ends before NTERMS"},
        {"ends after NOBS = 0", deck({"0"}), "RUN1.INP ends before NT"},
        {"ends inside a point", deck({"1", "1 2"}), "RUN1.INP ends before ZOBS(1)"},
        {"ends before the second point", deck({"2", "1 2 3"}), "RUN1.INP ends before XOBS(2)"},
        {"ends before the twelfth point", deck(then({"12"}, eleven_points)), "RUN1.INP ends before XOBS(12)"},
        {"ends before the time range", deck({"1", "1 2 3"}), "RUN1.INP ends before tMIN"},
        {"ends inside the times", deck({"0", "3", "1.0 2.0"}), "RUN1.INP ends before TIMES(3)"},
        {"ends inside the last grid line", deck({"0", "1", "5", "0 10 1", "0 10 1", "0 10"}),
         "RUN1.INP ends before DZ"},

        // Values that cannot be read as their type.
        {"a decimal point in an integer", join(head_with(10, "10.5"), {"0", "0"}),
         R"(RUN1.INP line 10: NGAUSS: expected an integer, found "10.5")"},
        {"NOBS = 0 and a time-range line left in the deck", deck({"0", "0.0 100.0 10.0"}),
         R"(RUN1.INP line 18: NT: expected an integer, found "0.0")"},
        {"letters", join(head_with(2, "abc"), {"0", "0"}), R"(RUN1.INP line 2: V: expected a number, found "abc")"},
        {"NaN", join(head_with(2, "NaN"), {"0", "0"}), R"(RUN1.INP line 2: V: expected a number, found "NaN")"},
        {"Inf", join(head_with(3, "Inf"), {"0", "0"}), R"(RUN1.INP line 3: ALPHAL: expected a number, found "Inf")"},
        {"-Infinity", join(head_with(4, "-Infinity"), {"0", "0"}),
         R"(RUN1.INP line 4: ALPHATH: expected a number, found "-Infinity")"},
        {"hexadecimal", join(head_with(5, "0x1p3"), {"0", "0"}),
         R"(RUN1.INP line 5: ALPHATV: expected a number, found "0x1p3")"},
        {"exponent without its letter", join(head_with(6, "1.0+5"), {"0", "0"}),
         R"(RUN1.INP line 6: DE: expected a number, found "1.0+5")"},
        {"exponent letter without digits", join(head_with(7, "1E+"), {"0", "0"}),
         R"(RUN1.INP line 7: THICK: expected a number, found "1E+")"},
        {"exponent without a mantissa", join(head_with(8, "E5"), {"0", "0"}),
         R"(RUN1.INP line 8: LAMBDA: expected a number, found "E5")"},
        {"a lone point", join(head_with(9, "."), {"0", "0"}), R"(RUN1.INP line 9: R: expected a number, found ".")"},
        {"a lone sign", join(head_with(12, "-"), {"0", "0"}),
         R"(RUN1.INP line 12: WIDTH: expected a number, found "-")"},
        {"two points", join(head_with(13, "1.2.3"), {"0", "0"}),
         R"(RUN1.INP line 13: Z1: expected a number, found "1.2.3")"},
        {"a unit glued to the value", join(head_with(14, "20.0m"), {"0", "0"}),
         R"(RUN1.INP line 14: Z2: expected a number, found "20.0m")"},
        {"a double that overflows", join(head_with(15, "1E400"), {"0", "0"}),
         R"(RUN1.INP line 15: C0: expected a number, found "1E400")"},
        {"a negative double that overflows", join(head_with(16, "-1.8d308"), {"0", "0"}),
         R"(RUN1.INP line 16: GAMMA: expected a number, found "-1.8d308")"},
        {"an exponent in an integer", join(head_with(11, "1E2"), {"0", "0"}),
         R"(RUN1.INP line 11: NTERMS: expected an integer, found "1E2")"},
        {"an integer above the 32-bit range", join(head_with(10, "2147483648"), {"0", "0"}),
         R"(RUN1.INP line 10: NGAUSS: expected an integer, found "2147483648")"},
        {"an integer below the 32-bit range", deck({"-2147483649", "0"}),
         R"(RUN1.INP line 17: NOBS: expected an integer, found "-2147483649")"},
        {"a repeated value of the wrong type", join(head_with(10, "2*1.5"), {"0", "0"}),
         R"(RUN1.INP line 10: NGAUSS: expected an integer, found "2*1.5")"},

        // Empty values and slashes where a value is still needed.
        {"a comma before the first value", join(head_with(2, ",5"), {"0", "0"}),
         R"(RUN1.INP line 2: V: expected a number, found ",")"},
        {"two commas in a row", deck({"1", "1 2 3", "1.0,,2.0"}),
         R"(RUN1.INP line 19: tMAX: expected a number, found ",")"},
        {"two commas across a line end", deck({"1", "1 2 3", "1.0,", " , 2.0 3.0"}),
         R"(RUN1.INP line 20: tMAX: expected a number, found ",")"},
        {"a comma for an integer", deck({",", "0"}), R"(RUN1.INP line 17: NOBS: expected an integer, found ",")"},
        {"a repeat count with nothing after the star", join(head_with(2, "2* 5"), {"0", "0"}),
         R"(RUN1.INP line 2: V: expected a number, found "2*")"},
        {"a repeat count of zero", join(head_with(2, "0*5"), {"0", "0"}),
         R"(RUN1.INP line 2: V: expected a number, found "0*5")"},
        {"a slash before the first value", join(head_with(2, "/"), {"0", "0"}),
         R"(RUN1.INP line 2: V: expected a number, found "/")"},
        {"a slash after a value", deck({"1", "1 2 3", "1.0 2.0/3.0"}),
         R"(RUN1.INP line 19: DELt: expected a number, found "/")"},

        // The quoted token: capped, non-printable bytes shown as hex.
        {"a token of 40 characters is shown whole", join(head_with(2, std::string(40, 'x') + ",1"), {"0", "0"}),
         "RUN1.INP line 2: V: expected a number, found \"" + std::string(40, 'x') + "\""},
        {"a longer token is cut after 40 characters", join(head_with(2, std::string(41, 'y')), {"0", "0"}),
         "RUN1.INP line 2: V: expected a number, found \"" + std::string(40, 'y') + "...\""},
        {"control bytes, DEL and non-ASCII bytes", join(head_with(2, "1.5\x01\x7F\xC3\xA9"), {"0", "0"}),
         R"(RUN1.INP line 2: V: expected a number, found "1.5\x01\x7F\xC3\xA9")"},
        {"a CR that does not end a line", join(head_with(2, "1.5\r2"), {"0", "0"}),
         R"(RUN1.INP line 2: V: expected a number, found "1.5\x0D2")"},

        // Line numbers.
        {"a byte-order mark and CR LF line ends do not shift line numbers",
         "\xEF\xBB\xBF" + join(head_with(10, "x"), {"0", "0"}, "\r\n"),
         R"(RUN1.INP line 10: NGAUSS: expected an integer, found "x")"},
        {"blank lines inside a read are counted", deck({"0", "3", "1.0", "", "2.0", "bad"}),
         R"(RUN1.INP line 22: TIMES(3): expected a number, found "bad")"},
        {"points beyond ten keep their number", deck(then({"12"}, point_eleven_bad)),
         R"(RUN1.INP line 28: ZOBS(11): expected a number, found "x")"},
        {"times beyond ten keep their number", deck({"0", "12", "1 2 3 4 5 6 7 8 9 10 11 y"}),
         R"(RUN1.INP line 19: TIMES(12): expected a number, found "y")"},
    };
}

TEST(DeckReader, RefusesWithOneLineMessage) {
    for (const RefusalCase& c : refusal_cases()) {
        SCOPED_TRACE(c.what);
        try {
            read_deck(c.text, "RUN1.INP");
            ADD_FAILURE() << "accepted";
        } catch (const RunStop& stop) {
            EXPECT_EQ(stop.message, c.message);
            EXPECT_EQ(stop.console_report, "");
            EXPECT_EQ(stop.status, 1);
        }
    }
}

}  // namespace
}  // namespace plumcor
