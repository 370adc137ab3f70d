#include "StorageDeviceWithCache.h"
#include "SectorSize.h"
#include "platform/HeapPages.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <system_error>

namespace {

constexpr size_t kMaxBlockBytes = size_t{1} << 30;
// Spare block buffers kept for reuse: enough for every block that can be
// out at once (read ahead, current, lent to the signature search), so that
// a steady walk never frees a buffer and faults a fresh one in.
constexpr size_t kSpareBlocks = 24;

}  // namespace

CStorageDeviceWithCache::CStorageDeviceWithCache(IStorageDevice* inner) : m_inner(inner) {
    Open(nullptr);
    SetBlockSize(1000);
}

CStorageDeviceWithCache::~CStorageDeviceWithCache() {
    EndCache();
}

int CStorageDeviceWithCache::Open(char*) {
    return m_inner != nullptr ? 1 : 0;
}
int CStorageDeviceWithCache::Close() {
    return m_inner != nullptr ? 1 : 0;
}
int CStorageDeviceWithCache::GetSectorSize() {
    return m_inner != nullptr ? m_inner->GetSectorSize() : static_cast<int>(vk::kDefaultSectorSize);
}
long long CStorageDeviceWithCache::GetTotalSectors() {
    return m_inner != nullptr ? m_inner->GetTotalSectors() : 0;
}
int CStorageDeviceWithCache::IOCtl(unsigned long long, void*) {
    return 0;
}

int CStorageDeviceWithCache::SetBlockSize(unsigned int sectors) {
    EndCache();
    {
        std::lock_guard<std::mutex> current(m_curLock);
        m_cur.reset();
    }
    // Buffers of the old size may still come back from lent blocks: they go
    // to the old pool, never to this one.
    m_pool.reset();
    m_blockSize = 0;
    m_blockBytes = 0;
    m_sectorSize = static_cast<int>(
        vk::NormaliseSectorSize(static_cast<uint64_t>(std::max(GetSectorSize(), 0))));
    size_t bytes = static_cast<size_t>(sectors) * static_cast<size_t>(m_sectorSize);
    if (bytes > kMaxBlockBytes)
        return 0;
    m_blockSize = sectors;
    m_blockBytes = bytes;
    if (bytes == 0)
        return 1;
    m_pool = std::make_shared<Pool>(bytes);
    // One block must fit in memory, or the scan cannot start.
    std::unique_ptr<uint8_t[]> first = m_pool->Take();
    if (!first) {
        m_pool.reset();
        m_blockSize = 0;
        m_blockBytes = 0;
        return 0;
    }
    m_pool->Give(std::move(first));
    return 1;
}

std::unique_ptr<uint8_t[]> CStorageDeviceWithCache::Pool::Take() {
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!spare.empty()) {
            std::unique_ptr<uint8_t[]> data = std::move(spare.back());
            spare.pop_back();
            return data;
        }
    }
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[bytes]);
    if (data)
        made.fetch_add(1, std::memory_order_relaxed);
    return data;
}

void CStorageDeviceWithCache::Pool::Give(std::unique_ptr<uint8_t[]> data) {
    if (!data)
        return;
    std::lock_guard<std::mutex> guard(lock);
    // A few spares: the read-ahead thread takes them back at once, and each
    // fresh block buffer costs the first touch of 4 MiB.
    if (spare.size() < kSpareBlocks)
        spare.push_back(std::move(data));
}

void CStorageDeviceWithCache::Pool::Clear() {
    std::lock_guard<std::mutex> guard(lock);
    spare.clear();
}

size_t CStorageDeviceWithCache::BlockBuffersMade() const {
    return m_pool ? m_pool->made.load(std::memory_order_relaxed) : 0;
}

long long CStorageDeviceWithCache::BlockCount() {
    long long total = GetTotalSectors();
    if (m_blockSize == 0 || total <= 0)
        return 0;
    return total / m_blockSize + (total % m_blockSize != 0 ? 1 : 0);
}

bool CStorageDeviceWithCache::IsBlockInValidRange(long long k) {
    return m_blockSize != 0 && k >= 0 && k < BlockCount();
}

bool CStorageDeviceWithCache::IsNeedCatchBuffer() {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queue.empty();
}

