// CSerialLoader's frame layer: the reader's command table, command frames,
// checksums and the check of a reply frame. The port, its threads and the
// reply stream are in CSerialLoader.cpp and ReplyFramer.cpp.

#include <algorithm>
#include <cstring>

#include "Serial/CSerialLoader.h"
#include "Serial/FrameFormat.h"

namespace {

// Code (its index), text, text length, and whether a payload must be given.
constexpr CSerialLoader::Command kCommands[CSerialLoader::COMMAND_COUNT] = {
    {0, "M80", 3, true},   {1, "D11", 3, false}, {2, "N24", 3, false}, {3, "F24", 3, false},
    {4, "L14", 3, false},  {5, "I14", 3, false}, {6, "R10", 3, false}, {7, "T10", 3, false},
    {8, "W10", 3, false},  {9, "V10", 3, false}, {10, "S3", 2, false}, {11, "P4", 2, false},
    {12, "B11", 3, true},  {13, "B", 1, false},  {14, "E", 1, false},  {15, "C14", 3, false},
    {16, "#14", 3, false}, {17, "F", 1, false},  {18, "M81", 3, true}, {19, "{10", 3, true},
    {20, "|10", 3, true},
};

// The read reply's size is worked out from the texts of the read and the
// stream command, which answers it.
static_assert(kCommands[CSerialLoader::READ_CODE].length == frame::kReadTextLength);
static_assert(kCommands[0].length == frame::kReadTextLength);

constexpr LinkResult kBadFrame{LinkStatus::BadFrame};

}  // namespace

const CSerialLoader::Command* CSerialLoader::CommandTable() {
    return kCommands;
}

int32_t CSerialLoader::FrameChecksum(const uint8_t* pBytes, int32_t nCount) {
    if (pBytes == nullptr || nCount <= 0) {
        return 0;
    }
    int32_t sum = 0;
    for (int32_t i = 0; i < nCount; ++i) {
        sum += pBytes[i];
    }
    return sum;
}

LinkResult CSerialLoader::BuildFrame(int8_t cCode, const char* pPayload, int32_t nLength,
                                     uint8_t (&out)[frame::kCommandFrameSize]) const {
    if (cCode < 0 || cCode >= COMMAND_COUNT) {
        return kBadFrame;
    }
    const Command& command = m_commands[cCode];
    if (command.payloadRequired && (nLength == 0 || pPayload == nullptr)) {
        return kBadFrame;
    }
    const int32_t payloadLength = pPayload != nullptr ? nLength : 0;
    if (payloadLength < 0 ||
        payloadLength > frame::PayloadLength(command.length, frame::kCommandFrameSize)) {
        return kBadFrame;
    }
    int32_t size = 0;
    out[size++] = frame::kStartOfHeader;
    std::memcpy(out + size, command.text, command.length);
    size += command.length;
    out[size++] = frame::kStartOfText;
    // Copied as a string: from a zero byte on, zeros fill the given length.
    bool ended = false;
    for (int32_t i = 0; i < payloadLength; ++i) {
        ended = ended || pPayload[i] == '\0';
        out[size++] = ended ? 0 : static_cast<uint8_t>(pPayload[i]);
    }
    out[size++] = frame::kEndOfText;
    out[size] = static_cast<uint8_t>(FrameChecksum(out, size) & 0xFF);
    return {LinkStatus::Ok, size + 1};
}

LinkResult CSerialLoader::ParseReply(int8_t cCode, const uint8_t* pFrame, int32_t nFrameLength,
                                     uint8_t* pDest, int32_t nCapacity) {
    if (pDest == nullptr || nCapacity <= 0 || pFrame == nullptr || cCode < 0 ||
        cCode >= COMMAND_COUNT) {
        return kBadFrame;
    }
    const int32_t textLength = m_commands[cCode].length;
    if (nFrameLength < frame::FrameLength(textLength, 0)) {
        return kBadFrame;
    }
    // A read is answered under the header of the stream command.
    const Command& expected = m_commands[cCode == READ_CODE ? 0 : cCode];
    if (std::memcmp(pFrame + frame::kTextAt, expected.text, textLength) != 0) {
        return kBadFrame;
    }
    // A read reply is a fixed frame; whatever follows it is ignored.
    const int32_t frameLength =
        cCode == READ_CODE ? std::min(nFrameLength, frame::kReadReplySize) : nFrameLength;
    const int32_t checksumAt = frame::ChecksumAt(frameLength);
    if ((FrameChecksum(pFrame, checksumAt) & 0xFF) != pFrame[checksumAt]) {
        return {LinkStatus::BadChecksum};
    }
    const int32_t length = frame::PayloadLength(textLength, frameLength);
    if (length > nCapacity - 1) {
        return kBadFrame;  // room is kept for a terminating zero
    }
    if (length > 0) {
        std::memcpy(pDest, pFrame + frame::HeaderLength(textLength), static_cast<size_t>(length));
    }
    return {LinkStatus::Ok, length};
}
