#pragma once
// The console lines of a run: banner, prompt and progress messages.
#include <string>
#include <vector>

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
// rendered once, by the same renderer as every other field.
std::vector<std::string> render_axis(const std::vector<double>& axis);
inline void write_node_line(OutputFile& console, const std::string& x, const std::string& y,
                            const std::string& z) {
    std::string& b = console.buffer();
    b += '+';
    b += x;
    b += y;
    b += z;
    b += "\r\n";
    console.flush_if_full();
}

}  // namespace plumcor
