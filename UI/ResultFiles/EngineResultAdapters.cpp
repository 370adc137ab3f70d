#include "EngineResultAdapters.h"

#include <cstring>

#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "RecoveryControllers.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"

namespace SaveRestoreResult {

DiskVolumeRecord DeviceRecordOf(IStorageDevice* device, int32_t diskIndex, int32_t volumeIndex) {
    DiskVolumeRecord r;
    r.diskIndex = diskIndex;
    r.volumeIndex = volumeIndex;
    if (device == nullptr)
        return r;
    r.size = device->GetTotalSectors() * device->GetSectorSize();
    r.name = DeviceDescription(device);
    IStorageDeviceData* data = device->GetPrivateData();
    if (auto* volume = dynamic_cast<IVolumeDeviceData*>(data);
        volume != nullptr && volume->GetVolumeInfo() != nullptr)
        r.fileSystem = volume->GetVolumeInfo()->fileSystemType;
    if (auto* dmg = dynamic_cast<IDmgDeviceData*>(data);
        dmg != nullptr && dmg->GetDMGInfo() != nullptr) {
        r.diskImage = 1;
        r.dmgInfo = *dmg->GetDMGInfo();
    }
    if (auto* edi = dynamic_cast<IEDIDeviceData*>(data);
        edi != nullptr && edi->GetEDIInfo() != nullptr) {
        r.edi = 1;
        r.ediInfo = *edi->GetEDIInfo();
    }
    return r;
}

// ---------------------------------------------------------------------------

ControllerResultSource::ControllerResultSource(IRecoveryController* controller, ScanKindRecord kind,
                                               DiskVolumeRecord device,
                                               std::vector<IFilesystemNode*> roots)
    : controller_(controller), kind_(kind), device_(std::move(device)), roots_(std::move(roots)) {}

ControllerResultSource::~ControllerResultSource() {
    for (auto& [type, recovery] : recoveries_) {
        if (recovery != nullptr)
            recovery->Release();
    }
}

std::vector<SavedRoot> ControllerResultSource::Roots() {
    std::vector<SavedRoot> out;
    for (IFilesystemNode* root : roots_) {
        SavedRoot saved;
        saved.root = root;
        // Both signature-search trees are served by the one signature searcher.
        int type = root->GetSearcheType();
        if (type == SEARCHER_RAW_LABEL)
            type = SEARCHER_RAW;
        auto it = recoveries_.find(type);
        if (it == recoveries_.end() && controller_ != nullptr) {
            it = recoveries_
                     .emplace(type,
                              controller_->GetDataRecovery(static_cast<_tagSearcherType>(type)))
                     .first;
        }
        if (it != recoveries_.end() && it->second != nullptr) {
            if (const auto* records = GetDataRecoveryPartitions(it->second))
                saved.partitions = *records;
        }
        out.push_back(std::move(saved));
    }
    return out;
}

// ---------------------------------------------------------------------------

IStorageDevice* SingleDeviceCatalogue::StorageAt(int32_t diskIndex, int32_t volumeIndex) {
    return diskIndex == entry_.diskIndex && volumeIndex == entry_.volumeIndex ? device_ : nullptr;
}

IStorageDevice* SingleDeviceCatalogue::StorageByDmgInfo(const CDMGDeviceInfoStruct& info,
                                                        const std::string&) {
    CDMGDeviceInfoStruct copy = info;
    std::unique_ptr<IStorageDevice> device(
        CreateDmgDeviceByDmgInfo(&copy, static_cast<int>(sizeof copy), copy.filePath));
    if (!device || device->Open(nullptr) == 0)
        return nullptr;
    made_.push_back(std::move(device));
    return made_.back().get();
}

IStorageDevice* SingleDeviceCatalogue::StorageByEdiInfo(const CEDIDeviceInfoStruct& info,
                                                        const std::string& ediPath) {
    CEDIDeviceInfoStruct copy = info;
    std::unique_ptr<IStorageDevice> device(
        CreateEdiDeviceByEdiInfo(&copy, static_cast<int>(sizeof copy), ediPath.c_str()));
    if (!device || device->Open(nullptr) == 0)
        return nullptr;
    made_.push_back(std::move(device));
    return made_.back().get();
}

// ---------------------------------------------------------------------------

namespace {

class PlainProgress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

}  // namespace

EngineReplayRunner::~EngineReplayRunner() {
    ClearData();
}

void EngineReplayRunner::ClearData() {
    if (controller_ != nullptr)
        controller_->Release();
    controller_ = nullptr;
    kept_.Clear();
    finished_ = false;
    result_ = 0;
}

void EngineReplayRunner::Replay(IStorageDevice* device, const ScanKindRecord& kind,
                                CRestoreScanSink* sink) {
    ClearData();
    const _RECOVERY_CONTROLLER_TYPE type = kind.controllerType == 0 ? RECOVERY_CONTROLLER_DELETED
                                           : kind.controllerType == 1
                                               ? RECOVERY_CONTROLLER_COMPLETE
                                               : RECOVERY_CONTROLLER_PARTITION;
    controller_ = CreateRecoveryController(type);
    if (controller_ == nullptr)
        return;
    // The filter is the process's one, set up by the caller.
    controller_->Initialize(CreateFilter());
    SetRecoveryRestoreSink(controller_, sink);
    PlainProgress plain;
    result_ =
        controller_->StartDataRecovery(device, progress_ != nullptr ? progress_ : &plain, tree_);
    // The load's sink ends with the load; recoveries made later read copies.
    for (const auto& [searcher, records] : sink->Partitions()) {
        for (const CSearchedPartitionInfo* r : records)
            kept_.records[searcher].push_back(new CSearchedPartitionInfo(*r));
    }
    SetRecoveryRestoreSink(controller_, &kept_);
    finished_ = true;
}

void EngineReplayRunner::KeptPartitions::Clear() {
    for (auto& [type, list] : records) {
        for (CSearchedPartitionInfo* r : list)
            delete r;
    }
    records.clear();
}

}  // namespace SaveRestoreResult
