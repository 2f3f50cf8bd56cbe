#pragma once
// ARVELO_ASSERT: a check against misuse by the calling code, active in every
// build. A failed check prints the condition, the source unit and the line to
// standard error and stops the program; no input from a port or a user may be
// able to reach one.

namespace platform {
[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);
}

#define ARVELO_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : ::platform::CheckFailed(#condition, __FILE__, __LINE__))
