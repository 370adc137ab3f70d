#include "DataRecovery.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FileNode.h"
#include "RecoveryOutput.h"
#include "RecoveryWriter.h"
#include "ReleasePtr.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "SearcherRow.h"
#include "Utility/CatchExeception.h"
#include "Utility/MessageCenter.h"

using namespace velmora::recovery;

namespace {

VKRESULT Err(uint32_t line, uint32_t error) {
    return MakeResult(kModuleDataRecovery, line, error);
}

void Report(IProgress* progress, _PROGRESS_INFO& info) {
    if (progress)
        progress->UpdateProgress(&info);
}

// Tells the interface, through the event relay, that a file came back
// incomplete.
void ReportIncomplete(const char* path, long long lostBytes, long long size) {
    const size_t length = std::strlen(path);
    std::vector<uint8_t> payload(16 + length + 1, 0);
    std::memcpy(payload.data(), &lostBytes, 8);
    std::memcpy(payload.data() + 8, &size, 8);
    std::memcpy(payload.data() + 16, path, length);
    if (payload.size() <= static_cast<size_t>(INT32_MAX))
        CMessageCenter::Instance()->PushEvent(kEventFileIncomplete,
                                              static_cast<int>(payload.size()), payload.data());
}

// Smallest power of two p (2 <= p <= 2^24) with p/2 < d <= p; 0 when none.
long long PowerOfTwoAbove(long long d) {
    for (long long p = 2; p <= (1LL << 24); p <<= 1)
        if (p / 2 < d && d <= p)
            return p;
    return 0;
}

bool RunsInside(CFileNode* node, const CSearchedPartitionInfo* rec, long long* clusters) {
    IDataRunList* list = node->GetDataRunList();
    if (!list)
        return false;
    const long long spc = rec->sectorsPerCluster;
    const long long first = rec->startSector;
    long long last = 0;
    if (__builtin_add_overflow(first, rec->totalSectors, &last))
        return false;
    long long total = 0;
    size_t count = 0;
    for (const DataRun* r = list->GetFirst(); r; r = list->GetNext()) {
        if (++count > kMaxReaderRuns)
            return false;
        if (r->start < 0 || r->length <= 0)
            continue;
        long long a = 0, b = 0, end = 0;
        if (__builtin_mul_overflow(spc, r->start, &a) ||
            __builtin_add_overflow(r->start, r->length, &end) ||
            __builtin_mul_overflow(spc, end, &b))
            return false;
        if (a < first || b - 1 > last)
            return false;
        if (__builtin_add_overflow(total, r->length, &total))
            return false;
    }
    *clusters = total;
    return count > 0;
}

}  // namespace

IDataRecovery* CreateDataRecoveryObj() {
    return new CDataRecovery();
}

VKRESULT InitializeDataRecoveryFromRecords(IDataRecovery* recovery,
                                           const std::vector<CSearchedPartitionInfo*>& records,
                                           IStorageDevice* device) {
    auto* ours = dynamic_cast<CDataRecovery*>(recovery);
    if (ours == nullptr)
        return VK_ERROR(kModuleDataRecovery, kErrNotSupported);
    return ours->Initialize(records, device);
}

const std::vector<CSearchedPartitionInfo*>* GetDataRecoveryPartitions(IDataRecovery* recovery) {
    auto* ours = dynamic_cast<CDataRecovery*>(recovery);
    return ours != nullptr ? &ours->GetSearchedPartition() : nullptr;
}

namespace {
std::atomic<bool> g_writerThread{true};
}  // namespace

void CDataRecovery::SetWriterThread(bool on) {
    g_writerThread.store(on, std::memory_order_relaxed);
}

bool CDataRecovery::WriterThread() {
    return g_writerThread.load(std::memory_order_relaxed);
}

namespace {

// A number each thread draws once; no other thread ever draws it again, so
// a selection can never pass to a later thread given the same system id.
uint64_t ThreadNumber() {
    static std::atomic<uint64_t> next{1};
    thread_local const uint64_t number = next.fetch_add(1, std::memory_order_relaxed);
    return number;
}

// What the calling thread's last copy could not give back.
CLostRanges& ThreadLost() {
    thread_local CLostRanges lost;
    return lost;
}

}  // namespace

CDataRecovery::Selection::~Selection() {
    if (reader)
        reader->Release();
}

CDataRecovery::CDataRecovery() = default;

CDataRecovery::~CDataRecovery() {
    autolocker<mutex_locker> hold(mutex_);
    selections_.clear();
    ClearRecords();
}

const CLostRanges& CDataRecovery::GetLostRanges() const {
    return ThreadLost();
}

