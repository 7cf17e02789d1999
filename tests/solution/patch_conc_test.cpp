// PATCH_CONC and the solution block against values from outside the code:
// the independently computed reference values, the 1-D solution for a
// decaying boundary, the source plane, symmetry, and an integral evaluated
// here without the substitution tau = u^4 for the overflow-prone cases.
#include "solution/patch_conc.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/run_stop.hpp"
#include "solution/gauss.hpp"
#include "solution/solution_block.hpp"
#include "solution/solution_support.hpp"

namespace plumcor {
namespace {

using test::Physics;

// --- The solution block ----------------------------------------------------

TEST(SolutionBlock, RetardedCoefficientsAndCopiedValues) {
    struct Case {
        double V, aL, aTh, aTv, De, R, W;
    };
    const Case cases[] = {{0.1, 10.0, 1.0, 0.1, 8.64e-5, 1.0, 20.0},
                          {1.0, 5.0, 0.5, 0.05, 8.64e-5, 2.0, 10.0},
                          {0.3, 0.7, 0.07, 0.007, 1.1e-3, 3.3, -4.0}};
    for (const Case& c : cases) {
        ProblemInput in;
        in.V = c.V;
        in.ALPHAL = c.aL;
        in.ALPHATH = c.aTh;
        in.ALPHATV = c.aTv;
        in.DE = c.De;
        in.R = c.R;
        in.WIDTH = c.W;
        in.LAMBDA = 0.0123;
        in.GAMMA = 0.0456;
        in.Z1 = -2.5;
        in.Z2 = 7.5;
        in.NGAUSS = 104;
        const SolutionBlock b = make_solution_block(in);
        // Product, then sum, then quotient: the deck's values give these
        // bits and no others.
        EXPECT_EQ(b.VR, c.V / c.R);
        EXPECT_EQ(b.DISPX, (c.aL * c.V + c.De) / c.R);
        EXPECT_EQ(b.DISPY, (c.aTh * c.V + c.De) / c.R);
        EXPECT_EQ(b.DISPZ, (c.aTv * c.V + c.De) / c.R);
        EXPECT_EQ(b.HALFW, c.W / 2);
        // The decay constants are not retarded.
        EXPECT_EQ(b.LAMBDA, 0.0123);
        EXPECT_EQ(b.GAMMA, 0.0456);
        EXPECT_EQ(b.Z1, -2.5);
        EXPECT_EQ(b.Z2, 7.5);
        EXPECT_EQ(b.NGAUSS, 104);
    }
}

// --- Reference values --------------------------------------------------------

// Just enough JSON for the reference file: objects, arrays, strings, numbers.
struct Json {
    enum class Kind { Null, Number, String, Array, Object } kind = Kind::Null;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& key) const {
        auto it = members.find(key);
        if (it == members.end()) throw std::runtime_error("no member " + key);
        return it->second;
    }
};

class JsonParser {
public:
    explicit JsonParser(std::string s) : s_(std::move(s)) {}
    Json parse() {
        Json v = value();
        skip();
        if (p_ != s_.size()) throw std::runtime_error("trailing text");
        return v;
    }

private:
    void skip() {
        while (p_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[p_]))) ++p_;
    }
    void expect(char c) {
        skip();
        if (p_ >= s_.size() || s_[p_] != c) throw std::runtime_error(std::string("expected ") + c);
        ++p_;
    }
    std::string string_literal() {
        expect('"');
        std::string out;
        while (p_ < s_.size() && s_[p_] != '"') {
            if (s_[p_] == '\\') ++p_;
            out += s_[p_++];
        }
        expect('"');
        return out;
    }
    Json value() {
        skip();
        Json v;
        const char c = s_.at(p_);
        if (c == '{') {
            v.kind = Json::Kind::Object;
            ++p_;
            skip();
            if (s_[p_] == '}') return ++p_, v;
            do {
                std::string key = string_literal();
                expect(':');
                v.members[key] = value();
                skip();
            } while (s_[p_] == ',' && ++p_);
            expect('}');
        } else if (c == '[') {
            v.kind = Json::Kind::Array;
            ++p_;
            skip();
            if (s_[p_] == ']') return ++p_, v;
            do {
                v.items.push_back(value());
                skip();
            } while (s_[p_] == ',' && ++p_);
            expect(']');
        } else if (c == '"') {
            v.kind = Json::Kind::String;
            v.text = string_literal();
        } else {
            v.kind = Json::Kind::Number;
            const char* begin = s_.c_str() + p_;
            char* end = nullptr;
            v.number = std::strtod(begin, &end);
            if (end == begin) throw std::runtime_error("bad value");
            v.text.assign(begin, static_cast<std::size_t>(end - begin));
            p_ += static_cast<std::size_t>(end - begin);
        }
        return v;
    }

    std::string s_;
    std::size_t p_ = 0;
};

