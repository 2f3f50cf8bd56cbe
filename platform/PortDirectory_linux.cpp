#include "platform/PortDirectory.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

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

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A USB adapter's maker and product, as its driver reports them in sysfs;
// empty for a device that reports none (a built-in port, a pseudo-terminal).
std::string DeviceDescription(const std::string& device) {
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    if (ec) {
        return {};
    }
    fs::path node = fs::canonical(fs::path("/sys/class/tty") / real.filename() / "device", ec);
    for (; !ec && node.has_relative_path() && node != "/sys"; node = node.parent_path()) {
        if (fs::exists(node / "product", ec)) {
            const std::string product = FirstLine(node / "product");
            const std::string maker = FirstLine(node / "manufacturer");
            return maker.empty() || product.starts_with(maker) ? product : maker + " " + product;
        }
    }
    return {};
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
        links.ports.push_back({n, ComName(n), target.string(), {}});
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
        ports.push_back({next, ComName(next), device, {}});
        ++next;
    }
    std::sort(ports.begin(), ports.end(),
              [](const ComPort& a, const ComPort& b) { return a.number < b.number; });
    for (ComPort& port : ports) {
        port.description = DeviceDescription(port.device);
    }
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

std::string PortAccessProblem(const std::string& device) {
    if (device.empty() || access(device.c_str(), R_OK | W_OK) == 0 ||
        (errno != EACCES && errno != EPERM)) {
        return {};
    }
    std::string group;
    struct stat status {};
    if (stat(device.c_str(), &status) == 0) {
        std::vector<char> buffer(16384);
        struct group entry {};
        struct group* found = nullptr;
        if (getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr) {
            group = found->gr_name;
        }
    }
    if (group.empty()) {
        return "you may not open it (ask for the right to read and write " + device + ")";
    }
    return "you may not open it: it belongs to the group " + group +
           "; add yourself to it (sudo usermod -aG " + group + " \"$USER\") and log in again";
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

namespace {

// Where the lock of the server of COMn lives; it holds the device that server
// linked. Its name is no COM name, so listing the ports passes it by.
fs::path LockPath(int n) {
    return fs::path(PortDirectory()) / ("." + ComName(n) + ".lock");
}

// Opens path, creating it, and locks it for this open file alone; -1 with
// errno set when another holds it (EWOULDBLOCK) or it cannot be opened.
int LockFile(const fs::path& path) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            return -1;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            close(fd);
            errno = err;
            return -1;
        }
        // A server that stops removes its lock file: a lock taken on the file
        // it removed meanwhile guards nothing, so the name is tried again.
        struct stat held;
        struct stat named;
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return fd;
        }
        close(fd);
    }
    errno = EAGAIN;
    return -1;
}

std::string Contents(int fd) {
    char text[4096];
    const ssize_t n = pread(fd, text, sizeof text, 0);
    return n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
}

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

ServedComPort::~ServedComPort() {
    Close();
}

bool ServedComPort::Open(const std::string& name, const std::string& device, std::string* error) {
    Close();
    if (!name.empty() && name != "auto") {
        const int n = ComPortNumber(name);
        if (n == 0) {
            SetError(error, "not a COM port name: " + name);
            return false;
        }
        return Take(n, device, error);
    }
    // The numbers real devices without a link get stay theirs: a link there
    // would move them to other names.
    const Links links = ReadLinks();
    std::set<int> devices;
    for (const ComPort& port : ListComPorts()) {
        if (links.taken.count(port.number) == 0) {
            devices.insert(port.number);
        }
    }
    for (int n = 1; n <= MAX_COM_NUMBER; ++n) {
        if (devices.count(n) == 0 && Take(n, device, nullptr)) {
            return true;
        }
    }
    SetError(error, "no free COM name left");
    return false;
}

bool ServedComPort::Take(int number, const std::string& device, std::string* error) {
    const std::string name = ComName(number);
    std::error_code ec;
    fs::create_directories(PortDirectory(), ec);
    const fs::path link = LinkPath(number);
    const fs::path lockPath = LockPath(number);
    const auto taken = [&](const std::string& why) {
        SetError(error, name + " is taken: " + why);
        return false;
    };
    const int lock = LockFile(lockPath);
    if (lock < 0) {
        if (errno != EWOULDBLOCK) {
            SetError(error, "cannot lock " + lockPath.string() + ": " + std::strerror(errno));
            return false;
        }
        const fs::path target = fs::read_symlink(link, ec);
        return taken(ec ? "another server holds it" : "it stands for " + target.string());
    }
    const auto refuse = [&](const std::string& why) {
        unlink(lockPath.c_str());  // nothing of a server that is gone stands there now
        close(lock);
        return taken(why);
    };
    struct stat st;
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            return refuse(link.string() + " is not a link");
        }
        const std::string target = fs::read_symlink(link, ec).string();
        const bool gone = stat(link.c_str(), &st) != 0;
        // What a server that is gone left: the device its lock names.
        const std::string left = Contents(lock);
        const bool stale = target.starts_with("/dev/pts/") && (gone || target == left);
        if (target != device && !stale) {
            return refuse("it stands for " + target);
        }
    }
    if (ftruncate(lock, 0) != 0 ||
        pwrite(lock, device.data(), device.size(), 0) != static_cast<ssize_t>(device.size())) {
        const int err = errno;
        unlink(lockPath.c_str());
        close(lock);
        SetError(error, "cannot write " + lockPath.string() + ": " + std::strerror(err));
        return false;
    }
    if (!LinkComPort(name, device, error)) {
        unlink(lockPath.c_str());
        close(lock);
        return false;
    }
    lock_ = lock;
    name_ = name;
    device_ = device;
    return true;
}

void ServedComPort::Close() {
    if (lock_ < 0) {
        return;
    }
    const int n = ComPortNumber(name_);
    // Someone may have linked the name elsewhere since; that link stays.
    std::error_code ec;
    if (fs::read_symlink(LinkPath(n), ec) == device_) {
        unlink(LinkPath(n).c_str());
    }
    unlink(LockPath(n).c_str());
    close(lock_);
    lock_ = -1;
    name_.clear();
    device_.clear();
}

}  // namespace platform
