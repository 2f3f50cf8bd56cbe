#include "datafile/LogFileName.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "device/CivilTime.h"
#include "device/DigitPairs.h"
#include "device/FixedText.h"

namespace {

// Characters a file name must not carry from the log's texts.
bool IsUnsafeNameCharacter(char c, FileNameRules rules) {
    const auto code = static_cast<unsigned char>(c);
    if (code <= 32 || code >= 127 || c == '.' || c == '/' || c == ':') {
        return true;
    }
    constexpr std::string_view windowsOnly = "\\*?\"<>|";
    return rules == FileNameRules::Windows && windowsOnly.find(c) != std::string_view::npos;
}

// Whether Windows opens a device, not a file, under this name (with any
// extension, in any case).
bool IsDeviceName(std::string_view base, FileNameRules rules) {
    if (rules != FileNameRules::Windows) {
        return false;
    }
    std::string upper(base);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    constexpr std::array<std::string_view, 6> devices = {"CON", "PRN",    "AUX",
                                                         "NUL", "CONIN$", "CONOUT$"};
    if (std::find(devices.begin(), devices.end(), upper) != devices.end()) {
        return true;
    }
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           std::isdigit(static_cast<unsigned char>(upper[3]));
}

}  // namespace

int TrimTrailingSpaces(char* field, int width) {
    if (field == nullptr) {
        return 0;
    }
    for (int p = width - 1; p >= 0; --p) {
        if (field[p] != ' ') {
            // The terminator slot behind a full field is not the field's own.
            if (p + 1 < width) {
                field[p + 1] = '\0';
            }
            return p + 1;
        }
    }
    return 0;
}

bool IsDeferredDrive(std::string_view directory) {
    if (directory.empty()) {
        return false;
    }
    const char first = directory.front();
    return first == 'a' || first == 'A' || first == 'b' || first == 'B';
}

std::string FileNameDate(int64_t seconds) {
    if (seconds == -1) {
        return {};
    }
    // Broken down as UTC like every other time text of a log, so the name
    // never says another day than the file's own times.
    const CivilTime time = CivilFromSeconds(seconds);
    std::string text;
    AppendPairs(text, '_', {time.month, time.day, TwoDigitYear(time.year)});
    return text;
}

int MakeLogFileName(std::string* target, const LogFileNameSettings& settings, DeviceLog& log) {
    if (target == nullptr || settings.capacity < 5) {
        return FILE_NAME_NO_FIT;
    }
    std::string namePart;
    LogHeader& header = log.header();
    if (settings.options & FILE_NAME_LOCATION) {
        TrimTrailingSpaces(header.location, sizeof header.location);
        namePart += FieldText(header.location);
    }
    if (settings.options & FILE_NAME_SERIAL) {
        namePart += header.shortSerial();
    }
    for (char& c : namePart) {
        if (IsUnsafeNameCharacter(c, settings.rules)) {
            c = '_';
        }
    }
    if (settings.options & FILE_NAME_START_DATE) {
        namePart += FileNameDate(log.startSeconds());
    }
    if (settings.options & FILE_NAME_LAST_DATE) {
        namePart += FileNameDate(log.endSeconds());
    }

    const std::string base =
        settings.options == 0 ? "log" + std::to_string(settings.logCounter) : namePart;
    const auto path = [&settings](const std::string& name) {
        return settings.directory + name + settings.extension;
    };
    const auto fits = [&settings](const std::string& full) {
        return full.size() < static_cast<std::size_t>(settings.capacity - 1);
    };
    const auto taken = [&settings, &path](const std::string& name) {
        return IsDeviceName(name, settings.rules) ||
               (settings.fileExists && settings.fileExists(path(name)));
    };
    // Clashes take the suffixes a, b, ..., z, aa, bb, ..., zz, aaa, ...
    std::string name = base;
    char letter = 'a';
    std::size_t repeat = 1;
    while (taken(name) && fits(path(name))) {
        name = base + std::string(repeat, letter);
        if (++letter > 'z') {
            letter = 'a';
            ++repeat;
        }
    }
    const std::string candidate = path(name);
    if (!fits(candidate)) {
        return FILE_NAME_NO_FIT;
    }
    *target = candidate;
    return static_cast<int>(candidate.size());
}
