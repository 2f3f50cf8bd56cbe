#include "platform/MessageQueue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/Errors.h"
#include "platform/ProcessWide.h"
#include "platform/ThreadServices.h"
#include "platform/Time.h"

namespace platform {
namespace {

struct Queue {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Message> messages;
    uint64_t posted = 0;  // messages ever posted
    uint64_t seen = 0;    // posted, as of the owner's last peek or wait
    bool closed = false;
};

struct Queues {
    std::mutex lock;
    std::unordered_map<ThreadId, std::shared_ptr<Queue>> byThread;
};

Queues& AllQueues() {
    return detail::ProcessWide<Queues>();
}

// The calling thread's queue; its destructor ends the queue of a thread that
// was not started by Thread (those end theirs explicitly).
struct QueueSlot {
    std::shared_ptr<Queue> queue;
    ~QueueSlot() { detail::DestroyMessageQueue(); }
};
thread_local QueueSlot t_slot;

Queue& OwnQueue() {
    if (!t_slot.queue) {
        t_slot.queue = std::make_shared<Queue>();
        Queues& all = AllQueues();
        std::lock_guard<std::mutex> lock(all.lock);
        all.byThread[CurrentThreadId()] = t_slot.queue;
    }
    return *t_slot.queue;
}

bool Matches(uint32_t message, uint32_t filterMin, uint32_t filterMax) {
    return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

}  // namespace

namespace detail {

void DestroyMessageQueue() {
    std::shared_ptr<Queue> queue = std::move(t_slot.queue);
    if (!queue) {
        return;
    }
    {
        Queues& all = AllQueues();
        std::lock_guard<std::mutex> lock(all.lock);
        all.byThread.erase(CurrentThreadId());
    }
    std::lock_guard<std::mutex> lock(queue->lock);
    queue->closed = true;  // a post that found it a moment ago is refused
    queue->messages.clear();
}

}  // namespace detail

bool PostThreadMessage(ThreadId thread, uint32_t message, uint32_t wParam, intptr_t lParam) {
    std::shared_ptr<Queue> queue;
    {
        Queues& all = AllQueues();
        std::lock_guard<std::mutex> lock(all.lock);
        const auto it = all.byThread.find(thread);
        if (it != all.byThread.end()) {
            queue = it->second;
        }
    }
    if (!queue) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(queue->lock);
        if (queue->closed) {
            SetLastError(ERROR_INVALID_THREAD_ID);
            return false;
        }
        if (queue->messages.size() >= MESSAGE_QUEUE_LIMIT) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return false;
        }
        queue->messages.push_back({message, wParam, lParam});
        ++queue->posted;
    }
    queue->arrived.notify_one();
    return true;
}

bool PeekMessage(Message* message, uint32_t filterMin, uint32_t filterMax, uint32_t remove) {
    Queue& queue = OwnQueue();
    std::lock_guard<std::mutex> lock(queue.lock);
    queue.seen = queue.posted;
    for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
        if (Matches(it->message, filterMin, filterMax)) {
            *message = *it;
            if (remove == PM_REMOVE) {
                queue.messages.erase(it);
            }
            return true;
        }
    }
    return false;
}

void WaitMessage() {
    WaitMessage(INFINITE);
}

bool WaitMessage(uint32_t timeoutMs) {
    Queue& queue = OwnQueue();
    std::unique_lock<std::mutex> lock(queue.lock);
    auto fresh = [&] { return queue.posted != queue.seen; };
    bool arrived = true;
    if (timeoutMs == INFINITE) {
        queue.arrived.wait(lock, fresh);
    } else {
        arrived = queue.arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), fresh);
    }
    queue.seen = queue.posted;
    return arrived;
}

}  // namespace platform
