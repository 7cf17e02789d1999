#include "driver/job_files.hpp"

namespace plumcor {

std::string job_identifier(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string id(line.substr(0, 80));
    id.resize(80, ' ');
    return id;
}

std::string job_stem(std::string_view jobid) {
    const auto blank = jobid.find(' ');
    if (blank == std::string_view::npos) return {};
    return std::string(jobid.substr(0, blank));
}

}  // namespace plumcor
