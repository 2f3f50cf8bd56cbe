#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "support/SimTestSupport.h"

namespace {

using sim::Bytes;
using simtest::BuildImage;

// Reads a log back the way the download does: channel count from the
// information block, sample mode from the header text, records until the
// first end marker. Values of the first channel only.
struct DecodedLog {
    int channels = 0;
    std::vector<double> values;
    std::vector<std::uint8_t> steps;
};

DecodedLog Decode(const sim::MemoryImage& memory, std::uint32_t start) {
    const std::uint8_t* m = memory.Data();
    const std::size_t info = std::size_t{2} * (start + 288);
    const std::size_t header = std::size_t{2} * (start + 448);
    DecodedLog log;
    log.channels = std::atoi(std::string(m + info + 17, m + info + 19).c_str());
    const std::size_t k = static_cast<std::size_t>(log.channels);
    const bool stepMode = m[header + 59 + 84 * k + 13] == 'L';
    const double reference = std::strtod(std::string(m + header + 79, m + header + 89).c_str(), 0);
    const double range = std::strtod(std::string(m + header + 95, m + header + 105).c_str(), 0);
    const auto isMarker = [](std::uint8_t b) { return b >= 0xFD; };
    const std::size_t recordSize = 2 * k + (stepMode ? 1 : 0);
    for (std::size_t p = header + 112 + 84 * k;; p += recordSize) {
        const std::uint8_t* record = m + p;
        if (stepMode && isMarker(record[0])) {
            return log;
        }
        if (stepMode) {
            log.steps.push_back(*record++);
        }
        for (std::size_t b = 0; b < 2 * k; ++b) {
            if (isMarker(record[b])) {
                return log;
            }
        }
        log.values.push_back((record[0] + 250.0 * record[1]) / 30000.0 * range + reference);
    }
}

std::string Text(const sim::MemoryImage& memory, std::size_t at, std::size_t count) {
    return std::string(memory.Data() + at, memory.Data() + at + count);
}

TEST(ImageBuilder, ChainWalkFindsEveryLogAtItsPage) {
    // A 2-page log, a log moved to page 5, and one right behind it.
    std::string big = "[";
    for (int i = 0; i < 2100; ++i) {
        big += (i ? ",1.5" : "1.5");
    }
    big += "]";
    const sim::MemoryImage memory = BuildImage(R"({"logs": [{"values": [)" + big +
                                               R"(]}, {"page": 5}, {"location": "THIRD"}]})");
    EXPECT_EQ(sim::LogStarts(memory), (std::vector<std::uint32_t>{0, 5 * 2048, 6 * 2048}));
    // Byte 32 of each first block names the next page; the free page reads 0xFF there.
    EXPECT_EQ(memory.Data()[32], 5);
    EXPECT_EQ(memory.Data()[5 * 4096 + 32], 6);
    EXPECT_EQ(memory.Data()[6 * 4096 + 32], 7);
    EXPECT_EQ(memory.Data()[7 * 4096 + 32], 0xFF);
    EXPECT_LE(memory.UsedBytes(), std::size_t{7} * 4096);
    EXPECT_EQ(Decode(memory, 0).values.size(), 2100u);
    EXPECT_EQ(Text(memory, 6 * 4096 + 896 + 3, 20), "THIRD               ");

    EXPECT_TRUE(sim::LogStarts(sim::MemoryImage()).empty());
}

TEST(ImageBuilder, LaysOutInformationAndHeaderBlocks) {
    const sim::MemoryImage memory = BuildImage(R"({"logs": [{
        "location": "RIVER \u00DC", "serialNumber": "..00-55501  ?...", "instrumentNumber": "N-7",
        "sampleRate": "00 00:00:02 0", "sampleMode": "LB", "startTime": "05:04:03 02/01/03",
        "endTime": "10:04:03 02/01/03", "instrumentType": 4, "instrumentName": "MARUT",
        "instrumentTag": "MR",
        "channels": [
          {"identification": "FLUME A   #0A104B04B", "reference": "1.5", "referenceUnit": "m",
           "range": "2.000", "rangeUnit": "m", "masterLevel": "0.05", "masterLevelUnit": "cm",
           "altitude": "-3", "altitudeUnit": "ft"},
          {}],
        "steps": [1, 2],
        "raw": [[[10, 20], [30, 40]], [[50, 60], [70, 80]]],
        "endMarker": 254}]})");
    const std::size_t info = 2 * 288;
    EXPECT_EQ(Text(memory, info + 17, 2), "02");
    EXPECT_EQ(Text(memory, info + 102, 2), "04");
    EXPECT_EQ(Text(memory, info + 107, 9), "MARUT    ");
    EXPECT_EQ(Text(memory, info + 117, 5), "MR   ");

    const std::size_t header = 2 * 448;
    const std::string expected =
        std::string("\xFF\xFF\xFF") +
        "RIVER \xDC"
        "             " +
        "..00-55501  2..." + "N-7                 " + "FLUME A   #0A104B04B" +
        "1.5       m     2.000     m     " + "0.05      cm    -3        ft    " +
        "LEVEL               " +
        "0.000     M     10.000    M     0.000     M     0.000     M     " + "00 00:00:02 0" +
        "LB  " + "05:04:03 02/01/03" + "  " + "10:04:03 02/01/03";
    ASSERT_EQ(expected.size(), 112u + 2 * 84);
    EXPECT_EQ(Text(memory, header, expected.size()), expected);
    const Bytes records = {1, 10, 20, 50, 60, 2, 30, 40, 70, 80, 0xFE};
    EXPECT_EQ(Bytes(memory.Data() + header + 280, memory.Data() + header + 291), records);
    // The rest of the page reads erased; the gap before the blocks is zero.
    EXPECT_EQ(memory.Data()[header + 291], 0xFF);
    EXPECT_EQ(memory.Data()[0], 0x00);
    EXPECT_EQ(memory.Data()[info - 1], 0x00);
}

