#pragma once
// The console lines of a run: banner, prompt and progress messages.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/grid_axes.hpp"
#include "output/output_file.hpp"

namespace plumcor {

void write_banner(OutputFile& console);
void write_prompt(OutputFile& console);
void write_empty_line(OutputFile& console);
void write_btc_heading(OutputFile& console);
void write_btc_time(OutputFile& console, double t);
void write_distribution_heading(OutputFile& console);
void write_distribution_time(OutputFile& console, double t);

// The progress line of a grid node is "+" and its x, y, z in 1PE12.3. The
// coordinates repeat across millions of nodes, so each axis value is
// rendered once, by the same renderer as every other field, and the lines are
// assembled an x column at a time (every y and z of one x): the y and z cells
// of a column's lines are placed once, and each column only puts its x cell
// into them.
class NodeLines {
public:
    static constexpr std::size_t kLineBytes = 1 + 3 * 12 + 2;  // "+", 3 fields, CR LF

    explicit NodeLines(const GridAxes& g);

    // The lines of the nodes of x column i (0-based), z fastest, then y;
    // valid until the next call.
    std::string_view column(std::int32_t i);

    // The lines of a whole output time, x slowest. With `last_x` >= 0 they
    // end with the first node of that x column.
    void write(OutputFile& console, std::int32_t last_x = -1);

private:
    std::vector<std::string> xs_;
    std::string block_;
};

}  // namespace plumcor
