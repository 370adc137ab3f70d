// The deep-scan searcher that carves files by their content. The complete
// scan controller offers it every block of the device; for each sector it
// asks the analyser registry whether a file starts there, keeps the
// candidates it finds, streams the following sectors to the candidates that
// size themselves, sizes the others later from a ring of recent blocks or
// from the device, and hands every sized candidate to the file manager of
// its category, which files it in the two carved-file trees.
//
// In a deep scan it may do all that on a thread of its own
// (SetBlocksOnOwnThread): the scan's thread reads each block straight into
// the ring slot it will take, one block ahead, and files what the search
// thread sized with the managers; the search thread sees the same blocks,
// in the same order, as the scan's thread would have, so it finds the same
// files and hands them over in the same order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "BufferStorageDevice.h"
#include "RawFileInfo.h"
#include "RawFileManager.h"
#include "SearchInterfaces.h"
#include "StorageDevices.h"

class TBitmap;

class CRAWSearchController : public vk::DeepSearcherBase {
public:
    // Streaming candidates open at once; the next one evicts the oldest.
    static constexpr size_t kMaxOpen = 32;
    // Blocks the ring keeps for sizing pending candidates from memory.
    static constexpr unsigned kRingBlocks = 20;
    // A failed block read is retried in pieces of this many sectors; the
    // pieces that still fail read as zeros.
    static constexpr long long kSalvageSectors = 64;
    // Lent blocks handed over and not yet placed: the scan's thread goes on
    // with the next blocks meanwhile.
    static constexpr size_t kLentAhead = 4;

    CRAWSearchController() = default;
    ~CRAWSearchController() override;

    // One record for the whole device, one sector per cluster from sector 0.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectorsPerBlock) override;
    void PreparetoSearch() override;
    void EndSearch(int build) override;
    void AnalyzeBlock(long long firstSector, long long sectorCount) override;
    void SetBlocksOnOwnThread(bool on) override { m_wantThread = on; }
    void FinishBlocks() override;
    void SetIProgressSink(IProgress* progress) override;
    void SetBitmap(TBitmap* bitmap) override { m_bitmap = bitmap; }
    void SetFileSectorMap(FileSectorMap* map) override { m_sectorMap = map; }
    TBitmap* GetBitmap() override { return m_bitmap; }

    // For tests: candidates streaming, waiting for a whole-file size, and
    // kept in the list of sized or streaming ones.
    // (With a search thread, after the blocks handed over are looked at.)
    size_t OpenCount() {
        WaitIdle();
        return m_open.size();
    }
    size_t PendingCount() {
        WaitIdle();
        return m_pending.size();
    }
    size_t KeptCount() {
        WaitIdle();
        return m_kept.size();
    }
    // For tests: whether the search thread runs, whether it waits for a
    // block with none handed over, and waiting until it does.
    bool HasSearchThread() const { return m_threaded; }
    bool SearchThreadIdle() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_toPlace.empty() && !m_placing && m_jobs.empty() && !m_busy;
    }
    void WaitIdle();

