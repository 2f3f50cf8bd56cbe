// Mutexes with the Win32 rules, for the systems without the Win32 ones.

#include "platform/NamedMutex.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Errors.h"
#include "platform/Event.h"
#include "platform/ProcessWide.h"
#include "platform/Thread.h"
#include "platform/ThreadServices.h"
#include "platform/Time.h"

namespace platform {

struct NamedMutex::State {
    std::mutex lock;
    std::condition_variable released;
    ThreadId owner = 0;
    uint32_t count = 0;
    bool abandoned = false;
};

namespace {

struct Names {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<NamedMutex::State>> byName;
};

Names& AllNames() {
    return detail::ProcessWide<Names>();
}

// Mutexes the calling thread owns; at its end they become abandoned.
struct Owned {
    std::vector<std::shared_ptr<NamedMutex::State>> states;
    ~Owned() { detail::AbandonOwnedMutexes(); }
};
thread_local Owned t_owned;

}  // namespace

namespace detail {

void AbandonOwnedMutexes() {
    const ThreadId me = CurrentThreadId();
    for (const auto& state : t_owned.states) {
        {
            std::lock_guard<std::mutex> lock(state->lock);
            if (state->owner != me) {
                continue;
            }
            state->owner = 0;
            state->count = 0;
            state->abandoned = true;
        }
        state->released.notify_one();
    }
    t_owned.states.clear();
}

}  // namespace detail

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name) {
    if (name.empty()) {
        return std::make_unique<NamedMutex>(std::make_shared<State>(), false);
    }
    Names& names = AllNames();
    std::lock_guard<std::mutex> lock(names.lock);
    std::weak_ptr<State>& entry = names.byName[name];
    if (auto existing = entry.lock()) {
        return std::make_unique<NamedMutex>(std::move(existing), true);
    }
    auto state = std::make_shared<State>();
    entry = state;
    return std::make_unique<NamedMutex>(std::move(state), false);
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
    Names& names = AllNames();
    std::lock_guard<std::mutex> lock(names.lock);
    const auto it = names.byName.find(name);
    std::shared_ptr<State> state = it != names.byName.end() ? it->second.lock() : nullptr;
    if (!state) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return std::make_unique<NamedMutex>(std::move(state), true);
}

NamedMutex::NamedMutex(std::shared_ptr<State> state, bool existed)
    : state_(std::move(state)), existed_(existed) {}

NamedMutex::~NamedMutex() {
    // Drop the name with the last object that refers to it.
    Names& names = AllNames();
    std::lock_guard<std::mutex> lock(names.lock);
    state_.reset();
    std::erase_if(names.byName, [](const auto& entry) { return entry.second.expired(); });
}

uint32_t NamedMutex::Wait(uint32_t timeoutMs) {
    const ThreadId me = CurrentThreadId();
    State& s = *state_;
    std::unique_lock<std::mutex> lock(s.lock);
    if (s.owner == me) {
        ++s.count;
        return WAIT_OBJECT_0;
    }
    auto free = [&] { return s.owner == 0; };
    if (timeoutMs == INFINITE) {
        s.released.wait(lock, free);
    } else if (!s.released.wait_for(lock, std::chrono::milliseconds(timeoutMs), free)) {
        return WAIT_TIMEOUT;
    }
    s.owner = me;
    s.count = 1;
    const uint32_t result = s.abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    s.abandoned = false;
    lock.unlock();
    t_owned.states.push_back(state_);
    return result;
}

bool NamedMutex::Release() {
    const ThreadId me = CurrentThreadId();
    {
        std::lock_guard<std::mutex> lock(state_->lock);
        if (state_->owner != me) {
            SetLastError(ERROR_NOT_OWNER);
            return false;
        }
        if (--state_->count > 0) {
            return true;
        }
        state_->owner = 0;
    }
    state_->released.notify_one();
    auto& owned = t_owned.states;
    owned.erase(std::find(owned.begin(), owned.end(), state_));
    return true;
}

}  // namespace platform
