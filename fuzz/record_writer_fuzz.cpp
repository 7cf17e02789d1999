// The formatter under arbitrary values and field sizes.
//
// Real and integer fields are compared with a rendering built here from
// printf's own correctly rounded digits, and the printed number must also read
// back (strtod) to within half a unit of its last digit. The program's record
// layouts, random well-formed layouts and the writers that build records for
// the result files must never crash, and what they write must stay records
// of plain text.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "driver/fp_mode.hpp"
#include "driver/problem_input.hpp"
#include "driver/run_stop.hpp"
#include "output/grid_files.hpp"
#include "output/listing.hpp"
#include "output/obs_writer.hpp"
#include "output/output_file.hpp"
#include "output/record_writer.hpp"

namespace {

using namespace plumcor;

// Widest field tried: a record of the result files is at most 80 columns,
// the formatter must still be right well beyond that.
constexpr int kMaxWidth = 160;

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "property broken: %s: %s\n", what, detail.c_str());
    std::abort();
}

std::string describe(int w, int d, int k, char letter, double v) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "w=%d d=%d k=%d letter=%c v=%.17g (%a)", w, d, k, letter, v, v);
    return buf;
}

// --- independent renderings -------------------------------------------------

std::string right_justified(const std::string& text, int w) {
    if (static_cast<int>(text.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
    return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

std::string expected_int(int w, std::int32_t v) { return right_justified(std::to_string(v), w); }

// Ew.d / Dw.d with scale factor k (0 or 1) of a finite value, from the digits
// that printf rounds from the exact binary value (ties to even).
std::string expected_real(int w, int d, int k, char letter, double v) {
    std::string mantissa;
    int exponent = 0;
    if (v == 0) {
        mantissa = "." + std::string(static_cast<std::size_t>(d), '0');
    } else {
        const int n = k == 0 ? d : d + 1;  // significant digits
        if (n < 1) return std::string(static_cast<std::size_t>(w), '*');
        std::vector<char> buf(static_cast<std::size_t>(n) + 16);
        std::snprintf(buf.data(), buf.size(), "%.*e", n - 1, std::fabs(v));
        const std::string sci = buf.data();  // D.DDDDe+XX
        const std::size_t e = sci.find('e');
        std::string digits = sci.substr(0, e);
        digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
        exponent = std::atoi(sci.c_str() + e + 1) + 1 - k;
        mantissa = k == 0 ? "." + digits : digits.substr(0, 1) + "." + digits.substr(1);
    }
    const int mag = std::abs(exponent);
    char expo[8];
    if (mag <= 99)
        std::snprintf(expo, sizeof expo, "%c%c%02d", letter, exponent < 0 ? '-' : '+', mag);
    else
        std::snprintf(expo, sizeof expo, "%c%03d", exponent < 0 ? '-' : '+', mag);
    std::string text = (v < 0 ? "-" : "") + mantissa + expo;
    if (static_cast<int>(text.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
    // The optional zero before the point (k = 0, or the value zero).
    if ((k == 0 || v == 0) && static_cast<int>(text.size()) < w) text.insert(v < 0 ? 1 : 0, "0");
    return right_justified(text, w);
}

// --- field checks ------------------------------------------------------------

// Renders into a buffer with guard bytes on both sides; every one of the w
// characters must be written and nothing outside them.
template <typename Render>
std::string render_guarded(int w, Render render) {
    constexpr char kGuard = '\0';
    std::vector<char> buf(static_cast<std::size_t>(w) + 32, kGuard);
    render(buf.data() + 16);
    for (int i = 0; i < 16; ++i)
        if (buf[static_cast<std::size_t>(i)] != kGuard || buf[buf.size() - 1 - static_cast<std::size_t>(i)] != kGuard)
            fail("field wrote outside its columns", std::to_string(w));
    std::string out(buf.data() + 16, static_cast<std::size_t>(w));
    if (out.find(kGuard) != std::string::npos) fail("field left a column unwritten", std::to_string(w));
    return out;
}

bool all_asterisks(const std::string& s) { return s.find_first_not_of('*') == std::string::npos; }

// The printed number back as a double: the exponent letter restored where a
// three-digit exponent dropped it, D read as E.
double read_back(const std::string& field, const std::string& context) {
    std::string t = field.substr(field.find_first_not_of(' '));
    const std::size_t letter = t.find_first_of("ED");
    if (letter != std::string::npos) {
        t[letter] = 'E';
    } else {
        const std::size_t sign = t.find_last_of("+-");
        if (sign == std::string::npos || sign == 0) fail("number without an exponent", context + " [" + field + "]");
        t.insert(sign, "E");
    }
    char* end = nullptr;
    const double back = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size()) fail("printed number does not read back", context + " [" + field + "]");
    return back;
}

void check_real(int w, int d, int k, char letter, double v) {
    const std::string context = describe(w, d, k, letter, v);
    const std::string got = render_guarded(w, [&](char* out) { render_real(out, w, d, k, letter, v); });
    if (!std::isfinite(v)) {
        // A word from the second column, or asterisks when it does not fit.
        if (all_asterisks(got)) return;
        const std::string word = std::isnan(v) ? "NaN" : (v < 0 ? "-Inf" : "Inf");
        const std::string want = " " + word + std::string(static_cast<std::size_t>(w) - 1 - word.size(), ' ');
        if (got != want) fail("non-finite value not shown as its word", context + " [" + got + "]");
        return;
    }
    const std::string want = expected_real(w, d, k, letter, v);
    if (got != want) fail("real field differs from its correctly rounded rendering", context + " got [" + got + "] want [" + want + "]");
    // Zero in a field without decimals is "." and the exponent: no digit to
    // read back.
    if (all_asterisks(got) || (v == 0 && d == 0)) return;
    if (got.find("NaN") != std::string::npos || got.find("Inf") != std::string::npos)
        fail("finite value shown as a word", context);
    // Read back to within half a unit of the last printed digit (plus the
    // rounding of the read itself).
    const double back = read_back(got, context);
    const std::string t = got.substr(got.find_first_not_of(' '));
    const std::size_t mant_end = t.find_first_of("ED+-", 1);
    const std::size_t exp_sign = t.find_first_of("+-", mant_end == std::string::npos ? 1 : mant_end);
    const int printed_exponent = std::atoi(t.c_str() + exp_sign);
    const long double unit = std::pow(10.0L, static_cast<long double>(printed_exponent - d));
    const long double slack = 0.5L * unit * (1.0L + 1e-9L) +
                              std::fabs(static_cast<long double>(std::nextafter(back, INFINITY)) - back);
    if (std::fabs(static_cast<long double>(back) - static_cast<long double>(v)) > slack)
        fail("printed number is further from the value than its precision", context + " [" + got + "]");
}

void check_int(int w, std::int32_t v) {
    const std::string got = render_guarded(w, [&](char* out) { render_int(out, w, v); });
    const std::string want = expected_int(w, v);
    if (got != want) fail("integer field", "w=" + std::to_string(w) + " v=" + std::to_string(v) + " [" + got + "]");
    if (!all_asterisks(got) && std::strtol(got.c_str(), nullptr, 10) != v)
        fail("integer does not read back", got);
}

// Doubles the fuzzer should meet often: edges of the double range and of the
// rounding (ties, carries), besides arbitrary bit patterns.
double pick_double(FuzzedDataProvider& fdp) {
    static const double kSpecial[] = {
        0.0, -0.0, 1.0, -1.0, 0.1, 9.9996, 99999.5, 1.0625, 1.1875, 0.5, 9.5, 0.95, 0.9995, 9.9995e99,
        9.9995e-100, 1e100, 1e-100, 1e99, 1e-99, 9.99995e99, std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
        std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(), 1e300, 1e-300,
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), 1.0e30f, 2147483648.0, 1e22, 5e-324, 2.5, -2.5,
    };
    switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return fdp.PickValueInArray(kSpecial);
        case 1: {
            // A value at a rounding boundary of a field with `digits`
            // significant digits, (m + 1/2) * 10^e with m of that many digits,
            // or one of its nearest neighbours: where a shortcut in the
            // rounding would show.
            static const double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
            const int digits = fdp.ConsumeIntegralInRange<int>(1, 9);
            const auto m = fdp.ConsumeIntegralInRange<std::int64_t>(static_cast<std::int64_t>(kPow10[digits - 1]),
                                                                    static_cast<std::int64_t>(kPow10[digits]) - 1);
            const int e = fdp.ConsumeIntegralInRange<int>(-330, 310);
            // The boundary as the decimal text "m5e(e-1)", read correctly rounded.
            const std::string text = std::to_string(m) + "5e" + std::to_string(e - 1);
            const double base = std::strtod(text.c_str(), nullptr);
            const int step = fdp.ConsumeIntegralInRange<int>(-2, 2);
            double v = base;
            for (int i = 0; i < std::abs(step); ++i) v = std::nextafter(v, step < 0 ? 0.0 : INFINITY);
            return fdp.ConsumeBool() ? -v : v;
        }
        default: {
            const auto bits = fdp.ConsumeIntegral<std::uint64_t>();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
    }
}

void fuzz_fields(FuzzedDataProvider& fdp) {
    while (fdp.remaining_bytes() > 0) {
        if (fdp.ConsumeBool()) {
            // Without a scale factor a field shows d significant digits, so
            // it needs at least one (Ew.0 has no digit to show).
            const int k = fdp.ConsumeIntegralInRange<int>(0, 1);
            const int w = fdp.ConsumeIntegralInRange<int>(2 - k, kMaxWidth);
            const int d = fdp.ConsumeIntegralInRange<int>(1 - k, w - 1);
            const char letter = fdp.ConsumeBool() ? 'E' : 'D';
            check_real(w, d, k, letter, pick_double(fdp));
        } else {
            const int w = fdp.ConsumeIntegralInRange<int>(1, 24);
            const std::int32_t v = fdp.ConsumeBool() ? fdp.ConsumeIntegral<std::int32_t>()
                                                     : fdp.PickValueInArray({0, -1, 9, 10, -9, -10, 999, -999, -1000,
                                                                             10040000, INT32_MIN, INT32_MAX});
            check_int(w, v);
        }
    }
}

// --- records -----------------------------------------------------------------

void check_records(const std::vector<std::string>& recs, bool finite, const char* what) {
    for (const std::string& r : recs) {
        for (char c : r)
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
                fail("record holds a control character", std::string(what) + " [" + r + "]");
        if (finite && (r.find("NaN") != std::string::npos || r.find("Inf") != std::string::npos))
            fail("finite values written as a word", std::string(what) + " [" + r + "]");
    }
}

// A text value without control characters (a record is one line), and
// without the capitals N and I, so that no text, alone or next to another,
// can spell the words a non-finite value is shown as.
std::string printable_text(FuzzedDataProvider& fdp, std::size_t max_length) {
    std::string s = fdp.ConsumeRandomLengthString(max_length);
    for (char& c : s) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        if (c == 'N' || c == 'I') c = '?';
    }
    return s;
}

// The program's own layouts, as its writers and console messages spell them.
struct NamedLayout {
    const char* name;
    FieldLayout layout;
};
constexpr Item kObs[] = {X(7), group(5), X(1), P(1), E(12, 3), end_group()};
constexpr Item kListReal[] = {X(10), lit("AVERAGE LINEAR GROUNDWATER VELOCITY = "), P(1), E(12, 3)};
constexpr Item kListInt[] = {X(10), lit("NUMBER OF GAUSS POINTS              = "), I(4)};
constexpr Item kTitle[] = {X(10), A(70)};
constexpr Item kCount[] = {X(1), I(6), A(1), E(11, 5)};
constexpr Item kCounts[] = {I(5), X(1), I(5), X(1), I(5)};
constexpr Item kText[] = {A()};
constexpr Item kOrigin[] = {group(3), X(1), P(1), E(12, 3), end_group()};
constexpr Item kConstant[] = {X(1), P(1), E(12, 3)};
constexpr Item kBanner[] = {lit("+"), lit("PlumcorI - Analytical Transport from a"),
                            lit(" patch source with decaying source concentration"), slash()};
constexpr Item kBtcTime[] = {lit("+"), P(1), E(12, 3)};
constexpr Item kDistributionTime[] = {slash(), lit(" concentration distribution at time : "), P(1), E(12, 3), slash()};
constexpr Item kNode[] = {lit("+"), group(3), P(1), E(12, 3), end_group()};
constexpr Item kAxisValue[] = {P(1), E(12, 3)};
constexpr Item kGaussReport[] = {slash(), slash(), slash(), slash(), X(40),
                                 lit("*****  ERROR FLAG FROM SUBROUTINE DGAUSS *****"), slash(), X(20),
                                 lit("SUBROUTINE  DGAUSS  DOES NOT CONTAIN THE  N="), I(4), lit(" ROOTS")};
constexpr Item kDouble[] = {D(20, 12), X(2), E(11, 5), X(1), P(1), D(25, 16)};
const NamedLayout kLayouts[] = {
    {"obs", kObs},       {"list real", kListReal}, {"list int", kListInt},   {"title", kTitle},
    {"count", kCount},   {"counts", kCounts},      {"text", kText},          {"origin", kOrigin},
    {"constant", kConstant}, {"banner", kBanner},  {"btc time", kBtcTime},   {"distribution time", kDistributionTime},
    {"node", kNode},     {"axis value", kAxisValue}, {"gauss report", kGaussReport}, {"doubles", kDouble},
};

// Values whose kinds follow the layout's data fields in order (resuming at
// its last top-level group), so that every field gets the kind it expects.
std::vector<FieldValue> values_for(FieldLayout layout, FuzzedDataProvider& fdp, std::vector<std::string>& texts,
                                   bool& finite) {
    std::vector<ItemKind> kinds;
    std::size_t resume = 0;
    int depth = 0;
    for (std::size_t p = 0; p < layout.size(); ++p) {
        if (layout[p].kind == ItemKind::GroupOpen && depth++ == 0) resume = p;
        if (layout[p].kind == ItemKind::GroupClose) --depth;
    }
    auto walk = [&](std::size_t from) {
        std::vector<int> repeat;
        std::vector<std::size_t> start;
        for (std::size_t p = from; p < layout.size(); ++p) {
            const Item& it = layout[p];
            if (it.kind == ItemKind::GroupOpen) {
                repeat.push_back(it.n);
                start.push_back(p);
            } else if (it.kind == ItemKind::GroupClose) {
                if (--repeat.back() > 0) {
                    p = start.back();
                } else {
                    repeat.pop_back();
                    start.pop_back();
                }
            } else if (it.kind == ItemKind::Int || it.kind == ItemKind::Real || it.kind == ItemKind::Text) {
                kinds.push_back(it.kind);
            }
        }
    };
    walk(0);
    const std::size_t first_pass = kinds.size();
    walk(resume);
    const std::size_t count = fdp.ConsumeIntegralInRange<std::size_t>(0, kinds.size() + 3 * (kinds.size() - first_pass));
    std::vector<FieldValue> values;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t slot = i < first_pass ? i : first_pass + (i - first_pass) % std::max<std::size_t>(1, kinds.size() - first_pass);
        switch (slot < kinds.size() ? kinds[slot] : ItemKind::Real) {
            case ItemKind::Int:
                values.emplace_back(fdp.ConsumeIntegral<std::int32_t>());
                break;
            case ItemKind::Text:
                texts.push_back(printable_text(fdp, 100));
                values.emplace_back(std::string_view(texts.back()));
                break;
            default: {
                const double v = pick_double(fdp);
                finite = finite && std::isfinite(v);
                values.emplace_back(v);
            }
        }
    }
    return values;
}

void fuzz_program_layouts(FuzzedDataProvider& fdp) {
    const NamedLayout& l = fdp.PickValueInArray(kLayouts);
    std::vector<std::string> texts;
    bool finite = true;
    const std::vector<FieldValue> values = values_for(l.layout, fdp, texts, finite);
    check_records(format_records(l.layout, values), finite, l.name);
    const std::size_t length = fdp.ConsumeIntegralInRange<std::size_t>(0, 100);
    if (text_write(length, l.layout, values).size() != length) fail("text write is not its length", l.name);
}

// A random layout that the formatter accepts (well_formed), values of random
// kinds.
void fuzz_random_layout(FuzzedDataProvider& fdp) {
    static const std::string_view kLiterals[] = {"", "+", " = ", "*", "CONCENTRATION   ", "x"};
    std::vector<Item> layout;
    int depth = 0;
    const int items = fdp.ConsumeIntegralInRange<int>(0, 40);
    for (int i = 0; i < items; ++i) {
        switch (fdp.ConsumeIntegralInRange<int>(0, 9)) {
            case 0: layout.push_back(lit(fdp.PickValueInArray(kLiterals))); break;
            case 1: layout.push_back(X(fdp.ConsumeIntegralInRange<int>(0, 40))); break;
            case 2: layout.push_back(I(fdp.ConsumeIntegralInRange<int>(1, 24))); break;
            case 3: layout.push_back(A(fdp.ConsumeIntegralInRange<int>(0, 30))); break;
            case 4: {
                const int w = fdp.ConsumeIntegralInRange<int>(1, kMaxWidth);
                const int d = fdp.ConsumeIntegralInRange<int>(0, w - 1);
                layout.push_back(fdp.ConsumeBool() ? E(w, d) : D(w, d));
                break;
            }
            case 5: layout.push_back(P(fdp.ConsumeIntegralInRange<int>(0, 1))); break;
            case 6: layout.push_back(slash()); break;
            case 7:
                if (depth < 7) {
                    layout.push_back(group(fdp.ConsumeIntegralInRange<int>(1, 6)));
                    ++depth;
                }
                break;
            default:
                if (depth > 0) {
                    layout.push_back(end_group());
                    --depth;
                }
        }
    }
    while (depth-- > 0) layout.push_back(end_group());
    if (!well_formed(layout)) fail("generated layout is not well formed", std::to_string(layout.size()));

    std::vector<std::string> texts;
    std::vector<FieldValue> values;
    const int count = fdp.ConsumeIntegralInRange<int>(0, 60);
    texts.reserve(static_cast<std::size_t>(count));
    bool finite = true;
    for (int i = 0; i < count; ++i) {
        switch (fdp.ConsumeIntegralInRange<int>(0, 2)) {
            case 0: values.emplace_back(fdp.ConsumeIntegral<std::int32_t>()); break;
            case 1: {
                const double v = pick_double(fdp);
                finite = finite && std::isfinite(v);
                values.emplace_back(v);
                break;
            }
            default:
                texts.push_back(printable_text(fdp, 40));
                values.emplace_back(std::string_view(texts.back()));
        }
    }
    check_records(format_records(layout, values), finite, "random layout");
    const std::size_t length = fdp.ConsumeIntegralInRange<std::size_t>(0, 200);
    if (text_write(length, layout, values).size() != length) fail("text write is not its length", "random layout");
}

// --- writers -------------------------------------------------------------

struct Collect final : RecordSink {
    std::vector<std::string> recs;
    void put_record(std::string_view r) override { recs.emplace_back(r); }
};

// What an OutputFile wrote, through a descriptor of an anonymous file.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("record_writer_fuzz", 0)) {
        if (fd_ < 0) fail("memfd_create", std::strerror(errno));
    }
    ~MemoryFile() { ::close(fd_); }
    OutputFile output() const { return OutputFile::console(fd_, "FUZZ.OUT"); }
    std::vector<std::string> records() const {
        std::string text;
        char buf[4096];
        ssize_t n;
        ::lseek(fd_, 0, SEEK_SET);
        while ((n = ::read(fd_, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
        std::vector<std::string> out;
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t lf = text.find("\r\n", pos);
            if (lf == std::string::npos) fail("file does not end with CR LF", text.substr(pos));
            out.push_back(text.substr(pos, lf - pos));
            pos = lf + 2;
        }
        return out;
    }

private:
    int fd_;
};

void fuzz_writers(FuzzedDataProvider& fdp) {
    switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            // Five fields to a record, the first record after 7 blanks.
            const std::size_t n = fdp.ConsumeIntegralInRange<std::size_t>(0, kMaxObs);
            std::vector<double> cobs(n);
            bool finite = true;
            for (double& c : cobs) finite = std::isfinite(c = pick_double(fdp)) && finite;
            const double t = pick_double(fdp);
            finite = finite && std::isfinite(t);
            Collect obs;
            WRITE_OBS(obs, t, cobs);
            check_records(obs.recs, finite, "obs");
            const std::size_t fields = n + 1;
            if (obs.recs.size() != (fields + 4) / 5) fail("breakthrough record count", std::to_string(n));
            for (std::size_t r = 0; r < obs.recs.size(); ++r) {
                const std::size_t in_record = std::min<std::size_t>(5, fields - 5 * r);
                if (obs.recs[r].size() != (r == 0 ? 7 : 0) + 13 * in_record)
                    fail("breakthrough record length", obs.recs[r]);
            }
            break;
        }
        case 1: {
            ProblemInput in;
            bool finite = true;
            in.TITLE = printable_text(fdp, 80);
            in.TITLE.resize(80, ' ');
            for (double* v : {&in.V, &in.ALPHAL, &in.ALPHATH, &in.ALPHATV, &in.DE, &in.THICK, &in.LAMBDA, &in.R,
                              &in.WIDTH, &in.Z1, &in.Z2, &in.C0, &in.GAMMA})
                finite = std::isfinite(*v = pick_double(fdp)) && finite;
            in.NGAUSS = fdp.ConsumeIntegral<std::int32_t>();
            in.NTERMS = fdp.ConsumeIntegral<std::int32_t>();
            Collect lst;
            LIST_INPUT(lst, in);
            LIST_SOURCE(lst, in);
            check_records(lst.recs, finite, "listing");
            if (lst.recs.size() != 48) fail("listing record count", std::to_string(lst.recs.size()));
            for (const std::string& r : lst.recs)
                if (r.size() > 80) fail("listing record beyond 80 columns", r);
            break;
        }
        case 2: {
            const std::int32_t count = fdp.ConsumeIntegral<std::int32_t>();
            const double v = pick_double(fdp);
            const std::string field = COUNT_FIELD(count, v);
            if (field.size() != 19 || field[7] != '*') fail("count field", field);
            break;
        }
        default: {
            // The grid description files of a small grid with arbitrary
            // coordinates and spacings.
            GridAxes g;
            g.NX = fdp.ConsumeIntegralInRange<std::int32_t>(1, 500);
            g.NY = fdp.ConsumeIntegralInRange<std::int32_t>(1, 251);
            g.NZ = fdp.ConsumeIntegralInRange<std::int32_t>(1, 80);
            const double xmin = pick_double(fdp), ymin = pick_double(fdp), zmin = pick_double(fdp);
            const double dx = pick_double(fdp), dy = pick_double(fdp), dz = pick_double(fdp);
            g.XAXIS.resize(static_cast<std::size_t>(g.NX));
            g.YAXIS.resize(static_cast<std::size_t>(g.NY));
            g.ZAXIS.resize(static_cast<std::size_t>(g.NZ));
            for (std::int32_t i = 0; i < g.NX; ++i) g.XAXIS[static_cast<std::size_t>(i)] = xmin + i * dx;
            for (std::int32_t i = 0; i < g.NY; ++i) g.YAXIS[static_cast<std::size_t>(i)] = ymin + i * dy;
            for (std::int32_t i = 0; i < g.NZ; ++i) g.ZAXIS[static_cast<std::size_t>(i)] = zmin + i * dz;
            MemoryFile cnf, msh;
            {
                OutputFile f = cnf.output();
                WRITE_CNF(f, g, dx, dy, dz);
                f.close();
                OutputFile m = msh.output();
                WRITE_MSH(m, g, dx, dy, dz, xmin, ymin);
                m.close();
            }
            const auto c = cnf.records();
            const auto m = msh.records();
            if (c.size() != 6 || m.size() != 7) fail("grid description record count", std::to_string(c.size()));
            check_records(c, false, "cnf");
            check_records(m, false, "msh");
            for (std::size_t r = 0; r < 5; ++r)
                if (c[r] != m[r]) fail("grid description files differ in their shared records", c[r]);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The program formats its numbers with this mode on.
    plumcor::enable_flush_to_zero();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    try {
        switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
            case 0: fuzz_fields(fdp); break;
            case 1: fuzz_program_layouts(fdp); break;
            case 2: fuzz_random_layout(fdp); break;
            default: fuzz_writers(fdp);
        }
    } catch (const RunStop& stop) {
        fail("formatting stopped the run", stop.message);
    }
    return 0;
}
