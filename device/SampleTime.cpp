#include "device/SampleTime.h"

#include <charconv>

#include "device/CivilTime.h"
#include "device/DigitPairs.h"

SampleClock::SampleClock(const LogHeader& header)
    : stepMode_(header.isStepMode()),
      interval_(Tenths(SampleRateTenths(header.sampleRate))),
      next_(Tenths::OfSeconds(DateFieldSeconds(header.startTime))) {}

SampleTime SampleClock::Next(uint8_t step) {
    Tenths time = next_;
    if (stepMode_) {
        next_ += interval_ * step;
        time = next_;
    } else {
        next_ += interval_;
    }
    return SampleTimeOf(time);
}

std::vector<SampleTime> SampleTimes(const DeviceLog& log) {
    const LogChannel* first = log.channel(0);
    if (first == nullptr) {
        return {};
    }
    SampleClock clock(log);
    std::vector<SampleTime> times;
    times.reserve(first->stepBytes().size());
    for (uint8_t step : first->stepBytes()) {
        times.push_back(clock.Next(step));
    }
    return times;
}

void AppendSampleTime(std::string& out, const SampleTime& time, std::string_view separator) {
    const CivilTime civil = CivilFromSeconds(time.seconds);
    char year[24];
    out.append(year, std::to_chars(year, year + sizeof year, civil.year).ptr);
    out += '/';
    AppendPairs(out, '/', {civil.month, civil.day});
    out += separator;
    AppendPairs(out, ':', {civil.hour, civil.minute, civil.second});
    out += '.';
    out += static_cast<char>('0' + time.tenths);
}

std::string SampleTimeText(const SampleTime& time, std::string_view separator) {
    std::string text;
    AppendSampleTime(text, time, separator);
    return text;
}
