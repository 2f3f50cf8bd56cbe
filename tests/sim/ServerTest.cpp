#include "tools/sim/Server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/PortDirectory.h"
#include "platform/PseudoTerminal.h"
#include "support/LineTestSupport.h"

namespace {

using sim::Bytes;

using namespace std::chrono_literals;
using simtest::Command;
using simtest::LineClient;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadFrame = 12;  // "M81" + 5 digits
constexpr std::size_t kReplyFrame = 135;

Clock::duration LineTime(std::size_t bytes, int baud) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(bytes * 10.0 / baud));
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

class ServerTest : public ::testing::Test {
  protected:
    sim::MemoryImage Image() const { return simtest::BuildImage(R"({"logs": [{}, {}]})"); }

    simtest::PortSandbox ports_;
};

TEST_F(ServerTest, LinksItsComNameAndAnswersOnThePseudoTerminal) {
    sim::ServerOptions options;
    options.fast = true;
    sim::Server server(Image(), options);
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    EXPECT_EQ(platform::ResolveComPort(server.PortName()), server.DevicePath());

    LineClient line(server.DevicePath());
    ASSERT_TRUE(line.Write(Command("M81", "00120")));
    const Bytes reply = line.Read(kReplyFrame, 5s);
    const sim::Block block = Image().ReadBlock(0x120);
    EXPECT_EQ(reply, sim::MakeFrame("M80", block.data(), block.size()));
    ASSERT_TRUE(server.WaitForReplies(1, 5s));
    const auto commands = server.Commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].PayloadText(), "00120");

    const std::string name = server.PortName();
    const auto started = Clock::now();
    server.Stop();
    EXPECT_LT(Clock::now() - started, 1s);
    EXPECT_EQ(platform::ResolveComPort(name), "");
    EXPECT_FALSE(std::filesystem::is_symlink(ports_.Ports() + "/" + name));
}

TEST_F(ServerTest, TakesAStaleNameButNotALiveOne) {
    platform::PseudoTerminal other;  // another program's live terminal
    ASSERT_TRUE(other.Open());
    std::filesystem::create_directories(ports_.Ports());
    std::filesystem::create_symlink("/dev/pts/2147483647", ports_.Ports() + "/COM200");
    std::filesystem::create_symlink("/dev/null", ports_.Ports() + "/COM201");
    std::filesystem::create_symlink("/nonexistent/tty", ports_.Ports() + "/COM202");  // unplugged
    std::filesystem::create_symlink(other.SlavePath(), ports_.Ports() + "/COM203");
    sim::ServerOptions options;
    options.port = "COM200";
    sim::Server stale(Image(), options);
    std::string error;
    ASSERT_TRUE(stale.Start(&error)) << error;
    EXPECT_EQ(stale.PortName(), "COM200");

    for (const auto& [port, target] : {std::pair<std::string, std::string>{"com201:", "/dev/null"},
                                       {"COM202", "/nonexistent/tty"},
                                       {"COM203", other.SlavePath()},
                                       {"COM200", stale.DevicePath()}}) {
        options.port = port;
        sim::Server refused(Image(), options);
        EXPECT_FALSE(refused.Start(&error)) << port;
        EXPECT_EQ(error, "COM" + port.substr(3, 3) + " is taken: it stands for " + target);
        EXPECT_EQ(std::filesystem::read_symlink(ports_.Ports() + "/COM" + port.substr(3, 3)),
                  target);
    }
}

TEST_F(ServerTest, EraseSequenceOverTheLineErasesAndWritesBack) {
    simtest::TempDir dir;
    const std::string path = dir.File("reader.bin");
    std::string error;
    ASSERT_TRUE(Image().Save(path, 0, &error)) << error;
    const auto length = std::filesystem::file_size(path);

    sim::ServerOptions options;
    options.baud = 115200;
    options.writeBackPath = path;
    sim::Server server(Image(), options);
    ASSERT_TRUE(server.Start(&error)) << error;
    LineClient line(server.DevicePath());
    for (const Bytes& frame :
         {Command("{10", "0000G00000000000"), Command("|10", "@Wait@          "),
          sim::MakeFrame("M81", Bytes(128, 0xFF)), Command("M81", "00000")}) {
        ASSERT_TRUE(line.Write(frame));
    }
    const Bytes reply = line.Read(kReplyFrame, 5s);
    ASSERT_EQ(reply.size(), kReplyFrame);
    EXPECT_EQ(reply[5], 0xFF);
    EXPECT_EQ(reply[6], 0xFF);
    EXPECT_TRUE(server.Memory() == sim::MemoryImage());

    sim::MemoryImage saved;
    ASSERT_TRUE(saved.Load(path, &error)) << error;
    EXPECT_TRUE(saved == sim::MemoryImage());
    EXPECT_EQ(std::filesystem::file_size(path), length);
    EXPECT_EQ(server.Stats().writeBackErrors, 0u);
}

