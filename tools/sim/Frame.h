#pragma once
// The reader's frames, written on their own (independently of the program's
// serial layer) so that the virtual reader can serve as a check on it:
// 0x01, command text, 0x02, payload, 0x03, checksum.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kStartOfHeader = 0x01;
inline constexpr std::uint8_t kStartOfText = 0x02;
inline constexpr std::uint8_t kEndOfText = 0x03;

// The longest command text ("M81") and the buffer a command frame must fit.
inline constexpr std::size_t kMaxTextLength = 3;
inline constexpr std::size_t kMaxCommandFrame = 160;

// Low 8 bits of the sum of the bytes.
std::uint8_t Checksum(const std::uint8_t* data, std::size_t count);

Bytes MakeFrame(std::string_view text, const std::uint8_t* payload, std::size_t count);
inline Bytes MakeFrame(std::string_view text, const Bytes& payload) {
    return MakeFrame(text, payload.data(), payload.size());
}

}  // namespace sim
