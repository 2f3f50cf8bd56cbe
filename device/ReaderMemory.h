#pragma once
// The reader's memory as a download reads it: 20-bit addresses of two-byte
// units, read 128 bytes at a time with the read command. Logs start on page
// boundaries and form a chain; each holds an information block, a header
// block and then its data records up to an end marker.
//
// The engine and the memory dump read the memory through these numbers. The
// virtual reader (tools/sim) keeps its own copy on purpose: it is the other
// side of the line, and a mistake here must not be mirrored there.

#include <cstdint>

#include "Serial/CSerialLoader.h"
#include "Serial/FrameFormat.h"
#include "device/DeviceMessages.h"

namespace reader {

// One read brings one block.
inline constexpr int kBlockBytes = 128;
inline constexpr uint32_t kBlockUnits = kBlockBytes / 2;
inline constexpr uint32_t kLastAddress = 0xFFFFF;  // five hexadecimal digits
// The link's buffer for one reply's payload.
inline constexpr uint32_t kReplyBufferBytes = 1024;

// The chain: the first log starts at address 0; byte kNextPageByte of a
// log's first block is the page of the next entry, kNoNextPage for none. The
// last entry is the free memory behind the last log.
inline constexpr uint32_t kPageUnits = 2048;
inline constexpr int kNextPageByte = 32;
inline constexpr uint8_t kNoNextPage = 0xFF;
inline constexpr int kMaxLogs = 1000;  // a chain can loop

// A log, in address units from its start.
inline constexpr uint32_t kInfoBlockOffset = 288;    // 0x120
inline constexpr uint32_t kHeaderBlockOffset = 448;  // 0x1C0

// The information block: the channel count as two digits, the instrument
// type as two digits, its name and its tag.
inline constexpr int kChannelCountByte = 17;
inline constexpr int kTypeDigitsByte = 102;
inline constexpr int kTypeNameByte = 107;
inline constexpr int kTypeTagByte = 117;

// The header block: a validity mark of three 0xFF bytes, the first part of
// the log's header text, one record per channel, the rest of the header text.
inline constexpr int kHeaderMarkBytes = 3;
constexpr bool HasHeaderMark(const uint8_t* block) {
    return block[0] == 0xFF && block[1] == 0xFF && block[2] == 0xFF;
}
inline constexpr int kHeaderTextFirstBytes = 56;
inline constexpr int kChannelRecordsByte = 59;
inline constexpr int kChannelRecordBytes = 84;
inline constexpr int kHeaderTextRestBytes = 53;
constexpr int HeaderBytes(int channels) {
    return kChannelRecordsByte + kChannelRecordBytes * channels + kHeaderTextRestBytes;
}
// The single-log stream carries the channel count in its header block, read
// once kStreamCountKnownBytes have come.
inline constexpr int kStreamChannelCountByte = 35;
inline constexpr int kStreamCountKnownBytes = 42;

// 0xFD, 0xFE and 0xFF are never data: they end a log.
constexpr bool IsEndMarker(uint8_t byte) {
    return byte >= 0xFD;
}

// The link knows the read command by its reply frame; both must agree.
static_assert(CSerialLoader::READ_CODE == CMD_READ);
static_assert(frame::kReadPayloadBytes == kBlockBytes);

}  // namespace reader