bool CStorageDeviceWithCache::ReadInner(void* buffer, long long first, long long count) {
    std::lock_guard<std::mutex> lock(m_innerLock);
    return m_inner->ReadSector(buffer, first, count) != 0;
}

bool CStorageDeviceWithCache::ReadBlockInto(uint8_t* data, long long first, long long count) {
    bool ok = ReadInner(data, first, count);
    const size_t held = static_cast<size_t>(count) * static_cast<size_t>(m_sectorSize);
    if (!ok) {
        std::memset(data, 0, m_blockBytes);
    } else if (held < m_blockBytes) {
        // The last block is shorter: what lies past the device end must not
        // be the previous block's bytes.
        std::memset(data + held, 0, m_blockBytes - held);
    }
    return ok;
}

bool CStorageDeviceWithCache::WillProduceLocked() const {
    return m_threadActive && m_running && (m_reading || m_nextSector < m_inner->GetTotalSectors());
}

int CStorageDeviceWithCache::BeginCache() {
    EndCache();
    std::unique_lock<std::mutex> lock(m_queueLock);
    m_running = true;
    m_nextSector = 0;
    if (m_inner == nullptr || m_blockBytes == 0 || !m_pool)
        return 1;
    const long long total = m_inner->GetTotalSectors();
    // Fresh memory costs its first touch: faulted in one page at a time
    // under the read-ahead thread's reads it would slow the thread the walk
    // waits on. The buffers for the first blocks, and as many again for the
    // blocks that are out of the queue meanwhile (the current one, the one
    // being read, those lent to searchers), are made present together, on a
    // few threads, before the walk starts; the second half waits in the pool.
    const long long wanted = std::min<long long>(2LL * m_blocksAhead, BlockCount());
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    std::vector<std::pair<void*, size_t>> fresh;
    while (static_cast<long long>(buffers.size()) < wanted) {
        std::unique_ptr<uint8_t[]> data = m_pool->Take();
        if (!data)
            break;
        fresh.emplace_back(data.get(), m_blockBytes);
        buffers.push_back(std::move(data));
    }
    lock.unlock();
    velmora::platform::PrefaultPages(fresh);
    while (buffers.size() > static_cast<size_t>(m_blocksAhead)) {
        m_pool->Give(std::move(buffers.back()));
        buffers.pop_back();
    }
    lock.lock();
    for (std::unique_ptr<uint8_t[]>& data : buffers) {
        Block block;
        block.data = std::move(data);
        block.first = m_nextSector;
        block.count = std::min<long long>(m_blockSize, total - m_nextSector);
        m_nextSector += block.count;
        lock.unlock();
        block.ok = ReadBlockInto(block.data.get(), block.first, block.count);
        lock.lock();
        m_queue.push_back(std::move(block));
    }
    m_threadActive = true;
    try {
        m_thread = std::thread(&CStorageDeviceWithCache::CacheThread, this);
    } catch (const std::system_error&) {
        // Without the thread the queued blocks are served and the rest is
        // read directly as each block is taken.
        m_threadActive = false;
    }
    return 1;
}

void CStorageDeviceWithCache::CacheThread() {
    std::unique_lock<std::mutex> lock(m_queueLock);
    while (true) {
        m_needData.wait(lock, [this] {
            return !m_running || (static_cast<int>(m_queue.size()) < m_blocksAhead &&
                                  m_nextSector < m_inner->GetTotalSectors());
        });
        if (!m_running)
            break;
        Block block;
        block.data = m_pool->Take();
        if (!block.data)
            break;
        block.first = m_nextSector;
        block.count = std::min<long long>(m_blockSize, m_inner->GetTotalSectors() - m_nextSector);
        m_nextSector += block.count;
        m_reading = true;
        lock.unlock();
        block.ok = ReadBlockInto(block.data.get(), block.first, block.count);
        lock.lock();
        m_reading = false;
        m_queue.push_back(std::move(block));
        m_dataReady.notify_all();
    }
    m_reading = false;
    m_threadActive = false;
    m_dataReady.notify_all();
}

