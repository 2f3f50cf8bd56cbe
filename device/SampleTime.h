#pragma once
// The time stamp of every sample of a log, shared by the download engine
// (record by record), the deferred saving and the data window (by row), so a
// log carries the same times wherever it is written or shown.
//
// Times are counted exactly in tenths of a second from the log's start:
// T = 10 * T0 + n * I in the fixed modes, and T = 10 * T0 + the running sum
// of I * step in the step modes (the first sample already lies step * I
// after the start). Counting in whole seconds and tenths separately would
// make intervals such as 3 tenths run backwards and 15 tenths drift.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceLog.h"
#include "device/Tenths.h"

struct SampleTime {
    int64_t seconds = 0;  // since 1970-01-01 00:00:00, the reader's clock taken as UTC
    int tenths = 0;       // 0-9
};

class SampleClock {
  public:
    explicit SampleClock(const LogHeader& header);
    explicit SampleClock(const DeviceLog& log) : SampleClock(log.header()) {}

    // The time of the next sample; step is the first channel's step byte of
    // that sample, ignored in the fixed modes.
    SampleTime Next(uint8_t step);

  private:
    bool stepMode_;
    Tenths interval_;
    // In the fixed modes the time of the next sample, in the step modes that
    // of the previous one (the start before the first).
    Tenths next_;
};

// A time as whole seconds and a digit 0-9, also before 1970 (a start that
// is not a date counts from -1 s).
inline SampleTime SampleTimeOf(Tenths time) {
    const auto [seconds, digit] = time.Split();
    return {seconds, static_cast<int>(digit)};
}
// And back.
inline Tenths TenthsOf(const SampleTime& time) {
    return Tenths::OfSeconds(time.seconds) + Tenths(time.tenths);
}

// The times of every sample of the first channel, in order; empty without channels.
std::vector<SampleTime> SampleTimes(const DeviceLog& log);

// "YYYY/MM/DD", separator, "HH:MM:SS.t": the time broken down without a
// time-zone shift, as the data file and the grid show it.
void AppendSampleTime(std::string& out, const SampleTime& time, std::string_view separator);
std::string SampleTimeText(const SampleTime& time, std::string_view separator = " ");
