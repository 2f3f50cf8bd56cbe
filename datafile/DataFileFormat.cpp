#include "datafile/DataFileFormat.h"

#include <algorithm>
#include <charconv>

#include "datafile/DataFileWriter.h"
#include "device/FixedText.h"

namespace omb {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

std::string_view InstrumentTypeText(int instrumentType) {
    switch (instrumentType) {
        case 4:
        case 5:
            return "Marut =7";
        case 6:
            return "Wendrow =9";
        case 7:
            return "Pexil =2";
        case 9:
            return "Pexil =4";
        case 11:
            return "Pexil =12";
        default:
            return "Pexil =3";
    }
}

bool IsMarut(int instrumentType) {
    return instrumentType == 4 || instrumentType == 5;
}

std::string_view LevelKey(int instrumentType) {
    if (instrumentType == 6) {
        return "Totalisation factor";
    }
    return IsMarut(instrumentType) ? "Switch Level" : "Master Level";
}

std::string_view SampleModeText(const LogHeader& header) {
    const char* mode = header.sampleMode;
    if (mode[0] == 'T') {
        return "T   ";
    }
    if (mode[0] == 'L') {
        switch (mode[1]) {
            case 'A':
                return "LA  ";
            case 'B':
                return "LB  ";
            case 'C':
                return "LC  ";
        }
    }
    return FieldText(header.sampleMode);
}

std::string SampleModeValue(const LogHeader& header) {
    const std::string_view text = SampleModeText(header);
    // Only the four stored characters can hold a control byte.
    return text == FieldText(header.sampleMode) ? FieldValue(header.sampleMode, 4)
                                                : std::string(text);
}

void AppendKey(std::string& line, std::string_view key) {
    line += "  ";
    line += key;
    line.append(key.size() < 24 ? 24 - key.size() : 0, ' ');
    line += '=';
}

void AppendFieldValue(std::string& line, const char* field, std::size_t width) {
    const std::string_view text = FieldText(field, width);
    if (std::none_of(text.begin(), text.end(), BreaksLine)) {
        line += text;
        return;
    }
    for (std::size_t i = 0; i < width; ++i) {
        const char c = field[i];
        if (BreaksLine(c)) {
            const auto byte = static_cast<unsigned char>(c);
            line += "\\x";
            line += kHexDigits[byte >> 4];
            line += kHexDigits[byte & 0xF];
        } else if (c == '\\') {
            line += "\\\\";
        } else {
            line += c;
        }
    }
}

std::string FieldValue(const char* field, std::size_t width) {
    std::string value;
    AppendFieldValue(value, field, width);
    return value;
}

bool ReadFieldValue(std::string_view value, char* field, std::size_t width) {
    if (value.size() <= width) {
        // As it stands. Earlier versions wrote control bytes as they were: a
        // file of theirs still reads (only a zero byte cannot be in a text).
        if (value.find('\0') != std::string_view::npos) {
            return false;
        }
        std::fill(std::copy(value.begin(), value.end(), field), field + width, '\0');
        return true;
    }
    std::size_t n = 0;
    for (std::size_t i = 0; i < value.size(); ++i, ++n) {
        if (n == width) {
            return false;
        }
        if (value[i] != '\\') {
            field[n] = value[i];
            continue;
        }
        if (i + 1 < value.size() && value[i + 1] == '\\') {
            field[n] = '\\';
            ++i;
            continue;
        }
        if (i + 3 >= value.size() || value[i + 1] != 'x' || HexValue(value[i + 2]) < 0 ||
            HexValue(value[i + 3]) < 0) {
            return false;
        }
        field[n] = static_cast<char>(HexValue(value[i + 2]) * 16 + HexValue(value[i + 3]));
        i += 3;
    }
    // Written again, the field must give the same value: one escape form
    // for each byte, and only for a text that needs it.
    return n == width && FieldValue(field, width) == value;
}

// printf's "%*.*f" (or "%-*.*f"), but independent of the C locale: a program
// running with a decimal-comma locale still writes points.
std::size_t AppendFixed(std::string& line, double value, int decimals, int width,
                        bool leftJustified) {
    char text[400];  // 309 integer digits, sign, point and kMaxDecimals decimals
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed,
                                      std::clamp(decimals, 0, kMaxDecimals));
    const std::size_t length = static_cast<std::size_t>(result.ptr - text);
    const std::size_t pad = static_cast<std::size_t>(std::max(width, 0));
    if (!leftJustified && pad > length) {
        line.append(pad - length, ' ');
    }
    line.append(text, length);
    if (leftJustified && pad > length) {
        line.append(pad - length, ' ');
    }
    return length;
}

void AppendChannelNumber(std::string& line, double value, int decimals, const char (&unit)[6]) {
    AppendFixed(line, value, decimals, kChannelNumberWidth, true);
    const std::string unitText = FieldValue(unit, sizeof unit);
    // Padded, the number ends in a blank; as wide as the field or wider, in a digit.
    if (line.back() != ' ') {
        const std::size_t first = unitText.find_first_not_of(' ');
        if (first != std::string::npos && (IsDigit(unitText[first]) || unitText[first] == '.')) {
            line += ' ';
        }
    }
    line += unitText;
}

bool NeedsSeparator(std::string_view previous, std::string_view value) {
    return !previous.empty() && IsDigit(previous.back()) &&
           previous.find('.') == std::string_view::npos &&
           value.size() >= static_cast<std::size_t>(kTextValueWidth) && IsDigit(value[0]);
}

double RimValue(const char (&identification)[20], const RimGroup& group) {
    const char* digits = identification + group.position;
    int64_t value = 0;
    switch (identification[kRimFlagPosition]) {
        case '#':
            value = DataFileWriter::ParseHexDigits(digits, group.width);
            break;
        case ' ':
            value = ParseInt(std::string_view(digits, static_cast<std::size_t>(group.width)));
            break;
        default:
            break;
    }
    return static_cast<double>(value) * group.unit;
}

}  // namespace omb
