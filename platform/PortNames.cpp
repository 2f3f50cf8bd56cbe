#include "platform/PortDirectory.h"

#include <cctype>
#include <cstdlib>

namespace platform {

int ComPortNumber(const std::string& name) {
    const auto is = [&name](std::size_t i, char c) {
        return std::tolower(static_cast<unsigned char>(name[i])) == c;
    };
    if (name.size() < 4 || !is(0, 'c') || !is(1, 'o') || !is(2, 'm')) {
        return 0;
    }
    std::string digits = name.substr(3);
    if (!digits.empty() && digits.back() == ':') {
        digits.pop_back();
    }
    if (digits.empty() || digits.size() > 3 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    const int n = std::atoi(digits.c_str());
    return n <= MAX_COM_NUMBER ? n : 0;
}

}  // namespace platform
