#include "output/record_writer.hpp"
#include "output/short_real.hpp"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace plumcor {

namespace {

void fill_asterisks(char* out, int w) { std::memset(out, '*', static_cast<std::size_t>(w)); }

// Right-justifies `len` characters of `text` in w columns.
void place_right(char* out, int w, const char* text, int len) {
    std::memset(out, ' ', static_cast<std::size_t>(w - len));
    std::memcpy(out + (w - len), text, static_cast<std::size_t>(len));
}

// Infinite and not-a-number values are shown as a word from the field's
// second column, so that a column of numbers keeps its left margin.
void render_non_finite(char* out, int w, double v) {
    const char* word = std::isnan(v) ? "NaN" : (v < 0 ? "-Inf" : "Inf");
    int len = static_cast<int>(std::strlen(word));
    if (len + 1 > w) {
        fill_asterisks(out, w);
        return;
    }
    std::memset(out, ' ', static_cast<std::size_t>(w));
    std::memcpy(out + 1, word, static_cast<std::size_t>(len));
}

}  // namespace

void render_int(char* out, int w, std::int32_t v) {
    char digits[16];
    auto res = std::to_chars(digits, digits + sizeof digits, v);
    int len = static_cast<int>(res.ptr - digits);
    if (len > w) {
        fill_asterisks(out, w);
        return;
    }
    place_right(out, w, digits, len);
}

void render_real(char* out, int w, int d, int scale, char letter, double v) {
    // Short fields, nearly every number printed, have an exact faster path.
    if (!render_short_real(out, w, d, scale, letter, v)) render_real_exact(out, w, d, scale, letter, v);
}

void render_real_exact(char* out, int w, int d, int scale, char letter, double v) {
    if (!std::isfinite(v)) {
        render_non_finite(out, w, v);
        return;
    }
    // Only scale factors 0 and 1 occur in this program's layouts.
    const int k = scale > 0 ? 1 : 0;
    const bool negative = v < 0;  // -0.0 prints as zero, without a sign
    const bool zero = v == 0;
    const int n = k == 0 ? d : d + 1;  // significant digits of a non-zero value
    // The width is known before any digit is formed: the mantissa is "." and
    // d digits, or one digit, "." and d digits; the exponent part is always
    // four characters ("E+01" or "+100").
    const int mlen = zero || k == 0 ? d + 1 : d + 2;
    const int required = (negative ? 1 : 0) + mlen + 4;
    if (required > w || (!zero && n < 1)) {
        fill_asterisks(out, w);
        return;
    }

    // to_chars rounds the exact binary value, ties to even: exactly the
    // rounding the printed digits must have. The digits fit the field, so a
    // field wider than the small buffer is the only reason for the large one.
    char small[128];
    std::string large;
    char* sci = small;
    std::size_t cap = sizeof small;
    const auto wanted = static_cast<std::size_t>(n) + 16;
    if (wanted > cap) {
        large.resize(wanted);
        sci = large.data();
        cap = large.size();
    }
    int exponent = 0;
    const char* digits = nullptr;  // n digits of D1.D2D3...: digits[0], then digits[2...]
    if (!zero) {
        const auto res = std::to_chars(sci, sci + cap, std::fabs(v), std::chars_format::scientific, n - 1);
        const char* e = std::find(sci, res.ptr, 'e');
        int x = 0;
        std::from_chars(e + (e[1] == '+' ? 2 : 1), res.ptr, x);
        exponent = x + 1 - k;  // value = 0.D1D2... * 10^(x+1)
        digits = sci;
    }
    const int mag = std::abs(exponent);
    if (mag > 999) {
        fill_asterisks(out, w);
        return;
    }
    const bool lead_zero = (k == 0 || zero) && required < w;
    char* p = out;
    const int pad = w - required - (lead_zero ? 1 : 0);
    std::memset(p, ' ', static_cast<std::size_t>(pad));
    p += pad;
    if (negative) *p++ = '-';
    if (lead_zero) *p++ = '0';
    if (zero) {
        *p++ = '.';
        std::memset(p, '0', static_cast<std::size_t>(d));
        p += d;
    } else {
        // The digits after the first sit after the point in to_chars' text.
        if (k == 1) *p++ = digits[0];
        *p++ = '.';
        if (k == 0) *p++ = digits[0];
        if (n > 1) {
            std::memcpy(p, digits + 2, static_cast<std::size_t>(n - 1));
            p += n - 1;
        }
    }
    if (mag <= 99) {
        *p++ = letter;
        *p++ = exponent < 0 ? '-' : '+';
    } else {
        *p++ = exponent < 0 ? '-' : '+';
        *p++ = static_cast<char>('0' + mag / 100);
    }
    *p++ = static_cast<char>('0' + mag / 10 % 10);
    *p++ = static_cast<char>('0' + mag % 10);
    assert(p == out + w);
}

