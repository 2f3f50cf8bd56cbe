#pragma once
// What a request of the archive yields: its value, or a Failure: what kind
// of failure (to choose what to do next) and what to tell the user.

#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "archive/Database.h"

namespace archive {

struct Failure {
    Fault kind = Fault::Other;
    std::string message;  // in words for the user
};

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : held_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : held_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return held_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() { return std::get<0>(held_); }
    const T& value() const { return std::get<0>(held_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Only when not ok().
    const Failure& failure() const { return std::get<1>(held_); }

  private:
    std::variant<T, Failure> held_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return !failure_; }
    explicit operator bool() const { return ok(); }
    // Only when not ok().
    const Failure& failure() const { return failure_.value(); }

  private:
    std::optional<Failure> failure_;
};

}  // namespace archive
