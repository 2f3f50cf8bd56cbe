#include "datafile/DataFileWriter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datafile/StagedFile.h"
#include "device/FixedText.h"
#include "support/InDirectory.h"
#include "support/TestLogs.h"

namespace {

namespace fs = std::filesystem;
using test::ChannelFields;
using test::HeaderFields;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> Lines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(content.substr(start, end - start));
    }
    EXPECT_EQ(start, content.size()) << "text after the last CR LF";
    return lines;
}

TitleStamp FixedStamp() {
    return {{2024, 3, 7, 14, 5, 9}, "hydro"};
}

// The two-channel log of the golden files: 15 tenths from 2003-01-02
// 03:04:05, a second channel shorter than the first.
DeviceLog GoldenLog() {
    return test::MakeLog(HeaderFields{}, {test::kLevel, test::kTemperature},
                         {{{0, 0}, {120, 48}, {200, 119}, {0, 120}}, {{0, 0}, {0, 60}}});
}

class WriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("arvelo-writer-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        writer_.SetTitleSource(FixedStamp);
    }
    void TearDown() override {
        writer_.Close();
        fs::remove_all(dir_);
    }

    std::string PathOf(const char* name) const { return (dir_ / name).string(); }

    // Writes the log (header and every sample) and returns the file's lines.
    std::vector<std::string> WriteWhole(const DeviceLog& log, bool comma = false) {
        const std::string path = PathOf("log.omb");
        EXPECT_EQ(writer_.Open(path.c_str(), "w"), 0);
        EXPECT_EQ(writer_.WriteLog(&log), WRITE_OK);
        WriteLogSamples(writer_, log, comma);
        EXPECT_EQ(writer_.Close(), 0);
        return Lines(ReadFile(path));
    }

    static std::size_t DataStart(const std::vector<std::string>& lines) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].starts_with("[Data]")) {
                return i + 2;
            }
        }
        ADD_FAILURE() << "no [Data] line";
        return lines.size();
    }

    bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    fs::path dir_;
    DataFileWriter writer_;
};

// The golden files were written by hand from the file layout rules.
TEST_F(WriterTest, GoldenFiles) {
    const DeviceLog log = GoldenLog();
    const support::InDirectory inDir(dir_);  // the FILENAME line shows the path as given
    for (const char* name : {"golden.omb", "golden.csv"}) {
        ASSERT_EQ(writer_.Open(name, "w"), 0);
        EXPECT_EQ(writer_.WriteLog(&log), WRITE_OK);
        EXPECT_EQ(WriteLogSamples(writer_, log, UsesCommaLayout(name + 6)), WRITE_OK);
        EXPECT_EQ(writer_.Close(), 0);
        const std::string expected =
            ReadFile(fs::path(ARVELO_SOURCE_DIR) / "tests/datafile/golden" / name);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(ReadFile(name), expected) << name;
    }
}

TEST_F(WriterTest, SampleLines) {
    ASSERT_EQ(writer_.Open(PathOf("log.omb").c_str(), "w"), 0);
    const double values[] = {12.345, 5.678};
    const int32_t decimals[] = {3, 2};
    const int64_t at = 1079086503;  // 2004-03-12 10:15:03
    EXPECT_EQ(writer_.WriteSampleLine(at, 3, values, decimals, 2, false), WRITE_OK);
    EXPECT_EQ(writer_.WriteSampleLine(at, 3, values, decimals, 2, true), WRITE_OK);
    // Widths are minima, never cuts; a negative decimals count prints none.
    const double wide[] = {5, -1234567.5, 7};
    const int32_t wideDecimals[] = {0, 3, -4};
    writer_.WriteSampleLine(0, 0, wide, wideDecimals, 3, true);
    writer_.WriteSampleLine(0, 0, wide, wideDecimals, 3, false);
    writer_.Close();
    EXPECT_EQ(Lines(ReadFile(PathOf("log.omb"))),
              (std::vector<std::string>{"2004/03/12 10:15:03.3      12.345        5.68",
                                        "03/12/04,10:15:03.3,12.345,5.68",
                                        "01/01/70,00:00:00.0, 5,-1234567.500, 7",
                                        "1970/01/01 00:00:00.0           5-1234567.500           7",
                                        "END OF DATA FILE OF ZOZUVADURU FOR WINDOWS"}));
}

