// DGAUSS: accuracy of the stored rules against roots of P_N computed here,
// the unfolding order, the three interval mappings and the three reports.
#include "solution/gauss.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "driver/run_stop.hpp"

namespace plumcor {
namespace {

constexpr int kOrders[] = {4, 5, 6, 10, 15, 20, 60, 104, 256};

struct Rule {
    std::vector<double> x, w;
};

Rule rule(int n, double a, double b) {
    Rule r{std::vector<double>(static_cast<std::size_t>(n)),
           std::vector<double>(static_cast<std::size_t>(n))};
    DGAUSS(a, b, r.x, r.w, n);
    return r;
}

// Independent rule in long double (64-bit mantissa): Newton on P_N from the
// Chebyshev-like guesses cos(pi (i - 1/4)/(N + 1/2)), and the weights from
// P_{N-1}, w = 2 (1 - x^2) / (N P_{N-1}(x))^2, not from P_N'.
struct Legendre {
    long double pn, pn1;  // P_N, P_{N-1}
};
Legendre legendre(int n, long double x) {
    long double p0 = 1.0L;
    long double p1 = x;
    for (int k = 2; k <= n; ++k) {
        const long double p2 = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
        p0 = p1;
        p1 = p2;
    }
    return {p1, p0};
}

struct ExactNode {
    long double x, w;
};

// The non-negative roots, ascending, with their weights.
std::vector<ExactNode> exact_half(int n) {
    std::vector<ExactNode> out;
    const long double pi = 3.141592653589793238462643383279502884L;
    for (int i = 1; i <= (n + 1) / 2; ++i) {
        long double x = std::cos(pi * (i - 0.25L) / (n + 0.5L));
        for (int it = 0; it < 60; ++it) {
            const Legendre l = legendre(n, x);
            const long double dp = n * (x * l.pn - l.pn1) / (x * x - 1.0L);
            const long double step = l.pn / dp;
            x -= step;
            if (std::fabs(step) < 1e-21L) break;
        }
        if (n % 2 == 1 && i == (n + 1) / 2) x = 0.0L;  // the central root is exactly 0
        const Legendre l = legendre(n, x);
        const long double np = n * l.pn1;
        out.push_back({x, 2.0L * (1.0L - x * x) / (np * np)});
    }
    std::sort(out.begin(), out.end(), [](const ExactNode& a, const ExactNode& b) { return a.x < b.x; });
    return out;
}

TEST(Dgauss, EveryAbscissaAndWeightWithin1e15OfTheExactRule) {
    long double worst = 0;
    for (int n : kOrders) {
        SCOPED_TRACE("N = " + std::to_string(n));
        // On [-1, 1] the finite mapping is the identity: x = (2t + 0)/2 and
        // w = 1*w are exact, so the unfolded stored rule comes out unchanged.
        const Rule r = rule(n, -1.0, 1.0);
        const std::vector<ExactNode> half = exact_half(n);
        ASSERT_EQ(half.size(), static_cast<std::size_t>((n + 1) / 2));
        std::size_t i = 0;
        std::size_t h = 0;
        if (n % 2 == 1) {
            EXPECT_EQ(r.x[0], 0.0);
            worst = std::max(worst, std::fabs(r.w[0] - half[0].w));
            EXPECT_LE(std::fabs(r.w[0] - half[0].w), 1e-15L);
            i = 1;
            h = 1;
        }
        for (; h < half.size(); ++h, i += 2) {
            // +x(k) then -x(k), moving outward.
            EXPECT_EQ(r.x[i + 1], -r.x[i]) << "pair at " << i;
            EXPECT_EQ(r.w[i + 1], r.w[i]) << "pair at " << i;
            const long double dx = std::fabs(r.x[i] - half[h].x);
            const long double dw = std::fabs(r.w[i] - half[h].w);
            EXPECT_LE(dx, 1e-15L) << "abscissa " << h;
            EXPECT_LE(dw, 1e-15L) << "weight " << h;
            worst = std::max({worst, dx, dw});
            if (i + 2 < r.x.size()) {
                EXPECT_LT(r.x[i], r.x[i + 2]) << "outward order at " << i;
            }
        }
        EXPECT_EQ(i, static_cast<std::size_t>(n));
    }
    std::printf("largest table error against the long double rule: %.3Le\n", worst);
}

TEST(Dgauss, FourPointsOnUnitInterval) {
    const Rule r = rule(4, 0.0, 1.0);
    const double x[] = {0.66999052, 0.33000948, 0.93056816, 0.06943184};
    const double w[] = {0.32607258, 0.32607258, 0.17392742, 0.17392742};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(r.x[i], x[i], 5e-9) << i;
        EXPECT_NEAR(r.w[i], w[i], 5e-9) << i;
    }
}

TEST(Dgauss, FivePointsCentreAndSymmetry) {
    const std::pair<double, double> intervals[] = {{0.0, 1.0}, {-3.0, 7.5}, {2.0, 2.5}, {-1e6, 1e6}};
    for (auto [a, b] : intervals) {
        const Rule r = rule(5, a, b);
        const double mid = (a + b) / 2;
        const double scale = std::max({1.0, std::fabs(a), std::fabs(b)});
        EXPECT_NEAR(r.x[0], mid, 1e-15 * scale);
        EXPECT_NEAR(r.w[0], (b - a) / 2 * 128.0 / 225.0, 1e-15 * (b - a));
        EXPECT_NEAR(r.x[1] - mid, mid - r.x[2], 1e-14 * scale);
        EXPECT_GT(r.x[1], mid);
        EXPECT_NEAR(r.x[3] - mid, mid - r.x[4], 1e-14 * scale);
        EXPECT_GT(r.x[3], r.x[1]);
    }
}

TEST(Dgauss, FiniteIntervalWeightsAddUpAndNodesLieInside) {
    const std::pair<double, double> intervals[] = {{0.0, 1.0}, {-1.0, 1.0}, {0.0, 5.2}, {-7.25, -3.5},
                                                   {-9.99e19, 1.0}};
    for (int n : kOrders) {
        for (auto [a, b] : intervals) {
            const Rule r = rule(n, a, b);
            long double sum = 0;
            for (int i = 0; i < n; ++i) {
                sum += r.w[i];
                EXPECT_GT(r.x[i], a) << "N=" << n << " node " << i;
                EXPECT_LT(r.x[i], b) << "N=" << n << " node " << i;
                EXPECT_GT(r.w[i], 0.0);
            }
            EXPECT_NEAR(static_cast<double>(sum), b - a, 2e-15 * (b - a)) << "N=" << n << " [" << a << ", " << b << "]";
        }
    }
}

TEST(Dgauss, EmptyIntervalGivesNodesAtTheLimitAndZeroWeights) {
    for (int n : kOrders) {
        const Rule r = rule(n, 3.25, 3.25);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(r.x[i], 3.25);
            EXPECT_EQ(r.w[i], 0.0);
        }
    }
}

