#pragma once
// Values of the current user's registry (HKEY_CURRENT_USER), where the
// window program keeps its settings on Windows, read without the toolkit.
// Windows only: elsewhere the toolkit's settings store holds them.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// A text value of any length; none when absent or not a text.
std::optional<std::string> RegistryText(const char* key, const char* name);
// A number (REG_DWORD); none when absent or not a number.
std::optional<uint32_t> RegistryNumber(const char* key, const char* name);

}  // namespace platform