// The line rate holds when replies queue up back to back: 100 read commands
// written at once are received one after another, and the 100 replies leave
// at the line rate. Whatever the machine's load, no byte can come early, so
// the lower bound is exact; being late does not add up (the schedule is kept
// in absolute times), so only the last few bytes' latency counts against the
// upper bound.
TEST_F(ServerTest, RepliesHoldTheLineRate) {
    const int baud = 57600;
    const int replies = 100;
    sim::ServerOptions options;
    options.baud = baud;
    sim::Server server(Image(), options);
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    LineClient line(server.DevicePath());
    Bytes commands;
    for (int i = 0; i < replies; ++i) {
        char address[8];
        std::snprintf(address, sizeof address, "%05X", i * 64);
        const Bytes frame = Command("M81", address);
        commands.insert(commands.end(), frame.begin(), frame.end());
    }
    const auto started = Clock::now();
    ASSERT_TRUE(line.Write(commands));
    const Bytes got = line.Read(replies * kReplyFrame, 20s);
    const auto elapsed = Clock::now() - started;
    ASSERT_EQ(got.size(), replies * kReplyFrame);

    const auto ideal = LineTime(kReadFrame + replies * kReplyFrame, baud);
    RecordProperty("ideal_ms", std::to_string(Ms(ideal)));
    RecordProperty("elapsed_ms", std::to_string(Ms(elapsed)));
    EXPECT_GE(elapsed, ideal);
    EXPECT_LE(Ms(elapsed), Ms(ideal) * 1.02) << "ideal " << Ms(ideal) << " ms";
    const sim::Block last = server.Memory().ReadBlock((replies - 1) * 64);
    EXPECT_EQ(Bytes(got.end() - kReplyFrame, got.end()),
              sim::MakeFrame("M80", last.data(), last.size()));
}

// A command counts once its last byte has crossed the line; the reply starts
// after the turnaround and its last byte comes a reply's line time later.
TEST_F(ServerTest, CommandsCrossTheLineBeforeTheTurnaround) {
    const int baud = 4800;
    sim::ServerOptions options;
    options.baud = baud;
    options.turnaround = 40ms;
    sim::Server server(Image(), options);
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    LineClient line(server.DevicePath());
    const auto started = Clock::now();
    ASSERT_TRUE(line.Write(Command("M81", "00000")));
    const Bytes first = line.Read(1, 5s);
    const auto firstByte = Clock::now() - started;
    const Bytes rest = line.Read(kReplyFrame - 1, 5s);
    const auto lastByte = Clock::now() - started;
    ASSERT_EQ(first.size() + rest.size(), kReplyFrame);
    EXPECT_GE(firstByte, LineTime(kReadFrame + 1, baud) + 40ms);
    EXPECT_GE(lastByte, LineTime(kReadFrame + kReplyFrame, baud) + 40ms);
}

TEST_F(ServerTest, AppliesFaultsOnTheLineAndToTheServedMemory) {
    sim::ServerOptions options;
    options.fast = true;
    options.faults.stopAfter = 1;
    options.faults.resumeAfter = 300ms;
    options.faults.invalidLog = 2;
    sim::Server server(Image(), options);
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    const sim::Block header =
        server.Memory().ReadBlock(sim::LogStarts(Image())[1] + sim::kHeaderBlockOffset);
    EXPECT_EQ(Bytes(header.begin(), header.begin() + 3), (Bytes{0xFF, 0xFF, 0x00}));

    LineClient line(server.DevicePath());
    ASSERT_TRUE(line.Write(Command("M81", "00000")));
    EXPECT_EQ(line.Read(kReplyFrame, 5s).size(), kReplyFrame);
    const auto silent = Clock::now();
    ASSERT_TRUE(line.Write(Command("M81", "00000")));
    ASSERT_TRUE(server.WaitForCommands(2, 5s));
    EXPECT_TRUE(line.Read(1, 100ms).empty());
    std::this_thread::sleep_until(silent + 600ms);
    ASSERT_TRUE(line.Write(Command("M81", "00040")));
    EXPECT_EQ(line.Read(kReplyFrame, 5s).size(), kReplyFrame);

    // Saving the served memory would make the missing mark permanent.
    options.writeBackPath = "/tmp/unused.bin";
    sim::Server permanent(Image(), options);
    EXPECT_FALSE(permanent.Start(&error));
}

}  // namespace
