#include "VKUIRecovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FileNode.h"
#include "OutputDestination.h"
#include "RecoveryOutput.h"
#include "VKUIPublic.h"
#include "VKUIRecoveryPath.h"
#include "VKUITreeData.h"
#include "platform/UserFiles.h"

namespace {

std::atomic<IRecoveryScanSource*> g_scanSource{nullptr};

// The error number of an engine result (its low 32 bits).
constexpr uint32_t ErrorNumber(uint64_t result) {
    return static_cast<uint32_t>(result);
}

// The searcher types the recovery keeps an object for, in the order they
// are prepared.
constexpr _tagSearcherType kRecoveryTypes[] = {SEARCHER_HFSPLUS, SEARCHER_FAT,  SEARCHER_EXFAT,
                                               SEARCHER_RAW,     SEARCHER_NTFS, SEARCHER_RAW_LABEL,
                                               SEARCHER_APFS};

}  // namespace

VKUIRecovery& VKUIRecovery::instance() {
    // Reachable for the process's life: the worker may still hold it while
    // the program ends.
    static auto* op = new VKUIRecovery();
    return *op;
}

VKUIRecovery::VKUIRecovery() {
    ResetParam();
}

VKUIRecovery::~VKUIRecovery() {
    ReleaseDataRecovery();
}

void VKUIRecovery::SetScanSource(IRecoveryScanSource* source) {
    g_scanSource = source;
}

IRecoveryScanSource* VKUIRecovery::ScanSource() {
    return g_scanSource;
}

std::unique_lock<std::mutex> VKUIRecovery::LockScanTree() {
    return std::unique_lock<std::mutex>(VKUITreeData::instance().Mutex());
}

void VKUIRecovery::InitDataRecoveryController() {
    std::lock_guard<std::recursive_mutex> hold(m_recoveriesLock);
    IRecoveryScanSource* scan = ScanSource();
    if (m_controller == nullptr && scan != nullptr)
        m_controller = scan->GetRecoveryController();
    if (m_controller == nullptr)
        return;
    // Objects made by this controller since the last reset are kept: a
    // picture loader may be reading through one of them.
    if (m_controller != m_recoveriesFrom) {
        for (_tagSearcherType type : kRecoveryTypes) {
            // Both signature trees are served by the one signature searcher,
            // which the deep scan registers under the extension search only.
            const _tagSearcherType asked = type == SEARCHER_RAW_LABEL ? SEARCHER_RAW : type;
            IDataRecovery*& slot = m_recoveries[type];
            if (slot != nullptr)
                slot->Release();
            slot = m_controller->GetDataRecovery(asked);
        }
        m_recoveriesFrom = m_controller;
    }
    if (scan != nullptr && scan->IsDeepScan() != 0)
        m_deepPrepared = 1;
}

void VKUIRecovery::ResetParam() {
    {
        std::lock_guard<std::recursive_mutex> hold(m_recoveriesLock);
        m_controller = nullptr;
        m_recoveriesFrom = nullptr;
        InitDataRecoveryController();
    }
    m_currentNode = nullptr;
    if (GetStatus() != VK_OP_RUNNING) {
        m_recoveredSize = 0;
        m_totalSize = 0;
    }
    m_totalFiles = 0;
    SetNeedUIUpdate(0);
    SetProgressInfo(_PROGRESS_INFO{});
}

void VKUIRecovery::ReleaseDataRecovery() {
    std::lock_guard<std::recursive_mutex> hold(m_recoveriesLock);
    for (auto& [type, recovery] : m_recoveries) {
        if (recovery != nullptr)
            recovery->Release();
    }
    m_recoveries.clear();
    m_controller = nullptr;
    m_recoveriesFrom = nullptr;
}

void VKUIRecovery::ForgetScanController() {
    std::lock_guard<std::recursive_mutex> hold(m_recoveriesLock);
    ReleaseDataRecovery();
    m_controller = nullptr;
    m_deepPrepared = 0;
}

