#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "BridgeServices.h"
#include "StartThread.h"
#include "Utility/CatchExeception.h"
#include "VKUIController.h"
#include "VKUIPublic.h"
#include "VKUISaveLoad.h"
#include "platform/AppPaths.h"

namespace velmora::bridge {

namespace {

std::atomic<ISaveLoadScanSource*> g_saveLoadSource{nullptr};

constexpr auto kPollInterval = std::chrono::milliseconds(100);

// The operation a poller or a progress query watches.
VKUIOperation* Watched(int save) {
    if (save != 0)
        return &VKSaveAndRestoreNodeOperate::instance();
    ISaveLoadScanSource* scan = SaveLoadScanSource();
    return scan != nullptr ? &scan->ScanOperation() : nullptr;
}

// Where the load the windows follow stands. The main window begins a load
// before the browser starts watching it, and a load that failed or was
// refused may be over by then: the watch must not mark the scan operation
// running again, or its poller would wait for ever.
enum LoadState : int {
    kNoLoad,       // nothing begun or watched
    kWatched,      // a watch came first and marked the scan operation running
    kLoadRunning,  // a load thread holds the scan operation
    kLoadEnded,    // the load is over (or was refused); no poller has seen it yet
};
std::atomic<int> g_load{kNoLoad};

// The load's progress sink in front of the scan operation. The replay's
// scan controllers mark the scan operation idle when their trees are done,
// before the load has checked what it replayed; the load is over only with
// its own finishing record, which is its last report.
class LoadProgress final : public IProgress {
public:
    explicit LoadProgress(VKUIOperation& scan) : scan_(scan) {}
    void UpdateProgress(_PROGRESS_INFO* info) override {
        scan_.UpdateProgress(info);
        if (info != nullptr && info->state == PROGRESS_FINISHED) {
            int running = kLoadRunning;
            g_load.compare_exchange_strong(running, kLoadEnded);
            // Nothing reports to this sink after the finishing record.
            delete this;
        }
    }
    int Continued() override { return scan_.Continued(); }
    int shouldBuild() override { return scan_.shouldBuild(); }

private:
    VKUIOperation& scan_;
};

// A save or load that could not start: finished at once with `code`, so
// that its progress window ends instead of waiting.
void EndNotStarted(VKUIOperation& op, int code) {
    _PROGRESS_INFO info{};
    info.state = PROGRESS_FINISHED;
    info.total = 100;
    info.done = 100;
    info.result = static_cast<uint64_t>(static_cast<int64_t>(code));
    op.UpdateProgress(&info);
    op.SetStatus(VK_OP_IDLE);
}

int NotStartedCode(int started) {
    return started == -1 ? SaveRestoreResult::kResultCannotOpen : SaveRestoreResult::kResultBusy;
}

// Whether the watched work is over: a load also by its own end.
bool Over(VKUIOperation* op, bool load) {
    return op->IsOperationExit() != 0 && (!load || g_load.load() != kLoadRunning);
}

// Posts `name` whenever the operation asks for an update, until it has
// exited; then "QueryProgressFinish", always once.
void PollSaveOrLoad(VKUIOperation* op, const std::string& name, bool load) {
    while (op != nullptr && !Over(op, load)) {
        std::this_thread::sleep_for(kPollInterval);
        // An operation that ended meanwhile is told by the finish alone.
        if (Over(op, load))
            break;
        if (op->IsNeedUIUpdate() != 0) {
            op->SetNeedUIUpdate(0);
            VKUIPublic::NotifyMainThread(name);
        }
    }
    if (load) {
        // This watch has seen the load's end; the next watch starts afresh.
        for (int seen : {kLoadEnded, kWatched})
            if (g_load.compare_exchange_strong(seen, kNoLoad))
                break;
    }
    CatchExeception::WriteLog("---------Send Progress finish notify to UI-------\n");
    VKUIPublic::NotifyMainThread("QueryProgressFinish");
    CatchExeception::WriteLog("---------The Progress thread is exited-----------\n");
}

}  // namespace

void SetSaveLoadScanSource(ISaveLoadScanSource* source) {
    g_saveLoadSource = source;
}

ISaveLoadScanSource* SaveLoadScanSource() {
    return g_saveLoadSource;
}

std::string ResultFileName(const std::string& name, time_t now, bool fileSafe) {
    struct tm local {};
    ::localtime_r(&now, &local);
    char text[64];
    std::snprintf(
        text, sizeof text,
        fileSafe ? "%02d-%02d-%04d at %02d_%02d_%02d" : "%02d-%02d-%04d at %02d:%02d:%02d",
        local.tm_mon + 1, local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min,
        local.tm_sec);
    return name + "_" + text;
}

}  // namespace velmora::bridge

using velmora::bridge::SaveLoadScanSource;

void VKUIController::RestorPostUIUpdate(const std::string& name, int save) {
    using namespace velmora::bridge;
    VKUIOperation* op = Watched(save);
    if (op == nullptr)
        return;
    const bool load = save == 0;
    // A load begun before its watch has marked the scan operation itself,
    // and may have ended already.
    int none = kNoLoad;
    if (!load || g_load.compare_exchange_strong(none, kWatched))
        op->SetStatus(VK_OP_RUNNING);
    StartBackgroundThread([op, name, load] { PollSaveOrLoad(op, name, load); });
}

