#pragma once
// Where the program's settings are stored (the registry's key paths and value
// names, under HKEY_CURRENT_USER) and their defaults. No Qt: arvelo-cli on
// Windows reads the same values without it.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

namespace settings {

inline constexpr char KEY_ARVELO[] = "Software\\Arvelo";
inline constexpr char KEY_COM_PORT[] = "Software\\Arvelo\\ComPortSetting";
inline constexpr char KEY_DIAGNOSTICS[] = "Software\\Arvelo\\Diagnostics";
inline constexpr char KEY_ARCHIVE[] = "Software\\Arvelo\\Archive";

inline constexpr char VALUE_OUTPUT_DIR[] = "DefaultOutputDir";    // REG_SZ
inline constexpr char VALUE_FILE_TYPE[] = "DefaultFileType";      // REG_SZ
inline constexpr char VALUE_FILE_OPTION[] = "DefaultFileOption";  // REG_DWORD
inline constexpr char VALUE_COM_PORT[] = "DefaultComPort";        // REG_SZ
inline constexpr char VALUE_TIME_OUT[] = "DefaultTimeOutPeriod";  // REG_DWORD
inline constexpr char VALUE_TRACE_FILE[] = "TraceFile";           // REG_SZ, empty: no trace
inline constexpr char VALUE_ARCHIVE_ON[] = "Enabled";             // REG_DWORD, 0: off
inline constexpr char VALUE_ARCHIVE_LOCATION[] = "Location";      // REG_SZ, empty: the default
inline constexpr char VALUE_ARCHIVE_CLOCK[] = "LoggerClock";  // REG_SZ "+HH:MM"; none: not asked

inline constexpr char OMB[] = ".omb";  // the file types "DefaultFileType" holds
inline constexpr char CSV[] = ".csv";
// Only exactly ".omb" is the text data file; anything else stored is CSV,
// and none stored is the default, ".omb".
inline const char* FileTypeOf(const std::optional<std::string>& stored) {
    return !stored || *stored == OMB ? OMB : CSV;
}
inline constexpr uint32_t DEFAULT_FILE_OPTION = 11;  // location, serial number, last date
inline constexpr uint32_t DEFAULT_TIME_OUT = 5;      // seconds
// The reply time-out a run takes, in seconds, stored or typed: one of 0 would
// give every run up at once, one past what a timer holds (INT_MAX ms) never.
inline constexpr uint32_t MIN_TIME_OUT = 1;
inline constexpr uint32_t MAX_TIME_OUT = 2147483;
inline constexpr uint32_t TimeOutMs(uint64_t seconds) {
    return static_cast<uint32_t>(std::clamp<uint64_t>(seconds, MIN_TIME_OUT, MAX_TIME_OUT) * 1000);
}
inline constexpr int MAX_OUTPUT_DIR_BYTES = 255;  // without the terminator
inline constexpr uint32_t DEFAULT_ARCHIVE_ON = 1;

// A registry read into a buffer of this many bytes fails for a longer text.
inline constexpr int FILE_TYPE_BYTES = 256;
inline constexpr int COM_PORT_BYTES = 32;
inline constexpr int TRACE_PATH_BYTES = 4096;
inline constexpr int ARCHIVE_LOCATION_BYTES = 4096;
inline constexpr int CLOCK_OFFSET_BYTES = 16;

}  // namespace settings
