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

// Posts `name` whenever the operation asks for an update, until it has
// exited; then "QueryProgressFinish", always once.
void PollSaveOrLoad(VKUIOperation* op, const std::string& name) {
    while (op != nullptr && op->IsOperationExit() == 0) {
        std::this_thread::sleep_for(kPollInterval);
        // An operation that ended meanwhile is told by the finish alone.
        if (op->IsOperationExit() != 0)
            break;
        if (op->IsNeedUIUpdate() != 0) {
            op->SetNeedUIUpdate(0);
            VKUIPublic::NotifyMainThread(name);
        }
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
    VKUIOperation* op = velmora::bridge::Watched(save);
    if (op == nullptr)
        return;
    op->SetStatus(VK_OP_RUNNING);
    velmora::bridge::StartBackgroundThread(
        [op, name] { velmora::bridge::PollSaveOrLoad(op, name); });
}

void VKUIController::beginSaveOrRestoreNode(int save, const std::string& path,
                                            const char* ediPath) {
    ISaveLoadScanSource* scan = SaveLoadScanSource();
    if (scan == nullptr)
        return;
    // The outcome of both reaches the windows through the progress record.
    if (save != 0) {
        SaveRestoreResult::DoSaveScanResult(path.c_str(), &VKSaveAndRestoreNodeOperate::instance(),
                                            scan->ResultSource());
        return;
    }
    scan->ClearData();
    scan->ScanOperation().SetStatus(VK_OP_RUNNING);
    SaveRestoreResult::DoRestoreScanResult(path.c_str(), &scan->ScanOperation(), ediPath,
                                           scan->Catalogue(), scan->Runner());
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
