#include "datafile/DataFileFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "datafile/DataFileScan.h"
#include "datafile/DataFileWriter.h"
#include "device/FixedText.h"

namespace omb {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

std::string_view SampleModeText(const LogHeader& header) {
    const SampleModeTraits* mode = SampleModeOf(header);
    return mode != nullptr && !mode->text.empty() ? mode->text : FieldText(header.sampleMode);
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

namespace {

// The group's digits in the form the identification's flag gives, chosen so
// that the value reads back as text.
bool EncodeRimGroup(char (&identification)[20], const RimGroup& group, std::string_view text) {
    double value = 0.0;
    if (NumberLength(text, kRimDecimals) != text.size() || !NumberValue(text, value)) {
        return false;
    }
    const double scaled = value / group.unit;
    if (!(std::fabs(scaled) < 1e6)) {
        return false;
    }
    const bool hex = identification[kRimFlagPosition] == '#';
    const auto center = static_cast<int64_t>(std::llround(scaled));
    // The file keeps one decimal; a few integers around the value print the same.
    for (int64_t offset = 0; offset <= 6; offset = offset > 0 ? -offset : 1 - offset) {
        const int64_t n = center + offset;
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, n, hex ? 16 : 10).ptr;
        const auto length = static_cast<int>(end - digits);
        if (length > group.width || (hex && n < 0)) {
            continue;
        }
        char* field = identification + group.position;
        // Hexadecimal groups are read digit by digit: zero padded. Decimal
        // ones skip leading blanks.
        std::memset(field, hex ? '0' : ' ', static_cast<std::size_t>(group.width));
        std::memcpy(field + group.width - length, digits, static_cast<std::size_t>(length));
        if (DecimalText(RimValue(identification, group), kRimDecimals) == text) {
            return true;
        }
    }
    return false;
}

}  // namespace

int EncodeRim(char (&identification)[20], const std::string_view (&texts)[3]) {
    const auto encode = [&texts](char(&id)[20], char flag, std::size_t from, std::size_t to) {
        id[kRimFlagPosition] = flag;
        for (std::size_t g = from; g < to; ++g) {
            if (!EncodeRimGroup(id, kRimGroups[g], texts[g])) {
                return false;
            }
        }
        return true;
    };
    constexpr char kFlags[] = {' ', '#'};
    for (const char flag : kFlags) {
        char candidate[20];
        std::memcpy(candidate, identification, sizeof candidate);
        if (encode(candidate, flag, 0, std::size(kRimGroups))) {
            std::memcpy(identification, candidate, sizeof candidate);
            return -1;
        }
    }
    for (std::size_t g = 0; g < std::size(kRimGroups); ++g) {
        bool encodable = false;
        for (const char flag : kFlags) {
            char alone[20] = {};
            encodable = encodable || encode(alone, flag, g, g + 1);
        }
        if (!encodable) {
            return static_cast<int>(g);
        }
    }
    return static_cast<int>(std::size(kRimGroups));
}

}  // namespace omb
