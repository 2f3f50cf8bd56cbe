// arvelo-cli run as a program against the virtual reader in this process.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>

#include "device/DownloadTestSupport.h"
#include "settings/SettingsStore.h"

namespace {

using namespace e2e;

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    // Runs arvelo-cli in the folder `cwd` (the temporary folder by default).
    Result Cli(const std::string& args, const std::string& cwd = "") {
        const std::string out = dir.File("stdout.txt");
        const std::string err = dir.File("stderr.txt");
        const std::string command = "cd '" + (cwd.empty() ? dir.File("") : cwd) + "' && '" +
                                    ARVELO_CLI_PROGRAM + "' " + args + " >'" + out + "' 2>'" + err +
                                    "' </dev/null";
        const int status = std::system(command.c_str());
        Result result;
        result.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = ReadText(out);
        result.err = ReadText(err);
        return result;
    }
    std::string Out(const std::string& name) {
        const std::string path = dir.File("out/" + name);
        std::filesystem::create_directories(dir.File("out"));
        return path;
    }
    std::vector<std::string> OutFiles() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.File("out"))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    simtest::TempDir dir;
};

TEST_F(CliTest, DownloadSavesEveryLogAndPrintsEachFile) {
    VirtualReader reader(ImageOf("two-logs.json"));
    const Result r = Cli("download --port " + reader.Port() + " --out '" + Out("") +
                         "' --type csv --name-parts 0");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + Out("log1.csv") + "\nsaved " + Out("log2.csv") + "\n");
    ExpectSameAsGolden(Out("log1.csv"), "two-logs-1.csv");
    ExpectSameAsGolden(Out("log2.csv"), "two-logs-2.csv");
    EXPECT_NE(r.err.find("log 2 of 2"), std::string::npos);
}

TEST_F(CliTest, AbsentOptionsComeFromTheStoredSettings) {
    VirtualReader reader(ImageOf("canal-lock.json"));  // its sandbox holds the settings too
    const std::string stored = Out("");
    {
        settings::SettingsKey key(settings::KEY_ARVELO);
        ASSERT_TRUE(key.SetString(settings::VALUE_OUTPUT_DIR, QString::fromStdString(stored)));
        ASSERT_TRUE(key.SetString(settings::VALUE_FILE_TYPE, ".omb"));
        ASSERT_TRUE(key.SetDword(settings::VALUE_FILE_OPTION, 11));
    }
    const Result r = Cli("download --port " + reader.Port());
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "saved " + Out("CANAL_LOCK_240112_01_01_24.omb") + "\n");
    ExpectSameAsGolden(Out("CANAL_LOCK_240112_01_01_24.omb"), "canal-lock.omb");
}

TEST_F(CliTest, ADirectoryOnDriveAOrBIsSavedAfterTheDownload) {
    VirtualReader reader(ImageOf("two-logs.json"));
    std::filesystem::create_directories(dir.File("a-drive"));
    const Result r = Cli("download --port " + reader.Port() + " --out a-drive --name-parts 0");
    EXPECT_EQ(r.exit, 0) << r.err;
    // Named after the log counter at the end of the run, as the window program does.
    EXPECT_EQ(r.out, "saved a-drive/log2.omb\nsaved a-drive/log2a.omb\n");
    EXPECT_NE(ReadText(dir.File("a-drive/log2.omb")).find("=RIVER ARM"), std::string::npos);
    const std::string second = ReadText(dir.File("a-drive/log2a.omb"));
    EXPECT_NE(second.find("=WELL 9"), std::string::npos);
    EXPECT_NE(second.find("\r\n2024/05/14 08:00:07.0"), std::string::npos);
}

TEST_F(CliTest, ACorruptedLogIsRetriedThenSkippedAndTheOthersAreSaved) {
    sim::ServerOptions options = Fast();
    options.faults.invalidLog = 2;
    VirtualReader reader(
        simtest::BuildImage(
            R"({"logs":[{"location":"ONE"},{"location":"TWO"},{"location":"THREE"}]})"),
        options);
    const Result r =
        Cli("download --port " + reader.Port() + " --out '" + Out("") + "' --name-parts 2");
    EXPECT_EQ(r.exit, 6);
    EXPECT_EQ(r.out, "saved " + Out("ONE.omb") + "\nsaved " + Out("THREE.omb") + "\n");
    EXPECT_NE(r.err.find("log 2 of 3 skipped"), std::string::npos) << r.err;
    // The first header read, three retries, each from the information block.
    int infoReads = 0;
    for (const auto& command : reader.Server().Commands()) {
        infoReads += command.PayloadText() == "00920";
    }
    EXPECT_EQ(infoReads, 4);
}

TEST_F(CliTest, AFailureKeepsFinishedFilesAndDeletesThePartialOne) {
    sim::ServerOptions options = Fast();
    options.faults.stopAfter = 11;  // the second log's header, then silence
    VirtualReader reader(ImageOf("two-logs.json"), options);
    const Result r = Cli("download --port " + reader.Port() + " --out '" + Out("") +
                         "' --type csv --name-parts 0 --timeout 1");
    EXPECT_EQ(r.exit, 5);
    EXPECT_NE(r.err.find("no answer from the reader"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "saved " + Out("log1.csv") + "\n");
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"log1.csv"});
    ExpectSameAsGolden(Out("log1.csv"), "two-logs-1.csv");
}

TEST_F(CliTest, LinkFailuresPortsAndArgumentsGiveTheirExitCodes) {
    {
        sim::ServerOptions options = Fast();
        options.faults.wrongHeader.every = 1;
        VirtualReader reader(ImageOf("two-logs.json"), options);
        const Result r = Cli("download --port " + reader.Port() + " --out '" + Out("") + "'");
        EXPECT_EQ(r.exit, 4);
        EXPECT_NE(r.err.find("serial communication error"), std::string::npos) << r.err;

        const Result ports = Cli("ports");
        EXPECT_EQ(ports.exit, 0);
        EXPECT_NE(ports.out.find(reader.Port() + ": " + reader.Server().DevicePath() + "\n"),
                  std::string::npos);
    }
    {
        VirtualReader reader{sim::MemoryImage()};
        const Result r = Cli("download --port " + reader.Port() + " --out '" + Out("") + "'");
        EXPECT_EQ(r.exit, 0);
        EXPECT_NE(r.err.find("holds no logs"), std::string::npos);
    }
    simtest::PortSandbox noPorts;
    const Result missing = Cli("download --port COM77");
    EXPECT_EQ(missing.exit, 3);
    EXPECT_NE(missing.err.find("cannot open COM77"), std::string::npos);
    EXPECT_EQ(Cli("download").exit, 2);
    EXPECT_EQ(Cli("download --port COM3 --type txt").exit, 2);
    EXPECT_EQ(Cli("upload --port COM3").exit, 2);
}

TEST_F(CliTest, EraseNeedsYesAndReportsTheReadBack) {
    VirtualReader reader(ImageOf("two-logs.json"));
    const Result refused = Cli("erase --port " + reader.Port());
    EXPECT_EQ(refused.exit, 2);
    EXPECT_TRUE(reader.Server().Commands().empty());

    const Result r = Cli("erase --port " + reader.Port() + " --yes");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "Data Erase Completed\n");
    EXPECT_EQ(reader.Server().Memory(), sim::MemoryImage());
    const auto commands = reader.Server().Commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].text, "{10");
    EXPECT_EQ(commands[3].PayloadText(), "00000");
}

}  // namespace
