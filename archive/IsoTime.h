#pragma once
// Sample times as the archive prints and reads them: ISO 8601 in UTC with
// the tenths, "2024-03-16T15:00:00.0Z", the form pandas and R parse as it is.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace archive {

// Tenths of a second since 1970 UTC.
std::string IsoTime(int64_t tenths);
void AppendIsoTime(std::string& out, int64_t tenths);

// "YYYY-MM-DDTHH:MM:SS[.t][Z|±HH:MM]" (no suffix: UTC), or a date
// "YYYY-MM-DD": its first moment, or with endOfDay its last tenth. None when
// it is neither.
std::optional<int64_t> ParseIsoTime(std::string_view text, bool endOfDay);

// A clock's offset from UTC in minutes as the user writes it: "+01:00",
// "-03:30"; loggers keep no daylight saving.
inline constexpr int kEarliestClock = -12 * 60, kLatestClock = 14 * 60;
std::string ClockOffsetText(int minutes);
// "±HH:MM" from -12:00 to +14:00; none when it is not one.
std::optional<int> ParseClockOffset(std::string_view text);

}  // namespace archive
