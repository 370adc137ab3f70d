#include "APFSRecognize.h"

#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "APFSContainer.h"
#include "APFSDeepScan.h"
#include "APFSFactories.h"
#include "APFSLayout.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "ReleasePtr.h"
#include "StorageDevices.h"

namespace apfs {
namespace {

constexpr int kLabelBytes = 32;

// Reads 4096-byte block `block` of the container at startSector.
bool ReadContainerBlock(IStorageDevice* device, unsigned long long startSector, uint64_t block,
                        std::vector<uint8_t>& buffer) {
    const int ss = device != nullptr ? device->GetSectorSize() : 0;
    if (ss <= 0)
        return false;
    const unsigned long long perBlock =
        kBlockSize / static_cast<unsigned>(ss) ? kBlockSize / static_cast<unsigned>(ss) : 1;
    unsigned long long sector = 0;
    if (__builtin_mul_overflow(block, perBlock, &sector) ||
        __builtin_add_overflow(sector, startSector, &sector) ||
        sector > static_cast<unsigned long long>(INT64_MAX))
        return false;
    buffer.assign(std::max<size_t>(kBlockSize, static_cast<size_t>(ss) * perBlock), 0);
    return device->ReadSector(buffer.data(), static_cast<long long>(sector),
                              static_cast<long long>(perBlock)) != 0;
}

bool IsContainerSuperblock(const std::vector<uint8_t>& block) {
    vk::ByteReader r(block.data(), block.size());
    const uint16_t type = r.LE16(obj::kType);
    return type >= 1 && type < obj::kTypeLimit && r.LE16(obj::kSubtype) < obj::kTypeLimit &&
           r.LE32(nx::kMagic) == nx::kMagicValue && r.LE32(nx::kBlockSize) == kBlockSize;
}

}  // namespace

APFSRecognize::APFSRecognize(IStorageDevice* device, unsigned long long startSector)
    : device_(device), startSector_(startSector) {
    const long long total = device != nullptr ? device->GetTotalSectors() : 0;
    totalSectors_ = total - static_cast<long long>(startSector);
}

bool APFSRecognize::ReadBlock(uint64_t block, std::vector<uint8_t>& buffer) {
    return ReadContainerBlock(device_, startSector_, block, buffer);
}

bool APFSRecognize::ReadVolumeName(uint64_t objectMapBlock, char* label, int size,
                                   std::vector<uint8_t>& buffer) {
    if (!ReadBlock(objectMapBlock, buffer))
        return false;
    if (!ReadBlock(vk::ByteReader(buffer.data(), buffer.size()).LE64(omap::kTreeRoot), buffer))
        return false;
    vk::ByteReader root(buffer.data(), buffer.size());
    if (root.LE16(obj::kSubtype) != obj::kSubtypeObjectMap)
        return false;
    const uint16_t v = root.LE16(btree::kToc + 2);
    if (v == 0 || v >= kBlockSize)
        return false;
    // The physical address of the first value of a root leaf.
    const uint64_t volume = root.LE64(kBlockSize - btree::kRootTrailer + omap::kValueAddress - v);
    if (!ReadBlock(volume, buffer))
        return false;
    if (vk::ByteReader(buffer.data(), buffer.size()).LE32(apsb::kMagic) != apsb::kMagicValue)
        return false;
    const int room = std::min(kLabelBytes, size - 1);
    int n = 0;
    while (n < room && buffer[apsb::kName + static_cast<size_t>(n)] != 0) {
        label[n] = static_cast<char>(buffer[apsb::kName + static_cast<size_t>(n)]);
        ++n;
    }
    std::memset(label + n, 0, static_cast<size_t>(size - n));
    return n > 0;
}

int APFSRecognize::GetLabel(char* label, int size) {
    if (label == nullptr || size <= 0)
        return 0;
    if (device_ == nullptr || device_->GetSectorSize() <= 0)
        return static_cast<int>(strnlen(label, static_cast<size_t>(size)));
    std::vector<uint8_t> buffer;
    if (!ReadBlock(0, buffer) || !PassesObjectHeader(buffer.data(), buffer.size()))
        return static_cast<int>(strnlen(label, static_cast<size_t>(size)));
    std::set<uint64_t> seen;
    for (int step = 0; step < 32 && label[0] == 0; ++step) {
        vk::ByteReader sb(buffer.data(), buffer.size());
        const uint64_t next = sb.LE32(nx::kNextSuperblock);
        const uint64_t map = sb.LE64(nx::kObjectMap);
        std::vector<uint8_t> scratch;
        if (ReadVolumeName(map, label, size, scratch))
            break;
        if (!seen.insert(next).second)
            break;
        if (!ReadBlock(next, buffer))
            break;
    }
    return static_cast<int>(strnlen(label, static_cast<size_t>(size)));
}

std::vector<VolumeEntry> ListContainerVolumes(IStorageDevice* device,
                                              unsigned long long startSector) {
    std::vector<VolumeEntry> out;
    std::vector<uint8_t> block;
    if (!ReadContainerBlock(device, startSector, 0, block) || !IsContainerSuperblock(block))
        return out;
    vk::ByteReader sb(block.data(), block.size());
    const uint64_t count = sb.LE64(nx::kBlockCount);
    const uint64_t map = sb.LE64(nx::kObjectMap);
    if (map == 0 || map >= count || !ReadContainerBlock(device, startSector, map, block))
        return out;
    const uint64_t rootBlock = vk::ByteReader(block.data(), block.size()).LE64(omap::kTreeRoot);
    if (rootBlock == 0 || rootBlock >= count ||
        !ReadContainerBlock(device, startSector, rootBlock, block))
        return out;
    const std::vector<uint8_t> root = block;
    vk::ByteReader node(root.data(), kBlockSize);
    if (node.LE16(obj::kSubtype) != obj::kSubtypeObjectMap ||
        node.LE16(btree::kFlags) != (btree::kFlagFixed | btree::kFlagLeaf | btree::kFlagRoot))
        return out;
    const uint32_t keys = node.LE32(btree::kKeyCount);
    const size_t tocOffset = node.LE16(btree::kTocLength - 2);
    for (uint32_t i = 0; i < keys && i < btree::kMaxEntries; ++i) {
        const size_t entry = btree::kToc + tocOffset + btree::kFixedEntrySize * i;
        if (!node.Has(entry, btree::kFixedEntrySize))
            break;
        const size_t v = node.LE16(entry + 2);
        if (v == 0 || v > kBlockSize - btree::kRootTrailer)
            continue;
        const uint64_t volume =
            node.LE64(kBlockSize - btree::kRootTrailer - v + omap::kValueAddress);
        if (volume == 0 || volume >= count ||
            !ReadContainerBlock(device, startSector, volume, block))
            continue;
        if (vk::ByteReader(block.data(), block.size()).LE32(apsb::kMagic) != apsb::kMagicValue)
            continue;
        size_t n = 0;
        while (n < apsb::kNameSize && block[apsb::kName + n] != 0)
            ++n;
        out.push_back(
            {std::string(reinterpret_cast<const char*>(block.data() + apsb::kName), n), volume});
    }
    return out;
}

namespace {

// Reads each store once per listing (one listing serves one enumeration).
class StoreListing final : public velmora::platform::IContainerListing {
public:
    explicit StoreListing(std::string devFolder) : devFolder_(std::move(devFolder)) {}

