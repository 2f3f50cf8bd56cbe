// ParseReply on any bytes: first byte the command code, second the
// destination capacity minus one, the rest the frame. No result may claim
// more payload than the destination holds, and no byte may be read or
// written outside the frame and the destination.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Serial/CSerialLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CSerialLoader link(1024);
    if (size < 2) {
        return 0;
    }
    const auto code = static_cast<int8_t>(data[0]);
    const int32_t capacity = data[1] + 1;
    const std::vector<uint8_t> frame(data + 2, data + size);  // exactly sized for ASan
    std::vector<uint8_t> dest(static_cast<size_t>(capacity));
    const LinkResult result = link.ParseReply(
        code, frame.data(), static_cast<int32_t>(frame.size()), dest.data(), capacity);
    if (result.Ok() && (result.bytes < 0 || result.bytes >= capacity)) {
        std::abort();
    }
    return 0;
}
