#pragma once
// The reader's memory: 20-bit addresses, each address unit two bytes, so the
// byte offset of address A is 2A and the whole space is 2 MiB. The image file
// is that memory byte for byte; a shorter file stands for a memory whose rest
// is erased (0xFF).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

inline constexpr std::uint32_t kAddressMask = 0xFFFFF;
inline constexpr std::size_t kMemoryBytes = std::size_t{2} * (kAddressMask + 1);
inline constexpr std::size_t kBlockBytes = 128;
inline constexpr std::uint32_t kBlockUnits = kBlockBytes / 2;
inline constexpr std::uint8_t kErased = 0xFF;

// Layout of a log, in address units from its start.
inline constexpr std::uint32_t kPageUnits = 2048;
inline constexpr std::uint32_t kInfoBlockOffset = 288;
inline constexpr std::uint32_t kHeaderBlockOffset = 448;
// Byte of a log's first block holding the page of the next chain entry.
inline constexpr std::size_t kNextPageByte = 32;
// The walk gives up after this many entries (a chain can loop).
inline constexpr std::size_t kMaxChainEntries = 1000;

using Block = std::array<std::uint8_t, kBlockBytes>;

class MemoryImage {
  public:
    MemoryImage();  // erased

    // Reads an image file; false with a reason when it cannot or the file is
    // larger than the memory.
    bool Load(const std::string& path, std::string* error);

    // Writes the first max(minLength, UsedBytes()) bytes, through a temporary
    // file renamed over the target so that a reader never sees half a file.
    bool Save(const std::string& path, std::size_t minLength, std::string* error) const;

    // Length up to and including the last byte that is not erased.
    std::size_t UsedBytes() const;

    // The block at an address (masked to 20 bits); bytes past the end read 0xFF.
    Block ReadBlock(std::uint32_t address) const;
    // Stores a block at an address (masked); bytes past the end are dropped.
    void WriteBlock(std::uint32_t address, const Block& block);
    void Erase();

    std::uint8_t* Data() { return bytes_.data(); }
    const std::uint8_t* Data() const { return bytes_.data(); }
    static constexpr std::size_t Size() { return kMemoryBytes; }

    bool operator==(const MemoryImage& other) const = default;

  private:
    std::vector<std::uint8_t> bytes_;
};

// Start addresses of the logs, in chain order: the log at address 0, then each
// entry the chain points to, except the last entry, which is the free memory.
std::vector<std::uint32_t> LogStarts(const MemoryImage& memory);

// Byte offset of a log's header block.
inline std::size_t HeaderBlockByte(std::uint32_t logStart) {
    return std::size_t{2} * (logStart + kHeaderBlockOffset);
}

}  // namespace sim
