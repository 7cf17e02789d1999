// The ASCII concentration file: per output time a time record, then one
// record per node (x, y, z, concentration) in the order of evaluation.
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "output/grid_files.hpp"
#include "output/record_writer.hpp"

namespace plumcor {
namespace {

constexpr Item kAscLayout[] = {X(7), group(5), X(1), P(1), E(12, 3), end_group()};
static_assert(well_formed(kAscLayout));

// The node records are assembled by hand (up to ten million per output time),
// so the pieces below must stay those of kAscLayout: 7X, then fields of 1X,
// 1PE12.3.
constexpr int kLead = 7;
constexpr int kWidth = 12;
constexpr int kDigits = 3;
constexpr int kScale = 1;
constexpr int kCell = 1 + kWidth;               // "1X" and the real field
constexpr int kNodeRecord = kLead + 4 * kCell;  // 59 characters
constexpr int kNodeLine = kNodeRecord + 2;      // with CR LF
static_assert(kAscLayout[0].kind == ItemKind::Skip && kAscLayout[0].n == kLead);
static_assert(kAscLayout[1].kind == ItemKind::GroupOpen && kAscLayout[1].n >= 4);
static_assert(kAscLayout[2].kind == ItemKind::Skip && kAscLayout[2].n == 1);
static_assert(kAscLayout[3].kind == ItemKind::Scale && kAscLayout[3].n == kScale);
static_assert(kAscLayout[4].kind == ItemKind::Real && kAscLayout[4].w == kWidth &&
              kAscLayout[4].d == kDigits && kAscLayout[4].letter == 'E');

static_assert(AscNodeRecords::kRecordBytes == kNodeLine);

// One "1X, 1PE12.3" cell per axis node: the coordinates repeat across many
// records, so each is rendered once.
std::string render_cells(const std::vector<double>& axis, std::int32_t n) {
    std::string cells(static_cast<std::size_t>(n) * kCell, ' ');
    for (std::int32_t i = 0; i < n; ++i)
        render_real(cells.data() + static_cast<std::size_t>(i) * kCell + 1, kWidth, kDigits, kScale, 'E',
                    axis[static_cast<std::size_t>(i)]);
    return cells;
}

// Largest magnitude that a conversion to single precision under the run's
// flush-to-zero mode turns into zero: the hardware judges tininess after
// rounding to 24 bits, so a value that rounds up to FLT_MIN (from 2^-126 -
// 2^-151 upwards, the tie going to the even FLT_MIN) survives and anything
// smaller becomes a zero of the same sign. Applying it here keeps CONC4 the
// same whether or not that mode is actually on.
constexpr double kFlushBelow = 0x1p-126 - 0x1p-151;

float to_single(double v) {
    if (std::fabs(v) < kFlushBelow) return std::signbit(v) ? -0.0f : 0.0f;
    return static_cast<float>(v);
}

}  // namespace

AscNodeRecords::AscNodeRecords(const GridAxes& g)
    : nx_(g.NX),
      ny_(g.NY),
      nz_(g.NZ),
      xcells_(render_cells(g.XAXIS, g.NX)),
      ycells_(render_cells(g.YAXIS, g.NY)),
      zcells_(render_cells(g.ZAXIS, g.NZ)) {}

char* AscNodeRecords::render(char* out, int i0, int i1, const double* field, int x0, int nxf) const {
    assert(0 <= i0 && i0 <= i1 && i1 <= nx_ && x0 <= i0 && i1 <= x0 + nxf);
    const std::size_t plane = static_cast<std::size_t>(nxf) * static_cast<std::size_t>(ny_);
    for (int i = i0; i < i1; ++i) {
        const char* x = xcells_.data() + static_cast<std::size_t>(i) * kCell;
        for (int j = 0; j < ny_; ++j) {
            const char* y = ycells_.data() + static_cast<std::size_t>(j) * kCell;
            const double* c = field + (i - x0) + static_cast<std::size_t>(nxf) * static_cast<std::size_t>(j);
            const char* z = zcells_.data();
            for (int k = 0; k < nz_; ++k, c += plane, z += kCell, out += kNodeLine) {
                std::memset(out, ' ', kLead);
                std::memcpy(out + kLead, x, kCell);
                std::memcpy(out + kLead + kCell, y, kCell);
                std::memcpy(out + kLead + 2 * kCell, z, kCell);
                out[kLead + 3 * kCell] = ' ';
                render_real(out + kLead + 3 * kCell + 1, kWidth, kDigits, kScale, 'E', *c);
                out[kNodeRecord] = '\r';
                out[kNodeRecord + 1] = '\n';
            }
        }
    }
    return out;
}

void AscNodeRecords::copy_single(float* conc4, int i0, int i1, const double* field, int x0,
                                 int nxf) const {
    assert(0 <= i0 && i0 <= i1 && i1 <= nx_ && x0 <= i0 && i1 <= x0 + nxf);
    // Row by row: runs of x are contiguous in both fields.
    for (int k = 0; k < nz_; ++k)
        for (int j = 0; j < ny_; ++j) {
            const std::size_t row = static_cast<std::size_t>(j) + static_cast<std::size_t>(ny_) * k;
            const double* from = field + static_cast<std::size_t>(nxf) * row;
            float* to = conc4 + static_cast<std::size_t>(nx_) * row;
            for (int i = i0; i < i1; ++i) to[i] = to_single(from[i - x0]);
        }
}

void write_asc_time_record(OutputFile& f, double t) { write_records(f, kAscLayout, {t}); }

void WRITE_ASC(OutputFile& f, double t, const GridAxes& g, std::span<const double> conc,
               std::span<float> conc4) {
    const auto nodes = static_cast<std::size_t>(g.nodes());
    assert(conc.size() >= nodes && conc4.size() >= nodes);
    (void)nodes;

    write_asc_time_record(f, t);
    const AscNodeRecords records(g);
    // One x column of records at a time, handed to the file as one block.
    std::vector<char> block(static_cast<std::size_t>(g.NY) * static_cast<std::size_t>(g.NZ) * kNodeLine);
    for (std::int32_t i = 0; i < g.NX; ++i) {
        const char* end = records.render(block.data(), i, i + 1, conc.data(), 0, g.NX);
        f.write_through(std::string_view(block.data(), static_cast<std::size_t>(end - block.data())));
    }
    // Only the unformatted writer reads the copy, after this returns.
    records.copy_single(conc4.data(), 0, g.NX, conc.data(), 0, g.NX);
}

}  // namespace plumcor
