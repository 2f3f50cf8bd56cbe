#include "platform/Files.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cerrno>
#include <cstdint>

// After our headers: windows.h defines many names as macros.
#include <windows.h>

namespace platform {

namespace {

// The errno value of the system's error, as the C library would give it, so
// that a file's error means the same whichever call failed.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        default:
            return EIO;
    }
}

}  // namespace

std::FILE* CreateNewFile(const std::string& path, int* error) {
    // CREATE_NEW fails on any existing name, a symbolic link or junction
    // included. Shared as fopen shares a file.
    const HANDLE handle =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = ErrnoOf(::GetLastError());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        *error = EMFILE;
        ::CloseHandle(handle);
        ::DeleteFileA(path.c_str());  // ours: created a moment ago
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        *error = EMFILE;
        _close(fd);  // closes the handle too
        ::DeleteFileA(path.c_str());
    }
    return file;
}

int SyncFile(std::FILE* file) {
    return _commit(_fileno(file)) == 0 ? 0 : ErrnoOf(::GetLastError());
}

int CommitRename(const std::string& from, const std::string& to) {
    // Written through: the rename is on the disk when the call returns.
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : ErrnoOf(::GetLastError());
}

bool IsTerminal(std::FILE* file) {
    return _isatty(_fileno(file)) != 0;
}

bool MayWrite(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

}  // namespace platform
