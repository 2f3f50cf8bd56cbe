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

// "YYYY-MM-DDTHH:MM:SS[.t][Z]", or a date "YYYY-MM-DD": its first moment, or
// with endOfDay its last tenth. None when it is neither.
std::optional<int64_t> ParseIsoTime(std::string_view text, bool endOfDay);

}  // namespace archive
