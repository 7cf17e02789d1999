// The two grid description files (.CNF and .MSH): node counts, spacings as
// repeated values "count*value", the last z node, and (in .MSH) the outer
// edges of the first blocks.
#include <cstdint>
#include <string>
#include <string_view>

#include "output/grid_files.hpp"
#include "output/record_writer.hpp"

namespace plumcor {
namespace {

constexpr Item kCountLayout[] = {X(1), I(6), A(1), E(11, 5)};
constexpr Item kCountsLayout[] = {I(5), X(1), I(5), X(1), I(5)};
constexpr Item kTextLayout[] = {A()};
constexpr Item kOriginLayout[] = {group(3), X(1), P(1), E(12, 3), end_group()};
constexpr Item kConstantLayout[] = {X(1), P(1), E(12, 3)};
static_assert(well_formed(kCountLayout) && well_formed(kCountsLayout) && well_formed(kTextLayout) &&
              well_formed(kOriginLayout) && well_formed(kConstantLayout));

constexpr std::size_t kCountFieldLength = 19;

// The closing value is the single-precision 1.0E30 widened to double
// (1.0000000150474662E+30), which is what the readers of these files expect.
constexpr double kClosingValue = static_cast<double>(1.0E30f);

// The products are 32-bit counts. Forming them in 64 bits and narrowing gives
// the same value as 32-bit arithmetic (at most 10,040,000 after the grid
// checks) without undefined behaviour should a check ever let more through.
std::int32_t count_product(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(std::int64_t{a} * std::int64_t{b});
}

void write_count_record(OutputFile& f, std::int32_t count, double value) {
    const std::string field = COUNT_FIELD(count, value);
    write_records(f, kTextLayout, {std::string_view(field)});
}

// Records 1 to 5, shared by both files but rebuilt for each.
void write_counts_and_spacings(OutputFile& f, const GridAxes& g, double dx, double dy, double dz) {
    const double zlast = g.ZAXIS[static_cast<std::size_t>(g.NZ) - 1];
    const std::int32_t columns = count_product(g.NX, g.NY);
    const std::int32_t nodes = count_product(columns, g.NZ);
    write_records(f, kCountsLayout, {g.NZ, g.NY, g.NX});
    write_count_record(f, g.NX, dx);
    write_count_record(f, g.NY, dy);
    write_count_record(f, columns, zlast);
    write_count_record(f, nodes, dz);
}

}  // namespace

std::string COUNT_FIELD(std::int32_t count, double value) {
    return text_write(kCountFieldLength, kCountLayout, {count, "*", value});
}

void WRITE_CNF(OutputFile& f, const GridAxes& g, double dx, double dy, double dz) {
    write_counts_and_spacings(f, g, dx, dy, dz);
    write_records(f, kConstantLayout, {kClosingValue});
}

void WRITE_MSH(OutputFile& f, const GridAxes& g, double dx, double dy, double dz, double xmin,
               double ymin) {
    write_counts_and_spacings(f, g, dx, dy, dz);
    // The nodes are block centres; the origin is the outer corner of the first
    // block. The z entry is always 0, whatever ZMIN is.
    write_records(f, kOriginLayout, {xmin - dx * 0.5, ymin - dy * 0.5, 0.0});
    write_records(f, kConstantLayout, {kClosingValue});
}

}  // namespace plumcor
