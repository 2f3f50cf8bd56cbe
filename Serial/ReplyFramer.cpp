#include "Serial/ReplyFramer.h"

#include <cstring>

#include "Serial/FrameFormat.h"

using frame::kStartOfHeader;
using frame::kStartOfText;

void ReplyFramer::Add(const uint8_t* bytes, uint32_t count, uint64_t now) {
    if (count == 0) {
        return;
    }
    lastAdd_ = now;
    if (count > static_cast<uint32_t>(kCapacity)) {
        bytes += count - kCapacity;
        count = kCapacity;
    }
    const auto n = static_cast<int32_t>(count);
    if (held_ + n > kCapacity) {
        Drop(held_ + n - kCapacity);
    }
    std::memcpy(buffer_ + held_, bytes, count);
    held_ += n;
}

void ReplyFramer::Drop(int32_t n) {
    n = std::min(n, held_);
    std::memmove(buffer_, buffer_ + n, static_cast<size_t>(held_ - n));
    held_ -= n;
    suspectEnd_ = std::max(0, suspectEnd_ - n);
}

bool ReplyFramer::HeaderAt(const Expected& expected, int32_t at) const {
    const int32_t headerLength = frame::HeaderLength(static_cast<int32_t>(expected.text.size()));
    for (int32_t i = 0; i < headerLength && at + i < held_; ++i) {
        const uint8_t want = i == 0 ? kStartOfHeader
                             : i == headerLength - 1
                                 ? kStartOfText
                                 : static_cast<uint8_t>(expected.text[i - frame::kTextAt]);
        if (buffer_[at + i] != want) {
            return false;
        }
    }
    return true;
}

int32_t ReplyFramer::FindStart(const Expected& expected, int32_t from) const {
    for (int32_t at = from; at < held_; ++at) {
        if (buffer_[at] == kStartOfHeader && HeaderAt(expected, at)) {
            return at;
        }
    }
    return held_;
}

ReplyFramer::Frame ReplyFramer::Take(int32_t length, bool good, bool whole) {
    Frame frame;
    frame.good = good;
    frame.suspect = suspectEnd_ > 0;
    std::memcpy(taken_, buffer_, static_cast<size_t>(length));
    frame.bytes = taken_;
    frame.length = length;
    Drop(whole ? length : 1);
    return frame;
}
