#pragma once
// A time or a span of time in tenths of a second, the unit every sample
// time is counted in (a time counts from 1970-01-01 00:00:00). A type of its
// own so that a count of seconds cannot pass for one: seconds come in and go
// out only through the named conversions below, and those floor, so a time
// before 1970 is the second before it plus tenths 0-9 (an integer division
// rounds toward zero and would put it in the second after).

#include <compare>
#include <cstdint>

#include "device/CivilTime.h"

class Tenths {
  public:
    static constexpr int64_t kPerSecond = 10;

    constexpr Tenths() = default;
    constexpr explicit Tenths(int64_t count) : count_(count) {}
    static constexpr Tenths OfSeconds(int64_t seconds) { return Tenths(seconds * kPerSecond); }
    static constexpr Tenths OfMinutes(int64_t minutes) { return OfSeconds(minutes * 60); }

    // The count as it is stored and bound: the archive's columns hold it as it is.
    constexpr int64_t count() const { return count_; }
    // The whole seconds, floored, and the tenths past them (0-9).
    FloorDivision Split() const { return DivideFloor(count_, kPerSecond); }
    int64_t FloorSeconds() const { return Split().quotient; }

    constexpr Tenths& operator+=(Tenths span) {
        count_ += span.count_;
        return *this;
    }
    constexpr Tenths& operator-=(Tenths span) {
        count_ -= span.count_;
        return *this;
    }
    friend constexpr Tenths operator+(Tenths a, Tenths b) { return a += b; }
    friend constexpr Tenths operator-(Tenths a, Tenths b) { return a -= b; }
    friend constexpr Tenths operator*(Tenths span, int64_t times) {
        return Tenths(span.count_ * times);
    }
    friend constexpr auto operator<=>(Tenths, Tenths) = default;

  private:
    int64_t count_ = 0;
};
