#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "FileNode.h"
#include "MainThread.h"
#include "StartThread.h"
#include "VKUIController.h"
#include "VKUIPublic.h"
#include "VKUIRecovery.h"

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);

// Posts `name` whenever the recovery asks for an update, and once at its
// end when it never did, so the window always learns that it finished.
void PollRecovery(const std::string& name) {
    VKUIRecovery& op = VKUIRecovery::instance();
    bool posted = false;
    while (op.IsOperationExit() == 0) {
        std::this_thread::sleep_for(kPollInterval);
        if (op.IsNeedUIUpdate() != 0) {
            op.SetNeedUIUpdate(0);
            if (op.IsOpTreeFinished() != 0) {
                VKUIPublic::NotifyMainThread(name);
                posted = true;
            }
        }
    }
    if (!posted)
        VKUIPublic::NotifyMainThread(name);
    op.SetNeedUIUpdate(0);
}

}  // namespace

std::vector<IFileNode*> VKUIController::GetSelectedFilesAndSize(unsigned long long* size) {
    std::vector<IFileNode*> selected;
    IRecoveryScanSource* scan = VKUIRecovery::ScanSource();
    if (scan == nullptr)
        return selected;
    for (const auto& [type, nodes] : scan->GetTypeMap()) {
        for (IFileNode* node : nodes) {
            if (node == nullptr || node->IsNodeShow() == 0 || node->GetCheckedStatus() != 2)
                continue;
            selected.push_back(node);
            if (size != nullptr)
                *size += static_cast<unsigned long long>(node->GetFileSize());
        }
    }
    return selected;
}

void VKUIController::GetSelectedFilesAmoutAndSize(int* count, unsigned long long* size) {
    unsigned long long bytes = size != nullptr ? *size : 0;
    const std::vector<IFileNode*> selected = GetSelectedFilesAndSize(&bytes);
    if (count != nullptr)
        *count = static_cast<int>(selected.size());
    if (size != nullptr)
        *size = bytes;
    VKUIRecovery::instance().SetRecoveryTotalSize(bytes);
    VKUIRecovery::instance().SetRecoveryTotalFilesCnt(selected.size());
}

int VKUIController::IsRecoveryToSameDevice(const std::string& folder) {
    return VKUIRecovery::instance().RecoveryPathIsSameDevice(folder.c_str());
}

velmora::bridge::OutputProblem VKUIController::CheckOutputFolder(const std::string& folder) {
    return VKUIRecovery::instance().CheckDestination(folder.c_str()).problem();
}

long long VKUIController::DoRecovery(const std::vector<OpNodePtr>* roots, const char* folder,
                                     const std::string& name) {
    if (roots == nullptr || folder == nullptr)
        return kRecoveryStartFailed;
    VKUIRecovery& op = VKUIRecovery::instance();
    // One recovery at a time: a second worker would share the first one's
    // totals, numbers and current file (a stopped one runs until its file
    // is done).
    if (op.IsOperationExit() == 0)
        return kRecoveryStartFailed;
    // The destination is checked once, here, as the invoking user: writing
    // onto the scanned device would overwrite the very files being
    // recovered, and a folder the user may not write is no place for their
    // files, whatever the window asked. The pass writes to it as resolved.
    const velmora::bridge::OutputDestination destination = op.CheckDestination(folder);
    if (!destination.ok())
        return kRecoveryStartFailed;
    op.SetRecoveryPath((destination.folder() + "/").c_str());
    op.ClearCreateDirIndex();
    op.SetStatus(VK_OP_RUNNING);
    velmora::bridge::StartBackgroundThread([name] { PollRecovery(name); });
    velmora::bridge::StartBackgroundThread([] { VKUIRecovery::instance().DoRecovery(); });
    return 0;
}

std::string VKUIController::GetRecoveryProgressTotal(unsigned long long* total,
                                                     unsigned long long* current, long long* code) {
    VKUIRecovery& op = VKUIRecovery::instance();
    const _PROGRESS_INFO info = op.GetProgressInfo();
    if (total != nullptr)
        *total = static_cast<unsigned long long>(info.total);
    if (current != nullptr)
        *current = static_cast<unsigned long long>(info.done);
    if (code != nullptr)
        *code = static_cast<long long>(info.result);
    IFileNode* node = op.GetCurrentRecoveryNode();
    const char* text = node != nullptr ? node->GetFileName() : nullptr;
    return text != nullptr ? text : "";
}

int VKUIController::IsRecoveryRunning() {
    const int status = VKUIRecovery::instance().GetStatus();
    return status == VK_OP_RUNNING || status == VK_OP_PAUSED ? 1 : 0;
}

void VKUIController::StopRecvoery() {
    VKUIRecovery::instance().StopOperation(1);
}

void VKUIController::PauseOrResumeRecovery() {
    VKUIRecovery::instance().PauseOrResumeOperation();
}

unsigned long long VKUIController::GetRecoveridedSize() {
    return VKUIRecovery::instance().GetRecoveriedFileSize();
}

unsigned long long VKUIController::GetRecoveridedFiles() {
    return VKUIRecovery::instance().GetRecoveriedFilesCnt();
}

unsigned long long VKUIController::GetRecoveryRefusedFiles() {
    return VKUIRecovery::instance().GetRefusedFilesCnt();
}

std::string VKUIController::GetRecoveryRefusedListPath() {
    return VKUIRecovery::instance().GetRefusedListPath();
}

int VKUIController::GetCurrentScanRecoveryCnt() {
    IRecoveryScanSource* scan = VKUIRecovery::ScanSource();
    return scan != nullptr ? scan->GetCurrentScanRecoveryCnt() : 0;
}

void VKUIController::ReleaseDataRecovery() {
    if (IRecoveryScanSource* scan = VKUIRecovery::ScanSource())
        scan->ReleaseDataRecovery();
    VKUIRecovery::instance().ReleaseDataRecovery();
}