namespace {

// One record being built: columns from 0, unwritten columns blank.
class Record {
public:
    void move(int n) { col_ += n; }
    char* field(int w) {
        std::size_t end = static_cast<std::size_t>(col_ + w);
        if (chars_.size() < end) chars_.resize(end, ' ');
        char* p = chars_.data() + col_;
        col_ += w;
        return p;
    }
    std::string_view text() const { return chars_; }
    void clear() {
        chars_.clear();
        col_ = 0;
    }

private:
    std::string chars_;
    int col_ = 0;
};

void render_field(char* out, const Item& it, const FieldValue& v, int scale) {
    switch (it.kind) {
        case ItemKind::Int:
            render_int(out, it.w, v.kind == FieldValue::Kind::Int ? v.i : 0);
            break;
        case ItemKind::Real:
            render_real(out, it.w, it.d, scale, it.letter,
                        v.kind == FieldValue::Kind::Real ? v.r : static_cast<double>(v.i));
            break;
        default: {  // Aw: a longer text is cut, a shorter one gets blanks on its left
            std::string_view s = v.kind == FieldValue::Kind::Text ? v.s : std::string_view{};
            const int L = static_cast<int>(s.size());
            // std::copy, not memcpy: an empty text may have no storage at all.
            if (it.w > L) {
                std::memset(out, ' ', static_cast<std::size_t>(it.w - L));
                std::copy(s.begin(), s.end(), out + (it.w - L));
            } else {
                std::copy_n(s.begin(), it.w, out);
            }
        }
    }
}

// Runs a layout over the values, calling emit(record) for each finished
// record. Returns when the values and the layout are used up, or after the
// first record when `single_record` is set (the text write).
template <typename Emit>
void run_layout(FieldLayout layout, std::span<const FieldValue> values, bool single_record, Emit&& emit) {
    assert(well_formed(layout));
    // Where the layout resumes when values outlast it: the last group that
    // opens at the top level, or the first item.
    std::size_t resume = 0;
    bool has_data_field = false;  // in the part that resumes
    {
        int depth = 0;
        for (std::size_t p = 0; p < layout.size(); ++p) {
            const ItemKind kind = layout[p].kind;
            if (kind == ItemKind::GroupOpen) {
                if (depth == 0) resume = p;
                ++depth;
            } else if (kind == ItemKind::GroupClose) {
                --depth;
            }
        }
        // Values beyond the layout are only taken when the part it resumes
        // at holds a data field; otherwise resuming would never end.
        for (std::size_t p = resume; p < layout.size(); ++p) {
            const ItemKind kind = layout[p].kind;
            if (kind == ItemKind::Int || kind == ItemKind::Real || kind == ItemKind::Text) has_data_field = true;
        }
    }

    struct Open {
        std::size_t start;  // index of the first item inside the group
        int left;           // repetitions still to run after the current one
    };
    Open stack[8];
    int depth = 0;
    Record rec;
    std::size_t next_value = 0;
    int scale = 0;
    std::size_t p = 0;
    for (;;) {
        if (p == layout.size()) {
            emit(rec.text());
            if (next_value == values.size() || single_record || !has_data_field) return;
            rec.clear();
            p = resume;
            depth = 0;
            continue;
        }
        const Item& it = layout[p];
        switch (it.kind) {
            case ItemKind::Literal: {
                char* out = rec.field(static_cast<int>(it.text.size()));
                std::memcpy(out, it.text.data(), it.text.size());
                break;
            }
            case ItemKind::Skip:
                rec.move(it.n);
                break;
            case ItemKind::Scale:
                scale = it.n;
                break;
            case ItemKind::Slash:
                emit(rec.text());
                if (single_record) return;
                rec.clear();
                break;
            case ItemKind::GroupOpen:
                if (depth < 8) stack[depth++] = Open{p + 1, it.n - 1};
                break;
            case ItemKind::GroupClose:
                if (depth > 0) {
                    Open& g = stack[depth - 1];
                    if (g.left > 0) {
                        --g.left;
                        p = g.start;
                        continue;
                    }
                    --depth;
                }
                break;
            case ItemKind::Int:
            case ItemKind::Real:
            case ItemKind::Text: {
                if (next_value == values.size()) {
                    emit(rec.text());
                    return;
                }
                const FieldValue& v = values[next_value++];
                if (it.kind == ItemKind::Text && it.w == 0) {
                    char* out = rec.field(static_cast<int>(v.s.size()));
                    std::copy(v.s.begin(), v.s.end(), out);
                } else {
                    render_field(rec.field(it.w), it, v, scale);
                }
                break;
            }
        }
        ++p;
    }
}

}  // namespace

void write_records(RecordSink& sink, FieldLayout layout, std::span<const FieldValue> values) {
    run_layout(layout, values, false, [&](std::string_view r) { sink.put_record(r); });
}

std::vector<std::string> format_records(FieldLayout layout, std::span<const FieldValue> values) {
    std::vector<std::string> out;
    run_layout(layout, values, false, [&](std::string_view r) { out.emplace_back(r); });
    return out;
}

std::string text_write(std::size_t length, FieldLayout layout, std::span<const FieldValue> values) {
    std::string target(length, ' ');
    run_layout(layout, values, true, [&](std::string_view r) {
        std::memcpy(target.data(), r.data(), std::min(length, r.size()));
    });
    return target;
}

}  // namespace plumcor
