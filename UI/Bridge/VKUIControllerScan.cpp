#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "BadSectorNotify.h"
#include "BridgeServices.h"
#include "IRecoveryFilter.h"
#include "MainThread.h"
#include "SaveRestore.h"
#include "StartThread.h"
#include "Utility/CatchExeception.h"
#include "Utility/MessageCenter.h"
#include "VKTimeMgr.h"
#include "VKTypeMgr.h"
#include "VKUIController.h"
#include "VKUIDeviceData.h"
#include "VKUIPublic.h"
#include "VKUIScan.h"
#include "VKUITreeData.h"

namespace {

constexpr const char* kScanValue = "NormalScranValue";
constexpr auto kPollerSleep = std::chrono::milliseconds(100);
// How long a catalogue rebuild waits for a stopped scan, in seconds.
constexpr int kRefreshWaitSeconds = 30;

// The moment of the last timed "NormalScranValue" (whole seconds).
std::atomic<time_t>& TimeCount() {
    static std::atomic<time_t> count{0};
    return count;
}

// A "NormalScranValue" waiting on the main thread: the next one is dropped
// until it has been delivered, so a busy scan never floods the queue. The
// poster it waits on is remembered: one that was replaced before it ran
// its queue holds nothing back.
struct QueuedPost {
    std::mutex lock;
    std::weak_ptr<velmora::bridge::IMainThreadPoster> poster;
};

QueuedPost& Queued() {
    static auto* queued = new QueuedPost;
    return *queued;
}

// Stored for the windows; nothing reads it.
std::atomic<int>& PauseAddDataFlag() {
    static std::atomic<int> flag{0};
    return flag;
}

void PostScanValue() {
    std::shared_ptr<velmora::bridge::IMainThreadPoster> poster = velmora::bridge::CurrentPoster();
    QueuedPost& queued = Queued();
    {
        std::lock_guard<std::mutex> hold(queued.lock);
        if (queued.poster.lock() == poster)
            return;
        queued.poster = poster;
    }
    poster->Post([] {
        {
            std::lock_guard<std::mutex> hold(Queued().lock);
            Queued().poster.reset();
        }
        VKUIPublic::NotifyMainThreadCB(kScanValue);
    });
}

struct ScanThreadState {
    std::mutex lock;
    velmora::bridge::BridgeThread worker;
};

ScanThreadState& ScanThread() {
    static auto* state = new ScanThreadState;
    return *state;
}

VKUIDeviceData*& CatalogueOverride() {
    static VKUIDeviceData* catalogue = nullptr;
    return catalogue;
}

VKUIDeviceData& Catalogue() {
    return CatalogueOverride() != nullptr ? *CatalogueOverride() : VKUIDeviceData::instance();
}

// The scan worker's body. The lease keeps the device alive until the scan
// has let go of it, whatever the catalogue does meanwhile.
void DoScanFn(const std::shared_ptr<VKUIDeviceData::DeviceLease>& lease,
              const std::shared_ptr<bool>& gateHeld) {
    {
        auto hold = VKUITreeData::instance().Lock();
        VKTypeMgr::share().clear();
        VKTimeMgr::share().clear();
    }
    CMessageCenter::Instance()->StartReceiveMessage();
    {
        CProgressNotify badSectors;
        VKUIScan& scan = VKUIScan::instance();
        // The scan takes over the busy flag taken for it; a request that
        // never ran lets it go below.
        *gateHeld = false;
        scan.DoScanHoldingResults(lease->get());
        scan.ReCalTotalSize();
    }
    CMessageCenter::Instance()->StopReceiveMessage();
    *lease = VKUIDeviceData::DeviceLease();
}

}  // namespace

void VKNotifyUIUpdateData(int force) {
    VKUIScan& scan = VKUIScan::instance();
    if (scan.IsOpTreeFinished() == 0)
        return;
    // The trees take their own lock for the rebuild.
    VKUIController::VKGetTreeNodeData(force);
    if (force != 0) {
        PostScanValue();
        return;
    }
    const time_t now = velmora::bridge::CurrentClock()->Now();
    time_t last = TimeCount().load();
    if (now - last >= 2 && TimeCount().compare_exchange_strong(last, now))
        PostScanValue();
}

void VKNotifyScanProgress() {
    if (VKUIScan::instance().IsOpTreeFinished() == 0)
        return;
    const time_t now = velmora::bridge::CurrentClock()->Now();
    time_t last = TimeCount().load();
    if (now - last >= 2 && TimeCount().compare_exchange_strong(last, now))
        PostScanValue();
}

void VKUIController::UseCatalogue(VKUIDeviceData* catalogue) {
    CatalogueOverride() = catalogue;
    VKUIScan::instance().SetCatalogue(catalogue);
}

