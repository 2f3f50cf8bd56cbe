#include "tools/sim/MemoryImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace sim {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

MemoryImage::MemoryImage() : bytes_(kMemoryBytes, kErased) {}

bool MemoryImage::Load(const std::string& path, std::string* error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        SetError(error, "cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    std::vector<std::uint8_t> bytes(kMemoryBytes, kErased);
    const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get()) != 0) {
        SetError(error, "cannot read " + path + ": " + std::strerror(errno));
        return false;
    }
    if (n == bytes.size() && std::fgetc(file.get()) != EOF) {
        SetError(error, path + " is larger than the reader's memory (2 MiB)");
        return false;
    }
    bytes_ = std::move(bytes);
    return true;
}

bool MemoryImage::Save(const std::string& path, std::size_t minLength, std::string* error) const {
    const std::size_t length = std::min(kMemoryBytes, std::max(minLength, UsedBytes()));
    // A temporary name of its own beside the image, made new: never one
    // another writer (or a link) has.
    std::random_device random;
    std::string temp;
    File file;
    int createFailed = EEXIST;
    for (int attempt = 0; attempt < 100 && !file && createFailed == EEXIST; ++attempt) {
        temp = path + ".tmp." + std::to_string(random());
        file.reset(platform::CreateNewFile(temp, &createFailed));
    }
    if (!file) {
        SetError(error, "cannot write " + temp + ": " + platform::ErrnoText(createFailed));
        return false;
    }
    const bool written = std::fwrite(bytes_.data(), 1, length, file.get()) == length;
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        SetError(error, "cannot write " + path + ": " + std::strerror(errno));
        std::remove(temp.c_str());
        return false;
    }
    if (const int renameFailed = platform::CommitRename(temp, path); renameFailed != 0) {
        SetError(error, "cannot write " + path + ": " + platform::ErrnoText(renameFailed));
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

std::size_t MemoryImage::UsedBytes() const {
    const auto last =
        std::find_if(bytes_.rbegin(), bytes_.rend(), [](std::uint8_t b) { return b != kErased; });
    return static_cast<std::size_t>(bytes_.rend() - last);
}

Block MemoryImage::ReadBlock(std::uint32_t address) const {
    Block block;
    block.fill(kErased);
    const std::size_t offset = std::size_t{2} * (address & kAddressMask);
    const std::size_t count = std::min(kBlockBytes, kMemoryBytes - offset);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, block.begin());
    return block;
}

void MemoryImage::WriteBlock(std::uint32_t address, const Block& block) {
    const std::size_t offset = std::size_t{2} * (address & kAddressMask);
    const std::size_t count = std::min(kBlockBytes, kMemoryBytes - offset);
    std::copy_n(block.begin(), count, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void MemoryImage::Erase() {
    std::fill(bytes_.begin(), bytes_.end(), kErased);
}

std::vector<std::uint32_t> LogStarts(const MemoryImage& memory) {
    std::vector<std::uint32_t> starts;
    std::uint32_t address = 0;
    while (starts.size() < kMaxChainEntries) {
        const std::uint8_t next = memory.ReadBlock(address)[kNextPageByte];
        if (next == kErased) {
            break;
        }
        starts.push_back(address);
        address = next * kPageUnits;
    }
    return starts;
}

}  // namespace sim
