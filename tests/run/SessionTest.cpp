// The run core against the virtual reader, as a face sees it: the steps it
// reports in order, how each kind of run ends, and what it listed and saved.

#include <gtest/gtest.h>

#include <filesystem>

#include "archive/Archive.h"
#include "datafile/DataFileReader.h"
#include "run/EraseCheck.h"
#include "run/Session.h"
#include "support/FileSizeLimit.h"
#include "support/InDirectory.h"
#include "support/ReplayHost.h"
#include "support/SessionRun.h"

namespace {

using namespace e2e;

const char* EndName(run::End how) {
    static const char* const names[] = {"Done",       "Empty",     "FileError",    "LinkError",
                                        "Unexpected", "GivenUp",   "PortLost",     "Cancelled",
                                        "Erased",     "NotErased", "EraseGivenUp", "Surveyed"};
    return names[static_cast<int>(how)];
}

std::string FileName(const std::string* path) {
    return path == nullptr ? "(none)" : std::filesystem::path(*path).filename().string();
}

// Every step but the blocks as one short line; a corrupted log is read again
// whenever the run allows it.
class Recorder final : public run::Observer {
  public:
    void LogFound(int found) override { Step("found " + std::to_string(found)); }
    void LogsCounted(int total) override { Step("counted " + std::to_string(total)); }
    bool LogCorrupt(bool canReadAgain) override {
        Step("corrupt");
        return canReadAgain;
    }
    void LogSkipped(const run::ReaderLog& skipped) override {
        Step("skipped " + run::Describe(skipped));
    }
    void LogDone(const std::string* name) override { Step("done " + FileName(name)); }
    void LastLogDone(const std::string* name) override { Step("last " + FileName(name)); }
    void DeferredLogSaved(int index, const std::string& name) override {
        Step("saved " + std::to_string(index) + " " + FileName(&name));
    }
    void DeferredFileFailed(const run::FileFailure&) override { Step("not saved"); }
    void RunEnded(const run::RunEnd& end) override {
        Step(std::string("end ") + EndName(end.how));
        for (const std::string& line : run::DescribeUnsaved(end)) {
            Step(line);
        }
    }
    void PartialKept(const std::string& path) override { Step("kept " + FileName(&path)); }

    void Step(const std::string& step) { steps.push_back(step); }

