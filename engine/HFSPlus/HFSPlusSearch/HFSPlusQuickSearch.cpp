#include "HFSPlusQuickSearch.h"

#include <cstring>
#include <unordered_set>
#include <vector>

#include "HFSPlusFactories.h"
#include "HFSPlusLib/HFSPlusFileNode.h"
#include "HFSPlusLib/HFSPlusJournal.h"
#include "HFSPlusLib/HFSPlusLayout.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "IStorageDevice.h"
#include "ReleasePtr.h"
#include "SearchedPartitionInfo.h"

namespace hfsplus {

namespace L = layout;

namespace {
// The sink hears of the count at most this often during a walk.
constexpr int64_t kReportEvery = 256;
}  // namespace

// ---------------------------------------------------------------- progress

CHFSPlusQuickFileSystemSearchProgress::CHFSPlusQuickFileSystemSearchProgress(IProgress* sink,
                                                                             bool silent)
    : sink_(sink), silent_(silent) {
    info_.state = PROGRESS_RUNNING;
}

CHFSPlusQuickFileSystemSearchProgress::~CHFSPlusQuickFileSystemSearchProgress() {
    if (silent_ || !sink_)
        return;
    info_.state = PROGRESS_FINISHED;
    sink_->UpdateProgress(&info_);
}

void CHFSPlusQuickFileSystemSearchProgress::UpdateProgress() {
    ++info_.done;
    if (!silent_ && sink_ && info_.done % kReportEvery == 0)
        sink_->UpdateProgress(&info_);
}

void CHFSPlusQuickFileSystemSearchProgress::SetTotal(long long total) {
    info_.total = total;
}

bool CHFSPlusQuickFileSystemSearchProgress::Continued() {
    return !sink_ || sink_->Continued() != 0;
}

CHFSPlusPrivateData::~CHFSPlusPrivateData() {
    delete volume_;
}

// ---------------------------------------------------------------- volume walk

VKRESULT QuickSearchVolume(CHFSPlusVolume* volume, IDirecotryTreeBuilder* builder,
                           CHFSPlusQuickFileSystemSearchProgress* progress) {
    if (!volume || !volume->Header() || !builder)
        return HFS_ERROR(kHFSNotReady);
    const HFSPlusVolumeHeader& vh = *volume->Header();
    auto& deleted = volume->DeletedCatalog();
    auto setTotal = [&]() {
        if (progress)
            progress->SetTotal(static_cast<long long>(uint64_t{vh.fileCount} + vh.folderCount +
                                                      deleted.size() + 1));
    };
    auto continued = [&]() { return !progress || progress->Continued(); };
    setTotal();

    // Indirect nodes of hard links are held until the walk has seen the
    // links: their data reaches the user through the links.
    const uint32_t privateID = volume->PrivateFolderID();
    std::vector<vk::ReleasePtr<CHFSPlusFileNode>> indirect;
    std::unordered_set<uint32_t> linked;
    auto give = [&](CHFSPlusFileNode* node) {
        if (builder->AddNode(node, SEARCHER_HFSPLUS)) {
            if (progress)
                progress->UpdateProgress();
        } else {
            node->Release();
        }
    };
    auto deliver = [&](vk::ReleasePtr<CHFSPlusFileNode> node) {
        if (node->GetCurrentNodeID() == -1)
            return;
        if (node->IsHardLink())
            linked.insert(node->HardLinkTarget());
        if (privateID != 0 && !node->IsDirectory() && node->GetParentNodeID() == privateID &&
            std::strncmp(node->GetFileName(), "iNode", 5) == 0) {
            indirect.push_back(std::move(node));
            return;
        }
        give(node.release());
    };

    if (CHFSPlusJournal* journal = volume->Journal()) {
        journal->GetDeleteRecord(continued, [&]() { setTotal(); });
    }
    setTotal();
    bool stopped = !continued();
    if (!stopped) {
        for (auto& [key, record] : deleted) {
            if (!continued()) {
                stopped = true;
                break;
            }
            deliver(vk::AdoptReleased(new CHFSPlusFileNode(volume, key, record, 1)));
        }
    }
    // The journal's extents and attributes stay: deleted files still need
    // them when they are read.
    deleted.clear();

    VKRESULT result = VK_OK;
    if (!stopped) {
        result = volume->Traverse(
            L::kCatalogFileID,
            [&](const BTKey& key, const uint8_t* data, size_t size) {
                // Threads (half the records) are not parsed at all.
                if (size < 2 || (data[1] != L::kRecFile && data[1] != L::kRecFolder) ||
                    data[0] != 0)
                    return true;
                HFSPlusCatalogRecord record;
                if (ResultFailed(flipCatalogRecord(data, size, &record)))
                    return true;  // damaged record: skipped, the walk goes on
                if (record.recordType == L::kRecFile || record.recordType == L::kRecFolder)
                    deliver(vk::AdoptReleased(new CHFSPlusFileNode(volume, key, record, 0)));
                return true;
            },
            continued);
    }
    // A target some link reached goes with the list.
    for (vk::ReleasePtr<CHFSPlusFileNode>& node : indirect) {
        if (!linked.count(static_cast<uint32_t>(node->GetCurrentNodeID())))
            give(node.release());
    }
    return result;
}

// ---------------------------------------------------------------- controller

CHFSPlusQuickFileSystemSearchController::~CHFSPlusQuickFileSystemSearchController() = default;

CHFSPlusVolume* CHFSPlusQuickFileSystemSearchController::Volume() const {
    return privateData_ ? privateData_->Volume() : nullptr;
}

VKRESULT CHFSPlusQuickFileSystemSearchController::QuickSearchFiles(IStorageDevice* device,
                                                                   IProgress* sink) {
    device_ = device;
    progress_ = sink;
    CHFSPlusQuickFileSystemSearchProgress progress(sink, false);
    if (!device)
        return HFS_ERROR(kHFSNullArgument);
    if (!builder_)
        return HFS_ERROR(kHFSNotReady);
    auto* volume = new CHFSPlusVolume(device);
    const VKRESULT opened = volume->GetLastError();
    if (ResultFailed(opened)) {
        delete volume;
        return opened;
    }
    privateData_.reset(new CHFSPlusPrivateData(volume));
    blockSize_ = volume->BlockSize();
    builder_->AddSearcherInfo(SEARCHER_HFSPLUS, L::kRootFolderID);
    const VKRESULT walked = QuickSearchVolume(volume, builder_, &progress);
    builder_->FlashBuild(SEARCHER_HFSPLUS);
    // A stop asked for by the user is not a failure.
    if (ResultIs(walked, kModuleHFSPlus, kHFSStopped))
        return VK_OK;
    return walked;
}

int CHFSPlusQuickFileSystemSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out,
                                                                      int capacity) {
    if (!out || capacity <= 0)
        return 1;
    if (!device_ || !privateData_)
        return 0;
    const int sectorSize = device_->GetSectorSize() > 0 ? device_->GetSectorSize() : 512;
    auto* record = new CSearchedPartitionInfo(static_cast<unsigned>(sectorSize));
    record->partitionIndex = 0;
    record->runOriginSector = 0;
    record->startSector = 0;
    record->SetTotalSectors(static_cast<unsigned long long>(device_->GetTotalSectors()));
    record->fileSystemType = FS_HFSPLUS;
    record->sectorsPerCluster = blockSize_ / static_cast<unsigned>(sectorSize);
    record->fileSystemContext = privateData_.get();
    out[0] = record;
    return 1;
}

}  // namespace hfsplus

IQuickFileSystemSearchController* CreateHFSPlusQuickSearcher() {
    return new hfsplus::CHFSPlusQuickFileSystemSearchController();
}
