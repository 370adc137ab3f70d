#include "RecoveryController.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "ReleasePtr.h"
#include "RestoreScanSink.h"
#include "SearcherRow.h"
#include "SectorSize.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"
#include "TBitmap.h"
#include "Utility/CatchExeception.h"

namespace {

constexpr int kDeepBlockBytes = 0x400000;
constexpr int kFallbackBlockSectors = 8192;

// Every record is cleared whole before it is filled: receivers copy it,
// reserved bytes included.
void Report(IProgress* progress, int32_t state, int64_t total, int64_t done) {
    _PROGRESS_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.state = state;
    info.total = total;
    info.done = done;
    progress->UpdateProgress(&info);
}

CCollectedVolumeDeviceInfoStruct* VolumeRecordOf(IStorageDevice* device) {
    auto* data = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData());
    return data != nullptr ? data->GetVolumeInfo() : nullptr;
}

// A new recovery object initialised from the sink's stored records for the
// type, or from the searcher; null when it cannot be made or refuses.
IDataRecovery* MakeDataRecovery(RestoreScanSink* sink, _tagSearcherType type,
                                IFileSystemSearchController* searcher, IStorageDevice* device) {
    if (device == nullptr || (sink == nullptr && searcher == nullptr))
        return nullptr;
    vk::ReleasePtr<IDataRecovery> recovery(CreateDataRecoveryObj());
    if (recovery == nullptr)
        return nullptr;
    VKRESULT result;
    if (sink != nullptr) {
        // Replayed records are taken as stored, in their order.
        result = InitializeDataRecoveryFromRecords(recovery.get(), sink->GetSearchedPartition(type),
                                                   device);
    } else {
        result = recovery->Initialize(searcher, device);
    }
    return ResultFailed(result) ? nullptr : recovery.release();
}

// Passes a quick search's reports on and notes whether the finished one
// went by.
class FinishWatch final : public IProgress {
public:
    explicit FinishWatch(IProgress* sink) : sink_(sink) {}
    void UpdateProgress(_PROGRESS_INFO* info) override {
        if (info != nullptr && info->state == PROGRESS_FINISHED)
            finished_ = true;
        sink_->UpdateProgress(info);
    }
    int Continued() override { return sink_->Continued(); }
    int shouldBuild() override { return sink_->shouldBuild(); }
    bool Finished() const { return finished_; }

private:
    IProgress* sink_;
    bool finished_ = false;
};

}  // namespace

namespace {
std::atomic<bool> g_searcherThreads{true};
}  // namespace

void SetDeepScanSearcherThreads(bool on) {
    g_searcherThreads.store(on, std::memory_order_relaxed);
}

bool DeepScanSearcherThreads() {
    return g_searcherThreads.load(std::memory_order_relaxed);
}

int DeepScanBlockSectors(int sectorSize) {
    const int sectors =
        kDeepBlockBytes /
        static_cast<int>(vk::NormaliseSectorSize(static_cast<uint64_t>(std::max(sectorSize, 0))));
    return sectors > 0 ? sectors : kFallbackBlockSectors;
}

std::string DeviceDescription(IStorageDevice* device) {
    if (device == nullptr)
        return {};
    if (device->GetType() == kDeviceVolume) {
        const CCollectedVolumeDeviceInfoStruct* info = VolumeRecordOf(device);
        if (info != nullptr && info->flag == 0) {
            return std::string(info->volumeName,
                               strnlen(info->volumeName, sizeof(info->volumeName)));
        }
    } else if (device->GetType() == kDeviceEdiImage) {
        auto* data = dynamic_cast<IEDIDeviceData*>(device->GetPrivateData());
        const CEDIDeviceInfoStruct* info = data != nullptr ? data->GetEDIInfo() : nullptr;
        if (info != nullptr)
            return std::string(info->deviceName,
                               strnlen(info->deviceName, sizeof(info->deviceName)));
    }
    return {};
}

