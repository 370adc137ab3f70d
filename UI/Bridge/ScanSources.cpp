#include "ScanSources.h"

#include <map>

#include "EngineResultAdapters.h"
#include "FileNode.h"
#include "RecoveryControllers.h"
#include "SearchedPartitionInfo.h"
#include "VKTimeMgr.h"
#include "VKTypeMgr.h"
#include "VKUIScan.h"
#include "platform/MountInfo.h"

namespace velmora::bridge {

// --- The result trees ---------------------------------------------------

std::vector<IFileNode*> ScanTreeSource::GetFileSystemNode() {
    return scan_.GetFileSystemNode();
}

std::vector<IFileNode*> ScanTreeSource::VKGetNewPathNode() {
    return scan_.VKGetNewPathNode();
}

std::vector<IFileNode*> ScanTreeSource::VKGetAllPathNode() {
    return scan_.VKGetAllPathNode();
}

int ScanTreeSource::FindRemoveData(IFileNode* node) {
    return scan_.FindRemoveData(node);
}

void ScanTreeSource::SetOpTreeFinished(int finished) {
    scan_.SetOpTreeFinished(finished);
}

int ScanTreeSource::GetScanType() {
    return scan_.GetScanType();
}

void ScanTreeSource::DoSearch(std::vector<IFileNode*>& hits) {
    scan_.DoSearch(hits, &search_);
    searchTreesFiled_ = 0;
}

// A search for everything keeps a million hits: they go once the type tree
// and both date trees have taken them.
void ScanTreeSource::SearchTreeFiled(int kind) {
    searchTreesFiled_ |= 1 << kind;
    constexpr int kAll =
        (1 << OP_TREE_FILE_TYPE) | (1 << OP_TREE_CREATION_DATE) | (1 << OP_TREE_MODIFICATION_DATE);
    if ((searchTreesFiled_ & kAll) == kAll)
        search_ = VKSearchResult{};
}

int ScanTreeSource::IsSearching() {
    return scan_.IsSearching();
}

void ScanTreeSource::SetSearching(int searching) {
    scan_.SetSearching(searching);
}

void ScanTreeSource::SetSearchKey(const std::string& key) {
    scan_.SetSearchKey(key.c_str());
}

std::string ScanTreeSource::GetSearchKey() {
    return scan_.SearchKeyText();
}

void ScanTreeSource::SetNeedUIUpdate(int need) {
    scan_.SetNeedUIUpdate(need);
}

TypeIndexMap ScanTreeSource::GetTypeMap() {
    return scan_.GetTypeMap();
}

DateIndexMap ScanTreeSource::GetCreateTimeMap() {
    return scan_.GetCreateTimeMap();
}

DateIndexMap ScanTreeSource::GetModifyTimeMap() {
    return scan_.GetModifyTimeMap();
}

void ScanTreeSource::UnselectAllNodes() {
    scan_.UnselectAllNodes();
}

std::vector<OpNodePtr> ScanTreeSource::TypeRootNodes() {
    return types_.getRootNode();
}

void ScanTreeSource::RefreshTypeTree() {
    types_.refreshTypeTree();
}

void ScanTreeSource::RefreshTypeTreeAfterSearch() {
    types_.refreshTypeTreeAfterSearch(search_);
    SearchTreeFiled(OP_TREE_FILE_TYPE);
}

void ScanTreeSource::TypeSetSearch(int searching) {
    types_.setSearch(searching != 0);
}

void ScanTreeSource::TypeSetNeedRefreshTree() {
    types_.VKSetNeedRefreshTree();
}

int ScanTreeSource::TypeIsOtherNode(const OpNodeData* node) {
    return types_.isOtherNode(node) ? 1 : 0;
}

void ScanTreeSource::TypeSetNodeState(OpNodeData* node) {
    types_.setNodeState(node);
}

void ScanTreeSource::RefreshTypeTreeState() {
    types_.refreshTypeTreeState();
}

void ScanTreeSource::RefreshTimeTree(OpNodeData* root, int kind,
                                     const std::function<void(IFileNode*, OpNodeData*)>& file) {
    times_.takeNewFiles(kind, [&](IFileNode* node) { file(node, root); });
}

void ScanTreeSource::RefreshTimeTreeAfterSearch(
    OpNodeData* root, int kind, const std::function<void(IFileNode*, OpNodeData*)>& file) {
    times_.takeSearchHits(kind, search_, [&](IFileNode* node) { file(node, root); });
    SearchTreeFiled(kind);
}

void ScanTreeSource::TimeSetSearch(int searching) {
    times_.setSearch(searching != 0);
}

void ScanTreeSource::TimeSetNeedRefreshTree() {
    times_.VKSetNeedRefreshTree();
}

int ScanTreeSource::TimeGetNeedRefreshTree() {
    return times_.VKGetNeedRefreshTree();
}

void ScanTreeSource::TimeResetNeedRefreshTree() {
    times_.VKResetNeedRefreshTree();
}

// --- The recovery -------------------------------------------------------

namespace {

// A lease of the storage a scan or load read, by its place in the catalogue.
std::shared_ptr<void> LeaseOf(VKUIDeviceData& catalogue, IStorageDevice* storage) {
    if (storage == nullptr)
        return nullptr;
    int disk = -1, volume = -1;
    if (catalogue.GetDiskVolumeIndexByStorage(storage, disk, volume) == 0 || disk < 0)
        return nullptr;
    auto lease = std::make_shared<VKUIDeviceData::DeviceLease>(catalogue.LeaseDevice(disk, volume));
    return *lease ? lease : nullptr;
}

}  // namespace

VKUIDeviceData& ScanRecoverySource::Catalogue() {
    return catalogue_ != nullptr ? *catalogue_ : VKUIDeviceData::instance();
}

IRecoveryController* ScanRecoverySource::GetRecoveryController() {
    return scan_.GetRecoveryController();
}

int ScanRecoverySource::IsDeepScan() {
    return scan_.IsDeepScan();
}

std::map<int, std::vector<IFileNode*>> ScanRecoverySource::GetTypeMap() {
    std::map<int, std::vector<IFileNode*>> out;
    for (auto& [category, nodes] : scan_.GetTypeMap())
        out[static_cast<int>(category)] = std::move(nodes);
    return out;
}

IDataRecovery* ScanRecoverySource::GetFileNodeDataRecover(IFileNode* node) {
    return scan_.GetFileNodeDataRecover(node);
}

int ScanRecoverySource::GetCurrentScanRecoveryCnt() {
    return scan_.GetCurrentScanRecoveryCnt();
}

void ScanRecoverySource::SetCurrentScanRecoveryCnt(int count) {
    scan_.SetCurrentScanRecoveryCnt(count);
}

// The device numbers of the scanned volumes as the kernel gives them to
// files on them: the block device's own, and that of a FUSE mount (exFAT,
// NTFS through ntfs-3g) whose source is the volume's node.
std::vector<dev_t> ScanRecoverySource::ScannedDeviceNumbers() {
    std::vector<dev_t> numbers;
    IStorageDevice* storage = scan_.GetSavedStorage();
    if (storage == nullptr)
        return numbers;
    VKUIDeviceData& catalogue = Catalogue();
    std::vector<IStorageDevice*> volumes;
    if (catalogue.IsDiskStorage(storage) != 0)
        catalogue.GetDiskVolumeStorage(storage, volumes);
    else
        volumes.push_back(storage);
    const platform::MountTable mounts;
    for (IStorageDevice* volume : volumes) {
        CCollectedVolumeDeviceInfoStruct* info = catalogue.GetVolumeInfo(volume);
        if (info == nullptr)
            continue;
        if (info->deviceId != 0)
            numbers.push_back(static_cast<dev_t>(static_cast<uint32_t>(info->deviceId)));
        if (info->bsdName[0] != '\0') {
            const std::string node = std::string("/dev/") + info->bsdName;
            if (auto mount = mounts.FindBySource(node))
                numbers.push_back(mount->deviceId);
        }
    }
    return numbers;
}

void ScanRecoverySource::ReleaseDataRecovery() {
    scan_.ReleaseDataRecovery();
}

std::shared_ptr<void> ScanRecoverySource::HoldScannedDevice() {
    return LeaseOf(Catalogue(), scan_.GetSavedStorage());
}

// --- Saving and loading -------------------------------------------------

// The finished scan as a save writes it: each root with the found
// partitions of the controller that showed it.
class ScanSaveLoadSource::Result final : public SaveRestoreResult::IScanResultSource {
public:
    Result(VKUIScan& scan, ScanSaveLoadSource& owner) : scan_(scan), owner_(owner) {}
    ~Result() override { Release(); }

