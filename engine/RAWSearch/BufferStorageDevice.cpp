#include "BufferStorageDevice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "CheckedMath.h"
#include "platform/HeapPages.h"

bool CBufferStorageDevice::InitBufferDevice(IStorageDevice* device, unsigned long long startSector,
                                            unsigned sectorSize, unsigned sectorsPerBlock,
                                            unsigned blocks, size_t slackBytes) {
    m_initialised = false;
    m_ring.reset();
    m_device = device;
    m_sectorSize = sectorSize != 0 ? sectorSize : 512;
    m_sectorsPerBlock = sectorsPerBlock;
    m_blocks = blocks;
    m_start = startSector;
    m_held = 0;
    m_heldSlots.clear();
    m_newestSlot = 0;
    m_placedSlot = 0;
    m_slackBytes = slackBytes;
    uint64_t capacity = 0;
    uint64_t blockBytes = 0;
    if (!vk::CheckedMul<uint64_t>(sectorsPerBlock, blocks, &capacity) || capacity == 0 ||
        capacity > UINT32_MAX ||
        !vk::CheckedMul<uint64_t>(sectorsPerBlock, m_sectorSize, &blockBytes)) {
        m_capacity = 0;
        return false;
    }
    m_capacity = static_cast<unsigned>(capacity);
    m_blockBytes = static_cast<size_t>(blockBytes);
    // The front slot, the blocks held, and free slots for the zeros before a
    // placed block, the block itself and the zeros after it.
    const uint64_t slackSlots = (slackBytes + blockBytes - 1) / blockBytes;
    const uint64_t slots = 1 + uint64_t{blocks} + 2 + slackSlots;
    uint64_t bytes = 0;
    if (slots > UINT32_MAX || !vk::CheckedMul<uint64_t>(slots, blockBytes, &bytes) ||
        !vk::CheckedAdd<uint64_t>(bytes, slackBytes, &bytes) || bytes > SIZE_MAX) {
        m_capacity = 0;
        return false;
    }
    m_slotCount = static_cast<unsigned>(slots);
    // calloc, not a zero-filled new: the ring is a hundred MiB or more that
    // the system hands over as zero pages, where filling it first cost a
    // scan a seventh of its time on a card; slots are touched as blocks land.
    m_ring.reset(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(bytes), 1)));
    if (!m_ring)
        return false;
    // Zero pages until first written: the placing thread would fault them in
    // one by one while the whole scan waits for its first blocks.
    velmora::platform::PrefaultPages({{m_ring.get(), static_cast<size_t>(bytes)}});
    m_initialised = true;
    return true;
}

int CBufferStorageDevice::Close() {
    m_ring.reset();
    m_initialised = false;
    m_held = 0;
    m_heldSlots.clear();
    return 1;
}

uint8_t* CBufferStorageDevice::PlaceBlock(unsigned long long firstSector) {
    if (!m_initialised)
        return nullptr;
    const bool follows = Follows(firstSector);
    const unsigned slot = SlotFor(m_held != 0, follows, m_newestSlot);
    if (follows) {
        if (slot == 1)
            std::memcpy(Slot(0), Slot(m_newestSlot), m_blockBytes);
    } else if (slot != 1) {
        std::memset(Slot(m_newestSlot + 1), 0, m_blockBytes);
    } else {
        // Slot 1 is free here, and slot 0 holds no block of its own.
        std::memset(Slot(0), 0, m_blockBytes);
    }
    std::memset(Slot(slot) + m_blockBytes, 0, m_slackBytes);
    m_placedSlot = slot;
    return Slot(slot);
}

unsigned CBufferStorageDevice::SlotFor(bool held, bool follows, unsigned newestSlot) const {
    // Blocks take slots 1 .. last in turn; the slots after the newest are
    // free. A block that follows the newest in the last slot starts again
    // at slot 1, the newest copied in front of it; one that does not follow
    // gets a slot of zeros before it.
    const unsigned last = m_slotCount - 1;
    if (follows)
        return newestSlot < last ? newestSlot + 1 : 1;
    if (held && newestSlot + 2 <= last)
        return newestSlot + 2;
    return 1;
}

void CBufferStorageDevice::AddPlacedBlock(unsigned long long firstSector) {
    if (!m_initialised || m_placedSlot == 0)
        return;
    if (!Follows(firstSector)) {
        m_held = 0;
        m_heldSlots.clear();
    }
    if (m_held == 0)
        m_start = firstSector;
    m_heldSlots.push_back(m_placedSlot);
    m_newestSlot = m_placedSlot;
    m_placedSlot = 0;
    if (m_heldSlots.size() > m_blocks) {
        m_heldSlots.pop_front();
        m_start += m_sectorsPerBlock;
    } else {
        m_held += m_sectorsPerBlock;
    }
}

void CBufferStorageDevice::AddBlockToBuffer(const uint8_t* block, unsigned long long firstSector) {
    if (!m_initialised || block == nullptr)
        return;
    std::memcpy(PlaceBlock(firstSector), block, m_blockBytes);
    AddPlacedBlock(firstSector);
}

int CBufferStorageDevice::ReadSector(void* buffer, long long firstSector, long long count) {
    if (!m_initialised || buffer == nullptr || firstSector < 0 || count <= 0)
        return 0;
    const unsigned long long first = static_cast<unsigned long long>(firstSector);
    const unsigned long long n = static_cast<unsigned long long>(count);
    if (first >= m_start && n <= m_held && first - m_start <= m_held - n) {
        auto* out = static_cast<uint8_t*>(buffer);
        unsigned long long at = first - m_start;
        unsigned long long left = n;
        while (left != 0) {
            const unsigned long long within = at % m_sectorsPerBlock;
            const unsigned long long run =
                std::min<unsigned long long>(left, m_sectorsPerBlock - within);
            std::memcpy(out,
                        Slot(m_heldSlots[static_cast<size_t>(at / m_sectorsPerBlock)]) +
                            within * m_sectorSize,
                        static_cast<size_t>(run * m_sectorSize));
            out += run * m_sectorSize;
            at += run;
            left -= run;
        }
        return 1;
    }
    return m_device != nullptr ? m_device->ReadSector(buffer, firstSector, count) : 0;
}
