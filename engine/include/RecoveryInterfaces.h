// Scan control and file recovery as the caller sees them.
#pragma once

#include <vector>

#include "EngineTypes.h"
#include "LostRanges.h"
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

// Error numbers of module 0x0d (kModuleDataRecovery), the file recovery.
enum DataRecoveryError : uint32_t {
    kErrRecoveryCompressed = 0x1,  // compressed data cannot be decoded at all
    kErrRecoveryNullArgument = 0x5,
    kErrRecoveryOpenTarget = 0xf,  // destination cannot be opened, or a limit on a compressed file
    kErrRecoveryNoPartition = 0xd01,  // the searcher found no partition
    kErrRecoveryNoNode = 0xd02,       // no node selected
    kErrRecoveryWrite = 0xd03,        // a write failed (full or failing destination)
    // The file was written, but it is incomplete or damaged: the ranges
    // listed by IDataRecovery::GetLostRanges() are zeros (or were cut), or
    // the scan could not verify where its data lies (the node is marked
    // damaged, CFileNode::IsDamaged). Every byte that could be read is in it.
    kErrRecoveryIncomplete = 0xd04,
    // The user stopped the recovery inside the file: what was written of it
    // is removed, and the file is not among those recovered.
    kErrRecoveryStopped = 0xd05,
    // The file was written whole, but its dates could not be set.
    kErrRecoveryTimes = 0xd06,
    // Nothing of the file could be read: no file is left under its name.
    kErrRecoveryUnreadable = 0xd07,
};

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

// `error` of IFileReader::ReadData when the bytes were delivered but some
// of them are zeros standing for data that could not be read or located.
constexpr int kReadDataLost = 1;

// Reads the data of one found node.
class IFileReader {
public:
    virtual ~IFileReader() = default;
    // Reads from byte `offset` of the node's data; the number of bytes read.
    // 0 on failure, with `*error` set to -1 when given. When part of the
    // data is lost (an unreadable sector, a lost run) the whole length is
    // still delivered, zeros standing for what is lost, `*error` is set to
    // kReadDataLost and the ranges are added to GetLostRanges().
    virtual unsigned ReadData(long long offset, char* buffer, unsigned length, int* error) = 0;
    virtual IFileReader* Clone() = 0;
    virtual long long GetDataSize() const = 0;
    virtual int IsCompressFile() = 0;
    virtual void Release() = 0;
    // The byte ranges (from the start of the file) that reads since the
    // last ClearLostRanges() delivered as zeros for lost data. Null for a
    // reader that cannot tell; its failed reads then count as lost whole.
    virtual const CLostRanges* GetLostRanges() const { return nullptr; }
    virtual void ClearLostRanges() {}
    // How many bytes recovery reads from it at a time; 0 for recovery's own
    // buffer size. A reader that decodes whole units names a unit, so that
    // a stop or a progress report falls between units.
    virtual unsigned ReadPieceLength() const { return 0; }
};

// Recovers found files of one searcher type.
class IDataRecovery {
public:
    virtual ~IDataRecovery() = default;
    // Collects the searcher's found partitions and binds the device.
    virtual VKRESULT Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) = 0;
    // Selects a node for the calling thread; a new reader of its data the
    // caller releases, or null. The only call that reads the node: it takes
    // the node's runs and whatever else the copy needs, and reads nothing
    // from the device. A caller whose tree another thread changes (the
    // receiver's tree lock, IDrirectoryTree::GetTreeLock) holds that lock
    // around this call and never around RecoverTo or the reader's reads.
    virtual IFileReader* SetRecoverNode(IFileNode* node) = 0;
    // Writes the node the calling thread selected to a new file at `path`;
    // `limit` 0 for the whole file, otherwise at most that many bytes.
    // `progress` may be null. 0 when the whole file (or the limit) was
    // written. Otherwise a module 0x0d result (DataRecoveryError):
    // kErrRecoveryIncomplete when the file was written but parts of it are
    // lost (GetLostRanges), kErrRecoveryStopped when the user stopped it
    // through `progress` (nothing of it is left), kErrRecoveryUnreadable
    // when nothing of it could be read (no file is left), and the failures
    // of the destination (a full one is kErrRecoveryWrite, and its partial
    // file is removed).
    virtual VKRESULT RecoverTo(const char* path, IProgress* progress, int limit) = 0;
    // Copies an embedded JPEG from the first 64 KiB of the node the calling
    // thread selected; its length, or 0.
    virtual int ReadSmallJPG(char* buffer, unsigned size) = 0;
    virtual void Release() = 0;
    // What the calling thread's last RecoverTo could not give back
    // (LostRanges.h); empty when the file came back whole.
    virtual const CLostRanges& GetLostRanges() const {
        static const CLostRanges none;
        return none;
    }
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
// The reader of NTFS compressed files (LZNT1 units), defined by the NTFS
// library. An NTFS node hands one out from CreateCompressFileReader;
// recovery opens one through the NTFS row (SearcherRow::openCompressedReader).
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