int VKUIRecovery::CheckWhetherNeedReset() {
    std::lock_guard<std::recursive_mutex> hold(m_recoveriesLock);
    return m_recoveries.empty() ? 1 : 0;
}

IDataRecovery* VKUIRecovery::GetDataRecoveryByType(_tagSearcherType type) {
    std::lock_guard<std::recursive_mutex> hold(m_recoveriesLock);
    auto it = m_recoveries.find(type);
    return it == m_recoveries.end() ? nullptr : it->second;
}

IDataRecovery* VKUIRecovery::RecoveryFor(IRecoveryScanSource* scan, IFileNode* node) {
    std::lock_guard<std::recursive_mutex> hold(m_recoveriesLock);
    if (m_controller == nullptr || (scan->IsDeepScan() != 0 && m_deepPrepared == 0))
        ResetParam();
    if (m_controller != nullptr && m_controller->thisType() != 0) {
        auto found = m_recoveries.find(VKCPPPublic::instance().GetNodeSearcheType(node));
        return found != m_recoveries.end() ? found->second : nullptr;
    }
    return scan->GetFileNodeDataRecover(node);
}

void VKUIRecovery::SetRecoveryPath(const char* path) {
    VKOperationLock hold(m_lock);
    m_destination = path != nullptr ? path : "";
}

std::string VKUIRecovery::GetRecoveryPath() {
    VKOperationLock hold(m_lock);
    return m_destination;
}

void VKUIRecovery::SetRecoveryTotalSize(uint64_t size) {
    m_totalSize = size;
}
void VKUIRecovery::SetRecoveryTotalFilesCnt(uint64_t count) {
    m_totalFiles = count;
}
uint64_t VKUIRecovery::GetRecoveriedFileSize() {
    return m_recoveredSize;
}
uint64_t VKUIRecovery::GetRecoveriedFilesCnt() {
    return m_recoveredFiles;
}
uint64_t VKUIRecovery::GetRefusedFilesCnt() {
    return m_refusedFiles;
}

std::string VKUIRecovery::GetRefusedListPath() {
    VKOperationLock hold(m_lock);
    return m_refusedList;
}