    SaveRestoreResult::ScanKindRecord ScanKind() override {
        SaveRestoreResult::ScanKindRecord kind;
        kind.controllerType = scan_.GetScanControllerType(scan_.GetSavedStorage());
        kind.deep = scan_.IsDeepScan();
        return kind;
    }
    SaveRestoreResult::DiskVolumeRecord DeviceRecord() override {
        IStorageDevice* storage = scan_.GetSavedStorage();
        int disk = -1, volume = -1;
        owner_.CatalogueRef().GetDiskVolumeIndexByStorage(storage, disk, volume);
        return SaveRestoreResult::DeviceRecordOf(storage, disk, volume);
    }
    // The browser and the picture loaders read the same nodes meanwhile.
    std::mutex* NodeLock() override { return scan_.GetTreeLock(); }
    std::vector<SaveRestoreResult::SavedRoot> Roots() override {
        Release();
        std::vector<SaveRestoreResult::SavedRoot> out;
        for (IFileNode* node : scan_.GetFileSystemNode()) {
            auto* root = dynamic_cast<IFilesystemNode*>(node);
            if (root == nullptr)
                continue;
            SaveRestoreResult::SavedRoot saved;
            saved.root = root;
            int type = root->GetSearcheType();
            // Both signature-search trees are served by the one searcher.
            if (type == SEARCHER_RAW_LABEL)
                type = SEARCHER_RAW;
            IRecoveryController* controller = scan_.GetRootController(root);
            if (controller == nullptr)
                controller = scan_.GetRecoveryController();
            IDataRecovery*& recovery = recoveries_[{controller, type}];
            if (recovery == nullptr && controller != nullptr)
                recovery = controller->GetDataRecovery(static_cast<_tagSearcherType>(type));
            if (recovery != nullptr) {
                if (const auto* records = GetDataRecoveryPartitions(recovery))
                    saved.partitions = *records;
            }
            out.push_back(std::move(saved));
        }
        return out;
    }

private:
    void Release() {
        for (auto& [key, recovery] : recoveries_) {
            if (recovery != nullptr)
                recovery->Release();
        }
        recoveries_.clear();
    }
    VKUIScan& scan_;
    ScanSaveLoadSource& owner_;
    std::map<std::pair<IRecoveryController*, int>, IDataRecovery*> recoveries_;
};

// The catalogue's disks and volumes, and images made again from their
// records.
class ScanSaveLoadSource::Devices final : public SaveRestoreResult::IResultDeviceCatalogue {
public:
    explicit Devices(ScanSaveLoadSource& owner) : owner_(owner) {}