private:
    using Owned = std::unique_ptr<CRawFileInfo>;
    struct OpenEntry {
        CRawFileInfo* info;
        std::list<Owned>::iterator kept;
    };

    // A block as the search looks at it: where it lies in the ring, whether
    // the block before it lies just before it, and which of its units the
    // scan's bitmap marked (taken when it was handed over).
    struct BlockJob {
        long long first = 0;
        long long count = 0;
        bool previous = false;
        uint8_t* upper = nullptr;   // its slot, as the ring will place it
        std::vector<uint8_t> head;  // its first bytes, written at placing
        // The cache's block it lies in, when the cache lent it: the placing
        // thread copies it into its slot, and nothing is read.
        std::shared_ptr<const CachedBlock> lent;
        std::vector<uint8_t> marks;  // one byte per unit from markFirst
        long long markFirst = 0;
        long long unit = 1;
    };
    // Sized candidates and sector notes, in the order the search made them,
    // for the scan's thread to file.
    struct Outgoing {
        std::unique_ptr<CRawFileInfo> file;  // a copy of the sized candidate
        unsigned long long sector = 0;       // without a file: a sector-map note
        unsigned type = 0;
    };

    bool ReadBlock(uint8_t* into, long long first, long long count);
    // Reads the block into its slot and its head; same salvage as ReadBlock.
    void ReadBlockSplit(uint8_t* slot, uint8_t* head, size_t headBytes, long long first,
                        long long count);
    void TakeMarks(BlockJob& job) const;
    // Looks at a block placed in the ring: every sector, then sizing from
    // the ring, then the block joins the ring.
    void LookAtBlock(const BlockJob& job);
    // Gives a sized candidate to its manager, or, on the search thread,
    // passes a copy on for the scan's thread to give.
    void HandOver(std::unique_ptr<CRawFileInfo> candidate);
    void NoteSector(long long sector, RAW_FILE_TYPE type);
    // Files what the search thread handed over (the scan's thread).
    void FileOutgoing();
    void SearchThread();
    // Copies lent blocks into their slots, in order, each once the search
    // thread has taken the block before it.
    void PlacerThread();
    // Fills the slot the ring will place the job's block in, but for its
    // head, from `bytes` (the block's) or, when null, from the device; on the
    // scan's thread or the placing thread, one of them at a time.
    void FillSlot(BlockJob& job, const uint8_t* bytes);
    void StartThread();
    void StopThread(bool file);
    void Place(Owned candidate, unsigned char* sector, long long sectorNumber);
    void Stream(unsigned char* sector, long long sectorNumber, CRawFileInfo::SearchContext& context,
                CRawFileInfo* found);
    void SizePendingFromRing();
    // Hands the candidate to its category's manager; false when it has none
    // or nothing is left of it on the device.
    bool GiveToManager(CRawFileInfo& candidate);
    // The first half of that, on the search's side: false when nothing is
    // left of it on the device, else its size cut at the device's end.
    bool FitToDevice(CRawFileInfo& candidate);
    // The second half, on the scan's thread.
    bool FileWithManager(CRawFileInfo& candidate);
    CRAWFileManager* ManagerFor(RAW_FILE_TYPE type);

    std::map<int, std::unique_ptr<CRAWFileManager>> m_managers;
    IStorageDevice* m_device = nullptr;
    IDeviceCache* m_cache = nullptr;  // m_device when it is the read-ahead cache
    unsigned m_sectorsPerBlock = 0;
    CBufferStorageDevice m_ring;
    std::list<Owned> m_kept;      // sized or streaming candidates
    std::deque<Owned> m_pending;  // waiting for their analyser's whole-file size
    std::vector<OpenEntry> m_open;
    FileSectorMap* m_sectorMap = nullptr;
    size_t m_blockBytes = 0;
    bool m_havePrevious = false;
    long long m_previousFirst = 0;
    TBitmap* m_bitmap = nullptr;
    int m_sectorSize = 512;
    bool m_prepared = false;
    bool m_ownsNotify = false;

    // The search thread and what it shares with the scan's thread.
    bool m_wantThread = false;
    bool m_threaded = false;       // the search thread runs (set on the scan's thread)
    long long m_totalSectors = 0;  // the device's, for the search thread
    std::thread m_worker;
    std::mutex m_lock;
    std::condition_variable m_wake;  // a block or the end for the search thread
    std::condition_variable m_idle;  // room, or the search thread idle
    // Placed in their slots, not yet taken by the search thread: at most one.
    std::deque<BlockJob> m_jobs;
    // Lent blocks waiting for the placing thread, at most kLentAhead.
    std::deque<BlockJob> m_toPlace;
    std::thread m_placer;
    std::condition_variable m_placeWake;  // a lent block or the end for the placer
    bool m_placerRuns = false;            // set on the scan's thread
    bool m_placing = false;               // the placer holds a block not yet handed on
    bool m_dropping = false;              // a stop: what is waiting is dropped
    std::vector<Outgoing> m_outgoing;
    bool m_busy = false;  // the search thread looks at a block
    bool m_closing = false;
    // What the scan's thread knows of the ring once the blocks handed over
    // are placed (the ring itself belongs to the search thread meanwhile).
    bool m_shadowHeld = false;
    unsigned m_shadowNewest = 0;
    long long m_shadowEnd = 0;
};

// The signature search as the engine creates it.
ICompleteFileSystemSearchController* CreateRAWSearcher();

// Whether an analyser recognises the start of a file in this sector (the
// FAT walker checks guessed first clusters of deleted files with it): a key
// of the four-byte map, or an analyser of the two-byte map or of the list
// that accepts the sector. 1 or 0.
int RawSearchTestFileStart(const unsigned char* sector, unsigned length);
