#pragma once
// Sleeping and a monotonic millisecond clock.

#include <cstdint>

namespace platform {

// Wait time meaning "no limit" for every wait of the platform layers.
constexpr uint32_t INFINITE = 0xFFFFFFFF;

void Sleep(uint32_t milliseconds);

// Milliseconds since an arbitrary start; never goes back.
uint64_t TickCount();

}  // namespace platform
