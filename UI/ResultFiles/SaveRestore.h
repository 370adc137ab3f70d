// Saving a finished scan into a result file and loading one back: the two
// detached operations, their shared progress and error code, the search for
// the live device a file was made of, and the replay that the scan
// controllers run instead of reading the device.
//
// One save or load runs at a time, and no scan starts while a save reads
// the result trees: all three go through one busy flag (ResultFilesGate).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "RestoreScanSink.h"
#include "ResultFrames.h"

class IFilesystemNode;
class IProgress;
class IRSData;
class IStorageDevice;
class CSearchedPartitionInfo;

namespace SaveRestoreResult {

// ---------------------------------------------------------------------------
// What a save reads and what a load drives; the bridge provides them.

struct SavedRoot {
    IFilesystemNode* root = nullptr;
    // The found partitions of the root's searcher; not owned.
    std::vector<CSearchedPartitionInfo*> partitions;
};

// The finished scan. Read on the save's thread while the save runs; the
// busy flag keeps a new scan from freeing it meanwhile.
class IScanResultSource {
public:
    virtual ~IScanResultSource() = default;
    virtual ScanKindRecord ScanKind() = 0;
    virtual DiskVolumeRecord DeviceRecord() = 0;
    virtual std::vector<SavedRoot> Roots() = 0;
    // The lock under which another thread may change or read the roots'
    // nodes (the scan's tree lock); null when nobody else touches them.
    // The save holds it only while it copies one folder's records, never
    // while it writes.
    virtual std::mutex* NodeLock() { return nullptr; }
};

// One disk or volume of the device catalogue.
struct CatalogueEntry {
    int32_t diskIndex = -1;
    int32_t volumeIndex = -1;  // -1 for the disk itself
    std::string name;
    int32_t fileSystem = 10;
    int64_t size = 0;  // bytes
};

// The live devices. Devices handed out stay the catalogue's.
class IResultDeviceCatalogue {
public:
    virtual ~IResultDeviceCatalogue() = default;
    // Every disk followed by its volumes, in the catalogue's order (the
    // catalogue is built first when it is not yet).
    virtual std::vector<CatalogueEntry> Entries() = 0;
    virtual IStorageDevice* StorageAt(int32_t diskIndex, int32_t volumeIndex) = 0;
    // Re-creates an image device from its stored record; the record has
    // passed CheckStoredDmgRecord / CheckStoredEdiRecord.
    virtual IStorageDevice* StorageByDmgInfo(const CDMGDeviceInfoStruct& info,
                                             const std::string& resultPath) = 0;
    virtual IStorageDevice* StorageByEdiInfo(const CEDIDeviceInfoStruct& info,
                                             const std::string& ediPath) = 0;
};

class CRestoreScanSink;

// The scan operation a load replays through.
class IResultScanRunner {
public:
    virtual ~IResultScanRunner() = default;
    // Forgets the previous scan's result.
    virtual void ClearData() = 0;
    // Whether the result came from a disk image or an edi image.
    virtual void SetImageResult(int diskImage, int edi) = 0;
    // Runs the scan controller of `kind` over `device` with the sink in
    // place of reading the device, then marks the result trees finished.
    virtual void Replay(IStorageDevice* device, const ScanKindRecord& kind,
                        CRestoreScanSink* sink) = 0;
};

// ---------------------------------------------------------------------------
// Progress and the busy flag

class ResultFilesGate {
public:
    enum Operation { kIdle, kSaving, kLoading, kScanning };
    // False when another operation holds the flag.
    static bool TryBegin(Operation op);
    static void End(Operation op);
    static Operation Current();
};

// The shared progress record: state 2 while running (done from 5, stopping
// at 98), 3 when finished with the result code. Reports less than 100 ms
// apart are skipped for steps.
int IncProgress(IProgress* sink, bool finish, bool start);
// Reports a failure at once and makes it the operation's result.
void TipError(IProgress* sink, int code);
// The error code of the operation under way.
int CurrentErrorCode();

// What the last load came to, for the windows to tell the user: set before
// its finishing progress record is handed on.
struct LoadReport {
    int code = kResultOk;
    long long recordsDropped = 0;  // records that failed their checks, left out
    long long nodesKept = 0;       // nodes handed to the result trees
    bool cutShort = false;         // the node frame could not be read to its end
    bool checkFailed = false;      // the frames do not match their stored checks
};
LoadReport LastLoadReport();

// ---------------------------------------------------------------------------
// Saving and loading

// Synchronous bodies: the result code. Both take the busy flag (kResultBusy
// when it is held).
int SaveScanResult(const std::string& path, IProgress* progress, IScanResultSource* source);
int RestoreScanResult(const std::string& path, IProgress* progress, const std::string& ediPath,
                      IResultDeviceCatalogue* catalogue, IResultScanRunner* runner);

// The same on a detached thread: 0 when started; -1 for a missing argument,
// -2 when no thread could be made, -3 while another save, load or scan
// holds the busy flag. The arguments must outlive the thread; the paths are
// copied. The flag is free again before the finishing record reaches
// `progress` (its last report), so a save or load begun on it may start.
int DoSaveScanResult(const char* path, IProgress* progress, IScanResultSource* source);
int DoRestoreScanResult(const char* path, IProgress* progress, const char* ediPath,
                        IResultDeviceCatalogue* catalogue, IResultScanRunner* runner);
// Waits for every save and load started by the two calls above; shutdown
// calls it (through the bridge's JoinBackgroundThreads).
void JoinResultFileThreads();

// The stored image records are checked before anything is opened by them:
// the path must name a regular file (never a device node) that the user
// who started the program may read, of the recorded size, and the geometry
// must fit it with a sector size of 512, 1024, 2048 or 4096.
bool CheckStoredDmgRecord(const CDMGDeviceInfoStruct& info);
bool CheckStoredEdiRecord(const CEDIDeviceInfoStruct& info, const std::string& ediPath);

// The live device that matches a stored device record, or null.
IStorageDevice* GetFromDiskVolumeData(const DiskVolumeRecord& record, const std::string& ediPath,
                                      const std::string& resultPath,
                                      IResultDeviceCatalogue* catalogue);

// ---------------------------------------------------------------------------
// Replay

// Replays the node frame of an open result file into a scan's tree
// builder. Whatever the file holds, each record is consumed whole or the
// replay ends; records that fail their checks are dropped and counted.
class CRestoreScanSink : public RestoreScanSink {
public:
    explicit CRestoreScanSink(IRSData* archive) : archive_(archive) {}
    ~CRestoreScanSink() override;
    CRestoreScanSink(const CRestoreScanSink&) = delete;
    CRestoreScanSink& operator=(const CRestoreScanSink&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                 IStorageDevice* device) override;
    std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int searcherType) override;
    int ClearMapCell();
    // The load's own progress, stepped as records are replayed and asked
    // whether to go on (may be null).
    void SetLoadProgress(IProgress* progress) { loadProgress_ = progress; }
    // The file's valid data lengths (ReadValidLengths), given to the nodes
    // of the records they name; without them every node is valid to its size.
    void SetValidLengths(std::vector<ValidLengthEntry> entries) {
        validLengths_ = std::move(entries);
    }

    struct Outcome {
        long long rootsInFile = 0;
        long long rootsRead = 0;
        long long rootsReplayed = 0;
        long long nodesReplayed = 0;
        long long recordsDropped = 0;  // failed their checks
        bool damaged = false;          // the frame could not be read to its end
        bool stopped = false;          // the progress sink asked to stop
        bool ran = false;
    };
    const Outcome& GetOutcome() const { return outcome_; }
    // The partition records kept for replayed roots, by searcher type.
    const std::map<int, std::vector<CSearchedPartitionInfo*>>& Partitions() const {
        return partitions_;
    }

private:
    IRSData* archive_;
    IProgress* loadProgress_ = nullptr;
    std::vector<ValidLengthEntry> validLengths_;
    std::map<int, std::vector<CSearchedPartitionInfo*>> partitions_;
    Outcome outcome_;
};

}  // namespace SaveRestoreResult
