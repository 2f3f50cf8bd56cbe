#pragma once
// The payloads of the replies the reader thread has announced and the client
// has not taken yet, oldest first. Replies can come back to back, faster than
// the client handles their notifications; each keeps its own slot until it is
// taken, so none is overwritten by the next. The slots are made once.

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

class ReplyQueue {
  public:
    static constexpr int kSlots = 16;

    explicit ReplyQueue(uint32_t slotSize) : slotSize_(slotSize), bytes_(kSlots * slotSize) {}

    // False when every slot is taken (the client is not taking replies).
    bool Push(const uint8_t* payload, int32_t length) {
        std::lock_guard<std::mutex> lock(lock_);
        if (count_ == kSlots || length < 0 || static_cast<uint32_t>(length) > slotSize_) {
            return false;
        }
        const int slot = (first_ + count_) % kSlots;
        std::memcpy(bytes_.data() + slot * slotSize_, payload, static_cast<size_t>(length));
        lengths_[slot] = length;
        ++count_;
        return true;
    }
    // Takes back the newest payload (its notification could not be posted).
    void DropNewest() {
        std::lock_guard<std::mutex> lock(lock_);
        count_ = count_ > 0 ? count_ - 1 : 0;
    }
    // Moves the oldest payload to dest (slotSize bytes); false when none waits.
    bool Take(uint8_t* dest) {
        std::lock_guard<std::mutex> lock(lock_);
        if (count_ == 0) {
            return false;
        }
        std::memcpy(dest, bytes_.data() + first_ * slotSize_,
                    static_cast<size_t>(lengths_[first_]));
        first_ = (first_ + 1) % kSlots;
        --count_;
        return true;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(lock_);
        first_ = count_ = 0;
    }

  private:
    std::mutex lock_;
    const uint32_t slotSize_;
    std::vector<uint8_t> bytes_;
    int32_t lengths_[kSlots] = {};
    int first_ = 0;
    int count_ = 0;
};