TEST_F(WriterTest, TextLines) {
    ASSERT_EQ(writer_.Open(PathOf("log.omb").c_str(), "w"), 0);
    const char* values[] = {"12.345", nullptr, "1234567890123"};
    EXPECT_EQ(writer_.WriteTextLine("2004/03/12", "10:15:03.3", values, 3, false), WRITE_OK);
    EXPECT_EQ(writer_.WriteTextLine("2004/03/12", "10:15:03.3", values, 3, true), WRITE_OK);
    EXPECT_EQ(writer_.WriteTextLine(nullptr, "t", values, 3, false), WRITE_SKIPPED);
    EXPECT_EQ(writer_.WriteTextLine("d", "t", nullptr, 3, false), WRITE_SKIPPED);
    EXPECT_EQ(writer_.WriteTextLine("d", "t", values, 0, false), WRITE_SKIPPED);
    writer_.Close();
    const std::vector<std::string> lines = Lines(ReadFile(PathOf("log.omb")));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "2004/03/12 10:15:03.3      12.345            1234567890123");
    EXPECT_EQ(lines[1], "2004/03/12,10:15:03.3,12.345,,1234567890123");
}

TEST_F(WriterTest, EmptyLogHasZeroCountBeforeClosingLine) {
    const DeviceLog empty = test::DecodeLog(HeaderFields{});  // announces 2, holds none
    const std::vector<std::string> lines = WriteWhole(empty);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "[Data]         ");
    EXPECT_EQ(lines[lines.size() - 2], "0");
    EXPECT_EQ(lines.back(), "END OF DATA FILE OF ZOZUVADURU FOR WINDOWS");
}

TEST_F(WriterTest, CountRewriteKeepsFileLength) {
    for (int count : {9, 12345}) {
        const std::string path = PathOf("count.omb");
        ASSERT_EQ(writer_.Open(path.c_str(), "w"), 0);
        const LogHeader header = test::DecodeLog(HeaderFields{}).header();
        const ChannelHeader channel = test::DecodeChannel(ChannelFields{}).header();
        writer_.WriteHeader(&header, &channel, 1);
        const double value = 1.5;
        const int32_t decimals = 1;
        for (int i = 0; i < count; ++i) {
            writer_.WriteSampleLine(i, 0, &value, &decimals, 1, false);
        }
        ASSERT_EQ(writer_.Close(), 0);
        const std::vector<std::string> lines = Lines(ReadFile(path));
        const std::size_t data = DataStart(lines);
        const std::string digits = std::to_string(count);
        EXPECT_EQ(lines[data - 2], "[Data]" + std::string(10 - digits.size(), ' '));
        EXPECT_EQ(lines[data - 1], digits);
        EXPECT_EQ(lines[data], "1970/01/01 00:00:00.0         1.5");
        EXPECT_EQ(lines.size(), data + count + 1);
    }
}

TEST_F(WriterTest, InstrumentTypes) {
    struct Case {
        const char* digits;
        const char* typeText;
        const char* levelKey;
        bool rim;
    };
    const Case cases[] = {
        {"04", "Marut =7", "  Switch Level            =", true},
        {"05", "Marut =7", "  Switch Level            =", true},
        {"06", "Wendrow =9", "  Totalisation factor     =", false},
        {"07", "Pexil =2", "  Master Level            =", false},
        {"08", "Pexil =3", "  Master Level            =", false},
        {"09", "Pexil =4", "  Master Level            =", false},
        {"10", "Pexil =3", "  Master Level            =", false},
        {"11", "Pexil =12", "  Master Level            =", false},
        {"12", "Pexil =3", "  Master Level            =", false},
        {"00", "Pexil =3", "  Master Level            =", false},
    };
    for (const Case& c : cases) {
        DeviceLog log = test::DecodeLog(HeaderFields{}, c.digits);
        log.header().channelCount = 1;
        log.addChannel(test::DecodeChannel({.identification = "ABCDEFGHIJ#0A1000F4B"}));
        const std::vector<std::string> lines = WriteWhole(log);
        EXPECT_TRUE(HasLine(lines, std::string("  Instrument type         =") + c.typeText))
            << c.digits;
        EXPECT_TRUE(HasLine(lines, std::string(c.levelKey) + "5.125     m     ")) << c.digits;
        EXPECT_EQ(HasLine(lines, "  Rim Height              =16.1"), c.rim) << c.digits;
        const std::string id = c.rim ? "ABCDEFGHIJ" : "ABCDEFGHIJ#0A1000F4B";
        EXPECT_TRUE(HasLine(lines, "  Identification          =" + id)) << c.digits;
    }
}

