// Threads over the Win32 calls the rest of the program imitates elsewhere:
// created suspended, resumed, waited for with a time limit.

#include "platform/Errors.h"
#include "platform/Thread.h"
#include "platform/ThreadServices.h"

// After our headers: windows.h defines many of their names as macros.
#include <windows.h>

#include <atomic>
#include <memory>

namespace platform {

struct Thread::State {
    StartRoutine routine = nullptr;
    void* argument = nullptr;
    HANDLE handle = nullptr;
    ThreadId id = 0;
    std::atomic<bool> resumed{false};
    std::atomic<bool> cancelled{false};  // destroyed before it was resumed
};

namespace {

DWORD WINAPI ThreadMain(LPVOID argument) {
    // The thread keeps its state alive: it may outlive the Thread object.
    const std::shared_ptr<Thread::State> state = *std::unique_ptr<std::shared_ptr<Thread::State>>(
        static_cast<std::shared_ptr<Thread::State>*>(argument));
    const uint32_t exitCode = state->cancelled ? 0 : state->routine(state->argument);
    detail::DestroyMessageQueue();  // the system abandons the thread's mutexes itself
    return exitCode;
}

}  // namespace

namespace detail {

void SetCurrentThreadId(ThreadId) {}  // the system's own ids serve

ThreadId NewThreadId() {
    return ::GetCurrentThreadId();
}

}  // namespace detail

ThreadId CurrentThreadId() {
    return ::GetCurrentThreadId();
}

std::unique_ptr<Thread> Thread::CreateSuspended(StartRoutine routine, void* argument) {
    auto state = std::make_shared<State>();
    state->routine = routine;
    state->argument = argument;
    DWORD id = 0;
    auto handOver = std::make_unique<std::shared_ptr<State>>(state);
    state->handle = ::CreateThread(nullptr, 0, ThreadMain, handOver.get(), CREATE_SUSPENDED, &id);
    if (state->handle == nullptr) {
        SetLastError(::GetLastError());
        return nullptr;
    }
    handOver.release();  // ThreadMain owns it now
    state->id = id;
    return std::make_unique<Thread>(Key{}, std::move(state));
}

Thread::Thread(Key, std::shared_ptr<State> state) : state_(std::move(state)) {}

Thread::~Thread() {
    // A thread never resumed ends at once without running its routine; one
    // still running finishes on its own.
    if (!state_->resumed) {
        state_->cancelled = true;
        ::ResumeThread(state_->handle);
    }
    ::CloseHandle(state_->handle);
}

ThreadId Thread::Id() const {
    return state_->id;
}

void Thread::Resume() {
    if (!state_->resumed.exchange(true)) {
        ::ResumeThread(state_->handle);
    }
}

bool Thread::Join(uint32_t timeoutMs) {
    return ::WaitForSingleObject(state_->handle, timeoutMs) == WAIT_OBJECT_0;
}

uint32_t Thread::ExitCode() const {
    DWORD code = 0;
    ::GetExitCodeThread(state_->handle, &code);
    return code;
}

}  // namespace platform