TEST(Dgauss, HalfInfiniteMappingsOfFourPoints) {
    const double x[] = {0.40049171, 1.10863390, 0.07195996, 2.66740967};
    const double w[] = {0.48668237, 0.98807034, 0.18690455, 2.50500940};
    const Rule upper = rule(4, 0.0, 1.0e20);
    const Rule lower = rule(4, -1.0e20, 0.0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(upper.x[i], x[i], 5e-9) << i;
        EXPECT_NEAR(upper.w[i], w[i], 5e-9) << i;
        EXPECT_NEAR(lower.x[i], -x[i], 5e-9) << i;
        EXPECT_NEAR(lower.w[i], w[i], 5e-9) << i;
    }
}

// The logarithmic mappings integrate exp(-(distance from the finite limit))
// exactly: the sums below are sums of w(i)/2 over the base rule.
TEST(Dgauss, HalfInfiniteMappingsIntegrateTheExponentialExactly) {
    struct Case {
        double a, b;
        bool lower_infinite;
    };
    const Case cases[] = {
        {0.0, 1.0e20, false}, {2.5, 1.0e21, false}, {-1.0e20, 0.0, true}, {-1.0e30, -4.0, true}};
    for (int n : kOrders) {
        for (const Case& c : cases) {
            const Rule r = rule(n, c.a, c.b);
            long double sum = 0;
            for (int i = 0; i < n; ++i) {
                if (c.lower_infinite) {
                    EXPECT_LT(r.x[i], c.b);
                    sum += r.w[i] * std::exp(static_cast<long double>(r.x[i]) - c.b);
                } else {
                    EXPECT_GT(r.x[i], c.a);
                    sum += r.w[i] * std::exp(c.a - static_cast<long double>(r.x[i]));
                }
            }
            EXPECT_NEAR(static_cast<double>(sum), 1.0, 1e-15) << "N=" << n << " a=" << c.a << " b=" << c.b;
        }
    }
}

