#include "device/FixedText.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

namespace {

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Where a number's digits begin: after leading white space and a sign.
std::size_t SkipSpaceAndSign(std::string_view text, bool& negative) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    return i;
}

}  // namespace

std::string_view FieldText(const char* field, std::size_t width) {
    if (field == nullptr) {
        return {};
    }
    std::size_t length = 0;
    while (length < width && field[length] != '\0') {
        ++length;
    }
    return {field, length};
}

int ParseInt(std::string_view text) {
    bool negative = false;
    std::size_t i = SkipSpaceAndSign(text, negative);
    long long value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        if (value <= INT_MAX) {
            value = value * 10 + (text[i] - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

double ParseDecimal(std::string_view text) {
    bool negative = false;
    std::size_t i = SkipSpaceAndSign(text, negative);
    const std::size_t start = i;
    std::size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i) {
            ++digits;
        }
    }
    if (digits == 0) {
        return 0.0;
    }
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            ++j;
        }
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j])) {
                ++j;
            }
            i = j;
        } else {
            negativeExponent = false;
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data() + start, text.data() + i, value);
    if (result.ec == std::errc::result_out_of_range) {
        value = negativeExponent ? 0.0 : HUGE_VAL;
    }
    return negative ? -value : value;
}

int DecimalsAfterPoint(std::string_view text) {
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos) {
        return -1;
    }
    int decimals = 0;
    for (std::size_t i = point + 1; i < text.size(); ++i) {
        if (text[i] != ' ') {
            ++decimals;
        }
    }
    return decimals;
}

std::string DecimalText(double value, int decimals) {
    constexpr int kMaxDecimals = 30;  // more digits than a double holds, as the data file allows
    char text[400];                   // 309 integer digits, sign, point and kMaxDecimals decimals
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed,
                                      std::clamp(decimals, 0, kMaxDecimals));
    return std::string(text, result.ptr);
}
