#include "platform/Check.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

void CheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace platform
