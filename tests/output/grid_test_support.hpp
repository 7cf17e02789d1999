#pragma once
// Helpers shared by the tests of the grid result files: a scratch directory,
// whole-file reads, grids built from start and spacing, and a little-endian
// decoder that does not depend on the host's byte order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "driver/grid_axes.hpp"

namespace plumcor::test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "plumcor-grid-" + std::to_string(::getpid()) + "-";
        if (info != nullptr) name += std::string(info->test_suite_name()) + "-" + info->name();
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(std::string_view name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Records as a text result file holds them: each followed by CR LF.
inline std::string as_file(const std::vector<std::string>& records) {
    std::string out;
    for (const std::string& r : records) out += r + "\r\n";
    return out;
}

// Splits a text result file into its records; every record must end in CR LF.
inline std::vector<std::string> split_records(std::string_view bytes) {
    std::vector<std::string> out;
    while (!bytes.empty()) {
        const auto end = bytes.find("\r\n");
        if (end == std::string_view::npos) {
            ADD_FAILURE() << "last record has no CR LF: \"" << bytes << "\"";
            break;
        }
        out.emplace_back(bytes.substr(0, end));
        bytes.remove_prefix(end + 2);
    }
    return out;
}

inline GridAxes make_grid(std::int32_t nx, double xmin, double dx, std::int32_t ny, double ymin,
                          double dy, std::int32_t nz, double zmin, double dz) {
    GridAxes g;
    g.NX = nx;
    g.NY = ny;
    g.NZ = nz;
    for (int i = 0; i < nx; ++i) g.XAXIS.push_back(xmin + i * dx);
    for (int j = 0; j < ny; ++j) g.YAXIS.push_back(ymin + j * dy);
    for (int k = 0; k < nz; ++k) g.ZAXIS.push_back(zmin + k * dz);
    return g;
}

inline std::uint32_t le_u32(std::string_view bytes, std::size_t at) {
    auto b = [&](std::size_t n) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + n)));
    };
    return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}
inline std::int32_t le_i32(std::string_view bytes, std::size_t at) {
    return static_cast<std::int32_t>(le_u32(bytes, at));
}
inline float le_f32(std::string_view bytes, std::size_t at) {
    return std::bit_cast<float>(le_u32(bytes, at));
}

// "2C 00 00 00 ..." -> the bytes it names.
inline std::string hex_bytes(std::string_view hex) {
    std::string out;
    for (std::size_t p = 0; p < hex.size();) {
        if (hex[p] == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(p, 2)), nullptr, 16)));
        p += 2;
    }
    return out;
}

// One framed record of the layer file, as read back.
struct FramedRecord {
    std::string data;
};

// Splits a layer file into its records, checking that both length fields of
// each record agree and that nothing is left over.
inline std::vector<FramedRecord> split_framed(std::string_view bytes) {
    std::vector<FramedRecord> out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8) {
            ADD_FAILURE() << "truncated record at byte " << at;
            break;
        }
        const std::int32_t lead = le_i32(bytes, at);
        if (lead < 0 || bytes.size() - at - 8 < static_cast<std::size_t>(lead)) {
            ADD_FAILURE() << "record at byte " << at << " claims " << lead << " bytes";
            break;
        }
        const std::int32_t trail = le_i32(bytes, at + 4 + static_cast<std::size_t>(lead));
        EXPECT_EQ(trail, lead) << "length fields of the record at byte " << at;
        out.push_back({std::string(bytes.substr(at + 4, static_cast<std::size_t>(lead)))});
        at += 8 + static_cast<std::size_t>(lead);
    }
    return out;
}

}  // namespace plumcor::test