TEST(Dgauss, LowerLimitAtInfinityIsAnUpperInfiniteCall) {
    // A = B = 1e20: not an empty interval but [1e20, +inf), with the
    // weights of [0, +inf).
    const Rule at_infinity = rule(4, 1.0e20, 1.0e20);
    const Rule from_zero = rule(4, 0.0, 1.0e20);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(at_infinity.w[i], from_zero.w[i]);
        EXPECT_GE(at_infinity.x[i], 1.0e20);
    }
}

TEST(Dgauss, MinusOneE20IsInfiniteButMinus999E19IsFinite) {
    const Rule infinite = rule(4, -1.0e20, 0.0);
    const Rule finite = rule(4, -9.99e19, 0.0);
    // Infinite: logarithmic nodes near the upper limit.
    EXPECT_NEAR(infinite.x[0], -0.40049171, 5e-9);
    // Finite: affine nodes spread over the whole interval.
    EXPECT_NEAR(finite.x[0], -9.99e19 / 2 * (1 - 0.33998104358485626), 1e5);
    EXPECT_NEAR(finite.w[0], 9.99e19 / 2 * 0.65214515486254609, 1e5);
}

TEST(Dgauss, ElementsBeyondNKeepTheirContents) {
    for (int n : kOrders) {
        std::array<double, 300> x;
        std::array<double, 300> w;
        x.fill(-123.5);
        w.fill(456.25);
        DGAUSS(0.0, 2.0, x, w, n);
        for (int i = 0; i < n; ++i) EXPECT_NE(x[i], -123.5);
        for (std::size_t i = static_cast<std::size_t>(n); i < x.size(); ++i) {
            EXPECT_EQ(x[i], -123.5);
            EXPECT_EQ(w[i], 456.25);
        }
    }
}

// --- Reports ---------------------------------------------------------------

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

// Console lines, each ending in CR LF; "" is an empty line.
std::string console(std::initializer_list<std::string> lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\r\n";
    return s;
}

std::string reversed_report(const std::string& a, const std::string& b, const std::string& n) {
    return console({"", "", "", "", "", "", "", "", "",
                    blanks(50) + "*****  ERROR IN SUBROUTINE DGAUSS *****", "", "",
                    blanks(40) + "THE FOLLOWING VALUES WHERE SPECIFIED", "",
                    blanks(30) + "LOWER LIMIT OF INTEGRATION   A = " + a,
                    blanks(30) + "UPPER LIMIT OF INTEGRATION   B = " + b,
                    blanks(17) + "NUMBER OF GAUSSIAN INTEGRATION POINTS     N = " + n, "",
                    blanks(35) + "YOU VIOLATED THE CONDITION THAT LIMIT B MUST BE GREATER OR EQUAL THEN LIMIT  A",
                    "", blanks(30) + "PROGRAM SHALL STOP AFTER FORMAT 1  IN SUBROUTINE  DGAUSS"});
}