    std::vector<SaveRestoreResult::CatalogueEntry> Entries() override {
        VKUIDeviceData& catalogue = owner_.CatalogueRef();
        if (catalogue.GetInitState() == 0)
            catalogue.InitDeviceInfo();
        std::vector<SaveRestoreResult::CatalogueEntry> entries;
        for (int disk = 0;; ++disk) {
            // Only looked at under a lease: the enumerator's devices are
            // closed without one.
            VKUIDeviceData::DeviceLease lease = catalogue.LeaseDevice(disk, -1);
            if (!lease)
                break;
            entries.push_back(Entry(lease.get(), disk, -1));
            std::vector<IStorageDevice*> volumes;
            catalogue.GetDiskVolumeStorage(lease.get(), volumes);
            for (IStorageDevice* volume : volumes) {
                entries.push_back(
                    Entry(volume, disk, catalogue.GetVolumeIndexByStorage(lease.get(), volume)));
            }
        }
        return entries;
    }
    // The replay leases the device it reads (a lease taken here would be
    // held for ever by a load that fails before its replay).
    IStorageDevice* StorageAt(int32_t diskIndex, int32_t volumeIndex) override {
        return owner_.CatalogueRef().GetStorageByDiskVolumeIndex(diskIndex, volumeIndex);
    }
    IStorageDevice* StorageByDmgInfo(const CDMGDeviceInfoStruct& info,
                                     const std::string& resultPath) override {
        (void)resultPath;
        return owner_.CatalogueRef().GetStorageByDmgInfo(&info, static_cast<int>(sizeof info),
                                                         info.filePath);
    }
    IStorageDevice* StorageByEdiInfo(const CEDIDeviceInfoStruct& info,
                                     const std::string& ediPath) override {
        return owner_.CatalogueRef().GetStorageByEdiInfo(&info, static_cast<int>(sizeof info),
                                                         ediPath.c_str());
    }

private:
    static SaveRestoreResult::CatalogueEntry Entry(IStorageDevice* device, int disk, int volume) {
        const SaveRestoreResult::DiskVolumeRecord r =
            SaveRestoreResult::DeviceRecordOf(device, disk, volume);
        SaveRestoreResult::CatalogueEntry e;
        e.diskIndex = disk;
        e.volumeIndex = volume;
        e.name = r.name;
        e.fileSystem = r.fileSystem;
        e.size = r.size;
        return e;
    }
    ScanSaveLoadSource& owner_;
};

// A load replays through the scan operation itself, so that the windows
// see it as a scan; the replay's partition records are kept for the
// recovery objects its controllers make after the load has ended.
class ScanSaveLoadSource::Replayer final : public SaveRestoreResult::IResultScanRunner {
public:
    Replayer(VKUIScan& scan, ScanSaveLoadSource& owner) : scan_(scan), owner_(owner) {}
    ~Replayer() override { kept_.Clear(); }

