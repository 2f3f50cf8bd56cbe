#include "platform/Registry.h"

#include <vector>

// After our headers: windows.h defines many names as macros.
#include <windows.h>

namespace platform {

std::optional<std::string> RegistryText(const char* key, const char* name) {
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

std::optional<uint32_t> RegistryNumber(const char* key, const char* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

}  // namespace platform