IRecoveryController* CreateRecoveryController(_RECOVERY_CONTROLLER_TYPE type) {
    switch (type) {
        case RECOVERY_CONTROLLER_DELETED:
            return new CDeletedRecoveryController();
        case RECOVERY_CONTROLLER_COMPLETE:
            return new CCompleteRecoveryController();
        case RECOVERY_CONTROLLER_PARTITION:
            return new CPartitionRecoveryController();
    }
    return nullptr;
}

bool SetRecoveryRestoreSink(IRecoveryController* controller, RestoreScanSink* sink) {
    auto* ours = dynamic_cast<CRecoveryControllerBase*>(controller);
    if (ours == nullptr)
        return false;
    ours->SetRestoreScanSink(sink);
    return true;
}

// ---------------------------------------------------------------------------
// Shared parts

CRecoveryControllerBase::~CRecoveryControllerBase() {
    ReleaseTreeBuilder();
}

int CRecoveryControllerBase::Initialize(IRecoveryFilter* filter) {
    m_filter = filter;
    return filter != nullptr ? 1 : 0;
}

VKRESULT CRecoveryControllerBase::StartTreeBuilder(IStorageDevice* device, IDrirectoryTree* tree,
                                                   bool replay) {
    m_builder = CreateTreeBuilder(replay);
    if (m_builder == nullptr)
        return VK_ERROR(kModuleController, kErrOutOfMemory);
    const std::string description = DeviceDescription(device);
    if (m_builder->Initialize(description.c_str(), tree, m_filter) == 0)
        return VK_ERROR(kModuleController, kErrFailed);
    return VK_OK;
}

void CRecoveryControllerBase::ReleaseTreeBuilder() {
    if (m_builder != nullptr)
        m_builder->Release();
    m_builder = nullptr;
}

// ---------------------------------------------------------------------------
// Quick scan

CDeletedRecoveryController::~CDeletedRecoveryController() {
    ReleaseScan();
}

void CDeletedRecoveryController::ReleaseScan() {
    ReleaseTreeBuilder();
    delete m_searcher;
    m_searcher = nullptr;
    m_device = nullptr;
}

VKRESULT CDeletedRecoveryController::StartDataRecovery(IStorageDevice* device, IProgress* progress,
                                                       IDrirectoryTree* tree) {
    if (device == nullptr || progress == nullptr || tree == nullptr)
        return VK_ERROR(kModuleController, kErrFailed);
    Report(progress, PROGRESS_RUNNING, 1, 0);
    if (device->GetType() == kDeviceDisk)
        return VK_ERROR(kModuleController, kErrQuickScanOfDisk);

    // A controller serves one scan; a second start begins afresh.
    ReleaseScan();
    m_device = device;
    if (VKRESULT started = StartTreeBuilder(device, tree, false); ResultFailed(started))
        return started;

    const CCollectedVolumeDeviceInfoStruct* volume = VolumeRecordOf(device);
    if (volume != nullptr) {
        const SearcherRow* row = vk::QuickSearcherRowFor(volume->fileSystemType);
        if (row != nullptr && row->createQuickSearcher != nullptr)
            m_searcher = row->createQuickSearcher();
    }
    if (m_searcher == nullptr) {
        Report(progress, PROGRESS_FINISHED, 1, 1);
        return VK_ERROR(kModuleController, kErrNoQuickSearch);
    }

    m_searcher->SetDirecotryTreeBuilder(m_builder);
    if (m_restoreSink != nullptr) {
        m_restoreSink->SetDirecotryTreeBuilder(m_builder, progress, device);
        return VK_OK;
    }
    // Files the system still holds in memory reach the volume before it is read.
    sync();
    // The searcher's own answer, so a failed walk is not passed off as a scan.
    FinishWatch watch(progress);
    const VKRESULT result = m_searcher->QuickSearchFiles(device, &watch);
    // Searchers end through FinishQuickSearch; one that did not must still
    // leave the caller's progress finished, carrying its result.
    if (!watch.Finished()) {
        _PROGRESS_INFO info;
        std::memset(&info, 0, sizeof(info));
        info.state = PROGRESS_FINISHED;
        info.total = 1;
        info.done = 1;
        info.result = result;
        progress->UpdateProgress(&info);
    }
    return result;
}

