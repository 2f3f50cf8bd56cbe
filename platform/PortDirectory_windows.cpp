// COM port names as Windows knows them: its DOS device names. Under Wine these
// are the links in the prefix's dosdevices folder (com7 -> /dev/pts/3).

#include "platform/PortDirectory.h"

// After our headers: windows.h defines many names as macros.
#include <windows.h>

#include <algorithm>

namespace platform {

std::vector<ComPort> ListComPorts() {
    // Every DOS device name, zero separated; the buffer grows until they fit.
    std::vector<char> names(16 * 1024);
    DWORD length = 0;
    while ((length = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) ==
               0 &&
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 24)) {
        names.resize(names.size() * 2);
    }
    std::vector<ComPort> ports;
    for (const char* name = names.data(); name < names.data() + length && *name != '\0';
         name += std::char_traits<char>::length(name) + 1) {
        const int number = ComPortNumber(name);
        if (number == 0) {
            continue;
        }
        char target[MAX_PATH] = {};
        ::QueryDosDeviceA(name, target, sizeof target);
        ports.push_back({number, "COM" + std::to_string(number), target, {}});
    }
    std::sort(ports.begin(), ports.end(),
              [](const ComPort& a, const ComPort& b) { return a.number < b.number; });
    return ports;
}

std::string PortAccessProblem(const std::string&) {
    // Every user may open a serial port here: a refusal means another
    // program holds it.
    return {};
}

std::string ResolveComPort(const std::string& name) {
    const int number = ComPortNumber(name);
    return number != 0 ? "\\\\.\\COM" + std::to_string(number) : std::string();
}

}  // namespace platform
