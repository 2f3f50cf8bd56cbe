#include "device/DeviceLog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "device/CivilTime.h"
#include "device/FixedText.h"
#include "support/TestRecords.h"

namespace {

using test::ChannelFields;
using test::HeaderFields;

// A heap copy of exactly the given bytes, so ASan sees any read past them.
std::unique_ptr<char[]> Exact(const std::string& bytes) {
    auto copy = std::make_unique<char[]>(bytes.size());
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    return copy;
}

LogChannel ChannelWithReference(const char* referenceText) {
    ChannelFields f;
    f.reference = referenceText;
    return test::DecodeChannel(f);
}

TEST(ChannelDecoding, ValueTextsAndDecimals) {
    struct Case {
        const char* text;
        double value;
        int decimals;
    };
    const Case cases[] = {
        {"  12.50   ", 12.5, 2},
        {"     3    ", 3.0, 0},  // no point: decimals stay as reset left them
        {"1.2.3     ", 1.2, 3},  // the leftmost point counts what follows it
        {"    .     ", 0.0, 0},  // a lone point
        {"  -.5     ", -0.5, 1},
        {"+4.25e1   ", 42.5, 4},
        {"7e        ", 7.0, 0},  // an exponent without digits is not part of the number
        {"abc.12    ", 0.0, 2},
        {"nan       ", 0.0, 0},  // only digits, point and exponent make a number
        {"inf       ", 0.0, 0},
        {"1e999     ", HUGE_VAL, 0},
        {"1e-999    ", 0.0, 0},
    };
    for (const Case& c : cases) {
        const LogChannel channel = ChannelWithReference(c.text);
        EXPECT_DOUBLE_EQ(channel.header().referenceLevel, c.value) << c.text;
        EXPECT_EQ(channel.header().referenceDecimals, c.decimals) << c.text;
    }
}

TEST(ChannelDecoding, ZeroBytesInsideFields) {
    std::string record = test::ChannelRecord(ChannelFields{});
    record[4] = '\0';                                // inside the identification
    record.replace(20, 10, "12.5\0\0\0\0\0\0", 10);  // a value text cut short by zeros
    LogChannel channel;
    ASSERT_EQ(channel.parseChannelHeader(Exact(record).get(), 84), RESULT_OK);
    // Identification and units are kept byte for byte, readers stop at the zero.
    EXPECT_EQ(std::memcmp(channel.header().identification, record.data(), 20), 0);
    EXPECT_EQ(FieldText(channel.header().identification), "WELL");
    EXPECT_DOUBLE_EQ(channel.header().referenceLevel, 12.5);
    EXPECT_EQ(channel.header().referenceDecimals, 1);
}

TEST(ChannelDecoding, MissingOrShortTextLeavesChannelAlone) {
    LogChannel channel = test::DecodeChannel(ChannelFields{});
    const std::string record = test::ChannelRecord(ChannelFields{.identification = "OTHER"});
    EXPECT_EQ(channel.parseChannelHeader(nullptr, 84), RESULT_BAD_INPUT);
    EXPECT_EQ(channel.parseChannelHeader(Exact(record).get(), 83), RESULT_BAD_INPUT);
    EXPECT_EQ(channel.parseChannelHeader(record.data(), -1), RESULT_BAD_INPUT);
    EXPECT_EQ(FieldText(channel.header().identification), "WELL LEVEL          ");
}

TEST(LogChannelTest, ResetGivesDefaults) {
    LogChannel channel = test::DecodeChannel(ChannelFields{});
    channel.appendSample(1, 2, 3);
    channel.reset();
    const ChannelHeader& h = channel.header();
    EXPECT_EQ(FieldText(h.identification), "LEVEL");
    for (const auto* unit : {h.referenceUnit, h.rangeUnit, h.masterLevelUnit, h.altitudeUnit}) {
        EXPECT_EQ(FieldText(unit, 6), "CM");
    }
    EXPECT_EQ(h.range, 0.0);
    EXPECT_EQ(h.rangeDecimals, 0);
    EXPECT_EQ(channel.sampleMode(), "T   ");
    EXPECT_EQ(channel.sampleCount(), 0);
    EXPECT_TRUE(channel.values().empty());
}

TEST(LogChannelTest, SampleValues) {
    ChannelFields f;
    f.reference = "2.5";
    f.range = "200";
    LogChannel channel = test::DecodeChannel(f);
    EXPECT_EQ(channel.appendSample(0, 0, 0), RESULT_OK);
    EXPECT_EQ(channel.appendSample(120, 48, 7), RESULT_OK);
    EXPECT_EQ(channel.appendSample(0, 120, 0), RESULT_OK);  // 30000: the full range
    EXPECT_DOUBLE_EQ(channel.sampleValue(0), 2.5);
    EXPECT_DOUBLE_EQ(channel.sampleValue(1), 0.404 * 200 + 2.5);
    EXPECT_DOUBLE_EQ(channel.sampleValue(2), 202.5);
    EXPECT_EQ(channel.stepByte(1), 7);
    EXPECT_EQ(channel.sampleValue(-1), -100.0);
    EXPECT_EQ(channel.sampleValue(3), -100.0);
    EXPECT_EQ(channel.stepByte(-1), 156);
    EXPECT_EQ(channel.stepByte(3), 156);
    EXPECT_EQ(channel.values().size(), 3u);
    EXPECT_EQ(channel.stepBytes().size(), 3u);
}

TEST(LogChannelTest, FullChannelDropsSamples) {
    LogChannel channel;
    for (int i = 0; i < LogChannel::kMaxSamples; ++i) {
        ASSERT_EQ(channel.appendSample(static_cast<uint8_t>(i % 250), 0, 0), RESULT_OK);
    }
    EXPECT_EQ(channel.appendSample(1, 1, 1), RESULT_FULL);
    EXPECT_EQ(channel.sampleCount(), 30000);
    EXPECT_EQ(channel.values().size(), 30000u);
    EXPECT_EQ(channel.stepBytes().size(), 30000u);
}

TEST(LogHeaderDecoding, Fields) {
    // The golden file tests check the text fields as written; here what is derived.
    const DeviceLog log = test::DecodeLog(HeaderFields{}, "04");
    EXPECT_EQ(log.header().shortSerial(), "012767");
    EXPECT_EQ(log.channelCount(), 2);  // characters 11-12 of the serial number
    EXPECT_EQ(log.header().instrumentType, 4);
    EXPECT_EQ(FieldText(log.header().endTime), "35:04:03 02/01/03");
}

TEST(LogHeaderDecoding, HostileText) {
    std::string text = test::HeaderText(HeaderFields{.serialNumber = "PX00-01276799"});
    text[3] = '\0';  // zero byte inside the location ends its copy
    DeviceLog log;
    ASSERT_EQ(log.parseLogHeader(Exact(text).get(), 109), RESULT_OK);
    EXPECT_EQ(FieldText(log.header().location), "RIV");
    EXPECT_EQ(log.header().location[19], '\0');  // the rest is zero filled
    EXPECT_EQ(log.channelCount(), 99);

    text[31] = '-';
    text[32] = '\0';
    ASSERT_EQ(log.parseLogHeader(Exact(text).get(), 109), RESULT_OK);
    EXPECT_EQ(log.channelCount(), 0);
}

TEST(LogHeaderDecoding, MissingOrShortTextKeepsHeader) {
    DeviceLog log;
    const std::string text = test::HeaderText(HeaderFields{});
    EXPECT_EQ(log.parseLogHeader(nullptr, 109), RESULT_BAD_INPUT);
    EXPECT_EQ(log.parseLogHeader(Exact(text).get(), 108), RESULT_BAD_INPUT);
    EXPECT_EQ(FieldText(log.header().location), "MERVA");
    EXPECT_EQ(log.channelCount(), 1);
}

TEST(DeviceLogTest, Defaults) {
    const DeviceLog log;
    const LogHeader& h = log.header();
    EXPECT_EQ(FieldText(h.serialNumber), "..00-12767  1...");
    EXPECT_EQ(FieldText(h.sampleRate), "00 00:10:00 0");
    EXPECT_EQ(h.instrumentType, 10);
    EXPECT_EQ(FieldText(h.instrumentTypeName), "PEXIL    ");
    EXPECT_EQ(FieldText(h.instrumentTypeTag), "DD   ");
    EXPECT_EQ(log.channels().count(), 0);
    EXPECT_EQ(log.sampleInterval(), Tenths::OfMinutes(10));
    EXPECT_EQ(log.expectedSampleCount(), 3u);  // 30 minutes at 10 minutes
}

TEST(DeviceLogTest, InstrumentInfo) {
    DeviceLog log;
    EXPECT_EQ(log.setInstrumentInfo("06", "WENDROW  X", "TAG  Y"), RESULT_OK);
    EXPECT_EQ(log.header().instrumentType, 6);
    EXPECT_EQ(FieldText(log.header().instrumentTypeName), "WENDROW  ");
    EXPECT_EQ(FieldText(log.header().instrumentTypeTag), "TAG  ");
    EXPECT_EQ(log.setInstrumentInfo("7", "", ""), RESULT_OK);  // short texts are fine
    EXPECT_EQ(log.header().instrumentType, 7);

    EXPECT_EQ(log.setInstrumentInfo("06", nullptr, "TAG"), RESULT_BAD_INPUT);
    EXPECT_EQ(log.header().instrumentType, 10);
    EXPECT_EQ(FieldText(log.header().instrumentTypeName), "PEXIL    ");
    EXPECT_EQ(FieldText(log.header().instrumentTypeTag), "DD   ");
}

TEST(DeviceLogTest, ChannelLookup) {
    DeviceLog log = test::DecodeLog(HeaderFields{.sampleMode = "LB"});
    EXPECT_EQ(log.channel(-1), nullptr);  // nothing held yet
    EXPECT_EQ(log.addChannel(test::DecodeChannel({.identification = "FIRST"})), RESULT_OK);
    log.addChannel(test::DecodeChannel({.identification = "SECOND"}));
    ASSERT_NE(log.channel(-1), nullptr);
    EXPECT_EQ(log.channel(-1), log.channel(0));
    EXPECT_EQ(FieldText(log.channel(1)->header().identification).substr(0, 6), "SECOND");
    EXPECT_EQ(log.channel(2), nullptr);  // whatever the header announces
    EXPECT_EQ(log.channelCount(), 2);
    log.header().channelCount = 7;
    EXPECT_EQ(log.channel(2), nullptr);
    EXPECT_EQ(log.channel(0)->sampleMode(), "LB  ");  // taken when added
    const LogChannel* first = log.channel(0);
    for (int i = 0; i < 50; ++i) {
        log.addChannel(LogChannel{});
    }
    EXPECT_EQ(first, log.channel(0));  // the engine keeps channel pointers while adding
}

TEST(LogListTest, HoldsDeepCopies) {
    LogList list;
    DeviceLog log = test::DecodeLog(HeaderFields{});
    log.addChannel(LogChannel{});
    log.channel(0)->appendSample(1, 0, 0);
    list.append(log);
    log.channel(0)->appendSample(2, 0, 0);
    CopyField(log.header().location, "CHANGED");
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.item(0)->channel(0)->sampleCount(), 1);
    EXPECT_EQ(FieldText(list.item(-5)->header().location).substr(0, 5), "RIVER");
    EXPECT_EQ(list.item(1), nullptr);
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.item(0), nullptr);
}