void VKUIController::DoOperation(VKUIOperation* operation, const std::string& name,
                                 std::function<void()> worker, int withPoller) {
    if (withPoller != 0 && operation != nullptr) {
        velmora::bridge::StartBackgroundThread(
            [operation, name] { QueryStatusAndUpdateUI(operation, name); });
    }
    ScanThreadState& state = ScanThread();
    std::lock_guard<std::mutex> hold(state.lock);
    // The previous worker is past its scan (the operation has exited).
    state.worker.Join();
    state.worker = velmora::bridge::StartThread(std::move(worker));
}

void VKUIController::QueryStatusAndUpdateUI(VKUIOperation* operation, const std::string& name) {
    bool posted = false;
    while (operation->IsOperationExit() == 0) {
        std::this_thread::sleep_for(kPollerSleep);
        if (operation->IsNeedUIUpdate() != 0) {
            operation->SetNeedUIUpdate(0);
            if (operation->IsOpTreeFinished() != 0) {
                VKUIPublic::NotifyMainThread(name);
                posted = true;
            }
        }
    }
    if (!posted)
        VKUIPublic::NotifyMainThread(name);
    operation->SetNeedUIUpdate(0);
    std::printf("!!!!!!! The state query thread is exited!!!!!!!!!\n");
}

void VKUIController::WaitForScanThread() {
    ScanThreadState& state = ScanThread();
    std::lock_guard<std::mutex> hold(state.lock);
    state.worker.Join();
}

void VKUIController::DoScanWithDiskIndex(int disk, int volume) {
    VKUIScan& scan = VKUIScan::instance();
    if (scan.GetStatus() == VK_OP_STOP_ASKED)
        scan.SetStatus(VK_OP_IDLE);
    if (scan.IsOperationExit() == 0)
        return;
    // A save or a load reads or replaces the result: a scan is refused
    // before anything of the result is cleared, and the flag taken here is
    // held until the scan ends.
    using SaveRestoreResult::ResultFilesGate;
    if (!ResultFilesGate::TryBegin(ResultFilesGate::kScanning)) {
        CatchExeception::WriteLog("scan refused: the results are busy (a save or a load)\n");
        return;
    }
    auto gateHeld = std::shared_ptr<bool>(new bool(true), [](bool* held) {
        if (*held)
            ResultFilesGate::End(ResultFilesGate::kScanning);
        delete held;
    });
    auto lease =
        std::make_shared<VKUIDeviceData::DeviceLease>(Catalogue().LeaseDevice(disk, volume));
    if (!*lease)
        return;
    VKResetTreeNodeData();
    scan.ClearData();
    scan.SetStatus(VK_OP_RUNNING);
    DoOperation(
        &scan, kScanValue, [lease, gateHeld] { DoScanFn(lease, gateHeld); }, 0);
}

void VKUIController::DoScanWithData(const DiskVolumeNodePtr& row) {
    if (!row)
        return;
    VKUIScan::instance().SetDeepScan(0);
    DoScanWithDiskIndex(row->diskIndex(), row->volumeIndex());
}

void VKUIController::DoDeepScanWithData(const DiskVolumeNodePtr& row) {
    if (!row)
        return;
    VKUIScan::instance().SetDeepScan(1);
    DoScanWithDiskIndex(row->diskIndex(), row->volumeIndex());
}

void VKUIController::isEdiDoDeepScanWithData(const DiskVolumeNodePtr& row) {
    DoDeepScanWithData(row);
}

void VKUIController::DoDeepScan() {
    VKUIScan& scan = VKUIScan::instance();
    IStorageDevice* storage = scan.GetSavedStorage();
    if (storage == nullptr)
        return;
    int disk = -1, volume = -1;
    if (Catalogue().GetDiskVolumeIndexByStorage(storage, disk, volume) == 0 || disk == -1)
        return;
    scan.SetDeepScan(1);
    DoScanWithDiskIndex(disk, volume);
}

void VKUIController::StopScan(int flag) {
    VKUIScan::instance().StopOperation(flag);
}

void VKUIController::PauseOrResumeScan() {
    VKUIScan::instance().PauseOrResumeOperation();
}

void VKUIController::ResetShouldBuild() {
    VKUIScan::instance().SetShouldBuildTree(1);
}

int VKUIController::IsScanRunning() {
    const int status = VKUIScan::instance().GetStatus();
    return status == VK_OP_STOP_ASKED || status == VK_OP_RUNNING || status == VK_OP_PAUSED ? 1 : 0;
}

int VKUIController::IsPause() {
    return VKUIScan::instance().GetStatus() == VK_OP_PAUSED ? 1 : 0;
}