std::string unsupported_report(const std::string& n) {
    return console({"", "", "", "", "", blanks(40) + "*****  ERROR FLAG FROM SUBROUTINE DGAUSS *****", "",
                    blanks(20) + "SUBROUTINE  DGAUSS  DOES NOT CONTAIN THE  N= " + n + " ROOTS AND WEIGHT FACTORS",
                    blanks(20) + "FOR THE GAUSS-LEGENDRE QUADRADURE INTEGRATION SCHEME, THEY MUST BE ADDED ",
                    blanks(30) + "PROGRAM SHALL END AFTER FORMAT 4000  IN SUBROUTINE  DGAUSS"});
}

std::string both_infinite_report(const std::string& a, const std::string& b, const std::string& n) {
    return console({"", "", "", "", "", "", "", "", "", "",
                    blanks(30) + "*****  ERROR IN SUBROUTINE  DGAUSS  *****", "",
                    blanks(30) + "DGAUSS WAS CALLED WITH  A = " + a, blanks(54) + "B = " + b,
                    blanks(51) + "  N  = " + n, "", "",
                    blanks(10) + "THIS SUBROUTINE CAN NOT HANDLE AN INTEGRAL WHERE BOTH THE UPPER AND LOWER "
                                 "LIMITS OF INTEGRATION ARE INFINITE",
                    "", "", blanks(20) + "WHAT TO DO ...DEFINE A NEW PROBLEM SUCHTHAT", "",
                    blanks(20) + "F(X)*DX (-INF,+INF)  =  F(X)*DX (-INF,0)  +  F(X)*DX (0,+INF)   WHERE  INF = 1.D+20 ",
                    "", blanks(20) + "PROGRAM SHALL END AFTER FORMAT 90000 IN SUBROUTINE DGAUSS"});
}

struct ReportCase {
    const char* what;
    double a, b;
    int n;
    std::string expected;
};

TEST(DgaussReport, EachStopWritesItsReportAndNothingElse) {
    const ReportCase cases[] = {
        {"reversed limits", 2.0, 1.0, 4,
         reversed_report("  0.200000000000D+01", "  0.100000000000D+01", "    4")},
        {"reversed by the smallest step", 0.0, -5e-324, 256,
         reversed_report("  0.000000000000D+00", " -0.494065645841-323", "  256")},
        {"reversed limits come before an unsupported order", -1.5, -2.0, 7,
         reversed_report(" -0.150000000000D+01", " -0.200000000000D+01", "    7")},
        {"order 7", 0.0, 1.0, 7, unsupported_report("  7")},
        {"order 0", 0.0, 1.0, 0, unsupported_report("  0")},
        {"order -1", 0.0, 1.0, -1, unsupported_report(" -1")},
        {"order 255", 0.0, 1.0, 255, unsupported_report("255")},
        {"order 1000 does not fit I3", 0.0, 1.0, 1000, unsupported_report("***")},
        {"both limits infinite", -1.0e20, 1.0e20, 4,
         both_infinite_report(" -0.100000000000D+21", "  0.100000000000D+21", "  4")},
        {"both infinite, order 256", -2.5e25, 1.0e30, 256,
         both_infinite_report(" -0.250000000000D+26", "  0.100000000000D+31", "256")},
        {"both infinite with an unsupported order", -1.0e20, 1.0e20, 3, unsupported_report("  3")},
    };
    for (const ReportCase& c : cases) {
        std::vector<double> x(300, 0.0);
        std::vector<double> w(300, 0.0);
        try {
            DGAUSS(c.a, c.b, x, w, c.n);
            ADD_FAILURE() << c.what << ": no stop";
        } catch (const RunStop& stop) {
            EXPECT_EQ(stop.console_report, c.expected) << c.what;
            EXPECT_EQ(stop.message, "") << c.what;
            EXPECT_EQ(stop.status, 1) << c.what;
        }
    }
}

TEST(DgaussReport, SupportedOrdersAreExactlyTheNine) {
    int count = 0;
    for (int n = -5; n <= 300; ++n) {
        const bool held = std::find(std::begin(kOrders), std::end(kOrders), n) != std::end(kOrders);
        EXPECT_EQ(gauss_order_supported(n), held) << n;
        count += gauss_order_supported(n);
    }
    EXPECT_EQ(count, 9);
}

}  // namespace
}  // namespace plumcor
