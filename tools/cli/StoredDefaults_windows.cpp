// The window program's settings read from the registry, where it keeps them
// on Windows, under the same names and with the same rules as its dialogs.

#include "tools/cli/StoredDefaults.h"

// After our headers: windows.h defines many names as macros.
#include <windows.h>

#include <vector>

namespace cli {

namespace {

// A text value of any length; none when absent or not a text.
std::optional<std::string> Text(const char* key, const char* name) {
    DWORD size = 0;
    LSTATUS result =
        ::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, nullptr, &size);
    std::vector<char> buffer;
    // Again when the value grew between the calls.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        buffer.resize(static_cast<std::size_t>(size) + 1);
        size = static_cast<DWORD>(buffer.size());
        result = ::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, buffer.data(),
                                &size);
        if (result == ERROR_SUCCESS) {
            return std::string(buffer.data());
        }
    }
    return std::nullopt;
}

// The text when its bytes and terminator fit in maxBytes, as a read into a
// buffer of that size gives it; none otherwise.
std::optional<std::string> Fitting(std::optional<std::string> text, int maxBytes) {
    if (text && text->size() + 1 > static_cast<std::size_t>(maxBytes)) {
        return std::nullopt;
    }
    return text;
}

std::optional<uint32_t> Number(const char* key, const char* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

StoredDefaults LoadStoredDefaults() {
    using namespace settings;
    StoredDefaults stored;
    const std::optional<std::string> directory = Text(KEY_ARVELO, VALUE_OUTPUT_DIR);
    stored.outputDir = Fitting(directory, MAX_OUTPUT_DIR_BYTES + 1);
    if (directory && !stored.outputDir) {
        stored.tooLongOutputDir = directory;
    }
    // Only exactly ".omb" is the text data file; anything else stored is CSV.
    const std::optional<std::string> type =
        Fitting(Text(KEY_ARVELO, VALUE_FILE_TYPE), FILE_TYPE_BYTES);
    stored.fileType = !type || *type == OMB ? OMB : CSV;
    stored.fileOption = Number(KEY_ARVELO, VALUE_FILE_OPTION).value_or(DEFAULT_FILE_OPTION);
    stored.comPort = Fitting(Text(KEY_COM_PORT, VALUE_COM_PORT), COM_PORT_BYTES);
    stored.timeOutSeconds = Number(KEY_COM_PORT, VALUE_TIME_OUT).value_or(DEFAULT_TIME_OUT);
    stored.archiveOn = Number(KEY_ARCHIVE, VALUE_ARCHIVE_ON).value_or(DEFAULT_ARCHIVE_ON) != 0;
    stored.archiveLocation =
        Fitting(Text(KEY_ARCHIVE, VALUE_ARCHIVE_LOCATION), ARCHIVE_LOCATION_BYTES).value_or("");
    return stored;
}

}  // namespace cli
