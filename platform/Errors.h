#pragma once
// Win32 error numbers and the per-thread "last error" of the platform layers.
//
// Callers compare these numbers (1247 counts as success, 1460 is a time-out...),
// so every layer reports the Win32 number for a failure, never an errno value.

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;  // no such port
constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;   // port busy or not permitted
constexpr uint32_t ERROR_INVALID_HANDLE = 6;  // not open
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_GEN_FAILURE = 31;  // the device stopped working (unplugged, hung up)
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_BUSY = 170;
constexpr uint32_t ERROR_NOT_OWNER = 288;
constexpr uint32_t ERROR_OPERATION_ABORTED = 995;
constexpr uint32_t ERROR_IO_INCOMPLETE = 996;
constexpr uint32_t ERROR_IO_PENDING = 997;
constexpr uint32_t ERROR_NOT_FOUND = 1168;
constexpr uint32_t ERROR_ALREADY_INITIALIZED = 1247;
constexpr uint32_t ERROR_INVALID_THREAD_ID = 1444;
constexpr uint32_t ERROR_NOT_ENOUGH_QUOTA = 1816;  // a message queue is full
constexpr uint32_t ERROR_TIMEOUT = 1460;
constexpr uint32_t E_INVALIDARG = 0x80070057;

// The error of the calling thread's most recent failed platform call.
uint32_t LastError();
void SetLastError(uint32_t error);

// The Win32 number for an errno value.
uint32_t ErrorFromErrno(int err);

// What an error number of these layers means, in words for a message: the
// system's own text on Windows, elsewhere what these layers report with it.
std::string ErrorText(uint32_t error);
// The system's words for a C library error number (errno), as files report
// it on every system: "No space left on device".
std::string ErrnoText(int err);

}  // namespace platform
