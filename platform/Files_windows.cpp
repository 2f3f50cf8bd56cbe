#include "platform/Files.h"

#include <io.h>
#include <stdio.h>

#include <cerrno>

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

}  // namespace platform
