#pragma once
// Manual-reset events and the waits on them: one event, or any of several,
// with a time limit in milliseconds (INFINITE for none). On Windows they are
// the system's events; elsewhere waits block on condition variables. Nothing
// polls.
//
// Wait results are the Win32 ones: WAIT_OBJECT_0 + index of the first set
// event, WAIT_TIMEOUT, or WAIT_FAILED for an empty or oversized list.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/Time.h"

namespace platform {

constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_ABANDONED = 0x80;
constexpr uint32_t WAIT_TIMEOUT = 258;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
constexpr uint32_t MAXIMUM_WAIT_OBJECTS = 64;

namespace detail {
struct EventWaiter;
}

class Event {
  public:
    explicit Event(bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Stays set, waking every waiter, until Reset.
    void Set();
    void Reset();

  private:
    friend uint32_t WaitForAny(std::span<Event* const> events, uint32_t timeoutMs);
#ifdef _WIN32
    void* handle_;
#else
    bool set_;
    std::vector<detail::EventWaiter*> waiters_;
#endif
};

uint32_t WaitForAny(std::span<Event* const> events, uint32_t timeoutMs);

inline uint32_t WaitForSingle(Event& event, uint32_t timeoutMs) {
    Event* events[] = {&event};
    return WaitForAny(events, timeoutMs);
}

}  // namespace platform
