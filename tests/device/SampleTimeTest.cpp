#include "device/CivilTime.h"
#include "device/SampleTime.h"
#include "device/Tenths.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/TestRecords.h"

namespace {

constexpr int64_t kStart = 1041476645;  // 05:04:03 02/01/03

struct Stamp {
    int64_t offset;  // seconds after the start
    int tenths;
    bool operator==(const Stamp&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Stamp& s) {
    return out << "+" << s.offset << "." << s.tenths;
}

std::vector<Stamp> Stamps(const char* rate, const char* mode, const std::vector<uint8_t>& steps) {
    const DeviceLog log = test::DecodeLog({.sampleRate = rate, .sampleMode = mode});
    SampleClock clock(log);
    std::vector<Stamp> stamps;
    for (uint8_t step : steps) {
        const SampleTime t = clock.Next(step);
        stamps.push_back({t.seconds - kStart, t.tenths});
    }
    return stamps;
}

using S = std::vector<Stamp>;

TEST(SampleTimes, FixedModesCountInTenths) {
    const std::vector<uint8_t> five(5, 9);  // step bytes are ignored in fixed modes
    EXPECT_EQ(Stamps("00 00:00:00 5", "T   ", five), (S{{0, 0}, {0, 5}, {1, 0}, {1, 5}, {2, 0}}));
    // 3 tenths: the seconds move on at the fifth line, never backwards.
    EXPECT_EQ(Stamps("00 00:00:00 3", "T   ", five), (S{{0, 0}, {0, 3}, {0, 6}, {0, 9}, {1, 2}}));
    EXPECT_EQ(Stamps("00 00:00:01 0", "T   ", five), (S{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}));
    // 15 tenths keeps its half second instead of drifting to whole seconds.
    EXPECT_EQ(Stamps("00 00:00:01 5", "T   ", five), (S{{0, 0}, {1, 5}, {3, 0}, {4, 5}, {6, 0}}));
    EXPECT_EQ(Stamps("00 01:00:00 0", "X   ", {1, 1}), (S{{0, 0}, {3600, 0}}));
}

TEST(SampleTimes, StepModesRunTheSumOfIntervalTimesStep) {
    // The first sample already lies step * I after the start.
    EXPECT_EQ(Stamps("00 00:00:00 5", "LA  ", {1, 2, 3, 0}), (S{{0, 5}, {1, 5}, {3, 0}, {3, 0}}));
    EXPECT_EQ(Stamps("00 00:00:02 0", "LB  ", {3, 1}), (S{{6, 0}, {8, 0}}));
    EXPECT_EQ(Stamps("00 00:00:01 5", "LZ  ", {1, 1, 255}), (S{{1, 5}, {3, 0}, {385, 5}}));
}

TEST(SampleTimes, AStartOfBlanksCountsFromTheDateItReadsAs) {
    const DeviceLog log = test::DecodeLog({.sampleRate = "00 00:00:00 5", .startTime = "  "});
    SampleClock clock(log);
    const SampleTime first = clock.Next(0);
    const SampleTime second = clock.Next(0);
    const int64_t start = SecondsFromCivil({1999, 11, 30, 0, 0, 0});  // every pair 0
    EXPECT_EQ(first.seconds, start);
    EXPECT_EQ(first.tenths, 0);
    EXPECT_EQ(second.seconds, start);
    EXPECT_EQ(second.tenths, 5);
}

TEST(SampleTimes, ForEveryRowFromTheFirstChannelsSteps) {
    DeviceLog log = test::DecodeLog({.sampleRate = "00 00:00:01 0", .sampleMode = "LC  "});
    EXPECT_TRUE(SampleTimes(log).empty());  // no channel, no rows
    log.addChannel(LogChannel{});
    log.addChannel(LogChannel{});
    for (uint8_t step : {2, 0, 5}) {
        log.channel(0)->appendSample(0, 0, step);
        log.channel(1)->appendSample(0, 0, 100);  // other channels' steps do not count
    }
    const std::vector<SampleTime> times = SampleTimes(log);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[0].seconds, kStart + 2);
    EXPECT_EQ(times[1].seconds, kStart + 2);
    EXPECT_EQ(times[2].seconds, kStart + 7);
}

// Tenths since 1970 split into a second and a digit floor, before 1970 too
// (dividing toward zero once put -0.1 s at 00:00:00.9), and join back.
TEST(Tenths, SplitFloorsAndJoinsBack) {
    const struct {
        int64_t count, seconds;
        int digit;
    } cases[] = {{0, 0, 0}, {9, 0, 9}, {10, 1, 0}, {-1, -1, 9}, {-10, -1, 0}, {-11, -2, 9}};
    for (const auto& c : cases) {
        const SampleTime time = SampleTimeOf(Tenths(c.count));
        EXPECT_EQ(time.seconds, c.seconds) << c.count;
        EXPECT_EQ(time.tenths, c.digit) << c.count;
        EXPECT_EQ(Tenths(c.count).FloorSeconds(), c.seconds) << c.count;
        EXPECT_EQ(TenthsOf(time), Tenths(c.count)) << c.count;
    }
    // What the callers once wrote inline: seconds * 10, a clock offset's minutes * 600.
    EXPECT_EQ(Tenths::OfSeconds(-3), Tenths(-30));
    EXPECT_EQ(Tenths::OfMinutes(-90), Tenths(-54000));
    EXPECT_EQ(Tenths(15) * 3 - Tenths::OfSeconds(4), Tenths(5));
}

}  // namespace
