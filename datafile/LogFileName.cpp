#include "datafile/LogFileName.h"

#include "device/CivilTime.h"
#include "device/DigitPairs.h"
#include "device/FixedText.h"

namespace {

// Characters a file name must not carry from the log's texts.
bool IsUnsafeNameCharacter(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code <= 32 || code >= 127 || c == '.' || c == '/' || c == ':';
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
        if (IsUnsafeNameCharacter(c)) {
            c = '_';
        }
    }
    if (settings.options & FILE_NAME_START_DATE) {
        namePart += FileNameDate(log.startSeconds());
    }
    if (settings.options & FILE_NAME_LAST_DATE) {
        namePart += FileNameDate(log.endSeconds());
    }

    std::string stem = settings.directory;
    if (settings.options == 0) {
        stem += "log" + std::to_string(settings.logCounter);
    } else {
        stem += namePart;
    }
    const auto fits = [&settings](const std::string& name) {
        return name.size() < static_cast<std::size_t>(settings.capacity - 1);
    };
    const auto exists = [&settings](const std::string& name) {
        return settings.fileExists && settings.fileExists(name);
    };
    // Clashes take the suffixes a, b, ..., z, aa, bb, ..., zz, aaa, ...
    std::string candidate = stem + settings.extension;
    char letter = 'a';
    std::size_t repeat = 1;
    while (exists(candidate) && fits(candidate)) {
        candidate = stem + std::string(repeat, letter) + settings.extension;
        if (++letter > 'z') {
            letter = 'a';
            ++repeat;
        }
    }
    if (!fits(candidate)) {
        return FILE_NAME_NO_FIT;
    }
    *target = candidate;
    return static_cast<int>(candidate.size());
}
