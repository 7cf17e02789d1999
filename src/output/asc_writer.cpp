// The ASCII concentration file: per output time a time record, then one
// record per node (x, y, z, concentration) in the order of evaluation.
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "output/grid_files.hpp"
#include "output/record_writer.hpp"

namespace plumcor {
namespace {

constexpr Item kAscLayout[] = {X(7), group(5), X(1), P(1), E(12, 3), end_group()};
static_assert(well_formed(kAscLayout));

// The node records are assembled by hand (up to two million per run), so the
// pieces below must stay those of kAscLayout: 7X, then fields of 1X, 1PE12.3.
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

// One "1X, 1PE12.3" cell per axis node: the coordinates repeat across many
// records, so each is rendered once per output time.
void render_cells(std::vector<char>& cells, const std::vector<double>& axis, std::int32_t n) {
    cells.resize(static_cast<std::size_t>(n) * kCell);
    for (std::int32_t i = 0; i < n; ++i) {
        char* cell = cells.data() + static_cast<std::size_t>(i) * kCell;
        cell[0] = ' ';
        render_real(cell + 1, kWidth, kDigits, kScale, 'E', axis[static_cast<std::size_t>(i)]);
    }
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

void WRITE_ASC(OutputFile& f, double t, const GridAxes& g, std::span<const double> conc,
               std::span<float> conc4) {
    const auto nodes = static_cast<std::size_t>(g.nodes());
    assert(conc.size() >= nodes && conc4.size() >= nodes);
    (void)nodes;

    write_records(f, kAscLayout, {t});

    std::vector<char> xcells, ycells, zcells;
    render_cells(xcells, g.XAXIS, g.NX);
    render_cells(ycells, g.YAXIS, g.NY);
    render_cells(zcells, g.ZAXIS, g.NZ);

    for (std::int32_t i = 0; i < g.NX; ++i) {
        for (std::int32_t j = 0; j < g.NY; ++j) {
            for (std::int32_t k = 0; k < g.NZ; ++k) {
                const auto L = static_cast<std::size_t>(g.index(i, j, k));
                std::string& buf = f.buffer();
                const std::size_t at = buf.size();
                buf.resize(at + kNodeLine);
                char* r = buf.data() + at;
                std::memset(r, ' ', kLead);
                std::memcpy(r + kLead, xcells.data() + static_cast<std::size_t>(i) * kCell, kCell);
                std::memcpy(r + kLead + kCell, ycells.data() + static_cast<std::size_t>(j) * kCell,
                            kCell);
                std::memcpy(r + kLead + 2 * kCell,
                            zcells.data() + static_cast<std::size_t>(k) * kCell, kCell);
                r[kLead + 3 * kCell] = ' ';
                render_real(r + kLead + 3 * kCell + 1, kWidth, kDigits, kScale, 'E', conc[L]);
                r[kNodeRecord] = '\r';
                r[kNodeRecord + 1] = '\n';
                // The copy follows its record, as the unformatted file expects.
                conc4[L] = to_single(conc[L]);
                f.flush_if_full();
            }
        }
    }
}

}  // namespace plumcor
