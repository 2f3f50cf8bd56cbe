#pragma once
// INTERIM until the platform window handles land.
#include <cstdint>

using WindowHandle = uintptr_t;
inline constexpr uint32_t WM_OUTPUT_CLOSED = 33171;
inline bool PostWindowMessage(WindowHandle, uint32_t, uint32_t, intptr_t) {
    return false;
}
