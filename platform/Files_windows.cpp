#include "platform/Files.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cstdint>

// After our headers: windows.h defines many names as macros.
#include <windows.h>

namespace platform {

std::FILE* CreateNewFile(const std::string& path, int* error) {
    // CREATE_NEW fails on any existing name, a symbolic link or junction
    // included. Shared as fopen shares a file.
    const HANDLE handle =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = static_cast<int>(::GetLastError());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        *error = ERROR_TOO_MANY_OPEN_FILES;
        ::CloseHandle(handle);
        ::DeleteFileA(path.c_str());  // ours: created a moment ago
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        *error = ERROR_TOO_MANY_OPEN_FILES;
        _close(fd);  // closes the handle too
        ::DeleteFileA(path.c_str());
    }
    return file;
}

int SyncFile(std::FILE* file) {
    return _commit(_fileno(file)) == 0 ? 0 : static_cast<int>(::GetLastError());
}

int CommitRename(const std::string& from, const std::string& to) {
    // Written through: the rename is on the disk when the call returns.
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : static_cast<int>(::GetLastError());
}

bool IsTerminal(std::FILE* file) {
    return _isatty(_fileno(file)) != 0;
}

}  // namespace platform