Json read_json(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return JsonParser(ss.str()).parse();
}

TEST(PatchConc, MatchesEveryReferenceValueAt256Points) {
    const Json ref = read_json(std::string(PLUMCOR_TEST_DATA) + "/reference-values.json");
    const Json& cases = ref["cases"];
    ASSERT_EQ(cases.items.size(), 29u);
    long double worst = 0;
    std::string worst_id;
    for (const Json& c : cases.items) {
        const Json& p = c["params"];
        const Physics phys{p["V"].number,      p["alphaL"].number, p["alphaTH"].number,
                           p["alphaTV"].number, p["De"].number,     p["lambda"].number,
                           p["R"].number,       p["W"].number,      p["Z1"].number,
                           p["Z2"].number,      p["gamma"].number};
        SolutionBlock blk = test::block(phys, 256);
        const double c_over_c0 =
            PATCH_CONC(blk, c["x"].number, c["y"].number, c["z"].number, c["t"].number);
        const long double exact = std::strtold(c["exact"].text.c_str(), nullptr);
        const long double rel = std::fabs((c_over_c0 - exact) / exact);
        EXPECT_LT(rel, 1e-12L) << c["id"].text << " (" << c["note"].text << "): " << c_over_c0
                               << " vs " << static_cast<double>(exact);
        if (rel > worst) {
            worst = rel;
            worst_id = c["id"].text;
        }
    }
    std::printf("largest relative error against the reference values: %.3Le (%s)\n", worst,
                worst_id.c_str());
}

// --- The 1-D limit ------------------------------------------------------------

// A patch far wider and deeper than the plume leaves Y = Z = 2, and the
// solution is that of 1-D transport from a boundary held at exp(-gamma t):
// C/C0 = exp(-gamma t)/2 [exp((v-u)x/(2D)) erfc((x-ut)/(2 sqrt(Dt)))
//                        + exp((v+u)x/(2D)) erfc((x+ut)/(2 sqrt(Dt)))],
// u = sqrt(v^2 + 4 D (lambda - gamma)).
long double one_d(long double v, long double d, long double lambda, long double gamma, long double x,
                  long double t) {
    const long double u = std::sqrt(v * v + 4 * d * (lambda - gamma));
    const long double s = 2 * std::sqrt(d * t);
    const long double f = std::exp((v - u) * x / (2 * d)) * std::erfc((x - u * t) / s) +
                          std::exp((v + u) * x / (2 * d)) * std::erfc((x + u * t) / s);
    return std::exp(-gamma * t) * f / 2;
}

