#include "output/obs_writer.hpp"

#include <array>

#include "driver/problem_input.hpp"

namespace plumcor {

namespace {
constexpr Item kObsLayout[] = {X(7), group(5), X(1), P(1), E(12, 3), end_group()};
static_assert(well_formed(kObsLayout));
}  // namespace

void WRITE_OBS(RecordSink& obs, double t, std::span<const double> cobs) {
    std::array<FieldValue, kMaxObs + 1> values{FieldValue(t)};
    std::size_t n = 1;
    for (double c : cobs.first(std::min(cobs.size(), std::size_t{kMaxObs}))) values[n++] = FieldValue(c);
    write_records(obs, kObsLayout, std::span<const FieldValue>(values.data(), n));
}

}  // namespace plumcor