IDataRecovery* CDeletedRecoveryController::GetDataRecovery(_tagSearcherType type) const {
    return MakeDataRecovery(m_restoreSink, type, m_searcher, m_device);
}

// ---------------------------------------------------------------------------
// Deep scan

CCompleteRecoveryController::~CCompleteRecoveryController() {
    ReleaseScan();
}

void CCompleteRecoveryController::ReleaseScan() {
    // The builder goes first: its trees may hold nodes the searchers made.
    ReleaseTreeBuilder();
    for (_SEARCHER_INFO& entry : m_searchers)
        delete entry.searcher;
    m_searchers.clear();
    if (m_cache != nullptr) {
        m_cache->EndCache();
        delete m_cache;
        m_cache = nullptr;
    }
    m_sectorMap.clear();
    delete m_bitmap;
    m_bitmap = nullptr;
    m_device = nullptr;
}

void CCompleteRecoveryController::CreateSearchers(IStorageDevice* device, IProgress* progress) {
    const CCollectedVolumeDeviceInfoStruct* volume =
        IsLiveVolumeDevice(device) ? VolumeRecordOf(device) : nullptr;
    for (const SearcherRow* row : vk::DeepSearcherRows()) {
        ICompleteFileSystemSearchController* searcher = row->createDeepSearcher();
        if (searcher == nullptr)
            continue;
        if (row->deepNeeds & kDeepNeedsSectorMap)
            searcher->SetFileSectorMap(&m_sectorMap);
        if (row->deepNeeds & kDeepNeedsProgress)
            searcher->SetIProgressSink(progress);
        if (volume != nullptr && (row->activeOnVolumesOf & FileSystemBit(volume->fileSystemType)))
            searcher->SetActivePartition(true);
        m_searchers.push_back({row->type, searcher, row->deepNeeds});
    }
}

VKRESULT CCompleteRecoveryController::StartDataRecovery(IStorageDevice* device, IProgress* progress,
                                                        IDrirectoryTree* tree) {
    if (device == nullptr || progress == nullptr || tree == nullptr) {
        return VK_ERROR(kModuleController, kErrBadScanRange);
    }
    // A controller serves one scan; a second start begins afresh.
    ReleaseScan();
    m_bitmap = new TBitmap();
    Report(progress, PROGRESS_RUNNING, 1, 0);

    if (VKRESULT started = StartTreeBuilder(device, tree, m_restoreSink != nullptr);
        ResultFailed(started)) {
        return started;
    }

    CreateSearchers(device, progress);
    if (m_searchers.empty())
        return VK_ERROR(kModuleController, kErrNoDeepSearcher);

    sync();
    m_device = device;
    const int blockSectors = DeepScanBlockSectors(device->GetSectorSize());
    m_cache = CreateStorageDeviceWithCache(device);
    if (m_cache->SetBlockSize(static_cast<unsigned>(blockSectors)) == 0) {
        CatchExeception::WriteLog("deep scan: a block of %d sectors of %d bytes cannot be held\n",
                                  blockSectors, device->GetSectorSize());
        return VK_ERROR(kModuleController, kErrOutOfMemory);
    }
    // A replay reads no block, so nothing is read ahead for it.
    if (m_restoreSink == nullptr)
        m_cache->BeginCache();

    const bool ownThreads = DeepScanSearcherThreads() && m_restoreSink == nullptr;
    for (_SEARCHER_INFO& entry : m_searchers) {
        entry.searcher->SetBlocksOnOwnThread(ownThreads);
        entry.searcher->SetDevice(m_cache);
        entry.searcher->SetBlockSize(blockSectors);
        entry.searcher->SetDirecotryTreeBuilder(m_builder);
        entry.searcher->SetBitmap(m_bitmap);
        if (m_restoreSink == nullptr)
            entry.searcher->PreparetoSearch();
    }

    VKRESULT result = VK_OK;
    if (m_restoreSink != nullptr) {
        m_restoreSink->SetDirecotryTreeBuilder(m_builder, progress, device);
    } else {
        // An empty device is walked as one empty block, like a range past
        // the end: there is nothing to find, which is not an error.
        result = SearchData(0, std::max(0LL, device->GetTotalSectors() - 1), progress);
    }
    // Every searcher has seen every block before any end phase starts: the
    // FAT searcher's build reads the sector map the signature search fills.
    for (_SEARCHER_INFO& entry : m_searchers)
        entry.searcher->FinishBlocks();

    for (_SEARCHER_INFO& entry : m_searchers) {
        // A stopped scan skips the end phase of a searcher whose row says so
        // (the signature search would go on carving for a long time); the
        // file systems still build what they found.
        if ((entry.needs & kDeepSkipsEndWhenStopped) && progress->Continued() == 0)
            continue;
        entry.searcher->EndSearch(progress->shouldBuild());
    }
    // Nothing reads ahead any more: let the thread and its blocks go now
    // rather than while the results are shown. Reads through the cache still
    // work.
    m_cache->EndCache();

    Report(progress, PROGRESS_FINISHED, 1, 1);
    return result;
}

