// The contracts between the scan controllers, the searchers and recognisers
// of each file system, and the caller that runs a scan: progress flows back
// through one fixed-size record, found trees through one receiver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "EngineTypes.h"
#include "ResultCode.h"

class IStorageDevice;
class IFileNode;
class IFilesystemNode;
class IRecoveryFilter;
class CSearchedPartitionInfo;
class TBitmap;

enum PROGRESS_STATUS : int32_t {
    PROGRESS_PREPARING = 0,  // a deep scan's first record: only the total is set
    PROGRESS_REFRESH = 1,    // carries no new counts
    PROGRESS_RUNNING = 2,
    PROGRESS_FINISHED = 3,
};

// The progress record; a sender clears it whole before filling it and the
// receiver copies it.
struct _PROGRESS_INFO {
    int32_t state;
    int64_t total;  // units announced: blocks of a deep scan, 1 for a quick
                    // scan's start and end, bytes for a recovery
    int64_t done;
    uint64_t result;  // a result code, 0 when none
    uint8_t reserved[4096];
};
static_assert(sizeof(_PROGRESS_INFO) == 4128);
static_assert(offsetof(_PROGRESS_INFO, total) == 8);
static_assert(offsetof(_PROGRESS_INFO, done) == 16);
static_assert(offsetof(_PROGRESS_INFO, result) == 24);
static_assert(offsetof(_PROGRESS_INFO, reserved) == 32);

// Implemented by the caller of a scan or a recovery.
class IProgress {
public:
    virtual ~IProgress() = default;
    virtual void UpdateProgress(_PROGRESS_INFO* info) = 0;
    // Non-zero to go on; 0 asks the work to stop at the next unit.
    virtual int Continued() = 0;
    // Non-zero when a deep scan's searchers shall build their trees at its end.
    virtual int shouldBuild() = 0;
};

// Receiver of found trees (implemented by the caller).
class IDrirectoryTree {
public:
    virtual ~IDrirectoryTree() = default;
    // A batch of nodes; `lost` is 1 for the batch of files whose folder was
    // not found.
    virtual void ShowNodes(IFileNode** nodes, unsigned count, int lost) = 0;
    // The root of one result tree, once, before its first batch.
    virtual void ShowFilesystemNode(IFilesystemNode* root) = 0;
    // The lock under which the receiver's other threads walk the nodes it
    // was handed (their child lists, marks and sizes); null when nothing
    // reads them off the scan's thread. The tree builder holds it whenever
    // it changes nodes it may have handed over, and never while it calls
    // the receiver or reads a device.
    virtual std::mutex* GetTreeLock() { return nullptr; }
};

// The tree builder every searcher of a scan feeds.
class IDirecotryTreeBuilder {
public:
    virtual ~IDirecotryTreeBuilder() = default;
    // 0 when an argument is null.
    virtual int Initialize(const char* deviceName, IDrirectoryTree* receiver,
                           IRecoveryFilter* filter) = 0;
    // 1 when the builder takes (and from then on owns) the node, 0 when it
    // refuses it; a refused node stays the caller's.
    virtual int AddNode(IFileNode* node, _tagSearcherType type) = 0;
    virtual int AddSearcherInfo(_tagSearcherType type, long long rootId) = 0;
    virtual void FlashBuild(_tagSearcherType type) = 0;
    virtual void Release() = 0;
    // The record may be null.
    virtual void SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) = 0;
    // A volume a deep search found: the nodes of `type` that carry
    // `partitionIndex` and sit at their volume's top are shown under a
    // folder of their own, named by `label`, or by `fileSystem` and
    // `byteOffset` when the label is empty (or another volume of the tree
    // has it). Call it before the volume's first node.
    virtual void AddVolume(_tagSearcherType type, unsigned short partitionIndex, const char* label,
                           const char* fileSystem, long long byteOffset) {
        (void)type, (void)partitionIndex, (void)label, (void)fileSystem, (void)byteOffset;
    }
};

// The id of a deep scan's volume folders (one per volume, told apart by
// their partition index); no file system gives a node this id.
constexpr long long kVolumeFolderNodeId = -0x564F4C554D45LL;

// A new tree builder; `replay` when its nodes come from a saved result file
// rather than from a scan. Released through Release().
IDirecotryTreeBuilder* CreateTreeBuilder(bool replay);

// What the builder asks of its surroundings; tests replace them.
struct TreeBuilderHooks {
    // Seconds on a steady clock.
    std::function<double()> now;
    // Called with 1 after a tree's root is handed over, before its first
    // batch, so that the receiver can set the tree up.
    std::function<void(unsigned seconds)> sleep;
    // The home folder of the user who started the program, matched against
    // the paths of ".Trash" folders.
    std::function<std::string()> userHome;
};

// The default hooks: the steady clock, a real sleep, InvokingUserHome().
TreeBuilderHooks DefaultTreeBuilderHooks();

// A tree builder with the given hooks (an empty hook falls back to its
// default).
IDirecotryTreeBuilder* CreateTreeBuilder(bool replay, TreeBuilderHooks hooks);

class IFileSystemSearchController {
public:
    virtual void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) = 0;
    // With a null array: the number of partitions found. With a capacity
    // below that number: the number, nothing filled. Otherwise fills the
    // array with new records the caller owns and returns how many.
    virtual int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) = 0;
    virtual ~IFileSystemSearchController() = default;
};

