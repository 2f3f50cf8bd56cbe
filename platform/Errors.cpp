#include "platform/Errors.h"

#include <cerrno>

namespace platform {
namespace {
thread_local uint32_t t_lastError = ERROR_SUCCESS;
}

uint32_t LastError() {
    return t_lastError;
}

void SetLastError(uint32_t error) {
    t_lastError = error;
}

uint32_t ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
        case ELOOP:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENOTTY:
            return ERROR_INVALID_FUNCTION;
        case ETIMEDOUT:
            return ERROR_TIMEOUT;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace platform
