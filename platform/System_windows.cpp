#include "platform/System.h"

// After our headers: windows.h defines many names as macros.
#include <windows.h>

namespace platform {

std::tm LocalTime(std::time_t seconds) {
    std::tm parts{};
    localtime_s(&parts, &seconds);
    return parts;
}

std::string LoginName() {
    char name[256];
    DWORD size = sizeof name;
    return ::GetUserNameA(name, &size) ? std::string(name) : std::string();
}

std::string UserDataFolder() {
    char folder[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableA("LOCALAPPDATA", folder, sizeof folder);
    return length > 0 && length < sizeof folder ? std::string(folder, length) : std::string();
}

}  // namespace platform
