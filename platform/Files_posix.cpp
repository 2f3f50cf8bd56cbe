#include "platform/Files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

int SyncFile(std::FILE* file) {
    return fsync(fileno(file)) == 0 ? 0 : errno;
}

int CommitRename(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    const std::size_t slash = to.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const int error = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return error;
}

bool IsTerminal(std::FILE* file) {
    return isatty(fileno(file)) != 0;
}

}  // namespace platform
