// The yardstick of the breakthrough loop: the concentrations of a deck's
// observation points at all its breakthrough times, each one a separate
// PATCH_CONC call (its own Gauss nodes, scalar exp and erfc), with nothing
// written. bench/run times this next to the whole run of the same deck.
//
//   point_baseline DECK.INP   ->   "<seconds> <evaluations> <checksum>"
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "driver/checks.hpp"
#include "driver/deck_reader.hpp"
#include "driver/fp_mode.hpp"
#include "driver/run_stop.hpp"
#include "solution/patch_conc.hpp"
#include "solution/solution_block.hpp"

int main(int argc, char** argv) {
    using namespace plumcor;
    if (argc != 2) {
        std::fprintf(stderr, "usage: point_baseline DECK.INP\n");
        return 2;
    }
    enable_flush_to_zero();  // as the program computes
    try {
        std::ifstream file(argv[1], std::ios::binary);
        if (!file) throw RunStop{std::string(argv[1]) + ": cannot be read"};
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const ProblemInput in = read_deck(text, argv[1]);
        if (in.NOBS < 1) throw RunStop{std::string(argv[1]) + ": the deck has no observation points"};
        const std::int32_t nbtc = breakthrough_count(in.tMIN, in.tMAX, in.DELt);
        const int nobs = in.NOBS < kMaxObs ? in.NOBS : kMaxObs;
        SolutionBlock blk = make_solution_block(in);

        // The sum keeps every value alive; it is printed so that the work
        // cannot be dropped.
        double checksum = 0.0;
        const auto start = std::chrono::steady_clock::now();
        for (std::int32_t k = 1; k <= nbtc; ++k) {
            const double t = static_cast<double>(k - 1) * in.DELt + in.tMIN;
            for (int i = 0; i < nobs; ++i)
                checksum += in.C0 * PATCH_CONC(blk, in.XOBS[i], in.YOBS[i], in.ZOBS[i], t);
        }
        const auto stop = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(stop - start).count();
        std::printf("%.6f %lld %.17g\n", seconds, static_cast<long long>(nbtc) * nobs, checksum);
    } catch (const RunStop& e) {
        std::fprintf(stderr, "%s\n", e.message.c_str());
        return 1;
    }
    return 0;
}