    run::Session* session = nullptr;
    std::vector<std::string> steps;
};

struct Case {
    const char* name;
    const char* image;  // tests/device/data/*.json; empty: an erased reader
    sim::FaultOptions faults;
    run::FileSettings file;  // directory relative to the test's folder
    bool erase = false;
    rlim_t fileLimit = 0;  // bytes; 0: none
    std::vector<std::string> steps;
    int listed = 0;
    std::vector<std::string> files;
    int opened = 0;  // logs opened from a file before the run
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

sim::FaultOptions InvalidLog(int log) {
    sim::FaultOptions faults;
    faults.invalidLog = log;
    return faults;
}

const std::vector<Case> kCases = {
    {"TwoLogsSavedWhileRead",
     "two-logs.json",
     {},
     {0, "out/", ".csv"},
     false,
     0,
     {"found 1", "found 2", "counted 2", "done log1.csv", "last log2.csv", "end Done"},
     2,
     {"log1.csv", "log2.csv"}},
    {"EmptyReader", "", {}, {0, "out/", ".omb"}, false, 0, {"end Empty"}, 0, {}},
    {"AFileCutShortEndsTheRunUnlisted",
     "two-logs.json",
     {},
     {0, "out/", ".csv"},
     false,
     1024,
     {"found 1", "found 2", "counted 2", "kept log1.csv.partial", "end FileError",
      "Not saved: log 1 of 2 (RIVER ARM, serial number 12767): writing out/log1.csv failed: File "
      "too large",
      "Not saved: log 2 of 2: not read"},
     0,
     {"log1.csv.partial"}},
    {"DriveBSavesAfterTheRun",
     "two-logs.json",
     {},
     {0, "b/", ".omb"},
     false,
     0,
     {"found 1", "found 2", "counted 2", "done log1", "last log2", "saved 0 log2.omb",
      "saved 1 log2a.omb", "end Done"},
     2,
     {"log2.omb", "log2a.omb"}},
    {"ACorruptedLogIsReadAgainThenSkipped",
     "two-logs.json",
     InvalidLog(1),
     {0, "out/", ".omb"},
     false,
     0,
     {"found 1", "found 2", "counted 2", "corrupt", "corrupt", "corrupt", "corrupt",
      "skipped log 1 of 2 (RIVER ARM, serial number 12767)", "last log1.omb", "end Done",
      "Not saved: log 1 of 2 (RIVER ARM, serial number 12767): corrupted in the reader"},
     1,
     {"log1.omb"}},
    {"TheLastLogSkippedIsNamedToo",
     "two-logs.json",
     InvalidLog(2),
     {0, "out/", ".omb"},
     false,
     0,
     {"found 1", "found 2", "counted 2", "done log1.omb", "corrupt", "corrupt", "corrupt",
      "corrupt", "skipped log 2 of 2 (WELL 9, serial number 12767)", "last (none)", "end Done",
      "Not saved: log 2 of 2 (WELL 9, serial number 12767): corrupted in the reader"},
     1,
     {"log1.omb"}},
    {"TheOnlyLogCorruptedWaitsForTheWatchdog",
     "canal-lock.json",
     InvalidLog(1),
     {0, "out/", ".omb"},
     false,
     0,
     {"found 1", "counted 1", "corrupt", "end GivenUp",
      "Not saved: log 1 of 1 (CANAL LOCK 2, serial number 40112): corrupted in the reader"},
     0,
     {}},
    {"Erase", "two-logs.json", {}, {}, true, 0, {"end Erased"}, 0, {}},
    {"AnOpenedFileIsListedButNeitherCountedNorSavedAfterTheRun",
     "two-logs.json",
     {},
     {0, "b/", ".omb"},
     false,
     0,
     {"found 1", "found 2", "counted 2", "done log1", "last log2", "saved 1 log2.omb",
      "saved 2 log2a.omb", "end Done"},
     3,
     {"log2.omb", "log2a.omb"},
     1},
};

class SessionTest : public ::testing::TestWithParam<Case> {};

TEST_P(SessionTest, ReportsEveryStepAndEndsAsItShould) {
    const Case& c = GetParam();
    sim::ServerOptions options = Fast();
    options.faults = c.faults;
    VirtualReader reader(*c.image ? ImageOf(c.image) : sim::MemoryImage(), options);
    simtest::TempDir dir;
    std::filesystem::create_directories(dir.File("out"));
    std::filesystem::create_directories(dir.File("b"));
    // Relative directories, so that "b/" stands for drive B:.
    const support::InDirectory inDir(dir.File(""));

    Window window;
    Recorder recorder;
    run::Session session([&c] { return c.file; }, recorder, window.Handle());
    recorder.session = &session;
    for (int i = 0; i < c.opened; ++i) {
        ReadResult file = ReadDataFile(DataPath("canal-lock.omb"));
        ASSERT_TRUE(file.ok()) << file.Message();
        EXPECT_EQ(session.AddOpenedLog(std::move(file.log)), i);
    }
    DeviceController::Timing timing;
    timing.eraseBlockDelayMs = 5;
    timing.eraseReadDelayMs = 50;
    session.Controller().SetTiming(timing);
    {
        std::optional<FileSizeLimit> limit;
        if (c.fileLimit != 0) {
            limit.emplace(c.fileLimit);
        }
        ASSERT_TRUE(c.erase ? session.Erase(reader.Port()) == run::Session::EraseStart::Started
                            : session.DownloadAll(reader.Port()));
        RunToEnd(session, window);
    }
    std::vector<std::string> files;
    for (const char* folder : {"out", "b"}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir.File(folder))) {
            files.push_back(entry.path().filename().string());
        }
    }
    std::sort(files.begin(), files.end());

    EXPECT_EQ(recorder.steps, c.steps);
    EXPECT_EQ(session.Logs().count(), c.listed);
    EXPECT_EQ(session.LogCounter(), c.listed - c.opened);
    EXPECT_EQ(files, c.files);
}

