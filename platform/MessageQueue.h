#pragma once
// Thread message queues with the Win32 rules the program relies on:
// - a thread has a queue only from its first PeekMessage or WaitMessage on;
//   a post to a thread without one (not started yet, or ended) is refused;
// - posts never block; a queue holds at most MESSAGE_QUEUE_LIMIT messages and
//   refuses more;
// - PeekMessage takes the oldest message in a number range and leaves the
//   others queued in order;
// - WaitMessage returns when a message came that was not there at the
//   thread's last peek or wait, so messages left queued by a filtered peek do
//   not wake it again.

#include <cstdint>

#include "platform/Thread.h"

namespace platform {

struct Message {
    uint32_t message = 0;
    uint32_t wParam = 0;
    intptr_t lParam = 0;
};

constexpr uint32_t PM_NOREMOVE = 0;
constexpr uint32_t PM_REMOVE = 1;
constexpr uint32_t MESSAGE_QUEUE_LIMIT = 10000;

constexpr uint16_t LOWORD(uint32_t value) {
    return static_cast<uint16_t>(value & 0xFFFF);
}
constexpr uint16_t HIWORD(uint32_t value) {
    return static_cast<uint16_t>(value >> 16);
}
constexpr uint32_t MAKEWPARAM(uint16_t low, uint16_t high) {
    return static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16);
}

// False, with LastError() ERROR_INVALID_THREAD_ID (no queue) or
// ERROR_NOT_ENOUGH_QUOTA (queue full), when refused.
bool PostThreadMessage(ThreadId thread, uint32_t message, uint32_t wParam, intptr_t lParam);

// The oldest message of the calling thread's queue whose number lies in
// [filterMin, filterMax] (0, 0: any). PM_REMOVE takes it out of the queue.
bool PeekMessage(Message* message, uint32_t filterMin, uint32_t filterMax, uint32_t remove);

// Blocks until a new message arrives (see above).
void WaitMessage();
// The same with a time limit; false when it ran out.
bool WaitMessage(uint32_t timeoutMs);

}  // namespace platform
