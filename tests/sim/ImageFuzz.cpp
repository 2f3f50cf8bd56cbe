// Any JSON text: the builder refuses it or lays out a chain that walks back to
// exactly the logs it was given.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/sim/ImageBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::ImageBuilder builder;
    sim::MemoryImage image;
    std::string error;
    if (!builder.AddLogs(std::string(data, data + size), &error) ||
        !builder.Build(&image, &error)) {
        return 0;
    }
    if (sim::LogStarts(image).size() != builder.LogCount()) {
        std::abort();
    }
    return 0;
}
