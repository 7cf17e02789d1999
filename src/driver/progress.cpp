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

std::vector<std::string> render_axis(const std::vector<double>& axis) {
    std::vector<std::string> out;
    out.reserve(axis.size());
    for (double v : axis) out.push_back(text_write(12, kAxisValue, {v}));
    return out;
}

}  // namespace plumcor
