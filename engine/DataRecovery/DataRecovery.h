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

// Error numbers of module 0x0d (kModuleDataRecovery).
enum DataRecoveryError : uint32_t {
    kErrRecoveryCompressed = 0x1,  // compressed data unreadable or damaged
    kErrRecoveryNullArgument = 0x5,
    kErrRecoveryOpenTarget = 0xf,  // destination cannot be opened, or a limit on a compressed file
    kErrRecoveryNoPartition = 0xd01,  // the searcher found no partition
    kErrRecoveryNoNode = 0xd02,       // no node selected
    kErrRecoveryWrite = 0xd03,        // a write failed (full or failing destination)
    kErrRecoveryRead = 0xd04,         // part of the data could not be read; zeros stand there
};

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
    // or when the progress sink asked to stop (the partial file is then
    // removed). A full or failing destination gives 0xd03 and removes the
    // partial file; unreadable device sectors give 0xd04 with the file
    // complete but for zeros where the data could not be read.
    VKRESULT RecoverTo(const char* path, IProgress* progress, int limit) override;
    int ReadSmallJPG(char* buffer, unsigned size) override;
    void Release() override { delete this; }

    const std::vector<CSearchedPartitionInfo*>& GetSearchedPartition() const { return records_; }
    // The record a node's data is read through, or null.
    CSearchedPartitionInfo* GetNodePartition(CFileNode* node) const;

    static constexpr int kCopyBufferSize = 0x400000;

private:
    void ClearRecords();
    VKRESULT CopyPlain(const char* path, IProgress* progress, long long total);

    int copyBufferSize_ = kCopyBufferSize;
    std::vector<char> copyBuffer_;
    IFileReader* reader_ = nullptr;
    std::vector<CSearchedPartitionInfo*> records_;
    IStorageDevice* device_ = nullptr;
    bool compressed_ = false;
    // The selected node and its times (100 ns ticks since 1601, 0 unknown).
    CFileNode* node_ = nullptr;
    long long creationTime_ = 0;
    long long modificationTime_ = 0;
    long long accessTime_ = 0;
    mutex_locker mutex_;
};
