#pragma once
// The job identifier and the seven file names derived from it.
#include <string>
#include <string_view>

namespace plumcor {

// The 80-character identifier from one typed line: a trailing carriage
// return dropped, cut to 80 characters, padded with blanks.
std::string job_identifier(std::string_view line);
// The identifier up to its first blank; empty when it has no blank at all.
std::string job_stem(std::string_view jobid);

struct JobFiles {
    std::string INP, LST, OBS, CNF, MSH, ASC, UCN;
    explicit JobFiles(const std::string& stem)
        : INP(stem + ".INP"), LST(stem + ".LST"), OBS(stem + ".OBS"), CNF(stem + ".CNF"),
          MSH(stem + ".MSH"), ASC(stem + ".ASC"), UCN(stem + ".UCN") {}
};

}  // namespace plumcor