TEST(PatchConc, WidePatchGivesTheOneDimensionalSolution) {
    struct Case {
        const char* what;
        double V, alphaL, De, R, lambda, gamma;
    };
    const Case cases[] = {
        {"no decay", 0.5, 5.0, 0.0, 1.0, 0.0, 0.0},
        {"contaminant decay only", 0.5, 5.0, 1e-4, 1.0, 0.01, 0.0},
        {"source decay only", 0.5, 5.0, 0.0, 1.0, 0.0, 0.005},
        {"source decays faster than the contaminant", 0.5, 5.0, 0.0, 1.0, 0.001, 0.01},
        {"equal decay", 0.2, 2.0, 0.0, 1.0, 0.003, 0.003},
        {"retarded", 1.0, 3.0, 8.64e-5, 2.5, 0.002, 0.0005},
    };
    const double xs[] = {0.75, 10.0, 50.0, 120.0};
    const double ts[] = {5.0, 60.0, 250.0, 900.0};
    // y on the centre line (special form) and off it; z inside the patch.
    const double ys[] = {0.0, 7.5};
    for (const Case& c : cases) {
        const Physics p{c.V, c.alphaL, 0.1 * c.alphaL, 0.01 * c.alphaL, c.De, c.lambda, c.R,
                        2.0e6, -1.0e6, 1.0e6, c.gamma};
        SolutionBlock blk = test::block(p, 256);
        const long double v = static_cast<long double>(c.V) / c.R;
        const long double d = (static_cast<long double>(c.alphaL) * c.V + c.De) / c.R;
        for (double x : xs) {
            for (double t : ts) {
                const long double expected = one_d(v, d, c.lambda, c.gamma, x, t);
                for (double y : ys) {
                    const double got = PATCH_CONC(blk, x, y, 1.5, t);
                    // The cut-off drops node terms below exp(-50): an absolute
                    // error of about 1e-21 that only the tiniest values show.
                    EXPECT_NEAR(got, expected, 1e-11L * expected + 1e-20L)
                        << c.what << " x=" << x << " y=" << y << " t=" << t;
                }
            }
        }
    }
}

// --- Geometry ---------------------------------------------------------------

const Physics kAquifer{0.2, 5.0, 0.5, 0.05, 1e-4, 0.001, 1.0, 20.0, 0.0, 5.0, 0.002};

TEST(PatchConc, SymmetricInY) {
    SolutionBlock blk = test::block(kAquifer, 104);
    const double ys[] = {1e-7, 1e-6, 2e-6, 0.5, 3.0, 9.99, 10.0, 10.01, 17.0, 40.0};
    const double pts[][3] = {{1.0, 2.5, 30.0}, {25.0, 1.0, 200.0}, {80.0, 6.0, 600.0}};
    for (const auto& pt : pts) {
        // Far off the axis the y factor is a small difference of two values
        // near 2 (or near 0 on the other side), so the agreement is that of
        // the erfc values, relative to the centre-line scale.
        const double centre = PATCH_CONC(blk, pt[0], 0.0, pt[1], pt[2]);
        for (double y : ys) {
            const double plus = PATCH_CONC(blk, pt[0], y, pt[1], pt[2]);
            const double minus = PATCH_CONC(blk, pt[0], -y, pt[1], pt[2]);
            EXPECT_GT(plus, 0.0);
            EXPECT_NEAR(minus, plus, 1e-13 * plus + 1e-14 * centre) << "x=" << pt[0] << " y=" << y;
        }
    }
}

TEST(PatchConc, CentreLineBandUsesTheCentreValue) {
    SolutionBlock blk = test::block(kAquifer, 60);
    const double centre = PATCH_CONC(blk, 12.0, 0.0, 2.0, 150.0);
    EXPECT_EQ(PATCH_CONC(blk, 12.0, 1e-6, 2.0, 150.0), centre);
    EXPECT_EQ(PATCH_CONC(blk, 12.0, -7e-7, 2.0, 150.0), centre);
    EXPECT_NE(PATCH_CONC(blk, 12.0, 1.5e-6, 2.0, 150.0), centre);
}

TEST(PatchConc, SourcePlaneHoldsTheDecayedSourceConcentration) {
    struct Case {
        const char* what;
        double x, y, z;
        bool inside;
    };
    const Case cases[] = {
        {"centre", 0.0, 0.0, 2.5, true},        {"edge y = +W/2", 0.0, 10.0, 2.5, true},
        {"edge y = -W/2", 0.0, -10.0, 2.5, true}, {"bottom z = Z1", 0.0, 3.0, 0.0, true},
        {"top z = Z2", 1e-6, -4.0, 5.0, true},    {"corner", 1e-6, 10.0, 5.0, true},
        {"negative x", -3.0, 0.0, 1.0, true},     {"beside", 0.0, 10.000001, 2.5, false},
        {"above", 0.0, 0.0, 5.0000001, false},    {"below", 1e-6, 0.0, -1e-9, false},
    };
    const double gammas[] = {0.0, 0.002, 1.5};
    const double ts[] = {1e-3, 1.0, 700.0};
    for (double gamma : gammas) {
        Physics p = kAquifer;
        p.gamma = gamma;
        // An order DGAUSS does not hold: the source plane must not need it.
        SolutionBlock blk = test::block(p, 7);
        blk.XGAUSS.fill(-9.0);
        for (double t : ts) {
            const double expected = gamma == 0.0 ? 1.0 : std::exp(-gamma * t);
            for (const Case& c : cases) {
                EXPECT_EQ(PATCH_CONC(blk, c.x, c.y, c.z, t), c.inside ? expected : 0.0)
                    << c.what << " gamma=" << gamma << " t=" << t;
            }
        }
        EXPECT_TRUE(std::all_of(blk.XGAUSS.begin(), blk.XGAUSS.end(), [](double u) { return u == -9.0; }));
    }
}

