// The deep-scan searcher that carves files by their content. The complete
// scan controller offers it every block of the device; for each sector it
// asks the analyser registry whether a file starts there, keeps the
// candidates it finds, streams the following sectors to the candidates that
// size themselves, sizes the others later from a ring of recent blocks or
// from the device, and hands every sized candidate to the file manager of
// its category, which files it in the two carved-file trees.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <vector>

#include "BufferStorageDevice.h"
#include "RawFileInfo.h"
#include "RawFileManager.h"
#include "SearchInterfaces.h"

class TBitmap;

class CRAWSearchController : public ICompleteFileSystemSearchController {
public:
    // Streaming candidates open at once; the next one evicts the oldest.
    static constexpr size_t kMaxOpen = 32;
    // Blocks the ring keeps for sizing pending candidates from memory.
    static constexpr unsigned kRingBlocks = 20;
    // A failed block read is retried in pieces of this many sectors; the
    // pieces that still fail read as zeros.
    static constexpr long long kSalvageSectors = 64;

    CRAWSearchController() = default;
    ~CRAWSearchController() override;
    CRAWSearchController(const CRAWSearchController&) = delete;
    CRAWSearchController& operator=(const CRAWSearchController&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // One record for the whole device, one sector per cluster from sector 0.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int sectorsPerBlock) override;
    void PreparetoSearch() override;
    void EndSearch(int build) override;
    void AnalyzeBlock(long long firstSector, long long sectorCount) override;
    void SetIProgressSink(IProgress* progress) override;
    void SetBitmap(TBitmap* bitmap) override { m_bitmap = bitmap; }
    void SetFileSectorMap(FileSectorMap* map) override { m_sectorMap = map; }
    TBitmap* GetBitmap() override { return m_bitmap; }

    // For tests: candidates streaming, waiting for a whole-file size, and
    // kept in the list of sized or streaming ones.
    size_t OpenCount() const { return m_open.size(); }
    size_t PendingCount() const { return m_pending.size(); }
    size_t KeptCount() const { return m_kept.size(); }

private:
    using Owned = std::unique_ptr<CRawFileInfo>;
    struct OpenEntry {
        CRawFileInfo* info;
        std::list<Owned>::iterator kept;
    };

    bool ReadBlock(uint8_t* into, long long first, long long count);
    void Place(Owned candidate, unsigned char* sector, long long sectorNumber);
    void Stream(unsigned char* sector, long long sectorNumber, CRawFileInfo::SearchContext& context,
                CRawFileInfo* found);
    void SizePendingFromRing();
    // Hands the candidate to its category's manager; false when it has none
    // or nothing is left of it on the device.
    bool GiveToManager(CRawFileInfo& candidate);
    CRAWFileManager* ManagerFor(RAW_FILE_TYPE type);

    std::map<int, std::unique_ptr<CRAWFileManager>> m_managers;
    IStorageDevice* m_device = nullptr;
    unsigned m_sectorsPerBlock = 0;
    IDirecotryTreeBuilder* m_builder = nullptr;
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
};

// The signature search as the engine creates it.
ICompleteFileSystemSearchController* CreateRAWSearcher();

// Whether an analyser recognises the start of a file in this sector (the
// FAT walker checks guessed first clusters of deleted files with it): a key
// of the four-byte map, or an analyser of the two-byte map or of the list
// that accepts the sector. 1 or 0.
int RawSearchTestFileStart(const unsigned char* sector, unsigned length);
