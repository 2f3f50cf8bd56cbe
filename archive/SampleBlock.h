#pragma once
// How the archive keeps samples: a series' samples in blocks of up to
// kBlockSamples, each block written once by one download and never
// changed. A block holds its times and values packed: the time as the step
// from the sample before, the value as its difference from the value before,
// both as variable-length integers, so a regular series costs a few bytes a
// sample. Values are kept exactly as the data file prints them: an integer
// count of the block's decimals.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace archive {

inline constexpr int kBlockSamples = 1024;
// Values of more digits than this are refused: they could not be compared
// at other decimals without overflow.
inline constexpr int kMaxDecimals = 15;

// A number as the data file prints it: mantissa / 10^decimals.
struct Decimal {
    int64_t mantissa = 0;
    int decimals = 0;
};

// The number printf("%.*f", decimals, value) prints; none when it is not
// finite or has more than 17 digits.
std::optional<Decimal> DecimalOf(double value, int decimals);
// "-12.50": the number with its decimals.
std::string DecimalText(const Decimal& value);
void AppendDecimal(std::string& out, const Decimal& value);
bool SameNumber(const Decimal& a, const Decimal& b);
// The number as a double, for drawing and computing with.
double DoubleOf(const Decimal& value);

struct PackedSample {
    int64_t time;  // tenths of a second since 1970 UTC
    int64_t mantissa;
};

// Samples in increasing time.
std::vector<uint8_t> PackSamples(std::span<const PackedSample> samples);
// count samples of a block whose first sample is at firstTime; false when
// the bytes do not hold them.
bool UnpackSamples(std::span<const uint8_t> bytes, int64_t firstTime, int64_t count,
                   std::vector<PackedSample>& out);
// Their times alone, for what needs no values (gaps, counts): faster.
bool UnpackTimes(std::span<const uint8_t> bytes, int64_t firstTime, int64_t count,
                 std::vector<int64_t>& out);

}  // namespace archive
