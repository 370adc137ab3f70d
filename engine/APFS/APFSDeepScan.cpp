#include "APFSDeepScan.h"

#include <cstring>

#include "APFSLayout.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"

namespace apfs {
namespace {

// The surface is read 16 blocks (64 KiB) at a time into one buffer.
constexpr int kGroupBlocks = 16;

}  // namespace

APFSDeepScan::APFSDeepScan() : buffer_(new uint8_t[kGroupBlocks * kBlockSize]()) {}

APFSDeepScan::~APFSDeepScan() = default;

void APFSDeepScan::SetDevice(IStorageDevice* device) {
    device_ = device;
    const int size = device != nullptr ? device->GetSectorSize() : 0;
    sectorSize_ = size < 1 ? 512 : size;
}

bool APFSDeepScan::Continued() {
    return progress_ == nullptr || progress_->Continued() != 0;
}

int APFSDeepScan::AddNode(APFSFileNode* node) {
    if (node == nullptr || (node->flags_ & APFSFileNode::kReported))
        return 0;
    node->flags_ |= APFSFileNode::kReported;
    return builder_ != nullptr ? builder_->AddNode(node, SEARCHER_APFS) : 0;
}

int APFSDeepScan::ReadBlocks(APFSContainer* container, unsigned long long block, int bytes,
                             void* buffer) {
    if (device_ == nullptr || buffer == nullptr || bytes <= 0)
        return 0;
    const unsigned long long ss = static_cast<unsigned long long>(sectorSize_);
    // A block must be made of whole sectors.
    if (ss > kBlockSize || kBlockSize % ss != 0)
        return 0;
    const unsigned long long perBlock = kBlockSize / ss;
    const unsigned long long start = container != nullptr ? container->StartSector() : 0;
    unsigned long long sector = 0;
    if (__builtin_mul_overflow(block, perBlock, &sector) ||
        __builtin_add_overflow(sector, start, &sector) ||
        sector > static_cast<unsigned long long>(INT64_MAX))
        return 0;
    const long long count = bytes / static_cast<long long>(ss);
    if (count <= 0)
        return 0;
    return device_->ReadSector(buffer, static_cast<long long>(sector), count);
}

bool APFSDeepScan::OnContainerSuperblock(unsigned long long sector, const uint8_t* data) {
    vk::ByteReader r(data, kBlockSize);
    if (r.LE64(obj::kOid) != 1 || r.LE16(obj::kType) != obj::kTypeContainerSuperblock ||
        r.LE32(nx::kMagic) != nx::kMagicValue || r.LE32(nx::kBlockSize) != kBlockSize)
        return false;
    for (const auto& [start, container] : containers_) {
        // A checkpoint copy inside a container already known.
        if (sector - container->StartSector() < container->SizeInSectors() &&
            std::memcmp(data + nx::kUuid, container->Uuid(), nx::kUuidSize) == 0)
            return true;
    }
    auto container =
        std::make_unique<APFSContainer>(this, static_cast<int>(containers_.size()), sector);
    container->SetSectorSize(sectorSize_);
    if (containers_.empty() && builder_ != nullptr)
        builder_->AddSearcherInfo(SEARCHER_APFS, 2);
    APFSContainer* walked = container.get();
    containers_.emplace(sector, std::move(container));
    walked->WalkFromContainerSuperblock();
    return true;
}

bool APFSDeepScan::OnVolumeSuperblock(unsigned long long sector, const uint8_t* data) {
    if (!containers_.empty() ||
        vk::ByteReader(data, kBlockSize).LE32(apsb::kMagic) != apsb::kMagicValue)
        return false;
    auto container = std::make_unique<APFSContainer>(this, 0, 0);
    container->SetSectorSize(sectorSize_);
    const long long total = device_ != nullptr ? device_->GetTotalSectors() : 0;
    container->SetSizeInSectors(total > 0 ? static_cast<unsigned long long>(total) : 0);
    if (builder_ != nullptr)
        builder_->AddSearcherInfo(SEARCHER_APFS, 2);
    APFSContainer* walked = container.get();
    containers_.emplace(sector, std::move(container));
    walked->WalkFromVolumeSuperblock(sector * static_cast<unsigned long long>(sectorSize_) /
                                     kBlockSize);
    walked->SetWalked();
    return true;
}

void APFSDeepScan::AnalyzeGroup(const uint8_t* group, uint64_t block, int count) {
    const unsigned long long ss = static_cast<unsigned long long>(sectorSize_);
    for (int i = 0; i < count; ++i) {
        const uint8_t* data = group + static_cast<size_t>(i) * kBlockSize;
        if (!PassesObjectHeader(data, kBlockSize))
            continue;
        const unsigned long long sector = (block + static_cast<uint64_t>(i)) * kBlockSize / ss;
        if (OnContainerSuperblock(sector, data) || OnVolumeSuperblock(sector, data))
            continue;
        for (auto& [start, container] : containers_) {
            if (!Continued())
                return;
            container->AnalyzeLostNode(sector, block + static_cast<uint64_t>(i), data);
        }
        if (!Continued())
            return;
    }
}

void APFSDeepScan::AnalyzeBlock(long long firstSector, long long sectorCount) {
    if (device_ == nullptr || firstSector < 0 || sectorCount <= 0)
        return;
    const unsigned long long ss = static_cast<unsigned long long>(sectorSize_);
    unsigned long long end = 0;
    if (__builtin_add_overflow(static_cast<unsigned long long>(firstSector),
                               static_cast<unsigned long long>(sectorCount), &end))
        return;
    // Never past the device: a group reaching beyond it would fail whole and
    // take the readable blocks before the end with it.
    const long long total = device_->GetTotalSectors();
    if (total >= 0 && end > static_cast<unsigned long long>(total))
        end = static_cast<unsigned long long>(total);
    if (end > UINT64_MAX / ss)
        return;
    const uint64_t endBlock = end * ss / kBlockSize;
    uint64_t block = static_cast<unsigned long long>(firstSector) * ss / kBlockSize;

    // Through the read-ahead cache the blocks are already in memory: looking
    // at them where they lie saves copying every byte of the disk once more.
    // Only when the cache's block starts on an APFS block boundary, so that
    // every 4096-byte block is whole in it.
    if (auto* cache = dynamic_cast<IDeviceCache*>(device_)) {
        long long heldFirst = 0, heldCount = 0;
        const uint8_t* held = cache->PeekCurrentBlock(&heldFirst, &heldCount);
        if (held != nullptr && heldFirst >= 0 && heldCount > 0 && heldFirst <= firstSector &&
            end <= static_cast<unsigned long long>(heldFirst) +
                       static_cast<unsigned long long>(heldCount) &&
            static_cast<unsigned long long>(heldFirst) * ss % kBlockSize == 0) {
            const uint64_t heldStart = static_cast<unsigned long long>(heldFirst) * ss;
            while (block < endBlock && Continued()) {
                const int count = static_cast<int>(
                    endBlock - block < kGroupBlocks ? endBlock - block : kGroupBlocks);
                AnalyzeGroup(held + (block * kBlockSize - heldStart), block, count);
                block += static_cast<uint64_t>(count);
            }
        }
    }

    while (block < endBlock && Continued()) {
        const int count =
            static_cast<int>(endBlock - block < kGroupBlocks ? endBlock - block : kGroupBlocks);
        if (ReadBlocks(nullptr, block, count * static_cast<int>(kBlockSize), buffer_.get())) {
            AnalyzeGroup(buffer_.get(), block, count);
        } else {
            // One bad sector must not hide the rest of its group.
            for (int i = 0; i < count && Continued(); ++i) {
                if (ReadBlocks(nullptr, block + static_cast<uint64_t>(i), kBlockSize,
                               buffer_.get()))
                    AnalyzeGroup(buffer_.get(), block + static_cast<uint64_t>(i), 1);
            }
        }
        block += static_cast<uint64_t>(count);
    }
    for (auto& [start, container] : containers_) {
        if (!Continued())
            break;
        container->FlushPending(static_cast<long long>(endBlock));
    }
}

void APFSDeepScan::EndSearch(int build) {
    if (build == 0 || containers_.empty())
        return;
    for (auto& [start, container] : containers_)
        container->FlushPending(-1);
    if (builder_ != nullptr) {
        builder_->SetPartitonDevice(nullptr, device_);
        builder_->FlashBuild(SEARCHER_APFS);
    }
}

int APFSDeepScan::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    std::vector<const APFSContainer*> list;
    for (const auto& [start, container] : containers_)
        list.push_back(container.get());
    return AnswerSearchedPartitionQuery(static_cast<int>(list.size()), out, capacity, [&](int i) {
        const APFSContainer* c = list[static_cast<size_t>(i)];
        auto* record = new CSearchedPartitionInfo(static_cast<unsigned>(sectorSize_));
        record->partitionIndex = static_cast<int16_t>(i);
        record->fileSystemType = 9;
        record->sectorsPerCluster = 1;
        record->runOriginSector = static_cast<long long>(c->StartSector());
        record->startSector = static_cast<long long>(c->StartSector());
        record->SetTotalSectors(c->SizeInSectors());
        return record;
    });
}

}  // namespace apfs
