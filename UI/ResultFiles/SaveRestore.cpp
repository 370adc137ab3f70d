#include "SaveRestore.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "FileNode.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "IStorageDevice.h"
#include "RSData.h"
#include "RecoveryControllers.h"
#include "RecoveryOutput.h"
#include "RestoreNodes.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "SearcherRow.h"
#include "Utility/CatchExeception.h"
#include "platform/AppPaths.h"
#include "platform/UserFiles.h"

namespace SaveRestoreResult {

namespace {

constexpr int64_t kStepIntervalMs = 100;
// Kind and image of one stored partition record.
constexpr uint64_t kPartitionEntryBytes = 4 + CSearchedPartitionInfo::kImageSize;
// Nodes read before they are handed to the tree builder.
constexpr size_t kReplayBatch = 1024;
// The volume name the tree builder gives the roots of a device without one.
constexpr char kNamelessDeviceRoots[] = "Disk";

bool IsSectorSize(uint64_t size) {
    return size == 512 || size == 1024 || size == 2048 || size == 4096;
}

// ---------------------------------------------------------------------------
// Busy flag and progress

struct SharedState {
    std::mutex lock;
    ResultFilesGate::Operation busy = ResultFilesGate::kIdle;
    _PROGRESS_INFO info{};
    int64_t lastUpdateMs = 0;
    int errorCode = 0;
    LoadReport lastLoad;
};

SharedState& Shared() {
    static SharedState state;
    return state;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The record is handed over outside the lock: a sink may ask for progress
// again from inside UpdateProgress.
int Hand(IProgress* sink, const _PROGRESS_INFO& info) {
    if (sink == nullptr)
        return 0;
    auto copy = std::make_unique<_PROGRESS_INFO>(info);
    sink->UpdateProgress(copy.get());
    return 1;
}

}  // namespace

bool ResultFilesGate::TryBegin(Operation op) {
    SharedState& s = Shared();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.busy != kIdle || op == kIdle)
        return false;
    s.busy = op;
    return true;
}

void ResultFilesGate::End(Operation op) {
    SharedState& s = Shared();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.busy == op)
        s.busy = kIdle;
}

ResultFilesGate::Operation ResultFilesGate::Current() {
    SharedState& s = Shared();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.busy;
}

int IncProgress(IProgress* sink, bool finish, bool start) {
    SharedState& s = Shared();
    std::unique_lock<std::mutex> hold(s.lock);
    _PROGRESS_INFO& info = s.info;
    if (start) {
        s.errorCode = 0;
        std::memset(&info, 0, sizeof info);
        info.state = PROGRESS_RUNNING;
        info.total = 100;
        info.done = 5;
    } else if (finish) {
        info.state = PROGRESS_FINISHED;
        info.result = static_cast<uint64_t>(static_cast<int64_t>(s.errorCode));
        info.done = info.total;
    } else {
        info.result = 0;
        const int64_t now = NowMs();
        if (now - s.lastUpdateMs < kStepIntervalMs)
            return 0;
        s.lastUpdateMs = now;
        if (info.done + 2 < info.total)
            ++info.done;
    }
    const _PROGRESS_INFO copy = info;
    hold.unlock();
    return Hand(sink, copy);
}

void TipError(IProgress* sink, int code) {
    _PROGRESS_INFO info{};
    info.state = PROGRESS_FINISHED;
    info.total = 100;
    info.done = 100;
    info.result = static_cast<uint64_t>(static_cast<int64_t>(code));
    {
        SharedState& s = Shared();
        std::lock_guard<std::mutex> hold(s.lock);
        s.errorCode = code;
    }
    Hand(sink, info);
}

int CurrentErrorCode() {
    SharedState& s = Shared();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.errorCode;
}

namespace {

void SetLastLoadReport(const LoadReport& report) {
    SharedState& s = Shared();
    std::lock_guard<std::mutex> hold(s.lock);
    s.lastLoad = report;
}

}  // namespace

LoadReport LastLoadReport() {
    SharedState& s = Shared();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.lastLoad;
}

// ---------------------------------------------------------------------------
// Saving