TEST_F(WriterTest, RimParameters) {
    struct Case {
        const char* flagAndGroups;  // identification characters 10-19
        const char* outputFactor;
        const char* thresholdWidth;
        const char* rimHeight;
    };
    const Case cases[] = {
        {"#0A1002A4B", "0.8", "4.2", "16.1"},  // hexadecimal: 4B = 75 hundredths
        {"#0G1002A4B", "0.8", "4.2", "0.0"},   // one bad digit spoils only its group
        {"#0a1 02A4b", "0.8", "0.0", "16.1"},
        {" 161  4275", "0.8", "4.2", "16.1"},  // decimal, leading blanks allowed
        {" -1 +0427x", "0.1", "4.2", "-0.1"},
        {"*161004275", "0.0", "0.0", "0.0"},  // any other flag
    };
    for (const Case& c : cases) {
        DeviceLog log = test::DecodeLog(HeaderFields{}, "04");
        log.header().channelCount = 1;
        log.addChannel(
            test::DecodeChannel({.identification = std::string("ID        ") + c.flagAndGroups}));
        const std::vector<std::string> lines = WriteWhole(log);
        const auto at = std::find(lines.begin(), lines.end(), "  Channel                 =1");
        ASSERT_NE(at, lines.end());
        EXPECT_EQ(at[1], std::string("  Output Factor           =") + c.outputFactor)
            << c.flagAndGroups;
        EXPECT_EQ(at[2], std::string("  Threshold Width         =") + c.thresholdWidth)
            << c.flagAndGroups;
        EXPECT_EQ(at[3], std::string("  Rim Height              =") + c.rimHeight)
            << c.flagAndGroups;
        EXPECT_EQ(at[4], "[Channel 1]");
    }
}

TEST_F(WriterTest, SampleModeTexts) {
    const std::pair<const char*, const char*> cases[] = {{"Txyz", "T   "}, {"LBzz", "LB  "},
                                                         {"LAxx", "LA  "}, {"LC  ", "LC  "},
                                                         {"LXYZ", "LXYZ"}, {"Q1\0\0", "Q1"}};
    for (const auto& [mode, text] : cases) {
        DeviceLog log = test::DecodeLog(HeaderFields{});
        std::memcpy(log.header().sampleMode, mode, 4);
        const std::vector<std::string> lines = WriteWhole(log);
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             std::string("  Sample Mode             =") + text),
                  2)
            << mode;
    }
}

TEST_F(WriterTest, ChannelNumberTexts) {
    DeviceLog log = test::DecodeLog(HeaderFields{});
    log.header().channelCount = 1;
    log.addChannel(test::DecodeChannel(
        {.reference = "1.5e9", .range = "7", .rangeUnit = std::string("mm\0\0x", 5)}));
    const std::vector<std::string> lines = WriteWhole(log);
    EXPECT_TRUE(HasLine(lines, "  Reference               =1500000000.000cm    "));
    EXPECT_TRUE(HasLine(lines, "  Range                   =7         mm"));
}

// The "Channel" line states what the header announces; the sections, and the
// values of each data line, are the channels the log holds: none made up,
// none left out, and a header is written whatever the count.
TEST_F(WriterTest, TheChannelLineStatesTheCountTheSectionsAreTheChannelsHeld) {
    for (const int announced : {2, 3, 99, 1, 0, -1}) {
        DeviceLog log = GoldenLog();
        log.header().channelCount = announced;
        const std::vector<std::string> lines = WriteWhole(log);
        EXPECT_TRUE(HasLine(lines, "  Channel                 =" + std::to_string(announced)))
            << announced;
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.starts_with("[Channel "); }),
            4)
            << announced;
        EXPECT_TRUE(HasLine(lines, "[Channel 2 from data header]")) << announced;
        const std::size_t data = DataStart(lines);
        ASSERT_LT(data, lines.size());
        EXPECT_EQ(lines[data], "2003/01/02 03:04:05.0        12.5       -5.00") << announced;
    }
    // The export of a log shown without channels: a header all the same.
    const LogHeader header = GoldenLog().header();
    ASSERT_EQ(writer_.Open(PathOf("none.omb").c_str(), "w"), 0);
    EXPECT_EQ(writer_.WriteHeader(&header, nullptr, 0), WRITE_OK);
    writer_.Close();
    EXPECT_TRUE(HasLine(Lines(ReadFile(PathOf("none.omb"))), "[Instrument info from data header]"));
}

