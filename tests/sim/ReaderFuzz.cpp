// Any bytes on the line: the unit never answers with anything but a whole,
// well-formed reply frame.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/sim/ImageBuilder.h"
#include "tools/sim/Reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const sim::MemoryImage memory = [] {
        sim::ImageBuilder builder;
        sim::MemoryImage image;
        builder.AddLogs(R"({"logs": [{}, {"sampleMode": "LA", "steps": [1], "values": [[2]]}]})",
                        nullptr);
        builder.Build(&image, nullptr);
        return image;
    }();
    sim::Reader reader(memory);
    for (std::size_t i = 0; i < size; ++i) {
        const auto exchange = reader.Receive(data[i]);
        if (!exchange || exchange->reply.empty()) {
            continue;
        }
        const sim::Bytes& r = exchange->reply;
        if (r.size() < 7 || r.size() > 135 || r[0] != 0x01 || r[4] != 0x02 ||
            r[r.size() - 2] != 0x03 || sim::Checksum(r.data(), r.size() - 1) != r.back() ||
            !exchange->command.checksumOk) {
            std::abort();
        }
    }
    return 0;
}
