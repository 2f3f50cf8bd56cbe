#include "datafile/DataFileScan.h"

#include <charconv>
#include <system_error>

namespace omb {

namespace {

// Years of up to ten digits keep every time, counted in tenths, within 64 bits.
constexpr int kMaxYearDigits = 10;

bool IsValidDate(const CivilTime& time) {
    return time.month >= 1 && time.month <= 12 && time.day >= 1 &&
           time.day <= DaysInMonth(time.year, time.month) && time.hour <= 23 && time.minute <= 59 &&
           time.second <= 59;
}

}  // namespace

DataLayout LayoutOf(std::string_view line) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) {
        return DataLayout::Text;
    }
    // "MM/DD/YY" is the only date of eight characters with a slash at 2.
    return comma == 8 && line[2] == '/' ? DataLayout::Comma : DataLayout::CommaFullDate;
}

bool LineTime::Shows(const SampleTime& time) const {
    const CivilTime expected = CivilFromSeconds(time.seconds);
    const int64_t year = twoDigitYear ? (expected.year % 100 + 100) % 100 : expected.year;
    return civil.year == year && civil.month == expected.month && civil.day == expected.day &&
           civil.hour == expected.hour && civil.minute == expected.minute &&
           civil.second == expected.second && tenths == time.tenths;
}

std::size_t NumberLength(std::string_view text, int decimals) {
    std::size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::string_view rest = text.substr(i);
    if (rest.starts_with("inf") || rest.starts_with("nan")) {
        return i + 3;
    }
    const std::size_t digitsFrom = i;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
    }
    if (i == digitsFrom) {
        return 0;
    }
    if (decimals == 0 || i >= text.size() || text[i] != '.') {
        return decimals > 0 ? 0 : i;
    }
    const std::size_t point = ++i;
    while (i < text.size() && IsDigit(text[i]) &&
           (decimals < 0 || i - point < static_cast<std::size_t>(decimals))) {
        ++i;
    }
    const std::size_t count = i - point;
    if (count == 0 || (decimals > 0 && count != static_cast<std::size_t>(decimals))) {
        return 0;
    }
    return i;
}

bool NumberValue(std::string_view token, double& value) {
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

int DecimalsOf(std::string_view token) {
    const std::size_t point = token.find('.');
    return point == std::string_view::npos ? 0 : static_cast<int>(token.size() - point - 1);
}

bool TimeScanner::Char(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
        ++pos_;
        return true;
    }
    return false;
}

bool TimeScanner::TwoDigits(int& value) {
    if (pos_ + 2 > text_.size() || !IsDigit(text_[pos_]) || !IsDigit(text_[pos_ + 1])) {
        return false;
    }
    value = (text_[pos_] - '0') * 10 + (text_[pos_ + 1] - '0');
    pos_ += 2;
    return true;
}

bool TimeScanner::Year(int64_t& year) {
    const bool negative = Char('-');
    const std::size_t from = pos_;
    year = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_]) && pos_ - from < kMaxYearDigits) {
        year = year * 10 + (text_[pos_++] - '0');
    }
    if (negative) {
        year = -year;
    }
    return pos_ > from;
}

bool TimeScanner::LineStart(DataLayout layout, LineTime& time) {
    bool dated = false;
    switch (layout) {
        case DataLayout::Text:
            dated = FullDate(time, ' ');
            break;
        case DataLayout::Comma:
            dated = ShortDate(time);
            break;
        case DataLayout::CommaFullDate:
            dated = FullDate(time, ',');
            break;
    }
    return dated && Clock(time) && IsValidDate(time.civil);
}

bool TimeScanner::Clock(LineTime& time) {
    if (!TwoDigits(time.civil.hour) || !Char(':') || !TwoDigits(time.civil.minute) || !Char(':') ||
        !TwoDigits(time.civil.second) || !Char('.') || pos_ >= text_.size() ||
        !IsDigit(text_[pos_])) {
        return false;
    }
    time.tenths = text_[pos_++] - '0';
    return true;
}

bool TimeScanner::FullDate(LineTime& time, char separator) {
    return Year(time.civil.year) && Char('/') && TwoDigits(time.civil.month) && Char('/') &&
           TwoDigits(time.civil.day) && Char(separator);
}

bool TimeScanner::ShortDate(LineTime& time) {
    int year = 0;
    time.twoDigitYear = true;
    if (!TwoDigits(time.civil.month) || !Char('/') || !TwoDigits(time.civil.day) || !Char('/') ||
        !TwoDigits(year) || !Char(',')) {
        return false;
    }
    time.civil.year = year;
    return true;
}

}  // namespace omb
