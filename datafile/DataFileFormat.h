#pragma once
// The fixed texts and value rules of the ".omb" data file, shared by its
// writer and its reader so that what one writes the other reads back.

#include <cstdint>
#include <string>
#include <string_view>

#include "device/DeviceLog.h"

namespace omb {

inline constexpr std::string_view kTitleLine = "Data file for ZozuVaduru.";
inline constexpr std::string_view kRuleLine =
    "==============================================================================";
inline constexpr std::string_view kBeginLine =
    "==========================    BEGINNING OF DATA     ==========================";
inline constexpr std::string_view kConstantLine =
    "                          =0.00000000000000E-0000";
inline constexpr std::string_view kInstrumentSection = "[Instrument info]";
inline constexpr std::string_view kDataHeaderSection = "[Instrument info from data header]";
inline constexpr std::string_view kChannelSuffix = " from data header";
inline constexpr std::string_view kInstrumentState = "Stopped =2";
inline constexpr std::string_view kDataLine = "[Data]";
inline constexpr std::string_view kEndLine = "END OF DATA FILE OF ZOZUVADURU FOR WINDOWS";
// Where the title block's user, date, time and file name lines stand (1-based).
inline constexpr int kFirstStampLine = 4;
inline constexpr int kLastStampLine = 7;
inline constexpr int kTitleLines = 9;

// Every data line's number field: at least this wide in the text layout.
inline constexpr int kTextValueWidth = 12;
inline constexpr int kCommaValueWidth = 2;
// A channel number of the header: left-justified in at least this width.
inline constexpr int kChannelNumberWidth = 10;

std::string_view InstrumentTypeText(int instrumentType);
// Types 4 and 5: rim parameters, a switch level and 10 identification characters.
bool IsMarut(int instrumentType);
// The key of a channel's third number: master level, switch level or totalisation factor.
std::string_view LevelKey(int instrumentType);
// "T   ", "LA  ", "LB  ", "LC  ", or the four stored characters.
std::string_view SampleModeText(const LogHeader& header);

// Two blanks, the key padded with blanks to 24 characters, "=".
void AppendKey(std::string& line, std::string_view key);

// The rim parameters of types 4 and 5 ride in characters 10-19 of the first
// channel's identification: a format flag ('#' hexadecimal groups, ' '
// decimal groups, anything else: all 0), then three groups of digits.
struct RimGroup {
    std::string_view key;
    int position;  // in the identification
    int width;
    double unit;  // the group's integer times unit is the value
};
inline constexpr int kRimFlagPosition = 10;
// In the order the file lists them.
inline constexpr RimGroup kRimGroups[3] = {
    {"Output Factor", 18, 2, 0.01}, {"Threshold Width", 14, 4, 0.1}, {"Rim Height", 11, 3, 0.1}};
inline constexpr int kRimDecimals = 1;

// The group's value as the file states it, read from the identification.
double RimValue(const char (&identification)[20], const RimGroup& group);

}  // namespace omb
