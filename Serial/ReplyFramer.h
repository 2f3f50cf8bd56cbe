#pragma once
// Reply frames out of the byte stream of the port. Reads come in any size: a
// read may end in the middle of a frame, hold the end of one frame and the
// start of the next, several frames, or noise. The framer keeps the bytes it
// has not used, finds the start of a frame by its header (0x01, the expected
// text, 0x02), takes exactly one frame and keeps the bytes behind it for the
// next. After noise, or a frame that turns out damaged, it looks for the next
// header from the byte after the damaged frame's start, so a good frame is
// never lost because of what came before it.
//
// A read reply is a fixed frame (its payload may hold the end byte 0x03).
// Any other reply ends where its checksum is right: at the largest payload
// at once, else once the line has been quiet for the gap.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "Serial/FrameFormat.h"

class ReplyFramer {
  public:
    // Twice the largest frame, so a frame and the start of the next fit.
    static constexpr int32_t kCapacity = 2048;

    struct Expected {
        std::string_view text;  // the reply's header text, "M80" for a read
        int32_t fixedLength;    // the frame's length, 0 when it varies
        int32_t longestPayload;
    };
    struct Frame {
        bool good = false;               // whole, and accepted by the caller's check
        bool suspect = false;            // line errors hit its bytes
        const uint8_t* bytes = nullptr;  // valid until the framer is used again
        int32_t length = 0;
    };

    // Bytes read from the port at `now` (milliseconds). When they do not
    // fit, the oldest bytes held make room: they cannot begin a frame that
    // fits anyway.
    void Add(const uint8_t* bytes, uint32_t count, uint64_t now);
    // Line errors hit bytes held now: every frame that includes one is suspect.
    void MarkSuspect() { suspectEnd_ = held_; }

    // The next complete frame, or none while the next one is unfinished.
    // check(bytes, length) tells whether a complete frame is good (its
    // checksum). A frame with its header but no more bytes for gapMs is
    // handed over as not good. Noise passed over is added to *skipped.
    template <class Check>
    std::optional<Frame> Next(const Expected& expected, uint64_t now, uint32_t gapMs, Check check,
                              uint32_t* skipped);

    // Part of a frame is held and its rest awaited.
    bool Waiting() const { return held_ > 0; }
    void Clear() { held_ = suspectEnd_ = 0; }

  private:
    // Drops the first n bytes.
    void Drop(int32_t n);
    // Where a header of the expected reply starts at or after from; held_
    // when none does. A header cut off by the end of what is held counts.
    int32_t FindStart(const Expected& expected, int32_t from) const;
    bool HeaderAt(const Expected& expected, int32_t at) const;
    // Hands the first length bytes over; a whole frame is used up, of
    // anything else only its start byte, and what follows is looked at again.
    Frame Take(int32_t length, bool good, bool whole);

    uint8_t buffer_[kCapacity] = {};
    int32_t held_ = 0;
    int32_t suspectEnd_ = 0;  // the held bytes before this one are suspect
    uint64_t lastAdd_ = 0;
    uint8_t taken_[kCapacity] = {};  // the frame handed over
};

template <class Check>
std::optional<ReplyFramer::Frame> ReplyFramer::Next(const Expected& expected, uint64_t now,
                                                    uint32_t gapMs, Check check,
                                                    uint32_t* skipped) {
    const auto textLength = static_cast<int32_t>(expected.text.size());
    const int32_t headerLength = frame::HeaderLength(textLength);
    const int32_t shortest = frame::FrameLength(textLength, 0);
    const bool quiet = now - lastAdd_ >= gapMs;
    for (;;) {
        const int32_t start = FindStart(expected, 0);
        if (start > 0) {
            *skipped += static_cast<uint32_t>(start);
            Drop(start);
        }
        if (held_ == 0) {
            return std::nullopt;
        }
        if (expected.fixedLength > 0) {
            if (held_ >= expected.fixedLength) {
                const int32_t n = expected.fixedLength;
                // A fixed frame ends with the end byte and the checksum. With
                // its end byte in place it was whole, only damaged: it is used up.
                const bool whole = buffer_[frame::EndByteAt(n)] == frame::kEndOfText;
                return Take(n, whole && check(buffer_, n), whole);
            }
        } else {
            // The largest payload first: a shorter reply shows only when the
            // line falls quiet, and ends before the next header.
            const int32_t full = frame::FrameLength(textLength, expected.longestPayload);
            if (held_ >= full && buffer_[frame::EndByteAt(full)] == frame::kEndOfText &&
                check(buffer_, full)) {
                return Take(full, true, true);
            }
            if (quiet && held_ >= shortest) {
                const int32_t end = std::min(FindStart(expected, 1), held_);
                const bool good = end >= shortest &&
                                  buffer_[frame::EndByteAt(end)] == frame::kEndOfText &&
                                  check(buffer_, end);
                return Take(end, good, good);
            }
        }
        if (!quiet) {
            return std::nullopt;  // the rest is on its way
        }
        if (held_ < headerLength) {
            *skipped += static_cast<uint32_t>(held_);  // noise that looked like a start
            Drop(held_);
            return std::nullopt;
        }
        // Cut short: nothing more came. What follows its start is looked at again.
        return Take(held_, false, false);
    }
}