namespace {

// A step per record; the shared record is looked at every few hundred of
// them (it takes no more than one update per 100 ms anyway).
void Step(IProgress* progress) {
    thread_local unsigned steps = 0;
    if (progress != nullptr && (++steps & 0xFF) == 1)
        IncProgress(progress, false, false);
}

bool GoOn(IProgress* progress) {
    return progress == nullptr || progress->Continued() != 0;
}

// A file's valid data length where it ends before the file's size, or -1.
long long ValidLengthBelowSize(IFileNode* node) {
    auto* file = dynamic_cast<CFileNode*>(node);
    if (file == nullptr || node->IsDirectory())
        return -1;
    const long long valid = file->GetValidDataLength();
    return valid >= 0 && valid < node->GetFileSize() ? valid : -1;
}

// The node frame: the roots, each with its found partitions and its tree
// breadth first. False when the user stopped it. The nodes whose data ends
// before their size (past it the file system defines zeros) go to
// `validLengths`, for the frame that keeps what the node record cannot.
bool WriteNodeFrame(FrameWriter& out, const std::vector<SavedRoot>& roots, IProgress* progress,
                    std::vector<ValidLengthEntry>* validLengths, std::mutex* nodeLock) {
    out.I64(static_cast<int64_t>(roots.size()));
    int64_t record = 0;
    uint8_t image[CSearchedPartitionInfo::kImageSize];
    for (const SavedRoot& saved : roots) {
        if (!GoOn(progress))
            return false;
        out.I32(1);
        {
            std::unique_lock<std::mutex> hold;
            if (nodeLock != nullptr)
                hold = std::unique_lock<std::mutex>(*nodeLock);
            WriteSystemNode(saved.root, out);
        }
        Step(progress);
        out.I32(static_cast<int32_t>(saved.partitions.size()));
        for (CSearchedPartitionInfo* partition : saved.partitions) {
            out.I32(partition->GetType());
            partition->ToImage(image);
            out.Bytes(image, sizeof image);
            CatchExeception::WriteLog(
                "%s:%d partition index:%d fileSystemType%d start:%lld end:%lld\n", __func__,
                __LINE__, partition->partitionIndex, partition->fileSystemType,
                partition->startSector, partition->startSector + partition->totalSectors);
        }
        std::deque<IFileNode*> queue{saved.root};
        bool stopped = false;
        // Each folder's records are copied (under the lock, when there is
        // one) and written after it is let go: a write may wait for the disk.
        std::vector<std::pair<FileNodeRecord, long long>> records;
        while (!queue.empty() && !stopped) {
            IFileNode* parent = queue.front();
            queue.pop_front();
            records.clear();
            {
                std::unique_lock<std::mutex> hold;
                if (nodeLock != nullptr)
                    hold = std::unique_lock<std::mutex>(*nodeLock);
                for (IFileNode* child = parent->GetFirstChild(); child != nullptr;
                     child = child->GetNextNode()) {
                    if (child->IsDirectory())
                        queue.push_back(child);
                    records.emplace_back(FileNodeRecordOf(child), ValidLengthBelowSize(child));
                }
            }
            for (const auto& [node, valid] : records) {
                out.I32(0);
                WriteFileNodeRecord(node, out);
                if (valid >= 0)
                    validLengths->push_back({record, valid});
                ++record;
                Step(progress);
                if (!GoOn(progress)) {
                    stopped = true;
                    break;
                }
            }
        }
        out.I32(-1);
        Step(progress);
        if (stopped)
            return false;
    }
    return true;
}

// Writes one frame through `fill`; false when a write failed. The frame's
// length and CRC go to `checks` when given.
template <typename Fill>
bool WriteFrame(IRSData& archive, const tagGUIDSIGN& id, Fill fill,
                std::vector<FrameCheck>* checks = nullptr) {
    archive.OpenFrame(id);
    FrameWriter out(&archive);
    const bool whole = fill(out);
    const bool written = out.Flush();
    archive.CloseFrame();
    if (checks != nullptr) {
        FrameCheck check;
        std::memcpy(check.id, id.bytes, sizeof check.id);
        check.length = static_cast<uint32_t>(out.Written());
        check.crc = out.Crc();
        checks->push_back(check);
    }
    return written && whole;
}

// The absolute form of a path the user gave.
std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char* here = ::getcwd(nullptr, 0);
    if (here == nullptr)
        return {};
    std::string out = std::string(here) + "/" + path;
    std::free(here);
    return out;
}

