// Reading data files back: what the program wrote reads back to a log that
// writes the same bytes again (title block aside), and a file that is cut
// short, edited or foreign is refused with the line to blame.
#include "datafile/DataFileReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "datafile/DataFileWriter.h"
#include "datafile/StagedFile.h"
#include "device/FixedText.h"
#include "support/CarriedLog.h"
#include "support/DataFiles.h"
#include "support/ReplayHost.h"
#include "support/TestLogs.h"

namespace {

namespace fs = std::filesystem;
using e2e::ComparableLines;
using e2e::ReadText;

// Every log of a reader downloaded by the engine, each saved as the download
// saves it, with the extension's layout.
std::vector<std::string> DownloadFiles(const std::string& json, const simtest::TempDir& dir,
                                       const std::string& extension) {
    std::string error;
    sim::MemoryImage image = simtest::BuildImage(json, &error);
    EXPECT_EQ(error, "");
    DeviceState state{std::make_unique<StagedDataFile>()};
    replay::ReplayHost host(state, std::move(image));
    DownloadEngine engine(state, host);
    std::vector<std::string> files;
    host.answerOpenFile = [&] {
        files.push_back(dir.File("log" + std::to_string(files.size() + 1) + extension));
        state.OpenOutputFile(files.back().c_str(), extension.c_str());
    };
    host.Post(TM_DOWNLOAD_START, platform::MAKEWPARAM(CMD_READ, 0));
    host.Run(engine);
    return files;
}

// The file written again from what was read from it, in the same layout.
std::string WrittenAgain(const ReadResult& read, const std::string& path) {
    DataFileWriter writer;
    EXPECT_EQ(writer.Open(path.c_str(), "w"), 0);
    WriteWholeLog(writer, read.log, read.layout != DataLayout::Text);
    EXPECT_EQ(writer.Close(), 0);
    return ReadText(path);
}

void ExpectReadsBackTheSame(const std::string& path, DataLayout layout) {
    const ReadResult read = ReadDataFile(path);
    ASSERT_TRUE(read.ok()) << path << ": " << read.Message();
    EXPECT_EQ(read.layout, layout) << path;
    EXPECT_EQ(ComparableLines(WrittenAgain(read, path + ".again")), ComparableLines(ReadText(path)))
        << path;
}

TEST(DataFileReader, SampleReadersReadBackToTheSameFiles) {
    std::vector<std::string> readers;
    for (const char* folder : {"/tools/sim/samples", "/tests/device/data"}) {
        for (const auto& entry : fs::directory_iterator(std::string(ARVELO_SOURCE_DIR) + folder)) {
            if (entry.path().extension() == ".json") {
                readers.push_back(entry.path().string());
            }
        }
    }
    ASSERT_GE(readers.size(), 6u);
    const simtest::TempDir dir;
    int files = 0;
    for (const std::string& reader : readers) {
        for (const auto& [extension, layout] :
             {std::pair{".omb", DataLayout::Text}, std::pair{".csv", DataLayout::Comma}}) {
            for (const std::string& path : DownloadFiles(ReadText(reader), dir, extension)) {
                SCOPED_TRACE(reader);
                ExpectReadsBackTheSame(path, layout);
                ++files;
            }
        }
    }
    EXPECT_GE(files, 12);
}

// Random logs of every kind the writer knows: instrument types, sample
// modes and rates, rim parameters, channels shorter than the first or not
// held at all, starts that are not dates.
class RandomLogs {
  public:
    explicit RandomLogs(unsigned seed) : random_(seed) {}

