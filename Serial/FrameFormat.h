#pragma once
// The frame of every command and reply of the reader: 0x01, the command's
// text, 0x02, the payload, 0x03, and the low 8 bits of the sum of all bytes
// before it. The end byte is also the port's event character: its arrival
// wakes the link's reader thread.
//
// Every size and position in a frame is worked out here, and so is the time
// a frame takes on the line.

#include <cstdint>

namespace frame {

inline constexpr uint8_t kStartOfHeader = 0x01;
inline constexpr uint8_t kStartOfText = 0x02;
inline constexpr uint8_t kEndOfText = 0x03;

// The command's text follows the start byte.
inline constexpr int32_t kTextAt = 1;
// Bytes around the text and the payload: 0x01 and 0x02 before the payload,
// the end byte and the checksum after it.
inline constexpr int32_t kLeadBytes = 2;
inline constexpr int32_t kTrailBytes = 2;

// The start byte, the text and 0x02; the payload starts behind them.
constexpr int32_t HeaderLength(int32_t textLength) {
    return textLength + kLeadBytes;
}
constexpr int32_t FrameLength(int32_t textLength, int32_t payloadLength) {
    return HeaderLength(textLength) + payloadLength + kTrailBytes;
}
constexpr int32_t PayloadLength(int32_t textLength, int32_t frameLength) {
    return frameLength - FrameLength(textLength, 0);
}
constexpr int32_t EndByteAt(int32_t frameLength) {
    return frameLength - kTrailBytes;
}
constexpr int32_t ChecksumAt(int32_t frameLength) {
    return frameLength - 1;
}

// The longest command frame the reader takes.
inline constexpr int32_t kCommandFrameSize = 160;

// The read command ("M81" and an address of five hexadecimal digits) is
// answered under the stream command's header ("M80") by a frame of fixed
// length holding one block of memory, the longest payload of any reply.
inline constexpr int32_t kReadTextLength = 3;
inline constexpr int32_t kReadAddressDigits = 5;
inline constexpr int32_t kReadPayloadBytes = 128;
inline constexpr int32_t kReadCommandSize = FrameLength(kReadTextLength, kReadAddressDigits);
inline constexpr int32_t kReadReplySize = FrameLength(kReadTextLength, kReadPayloadBytes);
inline constexpr int32_t kLongestReplyPayload = kReadPayloadBytes;

// The reader's line: 8 data bits, no parity and one stop bit, so a byte
// takes 10 bits with its start bit.
inline constexpr uint32_t kLineBaud = 9600;
inline constexpr uint8_t kDataBits = 8;
inline constexpr uint32_t kBitsPerByte = 1 + kDataBits + 1;

// Milliseconds that bytes take on the line, rounded up.
constexpr uint32_t WireMs(uint32_t bytes) {
    return (bytes * kBitsPerByte * 1000 + kLineBaud - 1) / kLineBaud;
}
// A read exchange on the wire: the command and its reply.
inline constexpr uint32_t kReadExchangeWireMs = WireMs(kReadCommandSize + kReadReplySize);

}  // namespace frame
