// The system's manual-reset events and its wait for any of several.

#include <algorithm>
#include <vector>

#include "platform/Check.h"
#include "platform/Event.h"

// After our headers: windows.h defines many of their names as macros.
#include <windows.h>

namespace platform {

Event::Event(bool initiallySet) : handle_(::CreateEventW(nullptr, TRUE, initiallySet, nullptr)) {
    ARVELO_ASSERT(handle_ != nullptr);
}

Event::~Event() {
    ::CloseHandle(handle_);
}

void Event::Set() {
    ::SetEvent(handle_);
}

void Event::Reset() {
    ::ResetEvent(handle_);
}

uint32_t WaitForAny(std::span<Event* const> events, uint32_t timeoutMs) {
    if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS ||
        std::find(events.begin(), events.end(), nullptr) != events.end()) {
        return WAIT_FAILED;
    }
    std::vector<HANDLE> handles;
    handles.reserve(events.size());
    for (Event* e : events) {
        handles.push_back(e->handle_);
    }
    const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                  handles.data(), FALSE, timeoutMs);
    if (result == WAIT_TIMEOUT || result - WAIT_OBJECT_0 < handles.size()) {
        return result;
    }
    return WAIT_FAILED;
}

}  // namespace platform