    DeviceLog Next() {
        test::HeaderFields header;
        header.location = Text(20, "ABCDEFGHIJ KLMNOPQ_-.0123");
        const int held = Int(1, 4);
        header.serialNumber = Text(11, "PX0-123456789") + "0" +
                              std::to_string(std::max(1, held + Int(-1, 1))) +
                              Text(3, "0123456789.");
        header.instrumentNumber = Text(Int(0, 20), "IN-0123456789 ");
        header.sampleRate = Pair(2) + " " + Pair(3) + ":" + Pair(60) + ":" + Pair(60) + " " +
                            std::to_string(Int(0, 9));
        header.sampleMode =
            Pick<std::string>({"T   ", "TX  ", "LA  ", "LB  ", "LCxy", "LD  ", "X12 "});
        header.startTime = Int(0, 9) == 0 ? "99:99:99 99/99/99"
                                          : Pair(60) + ":" + Pair(60) + ":" + Pair(24) + " " +
                                                Pair(28, 1) + "/" + Pair(12, 1) + "/" + Pair(100);
        header.endTime = Text(17, "0123456789:/ ");
        const int type = Pick({0, 4, 5, 6, 7, 8, 9, 10, 11, 12});
        std::vector<test::ChannelFields> channels;
        std::vector<std::vector<test::Sample>> samples;
        const int count = Int(0, 300);
        const bool step = header.sampleMode[0] == 'L';
        for (int j = 0; j < held; ++j) {
            test::ChannelFields channel;
            channel.identification = Text(10, "LEVEL TEMP0123") + Rim();
            channel.reference = Number();
            channel.referenceUnit = Text(Int(0, 6), "cmCM ");
            channel.range = Number();
            channel.rangeUnit = Text(Int(0, 6), "mM C");
            channel.masterLevel = Number();
            channel.masterLevelUnit = Text(Int(0, 6), "cm");
            channel.altitude = Number();
            channel.altitudeUnit = Text(Int(0, 6), "m");
            channels.push_back(channel);
            std::vector<test::Sample>& values = samples.emplace_back();
            const int length = j == 0 ? count : Int(0, count);
            for (int k = 0; k < length; ++k) {
                values.push_back({static_cast<uint8_t>(Int(0, 249)),
                                  static_cast<uint8_t>(Int(0, 120)),
                                  static_cast<uint8_t>(step ? Int(0, 4) : 0)});
            }
        }
        return test::MakeLog(header, channels, samples, std::to_string(type));
    }

