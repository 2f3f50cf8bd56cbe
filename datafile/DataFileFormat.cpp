#include "datafile/DataFileFormat.h"

#include "datafile/DataFileWriter.h"
#include "device/FixedText.h"

namespace omb {

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

void AppendKey(std::string& line, std::string_view key) {
    line += "  ";
    line += key;
    line.append(key.size() < 24 ? 24 - key.size() : 0, ' ');
    line += '=';
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