int VKUIController::IsDeepScan() {
    return VKUIScan::instance().IsDeepScan();
}

std::string VKUIController::RemainingTimeText(int64_t total, int64_t done, long elapsed,
                                              double* percent) {
    const auto utotal = static_cast<uint64_t>(total);
    const auto udone = static_cast<uint64_t>(done);
    const double p = static_cast<double>(udone) * 100.0 / static_cast<double>(utotal ? utotal : 1);
    if (percent != nullptr)
        *percent = p;
    if (elapsed <= 0 || udone == 0 || p < 1)
        return "-:-:-";
    int32_t remaining =
        static_cast<int32_t>(static_cast<uint64_t>(elapsed) * (utotal - udone) / udone);
    if (remaining < 0)
        remaining = 0;
    int32_t scaled = remaining;
    if (udone < utotal / 4)
        scaled = static_cast<int32_t>(remaining * 0.5);
    else if (udone < utotal / 2)
        scaled = static_cast<int32_t>(remaining * 0.7);
    if (scaled > 0)
        remaining = scaled;
    const int hours = remaining / 3600;
    if (hours > 100)
        return "-:-:-";
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hours, (remaining % 3600) / 60,
                  remaining % 60);
    return text;
}

std::string VKUIController::GetScanProgress(double* percent, unsigned long long* count) {
    VKUIScan& scan = VKUIScan::instance();
    if (count != nullptr)
        *count = scan.GetScanFileCnt();
    const _PROGRESS_INFO info = scan.GetProgressInfo();
    return RemainingTimeText(info.total, info.done, scan.GetScanElapseTime(), percent);
}

void VKUIController::GetScanFileSize(unsigned long long* size, unsigned long long* count) {
    VKUIScan& scan = VKUIScan::instance();
    if (size != nullptr)
        *size = scan.GetScanFileSize();
    if (count != nullptr)
        *count = scan.GetScanFileCnt();
}

void VKUIController::SetViewType(int kind) {
    VKUIScan::instance().SetScanType(kind);
}

void VKUIController::RefreshData() {
    VKUIScan::instance().RefreshAllData();
}

std::mutex& VKUIController::TreeDataLock() {
    return VKUITreeData::instance().Mutex();
}

int VKUIController::VKSetTreeNodeData(const VKTreeArrays* arrays) {
    if (arrays == nullptr)
        return 0;
    VKUITreeData::instance().UseArrays(arrays->path, arrays->type, arrays->createTime,
                                       arrays->modifyTime);
    return 1;
}

void VKUIController::VKResetTreeNodeData() {
    VKUITreeData::instance().VKResetTreeNodeData();
    VKUIScan::instance().VKResetFileNode();
    TimeCount() = 0;
}

// A scan refresh: the type tree, both date trees, then the path tree.
int VKUIController::VKGetTreeNodeData(int force) {
    return VKUITreeData::instance().VKGetTreeNodeData(force);
}

void VKUIController::VKSetFlag(int flag) {
    PauseAddDataFlag() = flag;
}

int VKUIController::GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState) {
    if (roots == nullptr)
        return 0;
    return VKUITreeData::instance().GetScanTreeNodeData(clearState, roots);
}

void VKUIController::InitDeviceInfoInBgThread() {
    Catalogue().InitDeviceInfo();
}

void VKUIController::NotifiyDeviceInfoAfterInit(const std::string& name) {
    int state = 0;
    if (!Catalogue().TryGetInitState(&state)) {
        // A rebuild holds the catalogue (a disk came or went): the name is
        // posted once it is done, and the caller never waits for it.
        velmora::bridge::StartBackgroundThread([name] {
            if (Catalogue().GetInitState() == 2)
                VKUIPublic::NotifyMainThread(name);
        });
        return;
    }
    if (state == 0)
        VKUIPublic::NotifyMainThreadByPostKey(name, [] { InitDeviceInfoInBgThread(); });
    else if (state == 2)
        VKUIPublic::NotifyMainThread(name);
}

void VKUIController::RefreshDeviceInfo() {
    VKUIScan& scan = VKUIScan::instance();
    StopScan(1);
    for (int i = 0; i < kRefreshWaitSeconds * 10 && scan.IsOperationExit() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The scan's lease holds the devices: Clear waits for it, so nothing is
    // freed under a scan that has not let go yet.
    Catalogue().Rebuild();
    scan.SaveScanSorage(nullptr);
}

void VKUIController::initFileType() {
    std::map<int, std::string> lists;
    VKTypeMgr& types = VKTypeMgr::share();
    for (int bit : {1, 2, 4, 8, 16, 32}) {
        if (std::optional<std::string> text = types.getTypeString(bit))
            lists[bit] = *text;
    }
    InitializeFileTypeLists(lists);
}
