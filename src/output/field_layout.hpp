#pragma once
// Record layouts in the field notation of the program's text records:
// nX, Iw, Aw, A, Ew.d, Dw.d, kP, literals, "/" and k(...) groups.
// Layouts are compile-time constants, e.g.
//   constexpr Item kObsLayout[] = {X(7), group(5), X(1), P(1), E(12, 3), end_group()};
#include <cstdint>
#include <span>
#include <string_view>

namespace plumcor {

enum class ItemKind : std::uint8_t {
    Literal,     // text copied unchanged
    Skip,        // nX: move n columns right
    Int,         // Iw
    Text,        // Aw (w > 0) or A (w == 0: the text at its own length)
    Real,        // Ew.d / Dw.d (letter in `letter`)
    Scale,       // kP
    Slash,       // end of record
    GroupOpen,   // k( ... ; n = k
    GroupClose,  // )
};

struct Item {
    ItemKind kind{};
    int n = 0;  // Skip: columns; Scale: k; GroupOpen: repeat count
    int w = 0;
    int d = 0;
    char letter = 'E';
    std::string_view text{};
};

constexpr Item lit(std::string_view s) { return {ItemKind::Literal, 0, 0, 0, 'E', s}; }
constexpr Item X(int n) { return {ItemKind::Skip, n}; }
constexpr Item I(int w) { return {ItemKind::Int, 0, w}; }
constexpr Item A(int w = 0) { return {ItemKind::Text, 0, w}; }
constexpr Item E(int w, int d) { return {ItemKind::Real, 0, w, d, 'E'}; }
constexpr Item D(int w, int d) { return {ItemKind::Real, 0, w, d, 'D'}; }
constexpr Item P(int k) { return {ItemKind::Scale, k}; }
constexpr Item slash() { return {ItemKind::Slash}; }
constexpr Item group(int k) { return {ItemKind::GroupOpen, k}; }
constexpr Item end_group() { return {ItemKind::GroupClose}; }

using FieldLayout = std::span<const Item>;

// A layout is well formed when its groups are balanced and nested at most
// seven deep, and its fields have room for their digits; the formatter
// asserts it, and a layout constant can be checked at compile time with
// static_assert(well_formed(kLayout)).
constexpr bool well_formed(FieldLayout layout) {
    int depth = 0;
    for (const Item& it : layout) {
        if (it.kind == ItemKind::GroupOpen) {
            if (it.n < 1 || depth == 7) return false;
            ++depth;
        } else if (it.kind == ItemKind::GroupClose) {
            if (--depth < 0) return false;
        } else if (it.kind == ItemKind::Int || it.kind == ItemKind::Real) {
            if (it.w < 1 || it.d < 0 || it.d >= it.w) return false;
        } else if (it.kind == ItemKind::Skip && it.n < 0) {
            return false;
        }
    }
    return depth == 0;
}

// One value of a formatted write: a 32-bit integer, a double or a text.
struct FieldValue {
    enum class Kind : std::uint8_t { Int, Real, Text };
    Kind kind;
    std::int32_t i = 0;
    double r = 0.0;
    std::string_view s{};

    constexpr FieldValue() : kind(Kind::Int) {}
    constexpr FieldValue(std::int32_t v) : kind(Kind::Int), i(v) {}
    constexpr FieldValue(double v) : kind(Kind::Real), r(v) {}
    constexpr FieldValue(std::string_view v) : kind(Kind::Text), s(v) {}
    constexpr FieldValue(const char* v) : kind(Kind::Text), s(v) {}
};

}  // namespace plumcor