// Ordinary texts and numbers are written as they are; what would break a
// line or run into its neighbour is kept apart so that it reads back.
TEST_F(WriterTest, OddTextsAndNumbersKeepTheirLinesAndFields) {
    std::string text = test::HeaderText({.location = "RIVER\r\nA\\B\t"});
    text[20 + 2] = '\0';  // the serial number ends early
    DeviceLog log;
    log.parseLogHeader(text.data(), static_cast<int>(text.size()));
    log.setInstrumentInfo("10", "PEXIL    ", "DD   ");
    log.addChannel(test::DecodeChannel({.identification = std::string("A\0B", 3),
                                        .reference = "1234567890",
                                        .referenceUnit = "5cm",
                                        .range = "9e12",
                                        .rangeUnit = "C:\\"}));
    log.addChannel(test::DecodeChannel({.reference = "3", .range = "9e12"}));
    log.channel(0)->appendSample(0, 120, 0);
    log.channel(1)->appendSample(0, 120, 0);
    const std::vector<std::string> lines = WriteWhole(log);
    for (const std::string& line : lines) {
        ASSERT_EQ(line.find_first_of(std::string("\0\r\n\t", 4)), std::string::npos) << line;
    }
    // The whole field, each control byte as \xHH and the backslash doubled.
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "  Location                =RIVER\\x0D\\x0AA\\\\B\\x09         "),
              2);
    EXPECT_TRUE(HasLine(lines, "  Serial number           =PX"));
    EXPECT_TRUE(HasLine(lines, "  Identification          =A"));
    EXPECT_TRUE(HasLine(lines, "  Reference               =1234567890 5cm   "));
    EXPECT_TRUE(HasLine(lines, "  Range                   =9000000000000C:\\   "));
    // Wide numbers without decimals: a blank keeps the second off the first.
    EXPECT_EQ(lines[DataStart(lines)], "2003/01/02 03:04:05.09001234567890 9000000000003");
}

TEST_F(WriterTest, OpenAndCloseRules) {
    EXPECT_EQ(writer_.Close(), 0);  // nothing open
    EXPECT_EQ(writer_.Open(PathOf("missing/dir/x.omb").c_str(), "w"), -1);
    EXPECT_EQ(writer_.LastError(), ENOENT);  // the system's reason, for the message
    EXPECT_FALSE(writer_.IsOpen());
    EXPECT_EQ(writer_.Open(nullptr, "w"), -1);
    EXPECT_EQ(writer_.LastError(), -1);

    ASSERT_EQ(writer_.Open(PathOf("first.omb").c_str(), "w"), 0);
    EXPECT_TRUE(writer_.IsOpen());
    EXPECT_EQ(writer_.Open(PathOf("second.omb").c_str(), "w"), 0);  // keeps the first
    const char* value[] = {"1"};
    writer_.WriteTextLine("d", "t", value, 1, true);
    EXPECT_EQ(writer_.Close(), 0);
    EXPECT_FALSE(writer_.IsOpen());
    EXPECT_EQ(writer_.Close(), 0);
    EXPECT_FALSE(fs::exists(PathOf("second.omb")));
    // No header: only the closing line and no count.
    EXPECT_EQ(ReadFile(PathOf("first.omb")),
              "d,t,1\r\nEND OF DATA FILE OF ZOZUVADURU FOR WINDOWS\r\n");
}

TEST_F(WriterTest, WritesOnClosedWriterOrWithoutArgumentsAreSkipped) {
    const DeviceLog log = GoldenLog();
    const double value = 1;
    const int32_t decimals = 0;
    EXPECT_EQ(writer_.WriteLog(&log), WRITE_SKIPPED);
    EXPECT_EQ(WriteLogSamples(writer_, log, false), WRITE_SKIPPED);
    ASSERT_EQ(writer_.Open(PathOf("log.omb").c_str(), "w"), 0);
    EXPECT_EQ(writer_.WriteLog(nullptr), WRITE_SKIPPED);
    EXPECT_EQ(writer_.WriteHeader(&log.header(), nullptr, 1), WRITE_SKIPPED);
    EXPECT_EQ(writer_.WriteSampleLine(0, 0, nullptr, &decimals, 1, false), WRITE_SKIPPED);
    EXPECT_EQ(writer_.WriteSampleLine(0, 0, &value, &decimals, 0, false), WRITE_SKIPPED);
    writer_.Close();
    EXPECT_EQ(ReadFile(PathOf("log.omb")), "END OF DATA FILE OF ZOZUVADURU FOR WINDOWS\r\n");
}

