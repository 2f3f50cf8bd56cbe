#pragma once
// The shapes a data file's numbers and times are written in, read from the
// left: what the reader checks a file against, and the rim parameters put
// back from their text.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "datafile/DataFileReader.h"
#include "device/CivilTime.h"
#include "device/SampleTime.h"
#include "device/Tenths.h"

namespace omb {

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of the number at the start of text as the writer prints it: an
// optional minus, then "inf", "nan", or digits followed, when decimals > 0,
// by a point and exactly that many digits. With decimals < 0 any number of
// decimals. 0 when no such number stands there.
std::size_t NumberLength(std::string_view text, int decimals);

// False when the number does not fit a double: this program never writes
// one, so the file was not written by it (or was edited).
bool NumberValue(std::string_view token, double& value);

// The decimals a number was printed with.
int DecimalsOf(std::string_view token);

// The layout of a file's data lines, as its first one shows it.
DataLayout LayoutOf(std::string_view line);

// A time of a data line as written, before it is checked against the log's clock.
struct LineTime {
    CivilTime civil;
    bool twoDigitYear = false;
    int tenths = 0;

    // Since 1970, its year as written.
    Tenths Since1970() const { return Tenths::OfSeconds(SecondsFromCivil(civil)) + Tenths(tenths); }
    // Whether this is the time written for that sample time.
    bool Shows(const SampleTime& time) const;
};

// Reads the fixed shapes of a data line's time from left to right.
class TimeScanner {
  public:
    explicit TimeScanner(std::string_view text) : text_(text) {}

    // The date and time a data line of this layout begins with, a valid one.
    bool LineStart(DataLayout layout, LineTime& time);
    bool Char(char c);
    bool TwoDigits(int& value);
    bool Year(int64_t& year);
    // "HH:MM:SS.t"
    bool Clock(LineTime& time);
    // "YYYY/MM/DD" followed by separator
    bool FullDate(LineTime& time, char separator);
    // "MM/DD/YY,"
    bool ShortDate(LineTime& time);
    std::size_t Position() const { return pos_; }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace omb
