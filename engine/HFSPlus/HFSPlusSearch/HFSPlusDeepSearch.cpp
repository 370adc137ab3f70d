#include "HFSPlusSearch/HFSPlusDeepSearch.h"

#include <algorithm>
#include <cstring>

#include "DataRun.h"
#include "FileNode.h"
#include "HFSPlusLib/HFSPlusLayout.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "HFSPlusSearch/HFSPlusFactories.h"
#include "HFSPlusSearch/HFSPlusQuickSearch.h"
#include "IStorageDevice.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "TBitmap.h"
#include "Utility/CatchExeception.h"

namespace hfsplus {

namespace L = layout;

CompleteSearchPatition::~CompleteSearchPatition() {
    // The volume reads through the window: it goes first.
    volume.reset();
    device.reset();
}

// ---------------------------------------------------------------- wrapper builder

int CHFSPlusDirectoryTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type) {
    if (!real_ || !node)
        return 0;
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    if (fileNode)
        fileNode->SetBelongedPartition(static_cast<unsigned short>(partitionIndex_));
    const bool folder = node->IsDirectory() != 0;
    if (bitmap_ && fileNode && !node->IsDeleted() && !folder)
        Mark(node);
    const int taken = real_->AddNode(node, type);
    if (taken)
        ++(folder ? folders_ : files_);
    return taken;
}

void CHFSPlusDirectoryTreeBuilder::Mark(IFileNode* node) {
    auto* fileNode = static_cast<CFileNode*>(node);
    IDataRunList* list = fileNode->GetDataRunList();
    const unsigned unit = bitmap_->GetUnitSize();
    if (!list || unit == 0 || !bitmap_->GetBitmapData())
        return;
    std::vector<DataRun> runs;
    for (const DataRun* run = list->GetFirst(); run; run = list->GetNext())
        runs.push_back(*run);
    for (size_t i = 0; i < runs.size(); ++i) {
        const long long start = runs[i].start;
        long long count = static_cast<uint32_t>(runs[i].length);
        // The last block may hold the start of something else after the
        // file's end: leave it for the signature search.
        if (i + 1 == runs.size() && count > 0)
            --count;
        if (start < 0 || count <= 0)
            continue;
        const long long firstSector =
            start * sectorsPerBlock_ + static_cast<long long>(startSector_);
        const long long sectors = count * sectorsPerBlock_;
        bitmap_->SetBit(firstSector / unit, 1,
                        static_cast<unsigned>(std::min<long long>(sectors / unit, UINT32_MAX)));
    }
}

// ---------------------------------------------------------------- controller

CHFSPlusCompleteFileSystemSearchController::~CHFSPlusCompleteFileSystemSearchController() = default;

void CHFSPlusCompleteFileSystemSearchController::SetDevice(IStorageDevice* device) {
    device_ = device;
    if (!device_)
        return;
    const int s = device_->GetSectorSize();
    sectorSize_ = s >= 512 && s % 512 == 0 ? static_cast<uint32_t>(s) : 512;
    totalSectors_ = std::max(0LL, device_->GetTotalSectors());
}

void CHFSPlusCompleteFileSystemSearchController::PreparetoSearch() {
    records_.clear();
    refused_.clear();
    if (builder_)
        builder_->AddSearcherInfo(SEARCHER_HFSPLUS, L::kRootFolderID);
}

void CHFSPlusCompleteFileSystemSearchController::AnalyzeBlock(long long first, long long count) {
    if (!device_) {
        lastError_ = HFS_ERROR(kHFSNotReady);
        return;
    }
    if (first < 0 || count <= 0 || first >= totalSectors_)
        return;
    count = std::min(count, totalSectors_ - first);
    // The read-ahead cache lends its block; any other device is read in
    // pieces small enough to stay in the processor's cache.
    if (auto* cache = dynamic_cast<IDeviceCache*>(device_)) {
        long long heldFirst = 0, heldCount = 0;
        const uint8_t* held = cache->PeekCurrentBlock(&heldFirst, &heldCount);
        if (held && first >= heldFirst && first + count <= heldFirst + heldCount) {
            ScanBytes(held + static_cast<size_t>(first - heldFirst) * sectorSize_,
                      static_cast<size_t>(count) * sectorSize_,
                      static_cast<uint64_t>(first) * sectorSize_);
            return;
        }
    }
    const long long piece = std::max<long long>(1, kPieceBytes / sectorSize_);
    for (long long at = first; at < first + count; at += piece) {
        const long long n = std::min(piece, first + count - at);
        const size_t bytes = static_cast<size_t>(n) * sectorSize_;
        if (block_.size() < bytes)
            block_.resize(bytes);
        // An unreadable piece is passed over; the scan goes on.
        if (device_->ReadSector(block_.data(), at, n))
            ScanBytes(block_.data(), bytes, static_cast<uint64_t>(at) * sectorSize_);
    }
}

void CHFSPlusCompleteFileSystemSearchController::ScanBytes(const uint8_t* data, size_t bytes,
                                                           uint64_t position) {
    // Every 512 bytes: a 4 KiB sector holds the header 1024 bytes in.
    for (size_t off = 0; off + L::kVolumeHeaderSize <= bytes; off += 512) {
        const uint8_t* p = data + off;
        if (p[0] != 0x48 || (p[1] != 0x2B && p[1] != 0x58) || p[2] != 0)
            continue;
        if (!CHFSPlusVolume::IsValidVolumeHeader(p, L::kVolumeHeaderSize))
            continue;
        FoundVolumeHeader(p, position + off);
    }
}

