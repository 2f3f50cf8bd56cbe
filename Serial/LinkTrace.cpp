#include "Serial/LinkTrace.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/System.h"

namespace {

std::tm LocalTime(std::chrono::system_clock::time_point when) {
    return platform::LocalTime(std::chrono::system_clock::to_time_t(when));
}

}  // namespace

std::shared_ptr<FileLinkTrace> FileLinkTrace::Open(const std::string& path, std::string* error,
                                                   Clock clock) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        if (error != nullptr) {
            *error = std::strerror(errno);
        }
        return nullptr;
    }
    std::shared_ptr<FileLinkTrace> trace(new FileLinkTrace(file, std::move(clock)));
    char date[32];
    const std::tm today = LocalTime(trace->clock_());
    std::strftime(date, sizeof date, "trace opened %Y-%m-%d", &today);
    trace->Note(date);
    return trace;
}

FileLinkTrace::FileLinkTrace(std::FILE* file, Clock clock)
    : file_(file),
      clock_(clock ? std::move(clock) : [] { return std::chrono::system_clock::now(); }) {}

std::string FileLinkTrace::FormatFrame(TraceDirection direction, const uint8_t* bytes, size_t count,
                                       std::string_view remark) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string line = direction == TraceDirection::Sent ? "->" : "<-";
    line.reserve(4 * count + remark.size() + 8);
    for (size_t i = 0; i < count; ++i) {
        line += ' ';
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0xF];
    }
    line += "  |";
    for (size_t i = 0; i < count; ++i) {
        line += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    }
    line += '|';
    if (!remark.empty()) {
        line += "  ";
        line += remark;
    }
    return line;
}

void FileLinkTrace::Frame(TraceDirection direction, const uint8_t* bytes, size_t count,
                          std::string_view remark) {
    WriteLine(FormatFrame(direction, bytes, count, remark));
}

void FileLinkTrace::Note(std::string_view text) {
    std::string line = "== ";
    line += text;
    WriteLine(line);
}

void FileLinkTrace::WriteLine(std::string_view text) {
    // The stamp is taken under the lock, so the lines stand in time order.
    std::lock_guard<std::mutex> lock(lock_);
    const auto now = clock_();
    const std::tm parts = LocalTime(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", parts.tm_hour, parts.tm_min,
                  parts.tm_sec, static_cast<int>(milliseconds));
    std::fputs(stamp, file_.get());
    std::fwrite(text.data(), 1, text.size(), file_.get());
    std::fputc('\n', file_.get());
    std::fflush(file_.get());
}
