#pragma once
// The one formatter behind every text record, console line and report.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "output/field_layout.hpp"

namespace plumcor {

// Anything that takes finished records: result files, the console, tests.
class RecordSink {
public:
    virtual void put_record(std::string_view record) = 0;

protected:
    ~RecordSink() = default;
};

// The single renderer of a real field (Ew.d / Dw.d with scale factor k):
// writes exactly w characters to out. Every fast path calls this.
void render_real(char* out, int w, int d, int scale, char letter, double v);
// An Iw field: exactly w characters to out.
void render_int(char* out, int w, std::int32_t v);

// RecordWriter: turns a layout and values into records handed to the sink.
void write_records(RecordSink& sink, FieldLayout layout, std::span<const FieldValue> values);
inline void write_records(RecordSink& sink, FieldLayout layout,
                          std::initializer_list<FieldValue> values) {
    write_records(sink, layout, std::span<const FieldValue>(values.begin(), values.size()));
}

// The same write collected as strings (records without line ends).
std::vector<std::string> format_records(FieldLayout layout, std::span<const FieldValue> values);
inline std::vector<std::string> format_records(FieldLayout layout,
                                               std::initializer_list<FieldValue> values) {
    return format_records(layout, std::span<const FieldValue>(values.begin(), values.size()));
}

// Text write into a target of fixed length: blanks, then the fields of one
// record from column 1; the result is exactly `length` characters.
std::string text_write(std::size_t length, FieldLayout layout, std::span<const FieldValue> values);
inline std::string text_write(std::size_t length, FieldLayout layout,
                              std::initializer_list<FieldValue> values) {
    return text_write(length, layout, std::span<const FieldValue>(values.begin(), values.size()));
}

}  // namespace plumcor
