// Recovery of found files: one object per searcher type reads the selected
// node's data off the scanned device and writes it to a file elsewhere.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "FileReader.h"
#include "RecoveryInterfaces.h"
#include "RecoveryOutput.h"
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
    // Each thread selects and copies on its own: a node selected on one
    // thread is never the one another thread's RecoverTo writes (picture
    // loaders select nodes on the object a recovery is copying through),
    // and a copy holds no lock another thread waits on.
    IFileReader* SetRecoverNode(IFileNode* node) override;
    // Writes the calling thread's selected node to `path`. 0 when the whole
    // file was written. A stop through the progress sink before the end
    // removes what was written and gives kErrRecoveryStopped; a file of
    // which nothing could be read leaves no file and gives
    // kErrRecoveryUnreadable. A full or failing destination gives
    // kErrRecoveryWrite and removes the partial file. A file written with
    // parts lost (unreadable sectors, lost runs, a size cut to its volume or
    // to what its runs hold) or of a node marked damaged gives
    // kErrRecoveryIncomplete, lists the lost ranges in GetLostRanges() and
    // pushes kEventFileIncomplete to the event relay; one whose dates could
    // not be set gives kErrRecoveryTimes.
    VKRESULT RecoverTo(const char* path, IProgress* progress, int limit) override;
    int ReadSmallJPG(char* buffer, unsigned size) override;
    void Release() override { delete this; }
    // What the calling thread's last RecoverTo could not give back.
    const CLostRanges& GetLostRanges() const override;

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
    // One thread's selection: its reader, the node and its times, and the
    // writer its copies go through.
    struct Selection {
        IFileReader* reader = nullptr;
        // The reader was opened by its file system's row: no limit applies.
        bool compressed = false;
        CFileNode* node = nullptr;
        // 100 ns ticks since 1601, 0 unknown.
        long long creationTime = 0;
        long long modificationTime = 0;
        long long accessTime = 0;
        // What the copy needs of the node besides its runs, taken with them:
        // the copy never reads the node again, so that the tree it lies in
        // may change meanwhile.
        long long claimedSize = 0;
        bool damaged = false;
        std::vector<velmora::recovery::FolderDates> parents;
        std::unique_ptr<velmora::recovery::RecoveryWriter> writer;
        ~Selection();
    };
    // Most selections kept; past it, those of other threads that no copy is
    // using are let go (their next RecoverTo finds nothing selected).
    static constexpr size_t kMaxSelections = 64;

    void ClearRecords();
    // The calling thread's selection, made when `make`; null otherwise.
    std::shared_ptr<Selection> OwnSelection(bool make);
    VKRESULT CopyPlain(Selection& selection, const char* path, IProgress* progress, long long total,
                       CLostRanges& lost);

    int copyBufferSize_ = kCopyBufferSize;
    std::vector<CSearchedPartitionInfo*> records_;
    IStorageDevice* device_ = nullptr;
    // By thread (a number each thread draws once and no thread draws again).
    std::map<uint64_t, std::shared_ptr<Selection>> selections_;
    // Guards the records, the device and the selections' map; no copy or
    // read runs under it.
    mutable mutex_locker mutex_;
};