INSTANTIATE_TEST_SUITE_P(Runs, SessionTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace

namespace {

using namespace e2e;

// Saved after the download (drive B:), a log keeps every record its file
// would have got during the download, also past the 30000 samples it holds.
TEST(DeferredSaving, KeepsEveryRecordPastWhatALogHolds) {
    VirtualReader reader(simtest::BuildImage(replay::LongLogJson(30005)));
    simtest::TempDir dir;
    const support::InDirectory inDir(dir.File(""));
    std::filesystem::create_directories("b");

    Window window;
    Recorder recorder;
    run::Session session(
        [] {
            return run::FileSettings{0, "b/", ".omb"};
        },
        recorder, window.Handle());
    recorder.session = &session;
    ASSERT_TRUE(session.DownloadAll(reader.Port()));
    RunToEnd(session, window);
    const std::string text = ReadText("b/log1.omb");
    EXPECT_EQ(session.Logs().item(0)->channel(0)->sampleCount(), 30000);
    EXPECT_NE(text.find("[Data]     \r\n30005\r\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 41 + 30005 + 1);
}

// Before an erase the reader is surveyed: each log counts as kept in the
// archive or in the session's files only when they hold its recording with
// at least its samples; a corrupted log is kept nowhere.
TEST(EraseCheck, SaysWhatTheReaderHoldsAndWhereEachLogIsKept) {
    simtest::TempDir dir;
    Window window;
    Recorder recorder;
    run::Session session(
        [&dir] {
            return run::FileSettings{0, dir.File(""), ".omb"};
        },
        recorder, window.Handle());
    auto opened = archive::Archive::Open(dir.File("archive.sqlite"));
    ASSERT_TRUE(opened) << opened.failure().message;
    const auto archive = std::move(*opened);
    const auto run = [&](bool survey, int invalidLog, int stopAfter = 0) {
        sim::ServerOptions options = Fast();
        options.faults.invalidLog = invalidLog;
        options.faults.stopAfter = static_cast<uint64_t>(stopAfter);
        VirtualReader reader(ImageOf("two-logs.json"), options);
        ASSERT_TRUE(survey ? session.Survey(reader.Port()) : session.DownloadAll(reader.Port()));
        RunToEnd(session, window);
    };
    const auto check = [&](bool withArchive) {
        const std::vector<run::HeldLog>& held = session.Surveyed();
        run::EraseCheck c = run::CheckErase(held, &session.Logs());
        if (withArchive) {
            const auto archived = run::ArchivedSamples(*archive, held);
            EXPECT_TRUE(archived);
            run::AddArchive(c, held, archived ? *archived : std::vector<int64_t>{});
        }
        return run::Describe(c);
    };
    run(true, 0);
    EXPECT_EQ(recorder.steps.back(), "end Surveyed");
    ASSERT_EQ(session.Surveyed().size(), 2u);
    EXPECT_EQ(session.Surveyed()[1].samples, 3);
    EXPECT_EQ(session.LogCounter(), 0);
    EXPECT_EQ(check(false), "The reader holds 2 logs; the archive is off.");
    EXPECT_EQ(check(true), "The reader holds 2 logs: none of them is in the archive.");

    // Downloaded, its files listed; the first in the archive, the second only in part.
    run(false, 0);
    ASSERT_EQ(session.Logs().count(), 2);
    EXPECT_TRUE(archive->ImportFile(dir.File("log1.omb"), "test").ok());
    ReadResult second = ReadDataFile(dir.File("log2.omb"));
    ASSERT_TRUE(second.ok());
    second.log.channel(0)->keepFirst(2);
    EXPECT_TRUE(archive->Import("part", second.log, "test", "part.omb").ok());
    run(true, 0);
    EXPECT_EQ(check(true),
              "The reader holds 2 logs: 1 is in the archive. 2 of them are in files saved this "
              "session.");

    // The second log corrupted: what it is cannot be known, it is kept nowhere.
    run(true, 2);
    EXPECT_EQ(session.Surveyed()[1].samples, -1);
    EXPECT_EQ(check(true),
              "The reader holds 2 logs: 1 is in the archive. 1 of them is in files saved this "
              "session.\nKept nowhere:\nlog 2 of 2 (WELL 9, serial number 12767) (its header is "
              "corrupted)");
}

}  // namespace
