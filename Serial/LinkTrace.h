#pragma once
// A record of what crosses the serial link, for diagnosing a bad cable or a
// misbehaving reader: every command frame sent, every reply frame collected
// (with the reason when it was refused) and the line's own events.
//
// CSerialLoader calls a trace from two threads (the client sends, the reader
// collects), so an implementation must be safe to call from both at once.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

enum class TraceDirection { Sent, Received };

class LinkTrace {
  public:
    virtual ~LinkTrace() = default;
    // remark: why a reply was not taken; empty for a command and a reply taken.
    virtual void Frame(TraceDirection direction, const uint8_t* bytes, size_t count,
                       std::string_view remark) = 0;
    virtual void Note(std::string_view text) = 0;
};

// Appends one line per frame or note to a text file:
//   12:03:04.123 -> 01 4D 38 31 02 30 30 30 30 30 03 7A  |.M81.00000.z|
//   12:03:04.281 <- 01 4D 38 30 02 ...  |.M80....|  bad checksum
//   12:03:04.290 == line error flags 0x0008
// Times are local, with milliseconds; each line is flushed as it is written.
class FileLinkTrace : public LinkTrace {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Opens path for appending and writes a line with the date; null with the
    // system's reason in error when it cannot.
    static std::shared_ptr<FileLinkTrace> Open(const std::string& path, std::string* error,
                                               Clock clock = {});

    void Frame(TraceDirection direction, const uint8_t* bytes, size_t count,
               std::string_view remark) override;
    void Note(std::string_view text) override;

    // One frame as it is written (without the time stamp and line end).
    static std::string FormatFrame(TraceDirection direction, const uint8_t* bytes, size_t count,
                                   std::string_view remark);

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    FileLinkTrace(std::FILE* file, Clock clock);
    void WriteLine(std::string_view text);

    std::mutex lock_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    Clock clock_;
};
