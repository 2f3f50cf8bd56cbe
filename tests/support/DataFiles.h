#pragma once
// Data files in tests: the golden files beside the tests, a file's bytes, and
// its lines with the title block's changing lines left out.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/SimTestSupport.h"
#include "tools/sim/MemoryImage.h"

namespace e2e {

inline std::string DataPath(const std::string& name) {
    return std::string(ARVELO_SOURCE_DIR) + "/tests/device/data/" + name;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline sim::MemoryImage ImageOf(const std::string& jsonFile) {
    std::string error;
    sim::MemoryImage image = simtest::BuildImage(ReadText(DataPath(jsonFile)), &error);
    EXPECT_EQ(error, "") << jsonFile;
    return image;
}

// The lines of a data file; the title block's user, date, time and file name
// lines are left out, as they depend on when, by whom and where it was written.
inline std::vector<std::string> ComparableLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
        const std::size_t number = lines.size() + 1;
        lines.push_back(number >= 4 && number <= 7 ? "" : text.substr(from, end - from));
    }
    lines.push_back(text.substr(from));  // empty after the last CR LF
    return lines;
}

// The data files of a folder, each without its title block.
inline std::map<std::string, std::vector<std::string>> DataFiles(const std::string& folder) {
    std::map<std::string, std::vector<std::string>> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files[entry.path().filename().string()] = ComparableLines(ReadText(entry.path().string()));
    }
    return files;
}

inline void ExpectSameAsGolden(const std::string& path, const std::string& golden) {
    EXPECT_EQ(ComparableLines(ReadText(path)), ComparableLines(ReadText(DataPath(golden))))
        << path << " differs from " << golden;
}

}  // namespace e2e
