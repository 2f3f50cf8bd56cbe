#pragma once
// Writes one log as a ".omb" text data file (the format the Ombrel
// data-management software reads) or as its comma-separated variant: a title
// block, the instrument and channel sections twice, a [Data] table with one
// line per sample, and a closing line. Every line ends with CR LF.
//
// Calling order per file: Open; WriteLog or WriteHeader once; any number of
// WriteSampleLine or WriteTextLine; Close. Close may come at any point and
// still leaves a file with its closing line and the right [Data] count.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "device/CivilTime.h"
#include "device/DeviceLog.h"
#include "device/LogSink.h"  // UsesCommaLayout

inline constexpr int WRITE_OK = 300;
inline constexpr int WRITE_SKIPPED = 301;  // nothing written: no file, or a missing argument

// When and by whom a file is written, as its title block states it.
struct TitleStamp {
    CivilTime localTime;
    std::string user;  // login name; empty when it cannot be had
};
using TitleSource = std::function<TitleStamp()>;

// The current local time and the login name of the user running the program.
TitleStamp CurrentTitleStamp();

class DataFileWriter {
  public:
    DataFileWriter();
    ~DataFileWriter();
    DataFileWriter(const DataFileWriter&) = delete;
    DataFileWriter& operator=(const DataFileWriter&) = delete;

    // Replaces CurrentTitleStamp, so that tests can write files byte for byte.
    void SetTitleSource(TitleSource source) { titleSource_ = std::move(source); }

    // 0 when open (also when a file was open already, which is kept), -1 on
    // failure. The title block names the file titleName (default: path).
    int Open(const char* path, const char* mode, const char* titleName = nullptr);
    // Open, for a file that must be new: fails when anything has the name,
    // a symbolic link included, which is never followed.
    int OpenNew(const char* path, const char* titleName = nullptr);
    // The header block for the first count channel headers (none: channels
    // may be null), ending with the [Data] placeholder.
    int WriteHeader(const LogHeader* header, const ChannelHeader* channels, int count);
    // The header block for the log: the "Channel" line states its
    // channelCount, a section follows for each channel it holds (which may
    // be more or fewer, or none).
    int WriteLog(const DeviceLog* log);
    // One data line: the time as UTC seconds and a tenths digit, then one
    // number per channel with its decimals.
    int WriteSampleLine(int64_t seconds, int tenths, const double* values, const int32_t* decimals,
                        int count, bool comma);
    // One data line from ready-made texts; a missing value text is empty.
    int WriteTextLine(const char* date, const char* time, const char* const* values, int count,
                      bool comma);
    // Writes the closing line, rewrites the [Data] count and closes; 0, or
    // the system's error code when the file could not be written completely
    // (toDisk: or could not be pushed to the disk).
    int Close(bool toDisk = false);
    // Hands what was written to the system, so that it is in the file even
    // if the program dies (not on the disk should the system die); 0, or
    // the error of the first write that failed.
    int Flush();

    // Safe to poll from another thread while the file is being opened.
    bool IsOpen() const { return open_.load(std::memory_order_acquire); }
    // The system's error code (errno) of the last failure, or -1 when it gave none.
    int LastError() const { return lastError_; }

    // n characters as a hexadecimal number; any character that is not a
    // hexadecimal digit (a blank or a zero byte included) makes it 0.
    static int64_t ParseHexDigits(const char* text, int n);

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    template <class ChannelAt>
    void WriteHeaderBlock(const LogHeader& header, int count, ChannelAt channelAt);
    void WriteChannelSection(int number, std::string_view suffix, const ChannelHeader& channel,
                             int instrumentType);
    // Takes the file just opened; error: the system's reason when there is none.
    int Adopt(std::FILE* file, int error);
    void KeyLine(std::string_view key, std::string_view value);
    template <std::size_t N>
    void FieldLine(std::string_view key, const char (&field)[N]);
    void AppendKey(std::string_view key);
    void AppendTime(int64_t seconds, int tenths, bool comma);
    void Line(std::string_view text);
    void EndLine();
    void Write(std::string_view bytes);

    std::unique_ptr<char[]> buffer_;  // declared before file_: outlives it
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::atomic<bool> open_{false};
    long dataOffset_ = 0;  // position of the [Data] line; 0 until a header is written
    std::string path_;
    int lastError_ = 0;
    int lineCount_ = 0;
    int writeError_ = 0;  // first failed write since Open
    std::string line_;    // reused for every line, so writing lines does not allocate
    TitleSource titleSource_;
};

// One data line per sample of the log's first channel, oldest first, with the
// log's sample times and one number per channel held (-100 where a channel
// has fewer samples than the first).
int WriteLogSamples(DataFileWriter& writer, const DeviceLog& log, bool comma);

// A whole log into an open file: the header block, then one data line per
// sample with the log's sample times. What saving after the download writes.
int WriteWholeLog(DataFileWriter& writer, const DeviceLog& log, bool comma);