std::shared_ptr<CDataRecovery::Selection> CDataRecovery::OwnSelection(bool make) {
    const uint64_t self = ThreadNumber();
    autolocker<mutex_locker> hold(mutex_);
    auto found = selections_.find(self);
    if (found != selections_.end())
        return found->second;
    if (!make)
        return nullptr;
    if (selections_.size() >= kMaxSelections) {
        // Threads end without telling anyone: let go of the selections no
        // copy holds, so that a long session does not pile them up.
        for (auto it = selections_.begin(); it != selections_.end();)
            it = it->second.use_count() == 1 ? selections_.erase(it) : std::next(it);
    }
    auto made = std::make_shared<Selection>();
    selections_.emplace(self, made);
    return made;
}

void CDataRecovery::ClearRecords() {
    for (CSearchedPartitionInfo* r : records_)
        delete r;
    records_.clear();
}

VKRESULT CDataRecovery::Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) {
    if (!searcher || !device)
        return Err(__LINE__, kErrRecoveryNullArgument);
    autolocker<mutex_locker> hold(mutex_);
    ClearRecords();
    CollectSearchedPartitions(searcher, records_);
    std::stable_sort(records_.begin(), records_.end(),
                     [](const CSearchedPartitionInfo* a, const CSearchedPartitionInfo* b) {
                         if (!a || !b)
                             return a && !b;
                         return a->score > b->score;
                     });
    device_ = device;
    if (records_.empty())
        return Err(__LINE__, kErrRecoveryNoPartition);
    return VK_OK;
}

VKRESULT CDataRecovery::Initialize(const std::vector<CSearchedPartitionInfo*>& records,
                                   IStorageDevice* device) {
    if (!device)
        return Err(__LINE__, kErrRecoveryNullArgument);
    autolocker<mutex_locker> hold(mutex_);
    ClearRecords();
    for (const CSearchedPartitionInfo* r : records)
        if (r)
            records_.push_back(new CSearchedPartitionInfo(*r));
    device_ = device;
    return VK_OK;
}

CSearchedPartitionInfo* CDataRecovery::GetNodePartition(CFileNode* node) const {
    if (!node || records_.empty())
        return nullptr;
    if (records_.size() == 1)
        return records_[0];
    const int index = node->GetBelongedPartition();
    for (CSearchedPartitionInfo* r : records_)
        if (r && r->partitionIndex == static_cast<int16_t>(index) && index != 0xFFFF)
            return r;

    const long long meta = node->GetMetadataStartPosition();
    for (CSearchedPartitionInfo* r : records_) {
        if (!r || r->sectorsPerCluster == 0 || r->sectorsPerCluster % 2 != 0)
            continue;
        long long end = 0;
        if (__builtin_add_overflow(r->startSector, r->totalSectors, &end))
            continue;
        if (!(meta > r->startSector && meta < end))
            continue;
        long long clusters = 0;
        if (!RunsInside(node, r, &clusters))
            continue;
        if (clusters > 1) {
            const long long size = node->GetFileSize();
            if (size <= 0)
                continue;
            const long long perCluster = size / clusters;
            const long long d = (perCluster + 511) / 512;
            if (static_cast<long long>(r->sectorsPerCluster) != PowerOfTwoAbove(d))
                continue;
        }
        return r;
    }
    return records_[0];
}

IFileReader* CDataRecovery::SetRecoverNode(IFileNode* inode) {
    std::shared_ptr<Selection> own = OwnSelection(true);
    // A selection that fails must leave nothing selected: otherwise the next
    // RecoverTo would write the previous file's bytes under the new name.
    if (own->reader)
        own->reader->Release();
    own->reader = nullptr;
    own->node = nullptr;
    own->compressed = false;
    own->creationTime = own->modificationTime = own->accessTime = 0;
    own->claimedSize = 0;
    own->damaged = false;
    own->parents.clear();
    CFileNode* node = dynamic_cast<CFileNode*>(inode);
    if (!node || node->IsDirectory()) {
        CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
        return nullptr;
    }

    vk::ReleasePtr<IFileReader> reader;
    bool compressed = false;
    {
        // The records stay put while the reader is opened on one of them;
        // opening reads no data, so nobody waits long.
        autolocker<mutex_locker> hold(mutex_);
        if (records_.empty() || !device_) {
            CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
            return nullptr;
        }
        CSearchedPartitionInfo* partition = GetNodePartition(node);
        if (!partition) {
            CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
            return nullptr;
        }
        if (node->IsCompressed()) {
            // The partition's file system opens its own compressed readers
            // where it says so; otherwise the node's reader is ready as made.
            const SearcherRow* row = vk::QuickSearcherRowFor(partition->fileSystemType);
            if (row && row->openCompressedReader) {
                compressed = true;
                reader.reset(row->openCompressedReader(device_, node, partition));
            } else {
                reader.reset(node->CreateCompressFileReader(partition->fileSystemContext));
            }
            if (!reader) {
                CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
                return nullptr;
            }
        } else {
            auto* plain = new CFileReader();
            reader.reset(plain);
            if (!plain->Open(device_, node, partition)) {
                CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
                return nullptr;
            }
        }
    }

    own->reader = reader.release();
    own->compressed = compressed;
    own->node = node;
    own->creationTime = node->GetCreationTime();
    own->modificationTime = node->GetModificationTime();
    own->accessTime = node->GetLastAccessTime();
    own->claimedSize = node->GetClaimedSize();
    own->damaged = node->IsDamaged() != 0;
    own->parents = velmora::recovery::ParentDatesOf(node);
    return own->reader->Clone();
}

