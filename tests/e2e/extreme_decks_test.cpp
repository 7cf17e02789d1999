// End to end: decks that are valid but extreme. Values near the limits of a
// double, times and places where every term of the integral is cut off,
// every count at its limit, and 256 Gauss points at a late time. Each run
// must end normally, and every value in its result files must be one a
// concentration can have:
// - written as a number (no "NaN", "Inf" or asterisks) wherever the true
//   value is finite;
// - 0 at t = 0;
// - on the source plane (x <= 1E-6), C0*exp(-GAMMA*t) on the patch and 0
//   off it;
// - elsewhere between 0 and C0: every term of the integral is non-negative
//   when WIDTH >= 0 and Z2 >= Z1, and no point holds more than the source
//   ever held (GAMMA >= 0 in these decks);
// - exactly 0 where every term is cut off (each node's exponent above 50).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/deck_builder.hpp"
#include "e2e/run_support.hpp"

namespace plumcor::testing {
namespace {

double num(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

std::vector<double> nums(const std::string& text) {
    std::istringstream in(text);
    std::vector<double> out;
    std::string word;
    while (in >> word) out.push_back(num(word));
    return out;
}

// trunc((max - min)/step + 0.5) + 1: the node count of an axis, and the
// number of breakthrough times.
int count_of(double lo, double hi, double step) { return static_cast<int>(std::trunc((hi - lo) / step + 0.5)) + 1; }

std::vector<double> axis(const std::string& line) {
    const std::vector<double> v = nums(line);
    std::vector<double> out;
    for (int i = 0; i < count_of(v[0], v[1], v[2]); ++i) out.push_back(v[0] + i * v[2]);
    return out;
}

// A 1PE12.3 field read back as a number: a three-digit exponent has no
// letter ("1.000+300"); it is restored before reading. A word or asterisks
// give NaN, which fails every check below.
double field_value(const std::string& field) {
    const std::size_t first = field.find_first_not_of(' ');
    if (first == std::string::npos) return std::nan("");
    std::string t = field.substr(first);
    if (t.find_first_not_of("0123456789.+-ED") != std::string::npos) return std::nan("");
    if (t.find('E') == std::string::npos) {
        const std::size_t sign = t.find_last_of("+-");
        if (sign == std::string::npos || sign == 0) return std::nan("");
        t.insert(sign, "E");
    }
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    return *end == '\0' ? v : std::nan("");
}

struct Deck {
    DeckBuilder b;
    double C0() const { return num(b.v.at("C0")); }
    double GAMMA() const { return num(b.v.at("GAMMA")); }
    double HALFW() const { return 0.5 * num(b.v.at("WIDTH")); }
    double Z1() const { return num(b.v.at("Z1")); }
    double Z2() const { return num(b.v.at("Z2")); }
};

// Every number read from a result file: where it is, its value, and the
// kind of place it is at.
struct Value {
    std::string where;
    double t, x, y, z, c;
};

// Checks one concentration against what the definition says of it.
void check_value(const Deck& d, const Value& v, bool all_cut_off_off_plane) {
    SCOPED_TRACE(v.where);
    ASSERT_FALSE(std::isnan(v.c)) << "not a number in the file";
    ASSERT_TRUE(std::isfinite(v.c));
    if (!(v.t > 0)) {
        EXPECT_EQ(v.c, 0.0) << "nothing before t = 0";
        return;
    }
    if (v.x <= 1e-6) {
        const bool on_patch = std::fabs(v.y) <= d.HALFW() && d.Z1() <= v.z && v.z <= d.Z2();
        const double want = on_patch ? d.C0() * std::exp(-d.GAMMA() * v.t) : 0.0;
        // Four significant digits printed; results below DBL_MIN are flushed.
        EXPECT_NEAR(v.c, want, 5e-4 * std::fabs(want) + DBL_MIN) << "source plane";
        return;
    }
    EXPECT_GE(v.c, 0.0);
    EXPECT_LE(v.c, 1.01 * d.C0());
    if (all_cut_off_off_plane) {
        EXPECT_EQ(v.c, 0.0) << "every term is cut off here";
    }
}

struct Options {
    bool all_cut_off_off_plane = false;  // every node's exponent > 50 off the source plane
};

std::vector<std::string> fields_of(const std::string& record, std::size_t lead) {
    std::vector<std::string> out;
    for (std::size_t at = lead; at + 13 <= record.size(); at += 13) out.push_back(record.substr(at, 13));
    return out;
}

void check_obs(const TempDir& dir, const Deck& d, const Options& o) {
    const DeckBuilder& b = d.b;
    const std::size_t npts = b.points.size();
    if (npts == 0) return;
    const std::vector<double> range = nums(b.time_range);
    const int nbtc = count_of(range[0], range[1], range[2]);
    bool crlf = false;
    const std::vector<std::string> recs = records(dir.read("X.OBS"), &crlf);
    EXPECT_TRUE(crlf);
    const std::size_t per_time = (npts + 1 + 4) / 5;
    ASSERT_EQ(recs.size(), static_cast<std::size_t>(nbtc) * per_time);
    for (int k = 0; k < nbtc; ++k) {
        std::vector<std::string> f;
        for (std::size_t r = 0; r < per_time; ++r) {
            const std::vector<std::string> part = fields_of(recs[k * per_time + r], r == 0 ? 7 : 0);
            f.insert(f.end(), part.begin(), part.end());
        }
        ASSERT_EQ(f.size(), npts + 1);
        const double t = range[0] + k * range[2];
        EXPECT_NEAR(field_value(f[0]), t, 5e-4 * std::fabs(t));
        for (std::size_t p = 0; p < npts; ++p) {
            const std::vector<double> xyz = nums(b.points[p]);
            check_value(d, {"X.OBS time " + std::to_string(k + 1) + " point " + std::to_string(p + 1), t, xyz[0], xyz[1],
                            xyz[2], field_value(f[p + 1])},
                        o.all_cut_off_off_plane);
        }
    }
}

void check_asc(const TempDir& dir, const Deck& d, const Options& o) {
    const DeckBuilder& b = d.b;
    if (b.times.empty()) return;
    const std::vector<double> times = nums(b.times);
    const std::vector<double> xs = axis(b.xgrid), ys = axis(b.ygrid), zs = axis(b.zgrid);
    bool crlf = false;
    const std::vector<std::string> recs = records(dir.read("X.ASC"), &crlf);
    EXPECT_TRUE(crlf);
    const std::size_t nodes = xs.size() * ys.size() * zs.size();
    ASSERT_EQ(recs.size(), times.size() * (1 + nodes));
    std::size_t r = 0;
    for (double t : times) {
        EXPECT_NEAR(field_value(recs[r++].substr(7)), t, 5e-4 * std::fabs(t));
        for (double x : xs)
            for (double y : ys)
                for (double z : zs) {
                    const std::vector<std::string> f = fields_of(recs[r], 7);
                    ASSERT_EQ(f.size(), 4u) << recs[r];
                    EXPECT_NEAR(field_value(f[0]), x, 5e-4 * std::fabs(x)) << recs[r];
                    EXPECT_NEAR(field_value(f[1]), y, 5e-4 * std::fabs(y)) << recs[r];
                    EXPECT_NEAR(field_value(f[2]), z, 5e-4 * std::fabs(z)) << recs[r];
                    check_value(d, {"X.ASC record " + std::to_string(r + 1), t, x, y, z, field_value(f[3])},
                                o.all_cut_off_off_plane);
                    ++r;
                }
    }
}

std::int32_t le32(const std::string& s, std::size_t at) {
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(u);
}
float lef32(const std::string& s, std::size_t at) {
    const std::int32_t i = le32(s, at);
    float f;
    std::memcpy(&f, &i, sizeof f);
    return f;
}

// Framing and counts of the layer file; its concentrations are finite,
// non-negative single-precision values (a run whose values do not fit stops
// instead).
void check_ucn(const TempDir& dir, const Deck& d) {
    const DeckBuilder& b = d.b;
    if (b.times.empty()) return;
    const std::size_t nt = nums(b.times).size();
    const std::size_t nx = axis(b.xgrid).size(), ny = axis(b.ygrid).size(), nz = axis(b.zgrid).size();
    const std::string u = dir.read("X.UCN");
    ASSERT_EQ(u.size(), nt * nz * ((8 + 44) + (8 + 4 * nx * ny)));
    std::size_t at = 0;
    for (std::size_t n = 0; n < nt * nz; ++n) {
        ASSERT_EQ(le32(u, at), 44);
        ASSERT_EQ(le32(u, at + 4 + 44), 44);
        EXPECT_EQ(u.substr(at + 4 + 16, 16), "CONCENTRATION   ");
        EXPECT_EQ(le32(u, at + 4 + 32), static_cast<std::int32_t>(nx));
        EXPECT_EQ(le32(u, at + 4 + 36), static_cast<std::int32_t>(ny));
        at += 52;
        const auto bytes = static_cast<std::int32_t>(4 * nx * ny);
        ASSERT_EQ(le32(u, at), bytes);
        for (std::size_t v = 0; v < nx * ny; ++v) {
            const float c = lef32(u, at + 4 + 4 * v);
            EXPECT_TRUE(std::isfinite(c)) << "layer record " << n + 1 << " value " << v + 1;
            EXPECT_FALSE(c < 0) << "layer record " << n + 1 << " value " << v + 1;
        }
        ASSERT_EQ(le32(u, at + 4 + static_cast<std::size_t>(bytes)), bytes);
        at += 8 + static_cast<std::size_t>(bytes);
    }
}

void expect_no_word_or_asterisks(const std::string& name, const std::string& text, bool asterisks_too) {
    EXPECT_EQ(text.find("NaN"), std::string::npos) << name;
    EXPECT_EQ(text.find("Inf"), std::string::npos) << name;
    if (asterisks_too) {
        EXPECT_EQ(text.find("**"), std::string::npos) << name;
    }
}

void run_and_check(const Deck& d, const Options& o = {}) {
    TempDir dir;
    dir.write("X.INP", d.b.text());
    const RunResult r = dir.run("X\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expect_no_word_or_asterisks("console", r.out, true);
    expect_no_word_or_asterisks("X.LST", dir.read("X.LST"), false);  // its banner is underlined with asterisks
    for (const char* name : {"X.OBS", "X.CNF", "X.MSH", "X.ASC"})
        if (dir.exists(name)) expect_no_word_or_asterisks(name, dir.read(name), true);
    check_obs(dir, d, o);
    check_asc(dir, d, o);
    check_ucn(dir, d);
}

// Ten observation points of every kind: downstream on and off the axis,
// far away, on the source plane on and off the patch, at tiny coordinates.
const std::vector<std::string> kPoints = {
    "10 0 2.5", "1E-300 0 2.5", "1E-7 1E-300 1E-300", "0 30 2.5", "100 5 2",
    "1000 0 2.5", "1E6 0 0", "50 -1E3 1E3", "10 1E-300 5", "200 10 2.5",
};
// Ten output times from 0 to the largest a single-precision header holds.
const std::string kTimes = "0 1E-300 1E-10 1 100 1E5 1E8 1E10 1E20 1E38";

Deck extreme(std::vector<std::pair<std::string, std::string>> values) {
    Deck d;
    d.b.set("NGAUSS", "256");
    for (const auto& [k, v] : values) d.b.set(k, v);
    d.b.with_points(kPoints, "0 1E10 2E9");
    d.b.with_grid(10, kTimes, "0 100 50", "-20 20 20", "0 5 5");
    return d;
}

TEST(ExtremeDecks, ParametersNearTheLimitsOfADouble) {
    struct Case {
        const char* what;
        Deck deck;
        Options options;
    };
    const std::vector<Case> cases = {
        {"velocity 1E300", extreme({{"V", "1E300"}}), {}},
        {"velocity 1E-300", extreme({{"V", "1E-300"}}), {}},
        {"dispersivities 1E300", extreme({{"ALPHAL", "1E300"}, {"ALPHATH", "1E300"}, {"ALPHATV", "1E300"}}), {}},
        {"dispersivities 1E-300", extreme({{"ALPHAL", "1E-300"}, {"ALPHATH", "1E-300"}, {"ALPHATV", "1E-300"}}), {}},
        {"dispersion from diffusion 1E-300 alone",
         extreme({{"ALPHAL", "0"}, {"ALPHATH", "0"}, {"ALPHATV", "0"}, {"DE", "1E-300"}}), {}},
        {"diffusion 1E300", extreme({{"DE", "1E300"}}), {}},
        {"dispersion coefficients beyond the largest double",
         extreme({{"V", "1E300"}, {"ALPHAL", "1E300"}, {"ALPHATH", "1E300"}, {"ALPHATV", "1E300"}}), {}},
        {"retardation 1E300", extreme({{"R", "1E300"}}), {}},
        {"retardation 1E-300", extreme({{"R", "1E-300"}}), {}},
        {"contaminant decay 1E300", extreme({{"LAMBDA", "1E300"}}), {}},
        {"both decays 1E-300", extreme({{"LAMBDA", "1E-300"}, {"GAMMA", "1E-300"}}), {}},
        {"no decay at all", extreme({{"LAMBDA", "0"}, {"GAMMA", "0"}}), {}},
        {"source decay 1E100 (GAMMA*t stays finite)", extreme({{"GAMMA", "1E100"}}), {}},
        {"source concentration 1E-300", extreme({{"C0", "1E-300"}}), {}},
        {"patch 1E300 wide and deep", extreme({{"WIDTH", "1E300"}, {"Z1", "-1E300"}, {"Z2", "1E300"}}), {}},
        {"patch 1E-300 wide and deep", extreme({{"WIDTH", "1E-300"}, {"Z1", "0"}, {"Z2", "1E-300"}}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        run_and_check(c.deck, c.options);
    }
}

TEST(ExtremeDecks, CoordinatesNearTheLimitsOfADouble) {
    struct Case {
        const char* what;
        std::vector<std::string> points;
        std::string x, y, z;
    } cases[] = {
        {"coordinates 1E300",
         {"1E300 0 2.5", "1E300 1E300 1E300", "1E300 -1E300 -1E300", "10 1E300 2.5", "10 0 -1E300", "0 1E300 2.5"},
         "0 1E300 1E300", "-1E300 1E300 1E300", "-1E300 1E300 1E300"},
        {"coordinates 1E-300",
         {"1E-300 1E-300 1E-300", "1E-300 -1E-300 0", "1E-6 10 5", "1.000001E-6 0 2.5"},
         "0 1E-300 1E-300", "-1E-300 1E-300 1E-300", "-1E-300 1E-300 1E-300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Deck d;
        d.b.set("NGAUSS", "256");
        d.b.with_points(c.points, "0 1E10 2E9");
        d.b.with_grid(10, kTimes, c.x, c.y, c.z);
        run_and_check(d);
    }
}

TEST(ExtremeDecks, EveryTermCutOffGivesExactlyZero) {
    // Each node's exponent (x - v*tau)^2/(4*Dx*tau) + (LAMBDA - GAMMA)*tau
    // is far above 50 for every tau in (0, t]:
    // - x = 1E6 at t <= 1 (v = 0.1, Dx = 1): at least about 2.5E11;
    // - any x >= 1 at t = 1E-300: at least about 2.5E299;
    // - LAMBDA = 1E300 at t <= 100: the decay term alone, at every node.
    struct Case {
        const char* what;
        Deck deck;
    };
    Deck far;
    far.b.with_points({"1E6 0 2.5", "1E6 0 0", "0 0 2.5"}, "0 1 0.25");
    far.b.with_grid(3, "0 0.5 1", "1E6 2E6 1E6", "-10 10 10", "0 5 5");
    Deck early;
    early.b.with_points({"1 0 2.5", "100 0 2.5", "0 0 2.5", "0 100 2.5"}, "1E-300 1E-300 1");
    early.b.with_grid(1, "1E-300", "0 100 1", "-10 10 10", "0 5 5");
    Deck decayed;
    decayed.b.set("LAMBDA", "1E300").set("NGAUSS", "256");
    decayed.b.with_points({"1 0 2.5", "100 0 2.5", "1E-300 0 2.5"}, "0 100 10");
    decayed.b.with_grid(2, "1 100", "0 100 1", "-10 10 10", "0 5 5");
    const std::vector<Case> cases = {
        {"far downstream at early times", far},
        {"at t = 1E-300", early},
        {"contaminant decay 1E300", decayed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        run_and_check(c.deck, {.all_cut_off_off_plane = true});
    }
}

TEST(ExtremeDecks, CountsAtEveryLimit) {
    // 256 Gauss points, ten observation points, ten output times, and each
    // axis at its node limit in turn (500 along x, 251 along y, 80 along z),
    // then the two largest axes together at one time.
    struct Case {
        const char* what;
        int nt;
        std::string times, x, y, z;
        std::string counts_record;  // NZ, NY, NX in I5 fields
    } cases[] = {
        {"500 x nodes", 10, "0 1 10 100 1000 1E4 1E5 1E6 1E8 1E10", "0 499 1", "0 0 1", "2.5 2.5 1", "    1     1   500"},
        {"251 y nodes", 10, "0 1 10 100 1000 1E4 1E5 1E6 1E8 1E10", "10 10 1", "-125 125 1", "2.5 2.5 1",
         "    1   251     1"},
        {"80 z nodes", 10, "0 1 10 100 1000 1E4 1E5 1E6 1E8 1E10", "10 10 1", "0 0 1", "-39.5 39.5 1",
         "   80     1     1"},
        {"500 x 251 nodes", 1, "100", "0 499 1", "-125 125 1", "2.5 2.5 1", "    1   251   500"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Deck d;
        d.b.set("NGAUSS", "256");
        d.b.with_points({"0 0 2.5", "10 0 2.5", "20 0 2.5", "50 0 2.5", "100 0 2.5", "10 5 2.5", "10 10 2.5",
                         "10 20 2.5", "10 0 0", "10 0 10"},
                        "0 1000 100");
        d.b.with_grid(c.nt, c.times, c.x, c.y, c.z);
        TempDir dir;
        dir.write("X.INP", d.b.text());
        const RunResult r = dir.run("X\n");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> cnf = records(dir.read("X.CNF"));
        ASSERT_FALSE(cnf.empty());
        EXPECT_EQ(cnf[0], c.counts_record);
        // 11 times, three records each (the time and ten values, five a record).
        EXPECT_EQ(records(dir.read("X.OBS")).size(), 33u);
        // The value checks of the other tests, on the same run.
        expect_no_word_or_asterisks("X.ASC", dir.read("X.ASC"), true);
        expect_no_word_or_asterisks("X.OBS", dir.read("X.OBS"), true);
        check_obs(dir, d, {});
        check_asc(dir, d, {});
        check_ucn(dir, d);
    }
}

// Runs the program in `dir` with the console left in files there (.console,
// .err): for runs whose console is too big to be worth holding in memory.
int run_to_files(const TempDir& dir, const std::string& typed) {
    dir.write(".typed", typed);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, (dir / ".typed").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (dir / ".console").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, (dir / ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir.path().c_str());
    const char* argv[] = {PLUMCOR_BINARY, nullptr};
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, PLUMCOR_BINARY, &fa, nullptr, const_cast<char**>(argv), environ) == 0) {
        int ws = 0;
        ::waitpid(pid, &ws, 0);
        status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    }
    posix_spawn_file_actions_destroy(&fa);
    return status;
}

// The largest grid the checks admit, 500 x 251 x 80 = 10,040,000 nodes, at
// t = 0 only, where every value is 0 without any quadrature: the run is
// writing alone (a 612 MB .ASC, 392 MB of progress lines), a few seconds.
// The files are checked in large blocks as they stream past.
TEST(ExtremeDecks, LargestGridAtTimeZero) {
    constexpr std::size_t kNodes = 500u * 251u * 80u;
    Deck d;
    d.b.with_grid(1, "0", "0 499 1", "-125 125 1", "0 79 1");
    TempDir dir;
    dir.write("X.INP", d.b.text());
    ASSERT_EQ(run_to_files(dir, "X\n"), 0) << dir.read(".err");
    EXPECT_EQ(dir.read(".err"), "");
    // One 39-byte progress line per node ("+" and three 12-column fields).
    const std::string head = kConsoleStart + "\r\n\r\n CALCULATING CONCENTRATION DISTRIBUTIONS\r\n" +
                             "\r\n concentration distribution at time :    0.000E+00\r\n\r\n";
    EXPECT_EQ(fs::file_size(dir / ".console"), head.size() + kNodes * 39);
    std::ifstream console(dir / ".console", std::ios::binary);
    std::string start(head.size() + 39, '\0');
    console.read(start.data(), static_cast<std::streamsize>(start.size()));
    EXPECT_EQ(start, head + "+   0.000E+00  -1.250E+02   0.000E+00\r\n");
    EXPECT_EQ(records(dir.read("X.CNF")).at(0), "   80   251   500");

    // .ASC: the time record (7X, 1X, 1PE12.3 of 0), then every node record
    // 61 bytes ending with a zero concentration.
    ASSERT_EQ(fs::file_size(dir / "X.ASC"), 22 + kNodes * 61);
    std::ifstream asc(dir / "X.ASC", std::ios::binary);
    std::string block(22, '\0');
    asc.read(block.data(), 22);
    EXPECT_EQ(block, "           0.000E+00\r\n");
    constexpr std::size_t kPerBlock = 1 << 14;
    block.resize(61 * kPerBlock);
    const char kZeroEnd[] = "    0.000E+00\r\n";
    std::size_t nodes = 0, bad = 0;
    while (nodes < kNodes) {
        const std::size_t n = std::min(kPerBlock, kNodes - nodes);
        ASSERT_TRUE(asc.read(block.data(), static_cast<std::streamsize>(61 * n)));
        for (std::size_t i = 0; i < n; ++i)
            if (std::memcmp(block.data() + 61 * i + 46, kZeroEnd, 15) != 0 && bad++ == 0)
                ADD_FAILURE() << "node record " << nodes + i + 1 << ": " << block.substr(61 * i, 61);
        nodes += n;
    }
    EXPECT_EQ(bad, 0u);
    const std::size_t last = 61 * ((kNodes - 1) % kPerBlock);
    EXPECT_EQ(block.substr(last, 61), "           4.990E+02    1.250E+02    7.900E+01    0.000E+00\r\n");

    // .UCN: 80 layers, each a header and 500 x 251 zeros.
    constexpr std::size_t kLayerBytes = 4 * 500 * 251;
    ASSERT_EQ(fs::file_size(dir / "X.UCN"), 80 * (8 + 44 + 8 + kLayerBytes));
    std::ifstream ucn(dir / "X.UCN", std::ios::binary);
    std::string layer(8 + 44 + 8 + kLayerBytes, '\0');
    for (int n = 1; n <= 80; ++n) {
        ASSERT_TRUE(ucn.read(layer.data(), static_cast<std::streamsize>(layer.size())));
        EXPECT_EQ(le32(layer, 4 + 40), n) << "layers in order, 1 first";
        EXPECT_EQ(le32(layer, 52), static_cast<std::int32_t>(kLayerBytes));
        EXPECT_EQ(layer.find_first_not_of('\0', 56), 56 + kLayerBytes) << "layer " << n;
    }
}

TEST(ExtremeDecks, TwoHundredFiftySixGaussPointsAtTimeOneE10) {
    // t^(1/4) = 316: the quadrature runs over [0, 316] with 256 nodes. With
    // GAMMA > LAMBDA the source factor exp(-GAMMA*t) underflows while the
    // node factors overflow; without decay the plume has long reached its
    // steady state.
    for (const char* gamma : {"0.002", "0"}) {
        SCOPED_TRACE(std::string("GAMMA = ") + gamma);
        Deck d;
        d.b.set("NGAUSS", "256").set("GAMMA", gamma);
        d.b.with_points({"10 0 2.5", "100 0 2.5", "1000 0 2.5", "100 5 2", "0 0 2.5"}, "1E10 1E10 1");
        d.b.with_grid(2, "1E9 1E10", "0 1000 100", "-20 20 10", "0 5 2.5");
        run_and_check(d);
    }
}

// Where the program still prints a wrong value for a valid deck. Each case
// names the value it prints; they are kept disabled until the solution is
// changed, and then run like the others.
//
// - NaN where x/(8*sqrt(pi*Dx)) overflows (x = 1E300 with a dispersion
//   coefficient near 1E-300) and every term is cut off: infinity times a
//   zero sum. The true value is 0.
// - NaN where GAMMA*t overflows (GAMMA = 1E300, t >= 2E8): the folded
//   exponent -GAMMA*t - (LAMBDA - GAMMA)*tau becomes -inf + inf. The true
//   value is 0.
// - Far downstream without decay the steady state is lost once t is many
//   times the travel time: at (1E6, 0, 0) with the default deck and GAMMA = 0
//   the program prints 1.760E-05 at t = 1E9, 4.293E-08 at 2E9 and 7.897E-16 at
//   1E10, where the concentration is 2.505E-03 at all three times (a
//   concentration that can only grow with time, integrated independently
//   in double precision with 400,000 log-spaced points).
// Two decks whose every term vanishes, where the arithmetic once made NaN of
// a concentration that is 0: x/(8*sqrt(pi*Dx)) overflowing against a node
// sum of 0, and a folded exponent of -inf + inf when the source decay and the
// node exponent both overflow.
TEST(ExtremeDecks, NothingButZeroWhereEveryTermVanishes) {
    Deck tiny_dispersion;
    tiny_dispersion.b.set("ALPHAL", "0").set("ALPHATH", "0").set("ALPHATV", "0").set("DE", "1E-300");
    tiny_dispersion.b.with_points({"1E300 0 2.5"}, "0 1E10 1E10");
    run_and_check(tiny_dispersion);

    Deck fast_source_decay;
    fast_source_decay.b.set("GAMMA", "1E300").set("NGAUSS", "256");
    fast_source_decay.b.with_points({"10 0 2.5"}, "0 1E10 1E9");
    run_and_check(fast_source_decay);
}

// The layer file holds single-precision values: a time or a concentration
// beyond that range stops the run before it would be stored as infinity,
// with the ASCII file already holding that time in full.
TEST(ExtremeDecks, BeyondSinglePrecisionStopsTheLayerFile) {
    struct Case {
        const char* what;
        std::string c0;
        int nt;
        std::string times;
        std::string time_text;
        std::size_t ucn_bytes;  // the layers of the times before
    } cases[] = {
        {"a concentration of 1E300", "1E300", 2, "0 100", "1.000E+02", 60 + 4 * 2 * 1},
        {"a time of 1E39", "100.0", 1, "1E39", "1.000E+39", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeckBuilder deck;
        deck.set("C0", c.c0).with_grid(c.nt, c.times, "0 10 10", "0 0 1", "0 0 1");
        TempDir dir;
        dir.write("X.INP", deck.text());
        const RunResult r = dir.run("X\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "X.UCN: a time or concentration at time " + c.time_text + " is beyond single precision\r\n");
        EXPECT_EQ(dir.read("X.UCN").size(), c.ucn_bytes);
        EXPECT_EQ(dir.read("X.ASC").find("Inf"), std::string::npos);
    }
}

}  // namespace
}  // namespace plumcor::testing
