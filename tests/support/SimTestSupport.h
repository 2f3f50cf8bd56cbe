#pragma once
// Helpers shared by the tests of the virtual reader and of what talks to it:
// a temporary folder, command frames, images built from JSON. Portable; the
// pseudo-terminal's helpers are in LineTestSupport.h.

#include <filesystem>
#include <random>
#include <string>

#include "tools/sim/Frame.h"
#include "tools/sim/ImageBuilder.h"

namespace simtest {

using sim::Bytes;

// A temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate =
                std::filesystem::temp_directory_path() / ("arvelo-sim-" + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) {
                path_ = candidate.string();
            }
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline Bytes Command(const std::string& text, const std::string& payload) {
    return sim::MakeFrame(text, Bytes(payload.begin(), payload.end()));
}

// Builds an image from one JSON document; an erased memory when it is refused.
inline sim::MemoryImage BuildImage(const std::string& json, std::string* error = nullptr) {
    sim::ImageBuilder builder;
    sim::MemoryImage image;
    std::string reason;
    if (!builder.AddLogs(json, &reason) || !builder.Build(&image, &reason)) {
        image = sim::MemoryImage();
    }
    if (error != nullptr) {
        *error = reason;
    }
    return image;
}

// Three logs of several blocks each, the second in a step mode.
inline std::string ThreeLogsJson() {
    std::string a, b, c;
    for (int i = 0; i < 400; ++i) {
        const std::string sep = i ? "," : "";
        a += sep + "[" + std::to_string(i % 250) + ",0]";
        b += sep + "[" + std::to_string(i % 200) + "," + std::to_string(i % 7) + "]";
        c += sep + "[" + std::to_string((i * 3) % 250) + ",1]";
    }
    std::string steps;
    for (int i = 0; i < 400; ++i) {
        steps += (i ? "," : "") + std::to_string(1 + i % 3);
    }
    return R"({"logs":[{"location":"A","channels":[{}],"raw":[[)" + a + R"(]]},)" +
           R"({"location":"B","sampleMode":"LB","channels":[{}],"steps":[)" + steps +
           R"(],"raw":[[)" + b + R"(]]},)" + R"({"location":"C","channels":[{}],"raw":[[)" + c +
           "]]}]}";
}

}  // namespace simtest
