// arvelo-cli run as a program against the virtual reader in this process:
// downloads, settings, exit codes, help, and the commands that read a file.

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

    // A stored folder longer than the window program's field is refused,
    // never replaced by the current one.
    const std::string tooLong = stored + std::string(300, 'x') + "/";
    settings::SettingsKey(settings::KEY_ARVELO)
        .SetString(settings::VALUE_OUTPUT_DIR, QString::fromStdString(tooLong));
    const Result refused = Cli("download --port " + reader.Port());
    EXPECT_EQ(refused.exit, 7);
    EXPECT_NE(refused.err.find("longer than 255 bytes: " + tooLong), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_FALSE(std::filesystem::exists(dir.File("CANAL_LOCK_240112_01_01_24.omb")));
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
    // Each file saved after the run goes into the archive too.
    EXPECT_NE(r.err.find("archived a-drive/log2a.omb: 6 new samples"), std::string::npos) << r.err;
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
    // Named by its place and by what its header said.
    EXPECT_NE(r.err.find("log 2 of 3 (TWO, serial number "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(") skipped: it stayed corrupted"), std::string::npos) << r.err;
    // The first header read, three retries, each from the information block.
    int infoReads = 0;
    for (const auto& command : reader.Server().Commands()) {
        infoReads += command.PayloadText() == "00920";
    }
    EXPECT_EQ(infoReads, 4);
}

// A corrupted log that is not read again (the reader's only one, or --resume
// 0) is held by the reader: the time-out ends the run, as in the window program.
TEST_F(CliTest, ACorruptedLogNotReadAgainEndsTheRunAtTheTimeOut) {
    const struct {
        const char* logs;
        const char* resume;
        const char* saved;
    } cases[] = {{R"([{"location":"ONE"}])", "3", ""},
                 {R"([{"location":"ONE"},{"location":"TWO"}])", "0", "ONE.omb"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resume);
        std::filesystem::remove_all(Out(""));
        std::filesystem::create_directories(Out(""));
        sim::ServerOptions options = Fast();
        options.faults.invalidLog = c.saved[0] == '\0' ? 1 : 2;
        VirtualReader reader(simtest::BuildImage(std::string(R"({"logs":)") + c.logs + "}"),
                             options);
        const Result r = Cli("download --port " + reader.Port() + " --out '" + Out("") +
                             "' --name-parts 2 --timeout 1 --resume " + c.resume);
        EXPECT_EQ(r.exit, 6);
        EXPECT_NE(r.err.find("is corrupted in the reader; the run ends after the time-out (1 s)"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("the log in the reader is corrupted"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, *c.saved ? "saved " + Out(c.saved) + "\n" : "");
    }
}

TEST_F(CliTest, ASilenceGivenUpKeepsFinishedFilesAndThePartialOneAsIncomplete) {
    sim::ServerOptions options = Fast();
    options.faults.stopAfter = 11;  // the second log's header, then silence
    VirtualReader reader(ImageOf("two-logs.json"), options);
    const Result r = Cli("download --port " + reader.Port() + " --out '" + Out("") +
                         "' --type csv --name-parts 0 --timeout 1 --resume 0");
    EXPECT_EQ(r.exit, 5);
    EXPECT_NE(r.err.find("no answer from the reader"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("kept as " + Out("log2.csv.partial")), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "saved " + Out("log1.csv") + "\n");
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"log1.csv", "log2.csv.partial"}));
    ExpectSameAsGolden(Out("log1.csv"), "two-logs-1.csv");
}

TEST_F(CliTest, LinkFailuresPortsAndArgumentsGiveTheirExitCodes) {
    {
        sim::ServerOptions options = Fast();
        options.faults.wrongHeader.every = 1;
        VirtualReader reader(ImageOf("two-logs.json"), options);
        const Result r = Cli("download --port " + reader.Port() + " --out '" + Out("") +
                             "' --timeout 1 --resume 0");
        EXPECT_EQ(r.exit, 5);
        EXPECT_NE(r.err.find("no answer from the reader for 1 s"), std::string::npos) << r.err;

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
    {
        // A full disk: the first file cannot be completed.
        VirtualReader reader(ImageOf("two-logs.json"));
        const Result r =
            Cli("download --port " + reader.Port() + " --out '" + Out("") + "' --name-parts 0", "",
                "ulimit -f 2 && trap '' XFSZ");
        EXPECT_EQ(r.exit, 7);
        EXPECT_NE(r.err.find("writing " + Out("log1.omb") + " failed: " + std::strerror(EFBIG)),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
    }
    simtest::PortSandbox noPorts;
    const Result missing = Cli("download --port COM77");
    EXPECT_EQ(missing.exit, 3);
    EXPECT_NE(missing.err.find("cannot open COM77: no such port"), std::string::npos);
    std::filesystem::create_directories(noPorts.Ports());
    std::filesystem::create_symlink("/dev/null", noPorts.Ports() + "/COM78");
    const Result notSerial = Cli("download --port COM78");
    EXPECT_EQ(notSerial.exit, 3);
    EXPECT_NE(notSerial.err.find("cannot open COM78 (/dev/null): not a serial device"),
              std::string::npos)
        << notSerial.err;
    EXPECT_EQ(Cli("download").exit, 2);
    EXPECT_EQ(Cli("download --port COM3 --type txt").exit, 2);
    EXPECT_EQ(Cli("upload --port COM3").exit, 2);
    // The time-out's range is the window program's.
    for (const char* timeout : {"0", "2147484"}) {
        const Result refused = Cli(std::string("download --port COM3 --timeout ") + timeout);
        EXPECT_EQ(refused.exit, 2) << timeout;
        EXPECT_NE(refused.err.find("--timeout needs seconds from 1 to 2147483"), std::string::npos)
            << refused.err;
    }
}

// Each command's and archive or well subcommand's help: its own usage lines, each as
// the whole usage has it, and what it does, on standard output.
TEST_F(CliTest, EveryCommandPrintsItsOwnHelp) {
    const Result whole = Cli("--help");
    ASSERT_EQ(whole.exit, 0);
    EXPECT_EQ(whole.err, "");
    const struct {
        const char* command;
        std::size_t usageLines;
        const char* says;
    } cases[] = {
        {"ports", 1, "ports     lists the COM names"},
        {"download", 1, "  --no-archive  keep the files only"},
        {"erase", 1, "  --port        the reader's COM name"},
        {"dump", 1, "dump      copies what a download reads"},
        {"show", 1, "show      reads a data file"},
        {"plot", 1, "plot      draws the data file"},
        {"archive", 8, "  export    gives a download back"},
        {"archive import", 1, "  import    saved .omb/.csv files"},
        {"archive loggers", 1, "  loggers   each logger"},
        {"archive series", 1, "  series    one channel"},
        {"archive conflicts", 1, "  conflicts samples that came again"},
        {"archive resolve", 1, "  resolve   chooses the value the record keeps"},
        {"archive gaps", 1, "  gaps      samples missing"},
        {"archive downloads", 1, "  downloads every download kept"},
        {"archive export", 1, "  --archive   the archive to use"},
        {"well", 12, "  merge     OTHER's location texts"},
        {"well list", 1, "  list      each well"},
        {"well series", 1, "time_utc,IDENTIFICATION [UNIT],logger"},
        {"well rename", 1, "  rename    gives the well another name"},
        {"well merge", 1, "  --archive   the archive to use"},
        {"well deploy", 1, "  deploy    declares the logger in the well"},
        {"well dips", 2, "a field sheet well,time,depth_m[,note]"},
        {"well level", 1, "B no baro, N no dip, D offset held"},
        {"well plot", 1, "  plot      the well's level Graph"},
    };
    for (const auto& c : cases) {
        for (const char* option : {" --help", " -h"}) {
            const std::string args = c.command + std::string(option);
            const Result r = Cli(args);
            EXPECT_EQ(r.exit, 0) << args;
            EXPECT_EQ(r.err, "") << args;
            EXPECT_NE(r.out.find(c.says), std::string::npos) << args << ":\n" << r.out;
            std::size_t usageLines = 0;
            std::istringstream lines(r.out);
            for (std::string line; std::getline(lines, line);) {
                if (!line.starts_with("  arvelo-cli ")) {
                    continue;
                }
                ++usageLines;
                EXPECT_TRUE(
                    (line + " ").starts_with("  arvelo-cli " + std::string(c.command) + " "))
                    << args << ": " << line;
                EXPECT_NE(whole.out.find(line + "\n"), std::string::npos) << args << ": " << line;
            }
            EXPECT_EQ(usageLines, c.usageLines) << args << ":\n" << r.out;
        }
    }
}

TEST_F(CliTest, ShowAndPlotReadADataFileOrSayWhichLineTheyCannot) {
    const std::string golden = std::string(ARVELO_SOURCE_DIR) + "/tests/datafile/golden/golden";
    std::ofstream(dir.File("cut.omb"), std::ios::binary)
        << ReadText(golden + ".omb").substr(0, 1500);
    // Texts that would clear the screen, retitle the window and overwrite the
    // line, in both copies of the header; UTF-8 letters stay as they are.
    std::string tricks = ReadText(golden + ".omb");
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"=RIVER GAUGE 7       ",
                                              "=RIV\x1b[2J\a\r7\x7f\xc2\x9b\xc3\xa9\x9b    "},
          {"=WELL LEVEL          ", "=WELL\x1b]0;x\aLEVEL     "}}) {
        for (std::size_t at; (at = tricks.find(from)) != std::string::npos;) {
            tricks.replace(at, from.size(), to);
        }
    }
    std::ofstream(dir.File("tricks.omb"), std::ios::binary) << tricks;
    ASSERT_EQ(mkfifo(dir.File("pipe.omb").c_str(), 0600), 0);
    struct Case {
        std::string args;
        int exit;
        std::vector<std::string> says;  // in what it prints, standard output and error
    };
    const std::vector<Case> cases = {
        {"show '" + golden + ".omb'",
         0,
         {"layout             .omb text\n", "samples            4\n",
          "first              2003/01/02 03:04:05.0\n",
          "last               2003/01/02 03:04:09.5\n",
          "1       WELL LEVEL            cm                12.5        1012.5\n",
          // Written as -100.00 past its end, which reads back as samples of -100.
          "2       TEMPERATURE           C              -100.00         20.00\n"}},
        {"show '" + golden + ".csv'", 0, {"layout             comma-separated, MM/DD/YY dates\n"}},
        {"show cut.omb", 7, {"cut.omb: line 38: ", "cut short"}},
        {"plot '" + golden + ".omb' --out plot.png", 0, {"wrote plot.png\n"}},
        {"plot cut.omb --out cut.png", 7, {"line 38"}},
        {"plot '" + golden + ".omb' --out plot.txt", 7, {"cannot write plot.txt"}},
        {"plot '" + golden + ".omb'", 2, {"plot needs --out PICTURE"}},
        {"show", 2, {"show needs the data FILE"}},
        {"show a.omb b.omb", 2, {"unexpected argument b.omb"}},
        {"show tricks.omb",
         0,
         {"location           RIV\\x1B[2J\\x07\\x0D7\\x7F\\xC2\\x9B\xc3\xa9\\x9B    \n",
          "1       WELL\\x1B]0;x\\x07LEVEL     cm"}},
        // A pipe waits for a writer, a device may never end.
        {"show pipe.omb", 7, {"pipe.omb: not a regular file"}},
        {"plot pipe.omb --out pipe.png", 7, {"pipe.omb: not a regular file"}},
        {"show /dev/zero", 7, {"/dev/zero: not a regular file"}},
    };
    for (const Case& c : cases) {
        const Result r = Cli(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args << "\n" << r.err;
        for (const std::string& text : c.says) {
            EXPECT_NE((r.out + r.err).find(text), std::string::npos)
                << c.args << ": " << r.out << r.err;
        }
        const std::string all = r.out + r.err;
        EXPECT_TRUE(
            std::none_of(all.begin(), all.end(),
                         [](char b) { return (b >= 0 && b < 0x20 && b != '\n') || b == 0x7F; }))
            << c.args << ": a control character reached the terminal";
    }
    // A PNG of 1200 x 800: the width and height of its header chunk.
    const std::string png = ReadText(dir.File("plot.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x04\xb0\0\0\x03\x20", 8));
}

// An erase reads first what the reader holds, and refuses (exit 11) to
// destroy logs the archive does not keep, or with the archive off, unless
// --unsaved-too; otherwise it sends the erase sequence and checks the read-back.

}  // namespace
