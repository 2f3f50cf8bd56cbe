#pragma once
// Reads a data file this program wrote, ".omb" or CSV in either layout, back
// into a DeviceLog: the header block gives the instrument and channel
// headers, the data lines the samples. The file is read whole or not at all:
// a truncated, edited or foreign file gives an error naming the first line
// that could not be read, never a part of a log.
//
// Written again with the same layout, a log read from a file gives the same
// bytes, title block aside. The log read is the log written, as far as the
// file carries one:
// - the "Channel" count as the header announced it (-9 to 99, what its two
//   digits can say), and every channel held, up to 99, whatever the count;
// - each text field up to its first zero byte (no reader of a field looks
//   further), control bytes included (written escaped);
// - the instrument type as the type text names it (8, 12 and the types
//   outside 4 to 11 read back as 10, 5 as 4); the type's name and tag not;
// - the sample mode as written: "T" and "LA", "LB", "LC" with anything
//   after them read back as "T   ", "LA  " ...;
// - of a type 4 or 5 identification, the first 10 characters and the three
//   rim values the first channel's encodes;
// - each number as printed, with its decimals (0 to 30; a number that is
//   not finite is printed without them);
// - the samples of the first channel, and one for each of them of every
//   other channel: -100 past the end of a shorter one, which the file cannot
//   tell from a sample of -100 (the reader's logs have none shorter);
// - the step bytes of the step modes (the fixed modes: 0).

#include <string>
#include <string_view>

#include "device/DeviceLog.h"

// How the data lines are written.
enum class DataLayout {
    Text,          // "YYYY/MM/DD HH:MM:SS.t", numbers right-justified in 12
    Comma,         // "MM/DD/YY,HH:MM:SS.t,..." as saved after a download
    CommaFullDate  // "YYYY/MM/DD,HH:MM:SS.t,..." as the Export writes it
};

struct ReadResult {
    DeviceLog log;  // the whole log when read, else a fresh one
    DataLayout layout = DataLayout::Text;
    // Data lines past what a channel holds (30000 samples): read and
    // checked, but not kept, as after the download that wrote them.
    int samplesNotKept = 0;
    // Empty when the file was read; else why not, with errorLine the line
    // (1-based) that could not be read, or 0 when the file itself could not.
    std::string error;
    int errorLine = 0;

    bool ok() const { return error.empty(); }
    // "line 12: why", or why alone when no line is to blame.
    std::string Message() const;
};

ReadResult ReadDataText(std::string_view text);
ReadResult ReadDataFile(const std::string& path);
