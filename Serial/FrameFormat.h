#pragma once
// The frame of every command and reply of the reader: 0x01, the command's
// text, 0x02, the payload, 0x03, and the low 8 bits of the sum of all bytes
// before it. The end byte is also the port's event character: its arrival
// wakes the link's reader thread.

#include <cstdint>

namespace frame {

inline constexpr uint8_t kStartOfHeader = 0x01;
inline constexpr uint8_t kStartOfText = 0x02;
inline constexpr uint8_t kEndOfText = 0x03;

}  // namespace frame
