// The window program's settings read from the registry, where it keeps them
// on Windows, under the same names and with the same rules as its dialogs.

#include "tools/cli/StoredDefaults.h"

// After our headers: windows.h defines many names as macros.
#include <windows.h>

#include <vector>

namespace cli {

namespace {

// A text value whose bytes and terminator fit in maxBytes; none otherwise.
std::optional<std::string> Text(const char* key, const char* name, int maxBytes) {
    std::vector<char> buffer(static_cast<std::size_t>(maxBytes));
    DWORD size = static_cast<DWORD>(buffer.size());
    if (::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, buffer.data(),
                       &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(buffer.data());
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
    stored.outputDir = Text(KEY_ARVELO, VALUE_OUTPUT_DIR, MAX_OUTPUT_DIR_BYTES + 1);
    // Only exactly ".omb" is the text data file; anything else stored is CSV.
    const std::optional<std::string> type = Text(KEY_ARVELO, VALUE_FILE_TYPE, FILE_TYPE_BYTES);
    stored.fileType = !type || *type == OMB ? OMB : CSV;
    stored.fileOption = Number(KEY_ARVELO, VALUE_FILE_OPTION).value_or(DEFAULT_FILE_OPTION);
    stored.comPort = Text(KEY_COM_PORT, VALUE_COM_PORT, COM_PORT_BYTES);
    stored.timeOutSeconds = Number(KEY_COM_PORT, VALUE_TIME_OUT).value_or(DEFAULT_TIME_OUT);
    return stored;
}

}  // namespace cli
