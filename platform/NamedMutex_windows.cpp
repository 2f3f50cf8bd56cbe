// The system's mutexes. Their names get the process id in front: a mutex of
// this program is the process's own, as it is on the other systems, and two
// copies of the program never wait for each other through one.

#include <string>

#include "platform/Errors.h"
#include "platform/NamedMutex.h"

// After our headers: windows.h defines many of their names as macros.
#include <windows.h>

namespace platform {

struct NamedMutex::State {
    explicit State(HANDLE h) : handle(h) {}
    ~State() { ::CloseHandle(handle); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    HANDLE handle;
};

namespace {

std::string SystemName(const std::string& name) {
    return "Local\\Arvelo." + std::to_string(::GetCurrentProcessId()) + "." + name;
}

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name) {
    const HANDLE handle =
        ::CreateMutexA(nullptr, FALSE, name.empty() ? nullptr : SystemName(name).c_str());
    const DWORD error = ::GetLastError();
    if (handle == nullptr) {
        SetLastError(error);
        return nullptr;
    }
    return std::make_unique<NamedMutex>(std::make_shared<State>(handle),
                                        error == ERROR_ALREADY_EXISTS);
}

std::unique_ptr<NamedMutex> NamedMutex::Open(const std::string& name) {
    const HANDLE handle =
        ::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, SystemName(name).c_str());
    if (handle == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return std::make_unique<NamedMutex>(std::make_shared<State>(handle), true);
}

NamedMutex::NamedMutex(std::shared_ptr<State> state, bool existed)
    : state_(std::move(state)), existed_(existed) {}

NamedMutex::~NamedMutex() = default;

uint32_t NamedMutex::Wait(uint32_t timeoutMs) {
    const DWORD result = ::WaitForSingleObject(state_->handle, timeoutMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED || result == WAIT_TIMEOUT) {
        return result;
    }
    SetLastError(::GetLastError());
    return WAIT_FAILED;
}

bool NamedMutex::Release() {
    if (!::ReleaseMutex(state_->handle)) {
        SetLastError(::GetLastError());
        return false;
    }
    return true;
}

}  // namespace platform
