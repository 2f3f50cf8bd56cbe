#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "datafile/DataFileReader.h"
#include "datafile/DataFileWriter.h"
#include "datafile/StagedFile.h"
#include "support/FileSizeLimit.h"
#include "support/ScriptedPrompter.h"
#include "support/TestLogs.h"
#include "views/TfrmOutput.h"

namespace {

namespace fs = std::filesystem;
using test::HeaderFields;
using test::kLevel;
using test::kTemperature;
using test::MakeLog;

std::vector<std::string> Lines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF in " << path;
    return lines;
}

// The lines that depend on when and where a file was written.
std::vector<std::string> WithoutStamp(std::vector<std::string> lines) {
    std::erase_if(lines, [](const std::string& line) {
        return line.starts_with("DATE       : ") || line.starts_with("TIME       : ") ||
               line.starts_with("FILENAME   : ");
    });
    return lines;
}

std::vector<std::string> DataLines(const std::vector<std::string>& lines) {
    const auto data = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.starts_with("[Data]"); });
    EXPECT_LT(data + 2, lines.end());
    return {data + 2, lines.end() - 1};
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("arvelo-export-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The file the download writes for the log: header, then one line per
    // sample with the shared sample times.
    fs::path Downloaded(const DeviceLog& log, bool comma) {
        const fs::path path = dir_ / (comma ? "download.csv" : "download.omb");
        DataFileWriter writer;
        EXPECT_EQ(writer.Open(path.c_str(), "w"), 0);
        writer.WriteLog(&log);
        WriteLogSamples(writer, log, comma);
        EXPECT_EQ(writer.Close(), 0);
        return path;
    }

    fs::path Exported(const DeviceLog& log, int filterIndex) {
        const fs::path path = dir_ / (filterIndex == 1 ? "export.omb" : "export.csv");
        EXPECT_TRUE(window_.ShowLog(&log));
        EXPECT_TRUE(window_.ExportFile(QString::fromStdString(path.string()), filterIndex));
        return path;
    }

    fs::path dir_;
    test::ScriptedPrompter prompter_;
    TfrmOutput window_{0};
};

TEST_F(ExportTest, TextLayoutEqualsTheDownloadedFile) {
    const DeviceLog logs[] = {
        // 15 tenths, a second channel shorter than the first
        MakeLog(HeaderFields{}, {kLevel, kTemperature}, {{{0, 0}, {120, 48}, {7, 9}}, {{0, 60}}}),
        // a step mode under one second
        MakeLog({.sampleRate = "00 00:00:00 3", .sampleMode = "LC  "}, {kLevel, kTemperature},
                {{{1, 2, 1}, {3, 4, 4}, {5, 6, 2}}, {{7, 8}, {9, 10}, {11, 12}}}),
    };
    for (const DeviceLog& log : logs) {
        const std::vector<std::string> exported = Lines(Exported(log, 1));
        EXPECT_EQ(WithoutStamp(exported), WithoutStamp(Lines(Downloaded(log, false))));
        EXPECT_EQ(DataLines(exported).size(),
                  static_cast<std::size_t>(window_.GridModel().GridRowCount() - 1));
    }
    EXPECT_TRUE(prompter_.shown.empty());
}

