#pragma once
// Reads a data file this program wrote, ".omb" or CSV in either layout, back
// into a DeviceLog: the header block gives the instrument and channel
// headers, the data lines the samples. The file is read whole or not at all:
// a truncated, edited or foreign file gives an error naming the first line
// that could not be read, never a part of a log.
//
// Written again with the same layout, a log read from a file gives the same
// bytes, title block aside.

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