int RunSave(const std::string& path, IProgress* progress, IScanResultSource* source) {
    IncProgress(progress, false, true);
    CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
    int code = kResultOk;
    bool cancelled = false;
    // The result is written as the invoking user to a new file beside the
    // chosen one, which it replaces only once it is whole and on the disk:
    // a full disk, a stop or a failure leaves an older result as it was.
    // Never through a link, never into a device node.
    velmora::platform::ReplacingFile file;
    auto archive = std::make_unique<CRSData>(kRSWrite);
    const std::string target = AbsolutePath(path);
    const int fd =
        !target.empty() && file.Begin(target, 0644) ? ::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0) : -1;
    if (fd < 0 || !archive->StartRSOnDescriptor(fd, target.c_str())) {
        CatchExeception::WriteLog("%s %d cannot write [%s]: %s\r\n", __func__, __LINE__,
                                  path.c_str(), std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        code = kResultCannotOpen;
    } else {
        Step(progress);
        try {
            FILEHEADER header;
            header.status = 1;
            header.descriptionLength = 0;
            MarkFrameChecks(header);
            std::vector<FrameCheck> checks;
            bool ok = archive->WriteFileHeader(header) != 0;
            Step(progress);
            ok = ok && WriteFrame(
                           *archive, frFileSystemSearchControllerList,
                           [&](FrameWriter& out) {
                               WriteScanKind(out, source->ScanKind());
                               return true;
                           },
                           &checks);
            Step(progress);
            ok = ok && WriteFrame(
                           *archive, frDiskDevice,
                           [&](FrameWriter& out) {
                               WriteDeviceRecord(out, source->DeviceRecord());
                               return true;
                           },
                           &checks);
            Step(progress);
            std::vector<ValidLengthEntry> validLengths;
            ok = ok && WriteFrame(
                           *archive, frFileSystemNode,
                           [&](FrameWriter& out) {
                               if (WriteNodeFrame(out, source->Roots(), progress, &validLengths,
                                                  source->NodeLock()))
                                   return true;
                               cancelled = true;
                               return false;
                           },
                           &checks);
            ok = ok && WriteFrame(
                           *archive, frValidDataLengths,
                           [&](FrameWriter& out) {
                               WriteValidLengths(out, validLengths);
                               return true;
                           },
                           &checks);
            ok = ok && WriteFrame(*archive, frFrameChecks, [&](FrameWriter& out) {
                     WriteFrameChecks(out, checks);
                     return true;
                 });
            if (!ok && !cancelled)
                code = kResultCannotOpen;
        } catch (const CRSException& e) {
            CatchExeception::WriteLog("%s %d archive error %d\r\n", __func__, __LINE__,
                                      e.GetErrorcode());
            code = kResultCannotOpen;
        } catch (const std::bad_alloc&) {
            code = kResultCannotOpen;
        }
        // A file whose frames were not all written is not left behind
        // as if it were a result.
        if (archive->EndRS() == 0 && code == kResultOk && !cancelled)
            code = kResultCannotOpen;
        // A result is saved when it is on the disk: a failure the system
        // meets while writing it back is reported, not lost.
        if (code == kResultOk && !cancelled && !file.Commit()) {
            CatchExeception::WriteLog("%s %d [%s] not saved: %s\r\n", __func__, __LINE__,
                                      path.c_str(), std::strerror(errno));
            code = kResultCannotOpen;
        }
    }
    // Anything not committed is the save's own new file, removed here.
    file.Abandon();
    if (cancelled && code == kResultOk)
        code = kResultCancelled;
    if (code != kResultOk)
        TipError(progress, code);
    CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
    IncProgress(progress, true, false);
    return code;
}

}  // namespace

// ---------------------------------------------------------------------------
// Finding the device

namespace {

// Opens `path` for reading with the rights of the user who started the
// program and gives the file's status. The program runs as root: an image
// named by a result file (which may come from anyone) is read only when
// that user could have read it. The opening runs on a thread of its own
// whose file-system ids and groups are the user's (the raw calls change
// only the calling thread), so no other thread ever reads with them. Root
// started directly reads with its own rights; a program started for a
// user who cannot be found reads nothing.
bool InvokingUserMayRead(const char* path, struct stat* st) {
    auto openAndStat = [path, st] {
        // A pipe named as an image would block the open.
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            return false;
        const bool ok = ::fstat(fd, st) == 0;
        ::close(fd);
        return ok;
    };
    const bool invoked = std::getenv("PKEXEC_UID") != nullptr || std::getenv("SUDO_UID") != nullptr;
    if (::geteuid() != 0 || !invoked)
        return openAndStat();
    uid_t uid = 0;
    gid_t gid = 0;
    if (!velmora::platform::InvokingUserIds(&uid, &gid))
        return false;
    if (uid == 0)
        return openAndStat();
    std::vector<gid_t> groups(64);
    {
        long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
        struct passwd pw {};
        struct passwd* found = nullptr;
        int count = static_cast<int>(groups.size());
        if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
            ::getgrouplist(found->pw_name, gid, groups.data(), &count) == -1) {
            groups.resize(static_cast<size_t>(count));
            ::getgrouplist(found->pw_name, gid, groups.data(), &count);
        }
        groups.resize(found != nullptr ? static_cast<size_t>(std::max(count, 0)) : 0);
        if (groups.empty())
            groups.push_back(gid);
    }
    bool readable = false;
    std::thread([&] {
        // Groups, then group, then user: once the file-system uid is not
        // root the thread no longer reads past permissions.
        if (::syscall(SYS_setgroups, groups.size(), groups.data()) != 0)
            return;
        ::syscall(SYS_setfsgid, gid);
        ::syscall(SYS_setfsuid, uid);
        if (static_cast<uid_t>(::syscall(SYS_setfsuid, -1)) != uid)
            return;
        readable = openAndStat();
    }).join();
    return readable;
}

}  // namespace

