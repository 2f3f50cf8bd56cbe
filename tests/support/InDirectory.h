#pragma once
// Runs a test in another working directory and goes back when the test
// leaves, also by a failed ASSERT: a directory left behind would spoil every
// case after it.

#include <filesystem>

namespace support {

class InDirectory {
  public:
    explicit InDirectory(const std::filesystem::path& dir)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~InDirectory() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
    }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

}  // namespace support
