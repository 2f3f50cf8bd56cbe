#pragma once
// Where the download engine writes a log while it reads it: a header once,
// then one data line per record. The engine knows only this; a staged data
// file (datafile/StagedFile.h) is the sink the program hands the controller.

#include <cstdint>

#include "device/DeviceLog.h"

class LogSink {
  public:
    virtual ~LogSink() = default;

    // 0 when open (a file open already is kept), else non-zero.
    virtual int Open(const char* path, const char* mode) = 0;
    // Safe to poll from another thread while the file is being opened.
    virtual bool IsOpen() const = 0;
    virtual int WriteLog(const DeviceLog* log) = 0;
    // The time as UTC seconds and a tenths digit, then one number per channel.
    virtual int WriteSampleLine(int64_t seconds, int tenths, const double* values,
                                const int32_t* decimals, int count, bool comma) = 0;
    // Hands what was written so far to the system (not to the disk), so that
    // a program that dies leaves it in the file; 0, or the system's error code.
    virtual int Flush() = 0;
    // Closes a log that did not complete: it keeps a name that says so. 0,
    // or the system's error code when the file could not be written completely.
    virtual int Close() = 0;
    // Closes a complete log: on the disk under its final name. 0, or the
    // system's error code (the file is left as Close leaves it then).
    virtual int Finish() = 0;
    virtual int LastError() const = 0;
};

// The comma layout is used unless the file type starts with ".omb" (any case).
bool UsesCommaLayout(const char* extension);
