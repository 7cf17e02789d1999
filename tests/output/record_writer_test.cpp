// The formatter: every field kind, groups, "/", resumption, asterisks and
// rounding. Expected texts are the examples of the program's record
// notation, worked out by hand.
#include "output/record_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace plumcor {
namespace {

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

// One real value through a one-field layout.
std::string real_field(FieldLayout layout, double v) {
    auto recs = format_records(layout, {v});
    EXPECT_EQ(recs.size(), 1u);
    return recs.empty() ? std::string() : recs[0];
}

constexpr Item k1PE12_3[] = {P(1), E(12, 3)};
constexpr Item kE11_5[] = {E(11, 5)};
constexpr Item kD20_12[] = {D(20, 12)};
constexpr Item kE8_2[] = {E(8, 2)};
constexpr Item kE7_2[] = {E(7, 2)};
constexpr Item k1PE9_3[] = {P(1), E(9, 3)};

struct RealCase {
    const char* what;
    FieldLayout layout;
    double value;
    std::string expected;
};

TEST(RenderReal, ExamplesAndEdges) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const RealCase cases[] = {
        {"1PE12.3 of 0.1", k1PE12_3, 0.1, blanks(3) + "1.000E-01"},
        {"1PE12.3 of -2.5", k1PE12_3, -2.5, blanks(2) + "-2.500E+00"},
        {"three-digit exponent drops the letter", k1PE12_3, 1.0e150, blanks(3) + "1.000+150"},
        {"negative three-digit exponent", k1PE12_3, 2.0e-120, blanks(3) + "2.000-120"},
        {"very small value keeps its digits", k1PE12_3, 1.0e-150, blanks(3) + "1.000-150"},
        {"zero", k1PE12_3, 0.0, blanks(3) + "0.000E+00"},
        {"negative zero has no sign", k1PE12_3, -0.0, blanks(3) + "0.000E+00"},
        {"value just below 1.2345 rounds down", k1PE12_3, 1.2345, blanks(3) + "1.234E+00"},
        {"exact tie to even (down)", k1PE12_3, 1.0625, blanks(3) + "1.062E+00"},
        {"exact tie to even (up)", k1PE12_3, 1.1875, blanks(3) + "1.188E+00"},
        {"carry out of the first digit", k1PE12_3, 9.9996, blanks(3) + "1.000E+01"},
        {"largest double", k1PE12_3, 1.7976931348623157e308, blanks(3) + "1.798+308"},
        {"smallest subnormal", k1PE12_3, 4.9406564584124654e-324, blanks(3) + "4.941-324"},
        {"negative with three-digit exponent", k1PE12_3, -1.0e-200, blanks(2) + "-1.000-200"},
        {"E11.5 of 2.5", kE11_5, 2.5, "0.25000E+01"},
        {"E11.5 of -2.5 has no room for the 0", kE11_5, -2.5, "-.25000E+01"},
        {"E11.5 of 0", kE11_5, 0.0, "0.00000E+00"},
        {"E11.5 tie rounds up to even", kE11_5, 99999.5, "0.10000E+06"},
        {"E11.5 of 0.000012345", kE11_5, 0.000012345, "0.12345E-04"},
        {"E11.5 of 1", kE11_5, 1.0, "0.10000E+01"},
        {"E11.5 of 1e30 widened from single", kE11_5, static_cast<double>(1.0e30f), "0.10000E+31"},
        {"E11.5 of 1e-100 keeps the letter", kE11_5, 1.0e-100, "0.10000E-99"},
        {"E11.5 of 1e-101 loses it", kE11_5, 1.0e-101, "0.10000-100"},
        {"D20.12 of -1.5", kD20_12, -1.5, " -0.150000000000D+01"},
        {"D20.12 of 1e20", kD20_12, 1.0e20, "  0.100000000000D+21"},
        {"one column to spare takes the 0", kE8_2, 2.5, "0.25E+01"},
        {"exactly full: no 0 before the point", kE7_2, 2.5, ".25E+01"},
        {"too wide for the field gives asterisks", k1PE9_3, -2.5, "*********"},
        {"fits exactly", k1PE9_3, 2.5, "2.500E+00"},
        {"NaN as a word from the second column", k1PE12_3, nan, " NaN        "},
        {"infinity", k1PE12_3, inf, " Inf        "},
        {"minus infinity", k1PE12_3, -inf, " -Inf       "},
    };
    for (const RealCase& c : cases) {
        EXPECT_EQ(real_field(c.layout, c.value), c.expected) << c.what;
    }
}

