#pragma once
// Two-digit date and time fields, as the data files and their names write them.

#include <cstdint>
#include <initializer_list>
#include <string>

// Two-digit numbers joined by a separator, as in "MM/DD/YY" or "HH:MM:SS".
inline void AppendPairs(std::string& out, char separator, std::initializer_list<int64_t> numbers) {
    bool first = true;
    for (const int64_t n : numbers) {
        if (!first) {
            out += separator;
        }
        first = false;
        out += static_cast<char>('0' + n / 10 % 10);
        out += static_cast<char>('0' + n % 10);
    }
}

// Also for years before 0: never a negative digit.
inline int64_t TwoDigitYear(int64_t year) {
    return (year % 100 + 100) % 100;
}