TEST(PatchConc, JustOffTheSourcePlaneTakesTheQuadrature) {
    SolutionBlock held = test::block(kAquifer, 20);
    held.XGAUSS.fill(-9.0);
    const double c = PATCH_CONC(held, 1.0000001e-6, 0.0, 2.5, 10.0);
    EXPECT_GT(c, 0.0);
    EXPECT_LT(c, std::exp(-kAquifer.gamma * 10.0));
    EXPECT_GT(held.XGAUSS[0], 0.0);  // nodes of [0, t^(1/4)]
    EXPECT_LT(held.XGAUSS[19], std::sqrt(std::sqrt(10.0)));
    EXPECT_EQ(held.XGAUSS[20], -9.0);

    SolutionBlock not_held = test::block(kAquifer, 7);
    EXPECT_THROW(PATCH_CONC(not_held, 1.0000001e-6, 0.0, 2.5, 10.0), RunStop);
    EXPECT_EQ(PATCH_CONC(not_held, 1e-6, 0.0, 2.5, 10.0), std::exp(-kAquifer.gamma * 10.0));
}

TEST(PatchConc, NothingBeforeTimeZeroEvenOnThePatch) {
    SolutionBlock blk = test::block(kAquifer, 7);  // never reaches the quadrature
    const double pts[][3] = {{0.0, 0.0, 2.5}, {1e-6, 10.0, 5.0}, {10.0, 0.0, 2.5}, {500.0, 30.0, -4.0}};
    for (double t : {0.0, -0.0, -1.0, -1e30}) {
        for (const auto& pt : pts) EXPECT_EQ(PATCH_CONC(blk, pt[0], pt[1], pt[2], t), 0.0);
    }
}

TEST(PatchConc, FarDownstreamAtEarlyTimeIsExactlyZero) {
    SolutionBlock blk = test::block(kAquifer, 256);
    // x/v is 2e4 and more against t <= 100: every node's exponent is far
    // beyond the cut-off.
    for (double x : {4000.0, 1.0e4, 1.0e7}) {
        for (double t : {1e-3, 1.0, 100.0}) {
            EXPECT_EQ(PATCH_CONC(blk, x, 0.0, 2.5, t), 0.0) << x << " " << t;
        }
    }
    // ...while near the plume the same block gives a concentration.
    EXPECT_GT(PATCH_CONC(blk, 10.0, 0.0, 2.5, 100.0), 0.0);
}

TEST(PatchConc, ReversedPatchGivesNegativeValuesAndNoSource) {
    struct Case {
        double W, Z1, Z2;
    };
    for (const Case& c : {Case{20.0, 5.0, 0.0}, Case{-20.0, 0.0, 5.0}}) {
        Physics p = kAquifer;
        p.W = c.W;
        p.Z1 = c.Z1;
        p.Z2 = c.Z2;
        SolutionBlock blk = test::block(p, 60);
        EXPECT_LT(PATCH_CONC(blk, 5.0, 0.0, 2.5, 100.0), 0.0);
        EXPECT_EQ(PATCH_CONC(blk, 0.0, 0.0, 2.5, 100.0), 0.0);
    }
}

