// Events built on condition variables, for the systems without the Win32 ones.

#include "platform/Event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/ProcessWide.h"

namespace platform {
namespace detail {
struct EventWaiter {
    std::condition_variable wake;
};
}  // namespace detail

namespace {
// One lock for every event: a wait for several events then needs no lock order.
std::mutex& EventsLock() {
    return detail::ProcessWide<std::mutex>();
}
}  // namespace

Event::Event(bool initiallySet) : set_(initiallySet) {}

Event::~Event() = default;

void Event::Set() {
    std::lock_guard<std::mutex> lock(EventsLock());
    set_ = true;
    for (detail::EventWaiter* waiter : waiters_) {
        waiter->wake.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(EventsLock());
    set_ = false;
}

uint32_t WaitForAny(std::span<Event* const> events, uint32_t timeoutMs) {
    if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS ||
        std::find(events.begin(), events.end(), nullptr) != events.end()) {
        return WAIT_FAILED;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    detail::EventWaiter waiter;
    std::unique_lock<std::mutex> lock(EventsLock());
    for (Event* e : events) {
        e->waiters_.push_back(&waiter);
    }
    uint32_t result = WAIT_TIMEOUT;
    bool timedOut = false;
    for (;;) {
        const auto set =
            std::find_if(events.begin(), events.end(), [](Event* e) { return e->set_; });
        if (set != events.end()) {
            result = WAIT_OBJECT_0 + static_cast<uint32_t>(set - events.begin());
            break;
        }
        if (timedOut) {
            break;
        }
        if (timeoutMs == INFINITE) {
            waiter.wake.wait(lock);
        } else {
            timedOut = waiter.wake.wait_until(lock, deadline) == std::cv_status::timeout;
        }
    }
    for (Event* e : events) {
        auto& w = e->waiters_;
        w.erase(std::find(w.begin(), w.end(), &waiter));
    }
    return result;
}

}  // namespace platform
