#pragma once
// Mutexes known by name across the process ("DeviceMutex"), with the Win32
// rules: a thread owns the mutex it acquired and may acquire it again
// (recursively; each Wait needs its Release); when the owner ends without
// releasing, the mutex is abandoned and the next waiter acquires it with
// WAIT_ABANDONED. The mutex lives while any NamedMutex object refers to it.
// On Windows it is the system's mutex, under a name private to the process.

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class NamedMutex {
  public:
    struct State;

    // Creates the mutex of that name, not owned, or opens it when it exists
    // (AlreadyExisted() then tells so). An empty name makes a private mutex.
    static std::unique_ptr<NamedMutex> Create(const std::string& name);
    // Opens an existing mutex; null with LastError() ERROR_FILE_NOT_FOUND
    // when nobody created one of that name.
    static std::unique_ptr<NamedMutex> Open(const std::string& name);

    NamedMutex(std::shared_ptr<State> state, bool existed);
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    ~NamedMutex();

    bool AlreadyExisted() const { return existed_; }

    // WAIT_OBJECT_0 or WAIT_ABANDONED: the calling thread owns the mutex;
    // WAIT_TIMEOUT: timeoutMs (INFINITE: no limit) ran out.
    uint32_t Wait(uint32_t timeoutMs);
    // False (ERROR_NOT_OWNER) when the calling thread does not own it.
    bool Release();

  private:
    std::shared_ptr<State> state_;
    bool existed_;
};

}  // namespace platform
