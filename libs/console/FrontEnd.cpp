#include "console/FrontEnd.h"

int usageError(const char* program, const char* what)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, what, program);
    return kUsageStatus;
}
