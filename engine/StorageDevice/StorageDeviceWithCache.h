// A device that reads the blocks of a deep scan ahead on a thread of its own
// while the searchers work on the current block, and serves reads inside the
// current block from memory.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "StorageDevices.h"

class CStorageDeviceWithCache : public IDeviceCache {
public:
    // The inner device is not owned and must outlive the cache.
    explicit CStorageDeviceWithCache(IStorageDevice* inner);
    ~CStorageDeviceWithCache() override;
    CStorageDeviceWithCache(const CStorageDeviceWithCache&) = delete;
    CStorageDeviceWithCache& operator=(const CStorageDeviceWithCache&) = delete;

    // Sectors per block (1000 after construction). Stops read-ahead that is
    // running; 0 when the block cannot be held in memory.
    int SetBlockSize(unsigned int sectors) override;
    unsigned int GetBlockSize() const override { return m_blockSize; }
    int BeginCache() override;
    // Makes block k current. Blocks are taken in order 0, 1, 2, ...; a block
    // that was not read ahead (a skipped or repeated one) is read directly.
    int SetCurCacheBlock(long long k) override;
    int EndCache() override;
    const uint8_t* PeekCurrentBlock(long long* first, long long* count) override;
    std::shared_ptr<const CachedBlock> LendCurrentBlock() override;
    bool IsNeedCatchBuffer();
    bool IsBlockInValidRange(long long k);
    // Block buffers allocated since the block size was last set (each one
    // fresh memory).
    size_t BlockBuffersMade() const;

    int Open(char* path) override;
    int Close() override;
    int ReadSector(void* buffer, long long firstSector, long long count) override;
    int GetSectorSize() override;
    long long GetTotalSectors() override;
    int IOCtl(unsigned long long code, void* arg) override;
    IStorageDeviceData* GetPrivateData() override { return m_privateData; }
    // Stored and returned unchanged; not owned.
    void SetPrivateData(IStorageDeviceData* data) override { m_privateData = data; }
    int GetType() override { return kDeviceCache; }
    VKRESULT GetLastError() override { return 0; }

private:
    struct Block {
        std::unique_ptr<uint8_t[]> data;
        long long first = 0;  // first sector held
        long long count = 0;  // sectors held; the rest of the buffer is zero
        bool ok = false;      // the inner device read them without error
    };

    // Block buffers not in use. A lent block gives its buffer back here
    // from whichever thread lets it go last; a pool outlives the cache while
    // a lent block of it is held.
    struct Pool {
        explicit Pool(size_t blockBytes) : bytes(blockBytes) {}
        std::unique_ptr<uint8_t[]> Take();
        void Give(std::unique_ptr<uint8_t[]> data);
        void Clear();
        const size_t bytes;
        std::atomic<size_t> made{0};
        std::mutex lock;
        std::vector<std::unique_ptr<uint8_t[]>> spare;
    };

    void CacheThread();
    long long BlockCount();
    // Reads `count` sectors at `first` into a block-sized buffer, zeroing the
    // rest of it and all of it on failure.
    bool ReadBlockInto(uint8_t* data, long long first, long long count);
    bool ReadInner(void* buffer, long long first, long long count);
    bool WillProduceLocked() const;

    IStorageDevice* m_inner;
    IStorageDeviceData* m_privateData = nullptr;
    std::shared_ptr<Pool> m_pool;
    // The current block; shared with whoever it was lent to.
    std::shared_ptr<CachedBlock> m_cur;
    unsigned int m_blockSize = 0;
    int m_sectorSize = 512;
    size_t m_blockBytes = 0;

    bool m_running = false;
    bool m_reading = false;
    bool m_threadActive = false;
    std::deque<Block> m_queue;
    long long m_nextSector = 0;
    int m_blocksAhead = 10;
    std::mutex m_queueLock;
    std::condition_variable m_dataReady;
    std::condition_variable m_needData;
    std::thread m_thread;
    // Reads of the inner device from the two threads, one at a time.
    std::mutex m_innerLock;
    // The current block: a searcher that looks at blocks on a thread of its
    // own may read through the cache while the scan's thread moves on to the
    // next block. Taken before m_innerLock.
    std::mutex m_curLock;
};