    void ClearData() override {
        owner_.ClearData();
        kept_.Clear();
    }
    void SetImageResult(int diskImage, int edi) override {
        scan_.SetDmgRsf(diskImage);
        scan_.SetEdiRsf(edi);
    }
    void Replay(IStorageDevice* device, const SaveRestoreResult::ScanKindRecord& kind,
                SaveRestoreResult::CRestoreScanSink* sink) override {
        // The catalogue's disks are open only under a lease.
        const std::shared_ptr<void> lease = LeaseOf(owner_.CatalogueRef(), device);
        scan_.SetDeepScan(kind.controllerType != 0 || kind.deep != 0 ? 1 : 0);
        scan_.SetStatus(VK_OP_RUNNING);
        scan_.DoScan(device, sink);
        scan_.ReCalTotalSize();
        for (const auto& [searcher, records] : sink->Partitions()) {
            for (const CSearchedPartitionInfo* r : records)
                kept_.records[searcher].push_back(new CSearchedPartitionInfo(*r));
        }
        for (IRecoveryController* controller : scan_.GetRecoveryControllers())
            SetRecoveryRestoreSink(controller, &kept_);
    }

private:
    class KeptPartitions final : public RestoreScanSink {
    public:
        ~KeptPartitions() override { Clear(); }
        void SetDirecotryTreeBuilder(IDirecotryTreeBuilder*, IProgress*, IStorageDevice*) override {
        }
        std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int type) override {
            return records[type];
        }
        void Clear() {
            for (auto& [type, list] : records) {
                for (CSearchedPartitionInfo* r : list)
                    delete r;
            }
            records.clear();
        }
        std::map<int, std::vector<CSearchedPartitionInfo*>> records;
    };

