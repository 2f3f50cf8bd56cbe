// The arvelo-sim program as a user runs it.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/PseudoTerminal.h"
#include "support/LineTestSupport.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

const std::string kSamples = ARVELO_SOURCE_DIR "/tools/sim/samples/";

// Runs arvelo-sim to its end; its exit code.
int RunProgram(const std::string& args) {
    const int status = std::system((ARVELO_SIM_PROGRAM " " + args + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// A running `arvelo-sim serve` with its standard output on a pipe.
class Server {
  public:
    explicit Server(const std::string& image, const std::string& port = "auto") {
        const char* argv[] = {ARVELO_SIM_PROGRAM, "serve",      "--image", image.c_str(),
                              "--port",           port.c_str(), "--fast",  nullptr};
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = fdopen(out[0], "r");
    }
    ~Server() {
        if (pid_ > 0) {
            Stop(SIGKILL);
        }
        fclose(output_);
    }

    std::string ReadLine() {
        char line[256] = {};
        return fgets(line, sizeof line, output_) != nullptr ? line : "";
    }
    // Sends the signal and returns the exit code, or -1 when it did not exit normally.
    int Stop(int signal) {
        int status = 0;
        kill(pid_, signal);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    FILE* output_ = nullptr;
};

TEST(Program, MakeImageRebuildsTheDemoReader) {
    simtest::TempDir dir;
    const std::string out = dir.File("demo.bin");
    ASSERT_EQ(RunProgram("make-image --logs " + kSamples + "water-level-tides.json --logs " +
                         kSamples + "pump-test.json --logs " + kSamples +
                         "flume-type4.json --logs " + kSamples + "rain-type6.json --out " + out),
              0);
    EXPECT_TRUE(FileBytes(out) == FileBytes(kSamples + "readers/demo.bin"))
        << "run tools/sim/samples/make-samples.py to rebuild demo.bin";
}

// Started the way a shell starts a background job (SIGINT ignored), it still
// stops on SIGINT.
TEST(Program, ServeSaysReadyAndRemovesItsLinkWhenStopped) {
    simtest::PortSandbox ports;
    const auto previous = std::signal(SIGINT, SIG_IGN);
    Server sim(kSamples + "readers/demo.bin");
    std::signal(SIGINT, previous);
    std::istringstream ready(sim.ReadLine());
    std::string word;
    std::string name;
    std::string device;
    ready >> word >> name >> device;
    ASSERT_EQ(word, "ready");
    const std::string link = ports.Ports() + "/" + name;
    EXPECT_EQ(std::filesystem::read_symlink(link), device);

    simtest::LineClient line(device);
    ASSERT_TRUE(line.Write(simtest::Command("M81", "00000")));
    EXPECT_EQ(line.Read(135, 5s).size(), 135u);

    EXPECT_EQ(sim.Stop(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

// Killed, a server leaves its link behind, pointing at a terminal number the
// system hands out again: the next server takes the name back, while a live
// one keeps it.
TEST(Program, TakesBackTheNameOfAKilledServerNotOfALiveOne) {
    simtest::PortSandbox ports;
    const std::string image = kSamples + "readers/demo.bin";
    const std::string link = ports.Ports() + "/COM5";
    Server killed(image, "COM5");
    ASSERT_EQ(killed.ReadLine().substr(0, 11), "ready COM5 ");
    {
        Server second(image, "COM5");
        EXPECT_EQ(second.ReadLine(), "");
        EXPECT_EQ(second.Stop(SIGINT), 1);
    }
    EXPECT_EQ(killed.Stop(SIGKILL), -1);
    const std::string stale = std::filesystem::read_symlink(link);
    // Another program gets the terminal number the killed one had (the
    // lowest free one comes first).
    std::vector<std::unique_ptr<platform::PseudoTerminal>> terminals;
    while (terminals.size() < 64 && !std::filesystem::exists(stale)) {
        terminals.push_back(std::make_unique<platform::PseudoTerminal>());
        ASSERT_TRUE(terminals.back()->Open());
    }
    ASSERT_TRUE(std::filesystem::exists(stale));

    Server again(image, "COM5");
    std::istringstream ready(again.ReadLine());
    std::string word;
    std::string name;
    std::string device;
    ready >> word >> name >> device;
    EXPECT_EQ(word + " " + name, "ready COM5");
    EXPECT_EQ(std::filesystem::read_symlink(link), device);
    EXPECT_EQ(again.Stop(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(Program, RefusesBadArgumentsAndPortsItCannotMake) {
    simtest::PortSandbox ports;
    const std::string serve = "serve --image " + kSamples + "readers/demo.bin ";
    EXPECT_EQ(RunProgram(""), 2);
    EXPECT_EQ(RunProgram("dance"), 2);
    EXPECT_EQ(RunProgram("serve"), 2);
    EXPECT_EQ(RunProgram("make-image --out x.bin"), 2);
    EXPECT_EQ(RunProgram(serve + "--baud 9600 --fast"), 2);
    EXPECT_EQ(RunProgram(serve + "--drop-every x"), 2);
    EXPECT_EQ(RunProgram("serve --image /nonexistent.bin"), 1);
    EXPECT_EQ(RunProgram(serve + "--invalid-log 9"), 1);
    std::filesystem::create_directories(ports.Ports());
    std::filesystem::create_symlink("/dev/null", ports.Ports() + "/COM9");
    EXPECT_EQ(RunProgram(serve + "--port COM9"), 1);
}

}  // namespace