TEST_F(ExportTest, CommaLayoutWritesFullDatesAndGridTexts) {
    const test::ChannelFields counter{.identification = "COUNT", .reference = "0", .range = "30"};
    const DeviceLog log =
        MakeLog(HeaderFields{}, {kLevel, counter}, {{{0, 0}, {120, 48}}, {{0, 20}}});
    const std::vector<std::string> exported = Lines(Exported(log, 2));
    const std::vector<std::string> downloaded = Lines(Downloaded(log, true));
    EXPECT_EQ(DataLines(exported), (std::vector<std::string>{"2003/01/02,03:04:05.0,12.5,5",
                                                             "2003/01/02,03:04:06.5,416.5,-100"}));
    EXPECT_EQ(DataLines(downloaded), (std::vector<std::string>{"01/02/03,03:04:05.0,12.5, 5",
                                                               "01/02/03,03:04:06.5,416.5,-100"}));
    // The same header block, count and closing line.
    std::vector<std::string> header = WithoutStamp(exported);
    std::vector<std::string> downloadedHeader = WithoutStamp(downloaded);
    std::erase_if(header, [](const std::string& l) { return l.starts_with("2003/"); });
    std::erase_if(downloadedHeader, [](const std::string& l) { return l.starts_with("01/02/03"); });
    EXPECT_EQ(header, downloadedHeader);

    // For other tools: one row of titles, ISO dates, nothing where COUNT has no sample.
    EXPECT_EQ(
        Lines(Exported(log, 3)),
        (std::vector<std::string>{"time (logger clock),WELL LEVEL [cm],COUNT [cm]",
                                  "2003-01-02T03:04:05.0,12.5,5", "2003-01-02T03:04:06.5,416.5,"}));
}

TEST_F(ExportTest, AnExportedFileOpensAgainAndExportsTheSameBytes) {
    const DeviceLog log =
        MakeLog({.sampleRate = "00 00:00:00 3", .sampleMode = "LC  "}, {kLevel, kTemperature},
                {{{1, 2, 1}, {3, 4, 4}, {5, 6, 2}}, {{7, 8}, {9, 10}}});
    for (const auto& [filter, layout] :
         {std::pair{1, DataLayout::Text}, std::pair{2, DataLayout::CommaFullDate}}) {
        const fs::path first = Exported(log, filter);
        const ReadResult read = ReadDataFile(first.string());
        ASSERT_TRUE(read.ok()) << read.Message();
        EXPECT_EQ(read.layout, layout);
        const std::vector<std::string> lines = Lines(first);
        EXPECT_EQ(WithoutStamp(Lines(Exported(read.log, filter))), WithoutStamp(lines));
    }
}