bool CheckStoredDmgRecord(const CDMGDeviceInfoStruct& info) {
    const size_t n = strnlen(info.filePath, sizeof info.filePath);
    if (n == 0 || n == sizeof info.filePath || info.filePath[0] != '/')
        return false;
    struct stat st {};
    if (!InvokingUserMayRead(info.filePath, &st) || !S_ISREG(st.st_mode))
        return false;
    if (!IsSectorSize(info.sectorSize) || info.fileSize != st.st_size || info.fileSize < 0)
        return false;
    unsigned long long bytes = 0;
    if (__builtin_mul_overflow(info.totalSectors, info.sectorSize, &bytes) ||
        __builtin_add_overflow(bytes, info.dataOffset, &bytes))
        return false;
    return bytes <= static_cast<unsigned long long>(info.fileSize);
}

bool CheckStoredEdiRecord(const CEDIDeviceInfoStruct& info, const std::string& ediPath) {
    if (ediPath.empty())
        return false;
    struct stat st {};
    if (!InvokingUserMayRead(ediPath.c_str(), &st) || !S_ISREG(st.st_mode))
        return false;
    const uint64_t sector = static_cast<uint32_t>(info.sectorSize);
    if (!IsSectorSize(sector) || info.totalSectors < 0 || info.dataOffset < 0)
        return false;
    long long bytes = 0;
    if (__builtin_mul_overflow(info.totalSectors, static_cast<long long>(sector), &bytes) ||
        __builtin_add_overflow(bytes, info.dataOffset, &bytes))
        return false;
    return bytes <= st.st_size;
}

