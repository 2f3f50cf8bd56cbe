#pragma once
// Calendar arithmetic on the proleptic Gregorian calendar, taking every time
// as UTC. The reader's clock has no time zone, so its dates are converted
// without the machine's zone database and give the same seconds everywhere.

#include <cstdint>

struct CivilTime {
    int64_t year = 1970;
    int month = 1;  // 1-12
    int day = 1;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// value = quotient * divisor + remainder with 0 <= remainder < divisor
// (divisor > 0): the floor, also for values before 1970.
struct FloorDivision {
    int64_t quotient;
    int64_t remainder;
};
inline FloorDivision DivideFloor(int64_t value, int64_t divisor) {
    FloorDivision d{value / divisor, value % divisor};
    if (d.remainder < 0) {
        d.remainder += divisor;
        --d.quotient;
    }
    return d;
}

bool IsLeapYear(int64_t year);
int DaysInMonth(int64_t year, int month);

// Seconds since 1970-01-01 00:00:00 of a valid date and time.
int64_t SecondsFromCivil(const CivilTime& time);

// The date and time of a number of seconds since 1970-01-01 00:00:00;
// defined for every int64_t value.
CivilTime CivilFromSeconds(int64_t seconds);
