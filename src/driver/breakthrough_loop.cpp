#include "driver/breakthrough_loop.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "driver/checks.hpp"
#include "driver/progress.hpp"
#include "output/obs_writer.hpp"
#include "solution/breakthrough_eval.hpp"
#include "solution/gauss.hpp"
#include "solution/grid_eval.hpp"

namespace plumcor {

void breakthrough_loop(OutputFile& console, OutputFile& obs, const ProblemInput& in, const SolutionBlock& blk) {
    const std::int32_t nbtc = breakthrough_count(in.tMIN, in.tMAX, in.DELt);
    const auto nobs = static_cast<std::size_t>(in.NOBS);
    std::span<const double> xs(in.XOBS.data(), nobs), ys(in.YOBS.data(), nobs), zs(in.ZOBS.data(), nobs);
    write_btc_heading(console);

    // With an order the quadrature does not hold, the run must end right
    // after the progress line of the first time that needs it: one time
    // after another, as the points are evaluated one by one.
    const bool needs_quadrature = std::any_of(xs.begin(), xs.end(), [](double x) { return !(x <= 1.0e-6); });
    if (needs_quadrature && !gauss_order_supported(blk.NGAUSS)) {
        std::array<double, kMaxObs> cobs{};
        for (std::int32_t k = 1; k <= nbtc; ++k) {
            const double t = static_cast<double>(k - 1) * in.DELt + in.tMIN;
            write_btc_time(console, t);
            evaluate_points(blk, t, in.C0, xs, ys, zs, std::span<double>(cobs.data(), nobs));
            WRITE_OBS(obs, t, std::span<const double>(cobs.data(), nobs));
        }
        return;
    }

    // Otherwise the times are evaluated in blocks, vectorised and on both
    // cores, and written in order once each block is done.
    BreakthroughEvaluator evaluator(blk, xs, ys, zs);
    constexpr std::int32_t kBlock = 4096;
    std::vector<double> times(kBlock), values(static_cast<std::size_t>(kBlock) * nobs);
    for (std::int32_t k0 = 1; k0 <= nbtc; k0 += kBlock) {
        const auto m = static_cast<std::size_t>(std::min(kBlock, nbtc - k0 + 1));
        for (std::size_t j = 0; j < m; ++j) times[j] = static_cast<double>(k0 - 1 + static_cast<std::int32_t>(j)) * in.DELt + in.tMIN;
        evaluator.evaluate(std::span<const double>(times.data(), m), in.C0, std::span<double>(values.data(), m * nobs));
        for (std::size_t j = 0; j < m; ++j) {
            write_btc_time(console, times[j]);
            WRITE_OBS(obs, times[j], std::span<const double>(values.data() + j * nobs, nobs));
        }
    }
}

}  // namespace plumcor
