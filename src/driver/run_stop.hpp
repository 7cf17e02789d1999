#pragma once
// How a run ends early: thrown from wherever the reason is found and caught
// once by the job driver, which closes the open files, prints the report and
// the message, and exits with `status`.
#include <string>
#include <utility>

namespace plumcor {

struct RunStop {
    std::string message;         // one line for standard error (empty: none)
    std::string console_report;  // text for standard output, already with its line ends
    int status = 1;

    explicit RunStop(std::string message_, std::string console_report_ = {}, int status_ = 1)
        : message(std::move(message_)), console_report(std::move(console_report_)), status(status_) {}
};

}  // namespace plumcor
