#pragma once
// What the command-line tests share: arvelo-cli run as a program in a
// temporary folder, against the virtual reader in the test process.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/DownloadTestSupport.h"

namespace clitest {

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

}  // namespace clitest