void VKUIController::beginSaveOrRestoreNode(int save, const std::string& path,
                                            const char* ediPath) {
    using namespace velmora::bridge;
    ISaveLoadScanSource* scan = SaveLoadScanSource();
    // The outcome of both reaches the windows through the progress record.
    if (save != 0) {
        VKSaveAndRestoreNodeOperate& op = VKSaveAndRestoreNodeOperate::instance();
        const int started = scan != nullptr ? SaveRestoreResult::DoSaveScanResult(
                                                  path.c_str(), &op, scan->ResultSource())
                                            : -1;
        // A save refused because another save runs leaves that one's
        // progress alone: its own watch ends with it.
        const bool otherSave = started == -3 && SaveRestoreResult::ResultFilesGate::Current() ==
                                                    SaveRestoreResult::ResultFilesGate::kSaving;
        if (started != 0 && !otherSave)
            EndNotStarted(op, NotStartedCode(started));
        return;
    }
    if (scan == nullptr)
        return;
    // A load replaces the scan's result, and clears it on its own thread
    // once it holds the result files' busy flag: a save or another load
    // under way is never wiped from under it.
    VKUIOperation& op = scan->ScanOperation();
    const int status = op.GetStatus();
    const bool ownWatch = g_load.load() == kWatched;
    if (SaveRestoreResult::ResultFilesGate::Current() ==
            SaveRestoreResult::ResultFilesGate::kScanning ||
        (!ownWatch && (status == VK_OP_RUNNING || status == VK_OP_PAUSED))) {
        // A live scan keeps its status and progress: the load is refused
        // without a word to the scan operation.
        CatchExeception::WriteLog("a load was refused while a scan runs\n");
        g_load = kLoadEnded;
        return;
    }
    g_load = kLoadRunning;
    op.SetStatus(VK_OP_RUNNING);
    auto* progress = new LoadProgress(op);
    const int started = SaveRestoreResult::DoRestoreScanResult(path.c_str(), progress, ediPath,
                                                               scan->Catalogue(), scan->Runner());
    if (started != 0) {
        delete progress;
        EndNotStarted(op, NotStartedCode(started));
        g_load = kLoadEnded;
    }
}

void VKUIController::GetSaveorRestoreProgress(unsigned long long* total,
                                              unsigned long long* current, long long* code,
                                              int saver) {
    VKUIOperation* op = velmora::bridge::Watched(saver);
    const _PROGRESS_INFO info = op != nullptr ? op->GetProgressInfo() : _PROGRESS_INFO{};
    if (current != nullptr)
        *current = static_cast<unsigned long long>(info.state == PROGRESS_FINISHED ? info.total
                                                                                   : info.done);
    if (total != nullptr)
        *total = static_cast<unsigned long long>(info.total);
    if (code != nullptr)
        *code = static_cast<long long>(info.result);
}

void VKUIController::GetLoadDamage(long long* recordsDropped, long long* nodesKept, int* cutShort,
                                   int* checkFailed) {
    const SaveRestoreResult::LoadReport report = SaveRestoreResult::LastLoadReport();
    if (recordsDropped != nullptr)
        *recordsDropped = report.recordsDropped;
    if (nodesKept != nullptr)
        *nodesKept = report.nodesKept;
    if (cutShort != nullptr)
        *cutShort = report.cutShort ? 1 : 0;
    if (checkFailed != nullptr)
        *checkFailed = report.checkFailed ? 1 : 0;
}

void VKUIController::QuerySaveOrRestoreProgress() {
    VKSaveAndRestoreNodeOperate& op = VKSaveAndRestoreNodeOperate::instance();
    while (op.IsOperationExit() == 0) {
        std::this_thread::sleep_for(velmora::bridge::kPollInterval);
        if (op.IsNeedUIUpdate() != 0) {
            op.SetNeedUIUpdate(0);
            // The windows' notification centre lives on the main thread.
            VKUIPublic::NotifyMainThread("QueryProgressInfo");
        }
    }
}

void VKUIController::SavePathToPList(const std::string& folder) {
    velmora::bridge::CurrentSettings()->SetString("SavePath", folder);
}

std::string VKUIController::GetSavePath() {
    return velmora::bridge::CurrentSettings()->GetString("SavePath", "");
}

std::string VKUIController::GetDefaultSavePath() {
    const std::string path = velmora::platform::ExecutableFolder() + "/SaveScan";
    // A folder that cannot be made shows when the save fails.
    ::mkdir(path.c_str(), 0755);
    return path;
}

std::string VKUIController::GetSaveFileName() {
    ISaveLoadScanSource* scan = SaveLoadScanSource();
    return velmora::bridge::ResultFileName(scan != nullptr ? scan->SavedStorageName() : "",
                                           velmora::bridge::CurrentClock()->Now(), false);
}

std::string VKUIController::GetSaveDmgFileName(const std::string& name) {
    return velmora::bridge::ResultFileName(name, velmora::bridge::CurrentClock()->Now(), true);
}
