// Recovery of found files: one object per searcher type reads the selected
// node's data off the scanned device and writes it to a file elsewhere.
#pragma once

#include <memory>
#include <vector>

#include "FileReader.h"
#include "RecoveryInterfaces.h"
#include "Utility/Locks.h"

class CFileNode;
class CSearchedPartitionInfo;
namespace velmora::recovery {
class RecoveryWriter;
}

class CDataRecovery : public IDataRecovery {
public:
    CDataRecovery();
    ~CDataRecovery() override;

    VKRESULT Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) override;
    // For replayed results: copies the records, keeps their order.
    VKRESULT Initialize(const std::vector<CSearchedPartitionInfo*>& records,
                        IStorageDevice* device);
    IFileReader* SetRecoverNode(IFileNode* node) override;
    // Writes the selected node to `path`. 0 when the whole file was written,
    // or when the progress sink asked to stop (what was written is kept).
    // A full or failing destination gives kErrRecoveryWrite and removes the
    // partial file. A file written with parts lost (unreadable sectors,
    // lost runs, a size cut to its volume) or of a node marked damaged gives
    // kErrRecoveryIncomplete, lists the lost ranges in GetLostRanges() and
    // pushes kEventFileIncomplete to the event relay; one whose dates could
    // not be set gives kErrRecoveryTimes.
    VKRESULT RecoverTo(const char* path, IProgress* progress, int limit) override;
    int ReadSmallJPG(char* buffer, unsigned size) override;
    void Release() override { delete this; }
    const CLostRanges& GetLostRanges() const override { return lost_; }

    const std::vector<CSearchedPartitionInfo*>& GetSearchedPartition() const { return records_; }
    // The record a node's data is read through, or null.
    CSearchedPartitionInfo* GetNodePartition(CFileNode* node) const;

    static constexpr int kCopyBufferSize = 0x400000;
    // Pieces of a file read ahead of its writer: one being written, one
    // being read.
    static constexpr int kBuffersInFlight = 2;
    // Whether files longer than a piece are written on a thread of their
    // own (the default); off, every piece is read and then written on the
    // caller's thread, for comparison.
    static void SetWriterThread(bool on);
    static bool WriterThread();

private:
    void ClearRecords();
    VKRESULT CopyPlain(const char* path, IProgress* progress, long long total);

    int copyBufferSize_ = kCopyBufferSize;
    std::unique_ptr<velmora::recovery::RecoveryWriter> writer_;
    IFileReader* reader_ = nullptr;
    std::vector<CSearchedPartitionInfo*> records_;
    IStorageDevice* device_ = nullptr;
    // The reader was opened by its file system's row: no limit applies.
    bool compressed_ = false;
    // The selected node and its times (100 ns ticks since 1601, 0 unknown).
    CFileNode* node_ = nullptr;
    long long creationTime_ = 0;
    long long modificationTime_ = 0;
    long long accessTime_ = 0;
    CLostRanges lost_;
    mutex_locker mutex_;
};
