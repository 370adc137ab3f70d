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

CDataRecovery::CDataRecovery() = default;

CDataRecovery::~CDataRecovery() {
    autolocker<mutex_locker> hold(mutex_);
    if (reader_)
        reader_->Release();
    reader_ = nullptr;
    ClearRecords();
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
    autolocker<mutex_locker> hold(mutex_);
    // A selection that fails must leave nothing selected: otherwise the next
    // RecoverTo would write the previous file's bytes under the new name.
    if (reader_)
        reader_->Release();
    reader_ = nullptr;
    node_ = nullptr;
    compressed_ = false;
    creationTime_ = modificationTime_ = accessTime_ = 0;
    CFileNode* node = dynamic_cast<CFileNode*>(inode);
    if (!node || node->IsDirectory()) {
        CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
        return nullptr;
    }
    if (records_.empty() || !device_) {
        CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
        return nullptr;
    }
    CSearchedPartitionInfo* partition = GetNodePartition(node);
    if (!partition) {
        CatchExeception::WriteLog("%s %d\r\n", __func__, __LINE__);
        return nullptr;
    }

    vk::ReleasePtr<IFileReader> reader;
    bool compressed = false;
    if (node->IsCompressed()) {
        // The partition's file system opens its own compressed readers where
        // it says so; otherwise the node's reader is ready as made.
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

    if (reader_)
        reader_->Release();
    reader_ = reader.release();
    compressed_ = compressed;
    node_ = node;
    creationTime_ = node->GetCreationTime();
    modificationTime_ = node->GetModificationTime();
    accessTime_ = node->GetLastAccessTime();
    return reader_->Clone();
}

VKRESULT CDataRecovery::CopyPlain(const char* path, IProgress* progress, long long total) {
    _PROGRESS_INFO info{};
    info.state = PROGRESS_RUNNING;
    info.total = total;
    const int fd = OpenRecoveredFile(path);
    if (fd < 0) {
        CatchExeception::WriteLog("%s:%d open[%s] failed with %s\n", __func__, __LINE__, path,
                                  std::strerror(errno));
        return Err(__LINE__, kErrRecoveryOpenTarget);
    }
    GiveToInvokingUser(path);
    if (!writer_)
        writer_ = std::make_unique<RecoveryWriter>(static_cast<size_t>(copyBufferSize_),
                                                   kBuffersInFlight);
    reader_->ClearLostRanges();
    const unsigned ownPiece = reader_->ReadPieceLength();
    const long long piece = ownPiece > 0 && ownPiece <= static_cast<unsigned>(copyBufferSize_)
                                ? ownPiece
                                : copyBufferSize_;

    // The writer writes each piece while the next one is read; progress
    // counts only what it has written, piece by piece, in order.
    writer_->Begin(fd, total > piece && WriterThread());
    std::vector<long long> ends;
    size_t reported = 0;
    const auto reportWritten = [&] {
        for (const size_t written = writer_->Written(); reported < written; ++reported) {
            info.done = ends[reported];
            Report(progress, info);
        }
    };
    long long done = 0;
    while (done < total) {
        // A stop keeps what was read: the user asked for it, and a part
        // of a file can still be worth having.
        if (progress && !progress->Continued())
            break;
        char* buffer = writer_->Acquire();
        reportWritten();
        // A failed write ends the file; the reason is taken below.
        if (!buffer)
            break;
        const unsigned chunk = static_cast<unsigned>(std::min<long long>(total - done, piece));
        int error = 0;
        const unsigned got = reader_->ReadData(done, buffer, chunk, &error);
        // A reader that failed outright delivered nothing past `got`: that
        // part is lost. (Runs that end before the file deliver less without
        // an error: the file system left those bytes as zeros.)
        if (error < 0) {
            CatchExeception::WriteLog("%s:%d read[%s] failed at byte %lld\n", __func__, __LINE__,
                                      path, done + got);
            lost_.Add(done + got, chunk - got);
        }
        if (got < chunk)
            std::memset(buffer + got, 0, chunk - got);
        writer_->Submit(buffer, chunk, done);
        done += chunk;
        ends.push_back(done);
    }
    if (!writer_->Finish()) {
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
    if (const CLostRanges* read = reader_->GetLostRanges())
        lost_.Add(*read);
    return VK_OK;
}

VKRESULT CDataRecovery::RecoverTo(const char* path, IProgress* progress, int limit) {
    autolocker<mutex_locker> hold(mutex_);
    lost_.Clear();
    _PROGRESS_INFO info{};
    info.state = PROGRESS_RUNNING;
    Report(progress, info);
    if (!path || !*path)
        return Err(__LINE__, kErrRecoveryNullArgument);
    if (!reader_) {
        const int fd = OpenRecoveredFile(path);
        if (fd < 0)
            return Err(__LINE__, kErrRecoveryOpenTarget);
        ::close(fd);
        return Err(__LINE__, kErrRecoveryNoNode);
    }
    if (limit < 0)
        return Err(__LINE__, kErrRecoveryNullArgument);

    long long size = reader_->GetDataSize();
    // A file system's compressed data is recovered whole or not at all.
    if (compressed_ && limit != 0)
        return Err(__LINE__, kErrRecoveryOpenTarget);
    const long long total = limit > 0 ? std::min<long long>(limit, size) : size;
    const VKRESULT copied = CopyPlain(path, progress, total);
    if (ResultFailed(copied))
        return copied;
    // A size the volume could not hold was cut: the rest is lost too.
    if (node_ && node_->GetClaimedSize() > size) {
        const long long claimedEnd = limit > 0 ? std::min<long long>(limit, node_->GetClaimedSize())
                                               : node_->GetClaimedSize();
        if (claimedEnd > size)
            lost_.Add(size, claimedEnd - size);
    }
    const bool timesSet = SetFileTimes(path, creationTime_, modificationTime_, accessTime_);
    DateParentFolders(path, node_);

    const bool damaged = node_ && node_->IsDamaged();
    if (!lost_.Empty() || damaged) {
        CatchExeception::WriteLog("%s: [%s] is incomplete: %lld of %lld bytes lost%s\n", __func__,
                                  path, lost_.TotalBytes(), total,
                                  damaged ? " (its data could not all be located)" : "");
        ReportIncomplete(path, lost_.TotalBytes(), size);
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
    autolocker<mutex_locker> hold(mutex_);
    constexpr unsigned kWindow = 65536;
    if (!buffer || size <= 65535 || !reader_ || reader_->GetDataSize() <= 65535)
        return 0;
    std::vector<unsigned char> data(kWindow, 0);
    int error = 0;
    const unsigned got =
        reader_->ReadData(0, reinterpret_cast<char*>(data.data()), kWindow, &error);
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
