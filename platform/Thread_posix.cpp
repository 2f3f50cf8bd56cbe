#include "platform/Thread.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/Errors.h"
#include "platform/ThreadServices.h"
#include "platform/Time.h"

namespace platform {

struct Thread::State {
    StartRoutine routine = nullptr;
    void* argument = nullptr;
    ThreadId id = 0;
    pthread_t handle{};

    std::mutex lock;
    std::condition_variable changed;
    bool resumed = false;
    bool cancelled = false;  // destroyed before it was resumed
    bool finished = false;
    bool joined = false;  // pthread_join done (only the owner touches this)
    uint32_t exitCode = 0;
};

namespace {

thread_local ThreadId t_threadId = 0;

void* ThreadMain(void* argument) {
    std::shared_ptr<Thread::State> state;
    {
        std::unique_ptr<std::shared_ptr<Thread::State>> handOver(
            static_cast<std::shared_ptr<Thread::State>*>(argument));
        state = std::move(*handOver);
    }
    detail::SetCurrentThreadId(state->id);
    bool run = false;
    {
        std::unique_lock<std::mutex> lock(state->lock);
        state->changed.wait(lock, [&] { return state->resumed || state->cancelled; });
        run = !state->cancelled;
    }
    const uint32_t exitCode = run ? state->routine(state->argument) : 0;
    detail::AbandonOwnedMutexes();
    detail::DestroyMessageQueue();
    {
        std::lock_guard<std::mutex> lock(state->lock);
        state->exitCode = exitCode;
        state->finished = true;
    }
    state->changed.notify_all();
    return nullptr;
}

}  // namespace

namespace detail {

ThreadId NewThreadId() {
    static std::atomic<ThreadId> next{1};
    ThreadId id = next.fetch_add(1);
    while (id == 0) {
        id = next.fetch_add(1);
    }
    return id;
}

void SetCurrentThreadId(ThreadId id) {
    t_threadId = id;
}

}  // namespace detail

ThreadId CurrentThreadId() {
    if (t_threadId == 0) {
        t_threadId = detail::NewThreadId();
    }
    return t_threadId;
}

std::unique_ptr<Thread> Thread::CreateSuspended(StartRoutine routine, void* argument) {
    auto state = std::make_shared<State>();
    state->routine = routine;
    state->argument = argument;
    state->id = detail::NewThreadId();
    auto handOver = std::make_unique<std::shared_ptr<State>>(state);
    const int rc = pthread_create(&state->handle, nullptr, ThreadMain, handOver.get());
    if (rc != 0) {
        SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ErrorFromErrno(rc));
        return nullptr;
    }
    handOver.release();  // ThreadMain owns it now
    return std::make_unique<Thread>(Key{}, std::move(state));
}

Thread::Thread(Key, std::shared_ptr<State> state) : state_(std::move(state)) {}

Thread::~Thread() {
    if (state_->joined) {
        return;
    }
    bool finished = false;
    {
        std::lock_guard<std::mutex> lock(state_->lock);
        if (!state_->resumed) {
            state_->cancelled = true;
            finished = true;  // it ends at once without running the routine
        } else {
            finished = state_->finished;
        }
    }
    state_->changed.notify_all();
    if (finished) {
        pthread_join(state_->handle, nullptr);
    } else {
        pthread_detach(state_->handle);
    }
}

ThreadId Thread::Id() const {
    return state_->id;
}

void Thread::Resume() {
    {
        std::lock_guard<std::mutex> lock(state_->lock);
        state_->resumed = true;
    }
    state_->changed.notify_all();
}

bool Thread::Join(uint32_t timeoutMs) {
    if (state_->joined) {
        return true;
    }
    {
        std::unique_lock<std::mutex> lock(state_->lock);
        auto ended = [&] { return state_->finished; };
        if (timeoutMs == INFINITE) {
            state_->changed.wait(lock, ended);
        } else if (!state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
            return false;
        }
    }
    // It has left its routine; this only waits for the last instructions.
    pthread_join(state_->handle, nullptr);
    state_->joined = true;
    return true;
}

uint32_t Thread::ExitCode() const {
    std::lock_guard<std::mutex> lock(state_->lock);
    return state_->exitCode;
}

}  // namespace platform