VKRESULT CDataRecovery::CopyPlain(Selection& own, const char* path, IProgress* progress,
                                  long long total, CLostRanges& lost) {
    _PROGRESS_INFO info{};
    info.state = PROGRESS_RUNNING;
    info.total = total;
    IFileReader* reader = own.reader;
    const int fd = OpenRecoveredFile(path);
    if (fd < 0) {
        CatchExeception::WriteLog("%s:%d open[%s] failed with %s\n", __func__, __LINE__, path,
                                  std::strerror(errno));
        return Err(__LINE__, kErrRecoveryOpenTarget);
    }
    GiveToInvokingUser(path);
    if (!own.writer)
        own.writer = std::make_unique<RecoveryWriter>(static_cast<size_t>(copyBufferSize_),
                                                      kBuffersInFlight);
    RecoveryWriter* writer = own.writer.get();
    reader->ClearLostRanges();
    const unsigned ownPiece = reader->ReadPieceLength();
    const long long piece = ownPiece > 0 && ownPiece <= static_cast<unsigned>(copyBufferSize_)
                                ? ownPiece
                                : copyBufferSize_;

    // The writer writes each piece while the next one is read; progress
    // counts only what it has written, piece by piece, in order.
    writer->Begin(fd, total > piece && WriterThread());
    std::vector<long long> ends;
    size_t reported = 0;
    const auto reportWritten = [&] {
        for (const size_t written = writer->Written(); reported < written; ++reported) {
            info.done = ends[reported];
            Report(progress, info);
        }
    };
    long long done = 0;
    bool stopped = false;
    while (done < total) {
        // A stop ends the file unfinished: a cut file under the file's own
        // name would pass for the file.
        if (progress && !progress->Continued()) {
            stopped = true;
            break;
        }
        char* buffer = writer->Acquire();
        reportWritten();
        // A failed write ends the file; the reason is taken below.
        if (!buffer)
            break;
        const unsigned chunk = static_cast<unsigned>(std::min<long long>(total - done, piece));
        int error = 0;
        const unsigned got = reader->ReadData(done, buffer, chunk, &error);
        // A reader that failed outright delivered nothing past `got`: that
        // part is lost. (Runs that end before the file deliver less without
        // an error: the file system left those bytes as zeros.)
        if (error < 0) {
            CatchExeception::WriteLog("%s:%d read[%s] failed at byte %lld\n", __func__, __LINE__,
                                      path, done + got);
            lost.Add(done + got, chunk - got);
        }
        if (got < chunk)
            std::memset(buffer + got, 0, chunk - got);
        writer->Submit(buffer, chunk, done);
        done += chunk;
        ends.push_back(done);
    }
    if (!writer->Finish()) {
        CatchExeception::WriteLog("%s:%d write[%s] failed with %s\n", __func__, __LINE__, path,
                                  std::strerror(errno));
        reportWritten();
        info.result = Err(__LINE__, kErrRecoveryWrite);
        Report(progress, info);
        ::close(fd);
        RemovePartialFile(path);
        return info.result;
    }
    reportWritten();
    if (::close(fd) != 0) {
        CatchExeception::WriteLog("%s:%d close[%s] failed with %s\n", __func__, __LINE__, path,
                                  std::strerror(errno));
        info.result = Err(__LINE__, kErrRecoveryWrite);
        Report(progress, info);
        RemovePartialFile(path);
        return info.result;
    }
    if (stopped) {
        CatchExeception::WriteLog("%s: [%s] stopped after %lld of %lld bytes, removed\n", __func__,
                                  path, done, total);
        RemovePartialFile(path);
        info.result = Err(__LINE__, kErrRecoveryStopped);
        Report(progress, info);
        return info.result;
    }
    if (const CLostRanges* read = reader->GetLostRanges())
        lost.Add(*read);
    return VK_OK;
}

