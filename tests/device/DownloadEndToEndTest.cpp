// The device controller against the virtual reader on a pseudo-terminal:
// worker, link and engine together, with the test thread as the main window,
// a Download All run by the run's own rules.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "datafile/LogFileName.h"
#include "datafile/StagedFile.h"
#include "device/FixedText.h"
#include "support/InDirectory.h"
#include "support/SessionRun.h"

namespace {

using namespace e2e;

std::string Location(const DeviceLog* log) {
    std::string text(FieldText(log->header().location));
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

class DownloadTest : public ::testing::Test {
  protected:
    DownloadTest() {
        DeviceController::Timing timing;
        timing.eraseBlockDelayMs = 5;
        timing.eraseReadDelayMs = 50;
        controller.SetTiming(timing);
    }

    // A writer whose title block does not depend on when or by whom.
    static std::unique_ptr<LogSink> TestWriter() {
        auto file = std::make_unique<StagedDataFile>();
        file->Writer().SetTitleSource([] { return TitleStamp{CivilTime{}, "tester"}; });
        return file;
    }

    // A Download All into the test's folder, as the window program runs it.
    Outcome DownloadAll(const std::string& port, const std::string& extension,
                        uint32_t nameParts = 0, const RunHooks& hooks = {}) {
        file = {nameParts, dir.File(""), extension};
        EXPECT_TRUE(session.DownloadAll(port));
        return RunToEnd(session, window, hooks);
    }
    const DeviceLog* Log(int i) const { return session.Logs().item(i); }

    simtest::TempDir dir;
    Window window;
    DeviceController controller{TestWriter()};  // for the controller's own calls
    run::FileSettings file;
    run::Observer observer;
    run::Session session{[this] { return file; }, observer, window.Handle()};
};

TEST_F(DownloadTest, OneLogInFixedModeIsSavedAsTheGoldenFile) {
    VirtualReader reader(ImageOf("canal-lock.json"));
    const Outcome outcome = DownloadAll(
        reader.Port(), ".omb", FILE_NAME_LOCATION | FILE_NAME_SERIAL | FILE_NAME_LAST_DATE);
    ASSERT_FALSE(outcome.codes.empty());
    EXPECT_EQ(outcome.codes.back(), DEV_DONE);
    ASSERT_EQ(outcome.files.size(), 1u);
    EXPECT_EQ(outcome.files[0], dir.File("CANAL_LOCK_240112_01_01_24.omb"));
    ExpectSameAsGolden(outcome.files[0], "canal-lock.omb");
    ASSERT_EQ(session.Logs().count(), 1);
    EXPECT_EQ(Log(0)->header().instrumentType, 7);
    EXPECT_EQ(session.Controller().FileError(), 0);
}

TEST_F(DownloadTest, TwoLogsInBothModesAreSavedAsTheGoldenFiles) {
    VirtualReader reader(ImageOf("two-logs.json"));
    const Outcome outcome = DownloadAll(reader.Port(), ".csv");
    ASSERT_GE(outcome.codes.size(), 3u);
    EXPECT_EQ(std::vector<uint16_t>(outcome.codes.begin(), outcome.codes.begin() + 3),
              (std::vector<uint16_t>{DEV_LOG_FOUND, DEV_LOG_FOUND, DEV_LOG_COUNT}));
    EXPECT_EQ(outcome.codes.back(), DEV_DONE);
    EXPECT_EQ(std::count(outcome.codes.begin(), outcome.codes.end(), DEV_LOG_DONE), 1);
    ASSERT_EQ(outcome.files,
              (std::vector<std::string>{dir.File("log1.csv"), dir.File("log2.csv")}));
    ExpectSameAsGolden(outcome.files[0], "two-logs-1.csv");
    ExpectSameAsGolden(outcome.files[1], "two-logs-2.csv");
    ASSERT_EQ(session.Logs().count(), 2);
    EXPECT_EQ(Location(Log(0)), "RIVER ARM");
    EXPECT_EQ(Location(Log(1)), "WELL 9");

    // The reader saw the chain walk, both logs and the wait command last.
    const auto commands = reader.Server().Commands();
    ASSERT_GE(commands.size(), 6u);
    EXPECT_EQ(commands[0].PayloadText(), "00000");
    EXPECT_EQ(commands[3].PayloadText(), "00120");
    EXPECT_EQ(commands[4].PayloadText(), "001C0");
    EXPECT_EQ(commands.back().text, "|10");
}

TEST_F(DownloadTest, ASlowMainThreadStillTakesTheLogThatFinished) {
    VirtualReader reader(ImageOf("two-logs.json"));
    RunHooks hooks;
    hooks.onNote = [&](uint16_t code, run::Session& s) {
        if (code == DEV_LOG_DONE) {
            // Busy until the next log's header is decoded and its file asked for.
            EXPECT_TRUE(window.AwaitCode(DEV_LOG_OPEN_FILE));
            EXPECT_EQ(Location(s.Controller().CurrentLog()), "WELL 9");
        }
        return false;
    };
    const Outcome outcome = DownloadAll(reader.Port(), ".omb", 0, hooks);
    EXPECT_EQ(outcome.codes.back(), DEV_DONE);
    ASSERT_EQ(session.Logs().count(), 2);
    EXPECT_EQ(Location(Log(0)), "RIVER ARM");
    EXPECT_EQ(Log(0)->channel(0)->sampleCount(), 3);
    EXPECT_EQ(Location(Log(1)), "WELL 9");
}

TEST_F(DownloadTest, WithSavingSuppressedTheWorkerNeverWaitsForTheMainThread) {
    VirtualReader reader(ImageOf("two-logs.json"));
    // A folder on drive B: ("b/", relative) saves the files after the run.
    const support::InDirectory inDir(dir.File(""));
    std::filesystem::create_directories("b");
    file = {0, "b/", ".omb"};
    RunHooks hooks;
    hooks.onNote = [&](uint16_t code, run::Session&) {
        if (code == DEV_LOG_DONE) {
            // The whole run ends while the main thread is busy.
            EXPECT_TRUE(window.AwaitCode(DEV_DONE));
        }
        return false;
    };
    ASSERT_TRUE(session.DownloadAll(reader.Port()));
    const Outcome outcome = RunToEnd(session, window, hooks);
    EXPECT_EQ(outcome.codes.back(), DEV_DONE);
    ASSERT_EQ(session.Logs().count(), 2);
    EXPECT_EQ(Location(Log(0)), "RIVER ARM");
    EXPECT_EQ(Location(Log(1)), "WELL 9");
    EXPECT_EQ(outcome.files, (std::vector<std::string>{"log1", "log2"}));  // not yet files
    EXPECT_TRUE(std::filesystem::exists("b/log2.omb"));
    EXPECT_TRUE(std::filesystem::exists("b/log2a.omb"));
}

TEST_F(DownloadTest, StopInTheMiddleOfALogClosesTheFileAndTheLink) {
    std::string raw;
    for (int i = 0; i < 3000; ++i) {
        raw += (i ? ",[" : "[") + std::to_string(i % 250) + ",1]";
    }
    VirtualReader reader(
        simtest::BuildImage(R"({"logs":[{"channels":[{}],"raw":[[)" + raw + "]]}]}"),
        sim::ServerOptions{});  // at the line rate
    RunHooks hooks;
    int blocks = 0;
    hooks.onNote = [&](uint16_t code, run::Session& s) {
        if (code == DEV_BLOCK && ++blocks == 2) {
            const auto started = std::chrono::steady_clock::now();
            EXPECT_EQ(s.Controller().Stop(), 0);
            EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
        }
        return false;
    };
    hooks.silence = 2s;  // the paced reader is slow to start under a sanitizer
    const Outcome outcome = DownloadAll(reader.Port(), ".omb", 0, hooks);
    EXPECT_TRUE(outcome.timedOut);  // nothing came after the stop
    EXPECT_FALSE(session.Controller().IsBusy());
    EXPECT_EQ(session.Controller().Download(), -1);  // no worker any more
    ASSERT_EQ(outcome.files.size(), 1u);
    // Closed with its closing line, under the name of a log that did not complete.
    const std::string text = ReadText(PartialName(outcome.files[0]));
    EXPECT_NE(text.find("END OF DATA FILE OF ZOZUVADURU FOR WINDOWS\r\n"), std::string::npos);
    const std::size_t seen = reader.Server().Commands().size();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(reader.Server().Commands().size(), seen);
}

TEST_F(DownloadTest, TheEraseSequenceAsTheReaderSeesIt) {
    VirtualReader reader(ImageOf("two-logs.json"));
    ASSERT_EQ(controller.SendEraseCommand("0000"), -1);  // no worker yet
    ASSERT_EQ(controller.Start(reader.Port().c_str(), window.Handle(), WM_DEVICE_NOTIFY, 0), 0);
    EXPECT_EQ(controller.SendEraseCommand("000"), -1);
    // With the main window's pauses.
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(controller.SendEraseCommand("0000"), 0);
    std::this_thread::sleep_for(100ms);
    const std::string fill(128, '\xFF');
    EXPECT_EQ(controller.EraseMemory(std::string(127, '\xFF').c_str()), -1);
    // The pauses of the rest are the worker's: the caller (the window
    // program's thread) goes on at once.
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(controller.EraseMemory(fill.c_str()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 40ms);
    const std::optional<platform::Message> result = window.Next(5s);
    ASSERT_TRUE(result);
    EXPECT_EQ(platform::LOWORD(result->wParam), DEV_ERASE_RESULT);
    EXPECT_EQ(platform::HIWORD(result->wParam), 0);
    controller.Shutdown();

    const auto commands = reader.Server().Commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].text, "{10");
    EXPECT_EQ(commands[0].PayloadText(), "0000G00000000000");
    EXPECT_EQ(commands[1].text, "|10");
    EXPECT_EQ(commands[1].PayloadText(), "@Wait@          ");
    EXPECT_EQ(commands[2].text, "M81");
    EXPECT_EQ(commands[2].PayloadText(), fill);
    EXPECT_EQ(commands[3].text, "M81");
    EXPECT_EQ(commands[3].PayloadText(), "00000");
    EXPECT_EQ(reader.Server().Memory(), sim::MemoryImage());
}

TEST_F(DownloadTest, RepliesUnderAnotherHeaderAreNoiseAndTheRunIsLeftToTheWatchdog) {
    sim::ServerOptions options = Fast();
    options.faults.wrongHeader.every = 1;
    VirtualReader reader(ImageOf("two-logs.json"), options);
    session.Controller().SetReplyTimeLimit(1500);
    RunHooks hooks;
    hooks.silence = 2500ms;
    const Outcome outcome = DownloadAll(reader.Port(), ".omb", 0, hooks);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_TRUE(outcome.codes.empty());
    // Asked again at the first time-out (a second, before any answer was
    // timed), then no more once the user's time-out had passed.
    const auto commands = reader.Server().Commands();
    ASSERT_EQ(commands.size(), 2u);
    for (const auto& command : commands) {
        EXPECT_EQ(command.PayloadText(), "00000");
    }
}

TEST_F(DownloadTest, AReplyWithAWrongChecksumIsAskedForAgainAtOnce) {
    sim::ServerOptions options = Fast();
    options.faults.badChecksum.at = 5;  // the first header block
    VirtualReader reader(ImageOf("two-logs.json"), options);
    RunHooks hooks;
    int silences = 0;
    hooks.onSilence = [&](run::Session& s) {
        ++silences;
        s.GoOn();  // "Continue the download operation!"
        return true;
    };
    const Outcome outcome = DownloadAll(reader.Port(), ".csv", 0, hooks);
    EXPECT_EQ(silences, 0);
    EXPECT_EQ(std::count(outcome.codes.begin(), outcome.codes.end(), DEV_RECOVERED), 1);
    EXPECT_EQ(outcome.codes.back(), DEV_DONE);
    ASSERT_EQ(outcome.files.size(), 2u);
    ExpectSameAsGolden(outcome.files[0], "two-logs-1.csv");
    ExpectSameAsGolden(outcome.files[1], "two-logs-2.csv");
}

TEST_F(DownloadTest, AReaderThatFallsSilentLeavesTheRunToTheWatchdog) {
    sim::ServerOptions options = Fast();
    options.faults.stopAfter = 6;
    VirtualReader reader(ImageOf("two-logs.json"), options);
    const Outcome outcome = DownloadAll(reader.Port(), ".omb");
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_EQ(std::count(outcome.codes.begin(), outcome.codes.end(), DEV_LOG_COUNT), 1);
    // The give-up ended the worker and closed the partial file.
    EXPECT_EQ(session.Controller().Resume(), -1);
    ASSERT_EQ(outcome.files.size(), 1u);
    EXPECT_NE(ReadText(PartialName(outcome.files[0])).find("END OF DATA FILE"), std::string::npos);
}

TEST_F(DownloadTest, StartCountsAnOpenPortAsSuccessAndReportsAPortThatDoesNotExist) {
    EXPECT_EQ(controller.Download(), -1);
    VirtualReader reader(ImageOf("two-logs.json"));
    const char* port = reader.Port().c_str();
    EXPECT_EQ(controller.Start(port, window.Handle(), WM_DEVICE_NOTIFY, 0), 0);
    EXPECT_EQ(controller.Start(port, window.Handle(), WM_DEVICE_NOTIFY, 0), 1247);
    EXPECT_EQ(controller.DownloadAll(), 0);  // the worker still runs
    EXPECT_EQ(controller.Shutdown(), 0);

    EXPECT_EQ(controller.Start("COM77", window.Handle(), WM_DEVICE_NOTIFY, 0), 2);
    EXPECT_EQ(controller.ErrorCode(), 2);
    EXPECT_EQ(controller.DownloadAll(), -1);  // the worker was ended
}

}  // namespace
