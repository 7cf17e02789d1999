// The unformatted concentration file: per output time and layer one header
// record and one data record, each framed by its byte count before and after.
// The bytes are little-endian on every host, so they are put together here
// byte by byte rather than copied from memory.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/run_stop.hpp"
#include "output/grid_files.hpp"
#include "output/record_writer.hpp"

namespace plumcor {
namespace {

constexpr std::string_view kHeaderText = "CONCENTRATION   ";
static_assert(kHeaderText.size() == 16);
constexpr std::int32_t kHeaderBytes = 3 * 4 + 4 + 16 + 3 * 4;
static_assert(kHeaderBytes == 44);

char* put_u32(char* p, std::uint32_t u) {
    p[0] = static_cast<char>(u & 0xFFu);
    p[1] = static_cast<char>((u >> 8) & 0xFFu);
    p[2] = static_cast<char>((u >> 16) & 0xFFu);
    p[3] = static_cast<char>((u >> 24) & 0xFFu);
    return p + 4;
}
char* put_i32(char* p, std::int32_t v) { return put_u32(p, static_cast<std::uint32_t>(v)); }
char* put_f32(char* p, float v) { return put_u32(p, std::bit_cast<std::uint32_t>(v)); }

// Puts one whole record (length, data, length) at `p` and returns where its
// data go; the caller fills exactly `bytes` of them.
char* frame_record(char* p, std::int32_t bytes) {
    put_i32(p + 4 + bytes, bytes);
    return put_i32(p, bytes);
}

}  // namespace

void WRITE_UCN(OutputFile& f, double t, const GridAxes& g, std::span<const float> conc4) {
    assert(conc4.size() >= static_cast<std::size_t>(g.nodes()));
    const auto time = static_cast<float>(t);
    // A time or a concentration beyond the single-precision range would be
    // stored as infinity; the file ends before that time instead, and the
    // run stops saying why.
    const auto values = conc4.first(static_cast<std::size_t>(g.nodes()));
    if (!std::isfinite(time) || !std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); })) {
        char text[12];
        render_real(text, 12, 3, 1, 'E', t);
        const auto start = std::string_view(text, 12).find_first_not_of(' ');
        throw RunStop(f.name() + ": a time or concentration at time " + std::string(text + start, 12 - start) +
                      " is beyond single precision");
    }
    // A layer holds at most 500 x 251 values, so its byte count fits 32 bits.
    const auto data_bytes = static_cast<std::int32_t>(std::int64_t{4} * g.NX * g.NY);

    // The data record of a layer is put together in a block of its own and
    // handed to the file in one piece.
    std::vector<char> block(static_cast<std::size_t>(data_bytes) + 8);
    for (std::int32_t layer = 1; layer <= g.NZ; ++layer) {
        char header[kHeaderBytes + 8];
        char* p = frame_record(header, kHeaderBytes);
        p = put_i32(p, 1);
        p = put_i32(p, 1);
        p = put_i32(p, 1);
        p = put_f32(p, time);
        kHeaderText.copy(p, kHeaderText.size());
        p += kHeaderText.size();
        p = put_i32(p, g.NX);
        p = put_i32(p, g.NY);
        put_i32(p, layer);
        f.write(std::string_view(header, sizeof header));

        // Layer 1 is the top of the grid (largest z); rows run from the
        // largest y down, as a map is read, and x runs along each row.
        const std::int32_t k = g.NZ - layer;
        p = frame_record(block.data(), data_bytes);
        for (std::int32_t j = g.NY - 1; j >= 0; --j) {
            const float* row = conc4.data() + g.index(0, j, k);
            for (std::int32_t i = 0; i < g.NX; ++i) p = put_f32(p, row[i]);
        }
        f.write_through(std::string_view(block.data(), block.size()));
    }
}

}  // namespace plumcor