TEST(RenderReal, WordThatDoesNotFitGivesAsterisks) {
    constexpr Item kE4_1[] = {E(4, 1)};
    EXPECT_EQ(real_field(kE4_1, -std::numeric_limits<double>::infinity()), "****");
    EXPECT_EQ(real_field(kE4_1, std::numeric_limits<double>::quiet_NaN()), " NaN");
}

// Fields wider than any record of the result files still follow the rule:
// every significant digit the field has room for, and zero's d zeros.
TEST(RenderReal, WideFieldsKeepEveryDigit) {
    constexpr Item kE40_32[] = {E(40, 32)};
    constexpr Item k1PE45_35[] = {P(1), E(45, 35)};
    constexpr Item kE45_40[] = {E(45, 40)};
    constexpr Item kE46_40[] = {E(46, 40)};
    const RealCase cases[] = {
        // 0.1 is 0.1000000000000000055511151231257827021181583404541015625.
        {"E40.32 of 0.1: 32 digits of the exact binary value", kE40_32, 0.1,
         blanks(2) + "0.10000000000000000555111512312578E+00"},
        {"1PE45.35 of 0.1: 36 significant digits", k1PE45_35, 0.1,
         blanks(4) + "1.00000000000000005551115123125782702E-01"},
        {"E45.40 of 0 fills the field: no 0 before the point", kE45_40, 0.0, "." + std::string(40, '0') + "E+00"},
        {"E46.40 of 0 has room for it", kE46_40, 0.0, "0." + std::string(40, '0') + "E+00"},
    };
    for (const RealCase& c : cases) {
        EXPECT_EQ(real_field(c.layout, c.value), c.expected) << c.what;
    }
}

TEST(RenderInt, WidthsSignsAndOverflow) {
    struct Case {
        int w;
        std::int32_t v;
        std::string expected;
    } cases[] = {
        {6, 10040000, "******"}, {4, -999, "-999"}, {4, -1000, "****"}, {4, 0, "   0"},
        {5, 11, "   11"},        {3, 7, "  7"},     {1, 9, "9"},          {1, 10, "*"},
        {11, std::numeric_limits<std::int32_t>::min(), "-2147483648"},
    };
    for (const Case& c : cases) {
        std::string out(static_cast<std::size_t>(c.w), '?');
        render_int(out.data(), c.w, c.v);
        EXPECT_EQ(out, c.expected) << c.v << " in I" << c.w;
    }
}

struct LayoutCase {
    const char* what;
    FieldLayout layout;
    std::vector<FieldValue> values;
    std::vector<std::string> expected;
};

constexpr Item kResultLayout[] = {X(7), group(5), X(1), P(1), E(12, 3), end_group()};
constexpr Item kTrailingSlash[] = {lit("AB"), slash()};
constexpr Item kDoubleSlash[] = {lit("A"), slash(), slash(), lit("B")};
constexpr Item kLeadingSlash[] = {slash(), lit("A")};
constexpr Item kBanner[] = {lit("+"), lit("Head"), lit(" tail"), slash()};
constexpr Item kStars[] = {X(10), group(8), lit("*"), end_group()};
constexpr Item kText[] = {A(5), A(2), A()};
constexpr Item kStopsAtField[] = {lit("T="), I(3), lit(" then "), I(3), lit(" never")};
constexpr Item kSlashBeforeField[] = {lit("x"), I(2), slash(), lit("y"), I(2)};
constexpr Item kNoGroup[] = {lit("v"), I(3)};
constexpr Item kCountField[] = {X(1), I(6), A(1), E(11, 5)};
constexpr Item kNodeLine[] = {lit("+"), group(3), P(1), E(12, 3), end_group()};
constexpr Item kTrailingMove[] = {I(2), X(5)};

