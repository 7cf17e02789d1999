#pragma once
// Writers of the concentration grids: the grid description files (.CNF,
// .MSH), the ASCII concentration file and the unformatted layer file.
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
// fills conc4 (same indexing as conc) as each node record is written.
void WRITE_ASC(OutputFile& f, double t, const GridAxes& g, std::span<const double> conc,
               std::span<float> conc4);

// One header and one data record per layer, layer 1 = largest z, rows from
// the largest y down; little-endian, framed by 4-byte lengths.
void WRITE_UCN(OutputFile& f, double t, const GridAxes& g, std::span<const float> conc4);

}  // namespace plumcor
