#include "platform/Files.h"

#include <io.h>
#include <stdio.h>

// After our headers: windows.h defines many names as macros.
#include <windows.h>

namespace platform {

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