TEST(WriteRecords, LayoutTable) {
    const double v11[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    std::vector<FieldValue> eleven(std::begin(v11), std::end(v11));
    const std::string f1 = blanks(4) + "1.000E+00";
    auto f = [](int i) {
        static const char* t[] = {"", "1.000E+00", "2.000E+00", "3.000E+00", "4.000E+00", "5.000E+00", "6.000E+00",
                                  "7.000E+00", "8.000E+00", "9.000E+00", "1.000E+01", "1.100E+01"};
        return blanks(4) + t[i];
    };
    const LayoutCase cases[] = {
        {"eleven values resume at the last top-level group, without the leading 7X",
         kResultLayout,
         eleven,
         {blanks(7) + f(1) + f(2) + f(3) + f(4) + f(5), f(6) + f(7) + f(8) + f(9) + f(10), f(11)}},
        {"one value: 8 blanks and the field", kResultLayout, {1.0}, {blanks(7) + f1}},
        {"six values spill one field", kResultLayout, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0},
         {blanks(7) + f(1) + f(2) + f(3) + f(4) + f(5), f(6)}},
        {"trailing slash gives an empty record", kTrailingSlash, {}, {"AB", ""}},
        {"two slashes give one empty record between", kDoubleSlash, {}, {"A", "", "B"}},
        {"leading slash starts with an empty record", kLeadingSlash, {}, {"", "A"}},
        {"literals follow each other", kBanner, {}, {"+Head tail", ""}},
        {"literal group", kStars, {}, {blanks(10) + "********"}},
        {"Aw pads on the left or cuts; A keeps the whole text", kText, {"abc", "xyz", "q  "}, {"  abcxyq  "}},
        {"processing stops at the first field without a value", kStopsAtField, {5}, {"T=  5 then "}},
        {"slash after the last value is still taken", kSlashBeforeField, {3}, {"x 3", "y"}},
        {"no group: resumes at the first item", kNoGroup, {1, 2}, {"v  1", "v  2"}},
        {"count field", kCountField, {101, "*", 1.0}, {"    101*0.10000E+01"}},
        {"node line", kNodeLine, {0.0, -25.0, 1.0}, {"+" + blanks(3) + "0.000E+00" + blanks(2) + "-2.500E+01" + blanks(3) + "1.000E+00"}},
        {"a move alone does not lengthen the record", kTrailingMove, {7}, {" 7"}},
    };
    for (const LayoutCase& c : cases) {
        EXPECT_EQ(format_records(c.layout, c.values), c.expected) << c.what;
    }
}

TEST(WriteRecords, SinkGetsEachRecord) {
    struct Collect : RecordSink {
        std::vector<std::string> got;
        void put_record(std::string_view r) override { got.emplace_back(r); }
    } sink;
    write_records(sink, kDoubleSlash, {});
    EXPECT_EQ(sink.got, (std::vector<std::string>{"A", "", "B"}));
}

TEST(TextWrite, FillsExactlyTheTarget) {
    EXPECT_EQ(text_write(19, kCountField, {11, "*", -2.5}), "     11*-.25000E+01");
    EXPECT_EQ(text_write(19, kCountField, {1000000, "*", 0.5}), " *******0.50000E+00");
    EXPECT_EQ(text_write(19, kCountField, {5151, "*", 0.0}), "   5151*0.00000E+00");
    // A shorter record is padded with blanks, a longer one cut.
    EXPECT_EQ(text_write(6, kNoGroup, {4}), "v  4  ");
    EXPECT_EQ(text_write(2, kNoGroup, {4}), "v ");
}

static_assert(well_formed(kResultLayout));
static_assert(!well_formed(std::span<const Item>(kResultLayout, 5)));  // group left open

}  // namespace
}  // namespace plumcor
