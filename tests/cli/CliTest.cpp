// arvelo-cli run as a program against the virtual reader in this process.

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

namespace {

using namespace e2e;

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    // Runs arvelo-cli in the folder `cwd` (the temporary folder by default),
    // after the shell commands in `setup`. One that hangs is killed after two
    // minutes (exit code 137).
    Result Cli(const std::string& args, const std::string& cwd = "",
               const std::string& setup = "true") {
        const std::string out = dir.File("stdout.txt");
        const std::string err = dir.File("stderr.txt");
        const std::string command = "cd '" + (cwd.empty() ? dir.File("") : cwd) + "' && " + setup +
                                    " && timeout -s KILL 120 '" + ARVELO_CLI_PROGRAM + "' " + args +
                                    " >'" + out + "' 2>'" + err + "' </dev/null";
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
TEST_F(CliTest, EraseKnowsWhatItWouldDestroyAndReportsTheReadBack) {
    const std::string archive = " --archive '" + dir.File("a.sqlite") + "'";
    struct Case {
        const char* args;
        bool downloadFirst;
        int exit;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"", false, 2, "add --yes"},
        {" --yes", false, 11, "The reader holds 2 logs: none of them is in the archive."},
        {" --yes --no-archive", false, 11, "The reader holds 2 logs; the archive is off."},
        {" --yes --no-archive --unsaved-too", false, 0, "the archive is off"},
        {" --yes", true, 0, "The reader holds 2 logs: all 2 are in the archive."},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir.File("a.sqlite"));
        VirtualReader reader(ImageOf("two-logs.json"));
        const std::string port = " --port " + reader.Port();
        if (c.downloadFirst) {
            ASSERT_EQ(Cli("download" + port + " --out '" + Out("") + "'" + archive).exit, 0);
        }
        const std::size_t before = reader.Server().Commands().size();
        const bool noArchive = std::string(c.args).find("--no-archive") != std::string::npos;
        const Result r = Cli("erase" + port + c.args + (noArchive ? "" : archive));
        EXPECT_EQ(r.exit, c.exit) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        const auto commands = reader.Server().Commands();
        std::vector<std::string> texts;
        for (std::size_t i = before; i < commands.size(); ++i) {
            texts.push_back(commands[i].text);
        }
        if (c.exit != 0) {
            EXPECT_EQ(std::count(texts.begin(), texts.end(), "{10"), 0) << c.args;
            EXPECT_NE(reader.Server().Memory(), sim::MemoryImage()) << c.args;
            continue;
        }
        EXPECT_EQ(r.out, "Data Erase Completed\n") << c.args;
        EXPECT_EQ(reader.Server().Memory(), sim::MemoryImage()) << c.args;
        // The survey reads, then the erase, the wait, the fill block and the read-back.
        ASSERT_GE(texts.size(), 4u) << c.args;
        EXPECT_EQ(std::vector<std::string>(texts.end() - 4, texts.end()),
                  (std::vector<std::string>{"{10", "|10", "M81", "M81"}))
            << c.args;
        EXPECT_EQ(commands.back().PayloadText(), "00000") << c.args;
    }
}

// The blocks of an image file, or an erased memory when it cannot be read.
sim::MemoryImage LoadImage(const std::string& path) {
    sim::MemoryImage image;
    std::string error;
    EXPECT_TRUE(image.Load(path, &error)) << error;
    return image;
}

TEST_F(CliTest, ADumpCopiesTheBlocksReadAndReplaysTheSameDownload) {
    sim::MemoryImage original =
        LoadImage(std::string(ARVELO_SOURCE_DIR) + "/tools/sim/samples/readers/demo.bin");
    sim::ServerOptions options = Fast();
    options.faults.badChecksum.at = 5;  // read again at once
    VirtualReader reader(original, options);
    const Result r = Cli("dump --port " + reader.Port() + " --out reader.bin --timeout 1");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "saved reader.bin\n");
    EXPECT_NE(r.err.find("chain: 4 logs"), std::string::npos) << r.err;

    // What a download reads, each block once, but the one read again.
    std::set<uint32_t> read;
    int reads = 0;
    for (const sim::CommandFrame& command : reader.Server().Commands()) {
        if (command.text == "|10") {
            continue;  // the wait command that ends a download
        }
        ASSERT_EQ(command.text, "M81");
        read.insert(static_cast<uint32_t>(std::stoul(command.PayloadText(), nullptr, 16)));
        ++reads;
    }
    EXPECT_EQ(reads, static_cast<int>(read.size()) + 1);
    // The blocks read, over an erased memory.
    sim::MemoryImage expected;
    for (const uint32_t a : read) {
        expected.WriteBlock(a, original.ReadBlock(a));
    }
    EXPECT_TRUE(LoadImage(dir.File("reader.bin")) == expected);
    const sim::MemoryImage dumped = LoadImage(dir.File("reader.bin"));

    // Served again, the dump gives the same files as the reader itself.
    VirtualReader replay(dumped);
    ASSERT_EQ(Cli("download --port " + replay.Port() + " --out '" + Out("") + "'").exit, 0);
    const std::vector<std::string> fromReplay = OutFiles();
    std::filesystem::rename(dir.File("out"), dir.File("replayed"));
    VirtualReader again(original);
    ASSERT_EQ(Cli("download --port " + again.Port() + " --out '" + Out("") + "'").exit, 0);
    ASSERT_EQ(OutFiles(), fromReplay);
    ASSERT_EQ(fromReplay.size(), 4u);
    for (const std::string& name : fromReplay) {
        EXPECT_EQ(ComparableLines(ReadText(dir.File("replayed/" + name))),
                  ComparableLines(ReadText(Out(name))))
            << name;
    }
}

