#include "driver/progress.hpp"

namespace plumcor {

namespace {
constexpr Item kBanner[] = {lit("+"), lit("PlumcorI - Analytical Transport from a"),
                            lit(" patch source with decaying source concentration"), slash()};
constexpr Item kEmpty[] = {lit("")};
constexpr Item kBtcHeading[] = {lit(" CALCULATING CONCENTRATIONS FOR BTC AT TIME :"), slash()};
constexpr Item kBtcTime[] = {lit("+"), P(1), E(12, 3)};
constexpr Item kDistributionHeading[] = {slash(), slash(), lit(" CALCULATING CONCENTRATION DISTRIBUTIONS")};
constexpr Item kDistributionTime[] = {slash(), lit(" concentration distribution at time : "), P(1), E(12, 3),
                                      slash()};
constexpr Item kAxisValue[] = {P(1), E(12, 3)};
}  // namespace

void write_banner(OutputFile& console) { write_records(console, kBanner, {}); }

void write_prompt(OutputFile& console) { console.put_record(" INPUT JOBID FOR FILE SPECIFICATION: "); }

void write_empty_line(OutputFile& console) { write_records(console, kEmpty, {}); }

void write_btc_heading(OutputFile& console) { write_records(console, kBtcHeading, {}); }

void write_btc_time(OutputFile& console, double t) { write_records(console, kBtcTime, {t}); }

void write_distribution_heading(OutputFile& console) { write_records(console, kDistributionHeading, {}); }

void write_distribution_time(OutputFile& console, double t) {
    write_records(console, kDistributionTime, {t});
}

namespace {

constexpr std::size_t kCell = 12;
static_assert(NodeLines::kLineBytes == 1 + 3 * kCell + 2);

// One 1PE12.3 cell per axis node, through the formatter.
std::vector<std::string> render_axis(const std::vector<double>& axis, std::int32_t n) {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) out.push_back(text_write(kCell, kAxisValue, {axis[static_cast<std::size_t>(i)]}));
    return out;
}

}  // namespace

NodeLines::NodeLines(const GridAxes& g) : xs_(render_axis(g.XAXIS, g.NX)) {
    const std::vector<std::string> ys = render_axis(g.YAXIS, g.NY), zs = render_axis(g.ZAXIS, g.NZ);
    block_.reserve(ys.size() * zs.size() * kLineBytes);
    for (const std::string& y : ys)
        for (const std::string& z : zs) {
            block_ += '+';
            block_.append(kCell, ' ');  // the x cell, put in by column()
            block_ += y;
            block_ += z;
            block_ += "\r\n";
        }
}

std::string_view NodeLines::column(std::int32_t i) {
    const std::string& x = xs_[static_cast<std::size_t>(i)];
    for (std::size_t at = 1; at < block_.size(); at += kLineBytes) x.copy(block_.data() + at, kCell);
    return block_;
}

void NodeLines::write(OutputFile& console, std::int32_t last_x) {
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(xs_.size()); ++i) {
        const std::string_view lines = column(i);
        if (i == last_x) {
            console.write(lines.substr(0, kLineBytes));
            return;
        }
        console.write_through(lines);
    }
}

}  // namespace plumcor