void VKUIRecovery::NoteRefused(IFileNode* node, bool refused) {
    // The node's path in the scan's tree, each name cleaned as a recovered
    // one is (no "/", no control bytes such as a line break), the walk
    // bounded against a damaged tree.
    std::vector<std::string> names;
    {
        const std::unique_lock<std::mutex> tree = LockScanTree();
        int depth = 0;
        for (IFileNode* at = node; at != nullptr && depth < 512; at = at->GetParent(), ++depth) {
            const char* name = at->GetFileName();
            names.push_back(velmora::recovery::CleanPathComponent(name != nullptr ? name : ""));
        }
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        path += "/" + *it;
    VKOperationLock hold(m_lock);
    m_refusedPaths.push_back(path.empty() ? "/" : path);
    if (refused)
        ++m_refusedFiles;
}

// The destination is the user's folder and may hold anything: the list is
// a new file (never one that exists, never through a link), numbered when
// the name is taken, and it belongs to the user like the recovered files.
void VKUIRecovery::WriteRefusedList() {
    std::string text;
    std::string destination;
    {
        VKOperationLock hold(m_lock);
        for (const std::string& path : m_refusedPaths)
            text += path + "\n";
        destination = m_destination;
    }
    if (text.empty() || destination.empty())
        return;
    while (destination.size() > 1 && destination.back() == '/')
        destination.pop_back();
    // As the user, in the destination reached without following a link.
    velmora::platform::AsFileUser as;
    const int folder = velmora::platform::OpenFolderNoFollow(destination);
    if (folder < 0) {
        std::printf("===The list of files not recovered was not written: %s===\n",
                    std::strerror(errno));
        return;
    }
    for (int number = 0; number < 1000; ++number) {
        const std::string name = number == 0
                                     ? std::string(kRefusedListName)
                                     : velmora::bridge::NumberedName(kRefusedListName, number);
        const int fd = velmora::platform::CreateNewFileAt(folder, name, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            std::printf("===The list of files not recovered was not written: %s===\n",
                        std::strerror(errno));
            break;
        }
        struct stat made {};
        const bool known = ::fstat(fd, &made) == 0;
        const bool written = velmora::recovery::WriteAllAt(fd, text.data(), text.size(), 0) &&
                             velmora::platform::SyncDescriptor(fd) == 0;
        if (::close(fd) != 0 || !written) {
            if (known)
                velmora::platform::RemoveMadeFile(folder, name, made);
            break;
        }
        VKOperationLock hold(m_lock);
        m_refusedList = destination + "/" + name;
        break;
    }
    ::close(folder);
}
IFileNode* VKUIRecovery::GetCurrentRecoveryNode() {
    return m_currentNode;
}

void VKUIRecovery::SetCreateDirIndex(_tagSearcherType type, int number) {
    VKOperationLock hold(m_lock);
    m_folderNumbers[type] = number;
}

int VKUIRecovery::GetCreateDirIndex(_tagSearcherType type) {
    VKOperationLock hold(m_lock);
    auto it = m_folderNumbers.find(type);
    return it == m_folderNumbers.end() ? 0 : it->second;
}

void VKUIRecovery::ClearCreateDirIndex() {
    VKOperationLock hold(m_lock);
    m_folderNumbers.clear();
    ++m_folderGeneration;
}

VKRESULT VKUIRecovery::RecoverNode(IDataRecovery* recovery, IFileNode* node) {
    for (;;) {
        // What the copy and the path need of the node is taken under the
        // scan's tree lock; the folders are made and the data copied
        // without it.
        IFileReader* reader = nullptr;
        velmora::recovery::RecoveryPathBuilder::Place place;
        {
            const std::unique_lock<std::mutex> tree = LockScanTree();
            reader = recovery->SetRecoverNode(node);
            place = velmora::recovery::RecoveryPathBuilder::PlaceOf(node);
        }
        m_currentNode = node;
        {
            VKOperationLock hold(m_lock);
            m_currentName = place.name;
        }
        m_lastDone = 0;
        const std::string made =
            velmora::bridge::RecoveryFilePathByPlace(place, GetRecoveryPath(), *this);
        char* path = made.empty() ? nullptr : ::strdup(made.c_str());
        // A name that cannot be placed below the destination is not written
        // anywhere, and it is not among the files written.
        if (path == nullptr) {
            if (reader != nullptr)
                reader->Release();
            NoteRefused(node);
            return VK_ERROR(kModuleDataRecovery, kErrRecoveryNullArgument);
        }
        // Counted before the copy, so that the stopped window counts the
        // file a stop lets finish.
        ++m_recoveredFiles;
        m_pausedForRoom = false;
        const VKRESULT result = recovery->RecoverTo(path, this, 0);
        std::free(path);
        if (reader != nullptr)
            reader->Release();
        const uint32_t error = ResultFailed(result) ? ErrorNumber(result) : 0;
        if (error == kErrRecoveryWrite) {
            // A full destination paused the recovery and the engine removed
            // the partial file (the file count has let it go): once the user
            // has made room and resumes, the same file is written again, or
            // it would be missing from the result. Stopped there, the file
            // is one the user gave up, not one the recovery refused. Either
            // way its bytes are not among those recovered.
            m_recoveredSize -= std::min<uint64_t>(m_recoveredSize, m_lastDone);
            m_lastDone = 0;
            if (!m_pausedForRoom.exchange(false) || Continued() == 0)
                return result;
            continue;
        }
        // A file written with lost parts or without its dates is still a
        // file the user has; any other failure left no file behind, and
        // what its copy reported is not among the bytes recovered. A file
        // the user stopped inside is listed with the files not written,
        // but it is no refusal.
        if (error != 0 && error != kErrRecoveryIncomplete && error != kErrRecoveryTimes) {
            if (m_recoveredFiles > 0)
                --m_recoveredFiles;
            m_recoveredSize -= std::min<uint64_t>(m_recoveredSize, m_lastDone);
            m_lastDone = 0;
            NoteRefused(node, error != kErrRecoveryStopped);
        }
        return result;
    }
}

uint64_t VKUIRecovery::DoRecovery() {
    m_recoveredSize = 0;
    m_recoveredFiles = 0;
    m_refusedFiles = 0;
    {
        VKOperationLock hold(m_lock);
        m_refusedPaths.clear();
        m_refusedList.clear();
    }
    IRecoveryScanSource* scan = ScanSource();
    VKRESULT last = 0;
    if (scan != nullptr) {
        // The scanned device stays open until the last file is written.
        const std::shared_ptr<void> device = scan->HoldScannedDevice();
        scan->SetCurrentScanRecoveryCnt(scan->GetCurrentScanRecoveryCnt() + 1);
        const std::map<int, std::vector<IFileNode*>> types = scan->GetTypeMap();
        bool go = true;
        for (auto category = types.begin(); go && category != types.end(); ++category) {
            go = Continued() != 0;
            for (auto it = category->second.begin(); go && it != category->second.end(); ++it) {
                go = Continued() != 0;
                IFileNode* node = *it;
                if (!go || node == nullptr)
                    continue;
                bool ticked = false;
                {
                    const std::unique_lock<std::mutex> tree = LockScanTree();
                    ticked = node->IsNodeShow() != 0 && node->GetCheckedStatus() == 2;
                }
                if (!ticked)
                    continue;
                IDataRecovery* recovery = RecoveryFor(scan, node);
                // A ticked file nothing can read is counted, never dropped
                // without a word.
                if (recovery != nullptr)
                    last = RecoverNode(recovery, node);
                else
                    NoteRefused(node);
            }
        }
    }
    WriteRefusedList();
    SetNeedUIUpdate(1);
    SetStatus(VK_OP_IDLE);
    std::printf("========Recovery finished!==========\n");
    return last;
}

void VKUIRecovery::UpdateProgress(_PROGRESS_INFO* info) {
    if (info == nullptr)
        return;
    if (info->state == PROGRESS_REFRESH) {
        SetNeedUIUpdate(1);
        return;
    }
    const auto done = static_cast<uint64_t>(info->done);
    if (done > m_lastDone)
        m_recoveredSize += done - m_lastDone;
    m_lastDone = done;
    _PROGRESS_INFO kept{};
    kept.total = static_cast<long long>(m_totalSize.load());
    kept.done = static_cast<long long>(m_recoveredSize.load());
    // The window reads any code above 0 as a full destination and offers to
    // go on: a file written with lost parts (or without its dates) is no
    // reason to show that, and nothing has paused.
    const bool full = ErrorNumber(static_cast<uint64_t>(info->result)) == kErrRecoveryWrite;
    kept.result = full ? info->result : 0;
    SetProgressInfo(kept);
    if (m_currentNode != nullptr && info->done == info->total && info->total != 0) {
        std::string name;
        {
            VKOperationLock hold(m_lock);
            name = m_currentName;
        }
        std::printf("===Recvoeried file(%lld):%s=====\n",
                    static_cast<long long>(m_recoveredFiles.load()), name.c_str());
    }
    if (full) {
        // The engine removes the file the full destination cut: it is not
        // among the files written, and the counts say so before the pause
        // shows, since a stop from the no-space panel reads them at once.
        if (m_recoveredFiles > 0)
            --m_recoveredFiles;
        m_pausedForRoom = true;
        SetStatus(VK_OP_PAUSED);
    }
    SetNeedUIUpdate(1);
}

int VKUIRecovery::RecoveryPathIsSameDevice(const char* path) {
    return velmora::bridge::IsOnScannedDevice(CheckDestination(path).problem()) ? 1 : 0;
}

velmora::bridge::OutputDestination VKUIRecovery::CheckDestination(const char* path) {
    IRecoveryScanSource* scan = ScanSource();
    return velmora::bridge::OutputDestination::Choose(
        path != nullptr ? path : "",
        scan != nullptr ? scan->ScannedDeviceNumbers() : std::vector<dev_t>{});
}
