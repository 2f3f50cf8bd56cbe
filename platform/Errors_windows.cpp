#include "platform/Errors.h"

#include <string.h>

// After our headers: windows.h defines many names as macros.
#include <windows.h>

namespace platform {

namespace {

// Without the line end and the full stop the system ends its texts with, so
// that a message can go on behind it.
std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string ErrorText(uint32_t error) {
    char buffer[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, buffer, sizeof buffer, nullptr);
    const std::string text = Trimmed(std::string(buffer, n));
    return !text.empty() ? text : "error " + std::to_string(error);
}

std::string ErrnoText(int err) {
    char buffer[256] = {};
    if (strerror_s(buffer, sizeof buffer, err) != 0 || buffer[0] == '\0') {
        return "error " + std::to_string(err);
    }
    return buffer;
}

}  // namespace platform
