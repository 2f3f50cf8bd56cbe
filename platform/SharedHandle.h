#pragma once
// A handle field that several threads read while one may close it: each user
// takes its own reference (Get) and works with that, so closing the field
// never destroys the object under a thread still using it. Closing an object
// (SerialPort::Close, say) is what makes the other users' calls fail.

#include <memory>
#include <mutex>

namespace platform {

template <class T>
class SharedHandle {
  public:
    std::shared_ptr<T> Get() const {
        std::lock_guard<std::mutex> lock(lock_);
        return object_;
    }
    void Set(std::shared_ptr<T> object) {
        std::lock_guard<std::mutex> lock(lock_);
        object_.swap(object);
    }
    // Empties the field and hands back what it held.
    std::shared_ptr<T> Take() {
        std::lock_guard<std::mutex> lock(lock_);
        return std::move(object_);
    }
    bool operator==(std::nullptr_t) const { return Get() == nullptr; }

  private:
    mutable std::mutex lock_;
    std::shared_ptr<T> object_;
};

}  // namespace platform