VKRESULT CDataRecovery::RecoverTo(const char* path, IProgress* progress, int limit) {
    CLostRanges& lost = ThreadLost();
    lost.Clear();
    _PROGRESS_INFO info{};
    info.state = PROGRESS_RUNNING;
    Report(progress, info);
    if (!path || !*path)
        return Err(__LINE__, kErrRecoveryNullArgument);
    // Held for the copy: a selection let go meanwhile stays whole until the
    // copy ends.
    const std::shared_ptr<Selection> own = OwnSelection(false);
    // Nothing selected leaves nothing under the name: an empty file there
    // would pass for the file.
    if (!own || !own->reader)
        return Err(__LINE__, kErrRecoveryNoNode);
    if (limit < 0)
        return Err(__LINE__, kErrRecoveryNullArgument);

    IFileReader* reader = own->reader;
    const long long size = reader->GetDataSize();
    // A file system's compressed data is recovered whole or not at all.
    if (own->compressed && limit != 0)
        return Err(__LINE__, kErrRecoveryOpenTarget);
    const long long total = limit > 0 ? std::min<long long>(limit, size) : size;
    const VKRESULT copied = CopyPlain(*own, path, progress, total, lost);
    if (ResultFailed(copied))
        return copied;
    // A size the volume or the file's runs could not hold was cut: the rest
    // is lost too.
    long long claimed = std::max(size, own->claimedSize);
    if (const auto* plain = dynamic_cast<const CFileReader*>(reader))
        claimed = std::max(claimed, plain->GetClaimedSize());
    if (claimed > size) {
        const long long claimedEnd = limit > 0 ? std::min<long long>(limit, claimed) : claimed;
        if (claimedEnd > size)
            lost.Add(size, claimedEnd - size);
    }
    // Nothing of the file could be read: a file of zeros (or none at all)
    // under its name is not the file.
    if (!lost.Empty() &&
        lost.TotalBytes() >= (limit > 0 ? std::min<long long>(limit, claimed) : claimed)) {
        CatchExeception::WriteLog("%s: nothing of [%s] could be read, removed\n", __func__, path);
        RemovePartialFile(path);
        info.result = Err(__LINE__, kErrRecoveryUnreadable);
        Report(progress, info);
        return info.result;
    }
    const bool timesSet =
        SetFileTimes(path, own->creationTime, own->modificationTime, own->accessTime);
    DateParentFolders(path, own->parents);

    const bool damaged = own->damaged;
    if (!lost.Empty() || damaged) {
        CatchExeception::WriteLog("%s: [%s] is incomplete: %lld of %lld bytes lost%s\n", __func__,
                                  path, lost.TotalBytes(), total,
                                  damaged ? " (its data could not all be located)" : "");
        ReportIncomplete(path, lost.TotalBytes(), size);
        info.result = Err(__LINE__, kErrRecoveryIncomplete);
        Report(progress, info);
        return info.result;
    }
    if (!timesSet) {
        info.result = Err(__LINE__, kErrRecoveryTimes);
        Report(progress, info);
        return info.result;
    }
    return VK_OK;
}

int CDataRecovery::ReadSmallJPG(char* buffer, unsigned size) {
    const std::shared_ptr<Selection> own = OwnSelection(false);
    IFileReader* reader = own ? own->reader : nullptr;
    constexpr unsigned kWindow = 65536;
    if (!buffer || size <= 65535 || !reader || reader->GetDataSize() <= 65535)
        return 0;
    std::vector<unsigned char> data(kWindow, 0);
    int error = 0;
    const unsigned got = reader->ReadData(0, reinterpret_cast<char*>(data.data()), kWindow, &error);
    if (got < kWindow)
        return 0;
    long long start = -1, end = -1;
    for (unsigned i = 4; i + 2 < kWindow && i <= 65531; ++i) {
        if (start < 0) {
            if (data[i] == 0xFF && data[i + 1] == 0xD8 && data[i + 2] == 0xFF) {
                start = i;
                i += 2000 - 1;
            }
        } else if (data[i] == 0xFF && data[i + 1] == 0xD9) {
            end = static_cast<long long>(i) + 4;
            break;
        }
    }
    if (start < 0 || end < 0)
        return 0;
    end = std::min<long long>(end, kWindow);
    const long long length = end - start;
    if (length < 1 || length > 65535 || length > static_cast<long long>(size))
        return 0;
    std::memcpy(buffer, data.data() + start, static_cast<size_t>(length));
    return static_cast<int>(length);
}
