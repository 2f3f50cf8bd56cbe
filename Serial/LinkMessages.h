#pragma once
// What the serial link posts to its client thread: the low word of wParam
// of each notification, and the request that ends the link's reader thread.

#include <cstdint>

constexpr uint16_t LINK_REPLY = 33268;
constexpr uint16_t LINK_ERROR = 33270;
// A reply frame came damaged (a bad checksum, cut short, hit by line errors);
// high word: the command's code.
constexpr uint16_t LINK_REJECTED = 33286;
// The port stopped working (a USB adapter pulled, the far end gone); posted once.
constexpr uint16_t LINK_GONE = 33287;
constexpr uint16_t LINK_QUIT = 100;
