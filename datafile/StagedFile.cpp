#include "datafile/StagedFile.h"

#include <cstdio>
#include <filesystem>

#include "platform/Files.h"

std::string PartialName(const std::string& path) {
    return path + ".partial";
}

int StagedDataFile::Open(const char* path, const char* mode) {
    // The rename at the end would replace whatever has the name: only a
    // regular file may be replaced, never a device or a folder.
    std::error_code error;
    if (path == nullptr ||
        (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error))) {
        return writer_.Open(nullptr, mode);
    }
    path_ = path;
    return writer_.Open(PartialName(path_).c_str(), mode, path);
}

int StagedDataFile::Finish() {
    if (!writer_.IsOpen()) {
        return 0;
    }
    if (const int error = writer_.Close(true); error != 0) {
        return error;
    }
    return platform::CommitRename(PartialName(path_), path_);
}

void StagedDataFile::Discard() {
    writer_.Close();
    std::remove(PartialName(path_).c_str());
}