IStorageDevice* GetFromDiskVolumeData(const DiskVolumeRecord& record, const std::string& ediPath,
                                      const std::string& resultPath,
                                      IResultDeviceCatalogue* catalogue) {
    if (catalogue == nullptr)
        return nullptr;
    if (record.edi != 0) {
        if (!record.ediInfo || !CheckStoredEdiRecord(*record.ediInfo, ediPath))
            return nullptr;
        return catalogue->StorageByEdiInfo(*record.ediInfo, ediPath);
    }
    if (record.diskImage != 0) {
        if (!record.dmgInfo || !CheckStoredDmgRecord(*record.dmgInfo))
            return nullptr;
        return catalogue->StorageByDmgInfo(*record.dmgInfo, resultPath);
    }
    const std::vector<CatalogueEntry> entries = catalogue->Entries();
    // Where it was, when it still has the stored size.
    for (const CatalogueEntry& e : entries) {
        if (e.diskIndex == record.diskIndex && e.volumeIndex == record.volumeIndex &&
            e.size == record.size) {
            if (IStorageDevice* device = catalogue->StorageAt(e.diskIndex, e.volumeIndex))
                return device;
        }
    }
    // Renumbered: never by name alone, file system and size must match too.
    for (const CatalogueEntry& e : entries) {
        if (e.name == record.name && e.fileSystem == record.fileSystem && e.size == record.size) {
            if (IStorageDevice* device = catalogue->StorageAt(e.diskIndex, e.volumeIndex))
                return device;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Loading

namespace {

class FrameOpen {
public:
    // False when the frame is missing or cannot be read.
    static bool Open(IRSData& archive, const tagGUIDSIGN& id) {
        try {
            return archive.OpenFrame(id) != 0;
        } catch (const CRSException&) {
            return false;
        }
    }
    static void Close(IRSData& archive) {
        try {
            archive.CloseFrame();
        } catch (const CRSException&) {
        }
    }
};

int ReadHeadFrames(IRSData& archive, IProgress* progress, ScanKindRecord* kind,
                   DiskVolumeRecord* device) {
    FILEHEADER header;
    if (archive.ReadFileHeader(header) == 0 || header.status < 1 || header.status > 4)
        return kResultBadHeader;
    Step(progress);
    // A file that carries checks over its frames is read only when every
    // frame still matches: a flipped byte would otherwise load as another
    // device or another tree, and its files be recovered from wrong places.
    if (HasFrameChecks(header) && !FramesMatchTheirChecks(archive)) {
        CatchExeception::WriteLog("%s %d frames do not match their checks\r\n", __func__, __LINE__);
        return kResultDamaged;
    }
    if (!FrameOpen::Open(archive, frFileSystemSearchControllerList))
        return kResultNoScanKind;
    Step(progress);
    {
        FrameReader in(&archive);
        if (int code = ReadScanKind(in, kind); code != kResultOk)
            return code;
    }
    FrameOpen::Close(archive);
    Step(progress);
    if (!FrameOpen::Open(archive, frDiskDevice))
        return kResultBadDevice;
    Step(progress);
    {
        FrameReader in(&archive);
        if (int code = ReadDeviceRecord(in, device); code != kResultOk)
            return code;
    }
    FrameOpen::Close(archive);
    Step(progress);
    return kResultOk;
}

// The valid data lengths the file keeps beside its node records; none in
// files of earlier versions. False for a frame that cannot be such a list:
// its nodes would be read past the bytes they hold, or short of them.
bool ReadValidLengthFrame(IRSData& archive, std::vector<ValidLengthEntry>* entries) {
    entries->clear();
    if (!FrameOpen::Open(archive, frValidDataLengths))
        return true;
    bool ok = false;
    {
        FrameReader in(&archive);
        ok = ReadValidLengths(in, entries);
    }
    FrameOpen::Close(archive);
    return ok;
}

int RunRestore(const std::string& path, IProgress* progress, const std::string& ediPath,
               IResultDeviceCatalogue* catalogue, IResultScanRunner* runner) {
    if (runner != nullptr)
        runner->ClearData();
    RestoredVolumeCache::Clear();
    IncProgress(progress, false, true);
    CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
    int code = kResultOk;
    LoadReport report;
    try {
        // Only a regular file is read: a device node or a pipe named as a
        // result file would be read as root, or never end.
        struct stat st {};
        auto archive = std::make_unique<CRSData>(kRSRead);
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            !archive->StartRS(path.c_str(), 0)) {
            code = kResultCannotOpen;
        } else {
            Step(progress);
            ScanKindRecord kind;
            DiskVolumeRecord record;
            code = ReadHeadFrames(*archive, progress, &kind, &record);
            report.checkFailed = code == kResultDamaged;
            std::vector<ValidLengthEntry> validLengths;
            if (code == kResultOk && !ReadValidLengthFrame(*archive, &validLengths)) {
                CatchExeception::WriteLog("%s %d valid-length frame damaged\r\n", __func__,
                                          __LINE__);
                code = kResultDamaged;
            }
            IStorageDevice* device = nullptr;
            if (code == kResultOk) {
                device = GetFromDiskVolumeData(record, ediPath, path, catalogue);
                if (device == nullptr)
                    code = record.edi != 0 ? kResultNoEdiDevice : kResultNoDevice;
            }
            if (code == kResultOk && runner == nullptr)
                code = kResultNoDevice;
            if (code == kResultOk) {
                Step(progress);
                runner->SetImageResult(record.diskImage != 0 && record.dmgInfo ? 1 : 0,
                                       record.edi != 0 && record.ediInfo ? 1 : 0);
                CRestoreScanSink sink(archive.get());
                sink.SetLoadProgress(progress);
                sink.SetValidLengths(std::move(validLengths));
                runner->Replay(device, kind, &sink);
                const CRestoreScanSink::Outcome& o = sink.GetOutcome();
                report.recordsDropped = o.recordsDropped;
                report.nodesKept = o.nodesReplayed;
                report.cutShort = o.damaged;
                // What failed its checks was left out: the load says so
                // rather than passing for whole.
                if (o.damaged || o.recordsDropped > 0)
                    code = kResultDamaged;
                else if (!o.stopped && o.rootsReplayed == 0)
                    code = kResultNoDevice;
            }
            archive->EndRS();
        }
    } catch (const CRSException& e) {
        CatchExeception::WriteLog("%s %d archive error %d\r\n", __func__, __LINE__,
                                  e.GetErrorcode());
        code = kResultDamaged;
    } catch (const std::bad_alloc&) {
        code = kResultDamaged;
    }
    report.code = code;
    if (report.recordsDropped > 0)
        CatchExeception::WriteLog("%s %d %lld damaged records left out\r\n", __func__, __LINE__,
                                  report.recordsDropped);
    // Told before the finishing record, which is what the windows wait for.
    SetLastLoadReport(report);
    if (code != kResultOk)
        TipError(progress, code);
    CatchExeception::WriteLog("%s %d code %d\r\n", __func__, __LINE__, code);
    IncProgress(progress, true, false);
    return code;
}

}  // namespace

namespace {

// The finishing record of a save or a load is what tells the windows they
// may start the next one; it reaches the caller's sink only after the busy
// flag is free again, or a load begun on it would be refused. Whatever else
// the operation reports passes at once. Used on the operation's own thread.
class FinishAfterRelease final : public IProgress {
public:
    explicit FinishAfterRelease(IProgress* sink) : sink_(sink) {}

    void UpdateProgress(_PROGRESS_INFO* info) override {
        if (info != nullptr && info->state == PROGRESS_FINISHED) {
            // A failure's record and the end's carry the same code.
            finished_ = *info;
            held_ = true;
            return;
        }
        if (sink_ != nullptr)
            sink_->UpdateProgress(info);
    }
    int Continued() override { return sink_ != nullptr ? sink_->Continued() : 1; }
    int shouldBuild() override { return sink_ != nullptr ? sink_->shouldBuild() : 1; }
    IProgress* Sink() { return sink_ != nullptr ? this : nullptr; }

    void Deliver() {
        if (held_)
            Hand(sink_, finished_);
        held_ = false;
    }

private:
    IProgress* sink_;
    _PROGRESS_INFO finished_{};
    bool held_ = false;
};

// Runs `body` under the flag `op` already taken, gives the flag back and
// then hands the finishing record on.
template <typename Body>
int RunHeld(ResultFilesGate::Operation op, IProgress* progress, Body& body) {
    FinishAfterRelease sink(progress);
    const int code = body(sink.Sink());
    ResultFilesGate::End(op);
    sink.Deliver();
    return code;
}

}  // namespace

int SaveScanResult(const std::string& path, IProgress* progress, IScanResultSource* source) {
    if (path.empty() || source == nullptr)
        return kResultCannotOpen;
    if (!ResultFilesGate::TryBegin(ResultFilesGate::kSaving))
        return kResultBusy;
    auto body = [&](IProgress* sink) { return RunSave(path, sink, source); };
    return RunHeld(ResultFilesGate::kSaving, progress, body);
}

int RestoreScanResult(const std::string& path, IProgress* progress, const std::string& ediPath,
                      IResultDeviceCatalogue* catalogue, IResultScanRunner* runner) {
    if (!ResultFilesGate::TryBegin(ResultFilesGate::kLoading))
        return kResultBusy;
    auto body = [&](IProgress* sink) { return RunRestore(path, sink, ediPath, catalogue, runner); };
    return RunHeld(ResultFilesGate::kLoading, progress, body);
}

namespace {

std::mutex gThreadsLock;
// Joined at the latest when the process ends.
struct ResultThreads {
    std::list<std::thread> list;
    ~ResultThreads() {
        for (std::thread& thread : list)
            if (thread.joinable())
                thread.join();
    }
};
ResultThreads gResultThreads;
std::list<std::thread>& gThreads = gResultThreads.list;

// Starts `body` on a thread of its own with the flag already taken; the flag
// is given back when the body ends (before its finishing record), or at once
// when no thread could be made. Nobody waits for the thread while it runs,
// but shutdown does (JoinResultFileThreads): a save is never cut off midway
// by the process ending.
template <typename Body>
int StartDetached(ResultFilesGate::Operation op, IProgress* progress, Body body) {
    if (!ResultFilesGate::TryBegin(op))
        return -3;
    std::lock_guard<std::mutex> hold(gThreadsLock);
    try {
        gThreads.emplace_back();
    } catch (const std::exception&) {
        ResultFilesGate::End(op);
        return -2;
    }
    try {
        gThreads.back() = std::thread(
            [op, progress, body = std::move(body)]() mutable { RunHeld(op, progress, body); });
    } catch (const std::exception&) {
        gThreads.pop_back();
        ResultFilesGate::End(op);
        return -2;
    }
    return 0;
}

}  // namespace

void JoinResultFileThreads() {
    std::list<std::thread> threads;
    {
        std::lock_guard<std::mutex> hold(gThreadsLock);
        threads.swap(gThreads);
    }
    for (std::thread& thread : threads)
        if (thread.joinable())
            thread.join();
}

int DoSaveScanResult(const char* path, IProgress* progress, IScanResultSource* source) {
    if (path == nullptr || *path == '\0' || progress == nullptr || source == nullptr)
        return -1;
    return StartDetached(
        ResultFilesGate::kSaving, progress,
        [p = std::string(path), source](IProgress* sink) { return RunSave(p, sink, source); });
}

int DoRestoreScanResult(const char* path, IProgress* progress, const char* ediPath,
                        IResultDeviceCatalogue* catalogue, IResultScanRunner* runner) {
    if (path == nullptr || *path == '\0' || progress == nullptr || catalogue == nullptr ||
        runner == nullptr)
        return -1;
    // The edi path is copied: the caller's string need not outlive the call.
    return StartDetached(
        ResultFilesGate::kLoading, progress,
        [p = std::string(path), e = std::string(ediPath ? ediPath : ""), catalogue,
         runner](IProgress* sink) { return RunRestore(p, sink, e, catalogue, runner); });
}

// ---------------------------------------------------------------------------
// Replay

namespace {

// The types of the searchers this program was built with; a file system
// added later is known by its installed row.
bool IsSearcherType(int32_t type) {
    return (type >= SEARCHER_HFSPLUS && type <= SEARCHER_APFS) ||
           vk::FindTreeRules(type) != nullptr;
}

// A stored partition record is used only when its geometry can be read by.
bool PlausiblePartition(const CSearchedPartitionInfo& p) {
    return IsSectorSize(p.sectorSize) && p.sectorsPerCluster <= (1u << 21) && p.startSector >= 0 &&
           p.totalSectors >= 0 && p.runOriginSector >= 0;
}

// A run that would read outside the device cannot be the file's data: it is
// kept as lost, so the file is recovered as incomplete rather than filled
// from elsewhere. False when the record cannot be a node at all.
bool CheckNodeRecord(FileNodeRecord& r, const std::vector<CSearchedPartitionInfo*>& partitions,
                     IStorageDevice* device, bool* runsMoved) {
    *runsMoved = false;
    // No tree holds a file of negative size or a node that is its own
    // parent: such a record is damaged. The one node of that shape a tree
    // does hold is the tree builder's own folder of lost files (-1 under
    // -1), which it makes again as the nodes come.
    const bool lostFilesFolder = r.id == -1 && r.parentId == -1 && r.directory != 0;
    if (r.size < 0 || (r.id == r.parentId && !lostFilesFolder))
        return false;
    if (r.runs.empty() || r.resident != 0 || partitions.empty())
        return true;
    const CSearchedPartitionInfo* partition = partitions.front();
    for (const CSearchedPartitionInfo* p : partitions) {
        if (static_cast<uint16_t>(p->partitionIndex) == r.partitionIndex) {
            partition = p;
            break;
        }
    }
    const long long deviceSector = device->GetSectorSize() > 0 ? device->GetSectorSize() : 512;
    long long deviceBytes = 0, origin = 0;
    const long long unit =
        static_cast<long long>(partition->sectorsPerCluster) * partition->sectorSize;
    if (unit <= 0 ||
        __builtin_mul_overflow(device->GetTotalSectors(), deviceSector, &deviceBytes) ||
        __builtin_mul_overflow(partition->runOriginSector, deviceSector, &origin))
        return true;
    for (DataRun& run : r.runs) {
        if (run.start < 0 || run.length <= 0)
            continue;
        long long end = 0;
        if (__builtin_add_overflow(run.start, run.length, &end) ||
            __builtin_mul_overflow(end, unit, &end) || __builtin_add_overflow(end, origin, &end) ||
            end > deviceBytes) {
            run.start = kLostRunStart;
            *runsMoved = true;
        }
    }
    return true;
}

}  // namespace

CRestoreScanSink::~CRestoreScanSink() {
    ClearMapCell();
}

int CRestoreScanSink::ClearMapCell() {
    for (auto& [type, records] : partitions_) {
        for (CSearchedPartitionInfo* r : records)
            delete r;
        records.clear();
    }
    partitions_.clear();
    return 0;
}

std::vector<CSearchedPartitionInfo*>& CRestoreScanSink::GetSearchedPartition(int searcherType) {
    return partitions_[searcherType];
}

void CRestoreScanSink::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                               IStorageDevice* device) {
    outcome_ = Outcome{};
    outcome_.ran = true;
    if (builder == nullptr || device == nullptr || archive_ == nullptr)
        return;
    auto goOn = [&]() {
        if (!GoOn(progress) || !GoOn(loadProgress_)) {
            outcome_.stopped = true;
            return false;
        }
        return true;
    };

    // A whole disk and an image replay every root; a volume only the roots
    // saved under its name. A volume without a label (common on Linux) is
    // no reason to replay nothing: the device itself was matched by its
    // place and size, and its roots were saved under the name the tree
    // builder gives a nameless device.
    const std::string liveName = DeviceDescription(device);
    const int deviceType = device->GetType();
    const bool everyRoot = (liveName.empty() && deviceType == kDeviceDisk) ||
                           deviceType == kDeviceDiskImage || deviceType == kDeviceEdiImage;
    const std::string rootsName = liveName.empty() ? kNamelessDeviceRoots : liveName;

    if (!FrameOpen::Open(*archive_, frFileSystemNode)) {
        outcome_.damaged = true;
        return;
    }
    ClearMapCell();
    FrameReader in(archive_);
    int64_t rootCount = 0;
    if (!in.I64(&rootCount) || rootCount < 0) {
        outcome_.damaged = true;
        FrameOpen::Close(*archive_);
        return;
    }
    outcome_.rootsInFile = rootCount;
    Step(loadProgress_);
    // The valid-length entries follow the node records in file order.
    int64_t recordIndex = 0;
    size_t nextValid = 0;

    bool end = false;
    for (int64_t i = 0; i < rootCount && !end && goOn(); ++i) {
        int32_t marker = 0;
        SystemNodeRecord system;
        // Fewer roots than announced: a file cut short.
        if (!in.I32(&marker) || marker != 1 ||
            ReadSystemNodeRecord(in, &system) != RecordRead::kOk) {
            outcome_.damaged = true;
            break;
        }
        ++outcome_.rootsRead;
        const auto type = static_cast<_tagSearcherType>(system.searcherType);
        const bool replayed =
            IsSearcherType(system.searcherType) && (everyRoot || system.volumeName == rootsName);
        if (!IsSearcherType(system.searcherType))
            ++outcome_.recordsDropped;
        if (replayed) {
            builder->AddSearcherInfo(type, system.node.id);
            ++outcome_.rootsReplayed;
            Step(loadProgress_);
            if (type == SEARCHER_HFSPLUS && RestoredVolumeCache::Find(type) == nullptr) {
                std::unique_ptr<hfsplus::CHFSPlusVolume> volume = OpenRestoredHfsVolume(device);
                RestoredVolumeCache::Offer(type, volume);
            }
        }

        // Every entry is consumed, kept or not.
        int32_t partitionCount = 0;
        if (!in.I32(&partitionCount) || partitionCount < 0 ||
            static_cast<uint64_t>(partitionCount) * kPartitionEntryBytes > in.Remaining()) {
            outcome_.damaged = true;
            end = true;
            partitionCount = 0;
        }
        std::vector<CSearchedPartitionInfo*> rootPartitions;
        for (int32_t p = 0; p < partitionCount; ++p) {
            int32_t kind = 0;
            uint8_t image[CSearchedPartitionInfo::kImageSize];
            if (!in.I32(&kind) || !in.Bytes(image, sizeof image)) {
                outcome_.damaged = true;
                end = true;
                break;
            }
            auto record = std::make_unique<CSearchedPartitionInfo>(512);
            if (kind < 0 || kind > 4 || !record->FromImage(image, sizeof image) ||
                !PlausiblePartition(*record)) {
                ++outcome_.recordsDropped;
                continue;
            }
            if (replayed) {
                // Compressed HFS+ files are read through their partition's
                // own volume.
                if (type == SEARCHER_HFSPLUS)
                    record->fileSystemContext =
                        RestoredVolumeCache::OpenForPartition(device, *record);
                rootPartitions.push_back(record.get());
                partitions_[type].push_back(record.release());
            }
        }

        // Nodes are read a batch at a time and then handed over one by one,
        // which keeps the builder's working set warm; a stop still ends
        // after the node being handed, and what was read beyond it goes.
        FileNodeRecord record;
        std::vector<RestoreFileNode*> batch;
        auto handOver = [&]() {
            size_t i = 0;
            for (; i < batch.size(); ++i) {
                if (builder->AddNode(batch[i], type) != 0)
                    ++outcome_.nodesReplayed;
                else
                    batch[i]->Release();
                Step(loadProgress_);
                if (!goOn()) {
                    end = true;
                    ++i;
                    break;
                }
            }
            for (; i < batch.size(); ++i)
                batch[i]->Release();
            batch.clear();
        };
        while (!end) {
            if (!in.I32(&marker) || (marker != 0 && marker != -1)) {
                outcome_.damaged = true;
                break;
            }
            if (marker == -1)
                break;
            if (ReadFileNodeRecord(in, &record) != RecordRead::kOk) {
                outcome_.damaged = true;
                break;
            }
            const int64_t thisRecord = recordIndex++;
            long long validLength = -1;
            while (nextValid < validLengths_.size() && validLengths_[nextValid].record < thisRecord)
                ++nextValid;
            if (nextValid < validLengths_.size() && validLengths_[nextValid].record == thisRecord)
                validLength = validLengths_[nextValid].length;
            if (!replayed)
                continue;
            bool runsMoved = false;
            if (!CheckNodeRecord(record, rootPartitions, device, &runsMoved)) {
                ++outcome_.recordsDropped;
                continue;
            }
            auto* node = new RestoreFileNode(record);
            if (runsMoved)
                node->MarkDamaged();
            node->SetValidDataLength(validLength);
            batch.push_back(node);
            if (batch.size() == kReplayBatch)
                handOver();
        }
        handOver();
        if (outcome_.damaged)
            end = true;
        if (replayed)
            builder->FlashBuild(type);
    }
    FrameOpen::Close(*archive_);
}

}  // namespace SaveRestoreResult
