// The short-field path of the real renderer must give exactly the bytes of
// the general to_chars renderer for every double it accepts, and must leave
// the field untouched when it declines. Checked on a table of hard cases
// (ties, near-ties either side of every kind of rounding boundary, powers of
// ten, the ends of the double range) and on millions of random values from a
// fixed seed.
#include "output/short_real.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "output/record_writer.hpp"

namespace plumcor {
namespace {

struct Format {
    int w, d, scale;
    char letter;
};

// The program's short fields first, then neighbours of them: other widths
// (one column to spare, exactly full, too narrow), other digit counts, the D
// letter, and scale factors other than 0 and 1.
const Format kFormats[] = {
    {12, 3, 1, 'E'}, {11, 5, 0, 'E'}, {9, 3, 1, 'E'}, {10, 3, 1, 'E'}, {8, 3, 1, 'E'},
    {8, 2, 0, 'E'},  {7, 2, 0, 'E'},  {6, 2, 0, 'E'}, {12, 5, 1, 'D'}, {13, 6, 0, 'E'},
    {14, 6, 0, 'D'}, {6, 0, 1, 'E'},  {5, 1, 0, 'E'}, {20, 4, 1, 'E'}, {12, 3, 2, 'E'},
    {11, 5, -1, 'E'}, {12, 7, 0, 'E'}, {12, 6, 1, 'E'}, {10, 0, 0, 'E'},
};

std::string show(const Format& f, double v) {
    char text[96];
    std::snprintf(text, sizeof text, "w=%d d=%d k=%d %c v=%.17g (%a)", f.w, f.d, f.scale, f.letter, v, v);
    return text;
}

constexpr int kGuard = 8;
constexpr char kGuardByte = '\x7f';

// Compares the short path with the exact renderer for one value and field;
// returns whether the short path took it. A mismatch is reported with the
// value, at most a few times per test so that a broken path stays readable.
struct Checker {
    long taken = 0;
    long declined = 0;
    int failures = 0;

    bool check(const Format& f, double v) {
        std::vector<char> exact(static_cast<std::size_t>(f.w) + 2 * kGuard, kGuardByte);
        std::vector<char> fast(exact.size(), kGuardByte);
        std::vector<char> dispatched(exact.size(), kGuardByte);
        render_real_exact(exact.data() + kGuard, f.w, f.d, f.scale, f.letter, v);
        const bool took = render_short_real(fast.data() + kGuard, f.w, f.d, f.scale, f.letter, v);
        render_real(dispatched.data() + kGuard, f.w, f.d, f.scale, f.letter, v);
        const std::string want(exact.begin(), exact.end());
        const std::string got(fast.begin(), fast.end());
        const std::string untouched(exact.size(), kGuardByte);
        bool ok = true;
        if (took && got != want) {
            if (failures < 20)
                ADD_FAILURE() << show(f, v) << ": short path [" << got.substr(kGuard, f.w) << "], exact ["
                              << want.substr(kGuard, f.w) << "]";
            ok = false;
        }
        if (!took && got != untouched) {
            if (failures < 20) ADD_FAILURE() << show(f, v) << ": declined but wrote the field";
            ok = false;
        }
        if (std::string(dispatched.begin(), dispatched.end()) != want) {
            if (failures < 20) ADD_FAILURE() << show(f, v) << ": render_real differs from the exact renderer";
            ok = false;
        }
        if (!ok) ++failures;
        (took ? taken : declined) += 1;
        return took;
    }

