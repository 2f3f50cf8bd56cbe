#include "archive/SampleBlock.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace archive {

namespace {

constexpr int64_t kMaxMantissa = 99'999'999'999'999'999;  // 17 digits

constexpr int64_t Power10(int n) {
    int64_t p = 1;
    for (int i = 0; i < n; ++i) {
        p *= 10;
    }
    return p;
}

void PutVarint(std::vector<uint8_t>& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

bool GetVarint(std::span<const uint8_t> bytes, std::size_t& at, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at < bytes.size(); shift += 7) {
        const uint8_t byte = bytes[at++];
        // The tenth byte holds the 64th bit only: more is a damaged block,
        // which would otherwise read as other numbers.
        if (shift == 63 && byte > 1) {
            return false;
        }
        value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

uint64_t ZigZag(int64_t value) {
    return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

int64_t UnZigZag(uint64_t value) {
    return static_cast<int64_t>((value >> 1) ^ (~(value & 1) + 1));
}

}  // namespace

std::optional<Decimal> DecimalOf(double value, int decimals) {
    if (!std::isfinite(value) || decimals < 0 || decimals > kMaxDecimals) {
        return std::nullopt;
    }
    // Scaled, the value is a whole number and a fraction; printf rounds the
    // exact fraction to the nearest, an exact half to even. The product's
    // rounding error is known exactly (fma), so that a value near a half is
    // decided as printf decides it. When large, printf decides.
    const double scale = static_cast<double>(Power10(decimals));  // exact
    const double magnitude = std::abs(value);
    const double scaled = magnitude * scale;
    if (scaled < 0x1p40) {
        const auto whole = static_cast<int64_t>(scaled);
        const double fraction = scaled - static_cast<double>(whole);  // exact
        double beyondHalf = fraction - 0.5;  // exact where it matters: fraction near a half
        if (std::abs(beyondHalf) < 0x1p-8) {
            beyondHalf += std::fma(magnitude, scale, -scaled);  // its sign is exact
        }
        const bool up = beyondHalf > 0 || (beyondHalf == 0 && whole % 2 == 1);
        const int64_t rounded = whole + (up ? 1 : 0);
        return Decimal{value < 0 ? -rounded : rounded, decimals};
    }
    // As printf prints it, in any locale, and faster.
    char text[400];
    *std::to_chars(text, text + sizeof text - 1, value, std::chars_format::fixed, decimals).ptr =
        '\0';
    int64_t mantissa = 0;
    int digits = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c >= '0' && *c <= '9') {
            if (++digits > 17) {
                return std::nullopt;
            }
            mantissa = mantissa * 10 + (*c - '0');
        }
    }
    return Decimal{text[0] == '-' ? -mantissa : mantissa, decimals};
}

void AppendDecimal(std::string& out, const Decimal& value) {
    uint64_t magnitude =
        value.mantissa < 0 ? 0 - static_cast<uint64_t>(value.mantissa) : value.mantissa;
    // Written from the last digit back, two at a time, at least one before the point.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char text[48];
    char* at = std::end(text);
    int n = 0;
    while (n + 2 <= value.decimals || (n >= value.decimals && magnitude >= 100)) {
        const char* pair = kPairs + 2 * (magnitude % 100);
        if (n == value.decimals && n > 0) {
            *--at = '.';
        }
        *--at = pair[1];
        *--at = pair[0];
        magnitude /= 100;
        n += 2;
    }
    do {
        if (n == value.decimals && n > 0) {
            *--at = '.';
        }
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
        ++n;
    } while (magnitude > 0 || n <= value.decimals);
    if (value.mantissa < 0) {
        *--at = '-';
    }
    out.append(at, std::end(text));
}

std::string DecimalText(const Decimal& value) {
    std::string text;
    AppendDecimal(text, value);
    return text;
}

double DoubleOf(const Decimal& value) {
    // A power of ten up to 10^22 is exact as a double: the same quotient as pow's, sooner.
    const double scale = value.decimals >= 0 && value.decimals <= kMaxDecimals
                             ? static_cast<double>(Power10(value.decimals))
                             : std::pow(10.0, value.decimals);
    return static_cast<double>(value.mantissa) / scale;
}

bool SameNumber(const Decimal& a, const Decimal& b) {
    if (a.decimals == b.decimals) {
        return a.mantissa == b.mantissa;
    }
    // Scaled down, never up: no overflow.
    const Decimal& finer = a.decimals > b.decimals ? a : b;
    const Decimal& coarser = a.decimals > b.decimals ? b : a;
    const int64_t factor = Power10(finer.decimals - coarser.decimals);
    return finer.mantissa % factor == 0 && finer.mantissa / factor == coarser.mantissa;
}

std::vector<uint8_t> PackSamples(std::span<const PackedSample> samples) {
    std::vector<uint8_t> out;
    out.reserve(samples.size() * 4);
    int64_t time = samples.empty() ? 0 : samples.front().time;
    int64_t mantissa = 0;
    for (const PackedSample& s : samples) {
        PutVarint(out, static_cast<uint64_t>(s.time) - static_cast<uint64_t>(time));
        PutVarint(out, ZigZag(s.mantissa - mantissa));
        time = s.time;
        mantissa = s.mantissa;
    }
    return out;
}

namespace {

// The one walk over a block's bytes: put(time, mantissa) for each sample.
// Without values, a value's bytes are stepped over, not decoded: gaps and
// counts need the times alone.
template <bool kValues, class Put>
bool Walk(std::span<const uint8_t> bytes, int64_t firstTime, int64_t count, Put put) {
    std::size_t at = 0;
    uint64_t time = static_cast<uint64_t>(firstTime);
    uint64_t mantissa = 0;
    // Most steps and changes of a regular series fit one or two bytes: read
    // here, the rest by GetVarint.
    const auto next = [&bytes, &at](uint64_t& value) {
        if (at < bytes.size() && bytes[at] < 0x80) {
            value = bytes[at++];
            return true;
        }
        if (at + 1 < bytes.size() && bytes[at + 1] < 0x80) {
            value = (bytes[at] & 0x7fu) | static_cast<uint64_t>(bytes[at + 1]) << 7;
            at += 2;
            return true;
        }
        return GetVarint(bytes, at, value);
    };
    for (int64_t i = 0; i < count; ++i) {
        uint64_t step = 0;
        if (!next(step)) {
            return false;
        }
        // Unsigned: a damaged block gives wrong numbers, never undefined ones.
        time += step;
        if constexpr (kValues) {
            uint64_t change = 0;
            if (!next(change)) {
                return false;
            }
            mantissa += static_cast<uint64_t>(UnZigZag(change));
            const auto value = static_cast<int64_t>(mantissa);
            if (value > kMaxMantissa || value < -kMaxMantissa) {
                return false;
            }
            put(static_cast<int64_t>(time), value);
        } else {
            const std::size_t begin = at;
            while (at < bytes.size() && bytes[at] >= 0x80) {
                ++at;
            }
            if (at == bytes.size() || at - begin >= 10) {
                return false;
            }
            ++at;
            put(static_cast<int64_t>(time), 0);
        }
    }
    return at == bytes.size();
}

// A sample takes two bytes at least: a damaged count reserves no more than the bytes hold.
template <class T>
void MakeRoom(std::vector<T>& out, std::span<const uint8_t> bytes, int64_t count) {
    out.reserve(out.size() + static_cast<std::size_t>(
                                 std::min<int64_t>(count, static_cast<int64_t>(bytes.size() / 2))));
}

}  // namespace

bool UnpackSamples(std::span<const uint8_t> bytes, int64_t firstTime, int64_t count,
                   std::vector<PackedSample>& out) {
    MakeRoom(out, bytes, count);
    return Walk<true>(bytes, firstTime, count, [&out](int64_t time, int64_t value) {
        out.push_back({time, value});
    });
}

bool UnpackTimes(std::span<const uint8_t> bytes, int64_t firstTime, int64_t count,
                 std::vector<int64_t>& out) {
    MakeRoom(out, bytes, count);
    return Walk<false>(bytes, firstTime, count,
                       [&out](int64_t time, int64_t) { out.push_back(time); });
}

}  // namespace archive