TEST_F(WriterTest, LostDataIsReportedAtClose) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    const DeviceLog log = GoldenLog();
    ASSERT_EQ(writer_.Open("/dev/full", "w"), 0);
    writer_.WriteLog(&log);
    WriteLogSamples(writer_, log, false);
    EXPECT_EQ(writer_.Close(), ENOSPC);
    EXPECT_EQ(writer_.LastError(), ENOSPC);
    EXPECT_FALSE(writer_.IsOpen());
}

// The incomplete name is always created new: a link planted under it is not
// followed, whatever it points to, and what was kept of a log that did not
// complete is never written over.
TEST_F(WriterTest, AnIncompleteFileIsCreatedNewNeverThroughWhatHasItsName) {
    const std::string path = PathOf("log.omb");
    const fs::path partial = PartialName(path);
    const DeviceLog log = GoldenLog();
    std::ofstream(partial) << "what was read of a log";
    StagedDataFile kept;
    EXPECT_EQ(kept.Open(path.c_str(), "w"), -1);
    kept.Discard();
    EXPECT_EQ(ReadFile(partial), "what was read of a log");

    fs::remove(partial);
    StagedDataFile file;
    ASSERT_EQ(file.Open(path.c_str(), "w"), 0);
    EXPECT_EQ(file.WriteLog(&log), WRITE_OK);
    EXPECT_EQ(file.Finish(), 0);
    EXPECT_FALSE(fs::exists(partial));
    EXPECT_TRUE(ReadFile(path).ends_with("END OF DATA FILE OF ZOZUVADURU FOR WINDOWS\r\n"));

    const fs::path target = dir_ / "elsewhere";
    std::error_code error;
    fs::create_symlink(target, partial, error);
    if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    }
    for (const bool targetExists : {false, true}) {
        if (targetExists) {
            std::ofstream(target) << "not ours";
        }
        StagedDataFile linked;
        EXPECT_EQ(linked.Open(path.c_str(), "w"), -1);
        EXPECT_EQ(linked.WriteLog(&log), WRITE_SKIPPED);
        EXPECT_EQ(linked.Finish(), 0);
        linked.Discard();
        EXPECT_TRUE(fs::is_symlink(partial));
        EXPECT_EQ(fs::exists(target), targetExists);
    }
    EXPECT_EQ(ReadFile(target), "not ours");
}

TEST(ParseHexDigits, Values) {
    EXPECT_EQ(DataFileWriter::ParseHexDigits("0A1", 3), 161);
    EXPECT_EQ(DataFileWriter::ParseHexDigits("fF", 2), 255);
    EXPECT_EQ(DataFileWriter::ParseHexDigits("1 2", 3), 0);
    EXPECT_EQ(DataFileWriter::ParseHexDigits("1", 2), 0);  // stops at the terminator
    EXPECT_EQ(DataFileWriter::ParseHexDigits("12", 0), 0);
    EXPECT_EQ(DataFileWriter::ParseHexDigits(nullptr, 2), 0);
    EXPECT_EQ(DataFileWriter::ParseHexDigits("FFFFFFFFFFFFFFFFFF", 18), -1);  // wraps, no UB
}

TEST(UsesCommaLayout, OnlyOmbGetsTheTextLayout) {
    EXPECT_FALSE(UsesCommaLayout(".omb"));
    EXPECT_FALSE(UsesCommaLayout(".OmB"));
    EXPECT_FALSE(UsesCommaLayout(".ombx"));
    EXPECT_TRUE(UsesCommaLayout(".csv"));
    EXPECT_TRUE(UsesCommaLayout(".om"));
    EXPECT_TRUE(UsesCommaLayout(""));
    EXPECT_TRUE(UsesCommaLayout(nullptr));
}

}  // namespace
