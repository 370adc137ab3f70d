// The save source, device catalogue and replay runner over the engine's own
// scan controllers, for callers without the interface's operations: the
// scan driver, the tests and the benchmarks.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "RecoveryInterfaces.h"
#include "SaveRestore.h"

class IRecoveryFilter;

namespace SaveRestoreResult {

// The record a save stores for a device: its size, name and file system,
// and the image record of an image device.
DiskVolumeRecord DeviceRecordOf(IStorageDevice* device, int32_t diskIndex, int32_t volumeIndex);

// A finished scan of one controller; the roots are the trees it showed.
class ControllerResultSource : public IScanResultSource {
public:
    ControllerResultSource(IRecoveryController* controller, ScanKindRecord kind,
                           DiskVolumeRecord device, std::vector<IFilesystemNode*> roots);
    ~ControllerResultSource() override;
    ControllerResultSource(const ControllerResultSource&) = delete;
    ControllerResultSource& operator=(const ControllerResultSource&) = delete;

    ScanKindRecord ScanKind() override { return kind_; }
    DiskVolumeRecord DeviceRecord() override { return device_; }
    std::vector<SavedRoot> Roots() override;

private:
    IRecoveryController* controller_;
    ScanKindRecord kind_;
    DiskVolumeRecord device_;
    std::vector<IFilesystemNode*> roots_;
    std::map<int, IDataRecovery*> recoveries_;
};

// A catalogue of one device (not owned), listed as disk 0 when it is a whole
// disk, as volume 0 of disk 0 otherwise. Image records are re-created as
// devices of the catalogue's own.
class SingleDeviceCatalogue : public IResultDeviceCatalogue {
public:
    SingleDeviceCatalogue(IStorageDevice* device, CatalogueEntry entry)
        : device_(device), entry_(std::move(entry)) {}
    std::vector<CatalogueEntry> Entries() override { return {entry_}; }
    IStorageDevice* StorageAt(int32_t diskIndex, int32_t volumeIndex) override;
    IStorageDevice* StorageByDmgInfo(const CDMGDeviceInfoStruct& info,
                                     const std::string& resultPath) override;
    IStorageDevice* StorageByEdiInfo(const CEDIDeviceInfoStruct& info,
                                     const std::string& ediPath) override;

private:
    IStorageDevice* device_;
    CatalogueEntry entry_;
    std::vector<std::unique_ptr<IStorageDevice>> made_;
};

// Replays through a new scan controller of the stored kind, which it keeps
// (with its trees) until it is destroyed or the next replay.
class EngineReplayRunner : public IResultScanRunner {
public:
    // `tree` receives the replayed trees; not owned.
    explicit EngineReplayRunner(IDrirectoryTree* tree, IProgress* progress = nullptr)
        : tree_(tree), progress_(progress) {}
    ~EngineReplayRunner() override;
    EngineReplayRunner(const EngineReplayRunner&) = delete;
    EngineReplayRunner& operator=(const EngineReplayRunner&) = delete;

    void ClearData() override;
    void SetImageResult(int diskImage, int edi) override {
        diskImage_ = diskImage;
        edi_ = edi;
    }
    void Replay(IStorageDevice* device, const ScanKindRecord& kind,
                CRestoreScanSink* sink) override;

    IRecoveryController* Controller() const { return controller_; }
    VKRESULT Result() const { return result_; }
    bool Finished() const { return finished_; }

private:
    // The replay's partition records, kept for the recovery objects the
    // controller makes after the load's sink is gone.
    class KeptPartitions final : public RestoreScanSink {
    public:
        ~KeptPartitions() override { Clear(); }
        void SetDirecotryTreeBuilder(IDirecotryTreeBuilder*, IProgress*, IStorageDevice*) override {
        }
        std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int type) override {
            return records[type];
        }
        void Clear();
        std::map<int, std::vector<CSearchedPartitionInfo*>> records;
    };

    IDrirectoryTree* tree_;
    IProgress* progress_;
    KeptPartitions kept_;
    IRecoveryController* controller_ = nullptr;
    VKRESULT result_ = 0;
    bool finished_ = false;
    int diskImage_ = 0;
    int edi_ = 0;
};

}  // namespace SaveRestoreResult
