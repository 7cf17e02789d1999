#pragma once
// Splits an input deck into its title line and the values of its read
// operations, and words every refusal of the deck reader. The order of the
// entries is the reader's business (deck_reader.cpp); the value syntax and the
// message format live here.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plumcor {

// One value as written in the deck; with a repeat count (3*1.0) it stands for
// several consecutive values of the read operation.
struct DeckValue {
    std::string_view text;     // the value without its repeat count
    std::string_view token;    // as written, repeat count included; for messages
    std::int64_t line = 0;     // 1-based line of the token
    std::int64_t copies = 1;   // how many values of the read this one supplies
};

class DeckScanner {
public:
    // `text` is the whole file; a leading UTF-8 byte-order mark and every
    // carriage return before a line feed (or at the very end) are dropped.
    DeckScanner(std::string_view text, std::string_view deck_name);

    // The first line as text, cut or blank-padded to exactly 80 characters.
    // The first read operation starts on the line after it.
    std::string read_title();

    // The next value of the current read operation, for the value named
    // `entry`; it supplies at most `wanted` (>= 1) values, further copies of a
    // repeat count are kept for the next call. `expected` ("a number" or "an
    // integer") words the refusal of an empty value or a slash.
    DeckValue next_value(std::string_view entry, std::string_view expected, std::int64_t wanted);

    // Ends the current read operation: the rest of its last line, unused
    // copies included, is ignored, and the next read starts on a new line.
    void end_read();

    // `<deck> line <n>: <entry>: expected <expected>, found "<token>"`.
    [[noreturn]] void refuse(const DeckValue& value, std::string_view entry,
                             std::string_view expected) const;

private:
    [[noreturn]] void refuse_at(std::int64_t line, std::string_view token, std::string_view entry,
                                std::string_view expected) const;

    std::string text_;
    std::string deck_name_;
    std::size_t pos_ = 0;
    std::int64_t line_ = 1;
    bool value_seen_ = false;  // in the current read operation
    DeckValue pending_;              // the last repeat count read ...
    std::int64_t pending_copies_ = 0;  // ... and how many of its copies are unused
};

// A double written as [+-]digits[.digits][(E|D)[+-]digits] (either case, at
// least one mantissa digit, the point optional); nullopt for any other text
// and for a magnitude beyond the largest double. A magnitude below the
// smallest double gives the nearest one, zero with the written sign.
std::optional<double> parse_number(std::string_view text);

// An optionally signed run of digits within the 32-bit signed range.
std::optional<std::int32_t> parse_integer(std::string_view text);

}  // namespace plumcor
