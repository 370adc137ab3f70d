// Scan control and file recovery as the caller sees them.
#pragma once

#include <vector>

#include "EngineTypes.h"
#include "ResultCode.h"

class IStorageDevice;
class IProgress;
class IDrirectoryTree;
class IRecoveryFilter;
class IFileNode;
class IFileSystemSearchController;
class CSearchedPartitionInfo;

enum _RECOVERY_CONTROLLER_TYPE : int {
    RECOVERY_CONTROLLER_DELETED = 0,    // quick scan of a live volume
    RECOVERY_CONTROLLER_COMPLETE = 1,   // deep scan of a volume
    RECOVERY_CONTROLLER_PARTITION = 2,  // deep scan of a whole disk
};

class IDataRecovery;

class IRecoveryController {
public:
    virtual ~IRecoveryController() = default;
    virtual _RECOVERY_CONTROLLER_TYPE thisType() = 0;
    // 0 for a null filter, 1 otherwise.
    virtual int Initialize(IRecoveryFilter* filter) = 0;
    // Runs the whole scan on the calling thread.
    virtual VKRESULT StartDataRecovery(IStorageDevice* device, IProgress* progress,
                                       IDrirectoryTree* tree) = 0;
    // A new recovery object for the found files of one searcher type, or
    // null; the caller releases it.
    virtual IDataRecovery* GetDataRecovery(_tagSearcherType type) const = 0;
    virtual void Release() = 0;
};

// Reads the data of one found node.
class IFileReader {
public:
    virtual ~IFileReader() = default;
    // Reads from byte `offset` of the node's data; the number of bytes read
    // (0 on failure, with `error` set when given).
    virtual unsigned ReadData(long long offset, char* buffer, unsigned length, int* error) = 0;
    virtual IFileReader* Clone() = 0;
    virtual long long GetDataSize() const = 0;
    virtual int IsCompressFile() = 0;
    virtual void Release() = 0;
};

// Recovers found files of one searcher type.
class IDataRecovery {
public:
    virtual ~IDataRecovery() = default;
    // Collects the searcher's found partitions and binds the device.
    virtual VKRESULT Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) = 0;
    // Selects a node; a new reader of its data the caller releases, or null.
    virtual IFileReader* SetRecoverNode(IFileNode* node) = 0;
    // Writes the selected node's data to a new file at `path`; `limit` 0
    // for the whole file, otherwise at most that many bytes. `progress` may
    // be null. 0 when the whole file was written (or the user stopped it:
    // the partial file is then removed); failures are module 0x0d results,
    // listed with CDataRecovery (a full destination is 0xd03).
    virtual VKRESULT RecoverTo(const char* path, IProgress* progress, int limit) = 0;
    // Copies an embedded JPEG from the node's first 64 KiB; its length, or 0.
    virtual int ReadSmallJPG(char* buffer, unsigned size) = 0;
    virtual void Release() = 0;
};

// A new data-recovery object (null when it cannot be made). Released through
// its Release().
IDataRecovery* CreateDataRecoveryObj();

// The form of Initialize used when a saved result is replayed: copies the
// stored partition records (in their order, no sorting) and binds the
// device. A failure code for a null device or an object not made by
// CreateDataRecoveryObj.
VKRESULT InitializeDataRecoveryFromRecords(IDataRecovery* recovery,
                                           const std::vector<CSearchedPartitionInfo*>& records,
                                           IStorageDevice* device);
// The reader of NTFS compressed files (LZNT1 units). An NTFS node hands one
// out from CreateCompressFileReader; the recovery object opens it with the
// node's partition.
IFileReader* CreateNTFSCompressFileReader();
// The same reader opened on a node's data through its partition record, for
// readers outside recovery; null when it cannot be opened.
class CFileNode;
IFileReader* OpenNTFSCompressFileReader(IStorageDevice* device, CFileNode* node,
                                        CSearchedPartitionInfo* partition);

// The found-partition records an initialised recovery object reads through
// (what a result file stores); null for an object not made by
// CreateDataRecoveryObj. The object keeps them.
const std::vector<CSearchedPartitionInfo*>* GetDataRecoveryPartitions(IDataRecovery* recovery);