TEST_F(ExportTest, FailuresAreReported) {
    const fs::path unshown = dir_ / "nothing.omb";
    EXPECT_FALSE(window_.ExportFile(QString::fromStdString(unshown.string()), 1));
    EXPECT_FALSE(fs::exists(unshown));
    EXPECT_TRUE(prompter_.shown.empty());  // no log shown: nothing to say

    const DeviceLog log = MakeLog(HeaderFields{}, {kLevel}, {{{0, 0}}});
    ASSERT_TRUE(window_.ShowLog(&log));
    const fs::path uncreatable = dir_ / "missing" / "log.omb";
    // Mended: a file that could not be written completely (a full disk) is
    // reported like one that could not be created, and the file the user
    // chose to overwrite stays as it was; a device is never replaced.
    const fs::path existing = dir_ / "kept.omb";
    std::ofstream(existing) << "the user's file";
    // The message names the file and, where the system gives one, its reason.
    for (const auto& [path, reason] :
         {std::pair{uncreatable, ": No such file or directory"},
          std::pair{fs::path("/dev/full"), ""}, std::pair{existing, ": File too large"}}) {
        prompter_.shown.clear();
        {
            const FileSizeLimit fullDisk(64);
            EXPECT_FALSE(window_.ExportFile(QString::fromStdString(path.string()), 1)) << path;
        }
        ASSERT_EQ(prompter_.shown.size(), 1u) << path;
        EXPECT_EQ(prompter_.shown[0].text,
                  QString::fromStdString("Export File Error\n" + path.string() + reason));
        EXPECT_EQ(prompter_.shown[0].caption, "Error");
        EXPECT_EQ(prompter_.shown[0].buttons, Prompter::Buttons::Ok);
        EXPECT_EQ(prompter_.shown[0].icon, Prompter::Icon::None);
    }
    EXPECT_FALSE(fs::exists(uncreatable));
    std::ifstream kept(existing);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the user's file");
    EXPECT_FALSE(fs::exists(PartialName(existing.string())));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST_F(ExportTest, SaveDialogKeepsTheChosenFilterAndAddsItsExtension) {
    const DeviceLog log = MakeLog(HeaderFields{}, {kLevel}, {{{0, 0}}});
    ASSERT_TRUE(window_.ShowLog(&log));
    ExportDialog sadExport;
    const fs::path typed = dir_ / "lake-export";
    const fs::path path = dir_ / "lake-export.csv";
    prompter_.save = {true, QString::fromStdString(typed.string()), ExportDialog::kCommaFilter};
    prompter_.cursor.clear();
    EXPECT_EQ(window_.ExportThroughDialog(sadExport, &window_, "/data/logs/", "RIVER_GAUGE"),
              QString::fromStdString(path.string()));
    EXPECT_EQ(prompter_.cursor, (std::vector<bool>{true, false}));
    // Mended: a name typed without an extension gets the layout's.
    EXPECT_FALSE(fs::exists(typed));
    EXPECT_EQ(DataLines(Lines(path)),
              (std::vector<std::string>{"2003/01/02,03:04:05.0,12.5,-100"}));
    EXPECT_TRUE(prompter_.shown.empty());

    // The name with its extension was not the dialog's to ask about: a file
    // of that name is replaced only when the user says so.
    std::ofstream(path) << "the user's file";
    prompter_.answers = {Prompter::Answer::No};
    EXPECT_TRUE(window_.ExportThroughDialog(sadExport, &window_, "/data/logs/", "").isEmpty());
    ASSERT_EQ(prompter_.shown.size(), 1u);
    EXPECT_EQ(prompter_.shown[0].text,
              QString::fromStdString(path.string()) + " already exists.\nReplace it?");
    std::ifstream kept(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the user's file");

    prompter_.save.accepted = false;
    EXPECT_TRUE(window_.ExportThroughDialog(sadExport, &window_, "/data/logs/", "").isEmpty());

    ASSERT_EQ(prompter_.requests.size(), 3u);
    const QStringList filters{"Ombrel File (*.omb)", "Comma Seperated File (*.csv)",
                              "CSV with column titles (*.csv)"};
    EXPECT_EQ(prompter_.requests[0].filters, filters);
    EXPECT_EQ(prompter_.requests[0].initialDirectory, "/data/logs/");
    EXPECT_EQ(prompter_.requests[0].fileName, "RIVER_GAUGE");
    EXPECT_EQ(prompter_.requests[0].selectedFilter, 1);
    EXPECT_EQ(prompter_.requests[1].selectedFilter, 2);
}

// Mended: a log cut to the samples a channel keeps is never exported
// shorter without the user being told.
TEST_F(ExportTest, ALogCutToWhatAChannelKeepsIsExportedOnlyWhenTheUserAgrees) {
    const DeviceLog log =
        MakeLog(HeaderFields{}, {kLevel}, {std::vector<test::Sample>(LogChannel::kMaxSamples)});
    ASSERT_TRUE(window_.ShowLog(&log));
    ExportDialog sadExport;
    const fs::path path = dir_ / "full.omb";
    prompter_.save = {true, QString::fromStdString(path.string()), ExportDialog::kOmbrelFilter};
    for (const Prompter::Answer answer : {Prompter::Answer::No, Prompter::Answer::Yes}) {
        prompter_.shown.clear();
        prompter_.answers = {answer};
        const bool exported = !window_.ExportThroughDialog(sadExport, &window_, "", "").isEmpty();
        ASSERT_EQ(prompter_.shown.size(), 1u);
        EXPECT_TRUE(prompter_.shown[0].text.startsWith(
            "The data window holds the first 30000 samples of this log"));
        EXPECT_EQ(exported, answer == Prompter::Answer::Yes);
        EXPECT_EQ(fs::exists(path), exported);
    }
}

}  // namespace