int CStorageDeviceWithCache::SetCurCacheBlock(long long k) {
    if (m_inner == nullptr || m_blockSize == 0 || !IsBlockInValidRange(k))
        return 0;
    const long long first = k * static_cast<long long>(m_blockSize);
    const long long count = std::min<long long>(m_blockSize, GetTotalSectors() - first);
    if (!m_pool)
        return 1;

    Block taken;
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        while (true) {
            // Blocks before k were skipped by the caller: drop them.
            while (!m_queue.empty() && m_queue.front().first < first) {
                m_pool->Give(std::move(m_queue.front().data));
                m_queue.pop_front();
                m_needData.notify_all();
            }
            if (!m_queue.empty()) {
                if (m_queue.front().first == first && m_queue.front().count == count) {
                    taken = std::move(m_queue.front());
                    m_queue.pop_front();
                    m_needData.notify_all();
                }
                break;
            }
            if (!WillProduceLocked())
                break;
            m_needData.notify_all();
            m_dataReady.wait(lock, [this] { return !m_queue.empty() || !WillProduceLocked(); });
        }
    }
    if (!taken.data) {
        // Not read ahead (the queue was ahead of k, or read-ahead is not
        // running): read the block now rather than serve another block's
        // bytes under its number. A new buffer: the current one may be lent.
        taken.data = m_pool->Take();
        if (!taken.data) {
            std::shared_ptr<CachedBlock> old;
            std::lock_guard<std::mutex> current(m_curLock);
            old = std::move(m_cur);
            return 0;
        }
        taken.ok = ReadBlockInto(taken.data.get(), first, count);
    }
    // The block's buffer goes back to the pool when its last holder lets go.
    uint8_t* data = taken.data.release();
    std::shared_ptr<CachedBlock> block(new CachedBlock{data, first, count, taken.ok},
                                       [pool = m_pool, data](CachedBlock* held) {
                                           delete held;
                                           pool->Give(std::unique_ptr<uint8_t[]>(data));
                                       });
    std::shared_ptr<CachedBlock> old;
    {
        std::lock_guard<std::mutex> current(m_curLock);
        old = std::move(m_cur);
        m_cur = std::move(block);
    }
    return 1;
}

int CStorageDeviceWithCache::EndCache() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_running = false;
        m_needData.notify_all();
        m_dataReady.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_queue.clear();
    if (m_pool)
        m_pool->Clear();
    return 1;
}

const uint8_t* CStorageDeviceWithCache::PeekCurrentBlock(long long* first, long long* count) {
    std::lock_guard<std::mutex> current(m_curLock);
    if (!m_cur || !m_cur->ok || !first || !count)
        return nullptr;
    *first = m_cur->first;
    *count = m_cur->count;
    return m_cur->data;
}

std::shared_ptr<const CachedBlock> CStorageDeviceWithCache::LendCurrentBlock() {
    std::lock_guard<std::mutex> current(m_curLock);
    return m_cur;
}

int CStorageDeviceWithCache::ReadSector(void* buffer, long long firstSector, long long count) {
    if (m_inner == nullptr)
        return 0;
    const long long ssz = GetSectorSize();
    if (buffer == nullptr || firstSector < 0 || count <= 0 || ssz <= 0 || count > LLONG_MAX / ssz ||
        firstSector > LLONG_MAX - count) {
        return 0;
    }
    std::lock_guard<std::mutex> current(m_curLock);
    // A block whose read failed is not served from memory: the inner device
    // reports the failure (and its bad-sector event) again.
    if (!m_cur || !m_cur->ok)
        return ReadInner(buffer, firstSector, count) ? 1 : 0;

    auto* out = static_cast<uint8_t*>(buffer);
    const long long start = m_cur->first;
    const long long end = m_cur->first + m_cur->count;
    long long done = 0;
    int result = 1;
    if (firstSector < start) {
        long long n = std::min(count, start - firstSector);
        result = ReadInner(out, firstSector, n) ? 1 : 0;
        done = n;
        if (done == count)
            return result;
    }
    long long pos = firstSector + done;
    if (pos >= start && pos < end) {
        long long n = std::min(firstSector + count, end) - pos;
        std::memcpy(out + done * ssz, m_cur->data + (pos - start) * ssz,
                    static_cast<size_t>(n * ssz));
        done += n;
        if (done == count)
            return result;
    }
    if (!ReadInner(out + done * ssz, firstSector + done, count - done))
        return 0;
    return result;
}

IDeviceCache* CreateStorageDeviceWithCache(IStorageDevice* inner) {
    return new CStorageDeviceWithCache(inner);
}