TEST(ImageBuilder, EncodesValuesAsBase250DigitsLowFirst) {
    // Reference 1, range 2: the reference is 0, the full range 30000 = 0 + 250 x 120, and the
    // largest value two digits hold is 62499 / 30000 of the range.
    const sim::MemoryImage memory =
        BuildImage(R"({"logs": [{"channels": [{"reference": "1", "range": "2"}],
                        "values": [[1, 3, 5.16659, 1.00033]]}]})");
    EXPECT_EQ(Bytes(memory.Data() + 896 + 196, memory.Data() + 896 + 205),
              (Bytes{0, 0, 0, 120, 249, 249, 5, 0, 0xFD}));
}

TEST(ImageBuilder, OverridesMakeInconsistentLogs) {
    const sim::MemoryImage memory = BuildImage(R"({"logs": [
        {"infoChannelCount": 3, "headerChannelCount": "X1", "validityMark": [255, 255, 0],
         "raw": [[[1, 2]]], "endMarker": "none", "fill": 0},
        {"instrumentType": "?4", "raw": [[[3, 4]]], "endMarker": 255}]})");
    EXPECT_EQ(Text(memory, 576 + 17, 2), "03");
    EXPECT_EQ(Text(memory, 896 + 3 + 20 + 11, 2), "X1");
    EXPECT_EQ(Bytes(memory.Data() + 896, memory.Data() + 899), (Bytes{0xFF, 0xFF, 0x00}));
    // Without an end marker the data run on into the fill up to the next log.
    const std::size_t data = 896 + 196;
    EXPECT_EQ(Bytes(memory.Data() + data, memory.Data() + data + 3), (Bytes{1, 2, 0}));
    EXPECT_EQ(memory.Data()[4095], 0x00);
    EXPECT_EQ(memory.Data()[4096 + 32], 2);
    EXPECT_EQ(Text(memory, 4096 + 576 + 102, 2), "?4");
    EXPECT_EQ(memory.Data()[4096 + data + 2], 0xFF);
}

TEST(ImageBuilder, RefusesWhatItCannotLayOutWithAClearReason) {
    const struct {
        const char* json;
        const char* reason;
    } cases[] = {
        {R"({"logs": [)", "not valid JSON"},
        {R"({"logs": [{"locaton": "X"}]})", "log 1: unknown key \"locaton\""},
        {R"({"logs": [{}, {"location": "123456789012345678901"}]})",
         "log 2: \"location\" is longer than 20 characters"},
        {R"({"logs": [{"location": "WELL \u0100"}]})", "only Latin-1 ones"},
        {R"({"logs": [{"page": 1}]})", "log 1: the first log must start at page 0"},
        {R"({"logs": [{}, {"page": 0}]})", "log 2: page 0 is still used"},
        {R"({"logs": [{}, {"page": 254}]})", "log 2: does not fit"},
        {R"({"logs": [{"values": [[0.5, 25]]}]})", "record 2 lies outside"},
        {R"({"logs": [{"channels": [{"range": "0"}], "values": [[1]]}]})", "range of 0"},
        {R"({"logs": [{"sampleMode": "LA", "values": [[1]]}]})", "needs \"steps\""},
        {R"({"logs": [{"steps": [1], "values": [[1]]}]})", "belong to step modes"},
        {R"({"logs": [{"raw": [[[1, 256]]]}]})", "high byte must be a whole number from 0 to 255"},
        {R"({"logs": [{"endMarker": 16}]})", "\"endMarker\" (or \"none\")"},
    };
    for (const auto& c : cases) {
        std::string error;
        BuildImage(c.json, &error);
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.json << "\n  gave: " << error;
    }
    // The channel counts are two digits wide.
    std::string hundred(100 * 3, ',');
    for (std::size_t i = 0; i < 100; ++i) {
        hundred.replace(3 * i, 2, "{}");
    }
    std::string error;
    BuildImage(R"({"logs": [{"channels": [)" + hundred.substr(0, 299) + "]}]}", &error);
    EXPECT_NE(error.find("at most 99 channels"), std::string::npos) << error;
}

TEST(SampleImages, DemoReaderHoldsTheFourSampleLogs) {
    sim::MemoryImage demo;
    std::string error;
    ASSERT_TRUE(demo.Load(ARVELO_SOURCE_DIR "/tools/sim/samples/readers/demo.bin", &error))
        << error;
    const std::vector<std::uint32_t> logs = sim::LogStarts(demo);
    ASSERT_EQ(logs.size(), 4u);
    const DecodedLog tides = Decode(demo, logs[0]);
    EXPECT_EQ(tides.values.size(), 2880u);
    const auto [low, high] = std::minmax_element(tides.values.begin(), tides.values.end());
    EXPECT_GT(*low, 0.5);
    EXPECT_LT(*high, 4.5);
    const DecodedLog pump = Decode(demo, logs[1]);
    EXPECT_EQ(pump.channels, 2);
    EXPECT_EQ(pump.steps.size(), pump.values.size());
    EXPECT_EQ(Text(demo, 2 * (logs[2] + 288) + 102, 2), "04");
    EXPECT_EQ(Text(demo, 2 * (logs[3] + 288) + 102, 2), "06");
}

}  // namespace
