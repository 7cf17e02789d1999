#include "output/short_real.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plumcor {

namespace {

// Significant digits handled here. Beyond six the margin below would have to
// shrink towards the error of the scaling.
constexpr int kMaxDigits = 6;

// "00" ... "99".
constexpr auto kPairs = [] {
    std::array<std::array<char, 2>, 100> t{};
    for (int i = 0; i < 100; ++i) t[static_cast<std::size_t>(i)] = {static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10)};
    return t;
}();

// Two digit characters as a number, the first in the low byte.
std::uint64_t pair(std::uint32_t i) {
    std::uint16_t u;
    std::memcpy(&u, kPairs[i].data(), 2);
    return u;
}

constexpr char kBlanks[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

// Powers of ten 1e-307 ... 1e308: the normal doubles that are powers of ten,
// each the double nearest to it (strtod rounds correctly).
constexpr int kMinPow = -307;
constexpr int kMaxPow = 308;

class PowersOfTen {
public:
    PowersOfTen() {
        for (int p = kMinPow; p <= kMaxPow; ++p) {
            char text[16];
            std::snprintf(text, sizeof text, "1e%d", p);
            table_[static_cast<std::size_t>(p - kMinPow)] = std::strtod(text, nullptr);
        }
    }
    double operator[](int p) const { return table_[static_cast<std::size_t>(p - kMinPow)]; }

private:
    std::array<double, kMaxPow - kMinPow + 1> table_{};
};

const PowersOfTen& powers() {
    static const PowersOfTen table;
    return table;
}

constexpr std::int64_t kIntPow[kMaxDigits + 1] = {1, 10, 100, 1000, 10000, 100000, 1000000};

// The scaled value s = |v| * 10^p is formed with two roundings (the table
// entry and the product), so it is within 2.3e-16 * s < 2.3e-10 of the exact
// product for s < 10^6. Its fraction decides the rounding only when it lies
// farther than this from one half; anything closer (an exact tie, a decimal
// written value such as 1.2345, or a near-tie) goes to the exact renderer.
// Far from a half, an error of this size cannot change the rounded digits:
// rounding to nearest is continuous everywhere else, carries included.
constexpr double kTieMargin = 1e-7;

// floor(e * log10(2)) for |e| <= 1650.
constexpr int floor_log10_pow2(int e) { return (e * 78913) >> 18; }


// The body of render_short_real, inlined into it once per common field so
// that the compiler folds the field's constants into it.
[[gnu::always_inline]] inline bool render_short(char* out, int w, int d, int scale, char letter, double v) {
    // The same field arithmetic as the exact renderer.
    const int k = scale > 0 ? 1 : 0;
    const int n = k == 0 ? d : d + 1;
    if (n < 1 || n > kMaxDigits) return false;

    const auto bits = std::bit_cast<std::uint64_t>(v);
    const bool zero = (bits << 1) == 0;
    const int biased = static_cast<int>(bits >> 52) & 0x7ff;
    // Subnormal, infinite and not-a-number values are the exact renderer's.
    if (!zero && (biased == 0 || biased == 0x7ff)) return false;
    const bool negative = !zero && (bits >> 63) != 0;  // -0.0 prints without a sign

    const int mlen = zero || k == 0 ? d + 1 : d + 2;
    const int required = (negative ? 1 : 0) + mlen + 4;
    if (required > w) return false;

    // Six digits, of which the first n are printed ("000000" for zero).
    int exponent = 0;
    std::uint32_t d6 = 0;
    if (!zero) {
        const double a = std::bit_cast<double>(bits & ~(std::uint64_t{1} << 63));
        // x = floor(log10 a) is this estimate or one more, since
        // 2^e <= a < 2^(e+1); one comparison with the table settles it
        // (without a branch: which way it goes is as good as random). A
        // table entry a rounding away from the power only moves s across
        // 10^(n-1) or 10^n by as much, which the carry below absorbs.
        int x = floor_log10_pow2(biased - 1023);
        if (x < kMinPow || x + 1 > kMaxPow) return false;
        const PowersOfTen& pow10 = powers();
        x += a >= pow10[x + 1] ? 1 : 0;
        const int p = n - 1 - x;
        if (p < kMinPow || p > kMaxPow) return false;
        const double s = a * pow10[p];
        auto D = static_cast<std::int64_t>(s);
        const double frac = s - static_cast<double>(D);
        // One comparison (frac - 0.5 is exact): two would be a branch on
        // which side of the half the value lies, which is unpredictable.
        if (std::fabs(frac - 0.5) < kTieMargin) return false;
        D += frac > 0.5 ? 1 : 0;
        if (D == kIntPow[n]) {  // 9.9996 -> 10.00
            D = kIntPow[n - 1];
            ++x;
        }
        if (D < kIntPow[n - 1] || D >= kIntPow[n]) return false;  // cannot happen; never guess
        d6 = static_cast<std::uint32_t>(D * kIntPow[kMaxDigits - n]);
        exponent = x + 1 - k;
    }
    const int mag = exponent < 0 ? -exponent : exponent;
    if (mag > 999) return false;
    // The six digits as characters in one register, the first in the low
    // byte: the field is then written by stores only, none of which is read
    // back (a load over freshly stored bytes stalls the processor).
    std::uint64_t chars = pair(d6 / 10000) | pair(d6 / 100 % 100) << 16 | pair(d6 % 100) << 32;

    if (w >= 8 && w <= 16) {
        std::memcpy(out, kBlanks, 8);
        std::memcpy(out + w - 8, kBlanks, 8);
    } else {
        std::memset(out, ' ', static_cast<std::size_t>(w));
    }
    const bool lead_zero = (k == 0 || zero) && required < w;
    char* p = out + (w - required - (lead_zero ? 1 : 0));
    if (negative) *p++ = '-';
    if (lead_zero) *p++ = '0';
    int count = zero ? d : n;  // digits after the point, or all of them
    if (!zero && k == 1) {
        *p++ = static_cast<char>(chars);
        chars >>= 8;
        --count;
    }
    *p++ = '.';
    for (int i = 0; i < count; ++i) {
        *p++ = static_cast<char>(chars);
        chars >>= 8;
    }
    const std::uint64_t e2 = pair(static_cast<std::uint32_t>(mag % 100));
    if (mag <= 99) {
        p[0] = letter;
        p[1] = exponent < 0 ? '-' : '+';
    } else {
        p[0] = exponent < 0 ? '-' : '+';
        p[1] = static_cast<char>('0' + mag / 100);
    }
    p[2] = static_cast<char>(e2);
    p[3] = static_cast<char>(e2 >> 8);
    return true;
}

}  // namespace

bool render_short_real(char* out, int w, int d, int scale, char letter, double v) {
    // 1PE12.3 is every value of the ASCII concentration file, E11.5 the
    // grid description's.
    if (w == 12 && d == 3 && scale == 1 && letter == 'E') return render_short(out, 12, 3, 1, 'E', v);
    if (w == 11 && d == 5 && scale == 0 && letter == 'E') return render_short(out, 11, 5, 0, 'E', v);
    return render_short(out, w, d, scale, letter, v);
}

}  // namespace plumcor
