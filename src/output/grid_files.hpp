#pragma once
// Writers of the concentration grids: the grid description files (.CNF,
// .MSH), the ASCII concentration file and the unformatted layer file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "driver/grid_axes.hpp"
#include "output/output_file.hpp"

namespace plumcor {

// 19 characters: " " + count in I6 + "*" + value in E11.5.
std::string COUNT_FIELD(std::int32_t count, double value);

void WRITE_CNF(OutputFile& f, const GridAxes& g, double dx, double dy, double dz);
void WRITE_MSH(OutputFile& f, const GridAxes& g, double dx, double dy, double dz, double xmin,
               double ymin);

// Time record, then one record per node in evaluation order (z fastest);
// fills conc4 (same indexing as conc).
void WRITE_ASC(OutputFile& f, double t, const GridAxes& g, std::span<const double> conc,
               std::span<float> conc4);

// The node records of the ASCII file, assembled a block at a time. Each
// record is the layout's 7 blanks, the x, y and z cells (each axis value
// rendered once, by render_real) and the concentration rendered in place by
// render_real, so the bytes are those of the formatter.
class AscNodeRecords {
public:
    static constexpr std::size_t kRecordBytes = 61;  // 59 characters, CR LF

    explicit AscNodeRecords(const GridAxes& g);

    // The records of the nodes of x columns [i0, i1) in the file's order (x,
    // then y, then z fastest) into `out`, (i1 - i0)*NY*NZ records. `field`
    // holds the concentrations of the x columns [x0, x0 + nxf), node (i, j, k)
    // at (i - x0) + nxf*(j + NY*k): the whole field with x0 = 0 and nxf = NX,
    // or a slab of columns. Returns the end of what was written.
    char* render(char* out, int i0, int i1, const double* field, int x0, int nxf) const;

    // CONC4 of the same nodes: conc4 is the whole single-precision field
    // (index i + NX*(j + NY*k)), `field` as for render().
    void copy_single(float* conc4, int i0, int i1, const double* field, int x0, int nxf) const;

private:
    int nx_, ny_, nz_;
    std::string xcells_, ycells_, zcells_;  // "1X, 1PE12.3" per axis node
};

// The record that opens an output time in the ASCII file.
void write_asc_time_record(OutputFile& f, double t);

// One header and one data record per layer, layer 1 = largest z, rows from
// the largest y down; little-endian, framed by 4-byte lengths.
void WRITE_UCN(OutputFile& f, double t, const GridAxes& g, std::span<const float> conc4);

}  // namespace plumcor