VKRESULT CCompleteRecoveryController::SearchData(long long first, long long last,
                                                 IProgress* progress) {
    if (progress == nullptr || m_cache == nullptr)
        return VK_ERROR(kModuleController, kErrBadArgument);
    if (last < first)
        return VK_ERROR(kModuleController, kErrBadScanRange);

    const long long block = DeepScanBlockSectors(m_cache->GetSectorSize());
    const long long total = std::max(0LL, m_cache->GetTotalSectors());
    first = std::clamp(first, 0LL, total);
    last = std::min(last, total - 1);
    // An empty device, or a range that lies past its end, is one empty
    // block: reported like any other, and nothing is offered to the
    // searchers.
    const bool empty = last < first;
    const long long firstBlock = empty ? 0 : first / block;
    const long long lastBlock = empty ? 0 : last / block;
    _PROGRESS_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.state = PROGRESS_PREPARING;
    info.total = lastBlock - firstBlock + 2;
    progress->UpdateProgress(&info);
    info.state = PROGRESS_RUNNING;

    long long done = 0;
    if (empty && progress->Continued() != 0) {
        done = 1;
        _PROGRESS_INFO copy = info;
        copy.done = static_cast<int64_t>(static_cast<double>(done) * 0.8);
        progress->UpdateProgress(&copy);
        return VK_OK;
    }
    for (long long k = firstBlock; k <= lastBlock && !empty; ++k) {
        if (progress->Continued() == 0)
            break;
        m_cache->SetCurCacheBlock(k);
        // Only the asked range is offered: the first and last blocks may be
        // cut by it (and the device's last block is short).
        const long long from = std::max(k * block, first);
        const long long to = std::min(k * block + block - 1, last);
        for (_SEARCHER_INFO& entry : m_searchers)
            entry.searcher->AnalyzeBlock(from, to - from + 1);
        done = std::min<long long>(done, info.total) + 1;
        _PROGRESS_INFO copy = info;
        // The walk fills about 80 percent of the bar; the searchers' end
        // phases report the rest.
        copy.done = static_cast<int64_t>(static_cast<double>(done) * 0.8);
        progress->UpdateProgress(&copy);
    }
    return VK_OK;
}

IDataRecovery* CCompleteRecoveryController::GetDataRecovery(_tagSearcherType type) const {
    for (const _SEARCHER_INFO& entry : m_searchers) {
        if (entry.type != type)
            continue;
        if (entry.searcher == nullptr)
            return nullptr;
        return MakeDataRecovery(m_restoreSink, type, entry.searcher, m_device);
    }
    return nullptr;
}