    void check_all_formats(double v) {
        for (const Format& f : kFormats) {
            check(f, v);
            check(f, -v);
        }
    }
};

double decimal(const char* text) { return std::strtod(text, nullptr); }

// v and the doubles up to `ulps` steps either side of it.
template <typename F>
void around(double v, int ulps, F&& each) {
    each(v);
    double up = v;
    double down = v;
    for (int i = 0; i < ulps; ++i) {
        up = std::nextafter(up, std::numeric_limits<double>::infinity());
        down = std::nextafter(down, -std::numeric_limits<double>::infinity());
        each(up);
        each(down);
    }
}

TEST(ShortReal, HardCasesMatchTheExactRenderer) {
    Checker c;
    const double named[] = {
        0.0, 1.0, 0.5, 1.0625, 1.1875, 2.5, 1234.5, 99999.5, 12345.5, 0.125, 1.2345, 9.9995, 9.99949999,
        9.9996, 9.99950001, 999.95, 0.99995, 99.995, 1.00005, 123456.5, 6.02214076e23, 1.602176634e-19,
        DBL_MAX, DBL_MIN, std::nextafter(DBL_MIN, 0.0), std::nextafter(DBL_MIN, 1.0), DBL_TRUE_MIN,
        5 * DBL_TRUE_MIN, DBL_EPSILON, 1e-300, 1e-305, 1e-306, 1e-307, 1e-308, 9.9995e-306, 1e300,
        9.9995e307, 1.7976e308, 1e99, 9.9995e98, 1e-99, 9.9995e-100, 1e100, 1e-100, 1e-101, 0.1, 0.3,
        std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
    for (double v : named) around(v, 3, [&](double u) { c.check_all_formats(u); });
    c.check_all_formats(-0.0);

    // Every power of ten of the double range and its neighbours: the digit
    // count changes there, and the estimate of the decimal exponent is one
    // short on one side.
    for (int e = -324; e <= 308; ++e) {
        char text[16];
        std::snprintf(text, sizeof text, "1e%d", e);
        around(decimal(text), 2, [&](double u) { c.check_all_formats(u); });
    }
    // Every power of two: the binary exponent changes there.
    for (int e = -1074; e <= 1023; ++e) around(std::ldexp(1.0, e), 1, [&](double u) { c.check_all_formats(u); });
    EXPECT_EQ(c.failures, 0);
}

// Rounding boundaries (m + 1/2) * 10^e for every 4- and 5-digit m at a few
// exponents, and for random m at every exponent: the double nearest to the
// boundary (often the exact tie when it is representable) and 1 and 2 ulps
// either side.
TEST(ShortReal, EveryKindOfRoundingBoundary) {
    Checker c;
    // m.5 * 10^e written out, parsed to the nearest double.
    auto boundary = [](long long m, int e) {
        char text[48];
        std::snprintf(text, sizeof text, "%lld5e%d", m, e - 1);
        return decimal(text);
    };
    const Format f4 = kFormats[0];  // 1PE12.3: four digits
    const Format f5 = kFormats[1];  // E11.5: five digits
    const Format f6 = kFormats[9];  // E13.6: six digits
    for (int e : {-310, -300, -30, -8, -4, -3, -1, 0, 1, 2, 5, 20, 300, 304}) {
        for (long long m = 1000; m <= 9999; ++m)
            around(boundary(m, e), 2, [&](double u) { c.check(f4, u); });
        for (long long m = 10000; m <= 99999; m += 7)
            around(boundary(m, e), 1, [&](double u) { c.check(f5, u); });
    }
    std::mt19937_64 rng(20261211);
    for (int e = -330; e <= 310; ++e) {
        for (int r = 0; r < 40; ++r) {
            const long long m4 = 1000 + static_cast<long long>(rng() % 9000);
            around(boundary(m4, e), 1, [&](double u) { c.check(f4, u); });
            const long long m5 = 10000 + static_cast<long long>(rng() % 90000);
            around(boundary(m5, e), 1, [&](double u) { c.check(f5, u); });
            const long long m6 = 100000 + static_cast<long long>(rng() % 900000);
            around(boundary(m6, e), 1, [&](double u) { c.check(f6, u); });
        }
    }
    EXPECT_EQ(c.failures, 0);
}

TEST(ShortReal, RandomBitPatterns) {
    Checker main_field;  // 1PE12.3
    Checker c;
    std::mt19937_64 rng(0x5eed5eedULL);
    for (int i = 0; i < 2000000; ++i) {
        const std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        main_field.check(kFormats[0], v);
        if (i % 2 == 0) c.check(kFormats[1], v);
        if (i % 16 == 0)
            for (const Format& f : kFormats) c.check(f, v);
    }
    EXPECT_EQ(main_field.failures + c.failures, 0);
    // The path exists for speed: nearly every ordinary value must take it.
    // Random bits are normal doubles of every magnitude; only NaNs,
    // infinities and subnormals (two exponents in 2048) and the values
    // below about 1e-300 (a few more) are declined.
    EXPECT_GT(main_field.taken, main_field.declined * 50);
}

// Values that look decimal: up to nine significant digits, many of them
// exactly on or a rounding away from a printed boundary, at every exponent,
// and values of the magnitudes of concentrations.
TEST(ShortReal, RandomDecimalLookingValues) {
    Checker c;
    std::mt19937_64 rng(77);
    for (int i = 0; i < 1000000; ++i) {
        const int digits = 1 + static_cast<int>(rng() % 9);
        long long m = 1;
        for (int q = 0; q < digits; ++q) m = m * 10 + static_cast<long long>(rng() % 10);
        const int e = static_cast<int>(rng() % 640) - 330;
        char text[48];
        std::snprintf(text, sizeof text, "%s%llde%d", rng() % 2 ? "-" : "", m, e);
        const double v = decimal(text);
        c.check(kFormats[0], v);
        c.check(kFormats[1], v);
    }
    Checker ordinary;
    std::uniform_real_distribution<double> log_mag(-40.0, 10.0);
    for (int i = 0; i < 1000000; ++i) {
        const double v = std::pow(10.0, log_mag(rng));
        ordinary.check(kFormats[0], v);
        ordinary.check(kFormats[1], v);
    }
    EXPECT_EQ(c.failures + ordinary.failures, 0);
    // Values from a computation are almost never within 1e-7 of a tie.
    EXPECT_LT(ordinary.declined, 50);
}

}  // namespace
}  // namespace plumcor
