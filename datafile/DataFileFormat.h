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
// More decimals than a double holds; a number is never written with more.
inline constexpr int kMaxDecimals = 30;
// As many channels as a log of the reader can have (two digits).
inline constexpr int kMaxChannels = 99;

// "T   ", "LA  ", "LB  ", "LC  ", or the four stored characters.
std::string_view SampleModeText(const LogHeader& header);
// The sample mode as its key line carries it: SampleModeText, the four
// stored characters as AppendFieldValue writes them.
std::string SampleModeValue(const LogHeader& header);

// Two blanks, the key padded with blanks to 24 characters, "=".
void AppendKey(std::string& line, std::string_view key);

// Whether a byte would end or break a line: the control bytes.
inline bool BreaksLine(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// A text field of width bytes as its key line carries it. Its text up to a
// zero byte, as stored; but a text holding a byte that would end or break
// the line is written escaped: all width bytes, zero bytes included, each
// control byte as \xHH and the backslash as \\. That is longer than the
// field, which is how the reader tells the two apart; texts without control
// bytes, every ordinary one, are written as they are.
void AppendFieldValue(std::string& line, const char* field, std::size_t width);
std::string FieldValue(const char* field, std::size_t width);
// The field back from its key line's value, either form, zero filled behind
// the text (a value no longer than the field is taken as it stands, control
// bytes included, as earlier versions wrote them); false when the value is
// neither.
bool ReadFieldValue(std::string_view value, char* field, std::size_t width);

// value with exactly decimals digits after the point (clamped to 0 to
// kMaxDecimals, as printf's "%.*f" in the "C" locale), padded with blanks to
// width on the left, or on the right when leftJustified; the length of the
// number without its blanks.
std::size_t AppendFixed(std::string& line, double value, int decimals, int width,
                        bool leftJustified);

// A channel section's number: left-justified in kChannelNumberWidth, then
// the unit. A number as wide as that or wider is followed by one blank when
// the unit's first character that is not a blank is a digit or a point,
// which would otherwise read as more of the number.
void AppendChannelNumber(std::string& line, double value, int decimals, const char (&unit)[6]);

// In the text layout a data value of kTextValueWidth characters or more is
// written without a blank before it. After a value without a point, one that
// begins with a digit would run into it: it gets one blank then.
bool NeedsSeparator(std::string_view previous, std::string_view value);

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
// The other way: puts the three rim parameters, as the file states them,
// into characters 10-19 of the first identification, in the first digit form
// that holds all three. -1 when it did; else the group no form can hold, or
// the number of groups when each fits alone but not all together.
int EncodeRim(char (&identification)[20], const std::string_view (&texts)[3]);

}  // namespace omb