class IQuickFileSystemSearchController : public IFileSystemSearchController {
public:
    ~IQuickFileSystemSearchController() override = default;
    // Walks the live file system, hands every node to the tree builder and
    // reports its own progress. Once it has started walking it ends through
    // FinishQuickSearch, whatever the outcome; the controller sends the
    // finished record itself for a search that did not.
    virtual VKRESULT QuickSearchFiles(IStorageDevice* volume, IProgress* progress) = 0;
};

// The end of a quick search, in one place: the partition it searched (may
// be null) goes to the builder, through which recycle-bin names are read;
// every tree of the searcher's row is finished; and the caller's sink gets
// the finished record with the search's last total and done counts and its
// result. (A deep scan ends the same way, split between each searcher's
// EndSearch, which finishes its trees, and the controller, which sends the
// record.) Any of builder and progress may be null.
void FinishQuickSearch(IDirecotryTreeBuilder* builder, _tagSearcherType type,
                       CSearchedPartitionInfo* partition, IStorageDevice* device,
                       IProgress* progress, int64_t total, int64_t done, VKRESULT result);

// Shared map of the FAT and signature deep searches: sector number to a
// 32-bit value they agree on.
using FileSectorMap = std::map<unsigned long long, unsigned int>;

// A deep searcher, fed the device block by block in ascending order.
class ICompleteFileSystemSearchController : public IFileSystemSearchController {
public:
    ~ICompleteFileSystemSearchController() override = default;
    virtual void SetDevice(IStorageDevice* device) = 0;
    virtual void SetBlockSize(int sectorsPerBlock) = 0;
    virtual void PreparetoSearch() = 0;
    // Finishes pending work; builds and hands over the trees when `build`.
    virtual void EndSearch(int build) { (void)build; }
    // Sectors [first, first + count), which the device has in its cache.
    virtual void AnalyzeBlock(long long firstSector, long long sectorCount) = 0;
    virtual void SetIProgressSink(IProgress* progress) { (void)progress; }
    virtual void SetBitmap(TBitmap* bitmap) { (void)bitmap; }
    virtual void SetFileSectorMap(FileSectorMap* map) { (void)map; }
    virtual TBitmap* GetBitmap() { return nullptr; }
    // Tells the HFS+ searcher that the device is a live HFS+ volume.
    virtual bool SetActivePartition(bool active) { return active; }
    // Whether the searcher may look at the blocks on a thread of its own
    // while the scan's thread reads on and serves the other searchers. Set
    // before PreparetoSearch; a searcher without such a thread ignores it.
    // What it finds is the same either way; its nodes reach the tree
    // builder on the scan's thread.
    virtual void SetBlocksOnOwnThread(bool on) { (void)on; }
    // After the last block (or a stop): waits until every block handed over
    // has been looked at and the searcher's thread has ended. EndSearch does
    // it too; the controller calls it for every searcher before any
    // EndSearch, since one searcher's end phase reads what another found.
    virtual void FinishBlocks() {}
};

namespace vk {

// Sends one progress record to `progress`, when there is one.
void SendProgress(IProgress* progress, int32_t state, int64_t total, int64_t done,
                  VKRESULT result = VK_OK);

// What the deep searchers keep of their set-up alike: the tree builder their
// nodes go to and the block size. Not copied. The fields are spelt as the
// searchers' own fields are, whose they were.
class DeepSearcherBase : public ICompleteFileSystemSearchController {
public:
    // `name` begins the log line of a refused block size.
    explicit DeepSearcherBase(const char* name = "deep search") : m_name(name) {}
    DeepSearcherBase(const DeepSearcherBase&) = delete;
    DeepSearcherBase& operator=(const DeepSearcherBase&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // A size below one sector is refused with a log line; the earlier one
    // stays.
    void SetBlockSize(int sectorsPerBlock) override;

protected:
    // Not owned; null until set.
    IDirecotryTreeBuilder* m_builder = nullptr;
    // Sectors per block; 0 until set.
    int m_blockSectors = 0;

private:
    const char* m_name;
};

}  // namespace vk

// A file system's recogniser for one volume or partition window.
class IVolumeAnalyze {
public:
    virtual ~IVolumeAnalyze() = default;
    // One of the FileSystemType codes; 10 when not recognised.
    virtual int GetFileSystemType() = 0;
    virtual long long GetTotalSector() = 0;
    // Copies the label (UTF-8, terminated) into the buffer; the length copied.
    virtual int GetLabel(char* buffer, int size) = 0;
};

// Helpers for both sides of GetSearchedPartitionInfo.
//
// Searcher side: answers a query for `found` partitions, calling make(i) for
// each record to hand out (the caller of the query owns what make returns;
// a null from make is skipped).
int AnswerSearchedPartitionQuery(int found, CSearchedPartitionInfo** out, int capacity,
                                 const std::function<CSearchedPartitionInfo*(int)>& make);

// Caller side: asks with room for 256 records and again with more room when
// the searcher has more; appends the records (now the caller's) to `out` and
// returns how many. A searcher whose count keeps changing is asked at most a
// few times.
int CollectSearchedPartitions(IFileSystemSearchController* searcher,
                              std::vector<CSearchedPartitionInfo*>& out);
