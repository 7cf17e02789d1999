#include "driver/deck_scanner.hpp"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <system_error>

#include "driver/run_stop.hpp"

namespace plumcor {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kTitleLength = 80;
// Enough of an offending token to recognise it; a line of garbage must not
// flood the console.
constexpr std::size_t kMaxShownToken = 40;
// Any repeat count or exponent beyond these means the same as these, and
// keeping them small keeps the arithmetic on them free of overflow.
constexpr std::int64_t kCountCap = std::int64_t{1} << 40;

// Not std::isdigit: no locale, and no undefined behaviour on bytes above 0x7F.
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool ends_token(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n'; }

// Digits to a number, saturating at kCountCap.
std::int64_t capped_value(std::string_view digits) {
    std::int64_t value = 0;
    for (char c : digits) value = std::min(value * 10 + (c - '0'), kCountCap);
    return value;
}

std::string_view digit_run(std::string_view text, std::size_t& pos) {
    const std::size_t begin = pos;
    while (pos < text.size() && is_digit(text[pos])) ++pos;
    return text.substr(begin, pos - begin);
}

// The token as it can be shown on one console line.
std::string shown(std::string_view token) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : token.substr(0, kMaxShownToken)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    if (token.size() > kMaxShownToken) out += "...";
    return out;
}

}  // namespace

DeckScanner::DeckScanner(std::string_view text, std::string_view deck_name) : deck_name_(deck_name) {
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    text_.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool line_end_cr = text[i] == '\r' && (i + 1 == text.size() || text[i + 1] == '\n');
        if (!line_end_cr) text_ += text[i];
    }
}

std::string DeckScanner::read_title() {
    if (text_.empty()) throw RunStop{deck_name_ + " ends before TITLE", "", 1};
    const std::size_t eol = std::min(text_.find('\n'), text_.size());
    std::string title = text_.substr(0, std::min(eol, kTitleLength));
    title.resize(kTitleLength, ' ');
    end_read();
    return title;
}

DeckValue DeckScanner::next_value(std::string_view entry, std::string_view expected, std::int64_t wanted) {
    assert(wanted >= 1);
    if (pending_copies_ == 0) {
        // Blanks and line ends separate values freely; one comma may stand
        // between two values, anywhere else it marks an empty value.
        bool comma_seen = false;
        for (;; ++pos_) {
            if (pos_ == text_.size()) throw RunStop{deck_name_ + " ends before " + std::string(entry), "", 1};
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
            } else if (c == ',' && value_seen_ && !comma_seen) {
                comma_seen = true;
            } else if (c != ' ' && c != '\t') {
                break;
            }
        }
        if (text_[pos_] == ',' || text_[pos_] == '/') {
            refuse_at(line_, std::string_view(text_).substr(pos_, 1), entry, expected);
        }
        const std::size_t begin = pos_;
        while (pos_ < text_.size() && !ends_token(text_[pos_])) ++pos_;
        const std::string_view token = std::string_view(text_).substr(begin, pos_ - begin);
        value_seen_ = true;

        pending_ = DeckValue{token, token, line_, 1};
        std::size_t after_count = 0;
        const std::string_view count = digit_run(token, after_count);
        if (!count.empty() && after_count < token.size() && token[after_count] == '*') {
            pending_.copies = capped_value(count);
            pending_.text = token.substr(after_count + 1);
            // "3*" alone is a repeated empty value; "0*5" supplies nothing.
            if (pending_.text.empty() || pending_.copies == 0) refuse(pending_, entry, expected);
        }
        pending_copies_ = pending_.copies;
    }
    DeckValue value = pending_;
    value.copies = std::min(pending_copies_, wanted);
    pending_copies_ -= value.copies;
    return value;
}

void DeckScanner::end_read() {
    pending_copies_ = 0;
    value_seen_ = false;
    const std::size_t eol = text_.find('\n', pos_);
    if (eol == std::string::npos) {
        pos_ = text_.size();
    } else {
        pos_ = eol + 1;
        ++line_;
    }
}

void DeckScanner::refuse(const DeckValue& value, std::string_view entry, std::string_view expected) const {
    refuse_at(value.line, value.token, entry, expected);
}

void DeckScanner::refuse_at(std::int64_t line, std::string_view token, std::string_view entry,
                            std::string_view expected) const {
    throw RunStop{deck_name_ + " line " + std::to_string(line) + ": " + std::string(entry) + ": expected " +
                      std::string(expected) + ", found \"" + shown(token) + "\"",
                  "", 1};
}

std::optional<double> parse_number(std::string_view text) {
    std::size_t pos = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) ++pos;
    const std::string_view whole = digit_run(text, pos);
    std::string_view fraction;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        fraction = digit_run(text, pos);
    }
    if (whole.empty() && fraction.empty()) return std::nullopt;
    std::int64_t exponent = 0;
    if (pos < text.size() && std::string_view("EeDd").find(text[pos]) != std::string_view::npos) {
        ++pos;
        const bool negative_exponent = pos < text.size() && text[pos] == '-';
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
        const std::string_view digits = digit_run(text, pos);
        if (digits.empty()) return std::nullopt;
        exponent = negative_exponent ? -capped_value(digits) : capped_value(digits);
    }
    if (pos != text.size()) return std::nullopt;

    // from_chars takes neither a plus sign nor a D exponent, and never
    // depends on the locale.
    std::string plain(text.substr(text[0] == '+' ? 1 : 0));
    std::replace_if(plain.begin(), plain.end(), [](char c) { return c == 'D' || c == 'd'; }, 'E');
    double value = 0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error == std::errc{} && end == plain.data() + plain.size() && std::isfinite(value)) return value;
    if (error != std::errc::result_out_of_range) return std::nullopt;

    // Out of range either way: the power of ten of the first non-zero digit
    // tells an overflow (refused) from an underflow, whose nearest double is
    // zero (the value is not touched by from_chars in that case).
    const std::size_t first_whole = whole.find_first_not_of('0');
    const std::int64_t leading_power =
        first_whole != std::string_view::npos
            ? static_cast<std::int64_t>(whole.size() - first_whole) - 1
            : -static_cast<std::int64_t>(std::min(fraction.find_first_not_of('0'), fraction.size())) - 1;
    if (leading_power + exponent >= 0) return std::nullopt;
    return negative ? -0.0 : 0.0;
}

std::optional<std::int32_t> parse_integer(std::string_view text) {
    const std::size_t sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (text.size() == sign || !std::all_of(text.begin() + sign, text.end(), is_digit)) return std::nullopt;
    if (text[0] == '+') text.remove_prefix(1);
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace plumcor
