#include "platform/Errors.h"

#include <cstring>

namespace platform {

namespace {

// strerror_r comes in two shapes, by the C library and its feature macros.
[[maybe_unused]] const char* Chosen(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* Chosen(const char* result, const char*) {
    return result;
}

}  // namespace

std::string ErrorText(uint32_t error) {
    // Here these numbers stand for the errno values ErrorFromErrno maps them from.
    switch (error) {
        case ERROR_SUCCESS:
            return "no error";
        case ERROR_INVALID_FUNCTION:
            return "not a serial device";
        case ERROR_FILE_NOT_FOUND:
            return "no such file or device";
        case ERROR_TOO_MANY_OPEN_FILES:
            return "too many open files";
        case ERROR_ACCESS_DENIED:
            return "access denied (in use, or not permitted)";
        case ERROR_INVALID_HANDLE:
            return "not open";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "not enough memory";
        case ERROR_GEN_FAILURE:
            return "the device does not work (removed, or not a device?)";
        case ERROR_INVALID_PARAMETER:
        case E_INVALIDARG:
            return "invalid argument";
        case ERROR_BUSY:
            return "busy";
        case ERROR_NOT_OWNER:
            return "not the owner";
        case ERROR_OPERATION_ABORTED:
            return "cancelled";
        case ERROR_IO_INCOMPLETE:
        case ERROR_IO_PENDING:
            return "not complete yet";
        case ERROR_NOT_FOUND:
            return "not found";
        case ERROR_ALREADY_INITIALIZED:
            return "open already";
        case ERROR_INVALID_THREAD_ID:
            return "no such thread";
        case ERROR_NOT_ENOUGH_QUOTA:
            return "a message queue is full";
        case ERROR_TIMEOUT:
            return "timed out";
        default:
            return "error " + std::to_string(error);
    }
}

std::string ErrnoText(int err) {
    char buffer[256] = {};
    const char* text = Chosen(strerror_r(err, buffer, sizeof buffer), buffer);
    return text != nullptr && text[0] != '\0' ? text : "error " + std::to_string(err);
}

}  // namespace platform
