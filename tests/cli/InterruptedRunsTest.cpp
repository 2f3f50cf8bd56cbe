// arvelo-cli's runs that the line or the user interrupts: every fault of the
// line recovered, a stall resumed, a download unplugged or killed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "settings/SettingsStore.h"
#include "support/DownloadTestSupport.h"

#include "CliTest.h"

namespace {

using namespace clitest;

// Every fault switch of the virtual reader, once at the start, in the middle
// and at the end of a log, and over and over: the download ends with every
// log saved as on a clean line, without the user.
TEST_F(CliTest, EveryFaultOfTheLineIsRecoveredWithoutTheUser) {
    const sim::MemoryImage image = simtest::BuildImage(simtest::ThreeLogsJson());
    const auto download = [&](const sim::ServerOptions& options, const std::string& folder) {
        VirtualReader reader(image, options);
        std::filesystem::create_directories(dir.File(folder));
        const Result r = Cli("download --port " + reader.Port() + " --out '" + dir.File(folder) +
                             "' --name-parts 0 --resume 0");
        return std::make_pair(r, reader.Server().Commands());
    };
    const auto [cleanRun, reads] = download(Fast(), "clean");
    ASSERT_EQ(cleanRun.exit, 0) << cleanRun.err;
    const auto clean = DataFiles(dir.File("clean"));
    ASSERT_EQ(clean.size(), 3u);
    std::vector<std::uint64_t> points = SecondLogReplies(image, reads);
    points.push_back(0);  // over and over
    int run = 0;
    for (const auto fault : kReplyFaults) {
        for (const std::uint64_t at : points) {
            sim::ServerOptions options = Fast();
            sim::ReplySet& set = options.faults.*fault;
            (at != 0 ? set.at : set.every) = at != 0 ? at : 23;
            const std::string folder = "run" + std::to_string(++run);
            const Result r = download(options, folder).first;
            const std::string where =
                folder + (at != 0 ? ": at reply " + std::to_string(at) : ": every 23rd reply");
            EXPECT_EQ(r.exit, 0) << where << "\n" << r.err;
            EXPECT_TRUE(DataFiles(dir.File(folder)) == clean) << where;
            // Noise before a reply costs nothing: the reply is found behind it.
            const bool asked = fault != &sim::FaultOptions::garbage;
            EXPECT_EQ(r.err.find("recovered") != std::string::npos, asked) << where << "\n"
                                                                           << r.err;
        }
    }
}

// arvelo-cli started in the background, its output thrown away.
pid_t Spawn(const std::string& args) {
    const std::string command =
        std::string("exec '") + ARVELO_CLI_PROGRAM + "' " + args + " >/dev/null 2>&1 </dev/null";
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// What a download leaves when it does not end normally: complete files under
// their final names, what was read of the log in progress as NAME.partial.
void ExpectOnlyCompleteFilesUnderFinalNames(const std::string& folder) {
    int partial = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        const std::string text = ReadText(entry.path().string());
        if (name.ends_with(".partial")) {
            ++partial;
        } else {
            EXPECT_TRUE(text.ends_with("END OF DATA FILE OF ZOZUVADURU FOR WINDOWS\r\n")) << name;
        }
    }
    EXPECT_LE(partial, 1) << folder;
}

TEST_F(CliTest, AStallResumesAndAnUnpluggedOrKilledDownloadLeavesOnlyCompleteFiles) {
    const sim::MemoryImage image = simtest::BuildImage(simtest::ThreeLogsJson());
    const std::string clean = dir.File("clean/");
    const std::string stalled = dir.File("stalled/");
    for (const std::string& folder : {clean, stalled}) {
        std::filesystem::create_directories(folder);
    }
    {
        VirtualReader reader(image);
        ASSERT_EQ(Cli("download --port " + reader.Port() + " --out '" + clean + "'").exit, 0);
    }
    {
        // Silent for longer than the worker asks again, shorter than the
        // resumes: the download goes on by itself and ends as on a clean line.
        sim::ServerOptions options = Fast();
        options.faults.stopAfter = 30;
        options.faults.resumeAfter = std::chrono::milliseconds(1500);
        VirtualReader reader(image, options);
        const Result r =
            Cli("download --port " + reader.Port() + " --out '" + stalled + "' --timeout 1");
        EXPECT_EQ(r.exit, 0) << r.err;
        EXPECT_NE(r.err.find("going on (1 of 3)"), std::string::npos) << r.err;
        EXPECT_TRUE(DataFiles(stalled) == DataFiles(clean));
    }
    {
        // A reader slower than the time-out: its replies are waited for
        // longer once seen, and never taken for the answers to the next reads.
        sim::ServerOptions slow = Fast();
        slow.turnaround = std::chrono::milliseconds(350);
        VirtualReader reader(ImageOf("two-logs.json"), slow);
        const Result r = Cli("download --port " + reader.Port() + " --out '" + Out("") +
                             "' --type csv --name-parts 0");
        EXPECT_EQ(r.exit, 0) << r.err;
        ExpectSameAsGolden(Out("log1.csv"), "two-logs-1.csv");
        ExpectSameAsGolden(Out("log2.csv"), "two-logs-2.csv");
    }
    {
        // The reader unplugged in the middle of a log: the run ends at once;
        // once it is back under the same name, the next download works.
        sim::ServerOptions paced;
        paced.baud = 115200;
        const std::string unplugged = dir.File("unplugged/");
        std::filesystem::create_directories(unplugged);
        std::string port;
        {
            VirtualReader reader(image, paced);
            port = reader.Port();
            std::thread unplug([&] {
                reader.Server().WaitForReplies(20, std::chrono::seconds(20));
                reader.Server().Stop();
            });
            const auto started = std::chrono::steady_clock::now();
            const Result r = Cli("download --port " + port + " --out '" + unplugged + "'");
            unplug.join();
            EXPECT_EQ(r.exit, 9) << r.err;
            EXPECT_NE(r.err.find("stopped working"), std::string::npos) << r.err;
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
            ExpectOnlyCompleteFilesUnderFinalNames(unplugged);
        }
        sim::ServerOptions back = Fast();
        back.port = port;
        VirtualReader reader(image, back);
        EXPECT_EQ(Cli("download --port " + port + " --out '" + unplugged + "'").exit, 0);
    }
    {
        // Killed in the middle of a log: no final name holds an incomplete file.
        sim::ServerOptions paced;
        paced.baud = 38400;
        const std::string killed = dir.File("killed/");
        std::filesystem::create_directories(killed);
        VirtualReader reader(image, paced);
        const pid_t cli = Spawn("download --port " + reader.Port() + " --out '" + killed + "'");
        ASSERT_TRUE(reader.Server().WaitForReplies(20, std::chrono::seconds(20)));
        kill(cli, SIGKILL);
        waitpid(cli, nullptr, 0);
        ExpectOnlyCompleteFilesUnderFinalNames(killed);
    }
}

}  // namespace
