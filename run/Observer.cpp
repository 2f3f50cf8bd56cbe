#include "run/Observer.h"

#include "platform/Errors.h"

namespace run {

std::string Describe(const FileFailure& failure) {
    switch (failure.kind) {
        case FileFailure::Kind::NoName:
            return "no file name fits in " + failure.path;
        case FileFailure::Kind::CannotCreate:
            return "cannot create " + failure.path;
        case FileFailure::Kind::WriteFailed:
            break;
    }
    return "writing " + failure.path + " failed: " + platform::ErrnoText(failure.error);
}

}  // namespace run