  private:
    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    template <class T>
    T Pick(std::initializer_list<T> choices) {
        return choices.begin()[Int(0, static_cast<int>(choices.size()) - 1)];
    }
    std::string Text(int length, std::string_view alphabet) {
        std::string text;
        for (int i = 0; i < length; ++i) {
            text +=
                alphabet[static_cast<std::size_t>(Int(0, static_cast<int>(alphabet.size()) - 1))];
        }
        return text;
    }
    // Two digits below limit, at least low.
    std::string Pair(int limit, int low = 0) {
        const int n = Int(low, limit - 1);
        return std::string{static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
    }
    // A value text of a channel record: sign, digits, maybe a point and decimals.
    std::string Number() {
        std::string text = Int(0, 3) == 0 ? "-" : "";
        text += std::to_string(Int(0, 99999));
        if (Int(0, 2) > 0) {
            text += "." + Text(Int(1, 3), "0123456789");
        }
        return std::string(static_cast<std::size_t>(Int(0, 2)), ' ') + text;
    }
    // Characters 10-19 of an identification: the rim flag and three groups.
    std::string Rim() {
        switch (Int(0, 3)) {
            case 0:
                return "#" + Text(9, "0123456789ABCDEFabcdef");
            case 1:
                return " " + Text(9, "0123456789 -");
            case 2:
                return "x" + Text(9, "0123456789");
            default:
                return "";
        }
    }

    std::mt19937 random_;
};

TEST(DataFileReader, RandomLogsReadBackToTheSameFilesInBothLayouts) {
    const simtest::TempDir dir;
    RandomLogs logs(20240603);
    for (int i = 0; i < 150; ++i) {
        const DeviceLog log = logs.Next();
        for (const auto& [comma, layout] :
             {std::pair{false, DataLayout::Text}, std::pair{true, DataLayout::Comma}}) {
            const std::string path =
                dir.File("random" + std::to_string(i) + (comma ? ".csv" : ".omb"));
            DataFileWriter writer;
            ASSERT_EQ(writer.Open(path.c_str(), "w"), 0);
            WriteWholeLog(writer, log, comma);
            ASSERT_EQ(writer.Close(), 0);
            SCOPED_TRACE("random log " + std::to_string(i));
            ExpectReadsBackTheSame(path, layout);
        }
    }
}

// Logs the writer must defend itself against, and odd ones a reader may
// send: each reads back as it was written, in both layouts, and writes the
// same bytes again.
TEST(DataFileReader, OddLogsReadBackAsTheyWereWritten) {
    using test::ChannelFields;
    using test::HeaderFields;
    const std::vector<std::vector<test::Sample>> two = {{{0, 0}, {120, 48}}, {{0, 0}, {0, 60}}};
    const auto announcing = [&two](int count) {
        DeviceLog log = test::MakeLog(HeaderFields{}, {test::kLevel, test::kTemperature}, two);
        log.header().channelCount = count;
        return log;
    };
    const std::pair<const char*, DeviceLog> cases[] = {
        {"none announced", announcing(0)},
        {"a negative count", announcing(-1)},
        {"five announced, one held",
         test::MakeLog({.serialNumber = "PX00-012767051.0"}, {test::kLevel}, {{{1, 2}, {3, 4}}})},
        {"no channel held", test::DecodeLog(HeaderFields{})},
        {"no channel held, rim parameters", test::DecodeLog(HeaderFields{}, "04")},
        {"control bytes and backslashes in texts",
         test::MakeLog({.location = "RIVER\r\nGAUGE\\7",
                        .instrumentNumber = "IN\t4711\x7f",
                        .sampleMode = "X\n\x1a "},
                       {{.identification = "WELL\rLEVEL", .referenceUnit = "c\x01m"}}, {{{1, 2}}})},
        {"a Marut's name with a line end",
         test::MakeLog(HeaderFields{}, {{.identification = "AB\nCDEFGHI#0A1002A4B"}}, {{{1, 2}}},
                       "04")},
        {"units beginning with digits after wide numbers",
         test::MakeLog(HeaderFields{},
                       {{.reference = "1234567890",
                         .referenceUnit = "5cm",
                         .range = "-123456789",
                         .rangeUnit = ".5m",
                         .masterLevel = "9e12",
                         .masterLevelUnit = " 7"}},
                       {{{1, 2}, {3, 4}}})},
        {"wide values without decimals",
         test::MakeLog(HeaderFields{}, {{.range = "9e12"}, {.reference = "3", .range = "9e12"}},
                       {{{0, 120}, {1, 1}}, {{0, 120}, {7, 0}}})},
        {"samples of -100 at the end",
         test::MakeLog(HeaderFields{}, {test::kLevel, {.reference = "-100.00", .range = "50.00"}},
                       {{{0, 0}, {1, 1}, {2, 2}}, {{3, 3}, {0, 0}, {0, 0}}})},
        {"a step mode",
         test::MakeLog({.sampleMode = "LB  "}, {test::kLevel, test::kTemperature},
                       {{{0, 0, 3}, {1, 0, 0}, {2, 0, 252}}, {{0, 0, 3}, {1, 0, 0}, {2, 0, 252}}})},
    };
    const simtest::TempDir dir;
    for (const auto& [what, log] : cases) {
        for (const auto& [comma, layout] :
             {std::pair{false, DataLayout::Text}, std::pair{true, DataLayout::Comma}}) {
            SCOPED_TRACE(std::string(what) + (comma ? ", comma layout" : ""));
            const std::string path = dir.File(comma ? "odd.csv" : "odd.omb");
            DataFileWriter writer;
            ASSERT_EQ(writer.Open(path.c_str(), "w"), 0);
            WriteWholeLog(writer, log, comma);
            ASSERT_EQ(writer.Close(), 0);
            const ReadResult read = ReadDataFile(path);
            ASSERT_TRUE(read.ok()) << read.Message();
            EXPECT_EQ(test::CarriedDifference(log, read.log), "");
            ExpectReadsBackTheSame(path, log.channel(0) ? layout : DataLayout::Text);
        }
    }
}

// The golden log's file, as lines without their CR LF.
std::vector<std::string> GoldenLines(bool comma) {
    const DeviceLog log =
        test::MakeLog(test::HeaderFields{}, {test::kLevel, test::kTemperature},
                      {{{0, 0}, {120, 48}, {200, 119}, {0, 120}}, {{0, 0}, {0, 60}}});
    const simtest::TempDir dir;
    const std::string path = dir.File("golden");
    DataFileWriter writer;
    writer.Open(path.c_str(), "w");
    WriteWholeLog(writer, log, comma);
    writer.Close();
    std::vector<std::string> lines = ComparableLines(ReadText(path));
    lines.pop_back();  // nothing follows the last CR LF
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

// Lines of the golden file: 11 instrument type, 16 location, 19 channel
// count, 22 first reference, 35 the data header's location, 42 its first
// reference, 53 the count, 54-57 the data lines, 58 the closing line.
struct DamageCase {
    const char* what;
    bool comma;
    std::function<std::string(std::vector<std::string>)> edit;
    int line;
    const char* says;
};
// The golden file with one line replaced.
std::function<std::string(std::vector<std::string>)> Replaced(int line, std::string text) {
    return [line, text](std::vector<std::string> lines) {
        lines[static_cast<std::size_t>(line - 1)] = text;
        return Joined(lines);
    };
}
// The golden file's first lines only.
std::function<std::string(std::vector<std::string>)> FirstLines(int count) {
    return [count](std::vector<std::string> lines) {
        lines.resize(static_cast<std::size_t>(count));
        return Joined(lines);
    };
}
const std::vector<DamageCase> kDamages = {
    {"empty", false, [](auto) { return std::string(); }, 1, "empty"},
    {"foreign", false, [](auto) { return std::string("PK\x03\x04 a zip file"); }, 1,
     "not a data file"},
    {"cut in the header", false, FirstLines(30), 31, "ends here"},
    {"cut before the closing line", false, FirstLines(57), 58, "ends here"},
    {"cut inside a data line", false,
     [](std::vector<std::string> lines) {
         lines.resize(56);
         return Joined(lines).substr(0, Joined(lines).size() - 30);
     },
     56, "date and time"},
    {"line left out", false,
     [](std::vector<std::string> lines) {
         lines.erase(lines.begin() + 23);
         return Joined(lines);
     },
     24, "Master Level"},
    {"unknown instrument type", false, Replaced(11, "  Instrument type         =Marut =8"), 11,
     "instrument type"},
    {"location too long", false,
     Replaced(16, "  Location                =RIVER GAUGE 7 AT THE OLD MILL"), 16, "20"},
    {"channel count past two digits", false, Replaced(19, "  Channel                 =100"), 19,
     "channel count"},
    {"unit too long", false, Replaced(22, "  Reference               =12.50     cm per s"), 22,
     "unit"},
    {"reference too large to read", false,
     Replaced(22, "  Reference               =1" + std::string(400, '0') + ".50cm    "), 22,
     "too large"},
    {"a zero byte in a text", false,
     Replaced(16, std::string("  Location                =RIVER\0GAUGE 7       ", 47)), 16,
     "zero byte"},
    {"data header differs", false, Replaced(35, "  Location                =RIVER GAUGE 8"), 35,
     "differs"},
    {"channel copy differs", false, Replaced(42, "  Reference               =12.55     cm    "), 42,
     "differs"},
    {"wrong count", false, Replaced(53, "5"), 53, "holds 4"},
    {"value not a number", false, Replaced(55, "2003/01/02 03:04:06.5       41x.5       20.00"), 55,
     "channel 1"},
    {"value too large to read", false,
     Replaced(55, "2003/01/02 03:04:06.5 1" + std::string(400, '0') + ".5       20.00"), 55,
     "too large"},
    {"value with other decimals", false,
     Replaced(55, "2003/01/02 03:04:06.5       416.50      20.00"), 55, "channel 2"},
    {"value too many", false,
     Replaced(55, "2003/01/02 03:04:06.5       416.5       20.00        1.00"), 55, "more values"},
    {"time off the clock", false, Replaced(56, "2003/01/02 03:04:09.0      1010.8     -100.00"), 56,
     "time"},
    {"not a date", false, Replaced(56, "2003/02/30 03:04:08.0      1010.8     -100.00"), 56,
     "date"},
    {"text after the end", false,
     [](std::vector<std::string> lines) { return Joined(lines) + "more\r\n"; }, 59, "after"},
    {"comma value with other decimals", true, Replaced(54, "01/02/03,03:04:05.0,12.50,-5.00"), 54,
     "channel 1"},
    {"comma value missing", true, Replaced(54, "01/02/03,03:04:05.0,12.5"), 54, "values"},
};

TEST(DataFileReader, DamagedOrForeignFilesNameTheLineAndGiveNoLog) {
    for (const DamageCase& c : kDamages) {
        const ReadResult read = ReadDataText(c.edit(GoldenLines(c.comma)));
        EXPECT_FALSE(read.ok()) << c.what;
        EXPECT_EQ(read.errorLine, c.line) << c.what << ": " << read.Message();
        EXPECT_NE(read.Message().find(c.says), std::string::npos)
            << c.what << ": " << read.Message();
        EXPECT_EQ(read.log.channels().count(), 0) << c.what;
    }
}

TEST(DataFileReader, ValuesAndAShorterChannelReadBackAsTheFileShowsThem) {
    const ReadResult read = ReadDataText(Joined(GoldenLines(false)));
    ASSERT_TRUE(read.ok()) << read.Message();
    const LogChannel& level = *read.log.channel(0);
    const LogChannel& temperature = *read.log.channel(1);
    EXPECT_EQ(std::vector<double>(level.values().begin(), level.values().end()),
              (std::vector<double>{12.5, 416.5, 1010.8, 1012.5}));
    // Written as -100.00 past its end, as the grid shows it: a sample of
    // -100 looks the same, and is never dropped.
    EXPECT_EQ(std::vector<double>(temperature.values().begin(), temperature.values().end()),
              (std::vector<double>{-5.0, 20.0, -100.0, -100.0}));
    EXPECT_EQ(FieldText(read.log.header().startTime), "05:04:03 02/01/03");
    EXPECT_EQ(temperature.header().rangeDecimals, 2);
}

TEST(DataFileReader, LinesPastWhatAChannelHoldsAreCheckedButNotKept) {
    test::HeaderFields header;
    header.serialNumber = "PX00-012767011.0";  // one channel
    header.sampleRate = "00 00:00:01 0";
    std::vector<test::Sample> samples(LogChannel::kMaxSamples, test::Sample{10, 20});
    const DeviceLog log = test::MakeLog(header, {test::kLevel}, {samples});
    const simtest::TempDir dir;
    const std::string path = dir.File("long.omb");
    DataFileWriter writer;
    writer.Open(path.c_str(), "w");
    WriteWholeLog(writer, log, false);
    // The download writes every record, also past a full channel.
    const double value = 1.0;
    const int32_t decimals = 1;
    for (int k = 0; k < 3; ++k) {
        writer.WriteSampleLine(log.startSeconds() + LogChannel::kMaxSamples + k, 0, &value,
                               &decimals, 1, false);
    }
    writer.Close();
    const ReadResult read = ReadDataFile(path);
    ASSERT_TRUE(read.ok()) << read.Message();
    EXPECT_EQ(read.log.channel(0)->sampleCount(), LogChannel::kMaxSamples);
    EXPECT_EQ(read.samplesNotKept, 3);
}

TEST(DataFileReader, AFileThatCannotBeOpenedSaysWhy) {
    const ReadResult read = ReadDataFile("/nonexistent/log.omb");
    EXPECT_EQ(read.errorLine, 0);
    EXPECT_EQ(read.Message(), "No such file or directory");
}

}  // namespace
