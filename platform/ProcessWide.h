#pragma once
// Internal to the platform layers: a process-wide object that is never
// destroyed, so that a thread still running while the process exits (a worker
// that was given up after its join timed out) never meets a destroyed registry.

#include <new>

namespace platform::detail {

template <class T>
T& ProcessWide() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* const object = ::new (static_cast<void*>(storage)) T();
    return *object;
}

}  // namespace platform::detail
