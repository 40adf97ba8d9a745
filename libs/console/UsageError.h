#pragma once
// A command line that cannot be run as given; exit status 2.

#include <stdexcept>

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