    VKUIScan& scan_;
    ScanSaveLoadSource& owner_;
    KeptPartitions kept_;
};

ScanSaveLoadSource::ScanSaveLoadSource(VKUIScan& scan, VKUIDeviceData* catalogue)
    : scan_(scan),
      catalogue_(catalogue),
      result_(std::make_unique<Result>(scan, *this)),
      devices_(std::make_unique<Devices>(*this)),
      runner_(std::make_unique<Replayer>(scan, *this)) {}

ScanSaveLoadSource::~ScanSaveLoadSource() = default;

VKUIDeviceData& ScanSaveLoadSource::CatalogueRef() {
    return catalogue_ != nullptr ? *catalogue_ : VKUIDeviceData::instance();
}

VKUIOperation& ScanSaveLoadSource::ScanOperation() {
    return scan_;
}

SaveRestoreResult::IScanResultSource* ScanSaveLoadSource::ResultSource() {
    return result_.get();
}

SaveRestoreResult::IResultDeviceCatalogue* ScanSaveLoadSource::Catalogue() {
    return devices_.get();
}

// The nodes of the last result go with it: the trees and indexes built on
// them first.
void ScanSaveLoadSource::ClearData() {
    {
        auto hold = VKUITreeData::instance().Lock();
        VKTypeMgr::share().clear();
        VKTimeMgr::share().clear();
    }
    VKUITreeData::instance().VKResetTreeNodeData();
    scan_.VKResetFileNode();
    scan_.ClearData();
}

SaveRestoreResult::IResultScanRunner* ScanSaveLoadSource::Runner() {
    return runner_.get();
}

std::string ScanSaveLoadSource::SavedStorageName() {
    IStorageDevice* storage = scan_.GetSavedStorage();
    if (storage == nullptr)
        return {};
    int disk = -1, volume = -1;
    CatalogueRef().GetDiskVolumeIndexByStorage(storage, disk, volume);
    return SaveRestoreResult::DeviceRecordOf(storage, disk, volume).name;
}

// --- Installing ---------------------------------------------------------

namespace {

struct Installed {
    std::mutex mutex;
    bool done = false;
    VKUIDeviceData* catalogue = nullptr;
    std::unique_ptr<ScanRecoverySource> recovery;
    std::unique_ptr<ScanSaveLoadSource> saveLoad;
};

Installed& Program() {
    static auto* installed = new Installed;
    return *installed;
}

}  // namespace

void InstallScanSources(VKUIDeviceData* catalogue) {
    Installed& program = Program();
    std::lock_guard<std::mutex> hold(program.mutex);
    if (program.done && program.catalogue == catalogue)
        return;
    VKUIScan& scan = VKUIScan::instance();
    VKUITreeData::InstallSource(
        std::make_shared<ScanTreeSource>(scan, VKTypeMgr::share(), VKTimeMgr::share()));
    // The old objects go only after nothing points at them any more.
    auto recovery = std::make_unique<ScanRecoverySource>(scan, catalogue);
    auto saveLoad = std::make_unique<ScanSaveLoadSource>(scan, catalogue);
    VKUIRecovery::SetScanSource(recovery.get());
    SetSaveLoadScanSource(saveLoad.get());
    std::swap(program.recovery, recovery);
    std::swap(program.saveLoad, saveLoad);
    program.catalogue = catalogue;
    program.done = true;
}

void UninstallScanSources() {
    Installed& program = Program();
    std::lock_guard<std::mutex> hold(program.mutex);
    VKUITreeData::InstallSource(nullptr);
    VKUIRecovery::SetScanSource(nullptr);
    SetSaveLoadScanSource(nullptr);
    program.recovery.reset();
    program.saveLoad.reset();
    program.catalogue = nullptr;
    program.done = false;
}

}  // namespace velmora::bridge