void CHFSPlusCompleteFileSystemSearchController::FoundVolumeHeader(const uint8_t* bytes,
                                                                   uint64_t position) {
    HFSPlusVolumeHeader h;
    flipVolumeHeader(bytes, L::kVolumeHeaderSize, &h);
    if (ErrorLinesOn())
        std::printf("Find VolumeHeader SectorNumber[%llx],VolumeID[%llx]\n",
                    static_cast<unsigned long long>(position / sectorSize_),
                    static_cast<unsigned long long>(h.VolumeID()));
    const uint64_t size = uint64_t{h.totalBlocks} * h.blockSize;
    // The header 1024 bytes into its volume, or the copy 1024 bytes before
    // the volume's end: each names a start; the one where the volume opens
    // is taken.
    if (position >= L::kVolumeHeaderOffset &&
        TryVolume(position - L::kVolumeHeaderOffset, bytes, position, false))
        return;
    if (position + L::kVolumeHeaderOffset >= size)
        TryVolume(position + L::kVolumeHeaderOffset - size, bytes, position, true);
}

bool CHFSPlusCompleteFileSystemSearchController::TryVolume(uint64_t startByte,
                                                           const uint8_t* header,
                                                           uint64_t headerPosition, bool backup) {
    if (startByte % sectorSize_ != 0)
        return false;
    for (const auto& r : records_)
        if (static_cast<uint64_t>(r->startSector) * sectorSize_ == startByte)
            return false;  // found already
    if (refused_.count(startByte) || records_.size() >= kMaxVolumes)
        return false;
    HFSPlusVolumeHeader h;
    flipVolumeHeader(header, L::kVolumeHeaderSize, &h);
    const uint64_t size = uint64_t{h.totalBlocks} * h.blockSize;
    const uint64_t deviceBytes = static_cast<uint64_t>(totalSectors_) * sectorSize_;
    // A volume that would reach past the device is not one: a header of
    // absurd geometry, or a copy read as the wrong one of the two.
    if (size < 4 * uint64_t{h.blockSize} || size % sectorSize_ != 0 || startByte > deviceBytes ||
        size > deviceBytes - startByte) {
        refused_.insert(startByte);
        return false;
    }
    auto record = std::make_unique<CompleteSearchPatition>();
    record->startSector = static_cast<long long>(startByte / sectorSize_);
    record->sectorCount = static_cast<long long>(size / sectorSize_);
    record->device.reset(CreatePartitionDevice(device_, record->startSector, record->sectorCount));
    if (!record->device) {
        refused_.insert(startByte);
        return false;
    }
    VolumeOptions options;
    options.headerCopy = header;
    auto volume = std::make_unique<CHFSPlusVolume>(record->device.get(), options);
    if (ResultFailed(volume->GetLastError()) || !volume->Header()) {
        refused_.insert(startByte);
        return false;
    }
    record->volume = std::move(volume);
    record->header = *record->volume->Header();
    record->blockSize = record->header.blockSize;
    record->headerSector = static_cast<long long>(headerPosition / sectorSize_);
    record->fromBackupHeader = backup;
    record->index = static_cast<uint32_t>(records_.size());
    records_.push_back(std::move(record));
    SearchVolume(*records_.back());
    return true;
}

void CHFSPlusCompleteFileSystemSearchController::SearchVolume(CompleteSearchPatition& record) {
    if (!builder_)
        return;
    const unsigned perBlock = record.blockSize / sectorSize_;
    // Scanning a live HFS+ volume, the claimed-unit map counts its blocks.
    if (active_ && bitmap_ && !bitmap_->GetBitmapData() && record.startSector == 0 && perBlock > 0)
        bitmap_->CreateBitmap(record.header.totalBlocks, perBlock);
    CHFSPlusDirectoryTreeBuilder wrapper(builder_, perBlock, record.index,
                                         static_cast<unsigned long long>(record.startSector));
    wrapper.SetBitmap(bitmap_);
    CHFSPlusQuickFileSystemSearchProgress progress(progress_, true);
    const VKRESULT walked = QuickSearchVolume(record.volume.get(), &wrapper, &progress);
    if (ResultFailed(walked))
        lastError_ = walked;
    record.filesAdded += wrapper.Files();
    record.foldersAdded += wrapper.Folders();
}

void CHFSPlusCompleteFileSystemSearchController::EndSearch(int build) {
    if (!build || !builder_)
        return;
    builder_->FlashBuild(SEARCHER_HFSPLUS);
    bitmap_ = nullptr;
}

int CHFSPlusCompleteFileSystemSearchController::GetSearchedPartitionInfo(
    CSearchedPartitionInfo** out, int capacity) {
    const int count = static_cast<int>(records_.size());
    if (!out || capacity < count)
        return count;
    int made = 0;
    for (const auto& r : records_) {
        auto* info = new CSearchedPartitionInfo(sectorSize_);
        info->partitionIndex = static_cast<int16_t>(r->index);
        info->runOriginSector = r->startSector;
        info->startSector = r->startSector;
        info->SetTotalSectors(static_cast<unsigned long long>(r->sectorCount));
        info->fileSystemType = FS_HFSPLUS;
        info->sectorsPerCluster = r->blockSize / sectorSize_;
        if (info->sectorsPerCluster == 0) {
            if (ErrorLinesOn())
                std::printf("Warn:SectorsperCluster calc Error!\n");
            info->sectorsPerCluster = 4096 / sectorSize_;
        }
        out[made++] = info;
    }
    return made;
}

}  // namespace hfsplus

ICompleteFileSystemSearchController* CreateHFSPlusSearcher() {
    return new hfsplus::CHFSPlusCompleteFileSystemSearchController();
}
