#include "device/LogSink.h"

#include <string_view>

bool UsesCommaLayout(const char* extension) {
    constexpr std::string_view omb = ".omb";
    if (extension == nullptr) {
        return true;
    }
    for (std::size_t i = 0; i < omb.size(); ++i) {
        const char c = extension[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != omb[i]) {
            return true;  // also at a terminator before the fourth character
        }
    }
    return false;
}
