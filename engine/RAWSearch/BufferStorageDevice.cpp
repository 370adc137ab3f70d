#include "BufferStorageDevice.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "CheckedMath.h"

bool CBufferStorageDevice::InitBufferDevice(IStorageDevice* device, unsigned long long startSector,
                                            unsigned sectorSize, unsigned sectorsPerBlock,
                                            unsigned blocks) {
    m_initialised = false;
    m_ring.reset();
    m_device = device;
    m_sectorSize = sectorSize != 0 ? sectorSize : 512;
    m_sectorsPerBlock = sectorsPerBlock;
    m_blocks = blocks;
    m_start = startSector;
    m_held = 0;
    m_writePos = 0;
    uint64_t capacity = 0;
    uint64_t bytes = 0;
    if (!vk::CheckedMul<uint64_t>(sectorsPerBlock, blocks, &capacity) || capacity == 0 ||
        capacity > UINT32_MAX || !vk::CheckedMul<uint64_t>(capacity, m_sectorSize, &bytes)) {
        m_capacity = 0;
        return false;
    }
    m_capacity = static_cast<unsigned>(capacity);
    m_ring.reset(new (std::nothrow) uint8_t[bytes]());
    if (!m_ring)
        return false;
    m_initialised = true;
    return true;
}

int CBufferStorageDevice::Close() {
    m_ring.reset();
    m_initialised = false;
    m_held = 0;
    return 1;
}

void CBufferStorageDevice::AddBlockToBuffer(const uint8_t* block, unsigned long long firstSector) {
    if (!m_initialised || block == nullptr)
        return;
    if (m_held != 0 && firstSector != m_start + m_held) {
        m_held = 0;
        m_writePos = 0;
    }
    if (m_held == 0)
        m_start = firstSector;
    std::memcpy(m_ring.get() + static_cast<size_t>(m_writePos) * m_sectorSize, block,
                static_cast<size_t>(m_sectorsPerBlock) * m_sectorSize);
    m_writePos = (m_writePos + m_sectorsPerBlock) % m_capacity;
    if (m_held == m_capacity)
        m_start += m_sectorsPerBlock;
    else
        m_held += m_sectorsPerBlock;
}

int CBufferStorageDevice::ReadSector(void* buffer, long long firstSector, long long count) {
    if (!m_initialised || buffer == nullptr || firstSector < 0 || count <= 0)
        return 0;
    const unsigned long long first = static_cast<unsigned long long>(firstSector);
    const unsigned long long n = static_cast<unsigned long long>(count);
    if (first >= m_start && n <= m_held && first - m_start <= m_held - n) {
        const unsigned oldest = m_held == m_capacity ? m_writePos : 0;
        unsigned long long slot = (oldest + (first - m_start)) % m_capacity;
        auto* out = static_cast<uint8_t*>(buffer);
        unsigned long long left = n;
        while (left != 0) {
            const unsigned long long run = std::min<unsigned long long>(left, m_capacity - slot);
            std::memcpy(out, m_ring.get() + slot * m_sectorSize,
                        static_cast<size_t>(run * m_sectorSize));
            out += run * m_sectorSize;
            left -= run;
            slot = 0;
        }
        return 1;
    }
    return m_device != nullptr ? m_device->ReadSector(buffer, firstSector, count) : 0;
}
