// The journal scan: the input is a journal buffer (header first) inside a
// small journaled volume whose catalog and attributes forks cover the blocks
// the fixture's transactions name. Every record the scan keeps becomes a
// node. Seeds: the fixture journal's first 64 KiB with its transaction.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ByteReader.h"
#include "HFSPlusLib/HFSPlusFileNode.h"
#include "HFSPlusLib/HFSPlusJournal.h"
#include "HFSPlusLib/HFSPlusStructs.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "support/MemoryStorageDevice.h"

using namespace hfsplus;

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kBlocks = 512;       // 2 MiB volume
constexpr uint32_t kJournalBlock = 40;  // buffer at 160 KiB
constexpr uint32_t kMaxJournal = 256 * 1024;

void Fork(uint8_t* at, uint32_t start, uint32_t count) {
    vk::StoreBE<uint64_t>(at, uint64_t{count} * kBlock);
    vk::StoreBE<uint32_t>(at + 12, count);
    vk::StoreBE<uint32_t>(at + 16, start);
    vk::StoreBE<uint32_t>(at + 20, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hfsplus::SetErrorLines(false);
    if (size < 1024 || size > kMaxJournal)
        return 0;
    const uint32_t journalSize = static_cast<uint32_t>(size / 512 * 512);
    std::vector<uint8_t> image(size_t{kBlock} * kBlocks, 0);
    uint8_t* vh = image.data() + 1024;
    vk::StoreBE<uint16_t>(vh + 0, 0x482B);
    vk::StoreBE<uint16_t>(vh + 2, 4);
    vk::StoreBE<uint32_t>(vh + 4, 0x2000);
    vk::StoreBE<uint32_t>(vh + 12, 1);  // journal info block
    vk::StoreBE<uint32_t>(vh + 40, kBlock);
    vk::StoreBE<uint32_t>(vh + 44, kBlocks);
    Fork(vh + 192, 2, 2);   // extents
    Fork(vh + 272, 4, 16);  // catalog
    Fork(vh + 352, 20, 8);  // attributes
    uint8_t* jib = image.data() + kBlock;
    vk::StoreBE<uint32_t>(jib, 1);
    vk::StoreBE<uint64_t>(jib + 36, uint64_t{kJournalBlock} * kBlock);
    vk::StoreBE<uint64_t>(jib + 44, journalSize);
    std::copy(data, data + journalSize, image.begin() + kJournalBlock * kBlock);
    velmora::test::MemoryStorageDevice device(std::move(image), 512, false);
    CHFSPlusVolume volume(&device);  // no catalog tree: the journal still opens
    if (CHFSPlusJournal* journal = volume.Journal()) {
        journal->GetDeleteRecord(nullptr, nullptr);
        for (auto& [key, record] : volume.DeletedCatalog()) {
            CHFSPlusFileNode node(&volume, key, record, 1);
            (void)node.GetFileSize();
        }
    }
    return 0;
}
