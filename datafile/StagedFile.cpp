#include "datafile/StagedFile.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/Files.h"

std::string PartialName(const std::string& path) {
    return path + ".partial";
}

int WriteWholeFile(const std::string& path, std::string_view text) {
    const std::string partial = PartialName(path);
    int error = 0;
    std::FILE* file = platform::CreateNewFile(partial, &error);
    if (file == nullptr) {
        return error;
    }
    error = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0
                ? platform::SyncFile(file)
                : errno;
    if (std::fclose(file) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0) {
        error = platform::CommitRename(partial, path);
    }
    if (error != 0) {
        std::remove(partial.c_str());
    }
    return error;
}

int StagedDataFile::Open(const char* path, const char* mode) {
    // The rename at the end would replace whatever has the name: only a
    // regular file may be replaced, never a device or a folder.
    std::error_code error;
    if (path == nullptr || mode == nullptr ||
        (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error))) {
        return writer_.OpenNew(nullptr);
    }
    if (writer_.IsOpen()) {
        return 0;  // the file open already is kept
    }
    path_ = path;
    const int result = writer_.OpenNew(PartialName(path_).c_str(), path);
    created_ = result == 0;
    return result;
}

int StagedDataFile::WriteLog(const DeviceLog* log) {
    const int result = writer_.WriteLog(log);
    writer_.Flush();
    return result;
}

int StagedDataFile::Finish() {
    if (!writer_.IsOpen()) {
        return 0;
    }
    if (const int error = writer_.Close(true); error != 0) {
        return error;
    }
    const int error = platform::CommitRename(PartialName(path_), path_);
    created_ = error != 0;
    return error;
}

void StagedDataFile::Discard() {
    writer_.Close();
    // Only what this file created: an incomplete name that was there before is not ours.
    if (created_) {
        std::remove(PartialName(path_).c_str());
        created_ = false;
    }
}
