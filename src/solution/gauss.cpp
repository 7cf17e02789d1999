#include "solution/gauss.hpp"

#include <cassert>
#include <cmath>
#include <string>

#include "driver/run_stop.hpp"
#include "output/field_layout.hpp"
#include "output/record_writer.hpp"
#include "solution/gauss_tables.hpp"

namespace plumcor {

namespace {

// Limits at or beyond this magnitude stand for infinity (the reports call it
// INF = 1.D+20).
constexpr double kInfiniteLimit = 1.0e20;

const detail::GaussTable* find_table(int n) {
    for (const detail::GaussTable& table : detail::kGaussTables) {
        if (table.n == n) return &table;
    }
    return nullptr;
}

// A report is a run of console lines: a line from a layout is whatever the
// formatter makes of it, an empty line has no characters.
class ConsoleReport {
public:
    void empty(int count = 1) {
        for (int i = 0; i < count; ++i) text_ += "\r\n";
    }
    void line(FieldLayout layout, std::initializer_list<FieldValue> values = {}) {
        for (const std::string& record : format_records(layout, values)) {
            text_ += record;
            text_ += "\r\n";
        }
    }
    [[noreturn]] void stop() { throw RunStop{"", std::move(text_), 1}; }

private:
    std::string text_;
};

[[noreturn]] void report_reversed_limits(double a, double b, int n) {
    static constexpr Item kTitle[] = {X(50), lit("*****  ERROR IN SUBROUTINE DGAUSS *****")};
    static constexpr Item kValues[] = {X(40), lit("THE FOLLOWING VALUES WHERE SPECIFIED")};
    static constexpr Item kLower[] = {X(30), lit("LOWER LIMIT OF INTEGRATION   A = "), D(20, 12)};
    static constexpr Item kUpper[] = {X(30), lit("UPPER LIMIT OF INTEGRATION   B = "), D(20, 12)};
    static constexpr Item kCount[] = {X(17), lit("NUMBER OF GAUSSIAN INTEGRATION POINTS     N = "),
                                      I(5)};
    static constexpr Item kViolated[] = {
        X(35),
        lit("YOU VIOLATED THE CONDITION THAT LIMIT B MUST BE GREATER OR EQUAL THEN LIMIT  A")};
    static constexpr Item kStop[] = {
        X(30), lit("PROGRAM SHALL STOP AFTER FORMAT 1  IN SUBROUTINE  DGAUSS")};

    ConsoleReport r;
    r.empty(9);
    r.line(kTitle);
    r.empty(2);
    r.line(kValues);
    r.empty();
    r.line(kLower, {a});
    r.line(kUpper, {b});
    r.line(kCount, {n});
    r.empty();
    r.line(kViolated);
    r.empty();
    r.line(kStop);
    r.stop();
}

[[noreturn]] void report_unsupported_order(int n) {
    static constexpr Item kTitle[] = {X(40), lit("*****  ERROR FLAG FROM SUBROUTINE DGAUSS *****")};
    static constexpr Item kOrder[] = {X(20), lit("SUBROUTINE  DGAUSS  DOES NOT CONTAIN THE  N= "), I(3),
                                      lit(" ROOTS AND WEIGHT FACTORS")};
    static constexpr Item kAdvice[] = {
        X(20), lit("FOR THE GAUSS-LEGENDRE QUADRADURE INTEGRATION SCHEME, THEY MUST BE ADDED ")};
    static constexpr Item kStop[] = {
        X(30), lit("PROGRAM SHALL END AFTER FORMAT 4000  IN SUBROUTINE  DGAUSS")};

    ConsoleReport r;
    r.empty(5);
    r.line(kTitle);
    r.empty();
    r.line(kOrder, {n});
    r.line(kAdvice);
    r.line(kStop);
    r.stop();
}

[[noreturn]] void report_both_infinite(double a, double b, int n) {
    static constexpr Item kTitle[] = {X(30), lit("*****  ERROR IN SUBROUTINE  DGAUSS  *****")};
    static constexpr Item kLower[] = {X(30), lit("DGAUSS WAS CALLED WITH  A = "), D(20, 12)};
    static constexpr Item kUpper[] = {X(54), lit("B = "), D(20, 12)};
    static constexpr Item kCount[] = {X(51), lit("  N  = "), I(3)};
    static constexpr Item kCannot[] = {
        X(10), lit("THIS SUBROUTINE CAN NOT HANDLE AN INTEGRAL WHERE BOTH THE UPPER AND LOWER "
                   "LIMITS OF INTEGRATION ARE INFINITE")};
    static constexpr Item kWhatToDo[] = {X(20), lit("WHAT TO DO ...DEFINE A NEW PROBLEM SUCHTHAT")};
    static constexpr Item kSplit[] = {
        X(20), lit("F(X)*DX (-INF,+INF)  =  F(X)*DX (-INF,0)  +  F(X)*DX (0,+INF)   WHERE  "
                   "INF = 1.D+20 ")};
    static constexpr Item kStop[] = {
        X(20), lit("PROGRAM SHALL END AFTER FORMAT 90000 IN SUBROUTINE DGAUSS")};

    ConsoleReport r;
    r.empty(10);
    r.line(kTitle);
    r.empty();
    r.line(kLower, {a});
    r.line(kUpper, {b});
    r.line(kCount, {n});
    r.empty(2);
    r.line(kCannot);
    r.empty(2);
    r.line(kWhatToDo);
    r.empty();
    r.line(kSplit);
    r.empty();
    r.line(kStop);
    r.stop();
}

}  // namespace

bool gauss_order_supported(int n) { return find_table(n) != nullptr; }

void DGAUSS(double a, double b, std::span<double> x, std::span<double> w, int n) {
    // The reversed interval is reported before the order, even when the
    // order is unsupported too.
    if (a > b) report_reversed_limits(a, b, n);
    const detail::GaussTable* table = find_table(n);
    if (table == nullptr) report_unsupported_order(n);
    assert(x.size() >= static_cast<std::size_t>(n) && w.size() >= static_cast<std::size_t>(n));

    // Unfold the stored half into nodes t(i) and weights on [-1, 1]: the
    // central node first (odd n), then +-pairs moving outward. Every caller's
    // sum runs in this index order, so it must not change.
    double t[256];
    double wt[256];
    int next = 0;
    std::size_t first_pair_weight = 0;
    if (n % 2 == 1) {
        t[0] = 0.0;
        wt[0] = table->weights[0];
        next = 1;
        first_pair_weight = 1;
    }
    for (std::size_t k = 0; k < table->abscissae.size(); ++k) {
        const double r = table->abscissae[k];
        const double weight = table->weights[first_pair_weight + k];
        t[next] = r;
        t[next + 1] = -r;
        wt[next] = weight;
        wt[next + 1] = weight;
        next += 2;
    }

    if (a <= -kInfiniteLimit) {
        // x = B + ln((1 + t)/2) carries (-1, 1] onto (-inf, B], dx = dt/(1 + t).
        for (int i = 0; i < n; ++i) {
            w[i] = wt[i] / (1.0 + t[i]);
            x[i] = b + std::log((1.0 + t[i]) / 2.0);
        }
        if (b >= kInfiniteLimit) report_both_infinite(a, b, n);
        return;
    }
    if (b >= kInfiniteLimit) {
        // x = A + ln(2/(1 + t)) carries (-1, 1] onto [A, +inf).
        for (int i = 0; i < n; ++i) {
            w[i] = wt[i] / (1.0 + t[i]);
            x[i] = a + std::log(2.0 / (1.0 + t[i]));
        }
        return;
    }
    const double half_length = (b - a) / 2.0;
    for (int i = 0; i < n; ++i) {
        w[i] = half_length * wt[i];
        x[i] = ((b - a) * t[i] + (b + a)) / 2.0;
    }
}

}  // namespace plumcor
