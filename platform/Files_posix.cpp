#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

std::FILE* CreateNewFile(const std::string& path, int* error) {
    // O_EXCL alone refuses a link already; O_NOFOLLOW says so where it is read.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        *error = errno;
        close(fd);
        unlink(path.c_str());  // ours: created a moment ago
    }
    return file;
}

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

bool MayWrite(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 &&
           (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && access(path.c_str(), W_OK) == 0;
}

}  // namespace platform
