#pragma once
// Lays out logs described in JSON in a reader memory image, the way the log
// chain needs them (format: docs/sim-image-format.md).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/sim/Frame.h"
#include "tools/sim/MemoryImage.h"

namespace sim {

class ImageBuilder {
  public:
    // Adds the logs of one JSON document behind those added before; false with
    // a reason (naming the log by its chain position) when it is not valid.
    bool AddLogs(const std::string& json, std::string* error);

    // Places every log at its page; false with a reason when a log does not fit.
    bool Build(MemoryImage* image, std::string* error) const;

    std::size_t LogCount() const { return logs_.size(); }

    struct Log {
        std::optional<unsigned> page;
        Bytes info;  // the information block
        Bytes body;  // header block, data records, end marker
        std::uint8_t fill = kErased;
    };

  private:
    std::vector<Log> logs_;
};

}  // namespace sim