// Whatever the order of summation (two lanes, an odd last node alone), the
// result is the Gauss sum of the integrand over DGAUSS's nodes, every node
// counted once. The integrand in u is written out here in long double and
// summed from the last node to the first.
TEST(PatchConc, IsTheGaussSumOverEveryNodeForEveryOrder) {
    const Physics& p = kAquifer;
    const long double v = p.V / static_cast<long double>(p.R);
    const long double dx = (p.alphaL * static_cast<long double>(p.V) + p.De) / p.R;
    const long double dy = (p.alphaTh * static_cast<long double>(p.V) + p.De) / p.R;
    const long double dz = (p.alphaTv * static_cast<long double>(p.V) + p.De) / p.R;
    const long double pi = 3.141592653589793238462643383279502884L;
    const double pts[][4] = {{2.0, 1.0, 2.5, 40.0}, {0.5, 0.0, 1.0, 100.0}, {20.0, -4.0, 4.0, 300.0}};
    for (int n : {4, 5, 6, 10, 15, 20, 60, 104, 256}) {
        SolutionBlock blk = test::block(p, n);
        for (const auto& pt : pts) {
            const long double x = pt[0], y = pt[1], z = pt[2], t = pt[3];
            std::vector<double> u(static_cast<std::size_t>(n)), w(static_cast<std::size_t>(n));
            DGAUSS(0.0, std::sqrt(std::sqrt(pt[3])), u, w, n);
            long double sum = 0;
            for (int i = n - 1; i >= 0; --i) {
                const long double tau = std::pow(static_cast<long double>(u[i]), 4);
                const long double q = x - v * tau;
                const long double e = (p.lambda - p.gamma) * tau + q * q / (4 * dx * tau);
                const long double sy = 2 * std::sqrt(dy * tau);
                const long double sz = 2 * std::sqrt(dz * tau);
                const long double yf = std::erfc((y - p.W / 2) / sy) - std::erfc((y + p.W / 2) / sy);
                const long double zf = std::erfc((z - p.Z2) / sz) - std::erfc((z - p.Z1) / sz);
                sum += w[i] * 4 * std::exp(-e) / std::pow(static_cast<long double>(u[i]), 3) * yf * zf;
            }
            const long double expected = std::exp(-p.gamma * t) * x / (8 * std::sqrt(pi * dx)) * sum;
            EXPECT_NEAR(PATCH_CONC(blk, pt[0], pt[1], pt[2], pt[3]), expected, 1e-13L * expected)
                << "N=" << n << " x=" << pt[0] << " t=" << pt[3];
        }
    }
}

// --- The folded form ------------------------------------------------------------

TEST(PatchConc, LateDecayingSourceStaysFiniteWhereTheFactorsOverflow) {
    struct Case {
        const char* what;
        Physics p;
        double x, y, z, t;
    };
    const Physics issue{1.0, 1.0, 0.1, 0.1, 0.0, 1e-4, 1.0, 20.0, 0.0, 10.0, 1.0};
    Physics growth = issue;  // lambda < 0: exp(-gamma t) fine, node sum overflows
    growth.lambda = -0.6;
    growth.gamma = 0.5;
    const Case cases[] = {
        {"exp(-gamma t) underflows", issue, 700.0, 0.0, 5.0, 720.0},
        {"off-axis, deep underflow", issue, 650.0, 4.0, 8.0, 800.0},
        {"gamma t = 450, ordinary form", issue, 450.0, 0.0, 5.0, 450.0},
        {"node sum overflows", growth, 1000.0, 0.0, 5.0, 1000.0},
    };
    for (const Case& c : cases) {
        SolutionBlock blk = test::block(c.p, 256);
        const double got = PATCH_CONC(blk, c.x, c.y, c.z, c.t);
        const long double ref = test::ReferenceIntegral(c.p, c.x, c.y, c.z, c.t).value();
        EXPECT_TRUE(std::isfinite(got)) << c.what;
        EXPECT_GT(ref, 0.0L) << c.what;
        EXPECT_NEAR(got, ref, 1e-11L * ref) << c.what;
    }
    // The example of the report that raised the problem: 1.619E-03.
    SolutionBlock blk = test::block(issue, 256);
    EXPECT_NEAR(PATCH_CONC(blk, 700.0, 0.0, 5.0, 720.0), 1.619e-3, 0.0005e-3);
}

}  // namespace
}  // namespace plumcor
