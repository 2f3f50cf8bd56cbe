#include "archive/IsoTime.h"

#include <cstdio>

#include "device/CivilTime.h"
#include "device/SampleTime.h"
#include "device/Tenths.h"

namespace archive {

namespace {

// n digits at text[at]; none when any is not a digit.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t n) {
    if (at + n > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool CharAt(std::string_view text, std::size_t at, char c) {
    return at < text.size() && text[at] == c;
}

}  // namespace

void AppendIsoTime(std::string& out, int64_t tenths) {
    const SampleTime time = SampleTimeOf(Tenths(tenths));
    const CivilTime civil = CivilFromSeconds(time.seconds);
    if (civil.year < 0 || civil.year > 9999) {
        char text[64];
        std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%dZ",
                      static_cast<long long>(civil.year), civil.month, civil.day, civil.hour,
                      civil.minute, civil.second, time.tenths);
        out += text;
        return;
    }
    // Written digit by digit: a series of years is millions of these.
    char text[] = "0000-00-00T00:00:00.0Z";
    const auto put = [&text](std::size_t at, int64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10) {
            text[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        }
    };
    put(0, civil.year, 4);
    put(5, civil.month, 2);
    put(8, civil.day, 2);
    put(11, civil.hour, 2);
    put(14, civil.minute, 2);
    put(17, civil.second, 2);
    put(20, time.tenths, 1);
    out.append(text, sizeof text - 1);
}

std::string IsoTime(int64_t tenths) {
    std::string text;
    AppendIsoTime(text, tenths);
    return text;
}

std::optional<int64_t> ParseIsoTime(std::string_view text, bool endOfDay) {
    const auto year = Digits(text, 0, 4);
    const auto month = Digits(text, 5, 2);
    const auto day = Digits(text, 8, 2);
    if (!year || !month || !day || !CharAt(text, 4, '-') || !CharAt(text, 7, '-') || *month < 1 ||
        *month > 12 || *day < 1 || *day > DaysInMonth(*year, *month)) {
        return std::nullopt;
    }
    CivilTime civil{*year, *month, *day, 0, 0, 0};
    if (text.size() == 10) {
        const Tenths start = Tenths::OfSeconds(SecondsFromCivil(civil));
        return (endOfDay ? start + Tenths::OfMinutes(24 * 60) - Tenths(1) : start).count();
    }
    const auto hour = Digits(text, 11, 2);
    const auto minute = Digits(text, 14, 2);
    const auto second = Digits(text, 17, 2);
    if (!CharAt(text, 10, 'T') || !hour || !minute || !second || !CharAt(text, 13, ':') ||
        !CharAt(text, 16, ':') || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    civil.hour = *hour;
    civil.minute = *minute;
    civil.second = *second;
    std::size_t at = 19;
    Tenths tenths;
    if (CharAt(text, at, '.')) {
        const auto digit = Digits(text, at + 1, 1);
        if (!digit) {
            return std::nullopt;
        }
        tenths = Tenths(*digit);
        at += 2;
    }
    // Z, or an offset from UTC ("+01:00"), or nothing: UTC.
    int offset = 0;
    if (CharAt(text, at, 'Z')) {
        ++at;
    } else if (CharAt(text, at, '+') || CharAt(text, at, '-')) {
        const std::optional<int> minutes = ParseClockOffset(text.substr(at));
        if (!minutes) {
            return std::nullopt;
        }
        offset = *minutes;
        at = text.size();
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return (Tenths::OfSeconds(SecondsFromCivil(civil)) - Tenths::OfMinutes(offset) + tenths)
        .count();
}

std::string ClockOffsetText(int minutes) {
    const int magnitude = minutes < 0 ? -minutes : minutes;
    char text[8];
    std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60 % 100,
                  magnitude % 60);
    return text;
}

std::optional<int> ParseClockOffset(std::string_view text) {
    const auto hours = Digits(text, 1, 2);
    const auto minutes = Digits(text, 4, 2);
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || !hours || !minutes ||
        !CharAt(text, 3, ':') || *minutes > 59) {
        return std::nullopt;
    }
    const int offset = (text[0] == '-' ? -1 : 1) * (*hours * 60 + *minutes);
    if (offset < kEarliestClock || offset > kLatestClock) {
        return std::nullopt;
    }
    return offset;
}

}  // namespace archive
