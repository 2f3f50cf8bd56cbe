#pragma once
// Names of the files downloaded logs are saved under, built from the user's
// file-name options and the log's own header: location, short serial number,
// start and last date, or "log" and a running number when no part is chosen;
// letter suffixes when the name is taken. Shared by the window program and
// the command-line tool.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "device/DeviceLog.h"

// File-name option bits and the part each adds, in this order in the name.
inline constexpr uint32_t FILE_NAME_LOCATION = 0x2;    // location without trailing blanks
inline constexpr uint32_t FILE_NAME_SERIAL = 0x1;      // the 6 characters of the short serial
inline constexpr uint32_t FILE_NAME_START_DATE = 0x4;  // MM_DD_YY
inline constexpr uint32_t FILE_NAME_LAST_DATE = 0x8;

inline constexpr int FILE_NAME_NO_FIT = -400;

// Whose file names the parts must make. Windows names cannot hold
// \ * ? " < > | and cannot be a device (CON, NUL, COM1...).
enum class FileNameRules { Posix, Windows };
#ifdef _WIN32
inline constexpr FileNameRules SYSTEM_FILE_NAME_RULES = FileNameRules::Windows;
#else
inline constexpr FileNameRules SYSTEM_FILE_NAME_RULES = FileNameRules::Posix;
#endif

// Cuts the trailing blanks of a field of width characters: writes a zero byte
// behind the last non-blank character when that lies inside the field and
// returns the text's length; a field of only blanks is left as it is (0).
int TrimTrailingSpaces(char* field, int width);

// Whether logs for this directory are saved after the download instead of
// during it: its first character is a, A, b or B (drive A: or B:).
bool IsDeferredDrive(std::string_view directory);

// A date as "%x" prints it in the C locale (MM/DD/YY), broken down as UTC,
// with '/', ':' and blanks made '_'; empty for -1 (no date).
std::string FileNameDate(int64_t seconds);

struct LogFileNameSettings {
    uint32_t options = 0;   // FILE_NAME_* bits
    std::string directory;  // used as stored (platform::WithTrailingSeparator ends it)
    std::string extension;  // e.g. ".omb"
    int logCounter = 0;     // number of the log when options are 0
    int capacity = 256;     // the name and its terminator must fit
    std::function<bool(const std::string&)> fileExists;
    FileNameRules rules = SYSTEM_FILE_NAME_RULES;
};

// The first name that is not taken: 0 < length written into target, or
// FILE_NAME_NO_FIT (target unchanged) when capacity is below 5 or no name
// fits. Under the Windows rules a device name counts as taken. With FILE_NAME_LOCATION the log's
// own location loses its trailing blanks, so the file and the data window show it trimmed too.
int MakeLogFileName(std::string* target, const LogFileNameSettings& settings, DeviceLog& log);