int64_t Seconds(const char* field) {
    char buffer[17];
    std::memcpy(buffer, field, 17);
    return DateFieldSeconds(buffer);
}

TEST(Dates, ConvertAsUtc) {
    EXPECT_EQ(Seconds("05:04:03 02/01/03"), 1041476645);  // 2003-01-02 03:04:05
    EXPECT_EQ(Seconds("00:00:12 29/02/04"), 1078056000);  // leap day
    EXPECT_EQ(Seconds("00:00:00 01/01/99"), 4070908800);  // after January 2038
    EXPECT_EQ(Seconds("59:59:23 31/12/99"), 4102444799);
    EXPECT_EQ(Seconds("00:00:00 01/01/00"), 946684800);
}

TEST(Dates, EachPairIsAnIntegerAndValuesOutOfRangeCountOn) {
    struct Row {
        const char* field;
        CivilTime time;
    };
    const Row rows[] = {
        {"05:04:03  2/ 1/03", {2003, 1, 2, 3, 4, 5}},  // blank-padded pairs
        {" 5: 4: 3 02/01/03", {2003, 1, 2, 3, 4, 5}},
        {"+5:04:03 02/01/03", {2003, 1, 2, 3, 4, 5}},
        {"0a:04:03 02/01/03", {2003, 1, 2, 3, 4, 0}},  // digits up to the first non-digit
        {"00:00:24 02/01/03", {2003, 1, 3, 0, 0, 0}},  // hour 24: the next day
        {"00:60:00 02/01/03", {2003, 1, 2, 1, 0, 0}},
        {"-1:00:00 01/01/03", {2002, 12, 31, 23, 59, 59}},
        {"00:00:00 00/03/04", {2004, 2, 29, 0, 0, 0}},  // day 0: the last of the month before
        {"00:00:00 29/02/03", {2003, 3, 1, 0, 0, 0}},
        {"00:00:00 01/13/03", {2004, 1, 1, 0, 0, 0}},  // month 13: January of the next year
        {"00:00:00 01/00/03", {2002, 12, 1, 0, 0, 0}},
        {"                 ", {1999, 11, 30, 0, 0, 0}},  // all pairs 0
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Seconds(row.field), SecondsFromCivil(row.time)) << row.field;
    }
}

