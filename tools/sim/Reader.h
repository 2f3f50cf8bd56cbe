#pragma once
// The reader unit's side of the protocol, without I/O and without a clock: it
// is fed the bytes that arrive on the line and gives back, for every complete
// command frame, what the unit makes of it and the reply it sends (if any).
//
// What the unit does with a frame whose checksum is right:
//   "M81" + 5 hex digits   read: the "M80" frame of the 128-byte block there
//   "M81" + 128 bytes      block write at the write position, which starts at 0
//                          and moves on a block with each write; no reply
//   "M80" + 5 hex digits   stream: up to 128 bytes of the last log, counted in
//                          bytes from its header block; no reply without a log
//   "{10" + any payload    erase: the whole memory reads 0xFF, the write
//                          position goes back to 0; no reply
//   "|10" + any payload    wait: no reply
//   anything else          no reply
// A frame with a wrong checksum is ignored. Bytes outside frames are noise.
// Frame ends: a payload ends at the first 0x03, except in "M81" frames, where a
// 0x03 ends it only after 5 bytes (a read) or 128 bytes (a block write); so a
// block whose sixth byte is 0x03 cannot be written. A 0x01 inside any other
// payload starts a new frame (the one before was cut short).

#include <cstdint>
#include <optional>
#include <string>

#include "tools/sim/Frame.h"
#include "tools/sim/MemoryImage.h"

namespace sim {

struct CommandFrame {
    std::string text;  // e.g. "M81"
    Bytes payload;
    bool checksumOk = false;

    std::string PayloadText() const { return {payload.begin(), payload.end()}; }
};

struct Exchange {
    CommandFrame command;
    Bytes reply;  // empty: the unit does not answer
    bool memoryChanged = false;
};

class Reader {
  public:
    explicit Reader(MemoryImage memory) : memory_(std::move(memory)) {}

    // Takes one byte from the line; a value when it completes a frame.
    std::optional<Exchange> Receive(std::uint8_t byte);

    const MemoryImage& Memory() const { return memory_; }
    MemoryImage& Memory() { return memory_; }

  private:
    enum class State { Idle, Text, Payload, Checksum };

    // Whether a 0x03 after `size` payload bytes ends the frame. In a block
    // write the byte is data, unless it comes where a read frame ends.
    bool EndsPayload(std::size_t size) const;
    void Restart();
    Exchange Execute(CommandFrame command);
    Bytes ReadReply(const Bytes& payload) const;
    Bytes StreamReply(const Bytes& payload) const;

    MemoryImage memory_;
    std::uint32_t writeAddress_ = 0;
    State state_ = State::Idle;
    Bytes frame_;  // the bytes of the frame so far, from 0x01 on
    CommandFrame command_;
};

}  // namespace sim
