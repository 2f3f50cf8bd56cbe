#pragma once
// A list that owns deep copies of what is appended to it, with the lookup
// rule of the log model: a negative index gives the first item, an index past
// the end gives none.

#include <deque>
#include <utility>

template <class T>
class OwnedList {
  public:
    // A deque keeps earlier items in place, so pointers handed out stay valid
    // while more items are appended.
    void append(const T& item) { items_.push_back(item); }
    void append(T&& item) { items_.push_back(std::move(item)); }
    int count() const { return static_cast<int>(items_.size()); }
    void clear() { items_.clear(); }

    const T* item(int index) const {
        if (items_.empty() || index >= count()) {
            return nullptr;
        }
        return &items_[index < 0 ? 0 : static_cast<std::size_t>(index)];
    }
    T* item(int index) { return const_cast<T*>(static_cast<const OwnedList&>(*this).item(index)); }

  private:
    std::deque<T> items_;
};