TEST(Dates, CivilRoundTripAcrossTheRange) {
    for (int64_t s = -100LL * 86400 * 366; s < 200LL * 86400 * 366; s += 86400 * 7 + 3607) {
        const CivilTime t = CivilFromSeconds(s);
        ASSERT_EQ(SecondsFromCivil(t), s);
        ASSERT_GE(t.day, 1);
        ASSERT_LE(t.day, DaysInMonth(t.year, t.month));
    }
    const CivilTime epochEve = CivilFromSeconds(-1);
    EXPECT_EQ(epochEve.year, 1969);
    EXPECT_EQ(epochEve.second, 59);
    // Defined at the ends of the range (UBSan would report an overflow).
    EXPECT_GT(CivilFromSeconds(INT64_MAX).year, 2000);
    EXPECT_LT(CivilFromSeconds(INT64_MIN).year, 0);
}

uint32_t Interval(const char* rate) {
    char buffer[13];
    std::memcpy(buffer, rate, 13);
    return SampleRateTenths(buffer);
}

TEST(SampleInterval, Tenths) {
    EXPECT_EQ(Interval("00 00:00:00 0"), 10u);
    EXPECT_EQ(Interval("00 00:00:00 5"), 5u);
    EXPECT_EQ(Interval("01 02:03:04 5"), 864000u + 72000u + 1800u + 40u + 5u);
    EXPECT_EQ(Interval(" 1 00:00: 2 0"), 864020u);  // leading blanks are read
    EXPECT_EQ(Interval("-1 00:00:00 0"), 10u);      // not positive
    EXPECT_EQ(Interval("xx xx:xx:xx x"), 10u);
}

TEST(ExpectedSamples, FromStartEndAndInterval) {
    DeviceLog log = test::DecodeLog(HeaderFields{});
    EXPECT_EQ(log.expectedSampleCount(), 20u);  // 30 s at 15 tenths
    CopyField(log.header().endTime, "05:04:03 02/01/03");
    EXPECT_EQ(log.expectedSampleCount(), 1u);  // end not after start
    CopyField(log.header().endTime, "00:00:00 01/01/99");
    EXPECT_EQ(log.expectedSampleCount(), (4070908800ull - 1041476645ull) * 10 / 15);
}

}  // namespace
