// Reads the input deck: the title line, then one read operation per entry in
// deck order, each starting on a new line and ignoring whatever follows its
// last value on the last line it used.
//
// What a deck may hold beyond plain values, and why:
// - Line ends may be LF or CR LF (a CR right before LF, or ending the file, is
//   dropped); a UTF-8 byte-order mark at the start is dropped; tabs count as
//   blanks. Decks arrive from editors on every platform.
// - The title is kept byte for byte (first 80 bytes, blank-padded).
// - Values are separated by blanks, tabs, line ends and at most one comma;
//   blank lines inside a read are skipped.
// - A repeat count r*c (r a positive whole number) stands for r copies of c;
//   copies beyond what the read needs are ignored like the rest of its line.
// - Refused, because each would leave a value with no defined content: an
//   empty value (a comma before the first value of a read, a second comma
//   after a value, r* with nothing after the star, and the zero count 0*c)
//   and a slash where a value is still needed. They are reported in the same
//   form as any unreadable value, quoting the comma, the slash or the r* token:
//     RUN1.INP line 3: ALPHAL: expected a number, found ","
//     RUN1.INP line 19: tMAX: expected a number, found "/"
//     RUN1.INP line 2: V: expected a number, found "2*"
//   A slash after the last value of a read is part of the ignored rest.
// - A double whose magnitude exceeds the largest double is refused; one below
//   the smallest becomes the nearest double. An integer outside the 32-bit
//   signed range is refused. Both are reported as unreadable values.
// - The quoted token is the text up to the next blank, tab, comma, slash or
//   line end, cut after 40 bytes with "..." and with bytes outside printable
//   ASCII shown as \xNN, so every message is one readable console line.
// - NOBS and NT above ten are read in full (every point line, every time) so
//   that the lines after them are read in the right place; only the first ten
//   are kept. Negative values read like zero.
#include "driver/deck_reader.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "driver/deck_scanner.hpp"

namespace plumcor {

namespace {

constexpr std::string_view kNumber = "a number";
constexpr std::string_view kInteger = "an integer";

std::int32_t read_integer(DeckScanner& deck, std::string_view entry) {
    const DeckValue value = deck.next_value(entry, kInteger, 1);
    const std::optional<std::int32_t> integer = parse_integer(value.text);
    if (!integer) deck.refuse(value, entry, kInteger);
    deck.end_read();
    return *integer;
}

// One read operation of `count` doubles. Value i (0-based) is named
// name_of(i) in messages and stored through kept[i]; values beyond `kept`
// are read and dropped.
template <typename NameOf>
void read_numbers(DeckScanner& deck, std::int64_t count, NameOf name_of, std::span<double* const> kept) {
    for (std::int64_t i = 0; i < count;) {
        const std::string entry = name_of(i);
        const DeckValue value = deck.next_value(entry, kNumber, count - i);
        const std::optional<double> number = parse_number(value.text);
        if (!number) deck.refuse(value, entry, kNumber);
        // A repeat count may cover many values; only the kept ones cost time.
        const std::int64_t kept_end = std::min(i + value.copies, static_cast<std::int64_t>(kept.size()));
        for (std::int64_t k = i; k < kept_end; ++k) *kept[static_cast<std::size_t>(k)] = *number;
        i += value.copies;
    }
    deck.end_read();
}

void read_number(DeckScanner& deck, std::string_view entry, double& target) {
    const std::array<double*, 1> kept{&target};
    read_numbers(deck, 1, [entry](std::int64_t) { return std::string(entry); }, kept);
}

void read_three(DeckScanner& deck, const std::array<std::string, 3>& names, std::span<double* const> kept) {
    read_numbers(deck, 3, [&names](std::int64_t i) { return names[static_cast<std::size_t>(i)]; }, kept);
}

// "XOBS", 3 -> "XOBS(3)": the entry name of element i (1-based).
std::string element(std::string_view array, std::int64_t i) {
    return std::string(array) + "(" + std::to_string(i) + ")";
}

}  // namespace

ProblemInput read_deck(std::string_view text, std::string_view deck_name) {
    DeckScanner deck(text, deck_name);
    ProblemInput in;
    in.TITLE = deck.read_title();
    read_number(deck, "V", in.V);
    read_number(deck, "ALPHAL", in.ALPHAL);
    read_number(deck, "ALPHATH", in.ALPHATH);
    read_number(deck, "ALPHATV", in.ALPHATV);
    read_number(deck, "DE", in.DE);
    read_number(deck, "THICK", in.THICK);
    read_number(deck, "LAMBDA", in.LAMBDA);
    read_number(deck, "R", in.R);
    in.NGAUSS = read_integer(deck, "NGAUSS");
    in.NTERMS = read_integer(deck, "NTERMS");
    read_number(deck, "WIDTH", in.WIDTH);
    read_number(deck, "Z1", in.Z1);
    read_number(deck, "Z2", in.Z2);
    read_number(deck, "C0", in.C0);
    read_number(deck, "GAMMA", in.GAMMA);

    in.NOBS = read_integer(deck, "NOBS");
    // 64-bit counter: NOBS may be the largest 32-bit value.
    for (std::int64_t i = 1; i <= in.NOBS; ++i) {
        const bool keep = i <= kMaxObs;
        const auto slot = static_cast<std::size_t>(keep ? i - 1 : 0);
        const std::array<double*, 3> point{&in.XOBS[slot], &in.YOBS[slot], &in.ZOBS[slot]};
        read_three(deck, {element("XOBS", i), element("YOBS", i), element("ZOBS", i)},
                   keep ? std::span<double* const>(point) : std::span<double* const>());
    }
    if (in.NOBS >= 1) read_three(deck, {"tMIN", "tMAX", "DELt"}, std::array{&in.tMIN, &in.tMAX, &in.DELt});

    in.NT = read_integer(deck, "NT");
    if (in.NT >= 1) {
        std::array<double*, kMaxTimes> kept{};
        for (std::size_t i = 0; i < kept.size(); ++i) kept[i] = &in.TIMES[i];
        read_numbers(deck, in.NT, [](std::int64_t i) { return element("TIMES", i + 1); }, kept);
        read_three(deck, {"XMIN", "XMAX", "DX"}, std::array{&in.XMIN, &in.XMAX, &in.DX});
        read_three(deck, {"YMIN", "YMAX", "DY"}, std::array{&in.YMIN, &in.YMAX, &in.DY});
        read_three(deck, {"ZMIN", "ZMAX", "DZ"}, std::array{&in.ZMIN, &in.ZMAX, &in.DZ});
    }
    return in;
}

}  // namespace plumcor
