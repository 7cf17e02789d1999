#pragma once
// Reads an input deck (free-format values) into ProblemInput.
#include <string>
#include <string_view>

#include "driver/problem_input.hpp"

namespace plumcor {

// `text` is the whole deck file; `deck_name` (e.g. "RUN1.INP") is used in
// error messages. Throws RunStop (status 1) with a one-line message on any
// deck that cannot be read, e.g.
//   RUN1.INP line 10: NGAUSS: expected an integer, found "10.5"
//   RUN1.INP ends before NT
ProblemInput read_deck(std::string_view text, std::string_view deck_name);

}  // namespace plumcor
