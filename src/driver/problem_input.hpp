#pragma once
// Every value of the input deck, in deck order.
#include <array>
#include <cstdint>
#include <string>

namespace plumcor {

inline constexpr int kMaxObs = 10;
inline constexpr int kMaxTimes = 10;

struct ProblemInput {
    std::string TITLE = std::string(80, ' ');  // always exactly 80 characters
    double V = 0, ALPHAL = 0, ALPHATH = 0, ALPHATV = 0, DE = 0, THICK = 0, LAMBDA = 0, R = 0;
    std::int32_t NGAUSS = 0, NTERMS = 0;
    double WIDTH = 0, Z1 = 0, Z2 = 0, C0 = 0, GAMMA = 0;
    std::int32_t NOBS = 0;
    std::array<double, kMaxObs> XOBS{}, YOBS{}, ZOBS{};  // first min(NOBS, 10) kept
    double tMIN = 0, tMAX = 0, DELt = 0;
    std::int32_t NT = 0;
    std::array<double, kMaxTimes> TIMES{};  // first min(NT, 10) kept
    double XMIN = 0, XMAX = 0, DX = 0;
    double YMIN = 0, YMAX = 0, DY = 0;
    double ZMIN = 0, ZMAX = 0, DZ = 0;
};

}  // namespace plumcor
