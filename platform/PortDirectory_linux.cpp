#include "platform/PortDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace platform {
namespace {

// Real serial devices, in the order they are given COM numbers.
std::vector<std::string> RealSerialDevices() {
    struct Found {
        int family;
        int index;
        std::string path;
    };
    static const char* const kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
    std::vector<Found> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", ec)) {
        const std::string name = entry.path().filename().string();
        for (int f = 0; f < 3; ++f) {
            const std::string prefix = kFamilies[f];
            if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            const std::string digits = name.substr(prefix.size());
            if (digits.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            if (!fs::exists(entry.path() / "device", ec)) {
                continue;
            }
            if (f == 0) {
                // Legacy UART slots are listed whether or not a chip is there;
                // a port type of 0 means none is.
                std::ifstream type(entry.path() / "type");
                int t = 0;
                if (!(type >> t) || t == 0) {
                    continue;
                }
            }
            found.push_back({f, std::atoi(digits.c_str()), "/dev/" + name});
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.family != b.family ? a.family < b.family : a.index < b.index;
    });
    std::vector<std::string> paths;
    for (const auto& f : found) {
        paths.push_back(f.path);
    }
    return paths;
}

std::string ComName(int n) {
    return "COM" + std::to_string(n);
}

// Where the link of COMn lives.
fs::path LinkPath(int n) {
    return fs::path(PortDirectory()) / ComName(n);
}

struct Links {
    std::vector<ComPort> ports;  // links whose target exists
    std::set<int> taken;         // every linked number, dangling or not
};

Links ReadLinks() {
    Links links;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(PortDirectory(), ec)) {
        const std::string name = entry.path().filename().string();
        const int n = ComPortNumber(name);
        if (n == 0 || !entry.is_symlink(ec)) {
            continue;
        }
        links.taken.insert(n);
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (ec || !fs::exists(entry.path(), ec)) {
            continue;
        }
        links.ports.push_back({n, ComName(n), target.string()});
    }
    return links;
}

}  // namespace

std::string PortDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "/tmp") + "/.config";
    }
    return base + "/Arvelo/ports";
}

std::vector<ComPort> ListComPorts() {
    Links links = ReadLinks();
    std::vector<ComPort> ports = links.ports;
    std::set<std::string> linkedDevices;
    for (const auto& p : links.ports) {
        std::error_code ec;
        linkedDevices.insert(fs::weakly_canonical(p.device, ec).string());
    }
    int next = 1;
    for (const auto& device : RealSerialDevices()) {
        if (linkedDevices.count(device) != 0) {
            continue;
        }
        while (next <= MAX_COM_NUMBER && links.taken.count(next) != 0) {
            ++next;
        }
        if (next > MAX_COM_NUMBER) {
            break;
        }
        ports.push_back({next, ComName(next), device});
        ++next;
    }
    std::sort(ports.begin(), ports.end(),
              [](const ComPort& a, const ComPort& b) { return a.number < b.number; });
    return ports;
}

std::string ResolveComPort(const std::string& name) {
    const int n = ComPortNumber(name);
    if (n == 0) {
        return {};
    }
    for (const auto& p : ListComPorts()) {
        if (p.number == n) {
            return p.device;
        }
    }
    return {};
}

bool LinkComPort(const std::string& name, const std::string& device, std::string* error) {
    const int n = ComPortNumber(name);
    if (n == 0) {
        if (error != nullptr) {
            *error = "not a COM port name: " + name;
        }
        return false;
    }
    std::error_code ec;
    fs::create_directories(PortDirectory(), ec);
    const fs::path link = LinkPath(n);
    // Make the new link beside the old one and rename it over, so the name never
    // stands for nothing in between.
    const fs::path temp = link.string() + ".new." + std::to_string(getpid());
    fs::remove(temp, ec);
    if (symlink(device.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
        if (error != nullptr) {
            *error = "cannot link " + link.string() + ": " + std::strerror(errno);
        }
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

bool UnlinkComPort(const std::string& name) {
    const int n = ComPortNumber(name);
    if (n == 0) {
        return false;
    }
    const fs::path link = LinkPath(n);
    struct stat st;
    if (lstat(link.c_str(), &st) != 0) {
        return errno == ENOENT;
    }
    return S_ISLNK(st.st_mode) && unlink(link.c_str()) == 0;
}

int FreeComPortNumber() {
    std::set<int> used = ReadLinks().taken;
    for (const auto& p : ListComPorts()) {
        used.insert(p.number);
    }
    for (int n = 1; n <= MAX_COM_NUMBER; ++n) {
        if (used.count(n) == 0) {
            return n;
        }
    }
    return 0;
}

}  // namespace platform
