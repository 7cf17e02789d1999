#include "driver/job.hpp"

int main() { return plumcor::run_job(); }
