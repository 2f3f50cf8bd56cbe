// arvelo-cli ports: the COM names a reader can be reached under.
#include <cstdio>

#include "platform/PortDirectory.h"
#include "tools/cli/Commands.h"

namespace cli {

int Ports() {
    for (const platform::ComPort& port : platform::ListComPorts()) {
        std::printf("%s: %s\n", port.name.c_str(), port.device.c_str());
    }
    return kDone;
}

}  // namespace cli