    std::optional<velmora::platform::ContainerVolume> Find(
        std::string_view physicalStore) const override {
        // A store name is a single path component.
        if (physicalStore.empty() || physicalStore.find('/') != std::string_view::npos ||
            physicalStore == "." || physicalStore == "..")
            return std::nullopt;
        std::lock_guard<std::mutex> hold(mutex_);
        auto it = cache_.find(std::string(physicalStore));
        if (it == cache_.end())
            it = cache_.emplace(std::string(physicalStore), Read(physicalStore)).first;
        return it->second;
    }

private:
    std::optional<velmora::platform::ContainerVolume> Read(std::string_view store) const {
        const std::string path = devFolder_ + "/" + std::string(store);
        // Opened read-only like every device the engine reads.
        std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(path.c_str()));
        if (!device || device->Open(nullptr) == 0)
            return std::nullopt;
        std::vector<VolumeEntry> volumes = ListContainerVolumes(device.get(), 0);
        device->Close();
        if (volumes.empty())
            return std::nullopt;
        velmora::platform::ContainerVolume answer;
        answer.name = volumes.front().name;
        // No node of its own stands for an APFS volume here: it is read
        // through its physical store.
        answer.device = std::string(store);
        for (const VolumeEntry& v : volumes)
            answer.volumes.push_back(v.name);
        return answer;
    }

    std::string devFolder_;
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::optional<velmora::platform::ContainerVolume>> cache_;
};

}  // namespace

std::shared_ptr<const velmora::platform::IContainerListing> MakeStoreListing(
    const std::string& devFolder) {
    return std::make_shared<StoreListing>(devFolder);
}

}  // namespace apfs

IVolumeAnalyze* CreateAPFSVolumeAnalyze(IStorageDevice* device, unsigned long long startSector) {
    if (device == nullptr || device->GetSectorSize() <= 0 || device->GetSectorSize() > 32768)
        return nullptr;
    std::vector<uint8_t> sector(std::max<size_t>(static_cast<size_t>(device->GetSectorSize()), 64),
                                0);
    if (startSector > static_cast<unsigned long long>(INT64_MAX) ||
        !device->ReadSector(sector.data(), static_cast<long long>(startSector), 1))
        return nullptr;
    if (!apfs::IsContainerSuperblock(sector))
        return nullptr;
    return new apfs::APFSRecognize(device, startSector);
}

IQuickFileSystemSearchController* CreateAPFSQuickSearcher() {
    return nullptr;
}

ICompleteFileSystemSearchController* CreateAPFSDeepSearcher() {
    return new apfs::APFSDeepScan();
}
