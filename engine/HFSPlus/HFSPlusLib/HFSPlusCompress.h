// Files HFS+ keeps compressed: the BSD flag 0x20, a "com.apple.decmpfs"
// attribute naming the compression type and the uncompressed size, and
// the compressed data inline in that attribute or in the resource fork.
// Recovery reads their plain bytes through this reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "RecoveryInterfaces.h"

namespace hfsplus {

class CHFSPlusVolume;
class CHFSPlusFileNode;

// Largest uncompressed size believed (1 TiB); a larger header is damage.
constexpr uint64_t kMaxUncompressedSize = 1ULL << 40;

// Decodes one LZVN stream: the bytes written, 0 on a damaged stream (an
// undefined opcode, a match reaching before the output's start or with no
// distance yet, a stream that ends without its end opcode). Output that
// would pass `destinationSize` is cut there and the size returned.
size_t lzvn_decode(void* destination, size_t destinationSize, const void* source,
                   size_t sourceSize);

class CHFSPlusCompressFileReader final : public IFileReader {
public:
    CHFSPlusCompressFileReader(CHFSPlusVolume* volume, CHFSPlusFileNode* node);
    CHFSPlusCompressFileReader(const CHFSPlusCompressFileReader& other);
    ~CHFSPlusCompressFileReader() override = default;

    // Plain bytes from `offset`; fewer than asked only at the end of the
    // file or when the data is damaged or unreadable (then `*error` is -1).
    unsigned ReadData(long long offset, char* buffer, unsigned size, int* error) override;
    IFileReader* Clone() override { return new CHFSPlusCompressFileReader(*this); }
    long long GetDataSize() const override;
    int IsCompressFile() override { return 1; }
    void Release() override { delete this; }

    uint32_t CompressionType() const { return type_; }

    // The decoding alone, over bytes held in memory: a decmpfs attribute
    // and, for the resource-fork types, the fork.
    static CHFSPlusCompressFileReader* FromMemory(std::vector<uint8_t> decmpfs,
                                                  std::vector<uint8_t> fork);

private:
    bool Prepare();
    bool ReadFork(uint64_t offset, uint8_t* out, uint64_t length);
    // Decodes block `k` (64 KiB of output) of a resource-fork file.
    bool DecodeBlock(size_t k);

    CHFSPlusVolume* volume_;
    CHFSPlusFileNode* node_;
    bool prepared_ = false;
    bool usable_ = false;
    uint32_t type_ = 0;
    uint64_t size_ = 0;
    std::vector<uint8_t> payload_;  // inline data after the 16-byte header
    std::vector<uint8_t> plain_;    // decoded inline file
    // Resource-fork files: each block's place in the fork.
    struct Block {
        uint64_t offset;
        uint64_t size;
    };
    std::vector<Block> blocks_;
    std::vector<uint64_t> runStarts_;  // fork offset of each run
    std::vector<uint8_t> current_;
    size_t currentIndex_ = SIZE_MAX;
    bool inMemory_ = false;
    std::vector<uint8_t> memoryAttribute_;
    std::vector<uint8_t> memoryFork_;
};

}  // namespace hfsplus
