#pragma once
// Faults the virtual reader can put on the line on purpose. Replies are
// counted from 1 in the order the unit makes them (dropped ones included).
//
// A pseudo-terminal carries bytes and nothing else: framing and parity errors,
// overruns and BREAK conditions cannot reach the program through it (a BREAK
// sent with tcsendbreak or TIOCSBRK on the master side is silently ignored, and
// the slave has no error counters), so a line-error burst is given here as
// what it does to the bytes: a run of garbled bytes in a reply.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/sim/Frame.h"
#include "tools/sim/MemoryImage.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// Which replies a fault hits: reply `at`, and every `every`th reply.
struct ReplySet {
    std::uint64_t at = 0;     // 0: none
    std::uint64_t every = 0;  // 0: none

    bool Contains(std::uint64_t reply) const {
        return reply == at || (every != 0 && reply % every == 0);
    }
};

struct FaultOptions {
    ReplySet badChecksum;        // checksum byte off by one
    ReplySet drop;               // not sent at all
    ReplySet wrongHeader;        // "M81" where "M80" belongs (checksum kept right)
    ReplySet truncate;           // only the first truncateTo bytes are sent
    ReplySet garbage;            // garbageBytes of noise before the frame
    ReplySet noise;              // noiseBytes of the payload garbled, the checksum left as it was
    ReplySet late;               // sent lateBy after its time; the replies behind it wait
    std::size_t truncateTo = 0;  // 0: half the frame
    std::size_t garbageBytes = 8;
    std::size_t noiseBytes = 4;
    std::chrono::milliseconds lateBy{500};
    // After this many replies the unit falls silent (0: never), and answers
    // again resumeAfter later (0: never).
    std::uint64_t stopAfter = 0;
    std::chrono::milliseconds resumeAfter{0};
    // Chain position (from 1) of a log whose header block is served without
    // its validity mark (0: none).
    int invalidLog = 0;
};

class FaultInjector {
  public:
    explicit FaultInjector(const FaultOptions& options) : options_(options) {}

    // Counts a reply the unit makes at `now` and returns the bytes that go on
    // the line instead (empty: nothing).
    Bytes Shape(Bytes reply, Clock::time_point now);
    // How much later than its time the reply just shaped leaves.
    std::chrono::milliseconds Delay() const {
        return options_.late.Contains(replies_) ? options_.lateBy : std::chrono::milliseconds(0);
    }

    std::uint64_t Replies() const { return replies_; }

  private:
    FaultOptions options_;
    std::uint64_t replies_ = 0;
    bool silent_ = false;
    Clock::time_point silentSince_{};
};

// Overwrites the last byte of the validity mark of the log at chain position
// `log` (from 1); false with a reason when the chain has no such log.
bool ClearValidityMark(MemoryImage& memory, int log, std::string* error);

}  // namespace sim
