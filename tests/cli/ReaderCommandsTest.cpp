// arvelo-cli's commands that read the reader for more than a download:
// erase and what it would destroy, a dump and its replay, a trace of the line.

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
