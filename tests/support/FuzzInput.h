#pragma once
// A fuzz target's input handed out piece by piece, each piece in its own
// exact-size buffer so that any read past it is caught.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

class Input {
  public:
    Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::vector<char> Take(std::size_t n) {
        n = n < size_ - pos_ ? n : size_ - pos_;
        std::vector<char> piece(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return piece;
    }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool Empty() const { return pos_ >= size_; }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace fuzz
