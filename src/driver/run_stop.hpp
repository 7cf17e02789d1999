#pragma once
// How a run ends early: thrown from wherever the reason is found and caught
// once by the job driver, which closes the open files, prints the report and
// the message, and exits with `status`.
#include <string>

namespace plumcor {

struct RunStop {
    std::string message;         // one line for standard error (empty: none)
    std::string console_report;  // text for standard output, already with its line ends
    int status = 1;
};

}  // namespace plumcor
