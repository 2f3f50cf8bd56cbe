#pragma once
// Threads as the rest of the program knows them from Win32: created suspended,
// resumed once their caller has set up what they read, joined with a time limit,
// and known by a 32-bit id that other threads post messages to.

#include <cstdint>
#include <memory>

namespace platform {

using ThreadId = uint32_t;

// The calling thread's id, never 0. Threads not started through Thread (the
// main thread, say) get one on their first call.
ThreadId CurrentThreadId();

class Thread {
  public:
    using StartRoutine = uint32_t (*)(void* argument);

    // A thread that waits for Resume before it calls routine(argument) and
    // ends with its result. Null, with LastError() set, when no thread can be
    // started.
    static std::unique_ptr<Thread> CreateSuspended(StartRoutine routine, void* argument);

    // Never blocks on a running thread. A thread that was never resumed ends
    // without calling its routine. One still running (its join timed out) is
    // detached and finishes on its own; its argument must outlive it, which is
    // the caller's business.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    ThreadId Id() const;
    // Lets the routine start; later calls do nothing.
    void Resume();
    // True once the thread has ended; false when timeoutMs (INFINITE: no limit)
    // ran out first. When a thread ends, its message queue goes away and the
    // named mutexes it owns become abandoned.
    bool Join(uint32_t timeoutMs);
    // The routine's result; meaningful after Join returned true.
    uint32_t ExitCode() const;

    struct State;

  private:
    struct Key {
        explicit Key() = default;
    };

  public:
    Thread(Key, std::shared_ptr<State> state);  // only CreateSuspended can make the key

  private:
    std::shared_ptr<State> state_;
};

}  // namespace platform