TEST_F(CliTest, ADumpThatCannotFinishWritesNothing) {
    sim::ServerOptions options = Fast();
    options.faults.stopAfter = 3;
    VirtualReader reader(ImageOf("two-logs.json"), options);
    const Result r = Cli("dump --port " + reader.Port() + " --out reader.bin --timeout 1");
    EXPECT_EQ(r.exit, 5);
    EXPECT_NE(r.err.find("no answer from the reader for 1 s; nothing written"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("reader.bin")));
    const std::size_t commands = reader.Server().Commands().size();

    EXPECT_EQ(Cli("dump --port " + reader.Port()).exit, 2);
    EXPECT_EQ(Cli("dump --port " + reader.Port() + " --out no/such/folder/reader.bin").exit, 7);
    const Result noFolder = Cli("download --port " + reader.Port() + " --out no/such/folder");
    EXPECT_EQ(noFolder.exit, 7);
    EXPECT_NE(noFolder.err.find("no such directory no/such/folder/"), std::string::npos);
    EXPECT_EQ(Cli("download --port " + reader.Port() + " --trace no/such/folder/trace.txt").exit,
              7);
    EXPECT_EQ(reader.Server().Commands().size(), commands);  // the refused ones sent nothing
    simtest::PortSandbox noPorts;
    EXPECT_EQ(Cli("dump --port COM77 --out reader.bin").exit, 3);
}

// The lines of a trace file: time stamp, kind ("->", "<-", "=="), the rest.
struct TraceLine {
    std::string time, kind, rest;
};

std::vector<TraceLine> TraceLines(const std::string& path) {
    std::vector<TraceLine> lines;
    std::istringstream in(ReadText(path));
    const std::regex line(R"((\d\d:\d\d:\d\d\.\d{3}) (->|<-|==) (.*))");
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(text, m, line)) << text;
        lines.push_back({m[1], m[2], m[3]});
    }
    return lines;
}

// The frame of "01 4D 38 31 ...  |.M81...|".
std::string HexOf(const sim::Bytes& frame) {
    std::string hex;
    char byte[4];
    for (uint8_t b : frame) {
        std::snprintf(byte, sizeof byte, hex.empty() ? "%02X" : " %02X", b);
        hex += byte;
    }
    return hex;
}

TEST_F(CliTest, ATraceHoldsEveryFrameOfADownloadInOrder) {
    VirtualReader reader(ImageOf("canal-lock.json"));
    const Result r =
        Cli("download --port " + reader.Port() + " --out '" + Out("") + "' --trace trace.txt");
    ASSERT_EQ(r.exit, 0) << r.err;
    const std::vector<TraceLine> lines = TraceLines(dir.File("trace.txt"));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front().rest.substr(0, 13), "trace opened ");
    EXPECT_EQ(lines[1].rest, "connected to " + reader.Port());
    EXPECT_EQ(lines.back().rest, "disconnected");

    // Each command as the reader received it, each followed by its reply;
    // the wait command at the end has none.
    const std::vector<sim::CommandFrame> commands = reader.Server().Commands();
    ASSERT_EQ(lines.size(), 3 + 2 * commands.size() - 1);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const TraceLine& sent = lines[2 + 2 * i];
        EXPECT_EQ(sent.kind, "->");
        EXPECT_EQ(sent.rest.substr(0, sent.rest.find("  |")),
                  HexOf(sim::MakeFrame(commands[i].text, commands[i].payload)));
        if (i + 1 < commands.size()) {
            const TraceLine& reply = lines[3 + 2 * i];
            EXPECT_EQ(reply.kind, "<-");
            EXPECT_EQ(reply.rest.substr(0, 15), "01 4D 38 30 02 ") << "an M80 frame";
            EXPECT_EQ(reply.rest.find("  |"), 135u * 3 - 1) << "135 bytes";
        }
    }
    EXPECT_EQ(commands.back().text, "|10");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_LE(lines[i - 1].time, lines[i].time);
    }
}

}  // namespace

namespace {

using namespace e2e;

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

}  // namespace

namespace {

using namespace e2e;

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
