#pragma once
// The breakthrough file: one record group per breakthrough time.
#include <span>

#include "output/record_writer.hpp"

namespace plumcor {

// t, then the concentrations at the observation points in deck order, five
// fields to a record (the first record also carries the time).
void WRITE_OBS(RecordSink& obs, double t, std::span<const double> cobs);

}  // namespace plumcor
